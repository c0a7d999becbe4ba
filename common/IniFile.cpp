#include "common/IniFile.h"

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

IniFile::Content IniFile::Load() const {
    Content Text;
    std::ifstream In(FFileName, std::ios::binary);
    if (!In) return Text;
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

bool IniFile::Save(const Content& Text) const {
    std::string Temporary = FFileName + ".tmp";
    {
        std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
        if (!Out) return false;
        const char* Eol = Text.CrLf ? "\r\n" : "\n";
        for (const std::string& Line : Text.Lines) Out << Line << Eol;
        Out.flush();
        if (!Out) {
            Out.close();
            std::remove(Temporary.c_str());
            return false;
        }
    }
    if (std::rename(Temporary.c_str(), FFileName.c_str()) != 0) {
        std::remove(Temporary.c_str());
        return false;
    }
    return true;
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
    Content Text = Load();
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
    return Save(Text);
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
    Content Text = Load();
    size_t First, Last, At;
    std::string Value;
    if (!FindSection(Text.Lines, Section, First, Last) ||
        !FindKey(Text.Lines, First, Last, Key, At, Value))
        return true;
    Text.Lines.erase(Text.Lines.begin() + static_cast<long>(At));
    return Save(Text);
}
