#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/Text.h"
#include "tests/engine/EngineTestSupport.h"

namespace fs = std::filesystem;

namespace {

class OutputFileTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Events.Attach(Engine);
        Engine.PrepareJob();
        Folder = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    std::string Out(const std::string& Name) { return (Folder / Name).string(); }

    AVFormatContext* Output(int File = 0) { return Engine.State().OutputFiles[File]; }
    TOutputStreamSetup& Setup(int Stream, int File = 0) { return Engine.State().OutputStreams[File][Stream]; }
    AVCodecContext* Codec(int Stream, int File = 0) { return Setup(Stream, File).Codec; }

    std::string Tag(const char* Key) {
        AVDictionaryEntry* Entry = av::av_dict_get(Output()->metadata, Key, nullptr, 0);
        return Entry ? Entry->value : "";
    }

    TCustomFFmpeg Engine;
    EngineEvents Events;
    fs::path Folder;
};

}  // namespace

TEST_F(OutputFileTest, FileNameChoosesTheMuxer) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    ASSERT_TRUE(Engine.OpenOutputFile(Out("clip.mp4"))) << Engine.ErrorText;
    EXPECT_EQ(Engine.State().OutputFileCount, 1);
    EXPECT_STREQ(Output()->oformat->name, "mp4");
    EXPECT_NE(Output()->pb, nullptr);
    EXPECT_EQ(Output()->interrupt_callback.opaque, &Engine);
    // One video and one audio stream, with the format's default encoders.
    ASSERT_EQ(Output()->nb_streams, 2u);
    EXPECT_EQ(Codec(0)->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(Codec(1)->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Codec(0)->codec_id, Output()->oformat->video_codec);
    EXPECT_EQ(Codec(1)->codec_id, Output()->oformat->audio_codec);
    // The input's properties arrive in the encoder contexts.
    EXPECT_EQ(Codec(0)->width, 320);
    EXPECT_EQ(Codec(0)->height, 240);
    EXPECT_EQ(av_cmp_q(Codec(0)->time_base, AVRational{1, 25}), 0);
    EXPECT_EQ(av_cmp_q(Output()->streams[0]->sample_aspect_ratio, AVRational{1, 1}), 0);
    EXPECT_EQ(Codec(1)->sample_rate, 44100);
    EXPECT_EQ(Codec(1)->ch_layout.nb_channels, 2);
    EXPECT_GE(Codec(1)->sample_fmt, 0);
    // The per-output formats are consumed.
    EXPECT_EQ(Engine.Settings.OutputFormat, nullptr);
}

TEST_F(OutputFileTest, UnknownExtensionFailsAndAddsNoOutput) {
    std::string Path = Out("clip.xyz");
    EXPECT_FALSE(Engine.OpenOutputFile(Path));
    EXPECT_EQ(Engine.ErrorText, "Unable to find a suitable output format for '" + Path + "'");
    EXPECT_EQ(Engine.State().OutputFileCount, 0);
    EXPECT_FALSE(fs::exists(Path));
}

TEST_F(OutputFileTest, KindsThatNoInputCarriesAreNotMade) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("tone.mp3")));
    ASSERT_TRUE(Engine.OpenOutputFile(Out("tone.mp4"))) << Engine.ErrorText;
    ASSERT_EQ(Output()->nb_streams, 1u);
    EXPECT_EQ(Codec(0)->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Codec(0)->codec_id, AV_CODEC_ID_AAC);
}

TEST_F(OutputFileTest, VnMakesNoVideoStreamAndStaysSet) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vn", "");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("novideo.avi")));
    ASSERT_EQ(Output()->nb_streams, 1u);
    EXPECT_EQ(Codec(0)->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Engine.Settings.vn, 1);
}

TEST_F(OutputFileTest, UnknownEncoderFailsTheVideoStream) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vcodec", "nosuchencoder");
    EXPECT_FALSE(Engine.OpenOutputFile(Out("bad.avi")));
    EXPECT_EQ(Engine.ErrorText, "new_video_stream fail: Unknown encoder 'nosuchencoder'");
    EXPECT_EQ(Engine.State().OutputFileCount, 0);
    EXPECT_TRUE(Engine.Settings.vcodec.empty());
    EXPECT_FALSE(fs::exists(Out("bad.avi")));

    Engine.SetOption("acodec", "mpeg4");
    EXPECT_FALSE(Engine.OpenOutputFile(Out("bad.avi")));
    EXPECT_EQ(Engine.ErrorText, "new_audio_stream fail: Invalid encoder type 'mpeg4'");
}

TEST_F(OutputFileTest, ListedFrameRatesWinOverTheRequestedOne) {
    struct Case {
        const char* Codec;
        const char* Rate;
        AVRational Expected;
    };
    for (const Case& C : {Case{"mpeg1video", "30000/1001", {30000, 1001}}, Case{"mpeg1video", "31", {30, 1}},
                          Case{"mpeg2video", "49.5", {50, 1}}, Case{"mpeg2video", "24000/1001", {24000, 1001}},
                          Case{"mpeg4", "31", {31, 1}}}) {
        TCustomFFmpeg E;
        E.PrepareJob();
        E.SetOption("s", "320x240");
        E.SetOption("vcodec", C.Codec);
        E.SetOption("r", C.Rate);
        E.SetOption("an", "");
        ASSERT_TRUE(E.OpenOutputFile(Out(std::string(C.Codec) + ".mpg"))) << E.ErrorText;
        AVCodecContext* Video = E.State().OutputStreams[0][0].Codec;
        EXPECT_EQ(av_cmp_q(Video->time_base, av_inv_q(C.Expected)), 0)
            << C.Codec << " " << C.Rate << " gave " << Video->time_base.num << "/" << Video->time_base.den;
    }
}

TEST_F(OutputFileTest, FiltersExcludeCropAndResizingFiltersExcludePad) {
    Engine.SetOption("s", "320x240");
    Engine.SetOption("vfilters", "scale=320:240");
    Engine.SetOption("padtop", "8");
    EXPECT_FALSE(Engine.OpenOutputFile(Out("a.avi")));
    EXPECT_EQ(Engine.ErrorText,
              "Cannot enable pad options and the filters which resize frame at the same time. "
              "(crop, rotate, scale, transpose, etc.)");

    Engine.SetOption("vfilters", "hflip,Null");
    EXPECT_TRUE(Engine.OpenOutputFile(Out("b.avi"))) << Engine.ErrorText;
    EXPECT_TRUE(Engine.State().UsingFilters);
    EXPECT_EQ(Codec(0)->height, 248);  // the pad rows are part of the frame

    Engine.SetOption("vfilters", "hflip, Transpose=1");
    EXPECT_FALSE(Engine.OpenOutputFile(Out("c.avi")));

    Engine.SetOption("cropleft", "4");
    EXPECT_FALSE(Engine.OpenOutputFile(Out("d.avi")));
    EXPECT_EQ(Engine.ErrorText, "Cannot enable crop options and filters at the same time.");
    EXPECT_EQ(Engine.State().OutputFileCount, 1);
}

TEST_F(OutputFileTest, RateControlOverridesAreParsedIntoTheEncoder) {
    Engine.SetOption("s", "320x240");
    Engine.SetOption("an", "");
    Engine.SetOption("rc_override", "0,100,5/101,200,-50");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("a.avi"))) << Engine.ErrorText;
    AVCodecContext* C = Codec(0);
    ASSERT_EQ(C->rc_override_count, 2);
    EXPECT_EQ(C->rc_override[0].start_frame, 0);
    EXPECT_EQ(C->rc_override[0].end_frame, 100);
    EXPECT_EQ(C->rc_override[0].qscale, 5);
    EXPECT_FLOAT_EQ(C->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(C->rc_override[1].start_frame, 101);
    EXPECT_EQ(C->rc_override[1].end_frame, 200);
    EXPECT_EQ(C->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(C->rc_override[1].quality_factor, 0.5f);

    Engine.SetOption("an", "");
    Engine.SetOption("rc_override", "0,100,-50/101,200,5");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("b.avi")));
    C = Codec(0, 1);
    ASSERT_EQ(C->rc_override_count, 2);
    EXPECT_EQ(C->rc_override[0].qscale, 0);
    EXPECT_FLOAT_EQ(C->rc_override[0].quality_factor, 0.5f);
    EXPECT_EQ(C->rc_override[1].qscale, 5);
    EXPECT_FLOAT_EQ(C->rc_override[1].quality_factor, 1.0f);

    for (const char* Bad : {"0,100", "0", "x,1,2", "0,100,5/"}) {
        Engine.SetOption("vcodec", "mpeg4");
        Engine.SetOption("rc_override", Bad);
        EXPECT_FALSE(Engine.OpenOutputFile(Out("c.avi"))) << Bad;
        EXPECT_EQ(Engine.ErrorText, "new_video_stream fail: error parsing rc_override") << Bad;
        EXPECT_TRUE(Engine.Settings.vcodec.empty());
    }
    EXPECT_EQ(Engine.State().OutputFileCount, 2);
}

TEST_F(OutputFileTest, VideoSettingsReachTheEncoderAndAreConsumed) {
    Engine.SetOption("s", "320x240");
    Engine.SetOption("padtop", "8");
    Engine.SetOption("padleft", "16");
    Engine.SetOption("aspect", "16:9");
    Engine.SetOption("vcodec", "mpeg4");
    Engine.SetOption("qscale", "3");
    Engine.SetOption("intra", "");
    Engine.SetOption("pass", "1");
    Engine.SetOption("pix_fmt", "rgb24");  // mpeg4 does not take it
    std::string Matrix = "9";
    for (int i = 1; i < 64; ++i) Matrix += "," + std::to_string(16 + i);
    Engine.SetOption("intra_matrix", Matrix);
    Engine.SetOption("an", "");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("v.avi"))) << Engine.ErrorText;
    AVCodecContext* C = Codec(0);
    EXPECT_EQ(C->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(C->width, 336);
    EXPECT_EQ(C->height, 248);
    EXPECT_EQ(C->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(C->gop_size, 0);
    EXPECT_TRUE(C->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_TRUE(C->flags & AV_CODEC_FLAG_PASS1);
    EXPECT_EQ(C->global_quality, 3 * FF_QP2LAMBDA);
    EXPECT_FLOAT_EQ(Setup(0).Quality, 3.0f * FF_QP2LAMBDA);
    // Display aspect 16:9 on 336x248.
    EXPECT_NEAR(av_q2d(C->sample_aspect_ratio) * 336 / 248, 16.0 / 9.0, 0.01);
    ASSERT_NE(C->intra_matrix, nullptr);
    EXPECT_EQ(C->intra_matrix[0], 9);
    EXPECT_EQ(C->intra_matrix[63], 79);
    EXPECT_FALSE(Setup(0).StreamCopy);
    EXPECT_TRUE(Engine.Settings.vcodec.empty());
    EXPECT_EQ(Engine.Settings.an, 1);  // no audio stream was made, so an stays
}

TEST_F(OutputFileTest, CopiedStreamsAreMarkedAndTheirFlagsConsumed) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vcodec", "copy");
    Engine.SetOption("acodec", "copy");
    Engine.SetOption("alang", "english");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("copy.mkv"))) << Engine.ErrorText;
    ASSERT_EQ(Output()->nb_streams, 2u);
    EXPECT_TRUE(Setup(0).StreamCopy);
    EXPECT_TRUE(Setup(1).StreamCopy);
    EXPECT_EQ(Setup(1).Language, "eng");
    EXPECT_EQ(av_cmp_q(Output()->streams[0]->sample_aspect_ratio, AVRational{1, 1}), 0);
    EXPECT_FALSE(Engine.Settings.vcodec_copy);
    EXPECT_FALSE(Engine.Settings.acodec_copy);
    EXPECT_TRUE(Engine.Settings.alang.empty());
}

TEST_F(OutputFileTest, MetadataUsesTodaysKeys) {
    Engine.SetOption("s", "320x240");
    Engine.SetOption("title", "A title");
    Engine.SetOption("author", "Somebody");
    Engine.SetOption("album", "An album");
    Engine.SetOption("genre", std::string(40, 'g'));
    Engine.SetOption("timestamp", "2009-02-13 23:31:30Z");
    Engine.Settings.Year = 2009;
    Engine.Settings.Track = 7;
    ASSERT_TRUE(Engine.OpenOutputFile(Out("tags.mp4"))) << Engine.ErrorText;
    EXPECT_EQ(Tag("title"), "A title");
    EXPECT_EQ(Tag("author"), "Somebody");
    EXPECT_EQ(Tag("artist"), "Somebody");
    EXPECT_EQ(Tag("album"), "An album");
    EXPECT_EQ(Tag("genre"), std::string(31, 'g'));
    EXPECT_EQ(Tag("date"), "2009");
    EXPECT_EQ(Tag("track"), "7");
    EXPECT_EQ(Tag("creation_time"), "2009-02-13T23:31:30.000000Z");
    EXPECT_EQ(Tag("copyright"), "");
}

TEST_F(OutputFileTest, UnwritablePlacesCannotBeOpened) {
    Engine.SetOption("s", "320x240");
    for (std::string Path : {Out("missing/folder/x.avi"), MediaPath("clip.avi") + "/x.avi"}) {
        EXPECT_FALSE(Engine.OpenOutputFile(Path));
        EXPECT_EQ(Engine.ErrorText, "Could not open '" + Path + "'");
    }
    if (geteuid() != 0) {
        fs::create_directories(Folder / "locked");
        chmod((Folder / "locked").c_str(), 0500);
        std::string Path = Out("locked/x.avi");
        EXPECT_FALSE(Engine.OpenOutputFile(Path));
        EXPECT_EQ(Engine.ErrorText, "Could not open '" + Path + "'");
        chmod((Folder / "locked").c_str(), 0700);
    }
    EXPECT_EQ(Engine.State().OutputFileCount, 0);
}

std::string OldOutputText(const std::string& APath) {
    std::ifstream In(APath);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

TEST_F(OutputFileTest, ExistingOutputIsNeverWrittenOverAndNothingIsLeftUnwritten) {
    std::string Path = Out("old.avi");
    std::ofstream(Path) << "previous content";
    Engine.SetOption("s", "320x240");
    ASSERT_TRUE(Engine.OpenOutputFile(Path));
    EXPECT_EQ(OldOutputText(Path), "previous content");
    // The output is written into one hidden file beside it.
    std::vector<std::string> Hidden;
    for (const auto& Entry : fs::directory_iterator(Folder))
        if (Entry.path().filename().string()[0] == '.') Hidden.push_back(Entry.path().filename().string());
    ASSERT_EQ(Hidden.size(), 1u);
    EXPECT_EQ(Hidden[0].rfind(".old.avi.", 0), 0u) << Hidden[0];
    EXPECT_EQ(Hidden[0].substr(Hidden[0].size() - 5), ".part");
    // Nothing was written: ClearJob removes it and leaves the old file.
    Engine.ClearJob();
    EXPECT_FALSE(fs::exists(Folder / Hidden[0]));
    EXPECT_EQ(OldOutputText(Path), "previous content");
}

TEST_F(OutputFileTest, OutputNamingAnInputFileIsRefused) {
    std::string Source = Out("source.avi");
    fs::copy_file(MediaPath("clip.avi"), Source);
    auto Size = fs::file_size(Source);
    fs::create_symlink(Source, Folder / "link.avi");
    ASSERT_TRUE(Engine.OpenInputFile(Source));
    for (std::string Path : {Source, Out("link.avi"), Out("./source.avi")}) {
        EXPECT_FALSE(Engine.OpenOutputFile(Path));
        EXPECT_EQ(Engine.ErrorText, "Cannot overwrite the input file '" + Path + "'");
    }
    EXPECT_EQ(Engine.State().OutputFileCount, 0);
    EXPECT_EQ(fs::file_size(Source), Size);
    EXPECT_TRUE(Engine.OpenOutputFile(Out("other.avi"))) << Engine.ErrorText;
}

TEST_F(OutputFileTest, VideoTagIsKeptOnlyWhereTheFormatAcceptsIt) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vcodec", "mpeg4");
    Engine.SetOption("vtag", "DIVX");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("tagged.avi")));
    EXPECT_EQ(Codec(0)->codec_tag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_TRUE(Events.Lines.empty() || Events.Lines.back().first != 0);

    Engine.SetOption("vcodec", "mpeg4");
    ASSERT_TRUE(Engine.OpenOutputFile(Out("tagged.mp4")));
    AVCodecContext* C = Codec(0, 1);
    EXPECT_EQ(C->codec_tag, 0u);
    bool Warned = false;
    // A note, not a warning: the MPEG-4 profiles ask for DIVX in every container.
    for (auto& [Level, Text] : Events.Lines) Warned |= Level == 1 && Text.find("DIVX") != std::string::npos;
    EXPECT_TRUE(Warned);

    // The MP4 muxer takes the stream: the header is written.
    AVStream* Stream = Engine.State().OutputFiles[1]->streams[0];
    ASSERT_GE(av::avcodec_parameters_from_context(Stream->codecpar, C), 0);
    Stream->time_base = C->time_base;
    AVStream* Audio = Engine.State().OutputFiles[1]->streams[1];
    ASSERT_GE(av::avcodec_parameters_from_context(Audio->codecpar, Codec(1, 1)), 0);
    Audio->time_base = Codec(1, 1)->time_base;
    EXPECT_GE(av::avformat_write_header(Engine.State().OutputFiles[1], nullptr), 0);
}

TEST_F(OutputFileTest, StreamsAddedLaterGoToTheLastOutput) {
    EXPECT_THROW(
        {
            try {
                Engine.SetOption("newaudio", "");
            } catch (const FFMpegException& E) {
                EXPECT_STREQ(E.what(), "At least one output file must be specified");
                throw;
            }
        },
        FFMpegException);
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    ASSERT_TRUE(Engine.OpenOutputFile(Out("two.mkv")));
    Engine.SetOption("absf", "null");
    Engine.SetOption("alang", "ger");
    Engine.SetOption("acodec", "mp2");
    Engine.SetOption("newaudio", "");
    ASSERT_EQ(Output()->nb_streams, 3u);
    EXPECT_EQ(Codec(2)->codec_id, AV_CODEC_ID_MP2);
    EXPECT_EQ(Setup(2).Language, "ger");
    // The chain belongs to the new stream of this file, not to a next file.
    ASSERT_EQ(Engine.State().BitstreamFilters[0][2].size(), 1u);
    EXPECT_STREQ(Engine.State().BitstreamFilters[0][2][0]->filter->name, "null");
    EXPECT_TRUE(Engine.State().BitstreamFilters[1][2].empty());
    EXPECT_TRUE(Engine.Settings.absf.empty());
}

TEST_F(OutputFileTest, EncoderPrivateOptionsFollowTheStream) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    Engine.SetOption("vcodec", "libx264");
    EXPECT_TRUE(Engine.SetGenericOption("preset", "veryfast"));
    Engine.SetOption("profile", "baseline");
    Engine.SetOption("acodec", "aac");
    Engine.SetOption("aac_coder", "fast");
    EXPECT_FALSE(Engine.SetGenericOption("nosuchoption", "1"));
    ASSERT_TRUE(Engine.OpenOutputFile(Out("x264.mp4"))) << Engine.ErrorText;
    AVDictionary* Video = Setup(0).EncoderOptions;
    ASSERT_NE(Video, nullptr);
    EXPECT_STREQ(av::av_dict_get(Video, "preset", nullptr, 0)->value, "veryfast");
    EXPECT_STREQ(av::av_dict_get(Video, "profile", nullptr, 0)->value, "baseline");
    AVDictionary* Audio = Setup(1).EncoderOptions;
    ASSERT_NE(Audio, nullptr);
    EXPECT_STREQ(av::av_dict_get(Audio, "aac_coder", nullptr, 0)->value, "fast");
    EXPECT_EQ(Engine.State().PrivateOptions.VideoEncoder, nullptr);
}

TEST_F(OutputFileTest, VideoTagMustNameTheStreamsCodecInTheFormatsTables) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    struct Case {
        const char* Codec;
        const char* Tag;
        const char* File;
        bool Kept;
    };
    int File = 0;
    for (const Case& C : {Case{"mpeg4", "XVID", "a.avi", true}, Case{"mpeg4", "xvid", "b.avi", true},
                          Case{"mpeg4", "H264", "c.avi", false}, Case{"mpeg4", "ABCD", "d.avi", false},
                          Case{"mpeg4", "mp4v", "e.mp4", true}, Case{"copy", "DIVX", "f.mp4", false},
                          Case{"copy", "DIVX", "g.avi", true}}) {
        Events.Lines.clear();
        Engine.SetOption("vcodec", C.Codec);
        Engine.SetOption("vtag", C.Tag);
        ASSERT_TRUE(Engine.OpenOutputFile(Out(C.File))) << Engine.ErrorText;
        unsigned Expected = C.Kept ? MKTAG(C.Tag[0], C.Tag[1], C.Tag[2], C.Tag[3]) : 0;
        EXPECT_EQ(Codec(0, File)->codec_tag, Expected) << C.Codec << " " << C.Tag << " " << C.File;
        bool Warned = false;
        for (auto& [Level, Text] : Events.Lines) Warned |= Level == 1 && Text.find(C.Tag) != std::string::npos;
        EXPECT_EQ(Warned, !C.Kept) << C.Codec << " " << C.Tag << " " << C.File;
        ++File;
    }
}
