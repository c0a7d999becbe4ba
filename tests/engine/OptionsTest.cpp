#include <algorithm>
#include <filesystem>

#include "common/Files.h"
#include "common/Text.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

class OptionsTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Events.Attach(Engine);
        Engine.PrepareJob();
    }

    // The message of the exception the option raises; empty when it succeeds.
    std::string Failure(const std::string& AName, const std::string& AValue) {
        try {
            Engine.SetOption(AName, AValue);
        } catch (const std::exception& E) {
            return E.what();
        }
        return "";
    }

    int64_t CodecOption(int AType, const char* AName) {
        int64_t Value = 0;
        EXPECT_GE(av::av_opt_get_int(Engine.State().OptionCodecContexts[AType], AName, 0, &Value), 0) << AName;
        return Value;
    }

    bool NamedOption(const std::string& AName) {
        auto& Names = Engine.Settings.OptionNames;
        return std::find(Names.begin(), Names.end(), AName) != Names.end();
    }

    TCustomFFmpeg Engine;
    EngineEvents Events;
    TEngineSettings& S = Engine.Settings;
};

const char* const VerticalCrop =
    "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
const char* const HorizontalCrop =
    "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";

std::string Numbers(int ACount, int AFirst = 1) {
    std::string Text;
    for (int i = 0; i < ACount; ++i) Text += (i ? "," : "") + std::to_string(AFirst + i);
    return Text;
}

}  // namespace

TEST_F(OptionsTest, OptionsWithoutEffectLogAndThreadsIsRefused) {
    EXPECT_EQ(Failure("y", "anything"), "");
    EXPECT_TRUE(Events.Logged(1, "Do nothing: option - y"));
    EXPECT_EQ(Failure("benchmark", ""), "");
    EXPECT_TRUE(Events.Logged(1, "Do nothing: option - benchmark"));
    EXPECT_EQ(Failure("threads", "4"), "TODO: option - threads");
    EXPECT_EQ(S.ThreadCount, 1);
}

TEST_F(OptionsTest, NumbersMustConvertAndKeepTheOldValueOtherwise) {
    Engine.SetOption("vframes", "0x10");
    EXPECT_EQ(S.vframes, 16);
    EXPECT_EQ(Failure("vframes", "12x"), "'12x' is not a valid integer value");
    EXPECT_EQ(Failure("vframes", ""), "'' is not a valid integer value");
    EXPECT_EQ(S.vframes, 16);
    EXPECT_EQ(Failure("aframes", "99999999999"), "'99999999999' is not a valid integer value");
    Engine.SetOption("fs", "5000000000");
    EXPECT_EQ(S.fs, 5000000000LL);
    Engine.SetOption("muxdelay", "0.25");
    EXPECT_FLOAT_EQ(S.muxdelay, 0.25f);
    EXPECT_EQ(Failure("aq", "abc"), "'abc' is not a valid floating point value");
    EXPECT_FLOAT_EQ(S.aq, -99999.0f);
    Engine.SetOption("ar", "0");
    Engine.SetOption("ac", "-1");
    EXPECT_EQ(S.ar, 44100);
    EXPECT_EQ(S.ac, 2);
    Engine.SetOption("ar", "48000");
    EXPECT_EQ(S.ar, 48000);
}

// Every option that only stores its value reaches the setting named after
// it and no other: each gets a value of its own.
TEST_F(OptionsTest, StoringOptionsReachTheirOwnSetting) {
    const std::pair<const char*, int*> Switches[] = {
        {"dump", &S.dump},   {"hex", &S.hex},       {"re", &S.re},       {"loop_input", &S.loop_input},
        {"shortest", &S.shortest}, {"intra", &S.intra}, {"vn", &S.vn}, {"sameq", &S.sameq},
        {"deinterlace", &S.deinterlace}, {"psnr", &S.psnr}, {"qphist", &S.qphist}, {"an", &S.an},
        {"sn", &S.sn},       {"isync", &S.isync}};
    const std::pair<const char*, int*> Integers[] = {
        {"dframes", &S.dframes}, {"vframes", &S.vframes}, {"aframes", &S.aframes}, {"loop_output", &S.loop_output},
        {"vsync", &S.vsync},     {"async", &S.async},     {"vglobal", &S.vglobal}, {"programid", &S.programid},
        {"vdt", &S.vdt},         {"me_threshold", &S.me_threshold}, {"top", &S.top}, {"dc", &S.dc},
        {"vol", &S.vol},         {"vc", &S.vc}};
    const std::pair<const char*, float*> Decimals[] = {{"adrift_threshold", &S.adrift_threshold},
                                                       {"dts_delta_threshold", &S.dts_delta_threshold},
                                                       {"aq", &S.aq},
                                                       {"muxdelay", &S.muxdelay},
                                                       {"muxpreload", &S.muxpreload}};
    // Texts kept also when empty, and texts an empty value leaves alone.
    const std::pair<const char*, std::string*> Texts[] = {
        {"passlogfile", &S.passlogfile}, {"alang", &S.alang}, {"slang", &S.slang},
        {"rc_override", &S.rc_override}, {"tvstd", &S.tvstd}, {"vstats_file", &S.vstats}};
    const std::pair<const char*, std::string*> NonEmptyTexts[] = {
        {"title", &S.title},     {"author", &S.author}, {"copyright", &S.copyright}, {"comment", &S.comment},
        {"genre", &S.genre},     {"album", &S.album},   {"vfilters", &S.vfilters}};

    for (auto [Name, Field] : Switches) Engine.SetOption(Name, "0");
    Engine.SetOption("copyts", "");
    Engine.SetOption("xerror", "");
    int Number = 100;
    for (auto [Name, Field] : Integers) Engine.SetOption(Name, std::to_string(Number++));
    Engine.SetOption("fs", "-5000000000");
    for (int i = 0; i < 5; ++i) Engine.SetOption(Decimals[i].first, std::to_string(i) + ".5");
    for (auto [Name, Field] : Texts) Engine.SetOption(Name, std::string(Name) + " text");
    for (auto [Name, Field] : NonEmptyTexts) Engine.SetOption(Name, std::string(Name) + " text");
    Engine.SetOption("alang", "");
    Engine.SetOption("title", "");

    for (auto [Name, Field] : Switches) EXPECT_EQ(*Field, 1) << Name;
    EXPECT_TRUE(S.copyts);
    EXPECT_TRUE(S.xerror);
    Number = 100;
    for (auto [Name, Field] : Integers) EXPECT_EQ(*Field, Number++) << Name;
    EXPECT_EQ(S.fs, -5000000000LL);
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(*Decimals[i].second, i + 0.5f) << Decimals[i].first;
    for (auto [Name, Field] : Texts)
        EXPECT_EQ(*Field, std::string(Name) == "alang" ? "" : std::string(Name) + " text") << Name;
    for (auto [Name, Field] : NonEmptyTexts) EXPECT_EQ(*Field, std::string(Name) + " text") << Name;
    EXPECT_TRUE(Events.Lines.empty());
}

TEST_F(OptionsTest, CodecNamesAndCopyFlags) {
    Engine.SetOption("vcodec", "copy");
    EXPECT_TRUE(S.vcodec_copy);
    EXPECT_TRUE(S.vcodec.empty());
    Engine.SetOption("vcodec", "mpeg4");
    EXPECT_TRUE(S.vcodec_copy);  // a name does not clear the flag
    EXPECT_EQ(S.vcodec, "mpeg4");
    Engine.SetOption("vcodec", "");
    EXPECT_EQ(S.vcodec, "mpeg4");
    Engine.SetOption("acodec", "mp2");
    Engine.SetOption("acodec", "copy");
    EXPECT_TRUE(S.acodec_copy);
    EXPECT_TRUE(S.acodec.empty());  // the previous name is freed
    EXPECT_FALSE(S.scodec_copy);
}

TEST_F(OptionsTest, CropsMustBeEvenAndInsideThePicture) {
    EXPECT_EQ(Failure("croptop", "0"), VerticalCrop);  // no picture size yet
    Engine.SetOption("s", "320x240");
    Engine.SetOption("croptop", "10");
    EXPECT_EQ(S.croptop, 10);
    EXPECT_EQ(S.FrameHeight, 230);
    Engine.SetOption("croptop", "-4");
    EXPECT_EQ(S.croptop, 10);
    EXPECT_TRUE(Events.Lines.empty());
    EXPECT_EQ(Failure("croptop", "3"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(Failure("cropbottom", "5"), "Bottom crop size must be a multiple of 2");
    EXPECT_EQ(Failure("cropleft", "7"), "Left crop size must be a multiple of 2");
    EXPECT_EQ(Failure("cropright", "9"), "Right crop size must be a multiple of 2");
    EXPECT_EQ(Failure("cropbottom", "230"), VerticalCrop);
    EXPECT_EQ(Failure("cropleft", "320"), HorizontalCrop);
    Engine.SetOption("cropleft", "16");
    Engine.SetOption("cropright", "8");
    EXPECT_EQ(S.FrameWidth, 296);
    EXPECT_EQ(S.FrameHeight, 230);
    EXPECT_EQ(S.cropbottom, 0);
}

TEST_F(OptionsTest, PadsMustBeEven) {
    Engine.SetOption("padtop", "8");
    Engine.SetOption("padtop", "-2");
    EXPECT_EQ(S.padtop, 8);
    EXPECT_EQ(Failure("padtop", "3"), "Top pad size must be a multiple of 2");
    EXPECT_EQ(Failure("padbottom", "3"), "Bottom pad size must be a multiple of 2");
    EXPECT_EQ(Failure("padleft", "3"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(Failure("padright", "3"), "Right pad size must be a multiple of 2");
    EXPECT_EQ(S.padtop, 8);
    EXPECT_EQ(S.padright, 0);
}

TEST_F(OptionsTest, PadColourIsConvertedToYuv) {
    struct Case {
        const char* Rgb;
        int Y, U, V;
    };
    // Video range, as the encoders take it (Y 16..235, U and V 16..240).
    for (const Case& C : {Case{"0", 16, 128, 128}, Case{"16777215", 235, 128, 128}, Case{"255", 81, 90, 240},
                          Case{"16711680", 41, 240, 110}}) {
        Engine.SetOption("padcolor", C.Rgb);
        EXPECT_EQ(S.padcolor[0], C.Y) << C.Rgb;
        EXPECT_EQ(S.padcolor[1], C.U) << C.Rgb;
        EXPECT_EQ(S.padcolor[2], C.V) << C.Rgb;
    }
}

TEST_F(OptionsTest, SizeRateAndAspect) {
    Engine.SetOption("s", "vga");
    EXPECT_EQ(S.FrameWidth, 640);
    EXPECT_EQ(S.FrameHeight, 480);
    EXPECT_EQ(Failure("s", "641x480"), "Frame size must be a multiple of 2");
    EXPECT_EQ(S.FrameWidth, 641);  // the odd size stays
    EXPECT_EQ(Failure("s", "big"), "Incorrect frame size");
    Engine.SetOption("s", "");
    EXPECT_EQ(S.FrameWidth, 641);

    Engine.SetOption("r", "ntsc");
    EXPECT_EQ(av_cmp_q(S.r, AVRational{30000, 1001}), 0);
    EXPECT_EQ(Failure("r", "fast"), "Incorrect frame rate");
    Engine.SetOption("r", "");
    EXPECT_EQ(av_cmp_q(S.r, AVRational{30000, 1001}), 0);

    Engine.SetOption("aspect", "16:9");
    EXPECT_NEAR(S.aspect, 16.0 / 9.0, 1e-6);
    for (const char* Bad : {"4:0", "abc", "0", "x:3"})
        EXPECT_EQ(Failure("aspect", Bad), "Incorrect aspect ratio specification.") << Bad;
    EXPECT_NEAR(S.aspect, 16.0 / 9.0, 1e-6);
    Engine.SetOption("aspect", "1.5");
    EXPECT_FLOAT_EQ(S.aspect, 1.5f);
}

TEST_F(OptionsTest, BitRatesGoToTheirOwnCodecTypeAndWarnWhenTooLow) {
    const std::string Warning =
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    int64_t AudioDefault = CodecOption(1, "b");
    Engine.SetOption("b", "500");
    EXPECT_EQ(CodecOption(0, "b"), 500);
    EXPECT_EQ(CodecOption(1, "b"), AudioDefault);
    EXPECT_TRUE(Events.Logged(1, Warning));

    Events.Lines.clear();
    Engine.SetOption("vb", "500000");
    EXPECT_EQ(CodecOption(0, "b"), 500000);
    Engine.SetOption("ab", "96000");
    EXPECT_EQ(CodecOption(1, "b"), 96000);
    EXPECT_EQ(CodecOption(0, "b"), 500000);
    EXPECT_TRUE(Events.Lines.empty());
    Engine.SetOption("ab", "64");
    EXPECT_TRUE(Events.Logged(1, Warning));

    // The encoders of the output get them.
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("clip.avi")));
    std::string Out = (ScratchFolder("BitRates") / "rates.avi").string();
    ASSERT_TRUE(Engine.OpenOutputFile(Out)) << Engine.ErrorText;
    EXPECT_EQ(Engine.State().OutputStreams[0][0].Codec->bit_rate, 500000);
    EXPECT_EQ(Engine.State().OutputStreams[0][1].Codec->bit_rate, 64);
}

TEST_F(OptionsTest, GenericOptionsOverTodaysTables) {
    Engine.SetOption("g", "7");
    EXPECT_EQ(Engine.State().OptionCodecContexts[0]->gop_size, 7);
    EXPECT_TRUE(NamedOption("g"));
    EXPECT_NE(Engine.State().OptionCodecContexts[1]->gop_size, 7);  // not an audio option

    size_t Names = S.OptionNames.size();
    EXPECT_EQ(Failure("zz", "1"), "");
    EXPECT_FALSE(Engine.SetGenericOption("zz", "1"));
    EXPECT_EQ(S.OptionNames.size(), Names);
    EXPECT_TRUE(Events.Lines.empty());

    EXPECT_FALSE(Engine.SetGenericOption("g", " "));
    EXPECT_FALSE(Engine.SetGenericOption(" ", "3"));
    EXPECT_FALSE(Engine.SetGenericOption("g", "abc"));  // refused by every table
    EXPECT_EQ(Engine.State().OptionCodecContexts[0]->gop_size, 7);
    EXPECT_TRUE(Engine.SetGenericOption(" g ", " 9 "));
    EXPECT_EQ(Engine.State().OptionCodecContexts[0]->gop_size, 9);
    EXPECT_TRUE(Engine.SetGenericOption("gop", "15"));
    EXPECT_EQ(Engine.State().OptionCodecContexts[0]->gop_size, 15);

    // Old names with a type letter reach the plain option of that type.
    EXPECT_TRUE(Engine.SetGenericOption("abt", "12345"));
    EXPECT_EQ(Engine.State().OptionCodecContexts[1]->bit_rate_tolerance, 12345);
    EXPECT_NE(Engine.State().OptionCodecContexts[0]->bit_rate_tolerance, 12345);
    // Format and muxer options.
    EXPECT_TRUE(Engine.SetGenericOption("packetsize", "2324"));
    EXPECT_EQ(Engine.State().OptionFormatContext->packet_size, 2324u);
    EXPECT_TRUE(Engine.SetGenericOption("muxrate", "1411200"));
    AVDictionaryEntry* Muxrate = av::av_dict_get(Engine.State().PrivateOptions.Muxer, "muxrate", nullptr, 0);
    ASSERT_NE(Muxrate, nullptr);
    EXPECT_STREQ(Muxrate->value, "1411200");
    // Scaler options.
    EXPECT_TRUE(Engine.SetGenericOption("sws_flags", "bilinear"));

    // The video encoder of the next output takes the generic values.
    Engine.SetOption("s", "320x240");
    Engine.SetOption("an", "");
    std::string Out = (ScratchFolder("GenericOptions") / "g.avi").string();
    ASSERT_TRUE(Engine.OpenOutputFile(Out)) << Engine.ErrorText;
    EXPECT_EQ(Engine.State().OutputStreams[0][0].Codec->gop_size, 15);
    EXPECT_EQ(Engine.State().OutputFiles[0]->packet_size, 2324u);
}

TEST_F(OptionsTest, DebugOptionRaisesTheVerbosity) {
    EXPECT_TRUE(Engine.SetGenericOption("debug", "mb_type"));
    EXPECT_EQ(S.v, 2);
    EXPECT_EQ(LibraryLogFilterLevel.load(), 2);
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_DEBUG);
    Engine.SetOption("v", "1");
    EXPECT_EQ(S.v, 1);
    EXPECT_EQ(LibraryLogFilterLevel.load(), 1);
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_INFO);
}

TEST_F(OptionsTest, MatricesNeedSixtyFourValidCoefficients) {
    Engine.SetOption("intra_matrix", Numbers(64, 8));
    ASSERT_EQ(S.intra_matrix.size(), 64u);
    EXPECT_EQ(S.intra_matrix[0], 8);
    EXPECT_EQ(S.intra_matrix[63], 71);
    Engine.SetOption("inter_matrix", " 16, 17x," + Numbers(62, 18) + ",99,100");  // extra values are ignored
    ASSERT_EQ(S.inter_matrix.size(), 64u);
    EXPECT_EQ(S.inter_matrix[0], 16);
    EXPECT_EQ(S.inter_matrix[1], 17);
    EXPECT_EQ(S.inter_matrix[63], 79);

    std::string Short = Numbers(10);
    EXPECT_EQ(Failure("intra_matrix", Short), "Syntax error in matrix \"" + Short + "\" at coeff 9");
    EXPECT_EQ(S.intra_matrix[0], 8);  // the matrix before stays
    // A zero divides inside the encoders, more than 255 does not fit the stream.
    std::string Zero = "16,0," + Numbers(62);
    EXPECT_EQ(Failure("inter_matrix", Zero), "Coefficient 1 of matrix \"" + Zero + "\" must be between 1 and 255");
    std::string Large = Numbers(63) + ",256";
    EXPECT_EQ(Failure("intra_matrix", Large), "Coefficient 63 of matrix \"" + Large + "\" must be between 1 and 255");
    EXPECT_EQ(S.inter_matrix[1], 17);
}

TEST_F(OptionsTest, TimeScaleNeedsAStreamIndexBelowTwenty) {
    EXPECT_EQ(Failure("itsscale", "20:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Failure("itsscale", "-1:2"), "stream index over MAX_STREAMS(20)");
    for (auto& Row : Engine.State().InputTsScale)
        for (double Factor : Row) EXPECT_EQ(Factor, 0.0);
    Engine.SetOption("itsscale", "19:0.5");
    EXPECT_DOUBLE_EQ(Engine.State().InputTsScale[0][19], 0.5);
    // The factor belongs to the input opened next.
    ASSERT_TRUE(Engine.OpenInputFile(MediaPath("tone.mp3")));
    Engine.SetOption("itsscale", "0x1,2.25");
    EXPECT_DOUBLE_EQ(Engine.State().InputTsScale[1][1], 2.25);
    EXPECT_EQ(Engine.State().InputTsScale[0][1], 0.0);
}

TEST_F(OptionsTest, StreamAndMetadataMaps) {
    Engine.SetOption("map", "0:1");
    Engine.SetOption("map", "1.0:2.3");
    Engine.SetOption("map", "0x10,010");
    ASSERT_EQ(Engine.State().StreamMapCount, 3);
    const TStreamMap& A = Engine.State().StreamMaps[0];
    EXPECT_EQ(std::vector<int>({A.FileIndex, A.StreamIndex, A.SyncFileIndex, A.SyncStreamIndex}),
              std::vector<int>({0, 1, 0, 1}));
    const TStreamMap& B = Engine.State().StreamMaps[1];
    EXPECT_EQ(std::vector<int>({B.FileIndex, B.StreamIndex, B.SyncFileIndex, B.SyncStreamIndex}),
              std::vector<int>({1, 0, 2, 3}));
    EXPECT_EQ(Engine.State().StreamMaps[2].FileIndex, 16);
    EXPECT_EQ(Engine.State().StreamMaps[2].StreamIndex, 8);
    Engine.SetOption("map_meta_data", "1:0");
    ASSERT_EQ(Engine.State().MetaDataMapCount, 1);
    EXPECT_EQ(Engine.State().MetaDataMaps[0].OutFile, 1);
    EXPECT_EQ(Engine.State().MetaDataMaps[0].InFile, 0);

    // A full table refuses the next entry and keeps what it holds.
    while (Engine.State().StreamMapCount < MAX_STREAM_MAPS) Engine.SetOption("map", "2:5");
    EXPECT_EQ(Failure("map", "3:3"), "Too many stream mappings (at most 400)");
    EXPECT_EQ(Engine.State().StreamMapCount, MAX_STREAM_MAPS);
    EXPECT_EQ(Engine.State().StreamMaps[MAX_STREAM_MAPS - 1].SyncStreamIndex, 5);
    while (Engine.State().MetaDataMapCount < MAX_META_DATA_MAPS) Engine.SetOption("map_meta_data", "0:4");
    EXPECT_EQ(Failure("map_meta_data", "0:1"), "Too many metadata mappings (at most 20)");
    EXPECT_EQ(Engine.State().MetaDataMapCount, MAX_META_DATA_MAPS);
    EXPECT_EQ(Engine.State().MetaDataMaps[MAX_META_DATA_MAPS - 1].InFile, 4);
}

TEST_F(OptionsTest, BitstreamFiltersAreChainedInOrder) {
    Engine.SetOption("absf", "=x");
    Engine.SetOption("absf", "");
    EXPECT_TRUE(S.absf.empty());
    EXPECT_EQ(Failure("absf", "nosuchfilter"), "Unknown bitstream filter nosuchfilter");
    EXPECT_EQ(Failure("vbsf", " nosuchfilter=a "), "Unknown bitstream filter nosuchfilter=a");
    EXPECT_TRUE(S.absf.empty());
    Engine.SetOption("vbsf", "null");
    Engine.SetOption("vbsf", "h264_mp4toannexb=unused");
    Engine.SetOption("sbsf", "null");
    ASSERT_EQ(S.vbsf.size(), 2u);
    EXPECT_STREQ(S.vbsf[0]->filter->name, "null");
    EXPECT_STREQ(S.vbsf[1]->filter->name, "h264_mp4toannexb");
    ASSERT_EQ(S.sbsf.size(), 1u);
}

TEST_F(OptionsTest, TimeValues) {
    Engine.SetOption("ss", "1:30.5");
    EXPECT_EQ(S.ss, 90500000);
    Engine.SetOption("itsoffset", "-2");
    EXPECT_EQ(S.itsoffset, -2000000);
    EXPECT_EQ(Failure("ss", "abc"), "Invalid duration specification for ss: abc");
    EXPECT_EQ(S.ss, 90500000);

    Engine.SetOption("t", "0.0004");  // under a millisecond: no limit
    EXPECT_EQ(S.t, INT64_MAX);
    EXPECT_EQ(Engine.TotalDuration, -1);
    Engine.SetOption("t", "2.5009");
    EXPECT_EQ(S.t, 2500000);
    EXPECT_EQ(Engine.TotalDuration, 2500);
    EXPECT_EQ(Failure("t", "soon"), "Invalid duration specification for t: soon");

    Engine.SetOption("timestamp", "2009-02-13 23:31:30Z");
    EXPECT_EQ(S.timestamp, 1234567890);
    EXPECT_EQ(Failure("timestamp", "someday"), "Invalid date specification for timestamp: someday");
    EXPECT_EQ(S.timestamp, 1234567890);
}

TEST_F(OptionsTest, FormatsByName) {
    Engine.SetOption("f", "avi");
    ASSERT_NE(S.InputFormat, nullptr);
    ASSERT_NE(S.OutputFormat, nullptr);
    EXPECT_STREQ(S.OutputFormat->name, "avi");
    Engine.SetOption("f", "");
    EXPECT_NE(S.OutputFormat, nullptr);
    Engine.SetOption("f", "dvd");  // a muxer only
    EXPECT_EQ(S.InputFormat, nullptr);
    EXPECT_STREQ(S.OutputFormat->name, "dvd");
    EXPECT_EQ(Failure("f", "nosuchformat"), "Unknown input or output format: nosuchformat");
    EXPECT_STREQ(S.OutputFormat->name, "dvd");
    EXPECT_THROW(Engine.SetInputFormat("dvd"), FFMpegException);
    EXPECT_THROW(Engine.SetOutputFormat("nosuchformat"), FFMpegException);

    Engine.SetOption("f", "pgmyuv");
    EXPECT_TRUE(Events.Logged(1, "pgmyuv format is deprecated, use image2"));
    ASSERT_NE(S.InputFormat, nullptr);
    EXPECT_STREQ(S.InputFormat->name, "image2");
    EXPECT_TRUE(S.ForcePgmYuv);
}

TEST_F(OptionsTest, ValueRulesOfSingleOptions) {
    EXPECT_EQ(Failure("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Failure("qscale", "255.5"), "qscale must be > 0.0 and <= 255");
    Engine.SetOption("qscale", "255");
    EXPECT_FLOAT_EQ(S.qscale, 255.0f);
    EXPECT_EQ(Failure("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(S.pass, 0);
    Engine.SetOption("pass", "2");
    EXPECT_EQ(S.pass, 2);

    EXPECT_THROW(Engine.SetOption("vtag", "DIV"), EAssertionFailed);
    EXPECT_EQ(Failure("atag", "mp4a!"), "audio tag parameter must be 4 chars");
    Engine.SetOption("vtag", "DIVX");
    EXPECT_EQ(S.vtag, MKTAG('D', 'I', 'V', 'X'));
    Engine.SetOption("vtag", "");
    EXPECT_EQ(S.vtag, MKTAG('D', 'I', 'V', 'X'));

    Engine.SetOption("pix_fmt", "yuv422p");
    EXPECT_EQ(S.pix_fmt, AV_PIX_FMT_YUV422P);
    Engine.SetOption("pix_fmt", "nosuchformat");
    EXPECT_EQ(S.pix_fmt, -1);
    Engine.SetOption("sample_fmt", "s16");
    EXPECT_EQ(S.sample_fmt, AV_SAMPLE_FMT_S16);

    Engine.SetOption("title", "First");
    Engine.SetOption("title", "");
    EXPECT_EQ(S.title, "First");
    Engine.SetOption("passlogfile", "stats");
    Engine.SetOption("passlogfile", "");
    EXPECT_EQ(S.passlogfile, "");

    Engine.SetOption("vstats", "");
    std::string Name = ExtractFileName(S.vstats);
    EXPECT_EQ(S.vstats.substr(0, S.vstats.size() - Name.size()), ExecutableFolder());
    ASSERT_EQ(Name.size(), std::string("vstats_hhnnss.log").size()) << Name;
    EXPECT_TRUE(StartsWith(Name, "vstats_"));
    EXPECT_TRUE(std::all_of(Name.begin() + 7, Name.begin() + 13, ::isdigit)) << Name;
    Engine.SetOption("vstats_file", "my.log");
    EXPECT_EQ(S.vstats, "my.log");
}

TEST_F(OptionsTest, FormatListsAreLoggedWithoutChangingTheSetting) {
    Engine.SetOption("pix_fmt", "yuv420p");
    Engine.SetOption("pix_fmt", "list");
    EXPECT_EQ(S.pix_fmt, AV_PIX_FMT_YUV420P);
    ASSERT_GT(Events.Lines.size(), 40u);
    EXPECT_EQ(Events.Lines[0].second, "name nb_components nb_bits");
    EXPECT_TRUE(StartsWith(Events.Lines[1].second, "yuv420p"));
    EXPECT_TRUE(std::all_of(Events.Lines.begin(), Events.Lines.end(), [](auto& L) {
        return L.first == 1 && !L.second.empty() && L.second == Trim(L.second);
    }));

    Events.Lines.clear();
    Engine.SetOption("sample_fmt", "list");
    EXPECT_EQ(S.sample_fmt, -1);
    ASSERT_EQ(Events.Lines.size(), size_t(AV_SAMPLE_FMT_NB) + 1);
    EXPECT_EQ(Events.Lines[0].second, "name   depth");
    EXPECT_EQ(Events.Lines[1].second, "u8        8");
}

TEST_F(OptionsTest, TargetWithNormPrefixIsTrimmed) {
    Engine.SetOption("target", "  pal-vcd ");
    EXPECT_EQ(S.FrameWidth, 352);
    EXPECT_EQ(S.FrameHeight, 288);
    EXPECT_EQ(Failure("target", "ntsc-laserdisc"), "Unknown target type");
}
