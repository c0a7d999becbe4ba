#include "gui/StartOptions.h"

#include "app/CommandLine.h"

TStartOptions ParseStartOptions(const std::vector<std::string>& Arguments) {
    TStartOptions O;
    WalkArguments(Arguments, O.Files, [&O](const std::string& A, TOptionValue& V) {
        auto File = [&] {
            std::string Value = V.Take("a file");
            if (Value.empty()) throw EUsageError(A + " wants a file");
            return Value;
        };
        if (A == "--settings")
            O.SettingsFile = File();
        else if (A == "--profiles")
            O.ProfilesFile = File();
        else if ((A == "-h" || A == "--help") && !V.Inline())
            O.Help = true;
        else if (A == "--help")
            throw EUsageError("--help takes no value");
        else
            throw EUsageError("unknown option " + A);
    });
    return O;
}

std::string StartUsageText(const std::string& Program) {
    return "Usage: " + Program + R"( [--settings FILE] [--profiles FILE] [FILE...]
Opens the converter's window and adds every FILE to its list.

      --settings FILE    settings file instead of tarnmp4videoconverter.ini
                         beside the program
      --profiles FILE    profile file instead of tarnmp4format.ini beside
                         the program
  -h, --help             show this text
      --                 everything after it is a file
)";
}
