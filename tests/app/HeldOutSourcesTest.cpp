// Sources as people bring them (phone videos with a display matrix, ...)
// converted by tarnconv and read back with the libraries: each output keeps
// what players show of its source.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "tests/app/AppTestSupport.h"
#include "tests/app/TarnconvSupport.h"

using namespace tarnconv_test;

namespace {

// The first decoded picture of the first video stream, as planes.
struct TPictureRead {
    bool Decoded = false;
    int Width = 0, Height = 0;
    std::vector<uint8_t> Luma;  // Width x Height
    uint8_t Y(int X, int Row) const { return Luma[size_t(Row) * Width + X]; }
};

TPictureRead FirstPicture(const std::string& Path) {
    TPictureRead Result;
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return Result;
    AVCodecContext* C = nullptr;
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    int Index = -1;
    if (av::avformat_find_stream_info(Context, nullptr) >= 0)
        for (unsigned I = 0; I < Context->nb_streams && Index < 0; ++I)
            if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(Context->streams[I]->disposition & AV_DISPOSITION_ATTACHED_PIC))
                Index = int(I);
    if (Index >= 0) {
        const AVCodec* Codec = av::avcodec_find_decoder(Context->streams[Index]->codecpar->codec_id);
        C = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(C, Context->streams[Index]->codecpar);
        if (av::avcodec_open2(C, Codec, nullptr) < 0) av::avcodec_free_context(&C);
    }
    bool Got = false;
    while (C && !Got) {
        int Read = av::av_read_frame(Context, Packet);
        if (Read < 0) {
            av::avcodec_send_packet(C, nullptr);
        } else if (Packet->stream_index == Index) {
            av::avcodec_send_packet(C, Packet);
        }
        av::av_packet_unref(Packet);
        Got = av::avcodec_receive_frame(C, Frame) == 0;
        if (Read < 0 && !Got) break;
    }
    const AVPixFmtDescriptor* Desc = Got ? av::av_pix_fmt_desc_get(AVPixelFormat(Frame->format)) : nullptr;
    // Luma of an 8-bit YUV picture, read the way the format describes it.
    if (Desc && !(Desc->flags & AV_PIX_FMT_FLAG_RGB) && Desc->comp[0].depth == 8) {
        Result.Decoded = true;
        Result.Width = Frame->width;
        Result.Height = Frame->height;
        Result.Luma.resize(size_t(Frame->width) * Frame->height);
        for (int Row = 0; Row < Frame->height; ++Row)
            for (int X = 0; X < Frame->width; ++X)
                Result.Luma[size_t(Row) * Frame->width + X] =
                    Frame->data[0][ptrdiff_t(Row) * Frame->linesize[0] + ptrdiff_t(X) * Desc->comp[0].step];
    }
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avcodec_free_context(&C);
    av::avformat_close_input(&Context);
    return Result;
}

// The share of pictures with combing: neighbouring lines that differ far
// more than lines two apart, which belong to the same field.
double CombedShare(const std::string& Path) {
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return -1;
    av::avformat_find_stream_info(Context, nullptr);
    int Index = -1;
    for (unsigned I = 0; I < Context->nb_streams && Index < 0; ++I)
        if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) Index = int(I);
    int Pictures = 0, Combed = 0;
    AVCodecContext* C = nullptr;
    if (Index >= 0) {
        const AVCodec* Codec = av::avcodec_find_decoder(Context->streams[Index]->codecpar->codec_id);
        C = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(C, Context->streams[Index]->codecpar);
        if (av::avcodec_open2(C, Codec, nullptr) < 0) av::avcodec_free_context(&C);
    }
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    auto Measure = [&] {
        while (av::avcodec_receive_frame(C, Frame) == 0) {
            double Near = 0, Far = 0;
            for (int Y = 0; Y + 2 < Frame->height; ++Y) {
                const uint8_t* R0 = Frame->data[0] + ptrdiff_t(Y) * Frame->linesize[0];
                const uint8_t* R1 = R0 + Frame->linesize[0];
                const uint8_t* R2 = R1 + Frame->linesize[0];
                for (int X = 0; X < Frame->width; ++X) Near += std::abs(R0[X] - R1[X]), Far += std::abs(R0[X] - R2[X]);
            }
            ++Pictures;
            if (Near > 2 * Far + 2.0 * Frame->width * Frame->height) ++Combed;
        }
    };
    while (C && av::av_read_frame(Context, Packet) >= 0) {
        if (Packet->stream_index == Index && av::avcodec_send_packet(C, Packet) >= 0) Measure();
        av::av_packet_unref(Packet);
    }
    if (C) {
        av::avcodec_send_packet(C, nullptr);
        Measure();
    }
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avcodec_free_context(&C);
    av::avformat_close_input(&Context);
    return Pictures ? double(Combed) / Pictures : -1;
}

// The time of the first sample louder than a quiet hum, in seconds, by the
// decoded frames' own timestamps; -1 without sound.
double SoundOnset(const std::string& Path) {
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return -1;
    av::avformat_find_stream_info(Context, nullptr);
    int Index = -1;
    for (unsigned I = 0; I < Context->nb_streams && Index < 0; ++I)
        if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) Index = int(I);
    double Onset = -1;
    AVCodecContext* C = nullptr;
    if (Index >= 0) {
        const AVCodec* Codec = av::avcodec_find_decoder(Context->streams[Index]->codecpar->codec_id);
        C = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(C, Context->streams[Index]->codecpar);
        C->pkt_timebase = Context->streams[Index]->time_base;
        if (av::avcodec_open2(C, Codec, nullptr) < 0) av::avcodec_free_context(&C);
    }
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    auto Scan = [&] {
        while (Onset < 0 && av::avcodec_receive_frame(C, Frame) == 0) {
            if (Frame->format != AV_SAMPLE_FMT_FLTP && Frame->format != AV_SAMPLE_FMT_S16P &&
                Frame->format != AV_SAMPLE_FMT_S16 && Frame->format != AV_SAMPLE_FMT_FLT)
                continue;
            const int64_t Pts = Frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : Frame->best_effort_timestamp;
            const double Start = double(Pts) * av_q2d(Context->streams[Index]->time_base);
            for (int I = 0; I < Frame->nb_samples && Onset < 0; ++I) {
                double V = 0;
                switch (Frame->format) {
                    case AV_SAMPLE_FMT_FLTP: V = reinterpret_cast<const float*>(Frame->data[0])[I]; break;
                    case AV_SAMPLE_FMT_FLT: V = reinterpret_cast<const float*>(Frame->data[0])[I * Frame->ch_layout.nb_channels]; break;
                    case AV_SAMPLE_FMT_S16P: V = reinterpret_cast<const int16_t*>(Frame->data[0])[I] / 32768.0; break;
                    default: V = reinterpret_cast<const int16_t*>(Frame->data[0])[I * Frame->ch_layout.nb_channels] / 32768.0;
                }
                if (std::fabs(V) > 0.05) Onset = Start + double(I) / Frame->sample_rate;
            }
        }
    };
    while (C && Onset < 0 && av::av_read_frame(Context, Packet) >= 0) {
        if (Packet->stream_index == Index && av::avcodec_send_packet(C, Packet) >= 0) Scan();
        av::av_packet_unref(Packet);
    }
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avcodec_free_context(&C);
    av::avformat_close_input(&Context);
    return Onset;
}

// Where a point of the coded picture is shown, as the display matrix's own
// definition says: (x' y' w') = (x y 1) M, with y growing downwards. The
// answer is the corner of the shown picture the point is nearest: bit 0
// right, bit 1 bottom.
int ShownCorner(const std::string& Source, double X, double Y) {
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Source.c_str(), nullptr, nullptr) < 0) return -1;
    av::avformat_find_stream_info(Context, nullptr);
    int Corner = -1;
    for (unsigned I = 0; I < Context->nb_streams && Corner < 0; ++I) {
        const AVStream* S = Context->streams[I];
        if (S->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        double M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int K = 0; K < S->nb_side_data; ++K)
            if (S->side_data[K].type == AV_PKT_DATA_DISPLAYMATRIX)
                for (int J = 0; J < 9; ++J)
                    M[J] = reinterpret_cast<const int32_t*>(S->side_data[K].data)[J] / (J % 3 == 2 ? 1073741824.0 : 65536.0);
        auto Map = [&](double Px, double Py, double& Qx, double& Qy) {
            Qx = Px * M[0] + Py * M[3];
            Qy = Px * M[1] + Py * M[4];
        };
        const double W = S->codecpar->width, H = S->codecpar->height;
        double MinX = 1e9, MaxX = -1e9, MinY = 1e9, MaxY = -1e9, Qx, Qy;
        for (double Cx : {0.0, W})
            for (double Cy : {0.0, H}) {
                Map(Cx, Cy, Qx, Qy);
                MinX = std::min(MinX, Qx), MaxX = std::max(MaxX, Qx);
                MinY = std::min(MinY, Qy), MaxY = std::max(MaxY, Qy);
            }
        Map(X, Y, Qx, Qy);
        Corner = (Qx - MinX > MaxX - Qx ? 1 : 0) | (Qy - MinY > MaxY - Qy ? 2 : 0);
    }
    av::avformat_close_input(&Context);
    return Corner;
}

// The corner the white marker is in: bit 0 right, bit 1 bottom; -1 when
// there is no marker.
int MarkerCorner(const TPictureRead& P) {
    double SumX = 0, SumY = 0, Count = 0;
    for (int Row = 0; Row < P.Height; ++Row)
        for (int X = 0; X < P.Width; ++X)
            if (P.Y(X, Row) > 180) SumX += X, SumY += Row, ++Count;
    if (Count < 16) return -1;
    return (SumX / Count > P.Width / 2.0 ? 1 : 0) | (SumY / Count > P.Height / 2.0 ? 2 : 0);
}

const char* CornerName(int Corner) {
    static const char* const Names[] = {"top left", "top right", "bottom left", "bottom right"};
    return Corner >= 0 && Corner < 4 ? Names[Corner] : "none";
}

class HeldOutSources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }

    void SetUp() override {
        Folder = ScratchFolder("HeldOutSources");
        Settings = (Folder / "settings.ini").string();
        fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings);
    }

    fs::path Folder;
    std::string Settings;
};

// One source, the profiles it goes through, and what its outputs must show.
struct TSourceCase {
    const char* Source;
    std::vector<int> Profiles;
    // Checks one output; Line is what tarnconv printed.
    std::function<void(const std::string& Source, const std::string& Output, const std::string& Line)> Check;
};

std::string OutputName(const fs::path& Folder, int Profile, const std::string& Source) {
    std::string Ext = Profile >= 17 && Profile <= 22 ? ".avi" : Profile == 32 ? ".m4v" : ".mp4";
    return (Folder / std::to_string(Profile) / (fs::path(Source).stem().string() + "_(new)" + Ext)).string();
}

}  // namespace

TEST_F(HeldOutSources, OutputsShowWhatPlayersShowOfTheSource) {
    // The marker sits in the coded picture's top-left corner.
    auto Upright = [](const std::string& Source, const std::string& Output, const std::string&) {
        const int Expected = ShownCorner(Source, 160 / 8.0, 120 / 8.0);
        ASSERT_GE(Expected, 0);
        TPictureRead P = FirstPicture(Output);
        ASSERT_TRUE(P.Decoded) << Output;
        EXPECT_STREQ(CornerName(MarkerCorner(P)), CornerName(Expected)) << Output;
    };
    // A cover becomes a moving video as long as the sound.
    auto CoverVideo = [](const std::string&, const std::string& Output, const std::string&) {
        TScan Scan = ScanFile(Output);
        ASSERT_TRUE(Scan.Opened);
        EXPECT_EQ(Scan.DecodeErrors, 0);
        EXPECT_GT(Scan.VideoFrames, 10);
        ASSERT_EQ(Scan.EndUs.size(), 2u);
        const int64_t Video = Scan.EndUs[0], Sound = Scan.EndUs[1];
        EXPECT_NEAR(double(Sound), 2000000.0, 150000.0);
        EXPECT_NEAR(double(Video), double(Sound), 150000.0);
        EXPECT_STREQ(CornerName(MarkerCorner(FirstPicture(Output))), "top left");
    };
    // Interlaced pictures come out whole: the measure finds the source's
    // combing and next to none in the output.
    auto Deinterlaced = [](const std::string& Source, const std::string& Output, const std::string&) {
        EXPECT_GT(CombedShare(Source), 0.9);
        const double Share = CombedShare(Output);
        EXPECT_GE(Share, 0.0);
        EXPECT_LT(Share, 0.05);
        EXPECT_GE(ScanFile(Output).VideoFrames, 24);
    };
    // Sound keeps its place against the picture.
    auto SoundInPlace = [](const std::string& Source, const std::string& Output, const std::string&) {
        const double Expected = SoundOnset(Source);
        EXPECT_NEAR(Expected, 2.0, 0.05);
        EXPECT_NEAR(SoundOnset(Output), Expected, 0.040);
    };
    const TSourceCase Cases[] = {
        {"late_sound.mp4", {0, 17}, SoundInPlace},
        {"interlaced_tff.mpg", {17, 0}, Deinterlaced},
        {"interlaced_bff.mpg", {17}, Deinterlaced},
        {"cover.mp3", {0, 17}, CoverVideo},
        {"cover.m4a", {0}, CoverVideo},
        {"marker_m90.mp4", {0, 17}, Upright},
        {"marker_180.mp4", {0, 17}, Upright},
        {"marker_p90.mp4", {0, 17}, Upright},
        {"marker_flip.mp4", {0, 17}, Upright},
    };

    // Every run first, two at a time, then the checks.
    std::vector<std::pair<const TSourceCase*, int>> Jobs;
    for (const TSourceCase& C : Cases)
        for (int P : C.Profiles) Jobs.push_back({&C, P});
    std::vector<std::string> Lines(Jobs.size());
    for (size_t N = 0; N < Jobs.size(); N += 2) {
        std::vector<std::unique_ptr<TRun>> Runs;
        for (size_t K = N; K < std::min(N + 2, Jobs.size()); ++K) {
            const std::string Out = (Folder / std::to_string(Jobs[K].second)).string();
            Runs.push_back(std::make_unique<TRun>(
                Folder, "run" + std::to_string(K),
                std::vector<std::string>{"--settings", Settings, "--threads", "1", "-p",
                                         std::to_string(Jobs[K].second), "-o", Out, MediaPath(Jobs[K].first->Source)}));
        }
        for (size_t K = 0; K < Runs.size(); ++K) {
            EXPECT_EQ(Runs[K]->Wait(), 0) << Jobs[N + K].first->Source << " on profile " << Jobs[N + K].second
                                          << ": " << Runs[K]->Err();
            Lines[N + K] = Runs[K]->Out() + Runs[K]->Err();
        }
    }
    for (size_t K = 0; K < Jobs.size(); ++K) {
        SCOPED_TRACE(std::string(Jobs[K].first->Source) + " on profile " + std::to_string(Jobs[K].second));
        const std::string Output = OutputName(Folder, Jobs[K].second, Jobs[K].first->Source);
        ASSERT_TRUE(fs::exists(Output)) << Lines[K];
        Jobs[K].first->Check(MediaPath(Jobs[K].first->Source), Output, Lines[K]);
    }
}
