// Snapshot pictures: the full picture (the decoded frame at its own size)
// and the small picture (the preview area as shown, margins included), each
// as a 24-bit BMP and a JPEG, as the settings select. The main window's
// preview and the progress dialog both save through SaveSnapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

constexpr const char* SnapshotFullBmp = "Snapshot_full.bmp";
constexpr const char* SnapshotSmallBmp = "Snapshot_small.bmp";
constexpr const char* SnapshotFullJpg = "Snapshot_full.jpg";
constexpr const char* SnapshotSmallJpg = "Snapshot_small.jpg";

// Saves the snapshot files selected by "snapFullSize", "snapSmallSize",
// "snapBmp" and "snapJpg" of the settings file (each selected only when it
// is exactly 1) into the folder "SnapOutPutDir" made to exist by
// EnsureFolder, with JPEG quality "jpgCmp". Existing files are replaced; a
// file is written under a temporary name and renamed into place, so a failed
// write leaves the old file (or none), never a part of one. Files that
// cannot be written, and files of an empty picture, are reported together in
// one "Warning" message box with their paths and reasons. Returns the paths
// written, in the order full BMP, small BMP, full JPEG, small JPEG.
// The pictures are read without their locks: pass copies of shared ones.
std::vector<std::string> SaveSnapshot(const std::string& SettingsIni, const TBitmap& FullPicture,
                                      const TBitmap& SmallPicture);

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
