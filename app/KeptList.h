// The file list kept from one start to the next: each row's path, check
// box, trim and crop, as one line of text for the settings file.
#pragma once

#include <string>
#include <vector>

#include "app/FilesRecord.h"

struct TKeptRow {
    bool Checked = true;
    // SourceFile, TrimStart, TrimLength, ZoomMode and the four crop fields;
    // the rest is found again when the file is added.
    TlvFilesRecord Record;
};

// Rows separated by "|", fields by ",": checked, trim start, trim length,
// zoom mode, crop top, left, bottom, right, then the path with "%", ",",
// "|", blanks and control characters written as "%XX".
std::string EncodeKeptList(const std::vector<TKeptRow>& Rows);
// The rows of a line written by EncodeKeptList; rows that do not read back
// (a number that is not one, a missing field, an empty path) are left out.
std::vector<TKeptRow> DecodeKeptList(const std::string& Text);
