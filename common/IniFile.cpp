#include "common/IniFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/Text.h"

namespace {

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& Line, std::string& Name) {
    std::string T = Trim(Line);
    if (T.size() < 2 || T.front() != '[') return false;
    size_t Close = T.find(']');
    if (Close == std::string::npos) return false;
    Name = Trim(T.substr(1, Close - 1));
    return true;
}

// "key=value" gives both, trimmed; comments and lines without "=" give false.
bool KeyValue(const std::string& Line, std::string& Key, std::string& Value) {
    std::string T = Trim(Line);
    if (T.empty() || T[0] == ';' || T[0] == '[') return false;
    size_t Eq = T.find('=');
    if (Eq == std::string::npos) return false;
    Key = Trim(T.substr(0, Eq));
    Value = Trim(T.substr(Eq + 1));
    if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') &&
        Value.back() == Value.front())
        Value = Value.substr(1, Value.size() - 2);
    return !Key.empty();
}

// Lines [First, Last) of the section's body, or false when it is missing.
bool FindSection(const std::vector<std::string>& Lines, const std::string& Section, size_t& First,
                 size_t& Last) {
    std::string Name;
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (!SectionName(Lines[i], Name) || !SameText(Name, Section)) continue;
        First = i + 1;
        Last = First;
        while (Last < Lines.size() && !SectionName(Lines[Last], Name)) ++Last;
        return true;
    }
    return false;
}

bool FindKey(const std::vector<std::string>& Lines, size_t First, size_t Last,
             const std::string& Key, size_t& At, std::string& Value) {
    std::string K;
    for (size_t i = First; i < Last; ++i) {
        if (KeyValue(Lines[i], K, Value) && SameText(K, Key)) {
            At = i;
            return true;
        }
    }
    return false;
}

}  // namespace

IniFile IniFile::FromText(std::string Text) {
    IniFile Ini("");
    Ini.FInMemory = true;
    Ini.FText = std::move(Text);
    return Ini;
}

IniFile::Content IniFile::Load() const {
    Content Text;
    std::ifstream File;
    std::istringstream Memory;
    std::istream* Source = &Memory;
    if (FInMemory) {
        Memory.str(FText);
    } else {
        File.open(FFileName, std::ios::binary);
        if (!File) return Text;
        Source = &File;
    }
    std::istream& In = *Source;
    std::string Line;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r') {
            Line.pop_back();
            Text.CrLf = true;
        }
        Text.Lines.push_back(Line);
    }
    return Text;
}

namespace {

// The file a write goes to: the end of a chain of symlinks, else the name.
std::string WriteTarget(const std::string& Name) {
    std::string Path = Name;
    for (int Hops = 0; Hops < 40; ++Hops) {
        struct stat Info;
        if (::lstat(Path.c_str(), &Info) != 0 || !S_ISLNK(Info.st_mode)) return Path;
        char Link[PATH_MAX];
        const ssize_t Length = ::readlink(Path.c_str(), Link, sizeof Link - 1);
        if (Length <= 0) return Path;
        std::string Next(Link, static_cast<size_t>(Length));
        if (Next[0] != '/') {
            const size_t Slash = Path.rfind('/');
            if (Slash != std::string::npos) Next = Path.substr(0, Slash + 1) + Next;
        }
        Path = Next;
    }
    return Path;
}

std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos) return ".";
    return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// The mode a new file gets: 0666 less the process's umask.
mode_t NewFileMode() {
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line))
        if (Line.rfind("Umask:", 0) == 0) return 0666 & ~static_cast<mode_t>(std::strtol(Line.c_str() + 6, nullptr, 8));
    return 0644;
}

class FileLock {
public:
    explicit FileLock(const std::string& Path) {
        FFd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (FFd < 0) return;
        int Result;
        do Result = ::flock(FFd, LOCK_EX);
        while (Result != 0 && errno == EINTR);
        if (Result != 0) {
            ::close(FFd);
            FFd = -1;
        }
    }
    ~FileLock() {
        if (FFd >= 0) ::close(FFd);
    }
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

bool WriteAllTo(int Fd, const std::string& Data) {
    size_t Done = 0;
    while (Done < Data.size()) {
        const ssize_t N = ::write(Fd, Data.data() + Done, Data.size() - Done);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

}  // namespace

bool IniFile::Save(const std::string& Target, const Content& Text) const {
    std::string Data;
    const char* Eol = Text.CrLf ? "\r\n" : "\n";
    for (const std::string& Line : Text.Lines) Data += Line + Eol;

    struct stat Old;
    const mode_t Mode = ::stat(Target.c_str(), &Old) == 0 ? (Old.st_mode & 07777) : NewFileMode();
    std::string Temporary = FolderOf(Target) + "/." + Target.substr(Target.rfind('/') + 1) + ".XXXXXX";
    const int Fd = ::mkostemp(Temporary.data(), O_CLOEXEC);
    if (Fd < 0) return false;
    bool Ok = ::fchmod(Fd, Mode) == 0 && WriteAllTo(Fd, Data) && ::fsync(Fd) == 0;
    Ok = ::close(Fd) == 0 && Ok;
    if (!Ok || ::rename(Temporary.c_str(), Target.c_str()) != 0) {
        ::unlink(Temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int Folder = ::open(FolderOf(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Folder >= 0) {
        ::fsync(Folder);
        ::close(Folder);
    }
    return true;
}

template <class F>
bool IniFile::Modify(F Change) {
    if (FInMemory) return false;
    const std::string Target = WriteTarget(FFileName);
    FileLock Lock(Target + ".lock");
    if (!Lock.Held()) return false;
    Content Text = IniFile(Target).Load();
    if (!Change(Text)) return true;
    return Save(Target, Text);
}

std::string IniFile::ReadString(const std::string& Section, const std::string& Key,
                                const std::string& Default) const {
    Content Text = Load();
    size_t First, Last, At;
    std::string Value;
    if (FindSection(Text.Lines, Section, First, Last) &&
        FindKey(Text.Lines, First, Last, Key, At, Value))
        return Value;
    return Default;
}

int IniFile::ReadInteger(const std::string& Section, const std::string& Key, int Default) const {
    std::string Value = ReadString(Section, Key, "");
    if (Value.empty()) return Default;
    errno = 0;
    char* End = nullptr;
    bool Hex = Value.size() > 2 && Value[0] == '0' && (Value[1] == 'x' || Value[1] == 'X');
    long Result = std::strtol(Value.c_str(), &End, Hex ? 16 : 10);
    if (errno != 0 || End == Value.c_str() || *End != '\0' || Result < INT32_MIN || Result > INT32_MAX)
        return Default;
    return static_cast<int>(Result);
}

double IniFile::ReadFloat(const std::string& Section, const std::string& Key,
                          double Default) const {
    std::string Value = ReadString(Section, Key, "");
    if (Value.empty()) return Default;
    std::istringstream In(Value);
    In.imbue(std::locale::classic());
    double Result;
    In >> Result;
    if (!In || In.peek() != EOF) return Default;
    return Result;
}

bool IniFile::WriteString(const std::string& Section, const std::string& Key,
                          const std::string& Value) {
    return Modify([&](Content& Text) {
        std::string NewLine = Key + "=" + Value;
        size_t First, Last, At;
        std::string Old;
        if (!FindSection(Text.Lines, Section, First, Last)) {
            Text.Lines.push_back("[" + Section + "]");
            Text.Lines.push_back(NewLine);
        } else if (FindKey(Text.Lines, First, Last, Key, At, Old)) {
            Text.Lines[At] = NewLine;
        } else {
            // After the section's last non-blank line, so blank separators stay.
            size_t Insert = Last;
            while (Insert > First && Trim(Text.Lines[Insert - 1]).empty()) --Insert;
            Text.Lines.insert(Text.Lines.begin() + static_cast<long>(Insert), NewLine);
        }
        return true;
    });
}

bool IniFile::WriteInteger(const std::string& Section, const std::string& Key, int Value) {
    return WriteString(Section, Key, std::to_string(Value));
}

bool IniFile::SectionExists(const std::string& Section) const {
    size_t First, Last;
    return FindSection(Load().Lines, Section, First, Last);
}

bool IniFile::ValueExists(const std::string& Section, const std::string& Key) const {
    Content Text = Load();
    size_t First, Last, At;
    std::string Value;
    return FindSection(Text.Lines, Section, First, Last) &&
           FindKey(Text.Lines, First, Last, Key, At, Value);
}

std::vector<std::string> IniFile::ReadSection(const std::string& Section) const {
    Content Text = Load();
    std::vector<std::string> Keys;
    size_t First, Last;
    if (!FindSection(Text.Lines, Section, First, Last)) return Keys;
    std::string Key, Value;
    for (size_t i = First; i < Last; ++i)
        if (KeyValue(Text.Lines[i], Key, Value)) Keys.push_back(Key);
    return Keys;
}

std::vector<std::string> IniFile::ReadSections() const {
    std::vector<std::string> Names;
    std::string Name;
    for (const std::string& Line : Load().Lines)
        if (SectionName(Line, Name)) Names.push_back(Name);
    return Names;
}

bool IniFile::DeleteKey(const std::string& Section, const std::string& Key) {
    return Modify([&](Content& Text) {
        size_t First, Last, At;
        std::string Value;
        if (!FindSection(Text.Lines, Section, First, Last) ||
            !FindKey(Text.Lines, First, Last, Key, At, Value))
            return false;
        Text.Lines.erase(Text.Lines.begin() + static_cast<long>(At));
        return true;
    });
}
