// Small text routines shared by every folder.
#pragma once

#include <string>
#include <vector>

// printf into a std::string.
std::string StrFormat(const char* Format, ...) __attribute__((format(printf, 1, 2)));

// Removes blanks and control characters (everything up to ' ') at both ends.
std::string Trim(const std::string& Text);
std::string LowerCase(std::string Text);
// ASCII comparison without regard to letter case.
bool SameText(const std::string& A, const std::string& B);
bool StartsWith(const std::string& Text, const std::string& Prefix);

// Returns the part of Text before the first Separator. With Remove set, Text
// keeps only what follows that separator; without a separator the whole text
// is returned and Text becomes empty.
std::string SplitHead(std::string& Text, const std::string& Separator, bool Remove);

// Splits at every occurrence of Separator; empty items are kept.
std::vector<std::string> SplitText(const std::string& Text, char Separator);
