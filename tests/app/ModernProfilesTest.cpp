// The profiles for today's devices, converted by the built tarnconv from an
// 8-bit 640x480 clip and a 10-bit 1080p one, and read back with the codec
// libraries: codec, tag, profile, level, pixel format, size, rate, sound,
// a clean decode, the length, and the MP4 index in front.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <set>

#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TarnconvSupport.h"

namespace modern_profiles {

using namespace tarnconv_test;

struct TPromise {
    int Profile;
    const char* Source;
    const char* Format;      // demuxer name
    const char* VideoCodec;  // empty: sound only
    const char* Tag;         // four-character code, empty: not checked
    int CodecProfile;        // AVCodecParameters::profile, -99: not checked
    int Level;               // codecpar level (H.264: x10, H.265: x30, AV1: seq_level_idx); -99: not checked
    const char* PixFmt;
    int Width, Height;       // expected picture size
    double MaxFps;
    const char* AudioCodec;
    int SampleRate;          // 0: the source's
    int Channels;            // 0: the source's
};

constexpr const char* Mp4Demuxer = "mov,mp4,m4a,3gp,3g2,mj2";
constexpr const char* WebM = "matroska,webm";
constexpr const char* Small = "square_640.mp4";  // 640x480, 25 fps, 8 bits, 1 s
constexpr const char* Full = "hd_10bit.mkv";     // 1920x1080, 25 fps, 10 bits, 0.4 s
constexpr int High = 100, Main264 = 77, HevcMain = 1, HevcMain10 = 2, Av1Main = 0, Vp9Zero = 0;

// Levels from the H.264 and H.265 tables for the size at 25 fps:
// 640x480 is H.264 3.0 and H.265 3; 1280x720 H.264 3.1; 1080p H.264 4.0 and H.265 4.
const TPromise Promises[] = {
    {36, Small, Mp4Demuxer, "h264", "avc1", High, 30, "yuv420p", 640, 480, 25, "aac", 48000, 2},
    {36, Full, Mp4Demuxer, "h264", "avc1", High, 40, "yuv420p", 1920, 1080, 25, "aac", 48000, 2},
    {37, Full, Mp4Demuxer, "h264", "avc1", High, 31, "yuv420p", 1280, 720, 25, "aac", 48000, 2},
    {38, Small, Mp4Demuxer, "hevc", "hvc1", HevcMain, 90, "yuv420p", 640, 480, 25, "aac", 48000, 2},
    {38, Full, Mp4Demuxer, "hevc", "hvc1", HevcMain10, 120, "yuv420p10le", 1920, 1080, 25, "aac", 48000, 2},
    {39, Full, Mp4Demuxer, "hevc", "hvc1", HevcMain10, 120, "yuv420p10le", 1920, 1080, 25, "aac", 48000, 2},
    {40, Small, Mp4Demuxer, "av1", "av01", Av1Main, -99, "yuv420p", 640, 480, 25, "aac", 48000, 2},
    {41, Full, Mp4Demuxer, "av1", "av01", Av1Main, -99, "yuv420p", 1920, 1080, 25, "opus", 48000, 2},
    {42, Full, WebM, "vp9", "", Vp9Zero, -99, "yuv420p", 1920, 1080, 25, "opus", 48000, 2},
    {43, Small, WebM, "vp9", "", Vp9Zero, -99, "yuv420p", 640, 480, 25, "opus", 48000, 2},
    {44, Full, Mp4Demuxer, "h264", "avc1", Main264, 30, "yuv420p", 854, 480, 25, "aac", 48000, 2},
    {45, Small, "ogg", "", "", -99, -99, "", 0, 0, 0, "opus", 48000, 2},
    {46, Full, "flac", "", "", -99, -99, "", 0, 0, 0, "flac", 0, 0},
    {47, Small, "mp3", "", "", -99, -99, "", 0, 0, 0, "mp3", 44100, 2},
    {48, Full, Mp4Demuxer, "", "", -99, -99, "", 0, 0, 0, "aac", 44100, 2},
};

std::string FourCC(uint32_t Tag) {
    std::string S;
    for (int I = 0; I < 4; ++I) S += static_cast<char>((Tag >> (8 * I)) & 0xFF);
    return S;
}

// The top-level boxes of an MP4 file, in order.
std::vector<std::string> TopBoxes(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::vector<std::string> Boxes;
    unsigned char Head[16];
    while (In.read(reinterpret_cast<char*>(Head), 8)) {
        uint64_t Size = (uint64_t(Head[0]) << 24) | (Head[1] << 16) | (Head[2] << 8) | Head[3];
        Boxes.emplace_back(reinterpret_cast<char*>(Head + 4), 4);
        uint64_t Skip = Size - 8;
        if (Size == 1) {
            if (!In.read(reinterpret_cast<char*>(Head + 8), 8)) break;
            Size = 0;
            for (int I = 8; I < 16; ++I) Size = (Size << 8) | Head[I];
            Skip = Size - 16;
        } else if (Size < 8) {
            break;
        }
        In.seekg(static_cast<std::streamoff>(Skip), std::ios::cur);
    }
    return Boxes;
}

// The bit-rate indexes of the MPEG audio frame headers of a file.
std::set<int> Mp3RateIndexes(const std::string& Path) {
    std::set<int> Indexes;
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return Indexes;
    AVPacket* Packet = av::av_packet_alloc();
    while (av::av_read_frame(Context, Packet) >= 0) {
        if (Packet->size >= 4 && Packet->data[0] == 0xFF) Indexes.insert(Packet->data[2] >> 4);
        av::av_packet_unref(Packet);
    }
    av::av_packet_free(&Packet);
    av::avformat_close_input(&Context);
    return Indexes;
}

double SourceSeconds(const std::string& Path) {
    TScan Scan = ScanFile(Path);
    int64_t End = 0;
    for (auto& [Index, Us] : Scan.EndUs) End = std::max(End, Us);
    return End / 1e6;
}

}  // namespace modern_profiles

using namespace modern_profiles;

TEST(ModernProfiles, EveryNewProfileKeepsWhatItPromises) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    fs::path Folder = ScratchFolder("modern_profiles");
    std::string Settings = (Folder / "settings.ini").string();
    fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings,
                  fs::copy_options::overwrite_existing);

    // Two programs at a time, one codec thread each.
    const size_t Count = std::size(Promises);
    for (size_t N = 0; N < Count; N += 2) {
        std::vector<std::unique_ptr<TRun>> Runs;
        for (size_t J = N; J < std::min(N + 2, Count); ++J) {
            const TPromise& P = Promises[J];
            Runs.push_back(std::make_unique<TRun>(
                Folder, "run" + std::to_string(J),
                std::vector<std::string>{"--settings", Settings, "--log-level", "error", "-p",
                                         std::to_string(P.Profile), "-o", (Folder / std::to_string(J)).string(),
                                         "--threads", "1", MediaPath(P.Source)}));
        }
        for (size_t I = 0; I < Runs.size(); ++I) {
            EXPECT_EQ(Runs[I]->Wait(), 0) << "profile " << Promises[N + I].Profile << ": " << Runs[I]->Err();
            // Nothing at the error level: no encoder complaint either.
            EXPECT_EQ(Runs[I]->Err(), "") << "profile " << Promises[N + I].Profile;
        }
    }

    for (size_t J = 0; J < Count; ++J) {
        const TPromise& P = Promises[J];
        SCOPED_TRACE(std::string(ProfileNames[P.Profile]) + " from " + P.Source);
        std::vector<fs::path> Made;
        for (const auto& E : fs::directory_iterator(Folder / std::to_string(J))) Made.push_back(E.path());
        ASSERT_EQ(Made.size(), 1u);
        const std::string Output = Made[0].string();
        EXPECT_NE(std::string(ProfileNames[P.Profile]).find("(*" + Made[0].extension().string() + ")"),
                  std::string::npos);

        AVFormatContext* Context = nullptr;
        ASSERT_GE(av::avformat_open_input(&Context, Output.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
        EXPECT_STREQ(Context->iformat->name, P.Format);
        const AVCodecParameters* Video = nullptr;
        const AVStream* VideoStream = nullptr;
        const AVCodecParameters* Audio = nullptr;
        for (unsigned I = 0; I < Context->nb_streams; ++I) {
            const AVCodecParameters* Par = Context->streams[I]->codecpar;
            if (Par->codec_type == AVMEDIA_TYPE_VIDEO) {
                EXPECT_EQ(Video, nullptr) << "a second video stream";
                Video = Par;
                VideoStream = Context->streams[I];
            } else if (Par->codec_type == AVMEDIA_TYPE_AUDIO) {
                EXPECT_EQ(Audio, nullptr) << "a second sound stream";
                Audio = Par;
            }
        }
        if (*P.VideoCodec) {
            ASSERT_NE(Video, nullptr);
            EXPECT_STREQ(av::avcodec_get_name(Video->codec_id), P.VideoCodec);
            if (*P.Tag) {
                EXPECT_EQ(FourCC(Video->codec_tag), P.Tag);
            }
            if (P.CodecProfile != -99) {
                EXPECT_EQ(Video->profile, P.CodecProfile);
            }
            if (P.Level != -99) {
                EXPECT_EQ(Video->level, P.Level);
            }
            EXPECT_STREQ(av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(Video->format)), P.PixFmt);
            EXPECT_EQ(Video->width, P.Width);
            EXPECT_EQ(Video->height, P.Height);
            AVRational Rate = VideoStream->avg_frame_rate;
            ASSERT_GT(Rate.den, 0);
            EXPECT_LE(double(Rate.num) / Rate.den, P.MaxFps + 0.01);
        } else {
            EXPECT_EQ(Video, nullptr);
        }
        ASSERT_NE(Audio, nullptr);
        EXPECT_STREQ(av::avcodec_get_name(Audio->codec_id), P.AudioCodec);
        const int SourceRate = 44100;  // both sources
        EXPECT_EQ(Audio->sample_rate, P.SampleRate ? P.SampleRate : SourceRate);
        EXPECT_EQ(Audio->ch_layout.nb_channels, P.Channels ? P.Channels : 2);
        av::avformat_close_input(&Context);

        TScan Scan = ScanFile(Output);
        ASSERT_TRUE(Scan.Opened);
        EXPECT_EQ(Scan.DecodeErrors, 0);
        double Seconds = 0;
        for (auto& [Index, Us] : Scan.EndUs) Seconds = std::max(Seconds, Us / 1e6);
        EXPECT_NEAR(Seconds, SourceSeconds(MediaPath(P.Source)), 0.1);
        if (*P.VideoCodec) {
            EXPECT_GE(Scan.VideoFrames, std::string(P.Source) == Small ? 24 : 9);
        }

        // Players start before the whole file has arrived.
        if (P.Format == Mp4Demuxer && *P.VideoCodec) {
            std::vector<std::string> Boxes = TopBoxes(Output);
            auto Moov = std::find(Boxes.begin(), Boxes.end(), "moov");
            auto Mdat = std::find(Boxes.begin(), Boxes.end(), "mdat");
            ASSERT_NE(Moov, Boxes.end());
            EXPECT_LT(Moov, Mdat);
        }
        // Variable bit rate: the frames do not all have the same rate.
        if (P.Profile == 47) {
            EXPECT_GT(Mp3RateIndexes(Output).size(), 1u);
        }
    }
}
