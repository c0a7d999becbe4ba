#include <gtest/gtest.h>

#include "app/OutputOptions.h"
#include "app/Profiles.h"
#include "tests/app/AppTestSupport.h"

namespace {

// One profile (number 0) with the given settings lines and profile-file
// lines, and records reset as the batch resets them.
class Builder : public ::testing::Test {
protected:
    void Profile(const std::string& SettingsLines, const std::string& FormatLines = "FileExt=mp4\n") {
        auto Folder = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        Files.SettingsIni = WriteText(Folder / "settings.ini", "[formatInfo0]\n" + SettingsLines);
        Files.FormatIni = WriteText(Folder / "format.ini", "[formatInfo0]\n" + FormatLines);
    }
    void Build(int Ws, int Hs, int64_t SourceRate = -1) {
        InitInputOptions(Input);
        InitOutputOptions(Output);
        Output.CropTop = Row.CropTop > 0 ? Row.CropTop : Output.CropTop;
        Output.CropBottom = Row.CropBottom > 0 ? Row.CropBottom : Output.CropBottom;
        Output.CropLeft = Row.CropLeft > 0 ? Row.CropLeft : Output.CropLeft;
        Output.CropRight = Row.CropRight > 0 ? Row.CropRight : Output.CropRight;
        TSourcePicture Source{Ws, Hs, SourceRate};
        BuildOutputOptions(Files, Row, 0, Output, Source, Input);
    }
    void ExpectPads(int Top, int Bottom, int Left, int Right) {
        EXPECT_EQ(Output.PadTop, Top);
        EXPECT_EQ(Output.PadBottom, Bottom);
        EXPECT_EQ(Output.PadLeft, Left);
        EXPECT_EQ(Output.PadRight, Right);
    }

    TProfileFiles Files;
    TlvFilesRecord Row;
    TInputOptions Input;
    TOutputOptions Output;
};

const std::string Mpeg4At(const std::string& Size) {
    return "paraVideoEncoder=mpeg4\nparaVideoSize=" + Size + "\n";
}

}  // namespace

TEST_F(Builder, LetterBoxFitting) {
    struct Case {
        const char* Target;
        int Ws, Hs;
        const char* FrameSize;
        int Top, Bottom, Left, Right;
    } Cases[] = {
        {"320x240", 640, 480, "320x240", -1, -1, -1, -1},  // same shape: test 4, equal ratios
        {"320x240", 720, 480, "320x212", 14, 14, -1, -1},  // wider: test 4, bars above and below
        {"480x320", 640, 480, "428x320", -1, -1, 26, 26},  // narrower: test 4, bars left and right
        {"320x240", 640, 200, "320x100", 70, 70, -1, -1},  // test 1 alone
        {"320x240", 160, 90, "320x180", 30, 30, -1, -1},   // test 3: enlarged
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.FrameSize);
        Profile(Mpeg4At(C.Target));
        Build(C.Ws, C.Hs);
        EXPECT_EQ(Output.FrameSize, C.FrameSize);
        EXPECT_EQ(Output.AspectRatio, std::string(C.Target).replace(3, 1, ":"));
        ExpectPads(C.Top, C.Bottom, C.Left, C.Right);
    }
}

TEST_F(Builder, CropsAreAddedToTheFittedFrame) {
    Profile(Mpeg4At("320x240"));
    Row.CropTop = 10;
    Row.CropBottom = 6;
    Build(720, 480);
    EXPECT_EQ(Output.FrameSize, "320x228");  // 10 + 212 + 6
    EXPECT_EQ(Output.CropTop, 10);
    EXPECT_EQ(Output.CropLeft, -1);
}

TEST_F(Builder, SourceSizeTurnsCropsIntoBalancedPads) {
    Profile(Mpeg4At("as source"));
    Row.CropLeft = 10;
    Build(640, 480);
    EXPECT_EQ(Output.FrameSize, "640x480");
    EXPECT_EQ(Output.AspectRatio, "640:480");
    ExpectPads(0, 0, 4, 4);

    Row.CropLeft = 0;
    Row.CropTop = 8;
    Row.CropBottom = 4;
    Build(640, 480);
    ExpectPads(6, 6, 0, 0);
}

TEST_F(Builder, OtherZoomModes) {
    Profile(Mpeg4At("320x180"));
    Row.ZoomMode = "full";
    Build(640, 480);
    EXPECT_EQ(Output.FrameSize, "320x180");
    EXPECT_EQ(Output.AspectRatio, "320:180");
    ExpectPads(-1, -1, -1, -1);

    // Centre: a 4:3 picture fills 16:9 by losing 60 rows at top and bottom.
    Row.ZoomMode = "cent";
    Build(640, 480);
    EXPECT_EQ(Output.CropTop, 60);
    EXPECT_EQ(Output.CropBottom, 60);
    EXPECT_EQ(Output.CropLeft, 0);
    EXPECT_EQ(Output.FrameSize, "320x300");

    Row.ZoomMode = "orig";
    Build(640, 480);
    EXPECT_EQ(Output.FrameSize, "");
    EXPECT_EQ(Output.CropTop, -1);
}

TEST_F(Builder, MissingPictureOrTargetNeedsNoRatio) {
    Profile(Mpeg4At("320x240"));
    Build(0, 0);
    EXPECT_EQ(Output.FrameSize, "320x240");
    Profile(Mpeg4At("null"));
    Build(640, 480);
    EXPECT_EQ(Output.FrameSize, "");
    EXPECT_EQ(Output.AspectRatio, "");
}

TEST_F(Builder, H263TargetsMoveToSizesTheEncoderTakes) {
    Profile("paraVideoEncoder=h263\nparaVideoSize=400x300\n");
    Build(704, 576);
    EXPECT_EQ(Output.VideoCodec, "h263");
    EXPECT_EQ(Output.FrameSize, "704x576");
    Profile("paraVideoEncoder=h263\nparaVideoSize=352x288\n");
    Build(352, 288);
    EXPECT_EQ(Output.FrameSize, "352x288");
    Profile("paraVideoEncoder=h263\nparaVideoSize=200x150\n");
    Build(352, 288);
    EXPECT_EQ(Output.FrameSize, "352x288");
    Profile("paraVideoEncoder=h263\nparaVideoSize=as source\n");
    Build(640, 480);  // 640 wide becomes 704x576, letter-boxed
    EXPECT_EQ(Output.AspectRatio, "704:576");
    // Other encoders keep odd sizes.
    Profile(Mpeg4At("400x300"));
    Build(400, 300);
    EXPECT_EQ(Output.FrameSize, "400x300");
}

TEST_F(Builder, VideoEncoders) {
    Profile("paraVideoEncoder=mpeg4\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoCodec, "mpeg4");
    EXPECT_EQ(Output.VideoTag, "DIVX");
    Profile("paraVideoEncoder=flv\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoCodec, "");
    EXPECT_EQ(Output.VideoTag, "");
    EXPECT_EQ(Input.ExtraOptions, "");  // still a video job
    Profile("paraVideoEncoder=libxvid\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoCodec, "libxvid");
    EXPECT_EQ(Output.VideoTag, "XVID");
}

TEST_F(Builder, VideoDefaultsAndSourceRate) {
    Profile("paraVideoEncoder=mpeg4\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoBitRate, 512000);
    EXPECT_EQ(Output.FrameRate, "29.97");
    EXPECT_EQ(Output.AudioCodec, "libfaac");
    EXPECT_EQ(Output.AudioChannels, 2);
    EXPECT_EQ(Output.AudioSampleRate, 44100);
    EXPECT_EQ(Output.AudioBitRate, 128000);
    EXPECT_EQ(Output.GOPSize, -1);  // only for H.264
    EXPECT_EQ(Output.PadColor, 0u);

    Profile("paraVideoEncoder=mpeg4\nparaVideoBitRate=as source\nparaFrameRate=as source\n"
            "paraChannel=as source\nparaSampleRate=as source\nparaAudioBitRate=as source\n");
    Build(320, 240, 800000);
    EXPECT_EQ(Output.VideoBitRate, 800000);
    EXPECT_EQ(Output.FrameRate, "");
    EXPECT_EQ(Output.AudioChannels, -1);
    EXPECT_EQ(Output.AudioSampleRate, -1);
    EXPECT_EQ(Output.AudioBitRate, -1);
}

TEST_F(Builder, ContainersPassedOnByName) {
    for (auto [Format, Expected] : {std::pair<const char*, const char*>{"AVI", "AVI"}, {"psp", "psp"}, {"mp4", ""}}) {
        Profile("paraVideoEncoder=mpeg4\n", std::string("Format=") + Format + "\n");
        Build(320, 240);
        EXPECT_EQ(Output.FileFormat, Expected);
    }
}

TEST_F(Builder, AudioOnlyProfileReadsNoVideo) {
    Profile("paraVideoEncoder=\nparaVideoSize=320x240\nparaAudioEncoder=libmp3lame\nparaVolume=512\n", "Format=avi\n");
    Build(640, 480);
    EXPECT_EQ(Input.ExtraOptions, "vn=1");
    EXPECT_EQ(Output.VideoCodec, "");
    EXPECT_EQ(Output.FileFormat, "");
    EXPECT_EQ(Output.FrameSize, "");
    EXPECT_EQ(Output.VideoBitRate, -1);
    EXPECT_EQ(Output.AudioCodec, "libmp3lame");
    EXPECT_EQ(Output.AudioVolume, 512);
    ExpectPads(-1, -1, -1, -1);
}

TEST_F(Builder, VolumeValues) {
    // 256 is passed on for video and left out for audio only; both mean
    // an unchanged volume.
    Profile("paraVideoEncoder=mpeg4\nparaVolume=256\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioVolume, 256);
    Profile("paraVideoEncoder=\nparaVolume=256\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioVolume, -1);
    // A video profile skips the literal 100.
    Profile("paraVideoEncoder=mpeg4\nparaVolume=100\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioVolume, -1);
    // Without the key the volume stays as it is.
    Profile("paraVideoEncoder=mpeg4\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioVolume, 256);
    Profile("paraVideoEncoder=\nparaAudioEncoder=libmp3lame\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioVolume, -1);
}

TEST_F(Builder, AudioBitRateMayHaveAFraction) {
    Profile("paraVideoEncoder=mpeg4\nparaAudioBitRate=96.5\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioBitRate, 96500);
    Profile("paraVideoEncoder=\nparaAudioBitRate=0.0005\n");  // rounds to 0: not passed on
    Build(320, 240);
    EXPECT_EQ(Output.AudioBitRate, -1);
    Profile("paraVideoEncoder=\nparaAudioBitRate=\n");
    Build(320, 240);
    EXPECT_EQ(Output.AudioBitRate, -1);
}

TEST_F(Builder, NonNumericValuesRaiseConversionErrorsNamingTheKey) {
    struct Case {
        std::string Lines, Message, Key;
    } Cases[] = {
        {"paraVideoEncoder=mpeg4\nparaChannel=two\n", "'two' is not a valid integer value", "paraChannel"},
        {"paraVideoEncoder=mpeg4\nparaVideoSize=axb\n", "'a' is not a valid integer value", "paraVideoSize"},
        {"paraVideoEncoder=mpeg4\nparaVideoBitRate=fast\n", "'fast' is not a valid integer value", "paraVideoBitRate"},
        {"paraVideoEncoder=libx264\nparaGop=many\n", "'many' is not a valid integer value", "paraGop"},
        {"paraVideoEncoder=\nparaSampleRate=44.1k\n", "'44.1k' is not a valid integer value", "paraSampleRate"},
        {"paraVideoEncoder=\nparaAudioBitRate=loud\n", "'loud' is not a valid floating point value",
         "paraAudioBitRate"},
        {"paraVideoEncoder=\nparaVolume=50%\n", "'50%' is not a valid integer value", "paraVolume"},
        {"paraVideoEncoder=mpeg4\nparaFrameRate=0\n", "'0' is not a valid frame rate", "paraFrameRate"},
        {"paraVideoEncoder=mpeg4\nparaFrameRate=-25\n", "'-25' is not a valid frame rate", "paraFrameRate"},
    };
    for (const Case& C : Cases) {
        Profile(C.Lines);
        try {
            Build(320, 240);
            ADD_FAILURE() << C.Lines;
        } catch (const EConvertError& E) {
            EXPECT_EQ(E.what(), C.Message + " for " + C.Key + " in section [formatInfo0] of the file " +
                                    Files.SettingsIni);
        }
    }
    // Rates the libraries know by name are theirs to check.
    Profile("paraVideoEncoder=mpeg4\nparaFrameRate=ntsc\n");
    Build(320, 240);
    EXPECT_EQ(Output.FrameRate, "ntsc");
}

TEST_F(Builder, H264ValuesReachTheEncoder) {
    Profile("paraVideoEncoder=libx264\nparaVideoBitRate=600\nparaGop=120\nparaLevel=13\nparaMaxBitrate=768\n"
            "paraBufferSize=2000\nparaQscale=25\nparaCoder=0\nparaBitExact=TRUE\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoCodec, "libx264");
    EXPECT_EQ(Output.GOPSize, 120);
    EXPECT_EQ(Output.VideoMaxRate, 768000);
    EXPECT_EQ(Output.VideoBufSize, 2000000);
    EXPECT_EQ(Output.ExtraOptions,
              "vcodec=libx264\nflags=+bitexact\nlevel=13\nqmax=40\ncoder=0\nprofile=baseline");
    auto Pairs = ParseExtraOptions(Output.ExtraOptions);
    ASSERT_FALSE(Pairs.empty());
    EXPECT_EQ(Pairs.front(), std::make_pair(std::string("vcodec"), std::string("libx264")));

    // The chosen rate wins over a lower limit; CABAC means Main profile.
    Profile("paraVideoEncoder=libx264\nparaVideoBitRate=2000\nparaMaxBitrate=1500\nparaCoder=1\n"
            "paraBitExact=False\nparaQscale=0\nparaLevel=0\n");
    Build(320, 240);
    EXPECT_EQ(Output.VideoMaxRate, 2000000);
    EXPECT_EQ(Output.ExtraOptions, "vcodec=libx264\ncoder=1\nprofile=main");

    // The defaults of a section without the keys.
    Profile("paraVideoEncoder=libx264\n");
    Build(320, 240);
    EXPECT_EQ(Output.GOPSize, 250);
    EXPECT_EQ(Output.VideoMaxRate, 1500000);
    EXPECT_EQ(Output.VideoBufSize, 128000);
    EXPECT_EQ(Output.ExtraOptions,
              "vcodec=libx264\nflags=+bitexact\nlevel=13\nqmax=40\ncoder=0\nprofile=baseline");
}

TEST(H264Quantiser, FollowsTheStepScale) {
    EXPECT_EQ(H264QuantiserForQscale(1), 12);
    EXPECT_EQ(H264QuantiserForQscale(2), 18);
    EXPECT_EQ(H264QuantiserForQscale(25), 40);
    EXPECT_EQ(H264QuantiserForQscale(31), 42);
    EXPECT_EQ(H264QuantiserForQscale(100000), 51);
}
