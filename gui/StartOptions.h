// The command line of the windowed program:
//   tarnmp4videoconverter [--settings FILE] [--profiles FILE] [FILE...]
#pragma once

#include <string>
#include <vector>

struct TStartOptions {
    std::string SettingsFile;  // empty: the settings file beside the program
    std::string ProfilesFile;  // empty: the profile file beside the program
    bool Help = false;
    std::vector<std::string> Files;  // added once the main window shows
};

// Reads the arguments after the program name; raises EUsageError
// (app/CommandLine.h) for an unknown option or a missing value.
TStartOptions ParseStartOptions(const std::vector<std::string>& Arguments);

std::string StartUsageText(const std::string& Program);
