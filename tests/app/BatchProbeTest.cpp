// The batch builder queues files without opening them; as each job starts,
// the profile is fitted to what the stream's parameters say (size, sample
// aspect, display matrix) without decoding a picture, and a file that
// cannot be converted ends its job alone, with the reason and its kind.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "app/Batch.h"
#include "component/VxAVConverter.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"

TEST(BatchBuilder, FitsEachFileAsItsJobStartsAndRefusesWhatCannotBeConverted) {
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
        int CropTop = 0;
        TBatchAddResult Refusal = baAdded;
        const char* Reason = "";
    } Cases[] = {
        {"clip.mp4", "320x240", -1, ""},              // H.264 in MP4, square pixels, 4:3
        {"clip.avi", "320x240", 0, ""},               // MPEG-4 in AVI, the size itself
        {"programs.ts", "320x240", 0, ""},            // MPEG-2 in MPEG-TS
        {"pal_64x45.mp4", "320x180", 30, ""},         // 720x576 shown 16:9: bars above and below
        {"rotated90.mp4", "", -1, "transpose=clock,scale=180:240,pad=320:240:70:0:color=black"},
        {"random.bin", "", -1, "", 0, baNotOpened, "random.bin"},
        {"no-such-file.avi", "", -1, "", 0, baNotOpened, "no such file or directory"},
        {"clip.avi", "", -1, "", 3, baNotWritable, "Top crop size must be a multiple of 2"},
    };
    TVxAVConverter Converter;
    TBatchBuilder Builder(Converter, Files, 0, Folder.string() + "/", ".mp4");
    std::mutex Lock;
    std::condition_variable Ended;
    bool Final = false;
    std::map<int, TOutputOptions> Seen;
    std::map<int, int> Decoders;
    std::map<int, std::string> Ends;
    // Seen, the job need not convert: what the handler raises ends it.
    Builder.OnRow = [&](int Row, TAVProbe& Probe, TInputOptions&, TOutputOptions& Output) {
        std::lock_guard<std::mutex> Guard(Lock);
        Seen[Row] = Output;
        Decoders[Row] = Probe.DecodersOpened();
        if (Cases[Row].Refusal == baAdded) throw std::runtime_error("seen");
    };
    Converter.OnTerminate = [&](int AIndex, bool, bool, const std::string& AMessage) {
        std::lock_guard<std::mutex> Guard(Lock);
        if (AIndex < 0) Final = true;
        else Ends[AIndex] = AMessage;
        Ended.notify_all();
    };
    for (int Row = 0; Row < int(std::size(Cases)); ++Row) {
        TlvFilesRecord Record;
        Record.ZoomMode = "lbox";
        Record.CropTop = Cases[Row].CropTop;
        ASSERT_EQ(Builder.Add(Row, MediaPath(Cases[Row].File), Record), baAdded) << Builder.Reason();
        EXPECT_EQ(Builder.Jobs().back().Job, Row);
    }
    // Queued, nothing is opened yet.
    EXPECT_EQ(Converter.EngineCount(), 0);
    EXPECT_TRUE(Seen.empty());
    EXPECT_EQ(Converter.Probe.DecodersOpened(), 0);

    Converter.Start(1);
    std::unique_lock<std::mutex> Guard(Lock);
    ASSERT_TRUE(Ended.wait_for(Guard, std::chrono::seconds(60), [&] { return Final; }));
    for (int Row = 0; Row < int(std::size(Cases)); ++Row) {
        const Case& C = Cases[Row];
        SCOPED_TRACE(C.File);
        std::string Reason;
        EXPECT_EQ(Builder.Refusal(Row, &Reason), C.Refusal);
        if (C.Refusal == baAdded) {
            ASSERT_EQ(Seen.count(Row), 1u);
            EXPECT_EQ(Ends[Row], "seen");
            EXPECT_EQ(Decoders[Row], 0);
            EXPECT_EQ(Seen[Row].FrameSize, C.FrameSize);
            EXPECT_EQ(Seen[Row].PadTop, C.PadTop);
            EXPECT_EQ(Seen[Row].VideoFilters, C.Filters);
        } else {
            // The job's end carries the reason the caller reports.
            EXPECT_NE(Reason.find(C.Reason), std::string::npos) << Reason;
            EXPECT_EQ(Ends[Row], Reason);
        }
    }
}
