// Whole jobs: progress reports, hooks, stopping, failures in the middle of a
// job, and subtitles.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>

#include "tests/engine/TranscodeTestSupport.h"

namespace {

struct TProgress {
    int Frame, Fps, Duration;
    float Quality;
    int64_t Size;
};


}  // namespace

TEST_F(TranscodeTest, AudioOnlyProgressHasNoFrameFigures) {
    TCustomFFmpeg Engine;
    std::vector<TProgress> Reports;
    Engine.ProgressInterval = 0;
    Engine.OnProgress = [&](TCustomFFmpeg*, int F, int Fps, int D, float Q, float, int64_t Size, int) {
        Reports.push_back({F, Fps, D, Q, Size});
    };
    ASSERT_EQ(RunJob(Engine, MediaPath("tone.mp3"), Out("tone.wav")), "");
    ASSERT_FALSE(Reports.empty());
    for (const TProgress& R : Reports) {
        EXPECT_EQ(R.Frame, -1);
        EXPECT_EQ(R.Fps, -1);
        EXPECT_FLOAT_EQ(R.Quality, -1.0f);
    }
    EXPECT_NEAR(Reports.back().Duration, 3000, 60);
    EXPECT_GT(Reports.back().Size, 500000);
}

TEST_F(TranscodeTest, VideoProgressGrowsAndEndsWithTheByteTotals) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    std::vector<TProgress> Reports;
    Engine.ProgressInterval = 0;
    Engine.OnProgress = [&](TCustomFFmpeg*, int F, int Fps, int D, float Q, float, int64_t Size, int Total) {
        Reports.push_back({F, Fps, D, Q, Size});
        EXPECT_NEAR(Total, 3000, 100);
    };
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out("clip.avi"), Options({{"qscale", "4"}})), "");
    ASSERT_GT(Reports.size(), 10u);
    // The time is that of the stream furthest behind, once every stream
    // has one; from then on it only grows.
    for (size_t i = 1; i < Reports.size(); ++i) {
        EXPECT_GE(Reports[i].Frame, Reports[i - 1].Frame);
        if (i > Reports.size() / 2) {
            EXPECT_GE(Reports[i].Duration, Reports[i - 1].Duration);
        }
    }
    EXPECT_NEAR(Reports.back().Duration, 3000, 100);
    EXPECT_NEAR(Reports.back().Frame, 75, 1);
    EXPECT_NEAR(Reports.back().Quality, 4.0f, 0.5f);
    bool Totals = false;
    for (auto& [Level, Text] : Events.Lines)
        Totals |= Level == 1 && Text.rfind("video:", 0) == 0 && Text.find("muxing overhead") != std::string::npos;
    EXPECT_TRUE(Totals);

    // Without OnProgress the status line goes to the log.
    TCustomFFmpeg Logged;
    EngineEvents LoggedEvents;
    LoggedEvents.Attach(Logged);
    ASSERT_EQ(RunJob(Logged, MediaPath("clip.avi"), Out("clip2.mp4")), "");
    bool Status = false;
    for (auto& [Level, Text] : LoggedEvents.Lines) Status |= Text.rfind("frame=   75 fps=", 0) == 0;
    EXPECT_TRUE(Status);
}

TEST_F(TranscodeTest, CustomHookDrawsIntoTheOutput) {
    auto Corner = [&](const std::string& AFile) {
        double Sum = 0;
        bool Done = false;
        ReadBack(AFile, [&](const AVFrame* F) {
            if (Done) return;
            Done = true;
            for (int y = 4; y < 28; ++y)
                for (int x = 4; x < 60; ++x) Sum += LumaAt(F, x, y);
        });
        return Sum / (24 * 56);
    };
    auto Job = [&](const std::string& AName, bool AUpdate, bool AStop, int& ACalls, TBeforeHookEvent Gate = {}) {
        TCustomFFmpeg Engine;
        Engine.OnBeforeHook = Gate;
        Engine.OnCustomHook = [&, AUpdate, AStop](TCustomFFmpeg*, TBitmap* B, int, int64_t, bool& Update,
                                                  bool& Stop) {
            ++ACalls;
            for (int y = 0; y < 32; ++y) memset(B->ScanLine(y), 255, 64 * 3);
            Update = AUpdate;
            Stop = AStop;
        };
        EXPECT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out(AName), Options({{"qscale", "2"}, {"an", "1"}})), "");
    };
    int Drawn = 0, Untouched = 0, Stopped = 0;
    Job("drawn.avi", true, false, Drawn);
    Job("untouched.avi", false, false, Untouched);
    Job("stopped.avi", true, true, Stopped);
    // A before hook chooses the pictures the custom hook sees, and ends it.
    int Asked = 0, Gated = 0, Ended = 0;
    Job("gated.avi", false, false, Gated,
        [&](TCustomFFmpeg*, THookAction& Action, int64_t) { Action = ++Asked % 2 ? haIgnore : haContinue; });
    Job("ended.avi", false, false, Ended,
        [&](TCustomFFmpeg*, THookAction& Action, int64_t) { Action = Ended >= 10 ? haStop : haContinue; });
    EXPECT_EQ(Drawn, 75);
    EXPECT_EQ(Untouched, 75);
    EXPECT_EQ(Stopped, 1);
    EXPECT_EQ(Asked, 75);
    EXPECT_EQ(Gated, 37);
    EXPECT_EQ(Ended, 10);
    EXPECT_NEAR(Corner(Out("drawn.avi")), 235, 5);
    EXPECT_NEAR(Corner(Out("untouched.avi")), Corner(MediaPath("clip.avi")), 4);
}

TEST_F(TranscodeTest, CopiedVideoRefusesTheCustomHook) {
    TCustomFFmpeg Engine;
    Engine.OnCustomHook = [](TCustomFFmpeg*, TBitmap*, int, int64_t, bool&, bool&) {};
    EXPECT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out("x.avi"), Options({{"vcodec", "copy"}})),
              "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
}

TEST_F(TranscodeTest, StopWhilePausedStillWritesTheTrailer) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    std::mutex Lock;
    std::condition_variable Changed;
    int Reports = 0;
    Engine.ProgressInterval = 0;
    Engine.OnProgress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int) {
        std::lock_guard<std::mutex> Guard(Lock);
        ++Reports;
        Changed.notify_all();
    };
    // Rate emulation keeps the job running for its 35 seconds.
    Engine.SetOption("re", "1");
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("long35.avi")));
    ASSERT_TRUE(Engine.OpenOutputFile(Out("stopped.mp4")));
    TFFmpegThread* Worker = Engine.Start(true, tpNormal);
    ASSERT_NE(Worker, nullptr);
    Worker->Resume();
    {
        std::unique_lock<std::mutex> Guard(Lock);
        ASSERT_TRUE(Changed.wait_for(Guard, std::chrono::seconds(20), [&] { return Reports >= 5; }));
    }
    Engine.Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Engine.Stop();
    ASSERT_TRUE(Events.WaitForTermination(1, 30));
    EXPECT_FALSE(Engine.Finished);
    EXPECT_FALSE(Engine.ErrorOccurred) << Engine.ErrorMessage;
    TFileFacts Facts = ReadBack(Out("stopped.mp4"));
    ASSERT_TRUE(Facts.Opened);
    const TStreamFacts* V = Facts.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(V);
    EXPECT_GT(V->Frames, 0);
    EXPECT_LT(V->Frames, 35 * 25 / 2);
    EXPECT_EQ(V->DecodeErrors, 0);
}

TEST_F(TranscodeTest, FailureInTheMiddleReleasesEverything) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out("stats.avi"),
                     Options({{"vstats_file", (Folder / "missing" / "stats.log").string()}})),
              "fopen fail: " + (Folder / "missing" / "stats.log").string());
    EXPECT_EQ(Events.Terminations, 1);
    EXPECT_TRUE(Engine.ErrorOccurred);
    EXPECT_TRUE(Engine.State().OpenEncoders.empty());
    EXPECT_TRUE(Engine.State().OpenDecoders.empty());
    EXPECT_EQ(Engine.State().OutputFileCount, 0);

    // A job that fails before writing leaves no empty file.
    TCustomFFmpeg Early;
    EXPECT_EQ(RunJob(Early, MediaPath("clip.avi"), Out("huge.avi"), Options({{"vcodec", "h263"}})),
              "Error while opening codec for output stream #0.0 - maybe incorrect parameters such as bit_rate, rate, "
              "width or height");
    EXPECT_FALSE(std::filesystem::exists(Out("huge.avi")));
}

TEST_F(TranscodeTest, SubtitlesAreDecodedAndEncodedAgain) {
    const std::string Srt = Out("talk.srt");
    std::ofstream(Srt) << "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:03,000\nWorld\n\n";
    TCustomFFmpeg Engine;
    ASSERT_EQ(RunJob(Engine, Srt, Out("talk.mkv")), "");
    AVFormatContext* In = nullptr;
    ASSERT_GE(av::avformat_open_input(&In, Out("talk.mkv").c_str(), nullptr, nullptr), 0);
    ASSERT_GE(av::avformat_find_stream_info(In, nullptr), 0);
    ASSERT_EQ(In->nb_streams, 1u);
    EXPECT_EQ(In->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_SUBTITLE);
    AVPacket* Packet = av::av_packet_alloc();
    std::vector<double> Starts;
    while (av::av_read_frame(In, Packet) >= 0) {
        Starts.push_back(double(Packet->pts) * av_q2d(In->streams[0]->time_base));
        av::av_packet_unref(Packet);
    }
    av::av_packet_free(&Packet);
    av::avformat_close_input(&In);
    ASSERT_EQ(Starts.size(), 2u);
    EXPECT_NEAR(Starts[0], 0.5, 0.01);
    EXPECT_NEAR(Starts[1], 2.0, 0.01);
}

namespace {

// Pictures of a lossless output whose first luma byte carries the counting
// plug-in's mark.
int MarkedPictures(const std::string& AFile, int AMark) {
    int Marked = 0;
    ReadBack(AFile, [&](const AVFrame* F) { Marked += F->data[0][0] == AMark; });
    return Marked;
}

}  // namespace

TEST_F(TranscodeTest, HookRangesChooseThePicturesThePluginSees) {
    TCustomFFmpeg Engine;
    TJob Job = Options({{"vcodec", "rawvideo"}, {"vhook", std::string(COUNTING_HOOK_PATH) + " 7"}});
    Job.Prepare = [](TCustomFFmpeg& E) { E.SetHookRanges({{20000000, 30000000}, {0, 5000000}}); };
    ASSERT_EQ(RunJob(Engine, MediaPath("long35.avi"), Out("ranges.avi"), Job), "");
    // 0 to 5 s and 20 to 30 s, both ends included, at 25 pictures a second.
    EXPECT_EQ(MarkedPictures(Out("ranges.avi"), 7), 126 + 251);
    EXPECT_FALSE(Engine.Settings.UsingHooks);  // stopped after the last range
}

TEST_F(TranscodeTest, BeforeHookIgnoresSinglePicturesOrStopsTheChain) {
    TCustomFFmpeg Ignoring;
    int Calls = 0;
    Ignoring.OnBeforeHook = [&](TCustomFFmpeg*, THookAction& Action, int64_t) {
        Action = ++Calls % 2 ? haIgnore : haContinue;
    };
    ASSERT_EQ(RunJob(Ignoring, MediaPath("clip.avi"), Out("ignoring.avi"),
                     Options({{"vcodec", "rawvideo"}, {"an", "1"}, {"vhook", std::string(COUNTING_HOOK_PATH) + " 7"}})),
              "");
    EXPECT_EQ(Calls, 75);
    EXPECT_EQ(MarkedPictures(Out("ignoring.avi"), 7), 37);

    TCustomFFmpeg Stopping;
    int StopCalls = 0;
    Stopping.OnBeforeHook = [&](TCustomFFmpeg*, THookAction& Action, int64_t) {
        Action = ++StopCalls > 10 ? haStop : haContinue;
    };
    ASSERT_EQ(RunJob(Stopping, MediaPath("clip.avi"), Out("stopping.avi"),
                     Options({{"vcodec", "rawvideo"}, {"an", "1"}, {"vhook", std::string(COUNTING_HOOK_PATH) + " 7"}})),
              "");
    EXPECT_EQ(StopCalls, 11);  // not asked again once stopped
    EXPECT_EQ(MarkedPictures(Out("stopping.avi"), 7), 10);

    TCustomFFmpeg Throwing;
    EngineEvents Events;
    Events.Attach(Throwing);
    Throwing.OnBeforeHook = [&](TCustomFFmpeg*, THookAction&, int64_t) { throw std::runtime_error("no"); };
    ASSERT_EQ(RunJob(Throwing, MediaPath("clip.avi"), Out("throwing.avi"),
                     Options({{"vcodec", "rawvideo"}, {"an", "1"}, {"vhook", std::string(COUNTING_HOOK_PATH) + " 7"}})),
              "");
    EXPECT_TRUE(Events.Logged(0, "Error occurs OnBeforeHook: no"));
    EXPECT_EQ(MarkedPictures(Out("throwing.avi"), 7), 0);
}

// A network address is a file name like any other: nothing connects to the
// peer that listens at it.
TEST_F(TranscodeTest, NetworkAddressIsNeverConnectedTo) {
    int Server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(Server, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(Server, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
    socklen_t Length = sizeof Address;
    ASSERT_EQ(getsockname(Server, reinterpret_cast<sockaddr*>(&Address), &Length), 0);
    ASSERT_EQ(listen(Server, 1), 0);

    TCustomFFmpeg Engine;
    const std::string Url = "tcp://127.0.0.1:" + std::to_string(ntohs(Address.sin_port));
    EXPECT_FALSE(Engine.OpenInputFile(Url));
    EXPECT_NE(Engine.ErrorText.find("no such file or directory"), std::string::npos) << Engine.ErrorText;
    EXPECT_LT(accept(Server, nullptr, nullptr), 0);
    EXPECT_EQ(errno, EAGAIN);
    close(Server);
}
