// A normal conversion at the default log level prints tarnconv's own lines
// and at most the warnings of the container it writes: every profile,
// through the built tarnconv.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"

namespace fs = std::filesystem;

namespace {

using namespace tarnconv_test;

// The names under which the output's muxer logs: the profile's container
// when the profile names one, and the one its extension stands for.
std::set<std::string> MuxerNames(const IniFile& Formats, int N) {
    std::set<std::string> Names = {ProfileFormat(Formats, N)};
    std::string Sample = "x." + ProfileFileExt(Formats, N);
    if (const AVOutputFormat* Format = av::av_guess_format(nullptr, Sample.c_str(), nullptr)) Names.insert(Format->name);
    return Names;
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        if (!Line.empty()) Result.push_back(Line);
    return Result;
}

}  // namespace

TEST(CleanLog, EveryProfileLogsOnlyItsContainersWarningsByDefault) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    fs::path Folder = ScratchFolder("CleanLog");
    fs::path Bin = fs::path(TARNCONV_PATH).parent_path();
    std::string Settings = (Folder / "settings.ini").string();
    fs::copy_file(Bin / "tarnmp4videoconverter.ini", Settings);
    IniFile Formats((Bin / "tarnmp4format.ini").string());

    // "[1] [ipod @ 55D8DD0552C0]Warning, ..." is a line of the first job's muxer.
    const std::regex Library(R"(^\[\d+\] \[([^ @\]]+) @ [0-9A-Fa-f]+\].*)");
    std::ostringstream Listing;
    // One second of the clip is enough: the options are applied before the
    // first packet. Two programs at a time, one codec thread each.
    const std::vector<int> Profiles = SweptProfiles(ClassicProfileCount);
    for (size_t N = 0; N < Profiles.size(); N += 2) {
        std::vector<std::unique_ptr<TRun>> Runs;
        for (size_t J = N; J < std::min(N + 2, Profiles.size()); ++J) {
            int K = Profiles[J];
            Runs.push_back(std::make_unique<TRun>(
                Folder, "p" + std::to_string(K),
                std::vector<std::string>{"--settings", Settings, "--threads", "1",
                                         "--length", "1000", "-p", std::to_string(K), "-o",
                                         (Folder / std::to_string(K)).string(), MediaPath("clip.mp4")}));
        }
        for (size_t I = 0; I < Runs.size(); ++I) {
            int K = Profiles[N + I];
            SCOPED_TRACE(std::to_string(K) + " " + ProfileNames[K]);
            EXPECT_EQ(Runs[I]->Wait(), 0) << Runs[I]->Err();
            // Progress and results go to stdout; no library line does.
            std::string Out = Runs[I]->Out();
            EXPECT_NE(Out.find("1 of 1 converted"), std::string::npos) << Out;
            for (const std::string& Line : Lines(Out))
                EXPECT_FALSE(std::regex_match(Line, Library)) << "library line on stdout: " << Line;
            std::set<std::string> Muxers = MuxerNames(Formats, K);
            std::vector<std::string> Logged = Lines(Runs[I]->Err());
            Listing << K << " " << ProfileNames[K] << ": " << Logged.size() << " line(s)\n";
            for (const std::string& Line : Logged) {
                Listing << "    " << Line << "\n";
                std::smatch Match;
                bool Container = std::regex_match(Line, Match, Library) && Muxers.count(Match[1].str()) > 0;
                EXPECT_TRUE(Container) << "not a warning of the container: " << Line;
            }
        }
    }
    std::cout << Listing.str();
}
