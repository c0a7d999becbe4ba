// The two profiles that copy instead of re-encoding, run through the built
// tarnconv on a Matroska file made here with the libraries (H.264, AAC,
// FLAC, SubRip, two chapters, tags) and read back packet by packet.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <algorithm>
#include <memory>

#include "app/Batch.h"
#include "component/VxAVConverter.h"
#include "tests/app/TarnconvSupport.h"

namespace copy_profiles {

using namespace tarnconv_test;

constexpr int Width = 160, Height = 120, Fps = 25, Frames = 50, Gop = 10, SampleRate = 44100;

struct TMuxer {
    AVFormatContext* Out = nullptr;
    void Write(AVPacket* P, AVCodecContext* C, AVStream* S) {
        av::av_packet_rescale_ts(P, C->time_base, S->time_base);
        P->stream_index = S->index;
        ASSERT_GE(av::av_interleaved_write_frame(Out, P), 0);
    }
};

// Sends F (nullptr: flush) and writes what comes out.
void Encode(TMuxer& M, AVCodecContext* C, AVStream* S, AVFrame* F) {
    ASSERT_GE(av::avcodec_send_frame(C, F), 0);
    AVPacket* P = av::av_packet_alloc();
    while (av::avcodec_receive_packet(C, P) >= 0) M.Write(P, C, S);
    av::av_packet_free(&P);
}

AVCodecContext* OpenEncoder(const char* Name, AVFormatContext* Out, AVStream*& Stream,
                            void (*Configure)(AVCodecContext*)) {
    const AVCodec* Codec = av::avcodec_find_encoder_by_name(Name);
    if (!Codec) return nullptr;
    AVCodecContext* C = av::avcodec_alloc_context3(Codec);
    Configure(C);
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (av::avcodec_open2(C, Codec, nullptr) < 0) {
        av::avcodec_free_context(&C);
        return nullptr;
    }
    Stream = av::avformat_new_stream(Out, nullptr);
    av::avcodec_parameters_from_context(Stream->codecpar, C);
    Stream->time_base = C->time_base;
    return C;
}

// 2 s: a moving box at 25 fps with a key frame every 10 pictures, a tone in
// AAC stereo, the same tone in FLAC mono ("fra", "Commentary"), two SubRip
// cues, two chapters and a title.
void MakeSource(const std::string& Path) {
    av::av_log_set_level(AV_LOG_ERROR);
    TMuxer M;
    ASSERT_GE(av::avformat_alloc_output_context2(&M.Out, nullptr, "matroska", Path.c_str()), 0);
    AVStream *Vs = nullptr, *As = nullptr, *Fs = nullptr;
    AVCodecContext* V = OpenEncoder("libx264", M.Out, Vs, [](AVCodecContext* C) {
        C->width = Width;
        C->height = Height;
        C->pix_fmt = AV_PIX_FMT_YUV420P;
        C->time_base = {1, Fps};
        C->framerate = {Fps, 1};
        C->gop_size = Gop;
        C->keyint_min = Gop;
        C->max_b_frames = 2;
        C->thread_count = 1;
        // Key frames only where the distance puts them.
        av::av_opt_set(C->priv_data, "x264-params", "scenecut=0", 0);
    });
    AVCodecContext* A = OpenEncoder("aac", M.Out, As, [](AVCodecContext* C) {
        C->sample_fmt = AV_SAMPLE_FMT_FLTP;
        C->sample_rate = SampleRate;
        av::av_channel_layout_default(&C->ch_layout, 2);
        C->bit_rate = 96000;
        C->time_base = {1, SampleRate};
    });
    AVCodecContext* F = OpenEncoder("flac", M.Out, Fs, [](AVCodecContext* C) {
        C->sample_fmt = AV_SAMPLE_FMT_S16;
        C->sample_rate = SampleRate;
        av::av_channel_layout_default(&C->ch_layout, 1);
        C->time_base = {1, SampleRate};
    });
    ASSERT_TRUE(V && A && F);
    av::av_dict_set(&Fs->metadata, "language", "fra", 0);
    av::av_dict_set(&Fs->metadata, "title", "Commentary", 0);
    AVStream* Ss = av::avformat_new_stream(M.Out, nullptr);
    Ss->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    Ss->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    Ss->time_base = {1, 1000};
    // A font file attached, as subtitled films carry them.
    AVStream* Font = av::avformat_new_stream(M.Out, nullptr);
    Font->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    Font->codecpar->codec_id = AV_CODEC_ID_TTF;
    const std::string FontData = "not really a font";
    Font->codecpar->extradata = static_cast<uint8_t*>(av::av_mallocz(FontData.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(Font->codecpar->extradata, FontData.data(), FontData.size());
    Font->codecpar->extradata_size = int(FontData.size());
    av::av_dict_set(&Font->metadata, "filename", "font.ttf", 0);
    av::av_dict_set(&Font->metadata, "mimetype", "application/x-truetype-font", 0);
    av::av_dict_set(&M.Out->metadata, "title", "Copy test", 0);
    M.Out->chapters = static_cast<AVChapter**>(av::av_mallocz(2 * sizeof(AVChapter*)));
    const char* Titles[] = {"Opening", "Rest"};
    for (int I = 0; I < 2; ++I) {
        auto* C = static_cast<AVChapter*>(av::av_mallocz(sizeof(AVChapter)));
        C->id = I + 1;
        C->time_base = {1, 1000};
        C->start = 1000 * I;
        C->end = 1000 * (I + 1);
        av::av_dict_set(&C->metadata, "title", Titles[I], 0);
        M.Out->chapters[M.Out->nb_chapters++] = C;
    }
    ASSERT_GE(av::avio_open2(&M.Out->pb, Path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
    ASSERT_GE(av::avformat_write_header(M.Out, nullptr), 0);

    AVFrame* Picture = av::av_frame_alloc();
    Picture->format = V->pix_fmt;
    Picture->width = Width;
    Picture->height = Height;
    av::av_frame_get_buffer(Picture, 0);
    for (int N = 0; N < Frames; ++N) {
        av::av_frame_make_writable(Picture);
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X)
                Picture->data[0][Y * Picture->linesize[0] + X] =
                    (X >= N * 2 && X < N * 2 + 20 && Y > 40 && Y < 60) ? 235 : uint8_t(16 + (X + Y + N) % 180);
        for (int P = 1; P < 3; ++P)
            for (int Y = 0; Y < Height / 2; ++Y) std::memset(Picture->data[P] + Y * Picture->linesize[P], 128, Width / 2);
        Picture->pts = N;
        Encode(M, V, Vs, Picture);
    }
    Encode(M, V, Vs, nullptr);
    av::av_frame_free(&Picture);

    for (AVCodecContext* C : {A, F}) {
        AVStream* S = C == A ? As : Fs;
        const int Size = C->frame_size > 0 ? C->frame_size : 1024;
        AVFrame* Sound = av::av_frame_alloc();
        Sound->format = C->sample_fmt;
        Sound->nb_samples = Size;
        Sound->sample_rate = SampleRate;
        av::av_channel_layout_copy(&Sound->ch_layout, &C->ch_layout);
        av::av_frame_get_buffer(Sound, 0);
        for (int64_t Done = 0; Done < 2 * SampleRate; Done += Size) {
            av::av_frame_make_writable(Sound);
            for (int I = 0; I < Size; ++I) {
                const double Value = 0.3 * std::sin(2 * M_PI * 440.0 * double(Done + I) / SampleRate);
                for (int Ch = 0; Ch < C->ch_layout.nb_channels; ++Ch) {
                    if (C->sample_fmt == AV_SAMPLE_FMT_FLTP)
                        reinterpret_cast<float*>(Sound->data[Ch])[I] = float(Value);
                    else
                        reinterpret_cast<int16_t*>(Sound->data[0])[I] = int16_t(Value * 32767);
                }
            }
            Sound->pts = Done;
            Encode(M, C, S, Sound);
        }
        Encode(M, C, S, nullptr);
        av::av_frame_free(&Sound);
    }

    for (int I = 0; I < 2; ++I) {
        AVPacket* P = av::av_packet_alloc();
        const std::string Text = I == 0 ? "First words" : "Second words";
        av::av_new_packet(P, int(Text.size()));
        std::memcpy(P->data, Text.data(), Text.size());
        P->pts = P->dts = 200 + 1000 * I;
        P->duration = 600;
        P->stream_index = Ss->index;
        ASSERT_GE(av::av_interleaved_write_frame(M.Out, P), 0);
        av::av_packet_free(&P);
    }
    ASSERT_GE(av::av_write_trailer(M.Out), 0);
    for (AVCodecContext* C : {V, A, F}) av::avcodec_free_context(&C);
    av::avio_closep(&M.Out->pb);
    av::avformat_free_context(M.Out);
}

struct TStreamRead {
    std::string Codec;
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    std::string Language, Title, FileName, Extradata;
    std::vector<std::string> Packets;  // data of every packet, in file order
    std::vector<int64_t> PtsMs;        // presentation time of every packet
    std::vector<int64_t> KeyTimesMs;   // presentation times of the key packets
};

struct TFileRead {
    bool Opened = false;
    std::string Title;
    int64_t StartMs = 0;  // the file's start time
    std::vector<std::string> Chapters;
    std::vector<TStreamRead> Streams;
    const TStreamRead* First(AVMediaType Type, const char* Codec = nullptr) const {
        for (const TStreamRead& S : Streams)
            if (S.Type == Type && (!Codec || S.Codec == Codec)) return &S;
        return nullptr;
    }
};

TFileRead ReadBack(const std::string& Path) {
    TFileRead R;
    AVFormatContext* C = nullptr;
    if (av::avformat_open_input(&C, Path.c_str(), nullptr, nullptr) < 0) return R;
    if (av::avformat_find_stream_info(C, nullptr) < 0) {
        av::avformat_close_input(&C);
        return R;
    }
    R.Opened = true;
    auto Tag = [](AVDictionary* D, const char* Key) {
        AVDictionaryEntry* E = av::av_dict_get(D, Key, nullptr, 0);
        return std::string(E ? E->value : "");
    };
    R.Title = Tag(C->metadata, "title");
    if (C->start_time != AV_NOPTS_VALUE) R.StartMs = av::av_rescale_q(C->start_time, {1, 1000000}, {1, 1000});
    for (unsigned I = 0; I < C->nb_chapters; ++I) R.Chapters.push_back(Tag(C->chapters[I]->metadata, "title"));
    for (unsigned I = 0; I < C->nb_streams; ++I) {
        TStreamRead S;
        S.Codec = av::avcodec_get_name(C->streams[I]->codecpar->codec_id);
        S.Type = C->streams[I]->codecpar->codec_type;
        S.Language = Tag(C->streams[I]->metadata, "language");
        S.Title = Tag(C->streams[I]->metadata, "title");
        S.FileName = Tag(C->streams[I]->metadata, "filename");
        const AVCodecParameters* Par = C->streams[I]->codecpar;
        if (Par->extradata) S.Extradata.assign(reinterpret_cast<const char*>(Par->extradata), size_t(Par->extradata_size));
        R.Streams.push_back(S);
    }
    AVPacket* P = av::av_packet_alloc();
    while (av::av_read_frame(C, P) >= 0) {
        TStreamRead& S = R.Streams[P->stream_index];
        S.Packets.emplace_back(reinterpret_cast<const char*>(P->data), size_t(P->size));
        S.PtsMs.push_back(P->pts == AV_NOPTS_VALUE
                              ? -1
                              : av::av_rescale_q(P->pts, C->streams[P->stream_index]->time_base, {1, 1000}));
        if ((P->flags & AV_PKT_FLAG_KEY) && P->pts != AV_NOPTS_VALUE)
            S.KeyTimesMs.push_back(av::av_rescale_q(P->pts, C->streams[P->stream_index]->time_base, {1, 1000}));
        av::av_packet_unref(P);
    }
    av::av_packet_free(&P);
    av::avformat_close_input(&C);
    return R;
}

class CopyProfiles : public TTarnconvTest {
protected:
    void SetUp() override {
        TTarnconvTest::SetUp();
        Source = (Folder / "source.mkv").string();
        MakeSource(Source);
    }

    // The one file a run wrote into Out.
    std::string Made(const fs::path& Out) {
        std::vector<fs::path> Files;
        if (fs::exists(Out))
            for (const auto& E : fs::directory_iterator(Out)) Files.push_back(E.path());
        return Files.size() == 1 ? Files[0].string() : "";
    }

    std::string Source;
};

}  // namespace copy_profiles

using namespace copy_profiles;

TEST_F(CopyProfiles, PicturesAreCopiedBitForBitAndOnlyWhatMp4CannotHoldIsConverted) {
    const TFileRead In = ReadBack(Source);
    ASSERT_TRUE(In.Opened);
    ASSERT_EQ(In.Streams.size(), 5u);
    const TStreamRead* InVideo = In.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(InVideo, nullptr);
    ASSERT_EQ(InVideo->Packets.size(), size_t(Frames));

    TRun Mp4(Folder, "mp4", Args({"-p", "49", "-o", (Folder / "mp4").string(), Source}));
    TRun Mkv(Folder, "mkv", Args({"--log-level", "info", "-p", "50", "-o", (Folder / "mkv").string(), Source}));
    ASSERT_EQ(Mp4.Wait(), 0) << Mp4.Err();
    ASSERT_EQ(Mkv.Wait(), 0) << Mkv.Err();

    // MP4: picture and AAC as they were, the FLAC track and the SubRip
    // cues converted, and the log naming both.
    const std::string Mp4File = Made(Folder / "mp4");
    EXPECT_EQ(fs::path(Mp4File).extension(), ".mp4");
    const TFileRead Out4 = ReadBack(Mp4File);
    ASSERT_TRUE(Out4.Opened);
    // The muxer stores the chapters as a text track of its own, after these.
    std::vector<std::string> Codecs;
    for (const TStreamRead& S : Out4.Streams) Codecs.push_back(S.Codec);
    Codecs.resize(std::min<size_t>(Codecs.size(), 4));
    EXPECT_EQ(Codecs, (std::vector<std::string>{"h264", "aac", "aac", "mov_text"}));
    ASSERT_GE(Out4.Streams.size(), 4u);
    EXPECT_EQ(Out4.Chapters, (std::vector<std::string>{"Opening", "Rest"}));
    EXPECT_EQ(Out4.Streams[0].Packets, InVideo->Packets);
    EXPECT_EQ(Out4.Streams[1].Packets, In.Streams[1].Packets);
    EXPECT_FALSE(Out4.Streams[2].Packets.empty());
    EXPECT_EQ(Out4.Streams[2].Language, "fra");
    // MP4 text samples: the cues, with empty samples for the gaps.
    std::string Cues;
    for (const std::string& P : Out4.Streams[3].Packets) Cues += P;
    EXPECT_NE(Cues.find("First words"), std::string::npos);
    EXPECT_NE(Cues.find("Second words"), std::string::npos);
    // At the default log level the done line says what was converted.
    EXPECT_NE(Mp4.Out().find("Stream #0.2 (flac sound) is converted to aac"), std::string::npos) << Mp4.Out();
    EXPECT_NE(Mp4.Out().find("; Stream #0.3 (subrip subtitle) is converted to mov_text"), std::string::npos);
    EXPECT_NE(Mp4.Out().find("; Stream #0.4 (ttf attachment) is left out: mp4 files cannot hold it"), std::string::npos);
    EXPECT_EQ(Mp4.Out().find("Stream #0.0 (h264"), std::string::npos) << "the picture is not converted";
    TScan Scan = ScanFile(Mp4File);
    EXPECT_EQ(Scan.DecodeErrors, 0);
    EXPECT_EQ(Scan.VideoFrames, Frames);

    // MKV: every stream as it was (the attached font too), with its tags,
    // the chapters and the title.
    const TFileRead OutK = ReadBack(Made(Folder / "mkv"));
    ASSERT_TRUE(OutK.Opened);
    ASSERT_EQ(OutK.Streams.size(), In.Streams.size());
    for (size_t I = 0; I < In.Streams.size(); ++I) {
        SCOPED_TRACE(In.Streams[I].Codec);
        EXPECT_EQ(OutK.Streams[I].Codec, In.Streams[I].Codec);
        EXPECT_EQ(OutK.Streams[I].Packets, In.Streams[I].Packets);
        EXPECT_EQ(OutK.Streams[I].Language, In.Streams[I].Language);
        EXPECT_EQ(OutK.Streams[I].Title, In.Streams[I].Title);
        EXPECT_EQ(OutK.Streams[I].FileName, In.Streams[I].FileName);
        if (In.Streams[I].Type == AVMEDIA_TYPE_ATTACHMENT) {
            EXPECT_EQ(OutK.Streams[I].Extradata, In.Streams[I].Extradata);
        }
    }
    EXPECT_EQ(OutK.Streams[4].FileName, "font.ttf");
    EXPECT_EQ(OutK.Streams[2].Title, "Commentary");
    EXPECT_EQ(OutK.Chapters, (std::vector<std::string>{"Opening", "Rest"}));
    EXPECT_EQ(OutK.Title, "Copy test");
    EXPECT_EQ(Mkv.Err().find("converted"), std::string::npos) << Mkv.Err();
}

// What the copy profiles refuse or change, and how they say so.
TEST_F(CopyProfiles, TrimStartsAtAKeyFrameAndCropIsRefused) {
    const TFileRead In = ReadBack(Source);
    const TStreamRead* InVideo = In.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(InVideo, nullptr);
    // A trim's start counts from the file's start, which the AAC encoder's
    // priming puts a little before 0.
    ASSERT_FALSE(InVideo->KeyTimesMs.empty());
    const int64_t First = InVideo->KeyTimesMs.front();
    // Ms past the first key frame, as a trim start.
    auto Start = [&](int64_t Ms) { return std::to_string(First + Ms - In.StartMs); };
    // Times in the log count from the file's start as well.
    auto KeyAt = [&](int64_t Ms, const char* Rest) {
        char Text[160];
        std::snprintf(Text, sizeof Text, "is copied from its key frame at %.3f s, %s", (First + Ms - In.StartMs) / 1000.0,
                      Rest);
        return std::string(Text);
    };
    struct TCase {
        const char* Name;
        std::vector<std::string> Options;
        int Status;
        std::string Said;  // in the program's error stream
        int64_t StartMs;   // past the first key frame; >= 0: the first picture is the source's last key frame at or before it
    };
    const TCase Cases[] = {
        {"mp4_crop", {"-p", "49", "--crop", "8,8,0,0"}, 1, "copies the picture as it is, so it cannot crop it", -1},
        {"mkv_crop", {"-p", "50", "--crop", "0,0,4,4"}, 1, "copies the picture as it is, so it cannot crop it", -1},
        {"mp4_fit_size", {"-p", "49", "--fit-size", "1"}, 2, "--fit-size needs the picture re-encoded", -1},
        {"mkv_between_keys", {"-p", "50", "--start", Start(1000), "--length", "600"}, 0,
         KeyAt(800, "0.200 s before the start of the trim"), 1000},
        {"mp4_on_a_key", {"-p", "49", "--start", Start(1200)}, 0,
         KeyAt(1200, "at the start of the trim"), 1200},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        std::vector<std::string> A = C.Options;
        const fs::path Out = Folder / C.Name;
        A.insert(A.end(), {"--log-level", "info", "-o", Out.string(), Source});
        std::string Err;
        EXPECT_EQ(RunToEnd(Folder, C.Name, Args(A), nullptr, &Err), C.Status) << Err;
        EXPECT_NE(Err.find(C.Said), std::string::npos) << Err;
        if (C.Status != 0) {
            EXPECT_EQ(Made(Out), "") << "nothing is written";
            continue;
        }
        const TFileRead Read = ReadBack(Made(Out));
        const TStreamRead* Video = Read.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(Video, nullptr);
        ASSERT_FALSE(Video->Packets.empty());
        // The key frame at or before the start, found in the source itself.
        int64_t Key = -1;
        for (int64_t T : InVideo->KeyTimesMs)
            if (T <= First + C.StartMs) Key = std::max(Key, T);
        EXPECT_EQ(Key - First, C.StartMs / 400 * 400) << "a key frame every 0.4 s";
        auto At = std::find(InVideo->PtsMs.begin(), InVideo->PtsMs.end(), Key);
        ASSERT_NE(At, InVideo->PtsMs.end());
        EXPECT_EQ(Video->Packets.front(), InVideo->Packets[size_t(At - InVideo->PtsMs.begin())]);
    }
}

// The window's batch: a cropped row with a copying profile is not added, and
// the row's reason says why; without the crop it is.
TEST_F(CopyProfiles, TheBatchRefusesACroppedFileWithItsReason) {
    const fs::path Out = Folder / "batch";
    fs::create_directories(Out);
    TProfileFiles Files{Settings, (fs::path(TARNCONV_PATH).parent_path() / "tarnmp4format.ini").string()};
    TVxAVConverter Converter;
    TBatchBuilder Builder(Converter, Files, 50, Out.string() + "/", ".mkv");
    TlvFilesRecord Row;
    Row.SourceFile = Source;
    Row.CropLeft = 16;
    EXPECT_EQ(Builder.Add(0, Source, Row), baNotSuitable);
    EXPECT_NE(Builder.Reason().find("\"MKV, every stream copied (*.mkv)\" copies the picture as it is"),
              std::string::npos)
        << Builder.Reason();
    EXPECT_TRUE(Builder.Jobs().empty());
    Row.CropLeft = 0;
    EXPECT_EQ(Builder.Add(1, Source, Row), baAdded) << Builder.Reason();
    EXPECT_EQ(Builder.Jobs().size(), 1u);
}
