// What the builder derives from the source's shape and rate and from the
// device limits of the profile file.
#include <gtest/gtest.h>

#include "app/OutputOptions.h"
#include "tests/app/AppTestSupport.h"

namespace {

struct TBuilt {
    TOutputOptions Output;
    TInputOptions Input;
};

TBuilt Build(const std::string& Name, const std::string& Settings, const std::string& Format,
             const TSourcePicture& Source, const std::string& Zoom = "lbox") {
    auto Folder = ScratchFolder(Name);
    TProfileFiles Files;
    Files.SettingsIni = WriteText(Folder / "settings.ini", "[formatInfo0]\n" + Settings);
    Files.FormatIni = WriteText(Folder / "format.ini", "[formatInfo0]\nFileExt=mp4\n" + Format);
    TlvFilesRecord Row;
    Row.ZoomMode = Zoom;
    TBuilt B;
    InitInputOptions(B.Input);
    InitOutputOptions(B.Output);
    BuildOutputOptions(Files, Row, 0, B.Output, Source, B.Input);
    return B;
}

TSourcePicture Picture(int W, int H, int SarNum = 0, int SarDen = 0, int Rotation = 0, int RateNum = 25,
                       int RateDen = 1) {
    TSourcePicture S;
    S.Width = W;
    S.Height = H;
    S.SarNum = SarNum;
    S.SarDen = SarDen;
    S.Rotation = Rotation;
    S.RateNum = RateNum;
    S.RateDen = RateDen;
    return S;
}

}  // namespace

TEST(DeviceOptions, PictureShapeSizeAndTurn) {
    struct Case {
        const char* Name;
        const char* Size;
        TSourcePicture Source;
        const char* Zoom;
        const char* FrameSize;
        int PadTop, PadLeft;
        const char* Aspect;
        const char* Filters;
    } Cases[] = {
        // A 4:3 PAL picture fills a 4:3 frame; a 16:9 one gets bars above and below.
        {"pal43", "320x240", Picture(720, 576, 16, 15), "lbox", "320x240", -1, -1, "320:240", ""},
        {"pal169", "320x240", Picture(720, 576, 64, 45), "lbox", "320x180", 30, -1, "320:240", ""},
        {"pal43wide", "640x360", Picture(720, 576, 16, 15), "lbox", "480x360", -1, 80, "640:360", ""},
        // Square pixels and an unknown aspect are what they were.
        {"square", "320x240", Picture(720, 480), "lbox", "320x212", 14, -1, "320:240", ""},
        {"unknown", "320x240", Picture(720, 480, 0, 1), "lbox", "320x212", 14, -1, "320:240", ""},
        // "As source" keeps the coded size and the shape it is shown with.
        {"assource", "as source", Picture(720, 576, 16, 15), "lbox", "720x576", 0, 0, "768:576", ""},
        // A phone video shot upright: turned, then fitted with side bars.
        {"turned", "320x240", Picture(640, 480, 1, 1, 90), "lbox", "", -1, -1, "320:240",
         "transpose=clock,scale=180:240,pad=320:240:70:0:color=black"},
        {"turnedback", "320x240", Picture(640, 480, 1, 1, 270), "full", "", -1, -1, "320:240",
         "transpose=cclock,scale=320:240"},
        {"upsidedown", "320x240", Picture(640, 480, 1, 1, 180), "lbox", "", -1, -1, "320:240",
         "hflip,vflip,scale=320:240"},
        {"turnedassource", "as source", Picture(640, 480, 1, 1, 90), "lbox", "", -1, -1, "480:640",
         "transpose=clock"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        TBuilt B = Build(C.Name, std::string("paraVideoEncoder=mpeg4\nparaVideoSize=") + C.Size + "\n", "", C.Source,
                         C.Zoom);
        EXPECT_EQ(B.Output.FrameSize, C.FrameSize);
        EXPECT_EQ(B.Output.PadTop, C.PadTop);
        EXPECT_EQ(B.Output.PadLeft, C.PadLeft);
        EXPECT_EQ(B.Output.AspectRatio, C.Aspect);
        EXPECT_EQ(B.Output.VideoFilters, C.Filters);
        EXPECT_EQ(B.Output.PixelFormat, "yuv420p");
    }
}

TEST(DeviceOptions, RatesMatricesAndLevels) {
    // Rates: "as source" is halved above 30 a second, kept otherwise.
    struct RateCase {
        int Num, Den;
        const char* Expected;
    } Rates[] = {{25, 1, ""}, {30000, 1001, ""}, {30, 1, ""}, {50, 1, "25/1"}, {60000, 1001, "30000/1001"},
                 {120, 1, "30/1"}, {0, 1, ""}};
    for (const RateCase& R : Rates) EXPECT_EQ(CappedSourceRate(R.Num, R.Den), R.Expected) << R.Num << "/" << R.Den;

    // MPEG-4: key-frame distance, peak rate and buffer from the profile
    // file, the lowest level that fits (Main Profile beyond Simple), device
    // lines, Xvid's tag.
    struct LevelCase {
        const char* Size;
        const char* Rate;
        const char* Extra;
        int Buffer;  // the level's own buffer is the ceiling
    } Levels[] = {{"320x240", "29.97", "vprofile=0\nvlevel=4", 1310720},
                  {"176x144", "14.985", "vprofile=0\nvlevel=4", 1310720},
                  {"720x576", "25", "vprofile=0\nvlevel=5", 1835008},
                  {"1920x1080", "29.97", "vprofile=3\nvlevel=4", 2000000},
                  {"4096x2160", "25", "", 2000000}};
    for (const LevelCase& L : Levels) {
        SCOPED_TRACE(L.Size);
        TBuilt B = Build(std::string("level") + L.Size,
                         std::string("paraVideoEncoder=mpeg4\nparaVideoBitRate=768\nparaVideoSize=") + L.Size +
                             "\nparaFrameRate=" + L.Rate + "\n",
                         "paraGop=250\nparaMaxBitrate=1000\nparaBufferSize=2000\n", Picture(640, 480));
        EXPECT_EQ(B.Output.ExtraOptions, L.Extra);
        EXPECT_EQ(B.Output.GOPSize, 250);
        EXPECT_EQ(B.Output.VideoMaxRate, 1000000);
        EXPECT_EQ(B.Output.VideoBufSize, L.Buffer);
        EXPECT_EQ(B.Output.FrameRate, L.Rate);
    }
    TBuilt Xvid = Build("xvid", "paraVideoEncoder=libxvid\nparaVideoSize=320x240\nparaVideoBitRate=64\n",
                        "MPEG4Options=bf=0\n", Picture(320, 240));
    EXPECT_EQ(Xvid.Output.VideoTag, "XVID");
    EXPECT_EQ(Xvid.Output.ExtraOptions, "bf=0\nvprofile=0\nvlevel=3");
    EXPECT_EQ(Xvid.Output.VideoMaxRate, -1);  // no peak without a buffer

    TBuilt Psp = Build("psp", "paraVideoEncoder=libx264\nparaVideoSize=480x272\nparaFrameRate=as source\n",
                       "H264Options=refs=3; b-pyramid=none\n", Picture(1280, 720, 1, 1, 0, 50, 1));
    EXPECT_NE(Psp.Output.ExtraOptions.find("\nrefs=3\nb-pyramid=none"), std::string::npos)
        << Psp.Output.ExtraOptions;
    EXPECT_EQ(Psp.Output.FrameRate, "25/1");
}
