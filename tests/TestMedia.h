// Where the tests find the generated media and scratch folders.
#pragma once

#include <filesystem>
#include <string>

inline std::string MediaPath(const std::string& Name) {
    return (std::filesystem::path(TEST_MEDIA_DIR) / Name).string();
}

// A fresh, empty folder below the test binary's folder, named after the case.
inline std::filesystem::path ScratchFolder(const std::string& Name) {
    std::filesystem::path Folder = std::filesystem::path(TEST_BINARY_DIR) / "scratch" / Name;
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directories(Folder);
    return Folder;
}
