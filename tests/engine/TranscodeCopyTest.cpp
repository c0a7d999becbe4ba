// Whole jobs: stream copy, re-encoding, sizes, limits and start offsets.
#include "tests/engine/TranscodeTestSupport.h"

TEST_F(TranscodeTest, StreamCopyKeepsCodecsAndDuration) {
    for (const char* Name : {"clip.avi", "clip.mp4"}) {
        TCustomFFmpeg Engine;
        EngineEvents Events;
        Events.Attach(Engine);
        const std::string Output = Out(std::string("copy_") + Name);
        ASSERT_EQ(RunJob(Engine, MediaPath(Name), Output, Options({{"vcodec", "copy"}, {"acodec", "copy"}})), "")
            << Name;
        EXPECT_TRUE(Engine.Finished);
        TFileFacts Source = ReadBack(MediaPath(Name)), Copy = ReadBack(Output);
        ASSERT_TRUE(Copy.Opened) << Name;
        const TStreamFacts* V = Copy.First(AVMEDIA_TYPE_VIDEO);
        const TStreamFacts* A = Copy.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(V && A) << Name;
        EXPECT_EQ(V->Codec, Source.First(AVMEDIA_TYPE_VIDEO)->Codec);
        EXPECT_EQ(A->Codec, Source.First(AVMEDIA_TYPE_AUDIO)->Codec);
        // The MP4 source's edit list hides one picture from a plain decode.
        EXPECT_NEAR(V->Frames, Source.First(AVMEDIA_TYPE_VIDEO)->Frames, 1) << Name;
        EXPECT_NEAR(A->Duration, Source.First(AVMEDIA_TYPE_AUDIO)->Duration, 0.05) << Name;
        EXPECT_EQ(V->DecodeErrors + A->DecodeErrors, 0);
        EXPECT_GT(Engine.State().VideoSize, 0);
        EXPECT_GT(Engine.State().AudioSize, 0);
    }
}

TEST_F(TranscodeTest, StreamCopyStartsAtTheFirstKeyPacket) {
    TCustomFFmpeg Engine;
    const std::string Output = Out("nokey.mkv");
    ASSERT_EQ(RunJob(Engine, MediaPath("nokey.mkv"), Output, Options({{"vcodec", "copy"}})), "");
    TFileFacts Source = ReadBack(MediaPath("nokey.mkv")), Copy = ReadBack(Output);
    ASSERT_TRUE(Copy.First(AVMEDIA_TYPE_VIDEO));
    // The leading packets cannot be decoded without their key frame; the
    // copy leaves them out and decodes cleanly.
    EXPECT_EQ(Copy.First(AVMEDIA_TYPE_VIDEO)->DecodeErrors, 0);
    EXPECT_LT(Copy.First(AVMEDIA_TYPE_VIDEO)->Frames, 50);
    EXPECT_GT(Copy.First(AVMEDIA_TYPE_VIDEO)->Frames, 30);
}

TEST_F(TranscodeTest, ReencodeScalesAndResamples) {
    TCustomFFmpeg Engine;
    const std::string Output = Out("small.mp4");
    ASSERT_EQ(RunJob(Engine, MediaPath("clip.mp4"), Output,
                     Options({{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"s", "320x240"}, {"ar", "44100"},
                              {"ac", "1"}, {"b", "400000"}})),
              "");
    TFileFacts Facts = ReadBack(Output);
    const TStreamFacts* V = Facts.First(AVMEDIA_TYPE_VIDEO);
    const TStreamFacts* A = Facts.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(V && A);
    EXPECT_EQ(V->Codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(V->Width, 320);
    EXPECT_EQ(V->Height, 240);
    EXPECT_NEAR(V->Frames, 75, 1);
    EXPECT_EQ(A->Codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(A->SampleRate, 44100);
    EXPECT_EQ(A->Channels, 1);
    EXPECT_NEAR(A->Duration, 3.0, 0.1);
    EXPECT_NEAR(V->Duration, 3.0, 0.1);
}

TEST_F(TranscodeTest, MonoBecomesStereoAndFloatBecomesSixteenBit) {
    TCustomFFmpeg Engine;
    const std::string Output = Out("tone.wav");
    ASSERT_EQ(RunJob(Engine, MediaPath("tone.wav"), Output, Options({{"ac", "2"}, {"ar", "44100"}})), "");
    TFileFacts Facts = ReadBack(Output);
    const TStreamFacts* A = Facts.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(A);
    EXPECT_EQ(A->Channels, 2);
    EXPECT_EQ(A->SampleRate, 44100);
    EXPECT_NEAR(double(A->Samples) / 44100, 2.0, 0.05);

    TCustomFFmpeg Mp3;
    const std::string FromMp3 = Out("tone_from_mp3.wav");
    ASSERT_EQ(RunJob(Mp3, MediaPath("tone.mp3"), FromMp3, Options({{"ac", "1"}})), "");
    TFileFacts Converted = ReadBack(FromMp3);
    const TStreamFacts* B = Converted.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(B);
    EXPECT_EQ(B->Codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(B->Channels, 1);
    EXPECT_NEAR(double(B->Samples) / 44100, 3.0, 0.1);
}

TEST_F(TranscodeTest, VolumeDoublesSamplesAndClips) {
    auto Peak = [&](const std::string& AFile) {
        int Max = 0;
        bool Clipped = false;
        ReadBack(AFile, {}, [&](const AVFrame* F) {
            const int16_t* S = reinterpret_cast<const int16_t*>(F->data[0]);
            for (int i = 0; i < F->nb_samples * F->ch_layout.nb_channels; ++i) {
                Max = std::max(Max, std::abs(int(S[i])));
                Clipped |= S[i] == 32767 || S[i] == -32768;
            }
        });
        return std::pair{Max, Clipped};
    };
    TCustomFFmpeg Plain, Loud, Louder;
    ASSERT_EQ(RunJob(Plain, MediaPath("tone.wav"), Out("plain.wav")), "");
    ASSERT_EQ(RunJob(Loud, MediaPath("tone.wav"), Out("loud.wav"), Options({{"vol", "512"}})), "");
    ASSERT_EQ(RunJob(Louder, MediaPath("tone.wav"), Out("louder.wav"), Options({{"vol", "4096"}})), "");
    auto [PlainPeak, PlainClipped] = Peak(Out("plain.wav"));
    auto [LoudPeak, LoudClipped] = Peak(Out("loud.wav"));
    auto [LouderPeak, LouderClipped] = Peak(Out("louder.wav"));
    ASSERT_GT(PlainPeak, 1000);
    EXPECT_FALSE(PlainClipped);
    EXPECT_NEAR(LoudPeak, 2 * PlainPeak, 2);
    EXPECT_TRUE(LouderClipped);
    EXPECT_LE(LouderPeak, 32768);
}

TEST_F(TranscodeTest, CopiedAudioRefusesVolume) {
    TCustomFFmpeg Engine;
    EXPECT_EQ(RunJob(Engine, MediaPath("tone.mp3"), Out("x.mp3"), Options({{"acodec", "copy"}, {"vol", "512"}})),
              "-acodec copy and -vol are incompatible (frames are not decoded)");
}

TEST_F(TranscodeTest, LimitsEndEveryStreamWithATrailer) {
    TCustomFFmpeg Frames;
    ASSERT_EQ(RunJob(Frames, MediaPath("long35.avi"), Out("frames.avi"), Options({{"vframes", "100"}})), "");
    TFileFacts Counted = ReadBack(Out("frames.avi"));
    EXPECT_EQ(Counted.First(AVMEDIA_TYPE_VIDEO)->Frames, 100);

    TCustomFFmpeg Timed;
    ASSERT_EQ(RunJob(Timed, MediaPath("long35.avi"), Out("timed.mp4"), Options({{"t", "10"}})), "");
    TFileFacts Facts = ReadBack(Out("timed.mp4"));
    ASSERT_TRUE(Facts.Opened);
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 250);
    EXPECT_EQ(Facts.First(AVMEDIA_TYPE_VIDEO)->DecodeErrors, 0);
    EXPECT_TRUE(Timed.Finished);

    // Audio and video both end at the limit.
    TCustomFFmpeg Both;
    ASSERT_EQ(RunJob(Both, MediaPath("clip.avi"), Out("both.avi"), Options({{"t", "1"}})), "");
    TFileFacts BothFacts = ReadBack(Out("both.avi"));
    EXPECT_EQ(BothFacts.First(AVMEDIA_TYPE_VIDEO)->Frames, 25);
    EXPECT_NEAR(double(BothFacts.First(AVMEDIA_TYPE_AUDIO)->Samples) / 44100, 1.0, 0.05);
}

TEST_F(TranscodeTest, StartOffsetSkipsTheBeginning) {
    TCustomFFmpeg Engine;
    ASSERT_EQ(RunJob(Engine, MediaPath("long35.avi"), Out("late.avi"), Options({}, {{"ss", "30"}})), "");
    TFileFacts Facts = ReadBack(Out("late.avi"));
    EXPECT_NEAR(Facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 125, 2);
    EXPECT_NEAR(Facts.First(AVMEDIA_TYPE_VIDEO)->Start, 0.0, 0.05);
}

TEST_F(TranscodeTest, OneInputFeedsACopyAndAReencodedOutput) {
    TCustomFFmpeg Engine;
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vcodec", "copy");
    Engine.SetOption("an", "1");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("copy.avi")));
    Engine.SetOption("s", "160x120");
    Engine.SetOption("an", "1");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("small.avi")));
    Engine.Start(false, tpNormal);
    ASSERT_FALSE(Engine.ErrorOccurred) << Engine.ErrorMessage;
    TFileFacts Copy = ReadBack(Out("copy.avi")), Small = ReadBack(Out("small.avi"));
    ASSERT_TRUE(Copy.First(AVMEDIA_TYPE_VIDEO) && Small.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(Copy.First(AVMEDIA_TYPE_VIDEO)->Width, 320);
    EXPECT_NEAR(Copy.First(AVMEDIA_TYPE_VIDEO)->Frames, 75, 1);
    EXPECT_EQ(Small.First(AVMEDIA_TYPE_VIDEO)->Width, 160);
    EXPECT_NEAR(Small.First(AVMEDIA_TYPE_VIDEO)->Frames, 75, 1);
}
