// The batch builder queues files without opening them; as each job starts,
// the profile is fitted to what the stream's parameters say (size, sample
// aspect, display matrix) without decoding a picture, and a file that
// cannot be converted ends its job alone, with the reason and its kind.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "app/Batch.h"
#include "component/VxAVConverter.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"

namespace {

// Profile 0 as MPEG-4 320x240 in MP4.
TProfileFiles MpegFourProfile(const std::filesystem::path& Folder) {
    TProfileFiles Files;
    Files.SettingsIni =
        WriteText(Folder / "settings.ini", "[formatInfo0]\nparaVideoEncoder=mpeg4\nparaVideoSize=320x240\n");
    Files.FormatIni = WriteText(Folder / "format.ini", "[formatInfo0]\nFileExt=mp4\n");
    return Files;
}

}  // namespace

TEST(BatchBuilder, FitsEachFileAsItsJobStartsAndRefusesWhatCannotBeConverted) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    const auto Folder = ScratchFolder("BatchProbe");
    const TProfileFiles Files = MpegFourProfile(Folder);
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

namespace {

// Opens of one file that the kernel saw since the last call. Closes are
// watched too: the kernel merges an event with an unread one just like it.
class TOpenCounter {
public:
    explicit TOpenCounter(const std::string& Path)
        : FFd(inotify_init1(IN_NONBLOCK)), FWatch(inotify_add_watch(FFd, Path.c_str(), IN_OPEN | IN_CLOSE)) {}
    ~TOpenCounter() { close(FFd); }
    bool Watching() const { return FFd >= 0 && FWatch >= 0; }
    int Opens() {
        int Count = 0;
        alignas(inotify_event) char Buffer[4096];
        for (ssize_t Got; (Got = read(FFd, Buffer, sizeof Buffer)) > 0;)
            for (char* At = Buffer; At < Buffer + Got;) {
                const auto* Event = reinterpret_cast<const inotify_event*>(At);
                Count += Event->wd == FWatch && (Event->mask & IN_OPEN);
                At += sizeof(inotify_event) + Event->len;
            }
        return Count;
    }

private:
    int FFd, FWatch;
};

}  // namespace

// A job opens its file once: the engine reads on from what the setup's probe
// opened and found, instead of opening it and finding its streams again. The
// kernel counts the opens: as many as a probe alone makes; and the output
// loses nothing the probe's look at the streams read ahead.
TEST(BatchBuilder, JobOpensItsFileAsOftenAsAProbeAloneAndKeepsEveryPicture) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    const auto Folder = ScratchFolder("BatchOpensOnce");
    const TProfileFiles Files = MpegFourProfile(Folder);
    for (const char* Name : {"clip.mp4", "clip.avi", "programs.ts", "rotated90.mp4", "tone.mp3"}) {
        SCOPED_TRACE(Name);
        const std::string Source = (Folder / Name).string();
        std::filesystem::copy_file(MediaPath(Name), Source, std::filesystem::copy_options::overwrite_existing);
        TOpenCounter Counter(Source);
        ASSERT_TRUE(Counter.Watching());
        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(Source)) << Probe.LastError();
        TAVFileInfo SourceInfo;
        Probe.GetFileInfo(SourceInfo);
        Probe.CloseFile();
        const int ProbeOpens = Counter.Opens();

        TVxAVConverter Converter;
        TBatchBuilder Builder(Converter, Files, 0, (Folder / "out").string() + "/", ".mp4");
        std::filesystem::create_directories(Folder / "out");
        std::mutex Lock;
        std::condition_variable Ended;
        bool Final = false, Converted = false;
        Converter.OnTerminate = [&](int AIndex, bool ASuccess, bool, const std::string&) {
            std::lock_guard<std::mutex> Guard(Lock);
            if (AIndex < 0) Final = true;
            else Converted = ASuccess;
            Ended.notify_all();
        };
        ASSERT_EQ(Builder.Add(0, Source, TlvFilesRecord()), baAdded) << Builder.Reason();
        Converter.Start(1);
        {
            std::unique_lock<std::mutex> Guard(Lock);
            ASSERT_TRUE(Ended.wait_for(Guard, std::chrono::seconds(60), [&] { return Final; }));
        }
        EXPECT_TRUE(Converted);
        EXPECT_EQ(Counter.Opens(), ProbeOpens);

        ASSERT_TRUE(Probe.OpenFile(Builder.Jobs().back().Output)) << Probe.LastError();
        TAVFileInfo OutputInfo;
        Probe.GetFileInfo(OutputInfo);
        EXPECT_NEAR(double(OutputInfo.Duration), double(SourceInfo.Duration), 100000.0);
        std::filesystem::remove(Builder.Jobs().back().Output);
    }
}
