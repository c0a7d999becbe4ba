#include <cstdlib>
#include <ctime>

#include "engine/EngineState.h"
#include "tests/component/ComponentTestSupport.h"

namespace {

// An engine ready for options, as a job has it before its input opens.
class JobOptionsTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        Engine.PrepareJob();
        Reference.PrepareJob();
    }

    static int64_t BitRate(AVCodecContext* AContext) {
        int64_t Value = 0;
        av::av_opt_get_int(AContext, "b", 0, &Value);
        return Value;
    }

    TCustomFFmpeg Engine;
    TCustomFFmpeg Reference;  // untouched, for the engine's own defaults
};

// Switches TZ for one test and restores it.
class TimeZone {
public:
    explicit TimeZone(const char* AZone) {
        if (const char* Old = std::getenv("TZ")) FOld = Old, FHad = true;
        setenv("TZ", AZone, 1);
        tzset();
    }
    ~TimeZone() {
        if (FHad)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string FOld;
    bool FHad = false;
};

}  // namespace

TEST_F(JobOptionsTest, FreshOutputRecordPassesOnlyTheAlwaysFields) {
    TOutputOptions Options;
    // Dirty the always fields first: the defaults must overwrite them.
    Engine.SetOption("async", "1");
    Engine.SetOption("vsync", "2");
    Engine.SetOption("alang", "ger");
    Engine.SetOption("copyts", "");
    ApplyOutputOptions(Engine, Options, "out.avi");

    const TEngineSettings& S = Engine.Settings;
    const TEngineSettings& D = Reference.Settings;
    EXPECT_EQ(S.alang, "");
    EXPECT_EQ(S.slang, "");
    EXPECT_EQ(S.async, 0);
    EXPECT_EQ(S.vsync, -1);
    EXPECT_FALSE(S.copyts);
    EXPECT_EQ(S.padcolor[0], 16);
    EXPECT_EQ(S.padcolor[1], 128);
    EXPECT_EQ(S.padcolor[2], 128);
    // Nothing else moved away from the engine's defaults.
    EXPECT_EQ(S.OutputFormat, D.OutputFormat);
    EXPECT_EQ(S.FrameHeight, D.FrameHeight);
    EXPECT_EQ(S.croptop, D.croptop);
    EXPECT_EQ(S.vcodec, D.vcodec);
    EXPECT_EQ(S.vn + S.an + S.sn, 0);
    EXPECT_EQ(S.vol, D.vol);
    EXPECT_EQ(S.t, D.t);
    EXPECT_EQ(S.timestamp, D.timestamp);
    EXPECT_EQ(S.muxpreload, D.muxpreload);
    EXPECT_EQ(S.Year, D.Year);
    EXPECT_EQ(Engine.TotalDuration, -1);
    EXPECT_EQ(BitRate(Engine.State().OptionCodecContexts[0]), BitRate(Reference.State().OptionCodecContexts[0]));
    EXPECT_EQ(BitRate(Engine.State().OptionCodecContexts[1]), BitRate(Reference.State().OptionCodecContexts[1]));
    EXPECT_EQ(Engine.State().PrivateOptions.Muxer, nullptr);
    EXPECT_EQ(Options.FileName, "out.avi");
}

TEST_F(JobOptionsTest, FieldsReachTheirSettingsAndOverrideExtraOptions) {
    TOutputOptions O;
    O.ExtraOptions = "s=640x480\r\nasync=1\rcopyts=1\nvcodec=mpeg4";
    O.FileFormat = "avi";
    O.FrameSize = "320x240";
    O.VideoCodec = "libx264";
    O.VideoBitRate = 500000;
    O.AudioBitRate = 64000;
    O.AudioChannels = 1;
    O.AudioSampleRate = 22050;
    O.Duration = 2500;
    O.MuxDelay = 0.25f;
    O.Year = 2009;
    O.Track = 7;
    O.VideoTag = "DIVX";
    O.PadColor = 0xFFFFFF;  // white
    SetFixedText(O.Title, "A title");
    SetFixedText(O.Genre, std::string(40, 'g'));  // cut to its 32-byte buffer
    ApplyOutputOptions(Engine, O, "");

    const TEngineSettings& S = Engine.Settings;
    EXPECT_EQ(S.FrameWidth, 320);
    EXPECT_EQ(S.FrameHeight, 240);
    EXPECT_EQ(S.async, 0);
    EXPECT_FALSE(S.copyts);
    EXPECT_EQ(S.vcodec, "libx264");
    EXPECT_STREQ(S.OutputFormat->name, "avi");
    EXPECT_EQ(BitRate(Engine.State().OptionCodecContexts[0]), 500000);
    EXPECT_EQ(BitRate(Engine.State().OptionCodecContexts[1]), 64000);
    EXPECT_EQ(S.ac, 1);
    EXPECT_EQ(S.ar, 22050);
    EXPECT_EQ(S.t, 2500000);
    EXPECT_EQ(Engine.TotalDuration, 2500);
    EXPECT_FLOAT_EQ(S.muxdelay, 0.25f);
    EXPECT_EQ(S.Year, 2009);
    EXPECT_EQ(S.Track, 7);
    EXPECT_EQ(S.vtag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_EQ(S.padcolor[0], 235);  // video-range white
    EXPECT_EQ(S.title, "A title");
    EXPECT_EQ(S.genre, std::string(31, 'g'));
    EXPECT_TRUE(O.FileName.empty());  // an empty path argument leaves it empty
}

TEST_F(JobOptionsTest, BitRateFieldsReachTheCodecDefaultsWithoutTheCommandLineWarning) {
    const std::string Warning = "bitrate parameter is set too low";
    struct Case {
        int Video, Audio;
        const char* Extra;  // the same names typed as extra options do warn
        bool Warned;
    };
    for (const Case& Row : {Case{500000, 64000, "", false}, Case{900, 64, "", false}, Case{1, 999, "", false},
                            Case{-1, -1, "ab=64", true}}) {
        SCOPED_TRACE(std::to_string(Row.Video) + "/" + std::to_string(Row.Audio) + " " + Row.Extra);
        TCustomFFmpeg Job;
        Job.PrepareJob();
        std::vector<std::string> Lines;
        Job.OnLog = [&](TCustomFFmpeg*, int, const std::string& AMsg) { Lines.push_back(AMsg); };
        TOutputOptions O;
        O.VideoBitRate = Row.Video;
        O.AudioBitRate = Row.Audio;
        O.ExtraOptions = Row.Extra;
        ApplyOutputOptions(Job, O, "out.avi");
        if (Row.Video > 0) {
            EXPECT_EQ(BitRate(Job.State().OptionCodecContexts[0]), Row.Video);
            EXPECT_EQ(BitRate(Job.State().OptionCodecContexts[1]), Row.Audio);
        }
        bool Warned = false;
        for (const std::string& Line : Lines) Warned |= Line.find(Warning) != std::string::npos;
        EXPECT_EQ(Warned, Row.Warned);
    }
}

TEST_F(JobOptionsTest, ExtraOptionsTextSplitsIntoNameValueLines) {
    auto Pairs = ParseExtraOptions("  \r\nvn=1\r\n-bitexact -vlevel 13\rtitle=a=b\n\n x = y \n\t");
    ASSERT_EQ(Pairs.size(), 5u);
    EXPECT_EQ(Pairs[0], (std::pair<std::string, std::string>{"vn", "1"}));
    EXPECT_EQ(Pairs[1], (std::pair<std::string, std::string>{"-bitexact -vlevel 13", ""}));
    EXPECT_EQ(Pairs[2], (std::pair<std::string, std::string>{"title", "a=b"}));
    EXPECT_EQ(Pairs[3], (std::pair<std::string, std::string>{"", ""}));
    EXPECT_EQ(Pairs[4], (std::pair<std::string, std::string>{" x ", " y"}));
    EXPECT_TRUE(ParseExtraOptions(" \r\n ").empty());
}

TEST_F(JobOptionsTest, InputExtraOptionsApplyAndUnknownNamesHaveNoEffect) {
    TInputOptions In;
    In.ExtraOptions = "vn=1\n-bitexact -vlevel 13";
    In.StartTime = 1500;
    In.ProgramID = 3;
    ApplyInputOptions(Engine, In, "in.avi");
    EXPECT_EQ(Engine.Settings.vn, 1);
    EXPECT_EQ(Engine.Settings.ss, 1500000);
    EXPECT_EQ(Engine.Settings.programid, 3);
    EXPECT_TRUE(Engine.Settings.OptionNames.empty());
    EXPECT_EQ(In.FileName, "in.avi");

    // Not-set values are skipped.
    TCustomFFmpeg Other;
    Other.PrepareJob();
    TInputOptions Defaults;
    Defaults.StartTime = 0;
    ApplyInputOptions(Other, Defaults, "x");
    EXPECT_EQ(Other.Settings.ss, 0);
    EXPECT_EQ(Other.Settings.programid, Reference.Settings.programid);
    EXPECT_EQ(Other.Settings.InputFormat, nullptr);
}

TEST_F(JobOptionsTest, BadValuesRaiseTheOptionsMessages) {
    TInputOptions In;
    In.ForceFormat = "no_such_format";
    try {
        ApplyInputOptions(Engine, In, "x");
        FAIL() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Unknown input format: no_such_format");
    }

    TOutputOptions O;
    O.ExtraOptions = "vframes=abc";
    try {
        ApplyOutputOptions(Engine, O, "x");
        FAIL() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "'abc' is not a valid integer value");
    }
}

TEST_F(JobOptionsTest, CropFieldsWorkOnTheFrameSizeSetBeforeThem) {
    TOutputOptions O;
    O.CropTop = 0;  // applied: checked against a frame height of 0
    try {
        ApplyOutputOptions(Engine, O, "x");
        FAIL() << "no exception";
    } catch (const FFMpegException& E) {
        EXPECT_STREQ(E.what(),
                     "Vertical crop dimensions are outside the range of the original image.\n"
                     "Remember to crop first and scale second.");
    }

    TCustomFFmpeg Other;
    Other.PrepareJob();
    TOutputOptions Sized;
    Sized.FrameSize = "320x240";
    Sized.CropTop = 10;
    Sized.CropLeft = 20;
    ApplyOutputOptions(Other, Sized, "x");
    EXPECT_EQ(Other.Settings.FrameHeight, 230);
    EXPECT_EQ(Other.Settings.FrameWidth, 300);
    EXPECT_EQ(Other.Settings.croptop, 10);
}

TEST_F(JobOptionsTest, TargetPresetComesAfterTheFields) {
    TOutputOptions O;
    O.FrameSize = "320x240";
    O.VideoCodec = "libx264";
    O.Target = 1;
    O.TargetNorm = 1;
    ApplyOutputOptions(Engine, O, "x.mpg");
    EXPECT_EQ(Engine.Settings.FrameWidth, 352);
    EXPECT_EQ(Engine.Settings.FrameHeight, 288);
    EXPECT_EQ(Engine.Settings.vcodec, "mpeg1video");
    EXPECT_STREQ(Engine.Settings.OutputFormat->name, "vcd");

    // Automatic norm without any frame rate cannot decide.
    TCustomFFmpeg Other;
    Other.PrepareJob();
    TOutputOptions Auto;
    Auto.Target = 2;
    try {
        ApplyOutputOptions(Other, Auto, "x.mpg");
        FAIL() << "no exception";
    } catch (const FFMpegException& E) {
        EXPECT_STREQ(E.what(), "frame_rate is invalid.");
    }

    // Other values of Target are no preset at all.
    TCustomFFmpeg Third;
    Third.PrepareJob();
    TOutputOptions None;
    None.Target = 4;
    ApplyOutputOptions(Third, None, "x");
    EXPECT_EQ(Third.Settings.OutputFormat, nullptr);
}

TEST(HookRanges, ItemsInMillisecondsBecomeSortedMicrosecondRanges) {
    auto Ranges = ParseHookRanges(" 10000-15000 , 0-5000 ");
    ASSERT_EQ(Ranges.size(), 2u);
    EXPECT_EQ(Ranges[0].RangeStart, 0);
    EXPECT_EQ(Ranges[0].RangeEnd, 5000000);
    EXPECT_EQ(Ranges[1].RangeStart, 10000000);
    EXPECT_EQ(Ranges[1].RangeEnd, 15000000);

    EXPECT_TRUE(ParseHookRanges("7000-3000, abc, 4000").empty());
    EXPECT_TRUE(ParseHookRanges("").empty());
    EXPECT_TRUE(ParseHookRanges("100-2y, , -").empty());
    // An unreadable start counts as -1 ms.
    auto Open = ParseHookRanges("abc-2000");
    ASSERT_EQ(Open.size(), 1u);
    EXPECT_EQ(Open[0].RangeStart, -1000);
    EXPECT_EQ(Open[0].RangeEnd, 2000000);

    // Equal ends are kept; a single point is a range.
    auto Points = ParseHookRanges("3000-3000,1000 - 3000");
    ASSERT_EQ(Points.size(), 2u);
    EXPECT_EQ(Points[0].RangeEnd, 3000000);
    EXPECT_EQ(Points[1].RangeEnd, 3000000);

    // Values beyond 64 bits are not integers.
    EXPECT_TRUE(ParseHookRanges("0-99999999999999999999").empty());
}

TEST(DateTime, DaysSince1899BecomeUnixSecondsWithTheStandardBias) {
    EXPECT_EQ(DateTimeToUnix(25569.0, 0), 0);
    EXPECT_EQ(DateTimeToUnix(25569.5, 0), 43200);
    EXPECT_EQ(DateTimeToUnix(25570.0, -60), 86400 - 3600);
    EXPECT_EQ(DateTimeToUnix(25569.0, 300), 5 * 3600);
    // 2009-07-06 12:00 local time, bias 0.
    EXPECT_EQ(DateTimeToUnix(40000.5, 0), 1246881600);

    time_t Now = 1751371200;  // a summer day
    EXPECT_EQ(TimestampSeconds(0.0, -60, Now), Now);
    EXPECT_EQ(TimestampSeconds(0.0, 300, Now), Now);
    EXPECT_EQ(TimestampSeconds(25569.0, 0, Now), 0);
}

TEST(DateTime, BiasIgnoresDaylightSaving) {
    {
        TimeZone Zone("EST5EDT");
        EXPECT_EQ(StandardTimeZoneBias(), 300);
    }
    {
        TimeZone Zone("CET-1CEST");
        EXPECT_EQ(StandardTimeZoneBias(), -60);
    }
    TimeZone Zone("UTC");
    EXPECT_EQ(StandardTimeZoneBias(), 0);
}

TEST_F(JobOptionsTest, TimestampZeroStoresTheConversionMoment) {
    TimeZone Zone("CET-1CEST,M3.5.0,M10.5.0/3");
    TOutputOptions O;
    O.Timestamp = 0.0;
    time_t Before = time(nullptr);
    ApplyOutputOptions(Engine, O, "x");
    time_t After = time(nullptr);
    EXPECT_GE(Engine.Settings.timestamp, Before);
    EXPECT_LE(Engine.Settings.timestamp, After);

    TCustomFFmpeg Negative;
    Negative.PrepareJob();
    TOutputOptions None;  // -1: not passed on
    ApplyOutputOptions(Negative, None, "x");
    EXPECT_EQ(Negative.Settings.timestamp, Reference.Settings.timestamp);
}

TEST(SystemColors, TopBitNamesAClassicDefaultColour) {
    EXPECT_EQ(ResolveSystemColor(0x8000000F), 0xC8D0D4u);  // button face 212,208,200
    EXPECT_EQ(ResolveSystemColor(0x80000005), 0xFFFFFFu);  // window
    EXPECT_EQ(ResolveSystemColor(0x80000008), 0x000000u);  // window text
    EXPECT_EQ(ResolveSystemColor(0x8000001B), 0xF0CAA6u);  // gradient active caption 166,202,240
    EXPECT_EQ(ResolveSystemColor(0x800000FF), 0u);         // no such index
    EXPECT_EQ(ResolveSystemColor(0x00123456), 0x00123456u);
}

TEST_F(JobOptionsTest, SystemPadColourIsResolvedBeforeThePad) {
    TOutputOptions O;
    O.PadColor = 0x80000005;  // window: white
    ApplyOutputOptions(Engine, O, "x");
    EXPECT_EQ(Engine.Settings.padcolor[0], 235);
    EXPECT_EQ(Engine.Settings.padcolor[1], 128);
    EXPECT_EQ(Engine.Settings.padcolor[2], 128);
}
