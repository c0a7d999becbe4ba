// Speed and time left of a batch: paused time does not count, a finished
// job counts whole, and a job of unknown length counts once it reports one.
#include <gtest/gtest.h>

#include <functional>

#include "app/BatchProgress.h"

namespace {

using TClock = TBatchProgress::TClock;

TClock::time_point At(int Seconds) { return TClock::time_point() + std::chrono::seconds(Seconds); }

}  // namespace

TEST(BatchProgress, SpeedAndTimeLeftCountNoPausedTime) {
    TBatchProgress P;
    P.Start({10000, 20000}, At(0));
    struct TStep {
        const char* What;
        std::function<void()> Act;
        double Speed;  // of job 0
        int64_t JobLeft, BatchLeft;
        const char* Pace;  // the bar's text after the percentage
    } Steps[] = {
        {"one report: nothing is known yet", [&] { P.Report(0, 2000, 10000, At(1)); }, 0, -1, -1, ""},
        {"two reports", [&] { P.Report(0, 4000, 10000, At(2)); }, 2.0, 3000, (6000 + 20000) / 2,
         "2.0x, 00:00:03 left, batch 00:00:13"},
        {"paused: the bar says so", [&] { P.Pause(At(2)); }, 2.0, 3000, (6000 + 20000) / 2, "Paused"},
        {"resumed: the pace as it was", [&] { P.Resume(At(5)); }, 2.0, 3000, (6000 + 20000) / 2,
         "2.0x, 00:00:03 left, batch 00:00:13"},
        {"ten seconds paused count for nothing",
         [&] {
             P.Pause(At(5));
             P.Resume(At(15));
             P.Report(0, 6000, 10000, At(16));
         },
         2.0, 2000, (4000 + 20000) / 2, "2.0x, 00:00:02 left, batch 00:00:12"},
        // 8 s of media in 3 s of work.
        {"a finished job counts whole", [&] { P.Finished(0, At(17)); }, 2.0, 0, 20000 * 3 / 8,
         "2.0x, 00:00:00 left, batch 00:00:07"},
        {"reports while paused stand still",
         [&] {
             P.Pause(At(17));
             P.Report(1, 0, 20000, At(100));
         },
         2.0, 0, 20000 * 3 / 8, "Paused"},
    };
    for (const TStep& S : Steps) {
        SCOPED_TRACE(S.What);
        S.Act();
        EXPECT_DOUBLE_EQ(P.Speed(0), S.Speed);
        EXPECT_EQ(P.JobLeftMs(0), S.JobLeft);
        EXPECT_EQ(P.BatchLeftMs(), S.BatchLeft);
        EXPECT_EQ(P.PaceText(), S.Pace);
    }

    // A trimmed file: 10 s cut from a longer one count 0 to 10 s; the 3 s
    // spent reaching the trim start before anything is written are not slow
    // converting, and the last report's overshoot by a frame counts as the
    // length.
    TBatchProgress Trimmed;
    Trimmed.Start({10000}, At(0));
    Trimmed.Report(0, 0, 10000, At(0));
    Trimmed.Report(0, 0, 10000, At(3));
    Trimmed.Report(0, 2000, 10000, At(4));
    Trimmed.Report(0, 6000, 10000, At(5));
    EXPECT_DOUBLE_EQ(Trimmed.Speed(0), 3.0);  // 6 s of media since the last report at 0
    EXPECT_EQ(Trimmed.JobLeftMs(0), 4000 / 3);
    EXPECT_EQ(Trimmed.PaceText(), "3.0x, 00:00:01 left, batch 00:00:01");
    Trimmed.Report(0, 10040, 10000, At(6));
    EXPECT_EQ(Trimmed.JobLeftMs(0), 0);
    EXPECT_DOUBLE_EQ(Trimmed.Speed(0), 10000.0 / 3000);

    TBatchProgress Unknown;
    Unknown.Start({0, 5000}, At(0));
    Unknown.Report(1, 1000, 5000, At(1));
    Unknown.Report(1, 2000, 5000, At(2));
    EXPECT_EQ(Unknown.BatchLeftMs(), 3000);
    Unknown.Report(0, 500, 3000, At(3));  // the converter gives the length
    EXPECT_EQ(Unknown.BatchLeftMs(), (2500 + 3000) * 2000 / 1500);  // 1500 ms of media in 2 s
    EXPECT_EQ(Unknown.JobLeftMs(7), -1);

    EXPECT_EQ(BatchProgressText(2.0, 3000, 14000), "2.0x, 00:00:03 left, batch 00:00:14");
    EXPECT_EQ(BatchProgressText(12.4, -1, 3723000), "12x, batch 01:02:03");
    EXPECT_EQ(BatchProgressText(0, -1, -1), "");
}
