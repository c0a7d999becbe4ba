// Scratch INI files and captured message boxes for the application tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/GlobalUnit.h"
#include "tests/TestMedia.h"

inline std::string WriteText(const std::filesystem::path& Path, const std::string& Text) {
    std::ofstream(Path) << Text;
    return Path.string();
}

// Collects every message box while it lives.
class TMessageCatcher {
public:
    struct TMessage {
        std::string Caption, Text;
        TMessageKind Kind;
    };
    TMessageCatcher() {
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind K) {
            Messages.push_back({C, T, K});
        });
    }
    ~TMessageCatcher() { SetMessageFunction({}); }
    std::vector<TMessage> Messages;
};

// Points HOME at a scratch folder while it lives, so that the default
// output folder lands there.
class THomeFolder {
public:
    explicit THomeFolder(const std::filesystem::path& Folder) {
        if (const char* Old = getenv("HOME")) FOld = Old;
        setenv("HOME", Folder.c_str(), 1);
    }
    ~THomeFolder() { setenv("HOME", FOld.c_str(), 1); }

private:
    std::string FOld;
};
