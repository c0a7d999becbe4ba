#include "app/GlobalUnit.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "common/Files.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "engine/FFmpeg.h"

TGlobalObject* GlobalObject = nullptr;

TGlobalObject::TGlobalObject()
    // The help page ships beside the programs; its sections on the project
    // and on getting help serve as the home and support pages.
    : FHelpPageURL("file://" + ExecutableFolder() + "help/index.html"),
      FSettingsIni(ExecutableFolder() + SettingsFileName),
      FFormatIni(ExecutableFolder() + FormatFileName),
      FAppTitle("Tarn MP4 Video Converter"),
      FAppVersion(" ver 1.32 "),
      FHomePageURL(FHelpPageURL + "#project"),
      FSupportPageURL(FHelpPageURL + "#support") {}

void TGlobalObject::SetHelpPageURL(const std::string& Value) {
    if (!Value.empty()) FHelpPageURL = Value;
}
void TGlobalObject::SetSettingsIni(const std::string& Value) {
    if (Value.size() > 3) FSettingsIni = Value;
}
void TGlobalObject::SetFormatIni(const std::string& Value) {
    if (Value.size() > 3) FFormatIni = Value;
}
void TGlobalObject::SetAppTitle(const std::string& Value) {
    if (!Value.empty()) FAppTitle = Value;
}
void TGlobalObject::SetAppVersion(const std::string& Value) {
    if (!Value.empty()) FAppVersion = Value;
}
void TGlobalObject::SetHomePageURL(const std::string& Value) {
    if (!Value.empty()) FHomePageURL = Value;
}
void TGlobalObject::SetSupportPageURL(const std::string& Value) {
    if (!Value.empty()) FSupportPageURL = Value;
}

std::string TGlobalObject::RightPart(const std::string& Text, int Count) {
    if (Count <= 0) return "";
    if (static_cast<size_t>(Count) >= Text.size()) return Text;
    return Text.substr(Text.size() - static_cast<size_t>(Count));
}

namespace {

std::string WithSlash(std::string Folder) {
    if (Folder.empty() || Folder.back() != '/') Folder += '/';
    return Folder;
}

std::string UserConfigFolder() {
    const char* Xdg = getenv("XDG_CONFIG_HOME");
    std::string Base = Xdg && *Xdg ? std::string(Xdg) : HomeFolder() + "/.config";
    return WithSlash(Base) + ConfigFolderName + "/";
}

}  // namespace

std::string DataFolderFor(const std::string& ExeFolder) {
    std::string Folder = WithSlash(ExeFolder);
    if (FileExists(Folder + FormatFileName)) return Folder;
    std::error_code Error;
    std::filesystem::path Share =
        std::filesystem::weakly_canonical(std::filesystem::path(Folder) / ".." / "share" / ConfigFolderName, Error);
    if (!Error && FolderExists(Share.string())) return WithSlash(Share.string());
    return Folder;
}

std::string AppDataFolder() { return DataFolderFor(ExecutableFolder()); }

void TGlobalObject::LocateFiles(const std::string& ExeFolder) {
    std::string Folder = WithSlash(ExeFolder);
    std::string Data = DataFolderFor(Folder);
    // Whatever the installer put under share/ belongs to the system.
    bool Installed = Data != Folder;
    std::string Shipped = Data + SettingsFileName;
    // A settings file that exists must be writable itself; a missing one
    // needs a writable folder.
    bool Writable = !Installed && (FileExists(Shipped) ? access(Shipped.c_str(), W_OK) == 0
                                                       : access(Folder.c_str(), W_OK) == 0);
    SetFormatIni(Data + FormatFileName);
    // The help page ships with the data; its sections on the project and on
    // getting help serve as the home and support pages.
    SetHelpPageURL("file://" + Data + "help/index.html");
    SetHomePageURL(FHelpPageURL + "#project");
    SetSupportPageURL(FHelpPageURL + "#support");
    if (Writable) {
        SetSettingsIni(Shipped);
        return;
    }
    std::string Config = UserConfigFolder();
    std::string Settings = Config + SettingsFileName;
    if (!FileExists(Settings) && ForceFolders(Config) && FileExists(Shipped)) {
        std::error_code Ignored;
        std::filesystem::copy_file(Shipped, Settings, Ignored);
    }
    SetSettingsIni(Settings);
    // A profile file of the user's own wins over a missing shipped one.
    if (!FileExists(FFormatIni) && FileExists(Config + FormatFileName)) SetFormatIni(Config + FormatFileName);
}

std::string DefaultOutputFolder() { return HomeFolder() + "/videoconverter"; }

namespace {

std::mutex MessageLock;
TMessageFunction MessageFunction;

void DefaultMessage(const std::string& Caption, const std::string& Text, TMessageKind) {
    std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
}

}  // namespace

void SetMessageFunction(TMessageFunction Function) {
    std::lock_guard<std::mutex> Guard(MessageLock);
    MessageFunction = std::move(Function);
}

void ShowMessageBox(const std::string& Caption, const std::string& Text, TMessageKind Kind) {
    TMessageFunction Function;
    {
        std::lock_guard<std::mutex> Guard(MessageLock);
        Function = MessageFunction;
    }
    if (Function)
        Function(Caption, Text, Kind);
    else
        DefaultMessage(Caption, Text, Kind);
}

namespace {

TQuestionFunction QuestionFunction;

}  // namespace

void SetQuestionFunction(TQuestionFunction Function) {
    std::lock_guard<std::mutex> Guard(MessageLock);
    QuestionFunction = std::move(Function);
}

int AskQuestion(const std::string& Caption, const std::string& Text, const std::vector<std::string>& Answers,
                int Default, int Cancel) {
    TQuestionFunction Function;
    {
        std::lock_guard<std::mutex> Guard(MessageLock);
        Function = QuestionFunction;
    }
    if (!Function) return Cancel;
    const int Answer = Function(Caption, Text, Answers, Default, Cancel);
    return Answer >= 0 && Answer < static_cast<int>(Answers.size()) ? Answer : Cancel;
}

std::string ExceptionText(const std::string& Message) {
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
        return Message + ".";
    return Message;
}

void ShowException(const std::exception& Error, const std::string& Title) {
    bool Engine = dynamic_cast<const FFMpegException*>(&Error) != nullptr;
    ShowMessageBox(Title, ExceptionText(Error.what()), Engine ? TMessageKind::Warning : TMessageKind::Error);
}

// Settings.

using namespace SettingsKeys;

int TAppSettings::OutputFormat() const { return FIni.ReadInteger(Section, SettingsKeys::OutputFormat, 0); }
void TAppSettings::SetOutputFormat(int Value) { FIni.WriteInteger(Section, SettingsKeys::OutputFormat, Value); }

std::string TAppSettings::OutputDir() const {
    return FIni.ReadString(Section, SettingsKeys::OutputDir, DefaultOutputFolder());
}
void TAppSettings::SetOutputDir(const std::string& Value) { FIni.WriteString(Section, SettingsKeys::OutputDir, Value); }

std::string TAppSettings::SnapOutputDir() const {
    return FIni.ReadString(Section, "SnapOutPutDir", DefaultOutputFolder());
}
void TAppSettings::SetSnapOutputDir(const std::string& Value) {
    FIni.WriteString(Section, SettingsKeys::SnapOutputDir, Value.empty() ? DefaultOutputFolder() : Value);
}

bool TAppSettings::SnapFullSize() const { return FIni.ReadInteger(Section, SettingsKeys::SnapFullSize, 1) == 1; }
bool TAppSettings::SnapSmallSize() const { return FIni.ReadInteger(Section, SettingsKeys::SnapSmallSize, 1) == 1; }
bool TAppSettings::SnapBmp() const { return FIni.ReadInteger(Section, SettingsKeys::SnapBmp, 1) == 1; }
bool TAppSettings::SnapJpg() const { return FIni.ReadInteger(Section, SettingsKeys::SnapJpg, 1) == 1; }

void TAppSettings::SetSnapFlags(bool FullSize, bool SmallSize, bool Bmp, bool Jpg) {
    FIni.WriteInteger(Section, SettingsKeys::SnapFullSize, FullSize ? 1 : 0);
    FIni.WriteInteger(Section, SettingsKeys::SnapSmallSize, SmallSize ? 1 : 0);
    FIni.WriteInteger(Section, SettingsKeys::SnapBmp, Bmp ? 1 : 0);
    FIni.WriteInteger(Section, SettingsKeys::SnapJpg, Jpg ? 1 : 0);
}

int TAppSettings::JpgQuality() const { return FIni.ReadInteger(Section, SettingsKeys::JpgQuality, 30); }
void TAppSettings::SetJpgQuality(int Value) {
    if (Value > 0) FIni.WriteInteger(Section, SettingsKeys::JpgQuality, Value);
}

int TAppSettings::Priority() const { return FIni.ReadInteger(Section, "Priority", 1); }
void TAppSettings::SetPriority(int Value) { FIni.WriteInteger(Section, SettingsKeys::Priority, Value); }

int TAppSettings::SkinIndex() const { return FIni.ReadInteger(Section, SettingsKeys::SkinIndex, 0); }
void TAppSettings::SetSkinIndex(int Value) { FIni.WriteInteger(Section, SettingsKeys::SkinIndex, Value); }

namespace {

// "1,2,3" -> {1, 2, 3}; empty when any part is not a number.
std::vector<int> ReadNumbers(const std::string& Text) {
    std::vector<int> Numbers;
    size_t Start = 0;
    while (Start <= Text.size() && !Text.empty()) {
        const size_t End = Text.find(',', Start);
        int Value = 0;
        if (!TryStrToInt(Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start), Value))
            return {};
        Numbers.push_back(Value);
        if (End == std::string::npos) break;
        Start = End + 1;
    }
    return Numbers;
}

std::string JoinNumbers(const std::vector<int>& Numbers) {
    std::string Text;
    for (int N : Numbers) Text += (Text.empty() ? "" : ",") + std::to_string(N);
    return Text;
}

}  // namespace

bool TAppSettings::WindowPlace(TWindowPlace& Place) const {
    const std::vector<int> N = ReadNumbers(FIni.ReadString(Section, SettingsKeys::WindowPlace, ""));
    if (N.size() != 5 || N[2] <= 0 || N[3] <= 0) return false;
    Place = {N[0], N[1], N[2], N[3], N[4] == 1};
    return true;
}

void TAppSettings::SetWindowPlace(const TWindowPlace& Place) {
    FIni.WriteString(Section, SettingsKeys::WindowPlace,
                     JoinNumbers({Place.Left, Place.Top, Place.Width, Place.Height, Place.Maximized ? 1 : 0}));
}

std::vector<int> TAppSettings::ListColumns() const {
    return ReadNumbers(FIni.ReadString(Section, SettingsKeys::ListColumns, ""));
}

void TAppSettings::SetListColumns(const std::vector<int>& Widths) {
    FIni.WriteString(Section, SettingsKeys::ListColumns, JoinNumbers(Widths));
}

bool TAppSettings::KeepList() const { return FIni.ReadInteger(Section, SettingsKeys::KeepList, 1) == 1; }
void TAppSettings::SetKeepList(bool Keep) { FIni.WriteInteger(Section, SettingsKeys::KeepList, Keep ? 1 : 0); }

std::string TAppSettings::KeptList() const { return FIni.ReadString(Section, SettingsKeys::KeptList, ""); }

void TAppSettings::SetKeptList(const std::string& Text) {
    if (Text.empty()) {
        if (FIni.ValueExists(Section, SettingsKeys::KeptList)) FIni.DeleteKey(Section, SettingsKeys::KeptList);
        return;
    }
    FIni.WriteString(Section, SettingsKeys::KeptList, Text);
}

TThreadPriority PriorityFromSetting(int Value, TThreadPriority Current) {
    switch (Value) {
        case 0: return tpIdle;
        case 1: return tpNormal;
        case 2: return tpLower;
        case 3: return tpLowest;
        default: return Current;
    }
}

bool ForceFolders(const std::string& Folder, std::string* Reason) {
    if (Folder.empty()) {
        if (Reason) *Reason = std::strerror(ENOENT);
        return false;
    }
    if (FolderExists(Folder)) return true;
    std::error_code Error;
    std::filesystem::create_directories(Folder, Error);
    if (FolderExists(Folder)) return true;
    if (Reason) *Reason = Error ? Error.message() : std::strerror(ENOTDIR);
    return false;
}

namespace {

std::mutex FolderLock;
// Stored folders already reported as refused, by key: the warning comes
// once, not for every file added.
std::map<std::string, std::string> RefusedFolders;
TFolderFallbackFunction FolderFallback;

}  // namespace

void SetFolderFallbackFunction(TFolderFallbackFunction Function) {
    std::lock_guard<std::mutex> Guard(FolderLock);
    FolderFallback = std::move(Function);
}

std::string EnsureFolder(const std::string& SettingsIni, const std::string& Key) {
    IniFile Ini(SettingsIni);
    const std::string Default = DefaultOutputFolder();
    std::string Folder = Ini.ReadString(Section, Key, Default);
    // An empty value is no choice at all.
    if (Trim(Folder).empty()) Folder = Default;
    std::string Reason;
    if (ForceFolders(Folder, &Reason)) {
        std::lock_guard<std::mutex> Guard(FolderLock);
        RefusedFolders.erase(LowerCase(Key));
        return WithSlash(Folder);
    }
    // The stored choice stays: the folder may be on a disk that is not
    // plugged in now. Only this run of the program uses the default.
    ForceFolders(Default);
    TFolderFallbackFunction Notify;
    {
        std::lock_guard<std::mutex> Guard(FolderLock);
        std::string& Refused = RefusedFolders[LowerCase(Key)];
        if (Refused == Folder) return WithSlash(Default);
        Refused = Folder;
        Notify = FolderFallback;
    }
    ShowMessageBox("Warning",
                   "Cannot create output directory: " + Folder + " (" + Reason +
                       "). It will use the default directory " + Default +
                       " for now; the chosen directory stays in the settings.",
                   TMessageKind::Warning);
    if (Notify) Notify(Key, WithSlash(Default));
    return WithSlash(Default);
}
