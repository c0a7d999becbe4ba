// The command line of tarnconv.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be used; the message says why.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An option's value while a command line is walked.
class TOptionValue {
public:
    TOptionValue(const std::string& Name, const std::vector<std::string>& Arguments, size_t& Index, bool Inline,
                 std::string Text)
        : FName(Name), FArguments(Arguments), FIndex(Index), FInline(Inline), FText(std::move(Text)) {}
    // The text after "=", else the next argument; "NAME wants WHAT" when
    // there is none.
    std::string Take(const std::string& What = "a value");
    // Refuses a value given with "=".
    void None() const;
    bool Inline() const { return FInline; }

private:
    const std::string& FName;
    const std::vector<std::string>& FArguments;
    size_t& FIndex;
    bool FInline;
    std::string FText;
};

// Walks the arguments after the program name: plain ones, "-" and all after
// "--" go to Files; each option ("--name=value" too) to OnOption.
void WalkArguments(const std::vector<std::string>& Arguments, std::vector<std::string>& Files,
                   const std::function<void(const std::string& Name, TOptionValue& Value)>& OnOption);

// Log levels by name, in the component's order: quiet, error, info, debug, all.
int LogLevelFromName(const std::string& Name);  // -1 for an unknown name

struct TConvOptions {
    int Profile = -1;           // -1: "OutPutFormat" of the settings
    std::string OutputDir;      // empty: "OutPutDir" of the settings
    int StartMs = 0;            // trim start
    int LengthMs = 0;           // trimmed length; 0 = to the end
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    std::string Zoom = "lbox";
    double FitSizeMB = 0;       // size to fit for this run; 0 = the profile's own
    int Jobs = 1;
    int Threads = -1;           // -1 or 0: the codecs choose
    std::string SettingsFile;   // empty: the default one
    std::string ProfilesFile;
    bool ListProfiles = false;
    std::string InfoFile;
    int LogLevel = 1;           // error: warnings and errors only
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Files;
};

// Reads the arguments after the program name; raises EUsageError.
TConvOptions ParseCommandLine(const std::vector<std::string>& Arguments);

// The help text, with the program name in the first line.
std::string UsageText(const std::string& Program);

// "Title 1.32" of the application's title and a version such as " ver 1.32 ".
std::string VersionText(const std::string& Title, const std::string& Version);
