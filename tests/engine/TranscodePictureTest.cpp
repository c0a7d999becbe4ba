// Whole jobs: frame-rate and audio synchronisation, crop, scale, pad,
// filters and two-pass encoding.
#include <unistd.h>

#include <fstream>

#include "tests/engine/TranscodeTestSupport.h"

namespace {

bool LoggedStartingWith(EngineEvents& AEvents, const std::string& APrefix) {
    std::lock_guard<std::mutex> Guard(AEvents.Lock);
    for (auto& [Level, Text] : AEvents.Lines)
        if (Text.rfind(APrefix, 0) == 0) return true;
    return false;
}

// Mean luma of a rectangle of the first decoded picture.
double MeanLuma(const std::string& AFile, int AX, int AY, int AW, int AH) {
    double Sum = 0;
    bool Done = false;
    ReadBack(AFile, [&](const AVFrame* F) {
        if (Done) return;
        Done = true;
        for (int y = AY; y < AY + AH; ++y)
            for (int x = AX; x < AX + AW; ++x) Sum += LumaAt(F, x, y);
    });
    return Sum / (AW * AH);
}

}  // namespace

TEST_F(TranscodeTest, ClockJumpDuplicatesAndLowerRateDrops) {
    TCustomFFmpeg Engine;
    EngineEvents Events;
    Events.Attach(Engine);
    // 2 s of pictures, then the clock jumps 1 s ahead, then 2 s more.
    ASSERT_EQ(RunJob(Engine, MediaPath("jump.mkv"), Out("jump.avi"), Options({{"v", "3"}})), "");
    EXPECT_EQ(Engine.State().FramesDuplicated, 24);
    EXPECT_TRUE(Events.Logged(1, "*** 24 dup!"));
    TFileFacts Facts = ReadBack(Out("jump.avi"));
    EXPECT_NEAR(Facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 125, 1);

    TCustomFFmpeg Slow;
    ASSERT_EQ(RunJob(Slow, MediaPath("long35.avi"), Out("slow.avi"), Options({{"r", "10"}, {"t", "4"}})), "");
    // 4 s at 25 fps in, 40 pictures out: the rest is dropped.
    EXPECT_NEAR(Slow.State().FramesDropped, 58, 4);
    TFileFacts SlowFacts = ReadBack(Out("slow.avi"));
    EXPECT_NEAR(SlowFacts.First(AVMEDIA_TYPE_VIDEO)->Frames, 40, 1);

    // Without synchronisation every picture is written once.
    TCustomFFmpeg Plain;
    ASSERT_EQ(RunJob(Plain, MediaPath("jump.mkv"), Out("plain.mkv"), Options({{"vsync", "0"}})), "");
    EXPECT_EQ(Plain.State().FramesDuplicated, 0);
    EXPECT_EQ(Plain.State().FramesDropped, 0);
}

TEST_F(TranscodeTest, LateAudioGetsLeadingSilenceAndEarlyAudioIsCut) {
    TCustomFFmpeg Late;
    EngineEvents Events;
    Events.Attach(Late);
    ASSERT_EQ(RunJob(Late, MediaPath("late_audio.mkv"), Out("late.wav"),
                     Options({{"vn", "1"}, {"async", "1"}, {"v", "3"}})),
              "");
    // 0.5 s at 44.1 kHz: 22050 samples, 88200 bytes of 16-bit stereo.
    EXPECT_TRUE(Events.Logged(1, "adding 22050 audio samples of silence"));
    int64_t Silent = 0, Total = 0;
    bool Sound = false;
    ReadBack(Out("late.wav"), {}, [&](const AVFrame* F) {
        const int16_t* S = reinterpret_cast<const int16_t*>(F->data[0]);
        for (int i = 0; i < F->nb_samples; ++i, ++Total) {
            if (!Sound && S[2 * i] == 0 && S[2 * i + 1] == 0)
                ++Silent;
            else
                Sound = true;
        }
    });
    EXPECT_NEAR(Silent, 22050, 50);
    EXPECT_NEAR(Total, 2 * 44100, 100);

    TCustomFFmpeg Early;
    EngineEvents EarlyEvents;
    Early.OnLog = [&](TCustomFFmpeg*, int L, const std::string& M) {
        std::lock_guard<std::mutex> Guard(EarlyEvents.Lock);
        EarlyEvents.Lines.emplace_back(L, M);
    };
    // Shifted 0.6 s back, the audio starts 0.1 s before the output does.
    ASSERT_EQ(RunJob(Early, MediaPath("late_audio.mkv"), Out("early.wav"),
                     Options({{"vn", "1"}, {"async", "1"}, {"v", "3"}}, {{"itsoffset", "-0.6"}})),
              "");
    EXPECT_TRUE(LoggedStartingWith(EarlyEvents, "discarding 44"));
    TFileFacts Facts = ReadBack(Out("early.wav"));
    EXPECT_NEAR(double(Facts.First(AVMEDIA_TYPE_AUDIO)->Samples) / 44100, 1.4, 0.02);
}

TEST_F(TranscodeTest, CropWithoutScalingKeepsTheRest) {
    TCustomFFmpeg Engine;
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out("crop.avi"), Options({{"croptop", "8"}, {"qscale", "2"}})),
              "");
    TFileFacts Facts = ReadBack(Out("crop.avi"));
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Width, 320);
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Height, 232);
    // Row 0 of the output is row 8 of the source.
    double Source = MeanLuma(MediaPath("clip.avi"), 0, 8, 64, 4), Cropped = MeanLuma(Out("crop.avi"), 0, 0, 64, 4);
    EXPECT_NEAR(Cropped, Source, 4);
}

TEST_F(TranscodeTest, PaddingPaintsTheBordersInThePadColour) {
    TCustomFFmpeg Engine;
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.mp4"), Out("pad.avi"),
                     Options({{"s", "320x220"}, {"padtop", "10"}, {"padbottom", "10"}, {"padcolor", "16777215"},
                              {"qscale", "2"}, {"acodec", "libmp3lame"}})),
              "");
    TFileFacts Facts = ReadBack(Out("pad.avi"));
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Width, 320);
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Height, 240);
    // White converts to video-range white.
    EXPECT_NEAR(MeanLuma(Out("pad.avi"), 0, 0, 320, 8), 235, 6);
    EXPECT_NEAR(MeanLuma(Out("pad.avi"), 0, 232, 320, 8), 235, 6);
    EXPECT_LT(MeanLuma(Out("pad.avi"), 0, 100, 320, 40), 200);

    TCustomFFmpeg Black;
    ASSERT_EQ(RunJob(Black, MediaPath("clip.avi"), Out("black.avi"),
                     Options({{"padleft", "16"}, {"padright", "16"}, {"qscale", "2"}})),
              "");
    TFileFacts BlackFacts = ReadBack(Out("black.avi"));
    EXPECT_EQ(BlackFacts.First(AVMEDIA_TYPE_VIDEO)->Width, 352);
    EXPECT_NEAR(MeanLuma(Out("black.avi"), 0, 0, 12, 240), 16, 4);
}

TEST_F(TranscodeTest, FiltersResizeAndConflictWithCropAndPad) {
    TCustomFFmpeg Engine;
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.avi"), Out("filtered.avi"), Options({{"vfilters", "scale=160:120"}})),
              "");
    TFileFacts Facts = ReadBack(Out("filtered.avi"));
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Width, 160);
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Height, 120);
    EXPECT_NEAR(Facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 75, 1);

    TCustomFFmpeg Pad;
    EXPECT_EQ(RunJob(Pad, MediaPath("clip.avi"), Out("pad.avi"),
                     Options({{"padtop", "10"}, {"vfilters", "scale=160:120"}})),
              "open output: Cannot enable pad options and the filters which resize frame at the same time. (crop, "
              "rotate, scale, transpose, etc.)");
    TCustomFFmpeg Crop;
    EXPECT_EQ(RunJob(Crop, MediaPath("clip.avi"), Out("crop.avi"),
                     Options({{"cropleft", "8"}, {"vfilters", "hflip"}})),
              "open output: Cannot enable crop options and filters at the same time.");
    TCustomFFmpeg Broken;
    EXPECT_EQ(RunJob(Broken, MediaPath("clip.avi"), Out("broken.avi"), Options({{"vfilters", "nosuchfilter"}})),
              "Error opening filters!");
}

TEST_F(TranscodeTest, TwoPassWritesAndReadsItsStatistics) {
    const std::string Previous = std::filesystem::current_path();
    std::filesystem::current_path(Folder);
    TCustomFFmpeg First;
    EXPECT_EQ(RunJob(First, MediaPath("clip.avi"), Out("pass1.avi"),
                     Options({{"pass", "1"}, {"b", "200000"}, {"an", "1"}})),
              "");
    const std::filesystem::path Log = Folder / "ffmpeg2pass-0.log";
    ASSERT_TRUE(std::filesystem::exists(Log));
    EXPECT_GT(std::filesystem::file_size(Log), 1000u);
    TCustomFFmpeg Second;
    EXPECT_EQ(RunJob(Second, MediaPath("clip.avi"), Out("pass2.avi"),
                     Options({{"pass", "2"}, {"b", "200000"}, {"an", "1"}})),
              "");
    TFileFacts Facts = ReadBack(Out("pass2.avi"));
    EXPECT_NEAR(Facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 75, 1);

    std::filesystem::remove(Log);
    TCustomFFmpeg Missing;
    EXPECT_EQ(RunJob(Missing, MediaPath("clip.avi"), Out("pass2b.avi"), Options({{"pass", "2"}, {"an", "1"}})),
              "creat open fail: ffmpeg2pass-0.log");
    // The failed job leaves no empty file behind.
    EXPECT_FALSE(std::filesystem::exists(Out("pass2b.avi")));
    std::filesystem::current_path(Previous);
}

TEST_F(TranscodeTest, DeinterlacingChangesThePicture) {
    auto FirstPicture = [&](const std::string& AFile) {
        std::vector<uint8_t> Luma;
        ReadBack(AFile, [&](const AVFrame* F) {
            if (!Luma.empty()) return;
            for (int y = 0; y < F->height; ++y)
                Luma.insert(Luma.end(), F->data[0] + y * F->linesize[0], F->data[0] + y * F->linesize[0] + F->width);
        });
        return Luma;
    };
    TCustomFFmpeg Plain, Blended;
    ASSERT_EQ(RunJob(Plain, MediaPath("clip.avi"), Out("plain.avi"), Options({{"vcodec", "rawvideo"}, {"an", "1"}})),
              "");
    ASSERT_EQ(RunJob(Blended, MediaPath("clip.avi"), Out("blended.avi"),
                     Options({{"vcodec", "rawvideo"}, {"an", "1"}, {"deinterlace", "1"}})),
              "");
    std::vector<uint8_t> A = FirstPicture(Out("plain.avi")), B = FirstPicture(Out("blended.avi"));
    ASSERT_EQ(A.size(), B.size());
    ASSERT_FALSE(A.empty());
    size_t Differing = 0;
    for (size_t i = 0; i < A.size(); ++i) Differing += A[i] != B[i];
    EXPECT_GT(Differing, A.size() / 100);
}

TEST_F(TranscodeTest, PicturesThatChangeSizeMidwayAreScaledToTheOutputSize) {
    for (const char* Size : {"320x240", "160x120"}) {
        TCustomFFmpeg Engine;
        const std::string Output = Out(std::string("resized_") + Size + ".avi");
        // 2 s at 320x240, then 2 s at 176x144.
        ASSERT_EQ(RunJob(Engine, MediaPath("resize.ts"), Output, Options({{"s", Size}, {"croptop", "8"}})), "") << Size;
        int Pictures = 0, WrongSize = 0;
        TFileFacts Facts = ReadBack(Output, [&](const AVFrame* F) {
            ++Pictures;
            WrongSize += F->width != std::stoi(Size) || F->height != std::stoi(std::string(Size).substr(4)) - 8;
        });
        EXPECT_NEAR(Pictures, 100, 2) << Size;
        EXPECT_EQ(WrongSize, 0) << Size;
        EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->DecodeErrors, 0);
    }
}
