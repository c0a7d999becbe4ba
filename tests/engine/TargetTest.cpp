#include "common/Text.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

class TargetTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Events.Attach(Engine);
        Engine.PrepareJob();
    }

    std::string Failure(const std::string& AType, const std::string& ANorm, const std::string& AFallback) {
        try {
            Engine.ApplyTarget(AType, ANorm, AFallback);
        } catch (const std::exception& E) {
            return E.what();
        }
        return "";
    }

    int64_t CodecOption(int AType, const char* AName) {
        int64_t Value = -1;
        EXPECT_GE(av::av_opt_get_int(Engine.State().OptionCodecContexts[AType], AName, 0, &Value), 0) << AName;
        return Value;
    }

    std::string Muxer(AVDictionary* AOptions, const char* AName) {
        AVDictionaryEntry* Entry = av::av_dict_get(AOptions, AName, nullptr, 0);
        return Entry ? Entry->value : "";
    }

    bool LoggedStartingWith(const std::string& APrefix) {
        for (auto& [Level, Text] : Events.Lines)
            if (StartsWith(Text, APrefix)) return true;
        return false;
    }

    TCustomFFmpeg Engine;
    EngineEvents Events;
    TEngineSettings& S = Engine.Settings;
};

}  // namespace

TEST_F(TargetTest, DvdOnAPalInputMakesAPalDvd) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));  // 25 frames per second, 4:3
    Engine.SetOption("target", "dvd");
    EXPECT_TRUE(Events.Logged(1, "Assuming PAL for target."));
    EXPECT_EQ(S.vcodec, "mpeg2video");
    EXPECT_EQ(S.acodec, "ac3");
    ASSERT_NE(S.OutputFormat, nullptr);
    EXPECT_STREQ(S.OutputFormat->name, "dvd");
    EXPECT_EQ(S.FrameWidth, 720);
    EXPECT_EQ(S.FrameHeight, 576);
    EXPECT_EQ(av_cmp_q(S.r, AVRational{25, 1}), 0);
    EXPECT_EQ(CodecOption(0, "g"), 15);
    EXPECT_EQ(CodecOption(0, "b"), 6000000);
    EXPECT_EQ(CodecOption(0, "maxrate"), 9000000);
    EXPECT_EQ(CodecOption(0, "minrate"), 0);
    EXPECT_EQ(CodecOption(0, "bufsize"), 1835008);
    EXPECT_EQ(CodecOption(1, "b"), 448000);
    EXPECT_NE(CodecOption(1, "maxrate"), 9000000);  // video rate control only
    EXPECT_EQ(S.ar, 48000);
    EXPECT_EQ(S.ac, 2);
    EXPECT_EQ(Engine.State().OptionFormatContext->packet_size, 2048u);
    EXPECT_EQ(Muxer(Engine.State().PrivateOptions.Muxer, "muxrate"), "10080000");
    // The input's aspect stays.
    EXPECT_NEAR(S.aspect, 4.0 / 3.0, 1e-4);
    EXPECT_FALSE(LoggedStartingWith("Assuming 16:9"));

    // The output made from it is an MPEG-2 / AC-3 program stream.
    std::string Out = (ScratchFolder("DvdTarget") / "disc.vob").string();
    ASSERT_TRUE(Engine.OpenOutputFile(Out)) << Engine.ErrorText;
    AVFormatContext* Output = Engine.State().OutputFiles[0];
    EXPECT_STREQ(Output->oformat->name, "dvd");
    ASSERT_EQ(Output->nb_streams, 2u);
    AVCodecContext* Video = Engine.State().OutputStreams[0][0].Codec;
    AVCodecContext* Audio = Engine.State().OutputStreams[0][1].Codec;
    EXPECT_EQ(Video->codec_id, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(Video->width, 720);
    EXPECT_EQ(Video->height, 576);
    EXPECT_EQ(Video->gop_size, 15);
    EXPECT_EQ(Video->bit_rate, 6000000);
    EXPECT_EQ(Video->rc_max_rate, 9000000);
    EXPECT_EQ(Video->rc_buffer_size, 1835008);
    EXPECT_EQ(av_cmp_q(Video->time_base, AVRational{1, 25}), 0);
    EXPECT_EQ(Audio->codec_id, AV_CODEC_ID_AC3);
    EXPECT_EQ(Audio->sample_rate, 48000);
    EXPECT_EQ(Audio->bit_rate, 448000);
    EXPECT_EQ(Output->packet_size, 2048u);
    EXPECT_EQ(Muxer(Engine.State().MuxerOptions[0], "muxrate"), "10080000");
    EXPECT_EQ(Muxer(Engine.State().MuxerOptions[0], "preload"), "500000");
}

TEST_F(TargetTest, DefaultAspectOnlyWhenNoneIsKnown) {
    Engine.SetOption("r", "25");
    Engine.SetOption("target", "dvd");
    EXPECT_TRUE(Events.Logged(1, "Assuming PAL for target."));
    EXPECT_TRUE(Events.Logged(1, "Assuming 16:9 for aspect ratio"));
    EXPECT_NEAR(S.aspect, 16.0 / 9.0, 1e-6);

    TCustomFFmpeg Vcd;
    EngineEvents VcdEvents;
    VcdEvents.Attach(Vcd);
    Vcd.PrepareJob();
    Vcd.ApplyTarget("vcd", "ntsc", "pal");
    EXPECT_TRUE(VcdEvents.Logged(1, "Assuming 4:3 for aspect ratio"));
    EXPECT_NEAR(Vcd.Settings.aspect, 4.0 / 3.0, 1e-6);
    // A norm that is given is not announced.
    for (auto& [Level, Text] : VcdEvents.Lines) EXPECT_FALSE(StartsWith(Text, "Assuming NTSC")) << Text;
}

TEST_F(TargetTest, AutomaticNormNeedsAFrameRate) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("tone.mp3")));
    EXPECT_EQ(Failure("vcd", "", "ntsc"), "frame_rate is invalid.");
    EXPECT_EQ(S.FrameWidth, 0);
    EXPECT_EQ(S.OutputFormat, nullptr);
    try {
        Engine.SetOption("target", "vcd");
        ADD_FAILURE() << "no exception";
    } catch (const FFMpegException& E) {
        EXPECT_STREQ(E.what(), "frame_rate is invalid.");
    }
}

TEST_F(TargetTest, AutomaticNormLooksAtTheInputsThenTheFallback) {
    // A rate of no norm: the input's video stream decides.
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("r", "24");
    Engine.ApplyTarget("svcd", "", "ntsc");
    EXPECT_TRUE(Events.Logged(1, "Assuming PAL for target."));
    EXPECT_EQ(S.FrameHeight, 576);

    // Nothing to go by: the fallback decides, and FILM is announced as NTSC.
    struct Case {
        const char* Fallback;
        const char* Announced;
        AVRational Rate;
        int Height;
    };
    for (const Case& C : {Case{"ntsc", "NTSC", {30000, 1001}, 480}, Case{"film", "NTSC", {24000, 1001}, 480},
                          Case{"other", "PAL", {25, 1}, 576}}) {
        TCustomFFmpeg E;
        EngineEvents Log;
        Log.Attach(E);
        E.PrepareJob();
        E.SetOption("r", "12");
        E.ApplyTarget("dvd", "auto", C.Fallback);
        EXPECT_TRUE(Log.Logged(1, std::string("Assuming ") + C.Announced + " for target.")) << C.Fallback;
        EXPECT_EQ(av_cmp_q(E.Settings.r, C.Rate), 0) << C.Fallback;
        EXPECT_EQ(E.Settings.FrameHeight, C.Height) << C.Fallback;
    }

    // Quiet engines do not announce it.
    TCustomFFmpeg Quiet;
    EngineEvents QuietLog;
    QuietLog.Attach(Quiet);
    Quiet.PrepareJob();
    Quiet.Settings.v = 0;
    Quiet.Settings.r = AVRational{30000, 1001};
    Quiet.ApplyTarget("dvd", "", "pal");
    EXPECT_EQ(Quiet.Settings.FrameHeight, 480);
    for (auto& [Level, Text] : QuietLog.Lines) EXPECT_FALSE(StartsWith(Text, "Assuming NTSC")) << Text;
}

TEST_F(TargetTest, VcdAndSvcdPresets) {
    Engine.SetOption("target", "pal-vcd");
    EXPECT_EQ(S.vcodec, "mpeg1video");
    EXPECT_EQ(S.acodec, "mp2");
    EXPECT_STREQ(S.OutputFormat->name, "vcd");
    EXPECT_EQ(S.FrameWidth, 352);
    EXPECT_EQ(S.FrameHeight, 288);
    EXPECT_EQ(CodecOption(0, "g"), 15);
    EXPECT_EQ(CodecOption(0, "minrate"), 1150000);
    EXPECT_EQ(CodecOption(0, "bufsize"), 327680);
    EXPECT_EQ(CodecOption(1, "b"), 224000);
    EXPECT_EQ(S.ar, 44100);
    EXPECT_EQ(Engine.State().OptionFormatContext->packet_size, 2324u);
    EXPECT_EQ(Muxer(Engine.State().PrivateOptions.Muxer, "muxrate"), "1411200");
    EXPECT_FLOAT_EQ(S.muxpreload, 0.44f);

    TCustomFFmpeg Svcd;
    Svcd.PrepareJob();
    Svcd.SetOption("ac", "1");
    Svcd.SetOption("target", "ntsc-svcd");
    EXPECT_EQ(Svcd.Settings.vcodec, "mpeg2video");
    EXPECT_STREQ(Svcd.Settings.OutputFormat->name, "svcd");
    EXPECT_EQ(Svcd.Settings.FrameWidth, 480);
    EXPECT_EQ(Svcd.Settings.FrameHeight, 480);
    EXPECT_EQ(av_cmp_q(Svcd.Settings.r, AVRational{30000, 1001}), 0);
    EXPECT_EQ(Svcd.Settings.ac, 2);
    int64_t Gop = 0;
    av::av_opt_get_int(Svcd.State().OptionCodecContexts[0], "g", 0, &Gop);
    EXPECT_EQ(Gop, 18);
    // The scan offset is a private option of today's MPEG-2 encoder; it
    // reaches the encoder of the next video stream.
    std::string Out = (ScratchFolder("SvcdTarget") / "disc.mpg").string();
    Svcd.SetOption("an", "");
    ASSERT_TRUE(Svcd.OpenOutputFile(Out)) << Svcd.ErrorText;
    AVDictionaryEntry* ScanOffset =
        av::av_dict_get(Svcd.State().OutputStreams[0][0].EncoderOptions, "scan_offset", nullptr, 0);
    ASSERT_NE(ScanOffset, nullptr);
    EXPECT_STREQ(ScanOffset->value, "1");
    EXPECT_EQ(Svcd.State().OutputFiles[0]->packet_size, 2324u);
}

TEST_F(TargetTest, DvPresetsChooseThePixelFormatByNorm) {
    struct Case {
        const char* Target;
        AVPixelFormat Format;
        int Height;
    };
    for (const Case& C : {Case{"pal-dv", AV_PIX_FMT_YUV420P, 576}, Case{"ntsc-dv", AV_PIX_FMT_YUV411P, 480},
                          Case{"film-dv", AV_PIX_FMT_YUV411P, 480}, Case{"pal-dv50", AV_PIX_FMT_YUV422P, 576}}) {
        TCustomFFmpeg E;
        E.PrepareJob();
        E.SetOption("ac", "1");
        E.SetOption("vcodec", "mpeg4");
        E.SetOption("target", C.Target);
        EXPECT_EQ(E.Settings.pix_fmt, C.Format) << C.Target;
        EXPECT_EQ(E.Settings.FrameWidth, 720) << C.Target;
        EXPECT_EQ(E.Settings.FrameHeight, C.Height) << C.Target;
        EXPECT_STREQ(E.Settings.OutputFormat->name, "dv") << C.Target;
        EXPECT_EQ(E.Settings.ar, 48000) << C.Target;
        EXPECT_EQ(E.Settings.ac, 2) << C.Target;
        EXPECT_EQ(E.Settings.vcodec, "mpeg4") << C.Target;  // DV leaves the codecs alone
        EXPECT_EQ(E.Settings.aspect, 0.0f) << C.Target;
    }
}

TEST_F(TargetTest, UnknownTypeIsRefused) {
    EXPECT_EQ(Failure("bluray", "pal", "pal"), "Unknown target type");
    EXPECT_EQ(Failure("DVD", "pal", "pal"), "Unknown target type");
    EXPECT_EQ(S.OutputFormat, nullptr);
}
