#include "tests/engine/EngineTestSupport.h"

TEST_F(EngineTest, StartWithoutOutputFailsThroughItsEventsAndMakesNoThread) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    Engine.PrepareJob();
    EXPECT_EQ(Engine.Start(true, tpNormal), nullptr);
    EXPECT_TRUE(Events.Logged(-1, "Must supply at least one output file"));
    EXPECT_TRUE(Engine.ErrorOccurred);
    EXPECT_EQ(Engine.ErrorMessage, "Must supply at least one output file");
    EXPECT_EQ(Events.Terminations, 1);
    // Raised on the caller's thread: no worker was made.
    EXPECT_EQ(Events.TerminateThread, std::this_thread::get_id());
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_FALSE(Engine.Running);
}

TEST_F(EngineTest, StartAfterTerminationChangesNothing) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    Engine.PrepareJob();
    Engine.Start(false, tpNormal);
    ASSERT_EQ(Events.Terminations, 1);
    Engine.ErrorMessage = "kept";
    EXPECT_EQ(Engine.Start(true, tpNormal), nullptr);
    EXPECT_EQ(Engine.Start(false, tpNormal), nullptr);
    EXPECT_EQ(Events.Terminations, 1);
    EXPECT_EQ(Engine.ErrorMessage, "kept");
    // PrepareJob makes it ready again and clears the error flag only.
    Engine.PrepareJob();
    EXPECT_FALSE(Engine.ErrorOccurred);
    EXPECT_FALSE(Engine.Terminated);
    EXPECT_EQ(Engine.ErrorMessage, "kept");
}

TEST_F(EngineTest, StartWhileRunningChangesNothing) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    Engine.PrepareJob();
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("short.avi"))) << Engine.ErrorText;
    ASSERT_TRUE(Engine.OpenOutputFile((ScratchFolder("StartWhileRunning") / "out.avi").string())) << Engine.ErrorText;
    TFFmpegThread* Worker = Engine.Start(true, tpNormal);
    ASSERT_NE(Worker, nullptr);
    EXPECT_TRUE(Engine.Running);
    // The worker waits to be resumed: the job is running but has done nothing.
    EXPECT_EQ(Engine.Start(true, tpNormal), nullptr);
    EXPECT_EQ(Engine.Start(false, tpNormal), nullptr);
    EXPECT_EQ(Engine.WorkerThread, Worker);
    EXPECT_EQ(Engine.State().OutputFileCount, 1);
    EXPECT_EQ(Events.Terminations, 0);
    Worker->Resume();
    ASSERT_TRUE(Events.WaitForTermination());
    EXPECT_FALSE(Engine.Running);
    EXPECT_EQ(Events.Terminations, 1);
}

TEST_F(EngineTest, StopBeforeStartTerminatesOnceFromAnotherThread) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    Engine.PrepareJob();
    Engine.Stop();
    ASSERT_TRUE(Events.WaitForTermination());
    EXPECT_NE(Events.TerminateThread, std::this_thread::get_id());
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_FALSE(Engine.ErrorOccurred);
    Engine.Stop();
    Engine.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Events.Terminations, 1);
}

TEST_F(EngineTest, QuickRepeatedStopsStillTerminateOnce) {
    for (int Round = 0; Round < 20; ++Round) {
        auto* Engine = new TCustomFFmpeg;
        EngineEvents Events;
        Events.Attach(*Engine);
        Engine->PrepareJob();
        Engine->Stop();
        Engine->Stop();
        ASSERT_TRUE(Events.WaitForTermination());
        delete Engine;  // waits for the terminate thread to return
        EXPECT_EQ(Events.Terminations, 1);
    }
}

TEST_F(EngineTest, EngineFreedInsideItsOwnTerminationIsSafe) {
    auto* Engine = new TCustomFFmpeg;
    std::mutex Lock;
    std::condition_variable Done;
    bool Freed = false;
    Engine->PrepareJob();
    Engine->OnTerminate = [&](TCustomFFmpeg* Sender) {
        delete Sender;
        std::lock_guard<std::mutex> Guard(Lock);
        Freed = true;
        Done.notify_all();
    };
    Engine->Stop();
    std::unique_lock<std::mutex> Guard(Lock);
    EXPECT_TRUE(Done.wait_for(Guard, std::chrono::seconds(10), [&] { return Freed; }));
}

TEST(EngineWithoutLibraries, LibraryLogLevelsFollowTheOldScale) {
    EXPECT_EQ(TCustomFFmpeg::LibraryLogLevel(-1), AV_LOG_QUIET);
    EXPECT_EQ(TCustomFFmpeg::LibraryLogLevel(0), AV_LOG_ERROR);
    EXPECT_EQ(TCustomFFmpeg::LibraryLogLevel(1), AV_LOG_INFO);
    EXPECT_EQ(TCustomFFmpeg::LibraryLogLevel(2), AV_LOG_DEBUG);
    EXPECT_EQ(TCustomFFmpeg::LibraryLogLevel(3), AV_LOG_TRACE);
}

TEST_F(EngineTest, HookRangesAreSortedByTheirEnd) {
    TCustomFFmpeg Engine;
    Engine.SetHookRanges({{10, 20}, {0, 5}, {30, 40}});
    ASSERT_EQ(Engine.State().HookRangeCount, 3);
    EXPECT_EQ(Engine.State().HookRanges[0].RangeEnd, 5);
    EXPECT_EQ(Engine.State().HookRanges[2].RangeEnd, 40);
    EXPECT_EQ(Engine.State().HookRangeIndex, 0);
}
