// The command line of tarnconv.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be used; the message says why.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Log levels by name, in the component's order: quiet, error, info, debug, all.
int LogLevelFromName(const std::string& Name);  // -1 for an unknown name

struct TConvOptions {
    int Profile = -1;           // -1: "OutPutFormat" of the settings
    std::string OutputDir;      // empty: "OutPutDir" of the settings
    int StartMs = 0;            // trim start
    int LengthMs = 0;           // trimmed length; 0 = to the end
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    std::string Zoom = "lbox";
    int Jobs = 1;
    int Threads = -1;           // -1: one per core
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
