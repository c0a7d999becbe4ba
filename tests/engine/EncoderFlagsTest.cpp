// Flag options reach each encoder relative to that encoder's own defaults,
// which are read from a freshly allocated context of the encoder.
#include "tests/engine/EngineTestSupport.h"

namespace {

int64_t DefaultOf(const char* AEncoder, const char* AOption) {
    AVCodecContext* Fresh = av::avcodec_alloc_context3(av::avcodec_find_encoder_by_name(AEncoder));
    int64_t Value = -1;
    av::av_opt_get_int(Fresh, AOption, 0, &Value);
    av::avcodec_free_context(&Fresh);
    return Value;
}

}  // namespace

TEST_F(EngineTest, FlagOptionsAddAndRemoveRelativeToTheEncodersDefaults) {
    const int64_t Cgop = AV_CODEC_FLAG_CLOSED_GOP, Exact = AV_CODEC_FLAG_BITEXACT, Global = AV_CODEC_FLAG_GLOBAL_HEADER;
    struct Case {
        const char* Encoder;
        const char* File;  // mp4 wants global headers, avi does not
        std::vector<const char*> Texts;
        int64_t Add, Remove;
    } Cases[] = {
        {"libx264", "a.avi", {"+bitexact"}, Exact, 0},
        {"libx264", "b.avi", {"-cgop"}, 0, Cgop},
        // A bare value replaces the library's default, which has no bits.
        {"libx264", "c.avi", {"bitexact"}, Exact, 0},
        {"libx264", "d.avi", {"+bitexact-cgop"}, Exact, Cgop},
        {"libx264", "e.avi", {"+bitexact", "-bitexact"}, 0, 0},
        {"libx264", "f.avi", {"bitexact+psnr"}, Exact | AV_CODEC_FLAG_PSNR, 0},
        {"libx264", "g.mp4", {"bitexact"}, Exact | Global, 0},
        {"mpeg4", "i.avi", {"+qpel", "+bitexact"}, AV_CODEC_FLAG_QPEL | Exact, 0},
        {"mpeg4", "j.avi", {"-cgop"}, 0, Cgop},
        {"libx264", "k.avi", {}, 0, 0},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.File);
        TCustomFFmpeg E;
        E.PrepareJob();
        ASSERT_TRUE(E.OpenInputFile(MediaPath("clip.avi"))) << E.ErrorText;
        E.SetOption("vcodec", C.Encoder);
        for (const char* Text : C.Texts) E.SetOption("flags", Text);
        std::string Out = (ScratchFolder("EncoderFlags") / C.File).string();
        ASSERT_TRUE(E.OpenOutputFile(Out)) << E.ErrorText;
        const AVCodecContext* Video = E.State().OutputStreams[0][0].Codec;
        ASSERT_NE(Video, nullptr);
        const int64_t Expected = (DefaultOf(C.Encoder, "flags") | C.Add) & ~C.Remove;
        EXPECT_EQ(static_cast<int64_t>(static_cast<unsigned>(Video->flags)), Expected)
            << "default " << DefaultOf(C.Encoder, "flags");
    }
}

TEST_F(EngineTest, BareFlagValueOfAFormatReplacesTheLibrarysDefault) {
    // The generic default of "fflags" has bits of its own: a bare value
    // replaces them, as it does on a freshly allocated muxer context.
    AVFormatContext* Fresh = av::avformat_alloc_context();
    ASSERT_GE(av::av_opt_set(Fresh, "fflags", "genpts", 0), 0);
    int64_t Expected = 0;
    av::av_opt_get_int(Fresh, "fflags", 0, &Expected);
    av::avformat_free_context(Fresh);

    TCustomFFmpeg E;
    E.PrepareJob();
    ASSERT_TRUE(E.OpenInputFile(MediaPath("clip.avi"))) << E.ErrorText;
    E.SetOption("fflags", "genpts");
    ASSERT_TRUE(E.OpenOutputFile((ScratchFolder("EncoderFlags") / "fflags.avi").string())) << E.ErrorText;
    int64_t Value = -1;
    av::av_opt_get_int(E.State().OutputFiles[0], "fflags", 0, &Value);
    EXPECT_EQ(Value, Expected);
}
