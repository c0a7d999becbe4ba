// Job list, options handling and the order of terminations. The jobs here
// have no output, so each fails at once with "Must supply at least one
// output file"; that is enough to see how a run is sequenced.
#include "engine/EngineState.h"
#include "tests/component/ComponentTestSupport.h"

namespace {

class ConverterTest : public ComponentTest {
protected:
    void AddJobs(int Count, const std::string& File = "short.avi") {
        for (int i = 0; i < Count; ++i) ASSERT_EQ(C.AddInputFile(MediaPath(File), nullptr), i) << C.LastError;
    }

    ConverterEvents Events;  // outlives the component, which may still log while it goes
    TVxAVConverter C;
};

const char* const NoOutput = "Must supply at least one output file";

}  // namespace

TEST_F(ConverterTest, PropertiesHaveTheirDefaultsAndLimits) {
    EXPECT_EQ(C.Version(), "2.2a");
    EXPECT_EQ(C.LogLevel(), llInfo);
    EXPECT_EQ(C.ProgressInterval(), 500);
    EXPECT_EQ(C.ThreadPriority(), tpNormal);
    EXPECT_EQ(C.ThreadCount(), 0);
    C.SetProgressInterval(50);
    EXPECT_EQ(C.ProgressInterval(), 100);
    C.SetProgressInterval(100);
    EXPECT_EQ(C.ProgressInterval(), 100);
    C.SetProgressInterval(250);
    EXPECT_EQ(C.ProgressInterval(), 250);
    EXPECT_EQ(C.JobCount(), 0);
}

TEST_F(ConverterTest, MissingInputLeavesNoJobAndTheEnginesMessage) {
    std::string Path = MediaPath("no-such-file.avi");
    TInputOptions Options;
    EXPECT_EQ(C.AddInputFile(Path, &Options), -1);
    EXPECT_EQ(C.LastError, Path + ": no such file or directory");
    EXPECT_EQ(C.JobCount(), 0);

    // An option's failure is reported the same way.
    TInputOptions Bad;
    Bad.ForceFormat = "nonsense";
    EXPECT_EQ(C.AddInputFile(MediaPath("short.avi"), &Bad), -1);
    EXPECT_EQ(C.LastError, "Unknown input format: nonsense");
    EXPECT_EQ(C.JobCount(), 0);
}

TEST_F(ConverterTest, AddInputFileWritesThePathIntoTheCallersRecordAndAttachesTheProbe) {
    TInputOptions Options;
    Options.ExtraOptions = "vn=1";
    std::string Path = MediaPath("clip.avi");
    ASSERT_EQ(C.AddInputFile(Path, &Options), 0) << C.LastError;
    EXPECT_EQ(Options.FileName, Path);
    EXPECT_EQ(C.Job(0).InputOptions.FileName, Path);
    EXPECT_EQ(C.Job(0).InputOptions.ExtraOptions, "vn=1");
    EXPECT_EQ(C.Job(0).Index, 0);
    TAVProbe& Probe = C.GetJobProbe(0);
    EXPECT_FALSE(Probe.OwnsContext());
    EXPECT_EQ(Probe.Context(), C.Job(0).InputFile(0));
    EXPECT_EQ(Probe.VideoStreamCount(), 1);
    EXPECT_EQ(Probe.AudioStreamCount(), 1);

    // A caller's own name stays.
    TInputOptions Named;
    Named.FileName = "kept";
    ASSERT_EQ(C.AddInputFile(Path, &Named), 1);
    EXPECT_EQ(Named.FileName, "kept");
}

TEST_F(ConverterTest, ThreadCountReachesEveryJobBeforeItsInputOpens) {
    C.SetThreadCount(2);
    ASSERT_EQ(C.AddInputFile(MediaPath("short.avi"), nullptr), 0);
    EXPECT_EQ(C.Job(0).Settings.ThreadCount, 2);
    for (AVCodecContext* Codec : C.Job(0).State().InputCodecs[0]) EXPECT_EQ(Codec->thread_count, 2);
    TOutputOptions Out;
    Out.VideoCodec = "libx264";
    ASSERT_TRUE(C.SetOutputFile(0, (ScratchFolder("Threads") / "out.mp4").string(), &Out)) << C.LastError;
    // Checked, the job waits holding no file; its thread count stays for
    // the files it opens when it starts.
    EXPECT_EQ(C.Job(0).State().OutputFileCount, 0);
    EXPECT_EQ(C.Job(0).State().InputFileCount, 0);
    EXPECT_EQ(C.Job(0).Settings.ThreadCount, 2);
    C.SetThreadCount(-3);
    EXPECT_EQ(C.ThreadCount(), 1);
    // The engine option stays refused.
    TInputOptions Options;
    Options.ExtraOptions = "threads=2";
    EXPECT_EQ(C.AddInputFile(MediaPath("short.avi"), &Options), -1);
    EXPECT_EQ(C.JobCount(), 1);
}

TEST_F(ConverterTest, FailedOutputKeepsTheJobAndReportsTheMessage) {
    AddJobs(1);
    TOutputOptions Options;
    Options.CropTop = 3;
    std::string Out = (ScratchFolder("FailedOutput") / "out.avi").string();
    EXPECT_FALSE(C.SetOutputFile(0, Out, &Options));
    EXPECT_EQ(C.LastError, "Top crop size must be a multiple of 2");
    EXPECT_EQ(C.JobCount(), 1);
    EXPECT_EQ(C.Job(0).State().OutputFileCount, 0);
    TOutputOptions Copy;
    C.GetOutputOptions(0, Copy);
    EXPECT_EQ(Copy.CropTop, 3);
    EXPECT_EQ(Copy.FileName, Out);
    EXPECT_EQ(Options.FileName, Out);
}

TEST_F(ConverterTest, HookRangesReachTheEngineUnlessAHookEventIsChosen) {
    AddJobs(2);
    TOutputOptions Ranges;
    Ranges.HookRanges = "10000-15000, 0-5000, abc";
    ASSERT_TRUE(C.SetOutputFile(0, (ScratchFolder("Ranges") / "a.avi").string(), &Ranges)) << C.LastError;
    ASSERT_EQ(C.Job(0).State().HookRanges.size(), 2u);
    EXPECT_EQ(C.Job(0).State().HookRanges[0].RangeEnd, 5000000);
    EXPECT_EQ(C.Job(0).State().HookRangeCount, 2);
    EXPECT_FALSE(C.Job(0).OnCustomHook);

    TOutputOptions Custom = Ranges;
    Custom.CustomHook = true;
    ASSERT_TRUE(C.SetOutputFile(1, (ScratchFolder("Ranges2") / "b.avi").string(), &Custom)) << C.LastError;
    EXPECT_TRUE(C.Job(1).State().HookRanges.empty());
    EXPECT_TRUE(C.Job(1).OnCustomHook);
    EXPECT_FALSE(C.Job(1).OnBeforeHook);

    // Both: the before hook picks the pictures the custom hook sees.
    ASSERT_EQ(C.AddInputFile(MediaPath("short.avi"), nullptr), 2) << C.LastError;
    Custom.BeforeHook = true;
    ASSERT_TRUE(C.SetOutputFile(2, (ScratchFolder("Ranges3") / "c.avi").string(), &Custom)) << C.LastError;
    EXPECT_TRUE(C.Job(2).OnCustomHook);
    EXPECT_TRUE(C.Job(2).OnBeforeHook);
}

TEST_F(ConverterTest, AudioOnlyInputWithVcdTargetHasNoFrameRate) {
    ASSERT_EQ(C.AddInputFile(MediaPath("tone.mp3"), nullptr), 0) << C.LastError;
    TOutputOptions Options;
    Options.Target = 1;
    Options.TargetNorm = 0;
    EXPECT_FALSE(C.SetOutputFile(0, (ScratchFolder("Vcd") / "out.mpg").string(), &Options));
    EXPECT_EQ(C.LastError, "frame_rate is invalid.");
}

TEST_F(ConverterTest, OutputWithoutRecordGetsDefaultsAndCreatesTheOutput) {
    AddJobs(1);
    std::string Out = (ScratchFolder("NoRecord") / "out.avi").string();
    EXPECT_TRUE(C.SetOutputFile(0, Out, nullptr)) << C.LastError;
    // Created and checked, then closed again: nothing is written before the
    // job starts.
    EXPECT_EQ(C.Job(0).State().OutputFileCount, 0);
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(Out).parent_path()));
    TOutputOptions Copy;
    SetFixedText(Copy.Title, "dirty");
    C.GetOutputOptions(0, Copy);
    EXPECT_EQ(FixedText(Copy.Title), "");
    EXPECT_TRUE(Copy.FileName.empty());
}

TEST_F(ConverterTest, BadIndexesRaiseTheListError) {
    AddJobs(1);
    TOutputOptions Options;
    try {
        C.SetOutputFile(3, "x.avi", &Options);
        FAIL() << "no exception";
    } catch (const std::out_of_range& E) {
        EXPECT_STREQ(E.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(C.GetOutputOptions(-1, Options), std::out_of_range);
    EXPECT_THROW(C.GetJobProbe(1), std::out_of_range);
    EXPECT_THROW(C.DeleteJob(1), std::out_of_range);
    EXPECT_EQ(C.JobCount(), 1);
}

TEST_F(ConverterTest, DeleteJobRenumbersTheLaterJobs) {
    ASSERT_EQ(C.AddInputFile(MediaPath("short.avi"), nullptr), 0);
    ASSERT_EQ(C.AddInputFile(MediaPath("clip.avi"), nullptr), 1);
    ASSERT_EQ(C.AddInputFile(MediaPath("tone.mp3"), nullptr), 2);
    C.DeleteJob(0);
    ASSERT_EQ(C.JobCount(), 2);
    EXPECT_EQ(C.Job(0).Index, 0);
    EXPECT_EQ(C.Job(1).Index, 1);
    EXPECT_EQ(C.GetJobProbe(0).GetFileName(), MediaPath("clip.avi"));
    EXPECT_EQ(C.GetJobProbe(1).GetFileName(), MediaPath("tone.mp3"));
    C.ClearJobs();
    EXPECT_EQ(C.JobCount(), 0);
    EXPECT_TRUE(C.LastError.empty());
}

TEST_F(ConverterTest, StartWithoutJobsRaisesNothing) {
    Events.Attach(C);
    TestLoop Loop;
    Loop.Attach(C);
    C.Start(1);
    C.Start(0);
    C.Start(3);
    auto Until = Clock::now() + std::chrono::milliseconds(300);
    Loop.RunUntil([&] { return Clock::now() > Until; });
    EXPECT_TRUE(Events.Order().empty());
    EXPECT_TRUE(Loop.Delays.empty());
}

TEST_F(ConverterTest, SequentialRunEndsEachJobThenTheRun) {
    AddJobs(3);
    Events.Attach(C);
    C.Start(1);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_EQ(Events.Order(), (std::vector<int>{0, 1, 2, -1}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(Events.Terminations[i].Finished);
        EXPECT_TRUE(Events.Terminations[i].Exception);
        EXPECT_EQ(Events.Terminations[i].Message, NoOutput);
    }
    auto& Final = Events.Terminations[3];
    EXPECT_TRUE(Final.Finished);
    EXPECT_FALSE(Final.Exception);
    EXPECT_EQ(Final.Message, "");
    // The engine's exception line reaches OnLog as llQuiet with the job.
    auto Lines = Events.LinesContaining(NoOutput);
    ASSERT_EQ(Lines.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Lines[i].Index, i);
        EXPECT_EQ(Lines[i].Level, llQuiet);
    }
    // A job runs once: starting again raises nothing.
    C.Start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Events.Order().size(), 4u);
}

TEST_F(ConverterTest, StopBeforeStartEndsEveryJobFromThreadsOfTheirOwn) {
    AddJobs(2);
    Events.Attach(C);
    pid_t Self = gettid();
    C.Stop();
    ASSERT_TRUE(Events.WaitForFinal());
    {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        ASSERT_EQ(Events.Terminations.size(), 3u);
        std::vector<int> Jobs = {Events.Terminations[0].Index, Events.Terminations[1].Index};
        std::sort(Jobs.begin(), Jobs.end());
        EXPECT_EQ(Jobs, (std::vector<int>{0, 1}));
        for (int i = 0; i < 2; ++i) {
            auto& T = Events.Terminations[i];
            EXPECT_FALSE(T.Finished);
            EXPECT_FALSE(T.Exception);
            EXPECT_EQ(T.Message, "");
            EXPECT_NE(T.Thread, Self);
        }
        EXPECT_NE(Events.Terminations[0].Thread, Events.Terminations[1].Thread);
        EXPECT_EQ(Events.Terminations[2].Index, -1);
        EXPECT_TRUE(Events.Terminations[2].Finished);
    }
    // Stopped jobs do not start any more, and a second Stop does nothing.
    C.Stop();
    C.Start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Events.Order().size(), 3u);
}

TEST_F(ConverterTest, StartZeroRunsEachJobOnTheOwnersThreadAfter100ms) {
    AddJobs(2);
    Events.Attach(C);
    TestLoop Loop;
    Loop.Attach(C);
    pid_t Self = gettid();
    auto Started = Clock::now();
    C.Start(0);
    EXPECT_TRUE(Events.Order().empty());  // nothing runs inside Start
    ASSERT_TRUE(Loop.RunUntil([&] {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        return Events.HasFinal();
    }));
    EXPECT_EQ(Events.Order(), (std::vector<int>{0, 1, -1}));
    EXPECT_EQ(Loop.Delays, (std::vector<int>{100, 100}));
    for (auto& T : Events.Terminations) EXPECT_EQ(T.Thread, Self);
    using std::chrono::milliseconds;
    EXPECT_GE(Events.Terminations[0].Time - Started, milliseconds(100));
    EXPECT_GE(Events.Terminations[1].Time - Events.Terminations[0].Time, milliseconds(100));
    EXPECT_EQ(C.Job(0).ThreadID, Self);
}

TEST_F(ConverterTest, StartZeroWithoutPostHookStillRunsOneJobAtATime) {
    AddJobs(3);
    Events.Attach(C);
    pid_t Self = gettid();
    auto Started = Clock::now();
    C.Start(0);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_EQ(Events.Order(), (std::vector<int>{0, 1, 2, -1}));
    std::lock_guard<std::mutex> Guard(Events.Lock);
    auto Previous = Started;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(Events.Terminations[i].Thread, Self);
        EXPECT_EQ(Events.Terminations[i].Thread, Events.Terminations[0].Thread);
        EXPECT_GE(Events.Terminations[i].Time - Previous, std::chrono::milliseconds(100));
        Previous = Events.Terminations[i].Time;
    }
}

TEST_F(ConverterTest, StopDuringStartZeroEndsTheWaitingJobsOnce) {
    AddJobs(3);
    Events.Attach(C);
    TestLoop Loop;
    Loop.Attach(C);
    C.Start(0);
    C.Stop();  // before the first timer fires
    ASSERT_TRUE(Loop.RunUntil([&] {
        std::lock_guard<std::mutex> Guard(Events.Lock);
        return Events.HasFinal();
    }));
    auto Until = Clock::now() + std::chrono::milliseconds(300);
    Loop.RunUntil([&] { return Clock::now() > Until; });
    auto Order = Events.Order();
    ASSERT_EQ(Order.size(), 4u);
    EXPECT_EQ(Order.back(), -1);
    std::sort(Order.begin(), Order.end() - 1);
    EXPECT_EQ(Order, (std::vector<int>{0, 1, 2, -1}));
    std::lock_guard<std::mutex> Guard(Events.Lock);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Events.Terminations[i].Exception);  // never ran
}

TEST_F(ConverterTest, HandlersMayEmptyTheListFromTheFinalEvent) {
    AddJobs(2);
    Events.Attach(C);
    Events.OnTerminateHook = [&](int AIndex) {
        if (AIndex == -1) C.ClearJobs();
    };
    C.Start(2);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_EQ(C.JobCount(), 0);
    EXPECT_EQ(Events.Order().size(), 3u);
}

TEST_F(ConverterTest, ComponentGoesAwayWhileStoppedJobsStillReportTheirEnd) {
    auto Owned = std::make_unique<TVxAVConverter>();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Owned->AddInputFile(MediaPath("short.avi"), nullptr), i);
    Events.Attach(*Owned);
    Owned->Stop();
    Owned.reset();  // waits for the terminate threads; no event after this
    size_t Seen = Events.Order().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Events.Order().size(), Seen);
}

TEST_F(ConverterTest, HandlerThatThrowsDoesNotStopTheRun) {
    AddJobs(2);
    Events.Attach(C);
    Events.OnTerminateHook = [](int AIndex) {
        if (AIndex == 0) throw std::runtime_error("handler failure");
    };
    C.Start(1);
    ASSERT_TRUE(Events.WaitForFinal());
    EXPECT_EQ(Events.Order(), (std::vector<int>{1, -1}));  // 0 threw before it was recorded
}
