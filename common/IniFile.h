// INI files with the habits of Windows profile files: sections and keys
// ignore letter case, a missing file, section or key gives the caller's
// default, values are trimmed and may hold "=" and blanks, ";" starts a
// comment line. Every read opens and parses the file; every write rewrites
// it at once, keeping all other lines, comments and their order.
//
// A write holds an flock on FILE.lock beside the file while it re-reads
// the file, changes its one key and renames a uniquely named, fsynced
// temporary file over it, so that programs saving at once lose nothing. A
// file that is a symlink stays one (its target is rewritten), and the
// file's permissions are kept.
#pragma once

#include <string>
#include <vector>

class IniFile {
public:
    explicit IniFile(std::string FileName) : FFileName(std::move(FileName)) {}
    // A read-only file held in memory; its writes fail.
    static IniFile FromText(std::string Text);
    const std::string& FileName() const { return FFileName; }

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
    // Load, Change and save under the file's lock; false when Change
    // declines or the file cannot be written (it is then unchanged).
    template <class F>
    bool Modify(F Change);
    bool Save(const std::string& Target, const Content& Text) const;

    std::string FFileName;
    bool FInMemory = false;
    std::string FText;
};
