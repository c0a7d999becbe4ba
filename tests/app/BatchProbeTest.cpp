// The batch builder fits the profile to what the stream's parameters say
// (size, sample aspect, display matrix) without decoding a picture.
#include <gtest/gtest.h>

#include "app/Batch.h"
#include "component/VxAVConverter.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"

TEST(BatchBuilder, LearnsSizeAspectAndTurnOfCommonFormatsWithoutDecodingAPicture) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    const auto Folder = ScratchFolder("BatchProbe");
    TProfileFiles Files;
    Files.SettingsIni =
        WriteText(Folder / "settings.ini", "[formatInfo0]\nparaVideoEncoder=mpeg4\nparaVideoSize=320x240\n");
    Files.FormatIni = WriteText(Folder / "format.ini", "[formatInfo0]\nFileExt=mp4\n");
    struct Case {
        const char* File;
        const char* FrameSize;
        int PadTop;
        const char* Filters;
    } Cases[] = {
        {"clip.mp4", "320x240", -1, ""},              // H.264 in MP4, square pixels, 4:3
        {"clip.avi", "320x240", 0, ""},               // MPEG-4 in AVI, the size itself
        {"programs.ts", "320x240", 0, ""},            // MPEG-2 in MPEG-TS
        {"pal_64x45.mp4", "320x180", 30, ""},         // 720x576 shown 16:9: bars above and below
        {"rotated90.mp4", "", -1, "transpose=clock,scale=180:240,pad=320:240:70:0:color=black"},
    };
    TVxAVConverter Converter;
    TBatchBuilder Builder(Converter, Files, 0, Folder.string() + "/", ".mp4");
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.File);
        TOutputOptions Seen;
        Builder.OnRow = [&](int, TAVProbe&, TInputOptions&, TOutputOptions& Output) { Seen = Output; };
        TlvFilesRecord Row;
        Row.ZoomMode = "lbox";
        const int Before = Converter.Probe.DecodersOpened();
        ASSERT_EQ(Builder.Add(0, MediaPath(C.File), Row), baAdded) << Builder.Reason();
        EXPECT_EQ(Converter.Probe.DecodersOpened(), Before);
        EXPECT_EQ(Seen.FrameSize, C.FrameSize);
        EXPECT_EQ(Seen.PadTop, C.PadTop);
        EXPECT_EQ(Seen.VideoFilters, C.Filters);
    }
}
