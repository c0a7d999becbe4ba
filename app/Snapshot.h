// Snapshot pictures: the full picture (the decoded frame at its own size)
// and the small picture (the preview area as shown, margins included), each
// as a 24-bit BMP and a JPEG, as the settings select. The main window's
// preview and the progress dialog both save through SaveSnapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

// The names of the first snapshot's four files.
constexpr const char* SnapshotFullBmp = "Snapshot_full.bmp";
constexpr const char* SnapshotSmallBmp = "Snapshot_small.bmp";
constexpr const char* SnapshotFullJpg = "Snapshot_full.jpg";
constexpr const char* SnapshotSmallJpg = "Snapshot_small.jpg";

// The four names of snapshot Number: the names above for 0, and for the
// later ones the number after "Snapshot_" ("Snapshot_2_small.jpg"), in the
// order full BMP, small BMP, full JPEG, small JPEG.
std::vector<std::string> SnapshotNames(int Number);
// The first number none of whose four names is an entry of Folder (a file,
// a folder, a link, even a dangling one), so that a snapshot keeps its four
// files together and never replaces an earlier one.
int FreeSnapshotNumber(const std::string& Folder);

// Saves the snapshot files selected by "snapFullSize", "snapSmallSize",
// "snapBmp" and "snapJpg" of the settings file (each selected only when it
// is exactly 1) into the folder "SnapOutPutDir" made to exist by
// EnsureFolder, with JPEG quality "jpgCmp", under the names of the first
// free snapshot number (FreeSnapshotNumber). A file is written under a
// temporary name and renamed to its name only while that name is free, so a
// failed write leaves no part of a file and no existing entry is replaced. Files that
// cannot be written, and files of an empty picture, are reported together in
// one "Warning" message box with their paths and reasons. Returns the paths
// written, in the order full BMP, small BMP, full JPEG, small JPEG.
// The pictures are read without their locks: pass copies of shared ones.
std::vector<std::string> SaveSnapshot(const std::string& SettingsIni, const TBitmap& FullPicture,
                                      const TBitmap& SmallPicture);

// The version of libjpeg-turbo the snapshots are written with ("2.1.5").
std::string JpegLibraryVersion();

// A 24-bit bottom-up BMP file of the picture; empty for an empty picture or
// one too large for the format.
std::vector<uint8_t> EncodeBmp(const TBitmap& Picture);
// A baseline JPEG file of the picture at Quality (clamped to 1..100). False
// with Error set for an empty picture, one larger than JPEG allows, or an
// encoder failure.
bool EncodeJpeg(const TBitmap& Picture, int Quality, std::vector<uint8_t>& Bytes, std::string& Error);
// Writes Bytes to FileName through a new temporary file in the same folder,
// flushed to disk and renamed over FileName. False with Error set (the
// system's reason) when any step fails; the temporary file is then removed.
bool WriteFileReplacing(const std::string& FileName, const std::vector<uint8_t>& Bytes, std::string& Error);
// The same, but FileName must not exist: when an entry of that name turns
// up meanwhile, nothing is written and Error says the name is taken.
bool WriteNewFile(const std::string& FileName, const std::vector<uint8_t>& Bytes, std::string& Error);
