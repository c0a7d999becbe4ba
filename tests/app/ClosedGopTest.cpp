// The H.264 profiles write closed GOPs: every key-frame interval begins with
// an IDR picture, found by reading the NAL unit types of the output packets.
#include <gtest/gtest.h>

#include "app/Profiles.h"
#include "common/IniFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TarnconvSupport.h"

namespace fs = std::filesystem;
using namespace tarnconv_test;

namespace {

struct TGops {
    bool Opened = false;
    int Pictures = 0;
    std::vector<int> Idr;  // packet numbers of the pictures with an IDR slice
};

// Reads the length-prefixed NAL units of the MP4's H.264 packets.
TGops ReadGops(const std::string& Path) {
    TGops G;
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return G;
    int Video = -1;
    for (unsigned I = 0; I < Context->nb_streams; ++I)
        if (Context->streams[I]->codecpar->codec_id == AV_CODEC_ID_H264) Video = static_cast<int>(I);
    const AVCodecParameters* Par = Video >= 0 ? Context->streams[Video]->codecpar : nullptr;
    if (!Par || Par->extradata_size < 5 || Par->extradata[0] != 1) {
        av::avformat_close_input(&Context);
        return G;
    }
    G.Opened = true;
    const int LengthSize = (Par->extradata[4] & 3) + 1;
    AVPacket* Packet = av::av_packet_alloc();
    while (av::av_read_frame(Context, Packet) >= 0) {
        if (Packet->stream_index == Video) {
            bool Idr = false;
            for (int Pos = 0; Pos + LengthSize < Packet->size;) {
                uint32_t Length = 0;
                for (int B = 0; B < LengthSize; ++B) Length = Length << 8 | Packet->data[Pos + B];
                Pos += LengthSize;
                if (Length == 0 || Pos + static_cast<int64_t>(Length) > Packet->size) break;
                Idr |= (Packet->data[Pos] & 0x1F) == 5;
                Pos += static_cast<int>(Length);
            }
            if (Idr) G.Idr.push_back(G.Pictures);
            ++G.Pictures;
        }
        av::av_packet_unref(Packet);
    }
    av::av_packet_free(&Packet);
    av::avformat_close_input(&Context);
    return G;
}

}  // namespace

TEST(TarnconvGops, EveryH264ProfileFamilyWritesAnIdrPictureEveryKeyFrameInterval) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    const fs::path Folder = ScratchFolder("ClosedGops");
    const std::string Settings = (Folder / "settings.ini").string();
    fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings,
                  fs::copy_options::overwrite_existing);
    // One profile of each H.264 profile and level: Baseline 1.3 and 3.0,
    // Main 3.0, 3.1 and 4.0.
    const int Profiles[] = {14, 15, 30, 16, 26};
    // 5 fps and a key frame every 25 pictures: eight intervals in 40 s. A
    // small picture keeps the run short; it has no say in the GOP structure.
    const int Gop = 25;
    IniFile Ini(Settings);
    for (int N : Profiles) {
        std::string Section = "formatInfo" + std::to_string(N);
        ASSERT_TRUE(Ini.WriteString(Section, "paraGop", std::to_string(Gop)));
        ASSERT_TRUE(Ini.WriteString(Section, "paraVideoSize", "320x240"));
        ASSERT_TRUE(Ini.WriteString(Section, "paraFrameRate", "as source"));
    }

    std::vector<std::unique_ptr<TRun>> Runs;
    for (int N : Profiles) {
        std::string K = std::to_string(N);
        Runs.push_back(std::make_unique<TRun>(Folder, "p" + K,
                                              std::vector<std::string>{"--settings", Settings, "--log-level", "error",
                                                                       "-p", K, "-o", (Folder / K).string(),
                                                                       "--threads", "1", MediaPath("long40.avi")}));
        if (Runs.size() == 2) {
            for (auto& Run : Runs) EXPECT_EQ(Run->Wait(), 0) << Run->Err();
            Runs.clear();
        }
    }
    for (auto& Run : Runs) EXPECT_EQ(Run->Wait(), 0) << Run->Err();

    for (int N : Profiles) {
        SCOPED_TRACE("profile " + std::to_string(N) + " " + ProfileNames[N]);
        TGops G = ReadGops((Folder / std::to_string(N) / "long40_(new).mp4").string());
        ASSERT_TRUE(G.Opened);
        EXPECT_GE(G.Pictures, 195);
        ASSERT_FALSE(G.Idr.empty());
        EXPECT_EQ(G.Idr.front(), 0);
        // A scene cut may start an interval early, never late.
        G.Idr.push_back(G.Pictures);
        for (size_t I = 1; I < G.Idr.size(); ++I)
            EXPECT_LE(G.Idr[I] - G.Idr[I - 1], Gop) << "IDR pictures at " << G.Idr[I - 1] << " and " << G.Idr[I];
        EXPECT_GE(G.Idr.size() - 1, static_cast<size_t>(G.Pictures / Gop));
    }
}
