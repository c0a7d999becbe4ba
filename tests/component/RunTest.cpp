// Runs of real conversions: small generated clips into AVI files.
#include <filesystem>
#include <stdexcept>

#include "engine/EngineState.h"
#include "tests/component/ComponentTestSupport.h"

namespace {

class RunTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        C.SetProgressInterval(100);
        Events.Attach(C);
    }

    // A job from Input into an AVI file of the scratch folder.
    void AddJob(const std::string& Input, const std::string& Output, TOutputOptions Options = TOutputOptions()) {
        int Index = C.JobCount();
        ASSERT_EQ(C.AddInputFile(MediaPath(Input), nullptr), Index) << C.LastError;
        std::string Path = (Folder / Output).string();
        Outputs.push_back(Path);
        ASSERT_TRUE(C.SetOutputFile(Index, Path, &Options)) << C.LastError;
    }

    // A job slow enough to be caught running.
    void AddSlowJob(const std::string& Output) {
        TOutputOptions Options;
        Options.FrameSize = "640x480";
        AddJob("long35.avi", Output, Options);
    }

    void ExpectPlayable(const std::string& Path, int64_t DurationUs, bool WithAudio = true) {
        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(Path)) << Path << ": " << Probe.LastError();
        EXPECT_EQ(Probe.VideoStreamCount(), 1) << Path;
        EXPECT_EQ(Probe.AudioStreamCount(), WithAudio ? 1 : 0) << Path;
        TAVFileInfo Info;
        Probe.GetFileInfo(Info);
        EXPECT_NEAR(double(Info.Duration), double(DurationUs), 250000.0) << Path;
    }

    bool WaitForProgress(int Index, int Seconds = 60) {
        auto End = Clock::now() + std::chrono::seconds(Seconds);
        while (Clock::now() < End) {
            {
                std::lock_guard<std::mutex> Guard(Events.Lock);
                for (int I : Events.ProgressIndexes)
                    if (I == Index) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    size_t ProgressCount() {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        return Events.ProgressIndexes.size();
    }

    std::filesystem::path Folder = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::string> Outputs;
    ConverterEvents Events;  // outlives the component, which may still log while it goes
    TVxAVConverter C;
};

}  // namespace

TEST_F(RunTest, StartOneConvertsTheJobsOneAfterAnother) {
    for (int i = 0; i < 3; ++i) AddJob("short.avi", "out" + std::to_string(i) + ".avi");
    std::vector<bool> NextStartedEarly(3, false);
    Events.OnTerminateHook = [&](int AIndex) {
        if (AIndex >= 0 && AIndex < 2) NextStartedEarly[AIndex] = C.Job(AIndex + 1).ThreadID != 0;
    };
    pid_t Self = gettid();
    C.Start(1);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_EQ(Events.Order(), (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(NextStartedEarly, (std::vector<bool>{false, false, false}));
    {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        for (int i = 0; i < 3; ++i) {
            auto& T = Events.Terminations[i];
            EXPECT_TRUE(T.Finished) << i;
            EXPECT_FALSE(T.Exception) << i << ": " << T.Message;
            EXPECT_NE(T.Thread, Self);
        }
        EXPECT_NE(Events.Terminations[0].Thread, Events.Terminations[1].Thread);
    }
    // Not under the events' lock: the probe logs through the component.
    for (int i = 0; i < 3; ++i) ExpectPlayable(Outputs[i], 800000);
}

TEST_F(RunTest, StartTwoRunsTwoJobsTogetherAndTheThirdAfterTheFirstEnds) {
    for (int i = 0; i < 3; ++i) AddJob("clip.avi", "out" + std::to_string(i) + ".avi");
    int First = -2;
    bool OtherStarted = false, ThirdWaiting = false;
    Events.OnTerminateHook = [&](int AIndex) {
        if (First != -2 || AIndex < 0) return;
        First = AIndex;
        OtherStarted = C.Job(1 - AIndex).ThreadID != 0 && !C.Job(1 - AIndex).Terminated;
        ThirdWaiting = C.Job(2).ThreadID == 0;
    };
    C.Start(2);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_TRUE(First == 0 || First == 1) << First;
    EXPECT_TRUE(OtherStarted);
    EXPECT_TRUE(ThirdWaiting);
    EXPECT_NE(C.Job(0).ThreadID, C.Job(1).ThreadID);
    auto Order = Events.Order();
    ASSERT_EQ(Order.size(), 4u);
    EXPECT_EQ(Order.back(), -1);
    for (int i = 0; i < 3; ++i) ExpectPlayable(Outputs[i], 3000000);
}

TEST_F(RunTest, StartZeroConvertsOnTheOwnersThread) {
    AddJob("short.avi", "a.avi");
    AddJob("short.avi", "b.avi");
    TestLoop Loop;
    Loop.Attach(C);
    pid_t Self = gettid();
    C.Start(0);
    ASSERT_TRUE(Loop.RunUntil([&] {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        return Events.HasFinal();
    }));
    EXPECT_EQ(Events.Order(), (std::vector<int>{0, 1, -1}));
    {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        for (auto& T : Events.Terminations) EXPECT_EQ(T.Thread, Self);
        for (auto& L : Events.Lines) EXPECT_EQ(L.Thread, Self);
        EXPECT_TRUE(Events.Terminations[0].Finished);
        EXPECT_TRUE(Events.Terminations[1].Finished);
    }
    ExpectPlayable(Outputs[0], 800000);
    ExpectPlayable(Outputs[1], 800000);
}

TEST_F(RunTest, PausedJobsMakeNoProgressUntilResumed) {
    AddSlowJob("a.avi");
    AddSlowJob("b.avi");
    C.Start(2);
    ASSERT_TRUE(WaitForProgress(0));
    C.Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the current iteration ends
    size_t Before = ProgressCount();
    auto SizeA = WrittenSoFar(Outputs[0]);
    EXPECT_GE(SizeA, 0);  // the hidden file is there
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(ProgressCount(), Before);
    EXPECT_EQ(WrittenSoFar(Outputs[0]), SizeA);
    EXPECT_FALSE(Events.HasFinal());
    C.Resume();
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_GT(ProgressCount(), Before);
    std::lock_guard<std::mutex> Guard(Events.Lock);
    ASSERT_EQ(Events.Terminations.size(), 3u);
    EXPECT_TRUE(Events.Terminations[0].Finished);
    EXPECT_TRUE(Events.Terminations[1].Finished);
}

TEST_F(RunTest, StopDuringARunEndsEveryJobOnceAndThenTheRun) {
    for (int i = 0; i < 4; ++i) AddSlowJob("out" + std::to_string(i) + ".avi");
    C.Start(2);
    ASSERT_TRUE(WaitForProgress(0));
    C.Pause();  // a stop also ends paused jobs
    C.Stop();
    ASSERT_TRUE(Events.WaitForFinal());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto Order = Events.Order();
    ASSERT_EQ(Order.size(), 5u);
    EXPECT_EQ(Order.back(), -1);
    std::sort(Order.begin(), Order.end() - 1);
    EXPECT_EQ(Order, (std::vector<int>{0, 1, 2, 3, -1}));
    {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        for (int i = 0; i < 4; ++i) {
            EXPECT_FALSE(Events.Terminations[i].Finished);
            EXPECT_FALSE(Events.Terminations[i].Exception) << Events.Terminations[i].Message;
        }
    }
    // The stopped jobs still closed their files properly.
    TAVProbe Probe;
    EXPECT_TRUE(Probe.OpenFile(Outputs[0])) << Probe.LastError();
    // The empty output of a job that never ran goes with the job.
    C.ClearJobs();
    EXPECT_FALSE(std::filesystem::exists(Outputs[3]));
}

TEST_F(RunTest, EmptyingTheListInsideAnEventStopsTheOthersQuietly) {
    AddJob("short.avi", "quick.avi");
    AddSlowJob("slow.avi");
    AddSlowJob("never.avi");
    Events.OnTerminateHook = [&](int AIndex) {
        if (AIndex == 0) C.ClearJobs();
    };
    C.Start(2);
    auto End = Clock::now() + std::chrono::seconds(60);
    while (Events.Order().empty() && Clock::now() < End) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(Events.Order(), (std::vector<int>{0}));
    EXPECT_EQ(C.JobCount(), 0);
}

TEST_F(RunTest, DestroyingTheComponentStopsItsRunningJobs) {
    auto Owned = std::make_unique<TVxAVConverter>();
    ConverterEvents OwnedEvents;
    OwnedEvents.Attach(*Owned);
    Owned->SetProgressInterval(100);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Owned->AddInputFile(MediaPath("long35.avi"), nullptr), i);
        TOutputOptions Options;
        Options.FrameSize = "640x480";
        ASSERT_TRUE(Owned->SetOutputFile(i, (Folder / ("o" + std::to_string(i) + ".avi")).string(), &Options))
            << Owned->LastError;
    }
    Owned->Start(2);
    auto End = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < End) {
        {
            std::lock_guard<std::mutex> Guard(OwnedEvents.Lock);
            if (!OwnedEvents.ProgressIndexes.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto Started = Clock::now();
    Owned.reset();
    EXPECT_LT(Clock::now() - Started, std::chrono::seconds(20));
    EXPECT_FALSE(OwnedEvents.HasFinal());
}

TEST_F(RunTest, JobLogLinesCarryTheirIndex) {
    AddJob("short.avi", "a.avi");
    C.Start(1);
    ASSERT_TRUE(Events.WaitForFinal());
    std::lock_guard<std::mutex> Guard(Events.Lock);
    bool Attributed = false;
    for (auto& L : Events.Lines) Attributed |= L.Index == 0;
    EXPECT_TRUE(Attributed);
    EXPECT_FALSE(Events.ProgressIndexes.empty());
    for (int I : Events.ProgressIndexes) EXPECT_EQ(I, 0);
}

TEST_F(RunTest, CustomHookReachesTheHandlerWithTheJobIndex) {
    AddJob("short.avi", "plain.avi");
    TOutputOptions Hooked;
    Hooked.CustomHook = true;
    AddJob("short.avi", "hooked.avi", Hooked);
    std::mutex Lock;
    std::vector<int> Indexes;
    int Width = 0, Height = 0;
    C.OnCustomHook = [&](int AIndex, TBitmap* ABitmap, int, int64_t, bool&, bool&) {
        std::lock_guard<std::mutex> Guard(Lock);
        Indexes.push_back(AIndex);
        Width = ABitmap->Width();
        Height = ABitmap->Height();
    };
    C.Start(2);
    ASSERT_TRUE(Events.WaitForFinal());
    std::lock_guard<std::mutex> Guard(Lock);
    EXPECT_GE(Indexes.size(), 15u);
    for (int I : Indexes) EXPECT_EQ(I, 1);
    EXPECT_EQ(Width, 320);
    EXPECT_EQ(Height, 240);
}

TEST_F(RunTest, DeletingARunningJobRenumbersAndTheRunGoesOn) {
    AddSlowJob("slow.avi");
    AddJob("short.avi", "quick1.avi");
    AddJob("short.avi", "quick2.avi");
    bool Deleted = false;
    Events.OnTerminateHook = [&](int AIndex) {
        if (AIndex != 1 || Deleted) return;
        Deleted = true;
        C.DeleteJob(0);  // still running: it is stopped and leaves quietly
    };
    C.Start(2);
    ASSERT_TRUE(Events.WaitForFinal());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(Deleted);
    // The first quick job ended as 1; the last one ran as the new 1.
    EXPECT_EQ(Events.Order(), (std::vector<int>{1, 1, -1}));
    EXPECT_EQ(C.JobCount(), 2);
    EXPECT_EQ(C.Job(0).OutputOptions.FileName, Outputs[1]);
    EXPECT_EQ(C.Job(1).OutputOptions.FileName, Outputs[2]);
    EXPECT_EQ(C.Job(1).Index, 1);
    ExpectPlayable(Outputs[2], 800000);
}

TEST_F(RunTest, LogHandlerThatThrowsNeitherEndsTheProcessNorBlocksTheComponent) {
    // The second job has no output: its engine logs the failure from inside
    // its own start, which runs on the caller's thread, in the worker of the
    // job before, or in the owner's posted work.
    struct Case {
        const char* Name;
        int Concurrent;
        bool FirstConverts;
    };
    for (const Case& Row : {Case{"first start on the caller's thread", 1, false},
                            Case{"next start inside the worker of the job before", 1, true},
                            Case{"start on the owner's thread", 0, true}}) {
        SCOPED_TRACE(Row.Name);
        auto Owned = std::make_unique<TVxAVConverter>();
        ConverterEvents Seen;
        Seen.Attach(*Owned);
        Owned->OnLog = [&Seen](int AIndex, TLogLevel ALevel, const std::string& AMsg) {
            {
                std::lock_guard<std::mutex> Guard(Seen.Lock);
                Seen.Lines.push_back({AIndex, ALevel, AMsg, gettid()});
            }
            throw std::runtime_error("log handler failure");
        };
        TestLoop Loop;
        Loop.Attach(*Owned);
        ASSERT_EQ(Owned->AddInputFile(MediaPath("short.avi"), nullptr), 0) << Owned->LastError;
        if (Row.FirstConverts) {
            TOutputOptions Options;
            std::string Out = (Folder / (std::to_string(Row.Concurrent) + ".avi")).string();
            ASSERT_TRUE(Owned->SetOutputFile(0, Out, &Options)) << Owned->LastError;
        }
        ASSERT_EQ(Owned->AddInputFile(MediaPath("short.avi"), nullptr), 1) << Owned->LastError;

        EXPECT_NO_THROW(Owned->Start(Row.Concurrent));
        ASSERT_TRUE(Loop.RunUntil([&] {
            std::lock_guard<std::mutex> Guard(Seen.Lock);
            return Seen.HasFinal();
        }));
        EXPECT_EQ(Seen.Order(), (std::vector<int>{0, 1, -1}));
        {
            std::lock_guard<std::mutex> Guard(Seen.Lock);
            // A log line that failed its handler does not fail a running job.
            EXPECT_EQ(Seen.Terminations[0].Finished, Row.FirstConverts);
            EXPECT_EQ(Seen.Terminations[0].Exception, !Row.FirstConverts) << Seen.Terminations[0].Message;
            EXPECT_FALSE(Seen.Terminations[1].Finished);
            EXPECT_TRUE(Seen.Terminations[1].Exception);
            EXPECT_EQ(Seen.Terminations[1].Message, "Must supply at least one output file");
        }
        auto Failures = Seen.LinesContaining("Must supply at least one output file");
        ASSERT_FALSE(Failures.empty());
        EXPECT_EQ(Failures.back().Index, 1);
        EXPECT_EQ(Failures.back().Level, llQuiet);

        // Every job has reported its end, so the component goes at once.
        auto Going = Clock::now();
        Owned.reset();
        EXPECT_LT(Clock::now() - Going, std::chrono::seconds(5));
    }
}

TEST_F(RunTest, RequestedBitRatesReachTheEncodersAndTheOutput) {
    TOutputOptions Options;
    Options.VideoBitRate = 600000;
    Options.AudioBitRate = 96000;
    AddJob("clip.avi", "rates.avi", Options);
    // The encoders are made when the job starts; the log says whether they
    // took the rates, and the file's frames carry them.
    C.Start(1);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_TRUE(Events.LinesContaining("bitrate parameter").empty());
    {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        EXPECT_TRUE(Events.Terminations[0].Finished) << Events.Terminations[0].Message;
    }

    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Outputs[0])) << Probe.LastError();
    TAVAudioStreamInfo Audio;
    Probe.GetAudioStreamInfo(-1, Audio);
    EXPECT_EQ(Audio.BitRate, 96000);  // the MP3 frames' own rate
}
