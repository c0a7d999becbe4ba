// File-system shims.
#pragma once

#include <cstdint>
#include <string>

// Size of the file in bytes, or -1 when it does not exist or cannot be read.
int64_t GetFileSizeOnDisk(const std::string& FileName);
bool FileExists(const std::string& FileName);
bool FolderExists(const std::string& Folder);
// Folder of the running executable, with a trailing "/".
std::string ExecutableFolder();
// The user's home folder (HOME, else the password database), no trailing "/".
std::string HomeFolder();
// The part of a path before its last "/" (with it), and the part after it.
std::string ExtractFilePath(const std::string& FileName);
std::string ExtractFileName(const std::string& FileName);
// The extension with its dot, or empty.
std::string ExtractFileExt(const std::string& FileName);
