// INI files with the habits of Windows profile files: sections and keys
// ignore letter case, a missing file, section or key gives the caller's
// default, values are trimmed and may hold "=" and blanks, ";" starts a
// comment line. Every read opens and parses the file; every write rewrites
// it at once (through a temporary file and a rename), keeping all other
// lines, comments and their order.
#pragma once

#include <string>
#include <vector>

class IniFile {
public:
    explicit IniFile(std::string FileName) : FFileName(std::move(FileName)) {}

    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    // Decimal (or 0x hexadecimal) integers; anything else gives Default.
    int ReadInteger(const std::string& Section, const std::string& Key, int Default) const;
    double ReadFloat(const std::string& Section, const std::string& Key, double Default) const;

    // False when the file cannot be written; the file is then unchanged.
    bool WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
    bool WriteInteger(const std::string& Section, const std::string& Key, int Value);

    bool SectionExists(const std::string& Section) const;
    bool ValueExists(const std::string& Section, const std::string& Key) const;
    // Key names of a section in file order; section names in file order.
    std::vector<std::string> ReadSection(const std::string& Section) const;
    std::vector<std::string> ReadSections() const;
    bool DeleteKey(const std::string& Section, const std::string& Key);

private:
    struct Content {
        std::vector<std::string> Lines;
        bool CrLf = false;
    };
    Content Load() const;
    bool Save(const Content& Text) const;

    std::string FFileName;
};
