#include <iterator>

#include "common/MediaText.h"
#include "tests/probe/ProbeTestSupport.h"

namespace {
int64_t FileSize(const std::string& Path) { return static_cast<int64_t>(std::filesystem::file_size(Path)); }
int64_t Us(const AVStream* S, int64_t T) { return av::av_rescale_q(T, S->time_base, {1, 1000000}); }
}  // namespace

// First in the binary: CTest runs each case in a process of its own, where
// nothing has loaded the libraries yet.
TEST(ProbeWithoutLibraries, MissingCodecLibraryIsRaisedBeforeAnyWork) {
    if (LibrariesLoaded()) GTEST_SKIP() << "the libraries are already loaded in this process";
    TAVProbe Probe;
    try {
        Probe.OpenFile(MediaPath("clip.avi"));
        ADD_FAILURE() << "no exception";
    } catch (const EAVProbeError& E) {
        EXPECT_STREQ(E.what(), "LibAVCodec not loaded.");
    }
    EXPECT_THROW(Probe.AttachContext(nullptr), EAVProbeError);
    EXPECT_EQ(Probe.StreamCount(), -1);
}

TEST_F(ProbeTest, OpenFileCountsStreamsAndReadsTheirParameters) {
    TAVProbe Probe;
    std::string Path = MediaPath("clip.avi");
    ASSERT_TRUE(Probe.OpenFile(Path)) << Probe.LastError();
    EXPECT_EQ(Probe.StreamCount(), 2);
    EXPECT_EQ(Probe.ProgramCount(), 0);
    EXPECT_EQ(Probe.VideoStreamCount() * 10 + Probe.AudioStreamCount(), 11);
    EXPECT_EQ(Probe.FirstAudioStream(), 1);
    EXPECT_EQ(Probe.GetFileSize(), FileSize(Path));
    EXPECT_TRUE(Probe.IsVideoStream(0) && Probe.IsAudioStream(1) && !Probe.IsAudioStream(0));

    TAVFileInfo File;
    Probe.GetFileInfo(File);
    EXPECT_NEAR(File.Duration, 3000000, 100000);
    EXPECT_EQ(File.Title, "clip.avi");

    TAVVideoStreamInfo Video;
    Probe.GetVideoStreamInfo(0, Video);
    EXPECT_EQ(Video.CodecName, "mpeg4");
    EXPECT_EQ(Video.Width * 1000 + Video.Height, 320240);
    EXPECT_EQ(Video.FrameRateNum * 100 + Video.FrameRateDen, 2501);
    EXPECT_FLOAT_EQ(Video.AspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(Video.DurationUs, Video.DurationRaw * 40000);  // time base 1/25
    // An unknown sample aspect ratio means square pixels.
    Probe.Context()->streams[0]->codecpar->sample_aspect_ratio = {0, 1};
    Probe.Context()->streams[0]->sample_aspect_ratio = {0, 1};
    Probe.GetVideoStreamInfo(0, Video);
    EXPECT_FLOAT_EQ(Video.AspectRatio, 4.0f / 3.0f);

    TAVAudioStreamInfo Audio;
    Probe.GetAudioStreamInfo(1, Audio);
    EXPECT_EQ(Audio.CodecName, "mp3");
    EXPECT_EQ(Audio.SampleRate * 10 + Audio.Channels, 441002);

    Probe.CloseFile();
    EXPECT_EQ(Probe.StreamCount(), -1);
    Probe.CloseFile();
}

TEST_F(ProbeTest, InfoTextListsContainerLinesThenStreamLines) {
    TAVProbe Probe;
    std::string Path = MediaPath("short.avi");
    ASSERT_TRUE(Probe.OpenFile(Path));
    std::vector<std::string> L = InfoLines(Probe);
    const AVFormatContext* C = Probe.Context();
    const std::vector<std::string> Head = {
        "File Name: " + Path, "Format Name: avi", std::string("Format Long Name: ") + C->iformat->long_name,
        "File Size: " + FormatFileSize(FileSize(Path)), "StartTime: 0.000000", "Duration: " + FormatDuration(C->duration),
        "Bit Rate: " + std::to_string(C->bit_rate / 1000) + " Kbps", "Title: short.avi"};
    ASSERT_EQ(L.size(), Head.size() + 2);
    for (size_t i = 0; i < Head.size(); ++i) EXPECT_EQ(L[i], Head[i]);

    // AVI shows no stream ids and these streams carry no language.
    const AVStream* V = C->streams[0];
    const AVStream* A = C->streams[1];
    EXPECT_EQ(L[8].rfind("Stream #0, 1/25: Video: mpeg4", 0), 0u) << L[8];
    EXPECT_NE(L[8].find(", 25.00 tb(r), StartTime: 0.000000, Duration: " + FormatDuration(Us(V, V->duration))),
              std::string::npos)
        << L[8];
    EXPECT_EQ(L[9].rfind("Stream #1, 32/1225: Audio: mp3", 0), 0u) << L[9];
    EXPECT_NE(L[9].find(", Duration: " + FormatDuration(Us(A, A->duration))), std::string::npos) << L[9];
    // The time base shows in lowest terms.
    Probe.Context()->streams[0]->time_base = {40, 1000};
    EXPECT_EQ(InfoLines(Probe)[8].rfind("Stream #0, 1/25: ", 0), 0u);

    // MP4 shows its track ids, then the language tag.
    ASSERT_TRUE(Probe.OpenFile(MediaPath("clip.mp4")));
    L = InfoLines(Probe);
    EXPECT_EQ(L[L.size() - 2].rfind(StrFormat("Stream #0[0x%x](und), 1/12800: Video: h264", Probe.Context()->streams[0]->id), 0),
              0u)
        << L[L.size() - 2];
}

TEST_F(ProbeTest, UnknownDurationAndBitRateShowAsNotAvailable) {
    // A lone PNG read through the image pipe has neither, nor a start time.
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("still.png")));
    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    ASSERT_EQ(Info.Duration, AV_NOPTS_VALUE);
    ASSERT_EQ(Info.BitRate, 0);
    std::vector<std::string> L = InfoLines(Probe);
    EXPECT_TRUE(HasLine(L, "Duration: N/A"));
    EXPECT_TRUE(HasLine(L, "Bit Rate: N/A"));
    for (const std::string& Line : L) EXPECT_EQ(Line.find("StartTime"), std::string::npos) << Line;
    EXPECT_EQ(L.back().substr(L.back().size() - 15), ", Duration: N/A");
    TAVVideoStreamInfo Video;
    Probe.GetVideoStreamInfo(0, Video);
    EXPECT_EQ(Video.DurationUs, -1);
}

TEST_F(ProbeTest, ProgramsListOnlyTheStreamsTheyReference) {
    AVFormatContext* C = OpenContext(MediaPath("programs.ts"));
    ASSERT_NE(C, nullptr);
    auto Name = [&](int P) {
        auto Tag = [&](const char* Key) { return std::string(av::av_dict_get(C->programs[P]->metadata, Key, nullptr, 0)->value); };
        return StrFormat("Program %d ", C->programs[P]->id) + Tag("service_name") + "@" + Tag("service_provider");
    };
    TAVProbe Probe;
    Probe.AttachContext(C);
    EXPECT_EQ(Probe.ProgramCount(), 2);
    std::vector<std::string> L = InfoLines(Probe);
    ASSERT_GE(L.size(), 4u);
    std::vector<std::string> Tail(L.end() - 4, L.end());
    EXPECT_EQ(Tail[0], Name(0));
    EXPECT_EQ(Tail[1].rfind(StrFormat("Stream #0[0x%x], 1/90000: Video: mpeg2video", C->streams[0]->id), 0), 0u) << Tail[1];
    int64_t Start = Us(C->streams[0], C->streams[0]->start_time);
    EXPECT_NE(Tail[1].find(StrFormat(", StartTime: %lld.%06lld,", (long long)(Start / 1000000), (long long)(Start % 1000000))),
              std::string::npos)
        << Tail[1];
    EXPECT_EQ(Tail[2], Name(1));
    EXPECT_EQ(Tail[3].rfind(StrFormat("Stream #1[0x%x], 1/90000: Audio: mp2", C->streams[1]->id), 0), 0u) << Tail[3];

    // Without a reference in any program the audio stream is left out.
    unsigned Kept = C->programs[1]->nb_stream_indexes;
    C->programs[1]->nb_stream_indexes = 0;
    L = InfoLines(Probe);
    EXPECT_EQ(L.back(), Name(1));
    EXPECT_EQ(L[L.size() - 3], Name(0));
    C->programs[1]->nb_stream_indexes = Kept;
    Probe.CloseFile();
    av::avformat_close_input(&C);
}

TEST_F(ProbeTest, TagsAndCreationTimeComeFromTheMetadata) {
    auto Path = ScratchFolder("Tags") / "tags.txt";
    WriteFile(Path, ";FFMETADATA1\ntitle=A Title\nartist=Some Artist\ncopyright=(c) Nobody\ncomment=None\n"
                    "album=The Album\ngenre=Ambient\ndate=2009-05-01\ntrack=3/12\ncreation_time=2009-05-01T12:30:15Z\n");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Path.string())) << Probe.LastError();
    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    EXPECT_EQ(Info.Author, "Some Artist");
    EXPECT_EQ(Info.Year, 2009);
    EXPECT_EQ(Info.Track, 3);
    EXPECT_EQ(Info.TimeStamp, 1241181015);
    std::vector<std::string> L = InfoLines(Probe);
    for (const char* Line : {"Title: A Title", "Author: Some Artist", "Copyright: (c) Nobody", "Comment: None",
                             "Album: The Album", "Genre: Ambient", "Year: 2009", "Track: #3"})
        EXPECT_TRUE(HasLine(L, Line)) << Line;
    EXPECT_TRUE(HasLine(L, "Time Stamp: " + FormatDateTime(UnixTimeToLocal(1241181015))));
}

TEST_F(ProbeTest, FileSizeFormsAndTheFallbackToTheDisk) {
    auto Folder = ScratchFolder("Sizes");
    for (auto [Size, Expected] : {std::pair<uint32_t, const char*>{1024, "File Size: 1024 Byte"},
                                  {1025, "File Size: 1.00 KB"}, {1048577, "File Size: 1.00 MB"}}) {
        auto Path = Folder / ("size" + std::to_string(Size) + ".wav");
        WriteWav(Path, Size);
        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(Path.string())) << Probe.LastError();
        EXPECT_EQ(Probe.GetFileSize(), Size);
        EXPECT_EQ(InfoLines(Probe)[3], Expected);
    }

    // A context without I/O knows no size: the disk tells it, or nothing does.
    std::string Path = MediaPath("tone.wav");
    AVFormatContext* C = OpenContext(Path);
    ASSERT_NE(C, nullptr);
    AVIOContext* IO = C->pb;
    C->pb = nullptr;
    TAVProbe Probe;
    Probe.AttachContext(C);
    EXPECT_EQ(Probe.GetFileSize(), FileSize(Path));
    EXPECT_EQ(InfoLines(Probe)[3], "File Size: " + FormatFileSize(FileSize(Path)));
    char* Url = C->url;
    C->url = av::av_strdup("/no/such/folder/tone.wav");
    EXPECT_EQ(Probe.GetFileSize(), 0);
    EXPECT_EQ(InfoLines(Probe)[3], "File Size: 0 Byte");
    av::av_free(C->url);
    C->url = Url;
    C->pb = IO;
    av::avformat_close_input(&C);
}

TEST_F(ProbeTest, OpenFailuresLeaveNoFileLoaded) {
    TAVProbe Probe;
    // The file does not exist: had it been opened, the error would say so.
    EXPECT_FALSE(Probe.OpenFile("/no/such/folder/clip.avi", "no_such_format"));
    EXPECT_EQ(Probe.LastError(), "Unknown input format: no_such_format");

    ASSERT_TRUE(Probe.OpenFile(MediaPath("clip.avi")));
    std::string Missing = MediaPath("no_such_file.avi");
    EXPECT_FALSE(Probe.OpenFile(Missing));
    EXPECT_EQ(Probe.LastError(), Missing + ": no such file or directory");
    EXPECT_EQ(Probe.StreamCount(), -1);
    EXPECT_FALSE(Probe.OpenFile(MediaPath("random.bin")));
    EXPECT_EQ(Probe.LastError(), MediaPath("random.bin") + ": Unknown format");
    EXPECT_FALSE(Probe.OpenFile(MediaPath("empty.mp4"), "mp4"));
    EXPECT_EQ(Probe.LastError(), MediaPath("empty.mp4") + ": Error while parsing header");

    LogLines.clear();
    TAVFileInfo Info;
    Info.Title = "stale";
    Probe.GetFileInfo(Info);
    EXPECT_EQ(Info.Duration, -1);
    EXPECT_TRUE(Info.Title.empty());
    EXPECT_EQ(Probe.GetInfoText(), "");
    EXPECT_EQ(Probe.GetFileSize(), -1);
    EXPECT_FALSE(Probe.IsVideoStream(0));
    EXPECT_EQ(LogLines.size(), 4u);  // one line per query
    EXPECT_TRUE(Logged(AV_LOG_INFO, "file not loaded.\n"));
}

TEST_F(ProbeTest, UnreadableFilesGetTheEnginesReasonWhateverTheirName) {
    // The content decides, not the extension: random bytes and an empty
    // file are no format at all, the head of an MP4 is one with a broken
    // header.
    std::ifstream Random(MediaPath("random.bin"), std::ios::binary), Mp4(MediaPath("clip.mp4"), std::ios::binary);
    std::string RandomBytes((std::istreambuf_iterator<char>(Random)), {});
    std::string Head(4096, '\0');
    Mp4.read(Head.data(), static_cast<std::streamsize>(Head.size()));
    ASSERT_EQ(Mp4.gcount(), 4096);
    ASSERT_FALSE(RandomBytes.empty());
    struct Case {
        const char* Content;
        std::string Bytes;
        const char* Reason;
    };
    const Case Cases[] = {{"random", RandomBytes, "Unknown format"},
                          {"empty", "", "Unknown format"},
                          {"mp4head", Head, "Error while parsing header"}};
    auto Folder = ScratchFolder("UnreadableFiles");
    TAVProbe Probe;
    for (const Case& Row : Cases)
        for (const char* Extension : {".avi", ".mkv", ".mp4", ".bin"}) {
            auto Path = (Folder / (std::string(Row.Content) + Extension)).string();
            WriteFile(Path, Row.Bytes);
            EXPECT_FALSE(Probe.OpenFile(Path)) << Path;
            EXPECT_EQ(Probe.LastError(), Path + ": " + Row.Reason);
            EXPECT_EQ(Probe.StreamCount(), -1);
        }
}

TEST_F(ProbeTest, StreamIndexesChooseCheckAndRefuse) {
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("late_audio.mkv")));
    TAVAudioStreamInfo Audio;
    Probe.GetAudioStreamInfo(-1, Audio);
    EXPECT_EQ(Audio.CodecName, "pcm_s16le");
    EXPECT_EQ(Audio.StartTimeUs, 500000);  // the audio starts 0.5 s late
    TAVVideoStreamInfo Video;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("pal_16x15.mp4")));
    Probe.GetVideoStreamInfo(-5, Video);
    EXPECT_EQ(Video.Width, 720);
    EXPECT_NEAR(Video.AspectRatio, 16.0 / 15.0 * 720 / 576, 1e-5);

    ASSERT_TRUE(Probe.OpenFile(MediaPath("tone.mp3")));
    Probe.GetVideoStreamInfo(-1, Video);
    EXPECT_EQ(Video.Width, -1);
    EXPECT_FLOAT_EQ(Video.AspectRatio, -1.0f);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "no video stream.\n"));
    Probe.GetVideoStreamInfo(0, Video);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream #0 is not video stream.\n"));
    Probe.GetAudioStreamInfo(3, Audio);
    EXPECT_EQ(Audio.SampleRate, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream index #3 is invalid.\n"));
    EXPECT_FALSE(Probe.IsVideoStream(-1));
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream index #-1 is invalid.\n"));

    ASSERT_TRUE(Probe.OpenFile(MediaPath("still.jpg")));
    Probe.GetAudioStreamInfo(0, Audio);
    EXPECT_EQ(Audio.Channels, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream #0 is not audio stream.\n"));
}

TEST_F(ProbeTest, AttachedProbeReadsRefusesAndLeavesTheContextToItsOwner) {
    AVFormatContext* C = OpenContext(MediaPath("clip.avi"));
    ASSERT_NE(C, nullptr);
    {
        TAVProbe Probe;
        Probe.AttachContext(C);
        EXPECT_FALSE(Probe.OwnsContext());
        EXPECT_EQ(Probe.FirstAudioStream(), 1);
        EXPECT_EQ(InfoLines(Probe)[1], "Format Name: avi");
        EXPECT_THROW(Probe.Seek(-1, 1000000), EAVProbeError);
        EXPECT_EQ(Probe.LastError(), "file cannot be seeked, handle is readonly.");
        EXPECT_TRUE(Logged(AV_LOG_INFO, "file cannot be seeked, handle is readonly.\n"));
        EXPECT_THROW(Probe.DecodeFrame(-1), EAVProbeError);
        EXPECT_EQ(Probe.LastError(), "frame cannot be read, handle is readonly.");
        Probe.CloseFile();
        EXPECT_EQ(Probe.Context(), nullptr);
        // Neither a new open nor the destructor closes a borrowed context.
        Probe.AttachContext(C);
        ASSERT_TRUE(Probe.OpenFile(MediaPath("short.avi")));
        Probe.AttachContext(C);
    }
    AVPacket* Packet = av::av_packet_alloc();
    int Packets = 0;
    for (; av::av_read_frame(C, Packet) >= 0; ++Packets) av::av_packet_unref(Packet);
    EXPECT_GT(Packets, 100);
    av::av_packet_free(&Packet);
    av::avformat_close_input(&C);
}

// Matrices made by the library itself: its angle turns counter-clockwise,
// so a phone's -90 is shown turned 90 degrees clockwise; a flip mirrors the
// turned picture.
TEST_F(ProbeTest, DisplayMatrixGivesTheTurnPlayersApply) {
    struct TCase {
        double LibraryAngle;
        bool Flip;
        int Clockwise;
    };
    const TCase Cases[] = {{0, false, 0},   {-90, false, 90},  {90, false, 270}, {180, false, 180},
                           {-180, false, 180}, {0, true, 0},   {-90, true, 90},  {90, true, 270},
                           {180, true, 180}};
    for (const TCase& C : Cases) {
        int32_t Matrix[9];
        // The setter takes a clockwise angle, the getter answers the
        // counter-clockwise one.
        av::av_display_rotation_set(Matrix, -C.LibraryAngle);
        ASSERT_NEAR(std::fabs(av::av_display_rotation_get(Matrix)), std::fabs(C.LibraryAngle), 0.01);
        if (C.Flip) av::av_display_matrix_flip(Matrix, 1, 0);
        const TDisplayOrientation Shown = DisplayOrientation(Matrix);
        EXPECT_EQ(Shown.Rotation, C.Clockwise) << C.LibraryAngle << (C.Flip ? " flipped" : "");
        EXPECT_EQ(Shown.Mirrored, C.Flip) << C.LibraryAngle;
    }
    // A vertical flip is a half turn and a mirror.
    int32_t Matrix[9];
    av::av_display_rotation_set(Matrix, 0);
    av::av_display_matrix_flip(Matrix, 0, 1);
    const TDisplayOrientation Shown = DisplayOrientation(Matrix);
    EXPECT_EQ(Shown.Rotation, 180);
    EXPECT_TRUE(Shown.Mirrored);
}
