#include "common/Files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

int64_t GetFileSizeOnDisk(const std::string& FileName) {
    struct stat Info {};
    if (FileName.empty() || stat(FileName.c_str(), &Info) != 0) return -1;
    if (!S_ISREG(Info.st_mode)) return -1;
    return static_cast<int64_t>(Info.st_size);
}

bool FileExists(const std::string& FileName) {
    struct stat Info {};
    return !FileName.empty() && stat(FileName.c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
}

bool FolderExists(const std::string& Folder) {
    struct stat Info {};
    return !Folder.empty() && stat(Folder.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode);
}

std::string ExecutableFolder() {
    char Buffer[PATH_MAX];
    ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof Buffer - 1);
    if (Length <= 0) return "./";
    return ExtractFilePath(std::string(Buffer, static_cast<size_t>(Length)));
}

std::string HomeFolder() {
    if (const char* Home = getenv("HOME"); Home && *Home) return Home;
    if (const passwd* Entry = getpwuid(getuid()); Entry && Entry->pw_dir) return Entry->pw_dir;
    return "/tmp";
}

std::string ExtractFilePath(const std::string& FileName) {
    size_t At = FileName.rfind('/');
    return At == std::string::npos ? std::string() : FileName.substr(0, At + 1);
}

std::string ExtractFileName(const std::string& FileName) {
    size_t At = FileName.rfind('/');
    return At == std::string::npos ? FileName : FileName.substr(At + 1);
}

std::string ExtractFileExt(const std::string& FileName) {
    std::string Name = ExtractFileName(FileName);
    size_t At = Name.rfind('.');
    return At == std::string::npos ? std::string() : Name.substr(At);
}
