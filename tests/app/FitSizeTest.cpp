// A size to fit, through the real program: the file's byte count against
// the size asked for, its length read back by the libraries, and the runs
// that must be refused with their reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/OutputOptions.h"
#include "common/IniFile.h"
#include "tests/app/TarnconvSupport.h"

namespace {

using namespace tarnconv_test;

class FitSize : public TTarnconvTest {
protected:
    // The files the run left in Out, hidden ones included.
    std::vector<fs::path> Outputs(const fs::path& Out) {
        std::vector<fs::path> Found;
        if (fs::exists(Out))
            for (const auto& Entry : fs::directory_iterator(Out)) Found.push_back(Entry.path());
        return Found;
    }
};

// Sizes are decimal: 0.3 MB is 300,000 bytes; a binary reading (314,573)
// lands over the limit, which the upper bound catches. The sizes keep the
// picture's rate below what the plain test pattern can use at all.
TEST_F(FitSize, OutputsLandWithinThreePercentUnderTheSize) {
    struct TRow {
        int LengthMs;
        const char* Size;
        int64_t Bytes;
        const char* Profile = "44";
    };
    // The chat profile (x264), its picture as the source's 320x240, sound at
    // 96 kbit/s; and VP9, whose first pass hands its statistics over only
    // when it is flushed.
    const TRow Rows[] = {{4000, "0.1", 100000},  {4000, "0.14", 140000}, {8000, "0.15", 150000},
                         {8000, "0.28", 280000}, {16000, "0.3", 300000}, {16000, "0.5", 500000},
                         {4000, "0.1", 100000, "43"}};
    IniFile(Settings).WriteString("formatInfo44", "paraAudioBitRate", "96");
    int Case = 0;
    for (const TRow& R : Rows) {
        SCOPED_TRACE(std::string("profile ") + R.Profile + ", " + std::to_string(R.LengthMs) + " ms in " + R.Size +
                     " MB");
        const fs::path Out = Folder / ("out" + std::to_string(Case++));
        std::string Err;
        ASSERT_EQ(RunToEnd(Folder, "run", Args({"-q", "-p", R.Profile, "--fit-size", R.Size, "--length",
                                                std::to_string(R.LengthMs), "-o", Out.string(),
                                                MediaPath("fit16.mp4")}),
                           nullptr, &Err),
                  0)
            << Err;
        const std::vector<fs::path> Files = Outputs(Out);
        ASSERT_EQ(Files.size(), 1u) << "one file and no pass logs or temporary files";
        const int64_t Bytes = static_cast<int64_t>(fs::file_size(Files[0]));
        EXPECT_LE(Bytes, R.Bytes);
        EXPECT_GE(Bytes, R.Bytes * 97 / 100);
        const TScan Scan = ScanFile(Files[0].string());
        ASSERT_TRUE(Scan.Opened);
        EXPECT_EQ(Scan.DecodeErrors, 0);
        EXPECT_NEAR(Scan.VideoFrames, R.LengthMs * 15 / 1000, 2);
        for (const auto& [Stream, EndUs] : Scan.EndUs) EXPECT_NEAR(EndUs / 1000, R.LengthMs, 150) << Stream;
    }
}

TEST_F(FitSize, RunsThatCannotFitSayWhyAndWriteNothing) {
    struct TRow {
        std::vector<std::string> Arguments;
        int Status;
        std::vector<std::string> Reason;  // parts of the message
        const char* Source = "fit16.mp4";
    };
    const TRow Rows[] = {
        // 16 s of sound at 128 kbit/s are 0.256 MB.
        {{"-p", "44", "--fit-size", "0.2"}, 1, {"00:00:16", "128 kbit/s", "0.200 MB"}},
        {{"-p", "44", "--fit-size", "0.26", "--length", "16000"}, 1, {"00:00:16", "128 kbit/s", "0.260 MB", "no room"}},
        // A sound-only profile has no picture to fit.
        {{"-p", "46", "--fit-size", "1"}, 2, {"--fit-size", "profile 46", "sound only"}},
        {{"-p", "44", "--fit-size", "1,5"}, 2, {"--fit-size", "1,5"}},
        {{"-p", "44", "--fit-size", "0"}, 2, {"--fit-size"}},
        // A file without a picture has no rate to set.
        {{"-p", "44", "--fit-size", "0.3"}, 1, {"no picture"}, "tone.wav"},
    };
    int Case = 0;
    for (const TRow& R : Rows) {
        const fs::path Out = Folder / ("out" + std::to_string(Case++));
        std::vector<std::string> A = R.Arguments;
        A.insert(A.end(), {"-q", "-o", Out.string(), MediaPath(R.Source)});
        std::string Err;
        EXPECT_EQ(RunToEnd(Folder, "run", Args(A), nullptr, &Err), R.Status) << Err;
        for (const std::string& Part : R.Reason) EXPECT_NE(Err.find(Part), std::string::npos) << Part << " in " << Err;
        EXPECT_TRUE(Outputs(Out).empty()) << Err;
    }
}

}  // namespace
