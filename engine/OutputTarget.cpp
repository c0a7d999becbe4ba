#include "engine/OutputTarget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "common/Files.h"

namespace {

constexpr const char* TempSuffix = ".part";
constexpr int TempRandomLength = 6;

std::string RandomText() {
    static const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 Generator{std::random_device{}()};
    std::uniform_int_distribution<int> Pick(0, sizeof Letters - 2);
    std::string Text;
    for (int i = 0; i < TempRandomLength; ++i) Text += Letters[Pick(Generator)];
    return Text;
}

// A link to the final name, for file systems without a no-replace rename.
int LinkInPlace(const std::string& ATemp, const std::string& AName) {
    if (link(ATemp.c_str(), AName.c_str()) != 0) return -1;
    unlink(ATemp.c_str());
    return 0;
}

}  // namespace

bool OutputNameTaken(const std::string& AName) {
    struct stat Info {};
    return lstat(AName.c_str(), &Info) == 0 || errno != ENOENT;
}

std::string NextSeriesName(const std::string& AName) {
    std::string Folder = ExtractFilePath(AName);
    std::string Name = ExtractFileName(AName);
    std::string Ext = ExtractFileExt(Name);
    std::string Stem = Name.substr(0, Name.size() - Ext.size());
    if (Stem.size() >= 6 && Stem.compare(Stem.size() - 6, 6, "_(new)") == 0)
        return Folder + Stem.substr(0, Stem.size() - 6) + "_(new_1)" + Ext;
    // "_(new_N)" at the end of the stem.
    size_t Open = Stem.rfind("_(new_");
    if (Open != std::string::npos && Stem.back() == ')' && Open + 7 < Stem.size()) {
        std::string Digits = Stem.substr(Open + 6, Stem.size() - Open - 7);
        bool Number = !Digits.empty() && Digits.size() < 9 && Digits.find_first_not_of("0123456789") == std::string::npos;
        if (Number)
            return Folder + Stem.substr(0, Open) + "_(new_" + std::to_string(std::stol(Digits) + 1) + ")" + Ext;
    }
    return Folder + Stem + "_(new)" + Ext;
}

bool IsOutputTempName(const std::string& AName) {
    std::string Name = ExtractFileName(AName);
    const size_t Tail = 1 + TempRandomLength + std::char_traits<char>::length(TempSuffix);
    if (Name.size() < Tail + 2 || Name[0] != '.') return false;
    if (Name.compare(Name.size() - 5, 5, TempSuffix) != 0) return false;
    return Name[Name.size() - Tail] == '.';
}

bool CreateOutputTarget(const std::string& AFinalName, TOutputTarget& ATarget) {
    ATarget = TOutputTarget();
    const std::string Folder = ExtractFilePath(AFinalName);
    std::string Name = ExtractFileName(AFinalName);
    // Room for the dot, the random part and the suffix within a name's
    // 255 bytes; a cut never splits a character.
    if (Name.size() > 200) {
        size_t Cut = 200;
        while (Cut > 0 && (static_cast<unsigned char>(Name[Cut]) & 0xC0) == 0x80) --Cut;
        Name.resize(Cut);
    }
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        std::string Temp = Folder + "." + Name + "." + RandomText() + TempSuffix;
        int Handle = open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (Handle < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        // Held until the file has its final name: a lock that another run
        // can take marks a file that nobody writes any more.
        flock(Handle, LOCK_EX);
        ATarget.Handle = Handle;
        ATarget.TempName = Temp;
        ATarget.FinalName = AFinalName;
        return true;
    }
    errno = EEXIST;
    return false;
}

std::string CommitOutputTarget(TOutputTarget& ATarget) {
    if (ATarget.Handle < 0) return "";
    fsync(ATarget.Handle);
    std::string Name = ATarget.FinalName;
    std::string Given;
    int Error = 0;
    for (int Attempt = 0; Attempt < 100000; ++Attempt) {
        int Result = renameat2(AT_FDCWD, ATarget.TempName.c_str(), AT_FDCWD, Name.c_str(), RENAME_NOREPLACE);
        if (Result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP))
            Result = LinkInPlace(ATarget.TempName, Name);
        if (Result == 0) {
            Given = Name;
            break;
        }
        if (errno != EEXIST) {
            Error = errno;
            break;
        }
        Name = NextSeriesName(Name);
    }
    if (Given.empty() && Error == 0) Error = EEXIST;
    // The folder entry of the new name reaches the disk too.
    if (!Given.empty()) {
        std::string Folder = ExtractFilePath(Given);
        int Dir = open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (Dir >= 0) {
            fsync(Dir);
            close(Dir);
        }
    }
    close(ATarget.Handle);
    ATarget.Handle = -1;
    if (Given.empty()) errno = Error;
    return Given;
}

void DiscardOutputTarget(TOutputTarget& ATarget) {
    if (ATarget.Handle < 0) return;
    unlink(ATarget.TempName.c_str());
    close(ATarget.Handle);
    ATarget.Handle = -1;
}

int RemoveStaleOutputs(const std::string& AFolder, time_t ABefore) {
    std::string Folder = AFolder.empty() ? "./" : AFolder;
    if (Folder.back() != '/') Folder += '/';
    DIR* Dir = opendir(Folder.c_str());
    if (!Dir) return 0;
    int Removed = 0;
    while (dirent* Entry = readdir(Dir)) {
        if (!IsOutputTempName(Entry->d_name)) continue;
        std::string Path = Folder + Entry->d_name;
        struct stat Named {};
        if (lstat(Path.c_str(), &Named) != 0 || !S_ISREG(Named.st_mode) || Named.st_mtime >= ABefore) continue;
        int Handle = open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (Handle < 0) continue;
        struct stat Opened {};
        // The lock is free once its writer has ended; the entry must still
        // be the file that was locked.
        if (flock(Handle, LOCK_EX | LOCK_NB) == 0 && fstat(Handle, &Opened) == 0 &&
            lstat(Path.c_str(), &Named) == 0 && Opened.st_dev == Named.st_dev && Opened.st_ino == Named.st_ino &&
            unlink(Path.c_str()) == 0)
            ++Removed;
        close(Handle);
    }
    closedir(Dir);
    return Removed;
}
