#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/ConsoleProgress.h"
#include "app/GlobalUnit.h"

namespace {
TConvOptions Parse(std::vector<std::string> Args) { return ParseCommandLine(Args); }

std::string UsageMessage(std::vector<std::string> Args) {
    try {
        ParseCommandLine(Args);
    } catch (const EUsageError& E) {
        return E.what();
    }
    return "<accepted>";
}
}  // namespace

TEST(CommandLine, DefaultsAndEveryOption) {
    TConvOptions D = Parse({"a.avi"});
    EXPECT_EQ(D.Profile, -1);
    EXPECT_EQ(D.OutputDir, "");
    EXPECT_EQ(D.Zoom, "lbox");
    EXPECT_EQ(D.Jobs, 1);
    EXPECT_EQ(D.Threads, -1);
    // Warnings and errors only, unless asked for more.
    EXPECT_EQ(D.LogLevel, LogLevelFromName("error"));
    EXPECT_FALSE(D.Version);

    TConvOptions O = Parse({"-p", "35", "--output-dir=out", "--start", "1500", "--length=2000", "--crop", "2, 4,6,8",
                            "--zoom", "cent", "-j", "2", "--threads", "0", "--log-level", "debug", "-q", "a.avi",
                            "--", "-b.avi"});
    EXPECT_EQ(O.Profile, 35);
    EXPECT_EQ(O.OutputDir, "out");
    EXPECT_EQ(O.StartMs, 1500);
    EXPECT_EQ(O.LengthMs, 2000);
    EXPECT_EQ(std::vector<int>({O.CropTop, O.CropBottom, O.CropLeft, O.CropRight}), std::vector<int>({2, 4, 6, 8}));
    EXPECT_EQ(O.Zoom, "cent");
    EXPECT_EQ(O.Jobs, 2);
    EXPECT_EQ(O.Threads, 0);
    EXPECT_EQ(O.LogLevel, 3);
    EXPECT_TRUE(O.Quiet);
    EXPECT_EQ(O.Files, (std::vector<std::string>{"a.avi", "-b.avi"}));
    // These need no input file.
    EXPECT_TRUE(Parse({"--list-profiles"}).ListProfiles);
    EXPECT_EQ(Parse({"--info", "x.mp4"}).InfoFile, "x.mp4");
    EXPECT_TRUE(Parse({"--version"}).Version);
    EXPECT_EQ(Parse({"--log-level=info", "a.avi"}).LogLevel, 2);

    EXPECT_NE(UsageText("tarnconv").find("error (warnings and errors; default)"), std::string::npos);

    EXPECT_EQ(VersionText(" Tarn ", "2.0"), "Tarn 2.0");
    EXPECT_EQ(VersionText("Tarn", "   "), "Tarn");
    TGlobalObject Global;
    EXPECT_EQ(VersionText(Global.AppTitle(), Global.AppVersion()), "Tarn MP4 Video Converter 1.32");
}

TEST(CommandLine, MistakesAreUsageErrors) {
    EXPECT_EQ(UsageMessage({}), "no input files");
    EXPECT_EQ(UsageMessage({"--frobnicate", "a.avi"}), "unknown option --frobnicate");
    EXPECT_EQ(UsageMessage({"a.avi", "-p"}), "-p wants a value");
    EXPECT_EQ(UsageMessage({"-p", "51", "a.avi"}), "-p wants a number from 0 to 50, not '51'");
    EXPECT_EQ(UsageMessage({"--length", "0", "a.avi"}), "--length wants a number from 1 to 2147483647, not '0'");
    EXPECT_EQ(UsageMessage({"--crop", "1,2,3", "a.avi"}), "--crop wants four sizes: top,bottom,left,right");
    EXPECT_EQ(UsageMessage({"--crop", "2,2,3,2", "a.avi"}), "--crop sizes must be even");
    EXPECT_EQ(UsageMessage({"--crop", "2,-2,4,2", "a.avi"}), "--crop wants a number from 0 to 65536, not '-2'");
    EXPECT_EQ(UsageMessage({"--zoom", "wide", "a.avi"}), "--zoom wants lbox, cent, full or orig, not 'wide'");
    EXPECT_EQ(UsageMessage({"--quiet=yes", "a.avi"}), "--quiet takes no value");
    EXPECT_EQ(UsageMessage({"--version=1"}), "--version takes no value");
    EXPECT_EQ(UsageMessage({"--log-level", "warning", "a.avi"}),
              "--log-level wants quiet, error, info, debug or all, not 'warning'");
    EXPECT_EQ(UsageMessage({"-o", "", "a.avi"}), "-o wants a folder");
}

TEST(ProgressText, ClockPercentAndLine) {
    EXPECT_EQ(FormatClock(0), "00:00:00");
    EXPECT_EQ(FormatClock(3723999), "01:02:03");
    EXPECT_EQ(FormatClock(100LL * 3600 * 1000), "100:00:00");
    EXPECT_EQ(FormatClock(-5), "00:00:00");
    EXPECT_EQ(ProgressPercent(1500, 3000), 50);
    EXPECT_EQ(ProgressPercent(2999, 3000), 99);
    EXPECT_EQ(ProgressPercent(4000, 3000), 100);
    EXPECT_EQ(ProgressPercent(10, 0), -1);

    struct TCase {
        int64_t CurrentMs, TotalMs;
        double Speed;
        int64_t TimeLeftMs;
        bool Finished;
        size_t Width;
        const char* Line;
    } Cases[] = {
        {12000, 27000, 2.25, 6700, false, 0,
         "[2/3]  44% 00:00:12 / 00:00:27  2.00 MB  2.2x  left 00:00:06  holiday_(new).mp4"},
        {12000, 27000, 2.25, 6700, false, 12, "[2/3]  44% 0"},
        // Without a total there is no percentage and no time left.
        {12000, 0, 0, -1, false, 0, "[2/3]  --% 00:00:12  2.00 MB  holiday_(new).mp4"},
        // Before the speed is known, nothing stands for it.
        {400, 27000, 0, -1, false, 0, "[2/3]   1% 00:00:00 / 00:00:27  2.00 MB  holiday_(new).mp4"},
        // The last report came just before the end: a finished file is whole.
        {26960, 27000, 3.18, 12, true, 0, "[2/3] 100% 00:00:27 / 00:00:27  2.00 MB  3.2x  holiday_(new).mp4"},
        {12000, 0, 1.5, -1, true, 0, "[2/3] 100% 00:00:12 / 00:00:12  2.00 MB  1.5x  holiday_(new).mp4"},
    };
    for (const TCase& C : Cases) {
        TJobProgress P;
        P.Number = 2;
        P.Count = 3;
        P.CurrentMs = C.CurrentMs;
        P.TotalMs = C.TotalMs;
        P.Size = 2 * 1024 * 1024;
        P.Speed = C.Speed;
        P.TimeLeftMs = C.TimeLeftMs;
        P.Finished = C.Finished;
        P.Name = "holiday_(new).mp4";
        EXPECT_EQ(ProgressLine(P, C.Width), C.Line);
    }
}

TEST(ProgressText, SpeedFromTheFirstAndLatestSample) {
    TSpeedMeter M;
    auto T0 = TSpeedMeter::TClock::now();
    EXPECT_EQ(M.Speed(), 0);
    EXPECT_EQ(M.TimeLeftMs(1000), -1);
    M.Sample(T0, 1000);
    EXPECT_EQ(M.Speed(), 0);
    M.Sample(T0 + std::chrono::milliseconds(500), 2000);
    EXPECT_EQ(M.Speed(), 0);  // half a second says little while converting,
    EXPECT_DOUBLE_EQ(M.Speed(true), 2.0);  // but all there is once it is done
    M.Sample(T0 + std::chrono::milliseconds(1000), 3000);
    EXPECT_DOUBLE_EQ(M.Speed(), 2.0);
    EXPECT_EQ(M.TimeLeftMs(4000), 2000);
}
