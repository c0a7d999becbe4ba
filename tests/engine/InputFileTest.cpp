#include <cmath>
#include <fstream>

#include "common/Text.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

class InputFileTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Events.Attach(Engine);
        Engine.PrepareJob();
    }

    bool HasLineStartingWith(const std::string& Prefix) {
        for (auto& [Level, Text] : Events.Lines)
            if (StartsWith(Text, Prefix)) return true;
        return false;
    }

    AVStream* Stream(int Index) { return Engine.State().InputFiles[0]->streams[Index]; }

    TCustomFFmpeg Engine;
    EngineEvents Events;
};

}  // namespace

TEST_F(InputFileTest, MissingFileFailsWithNoSuchFileAndConsumesTheCodecNames) {
    std::string Path = MediaPath("does-not-exist.avi");
    Engine.SetOption("vcodec", "mpeg4");
    Engine.SetOption("acodec", "copy");
    EXPECT_FALSE(Engine.OpenInputFile(Path));
    EXPECT_EQ(Engine.ErrorText, Path + ": no such file or directory");
    EXPECT_EQ(Engine.State().InputFileCount, 0);
    EXPECT_EQ(Engine.State().InputFiles[0], nullptr);
    EXPECT_EQ(Engine.InputFile(0), nullptr);
    EXPECT_TRUE(Engine.Settings.vcodec.empty());
    EXPECT_TRUE(Engine.Settings.acodec_copy);  // copy flags stay
}

TEST_F(InputFileTest, ContentThatNoDemuxerKnowsIsAnUnknownFormat) {
    for (const char* Name : {"random.bin", "empty.mp4"}) {
        std::string Path = MediaPath(Name);
        EXPECT_FALSE(Engine.OpenInputFile(Path)) << Name;
        EXPECT_EQ(Engine.ErrorText, Path + ": Unknown format");
    }
    EXPECT_EQ(Engine.State().InputFileCount, 0);
}

TEST_F(InputFileTest, RecognisedFileWithBrokenHeaderIsAParsingError) {
    // The start of an MP4 without its index: the container is recognised,
    // its header cannot be read.
    std::ifstream In(MediaPath("clip.mp4"), std::ios::binary);
    std::vector<char> Head(4096);
    In.read(Head.data(), static_cast<std::streamsize>(Head.size()));
    std::string Path = (ScratchFolder("BrokenHeader") / "broken.mp4").string();
    std::ofstream(Path, std::ios::binary).write(Head.data(), In.gcount());
    EXPECT_FALSE(Engine.OpenInputFile(Path));
    EXPECT_EQ(Engine.ErrorText, Path + ": Error while parsing header");
}

TEST_F(InputFileTest, UnknownOrMistypedDecoderNamesFailTheOpen) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    int Count = Engine.State().InputFileCount;
    Engine.SetOption("vcodec", "nosuchcodec");
    EXPECT_FALSE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_EQ(Engine.ErrorText, "Unknown decoder 'nosuchcodec'");
    Engine.SetOption("vcodec", "mp3");
    EXPECT_FALSE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_EQ(Engine.ErrorText, "Invalid decoder type 'mp3'");
    Engine.SetOption("scodec", "mpeg4");
    EXPECT_FALSE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_EQ(Engine.ErrorText, "Invalid decoder type 'mpeg4'");
    EXPECT_EQ(Engine.State().InputFileCount, Count);
}

TEST_F(InputFileTest, StreamPropertiesBecomeTheSettingsOfTheNextOutput) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi"))) << Engine.ErrorText;
    const TEngineSettings& S = Engine.Settings;
    EXPECT_EQ(S.FrameWidth, 320);
    EXPECT_EQ(S.FrameHeight, 240);
    EXPECT_NEAR(S.aspect, 4.0 / 3.0, 1e-4);
    EXPECT_EQ(S.pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(S.r.num, 25);
    EXPECT_EQ(S.r.den, 1);
    EXPECT_EQ(S.ar, 44100);
    EXPECT_EQ(S.ac, 2);
    EXPECT_GE(S.sample_fmt, 0);
    EXPECT_NEAR(Engine.TotalDuration, 3000, 150);
    EXPECT_EQ(Engine.State().InputFileCount, 1);
    EXPECT_EQ(Engine.State().InputTsOffset[0], 0);
    // What callers see of the table: the opened file, nothing beside it.
    EXPECT_EQ(Engine.InputFile(0), Engine.State().InputFiles[0]);
    EXPECT_NE(Engine.InputFile(0), nullptr);
    EXPECT_EQ(Engine.InputFile(1), nullptr);
    EXPECT_EQ(Engine.InputFile(-1), nullptr);

    // Each stream has its own decoder context, made from its parameters.
    ASSERT_EQ(Engine.State().InputCodecs[0].size(), Engine.State().InputFiles[0]->nb_streams);
    for (unsigned i = 0; i < Engine.State().InputFiles[0]->nb_streams; ++i) {
        AVCodecContext* Codec = Engine.State().InputCodecs[0][i];
        ASSERT_NE(Codec, nullptr);
        EXPECT_EQ(Codec->codec_id, Stream(i)->codecpar->codec_id);
        EXPECT_EQ(av_cmp_q(Codec->pkt_timebase, Stream(i)->time_base), 0);
        EXPECT_NE(Codec->codec, nullptr);
    }
    EXPECT_EQ(Engine.State().InputFiles[0]->interrupt_callback.opaque, &Engine);
}

TEST_F(InputFileTest, SampleAspectRatioScalesTheDisplayAspect) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("pal_16x15.mp4"))) << Engine.ErrorText;
    EXPECT_EQ(Engine.Settings.FrameWidth, 720);
    EXPECT_NEAR(Engine.Settings.aspect, 720.0 * 16.0 / 15.0 / 576.0, 1e-4);
}

TEST_F(InputFileTest, ExpectedDurationOnlyGrows) {
    Engine.SetDurationMs(10000);
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_EQ(Engine.TotalDuration, 10000);
}

TEST_F(InputFileTest, StartPositionSeeksAndOffsetsTheTimestamps) {
    Engine.SetOption("ss", "1.5");
    Engine.SetOption("itsoffset", "2");
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi"))) << Engine.ErrorText;
    EXPECT_EQ(Engine.Settings.ss, 0);
    EXPECT_EQ(Engine.State().InputTsOffset[0], 2000000 - 1500000);
    // Reading resumes near the start position (at a key frame before it).
    AVPacket* Packet = av::av_packet_alloc();
    AVFormatContext* Input = Engine.State().InputFiles[0];
    int64_t First = AV_NOPTS_VALUE;
    while (av::av_read_frame(Input, Packet) >= 0) {
        AVStream* S = Input->streams[Packet->stream_index];
        bool Video = S->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        int64_t Ts = Packet->dts != AV_NOPTS_VALUE ? Packet->dts : Packet->pts;
        if (Video) First = av::av_rescale_q(Ts, S->time_base, AV_TIME_BASE_Q);
        av::av_packet_unref(Packet);
        if (Video) break;
    }
    av::av_packet_free(&Packet);
    EXPECT_GT(First, 400000);
    EXPECT_LE(First, 1500000);

    // With copyts the offset is the plain itsoffset.
    TCustomFFmpeg Copy;
    Copy.PrepareJob();
    Copy.SetOption("ss", "1");
    Copy.SetOption("itsoffset", "2");
    Copy.SetOption("copyts", "");
    ASSERT_TRUE(Copy.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_EQ(Copy.State().InputTsOffset[0], 2000000);
}

TEST_F(InputFileTest, VnDiscardsVideoButTheSettingsStillTakeItsValues) {
    Engine.SetOption("vn", "1");
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.mp4"))) << Engine.ErrorText;
    const TEngineSettings& S = Engine.Settings;
    EXPECT_EQ(S.FrameWidth, 640);
    EXPECT_EQ(S.FrameHeight, 480);
    EXPECT_NEAR(S.aspect, 4.0 / 3.0, 1e-4);
    EXPECT_EQ(S.pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(S.r.num, 25);
    EXPECT_EQ(S.vn, 1);  // stays for the output
    for (unsigned i = 0; i < Engine.State().InputFiles[0]->nb_streams; ++i) {
        bool Video = Stream(i)->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        EXPECT_EQ(Stream(i)->discard == AVDISCARD_ALL, Video) << i;
    }
}

TEST_F(InputFileTest, FrameRateLineNamesTheDoubledCodecRateAtVerbosityOne) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.mp4")));
    EXPECT_TRUE(Events.Logged(1,
                              "Seems stream 0 codec frame rate differs from container frame rate: "
                              "50.00 (50/1) -> 25.00 (25/1)"));

    // MPEG-4 Visual counts frames, not fields: no line.
    Events.Lines.clear();
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_FALSE(HasLineStartingWith("Seems stream"));

    TCustomFFmpeg Quiet;
    EngineEvents QuietEvents;
    QuietEvents.Attach(Quiet);
    Quiet.PrepareJob();
    Quiet.SetOption("v", "0");
    ASSERT_TRUE(Quiet.OpenInputFile(MediaPath("clip.mp4")));
    for (auto& [Level, Text] : QuietEvents.Lines) EXPECT_FALSE(StartsWith(Text, "Seems stream")) << Text;
    Quiet.SetOption("v", "1");
}

TEST_F(InputFileTest, ProgramIdDiscardsTheOtherPrograms) {
    Engine.SetOption("programid", "2");
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("programs.ts"))) << Engine.ErrorText;
    AVFormatContext* Input = Engine.State().InputFiles[0];
    ASSERT_EQ(Input->nb_programs, 2u);
    for (unsigned i = 0; i < Input->nb_programs; ++i)
        EXPECT_EQ(Input->programs[i]->discard == AVDISCARD_ALL, Input->programs[i]->id != 2);
}

TEST_F(InputFileTest, GenericDecodingOptionsReachTheDemuxerAndTheDecoders) {
    ASSERT_TRUE(Engine.SetGenericOption("fflags", "+genpts"));
    ASSERT_TRUE(Engine.SetGenericOption("lowres", "1"));
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    EXPECT_TRUE(Engine.State().InputFiles[0]->flags & AVFMT_FLAG_GENPTS);
    for (unsigned i = 0; i < Engine.State().InputFiles[0]->nb_streams; ++i)
        if (Stream(i)->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            EXPECT_EQ(Engine.State().InputCodecs[0][i]->lowres, 1);
        }
}

TEST_F(InputFileTest, NamedDecoderIsTheOneTheStreamGets) {
    Engine.SetOption("acodec", "mp3float");
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("tone.mp3"))) << Engine.ErrorText;
    ASSERT_EQ(Engine.State().InputCodecs[0].size(), 1u);
    ASSERT_NE(Engine.State().InputCodecs[0][0]->codec, nullptr);
    EXPECT_STREQ(Engine.State().InputCodecs[0][0]->codec->name, "mp3float");
    EXPECT_TRUE(Engine.Settings.acodec.empty());

    bool Video, Audio, Subtitle;
    Engine.State().CheckInputStreamTypes(Video, Audio, Subtitle);
    EXPECT_FALSE(Video);
    EXPECT_TRUE(Audio);
    EXPECT_FALSE(Subtitle);
}

TEST_F(InputFileTest, OpenedFilesAreReleasedByClearJob) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("tone.mp3")));
    EXPECT_EQ(Engine.State().InputFileCount, 2);
    Engine.ClearJob();
    EXPECT_EQ(Engine.State().InputFileCount, 0);
    EXPECT_EQ(Engine.State().InputFiles[0], nullptr);
    EXPECT_TRUE(Engine.State().InputCodecs[0].empty());
}
