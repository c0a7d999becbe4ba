// Long paths in labels: the first characters, "..", the extension and,
// where a dialog asks for them, two blanks.
#pragma once

#include <string>

// Path itself when it has at most MaxWhole characters; otherwise its first
// Keep characters, "..", the file's extension with its dot and, with
// TwoBlanks, two blanks.
std::string ShortenPath(const std::string& Path, size_t MaxWhole, size_t Keep, bool TwoBlanks);
