#include "gui/StartOptions.h"

#include "app/CommandLine.h"

TStartOptions ParseStartOptions(const std::vector<std::string>& Arguments) {
    TStartOptions O;
    bool OptionsEnd = false;
    for (size_t I = 0; I < Arguments.size(); ++I) {
        std::string A = Arguments[I];
        if (OptionsEnd || A.empty() || A[0] != '-' || A == "-") {
            O.Files.push_back(A);
            continue;
        }
        if (A == "--") {
            OptionsEnd = true;
            continue;
        }
        std::string Value;
        bool Inline = false;
        if (A.rfind("--", 0) == 0 && A.find('=') != std::string::npos) {
            Value = A.substr(A.find('=') + 1);
            A = A.substr(0, A.find('='));
            Inline = true;
        }
        auto Next = [&]() -> std::string {
            if (!Inline) {
                if (I + 1 >= Arguments.size()) throw EUsageError(A + " wants a file");
                Value = Arguments[++I];
            }
            if (Value.empty()) throw EUsageError(A + " wants a file");
            return Value;
        };
        if (A == "--settings")
            O.SettingsFile = Next();
        else if (A == "--profiles")
            O.ProfilesFile = Next();
        else if ((A == "-h" || A == "--help") && !Inline)
            O.Help = true;
        else if (A == "--help")
            throw EUsageError("--help takes no value");
        else
            throw EUsageError("unknown option " + A);
    }
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
