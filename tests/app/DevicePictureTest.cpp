// Pictures as devices show them: every video profile keeps the shape of
// sources with non-square pixels, turns phone videos upright, writes 8-bit
// 4:2:0 whatever the source's samples, and keeps the source's frame rate
// where the device plays it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "app/Profiles.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TarnconvSupport.h"

using namespace tarnconv_test;

namespace {

constexpr int VideoProfiles = 33;  // 0..32; the last three are audio only
// The PSP plays 29.97 and 14.985 pictures a second only.
bool FixedRateDevice(int Profile) { return Profile >= 27 && Profile <= 31; }

// The rectangle of the picture inside its black bars.
struct TArea {
    int Left = 0, Top = 0, Right = -1, Bottom = -1;
    int Width() const { return Right - Left + 1; }
    int Height() const { return Bottom - Top + 1; }
};

TArea PictureArea(TBitmap& Frame) {
    TArea A{Frame.Width(), Frame.Height(), -1, -1};
    for (int Y = 0; Y < Frame.Height(); ++Y) {
        const uint8_t* Row = Frame.ScanLine(Y);
        for (int X = 0; X < Frame.Width(); ++X) {
            if (Row[3 * X] + Row[3 * X + 1] + Row[3 * X + 2] < 3 * 48) continue;
            A.Left = std::min(A.Left, X);
            A.Right = std::max(A.Right, X);
            A.Top = std::min(A.Top, Y);
            A.Bottom = std::max(A.Bottom, Y);
        }
    }
    return A;
}

// What one output holds, read back with the probe.
struct TOutput {
    bool Opened = false;
    int Width = 0, Height = 0;
    AVRational Sar{0, 1};
    AVRational Rate{0, 1};
    int PixelFormat = -1;
    bool HasDisplayMatrix = false;
    int AacProfile = -1;  // of an AAC audio stream
    TArea Area;
    TBitmap Frame;
};

TOutput ReadOutput(const std::string& Path) {
    TOutput O;
    TAVProbe Probe;
    if (!Probe.OpenFile(Path) || Probe.FirstVideoStream() < 0) return O;
    O.Opened = true;
    const AVStream* Stream = Probe.Context()->streams[Probe.FirstVideoStream()];
    O.Width = Stream->codecpar->width;
    O.Height = Stream->codecpar->height;
    O.Sar = Stream->sample_aspect_ratio.num ? Stream->sample_aspect_ratio : Stream->codecpar->sample_aspect_ratio;
    if (O.Sar.num == 0) O.Sar = {1, 1};
    O.Rate = Stream->r_frame_rate;
    O.PixelFormat = Stream->codecpar->format;
    for (int i = 0; i < Stream->nb_side_data; ++i)
        O.HasDisplayMatrix |= Stream->side_data[i].type == AV_PKT_DATA_DISPLAYMATRIX;
    if (int A = Probe.FirstAudioStream(); A >= 0 && Probe.Context()->streams[A]->codecpar->codec_id == AV_CODEC_ID_AAC)
        O.AacProfile = Probe.Context()->streams[A]->codecpar->profile;
    Probe.Seek(-1, 400000);
    O.Frame = Probe.DecodeFrame();
    O.Area = PictureArea(O.Frame);
    return O;
}

class DevicePictures : public TTarnconvTest {
protected:
    // Converts Sources with each profile, two programs at a time, into a
    // folder per profile.
    void Convert(const std::vector<int>& Profiles, const std::vector<std::string>& Sources) {
        for (size_t N = 0; N < Profiles.size(); N += 2) {
            std::vector<std::unique_ptr<TRun>> Runs;
            for (size_t K = N; K < std::min(N + 2, Profiles.size()); ++K) {
                std::vector<std::string> Args = {"--settings", Settings, "--log-level", "quiet", "--threads", "1",
                                                 "-p", std::to_string(Profiles[K]), "-o", Out(Profiles[K])};
                for (const std::string& S : Sources) Args.push_back(MediaPath(S));
                Runs.push_back(std::make_unique<TRun>(Folder, "p" + std::to_string(Profiles[K]), Args));
            }
            for (size_t K = 0; K < Runs.size(); ++K)
                EXPECT_EQ(Runs[K]->Wait(), 0) << "profile " << Profiles[N + K] << ": " << Runs[K]->Err();
        }
    }

    std::string Out(int Profile) const { return (Folder / std::to_string(Profile)).string(); }
    std::string Output(int Profile, const std::string& Source) const {
        std::string Ext = Profile >= 17 && Profile <= 22 ? ".avi" : Profile == 32 ? ".m4v" : ".mp4";
        return Out(Profile) + "/" + fs::path(Source).stem().string() + "_(new)" + Ext;
    }
};

}  // namespace

TEST_F(DevicePictures, EveryVideoProfileShowsTheSourceShapeIn8Bit420) {
    struct TSource {
        const char* Name;
        double DisplayAspect;
    };
    const TSource Sources[] = {{"pal_4x3.mp4", 4.0 / 3}, {"pal_64x45.mp4", 16.0 / 9}, {"square_640.mp4", 4.0 / 3},
                               {"h264_10bit.mkv", 4.0 / 3}, {"h264_422.mkv", 4.0 / 3}, {"h264_444.mkv", 4.0 / 3}};
    std::vector<int> Profiles = SweptProfiles(VideoProfiles);
    std::vector<std::string> Names;
    for (const TSource& S : Sources) Names.push_back(S.Name);
    Convert(Profiles, Names);

    for (int N : Profiles) {
        for (const TSource& S : Sources) {
            SCOPED_TRACE(std::string(ProfileNames[N]) + " <- " + S.Name);
            TOutput O = ReadOutput(Output(N, S.Name));
            ASSERT_TRUE(O.Opened);
            EXPECT_EQ(O.PixelFormat, AV_PIX_FMT_YUV420P);
            // The devices play AAC-LC only; the video encoder's settings
            // must not reach the audio encoder.
            if (O.AacProfile >= 0) {
                EXPECT_EQ(O.AacProfile, FF_PROFILE_AAC_LOW);
            }
            ASSERT_GT(O.Area.Width(), 0);
            double Shown = O.Area.Width() * av_q2d(O.Sar) / O.Area.Height();
            EXPECT_NEAR(Shown / S.DisplayAspect, 1.0, 0.02)
                << "picture " << O.Area.Width() << "x" << O.Area.Height() << " in " << O.Width << "x" << O.Height
                << " with pixels " << O.Sar.num << ":" << O.Sar.den;
            TScan Scan = ScanFile(Output(N, S.Name));
            EXPECT_EQ(Scan.DecodeErrors, 0);
            EXPECT_GE(Scan.VideoFrames, N == 29 ? 14 : 24);
        }
    }
}

TEST_F(DevicePictures, PhoneVideoShotUprightComesOutUpright) {
    Convert({0, 17}, {"rotated90.mp4"});

    // 640x480 turned is 480x640: in 320x240 it is 180x240 between side bars.
    TOutput O = ReadOutput(Output(0, "rotated90.mp4"));
    ASSERT_TRUE(O.Opened);
    EXPECT_EQ(O.Width, 320);
    EXPECT_EQ(O.Height, 240);
    EXPECT_NEAR(O.Area.Width(), 180, 4);
    EXPECT_NEAR(O.Area.Height(), 240, 2);
    EXPECT_NEAR(O.Area.Left, 70, 4);
    EXPECT_FALSE(O.HasDisplayMatrix);
    // The pattern grows brighter to the right and down; turned clockwise it
    // grows darker to the right and brighter down.
    int Falling = 0, Rising = 0;
    int Y = O.Area.Top + O.Area.Height() / 5;
    const uint8_t* Row = O.Frame.ScanLine(Y);
    for (int X = O.Area.Left + 2; X < O.Area.Right - 2; ++X) {
        int Step = Row[3 * (X + 1) + 1] - Row[3 * X + 1];
        if (Step < 0 && Step > -40) ++Falling;
        if (Step > 0 && Step < 40) ++Rising;
    }
    EXPECT_GT(Falling, 3 * Rising);

    // "As source" keeps the turned size.
    TOutput Kept = ReadOutput(Output(17, "rotated90.mp4"));
    ASSERT_TRUE(Kept.Opened);
    EXPECT_EQ(Kept.Width, 480);
    EXPECT_EQ(Kept.Height, 640);
}

TEST_F(DevicePictures, FrameRatesFollowTheSourceWhereTheDevicePlaysIt) {
    std::vector<int> Profiles = SweptProfiles(VideoProfiles);
    Convert(Profiles, {"fps25.mp4", "fps50.mp4"});

    for (int N : Profiles) {
        SCOPED_TRACE(ProfileNames[N]);
        TOutput Steady = ReadOutput(Output(N, "fps25.mp4"));
        TOutput Fast = ReadOutput(Output(N, "fps50.mp4"));
        ASSERT_TRUE(Steady.Opened && Fast.Opened);
        TScan Scan = ScanFile(Output(N, "fps25.mp4"));
        if (FixedRateDevice(N)) {
            AVRational Ntsc = N == 29 ? AVRational{15000, 1001} : AVRational{30000, 1001};
            EXPECT_EQ(av_cmp_q(Steady.Rate, Ntsc), 0) << Steady.Rate.num << "/" << Steady.Rate.den;
            continue;
        }
        EXPECT_EQ(av_cmp_q(Steady.Rate, {25, 1}), 0) << Steady.Rate.num << "/" << Steady.Rate.den;
        EXPECT_NEAR(Scan.VideoFrames, 50, 1);
        EXPECT_EQ(av_cmp_q(Fast.Rate, {25, 1}), 0) << Fast.Rate.num << "/" << Fast.Rate.den;
    }
}
