// The application-wide object, the keys of the settings file, the output
// folder rule and the text of exceptions shown to the user. No Qt here: the
// windowed application and the command-line converter share it.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "common/IniFile.h"
#include "engine/EngineThreads.h"

constexpr const char* SettingsFileName = "tarnmp4videoconverter.ini";
constexpr const char* FormatFileName = "tarnmp4format.ini";
// Folder below $XDG_CONFIG_HOME (or ~/.config) used when the executable's
// folder is not writable.
constexpr const char* ConfigFolderName = "tarnmp4videoconverter";

class TGlobalObject {
public:
    TGlobalObject();

    const std::string& HelpPageURL() const { return FHelpPageURL; }
    const std::string& SettingsIni() const { return FSettingsIni; }
    const std::string& FormatIni() const { return FFormatIni; }
    const std::string& AppTitle() const { return FAppTitle; }
    const std::string& AppVersion() const { return FAppVersion; }
    const std::string& HomePageURL() const { return FHomePageURL; }
    const std::string& SupportPageURL() const { return FSupportPageURL; }

    // Too short values are ignored: paths up to 3 characters, empty texts.
    void SetHelpPageURL(const std::string& Value);
    void SetSettingsIni(const std::string& Value);
    void SetFormatIni(const std::string& Value);
    void SetAppTitle(const std::string& Value);
    void SetAppVersion(const std::string& Value);
    void SetHomePageURL(const std::string& Value);
    void SetSupportPageURL(const std::string& Value);

    // The last Count characters of Text, or all of it when it is shorter.
    static std::string RightPart(const std::string& Text, int Count);

    // Sets both INI paths and the help page for a program in ExeFolder
    // (with or without a trailing "/"). A program with its data beside it
    // keeps the settings there when that folder is writable; an installed
    // one, and one in a read-only folder, keeps them in the user's
    // configuration folder, seeded once from the shipped copy.
    void LocateFiles(const std::string& ExeFolder);

private:
    std::string FHelpPageURL;
    std::string FSettingsIni;
    std::string FFormatIni;
    std::string FAppTitle;
    std::string FAppVersion;
    std::string FHomePageURL;
    std::string FSupportPageURL;
};

// The one instance of the windowed application (null outside its life).
extern TGlobalObject* GlobalObject;

// The folder of the shipped data (profile file, default settings, skin/,
// help/), ending in "/": ExeFolder itself when the profile file lies beside
// the program, else ../share/tarnmp4videoconverter/ of an installed program
// when that exists, else ExeFolder.
std::string DataFolderFor(const std::string& ExeFolder);
// The same for the running program.
std::string AppDataFolder();

// The folder that replaces an output folder that cannot be made.
std::string DefaultOutputFolder();

// Message boxes go through one replaceable function, so tests and the
// command-line program can take them over.
enum class TMessageKind { Information, Warning, Error };
using TMessageFunction =
    std::function<void(const std::string& Caption, const std::string& Text, TMessageKind Kind)>;
// An empty function restores the default (a line on stderr).
void SetMessageFunction(TMessageFunction Function);
void ShowMessageBox(const std::string& Caption, const std::string& Text, TMessageKind Kind);

// Questions go the same way. Answers are the captions of the buttons, in
// their order; Default is the one Return picks, Cancel the one Escape or
// closing the box picks. Returns the index of the answer chosen. Without a
// function installed (no one to ask) the answer is Cancel.
using TQuestionFunction = std::function<int(const std::string& Caption, const std::string& Text,
                                            const std::vector<std::string>& Answers, int Default, int Cancel)>;
void SetQuestionFunction(TQuestionFunction Function);
int AskQuestion(const std::string& Caption, const std::string& Text, const std::vector<std::string>& Answers,
                int Default, int Cancel);

// The text an exception is shown with: a full stop is added when the last
// character sorts after ".", so "!" and "." stay alone.
std::string ExceptionText(const std::string& Message);
// Shows an exception as the application's handler does: the engine's
// exceptions as warnings, any other as an error, both under Title.
void ShowException(const std::exception& Error, const std::string& Title);

// Where the main window stood at its last close: its normal geometry
// (without the frame) and whether it was maximised.
struct TWindowPlace {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool Maximized = false;
};

// Typed access to the section "settings" of the settings file. Every call
// opens and reads or rewrites the file; nothing is cached.
class TAppSettings {
public:
    explicit TAppSettings(const std::string& SettingsIni) : FIni(SettingsIni) {}

    const IniFile& Ini() const { return FIni; }
    IniFile& Ini() { return FIni; }

    int OutputFormat() const;
    void SetOutputFormat(int Value);
    std::string OutputDir() const;
    void SetOutputDir(const std::string& Value);
    std::string SnapOutputDir() const;
    void SetSnapOutputDir(const std::string& Value);  // empty stores the default folder
    bool SnapFullSize() const;
    bool SnapSmallSize() const;
    bool SnapBmp() const;
    bool SnapJpg() const;
    void SetSnapFlags(bool FullSize, bool SmallSize, bool Bmp, bool Jpg);
    int JpgQuality() const;
    void SetJpgQuality(int Value);  // only values above 0 are stored
    int Priority() const;           // index into "Idle", "Normal", "Lower", "Lowest"
    void SetPriority(int Value);
    int SkinIndex() const;
    void SetSkinIndex(int Value);

    // False when nothing usable is stored.
    bool WindowPlace(TWindowPlace& Place) const;
    void SetWindowPlace(const TWindowPlace& Place);
    // Widths of the file list's columns; empty when none are stored.
    std::vector<int> ListColumns() const;
    void SetListColumns(const std::vector<int>& Widths);
    // Whether Exit keeps the file list for the next start (default yes).
    bool KeepList() const;
    void SetKeepList(bool Keep);
    // The kept file list (app/KeptList.h); an empty one removes the key.
    std::string KeptList() const;
    void SetKeptList(const std::string& Text);

private:
    IniFile FIni;
};

namespace SettingsKeys {
constexpr const char* Section = "settings";
constexpr const char* OutputFormat = "OutPutFormat";
constexpr const char* OutputDir = "OutPutDir";
constexpr const char* SnapOutputDir = "snapOutPutDir";  // read as "SnapOutPutDir" too (keys ignore case)
constexpr const char* SnapFullSize = "snapFullSize";
constexpr const char* SnapSmallSize = "snapSmallSize";
constexpr const char* SnapBmp = "snapBmp";
constexpr const char* SnapJpg = "snapJpg";
constexpr const char* JpgQuality = "jpgCmp";
constexpr const char* Priority = "priority";
constexpr const char* SkinIndex = "skinIndex";
constexpr const char* WindowPlace = "windowPlace";  // left,top,width,height,maximised (1 or 0)
constexpr const char* ListColumns = "listColumns";  // widths, comma separated
constexpr const char* KeepList = "keepList";        // 1: Exit keeps the file list
constexpr const char* KeptList = "keptList";
}  // namespace SettingsKeys

// The worker priority for a "priority" value; other values keep Current.
TThreadPriority PriorityFromSetting(int Value, TThreadPriority Current);

// Makes the folder stored under Key ("OutPutDir" or "SnapOutPutDir") exist
// and returns it with a trailing "/". A folder that cannot be made is
// reported once with a warning naming it and the system's reason, and the
// default folder is created and used instead; the stored choice is left as
// it is, for the next start.
std::string EnsureFolder(const std::string& SettingsIni, const std::string& Key);
// Told (Key, folder used) when EnsureFolder puts the default folder in the
// place of the stored one; empty for none.
using TFolderFallbackFunction = std::function<void(const std::string& Key, const std::string& Used)>;
void SetFolderFallbackFunction(TFolderFallbackFunction Function);
// Creates Folder with all its missing parents; true when it exists after.
// Otherwise Reason, when given, gets the system's reason.
bool ForceFolders(const std::string& Folder, std::string* Reason = nullptr);
