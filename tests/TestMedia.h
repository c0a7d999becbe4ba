// Where the tests find the generated media and scratch folders.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

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

// The profiles a sweep converts, out of the first Count. All of them unless
// TARN_PROFILE_SWEEP is "families" (the sanitizer suites): then one of each
// family of container, encoders, sizes and rates, since the others run the
// same code with other numbers.
inline std::vector<int> SweptProfiles(int Count) {
    static const int Families[] = {0, 1, 5, 16, 17, 19, 21, 23, 25, 27, 29, 30, 32, 33, 34, 35};
    const char* Sweep = std::getenv("TARN_PROFILE_SWEEP");
    bool Sampled = Sweep && std::string(Sweep) == "families";
    std::vector<int> Profiles;
    for (int N = 0; N < Count; ++N)
        if (!Sampled || std::find(std::begin(Families), std::end(Families), N) != std::end(Families))
            Profiles.push_back(N);
    return Profiles;
}
