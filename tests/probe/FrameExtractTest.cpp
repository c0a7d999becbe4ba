#include <algorithm>
#include <cstdlib>
#include <random>

#include "tests/fixtures/PictureNumber.h"
#include "tests/probe/ProbeTestSupport.h"

namespace {

// Pictures DecodeFrame gives before the first black one.
int PicturesLeft(TAVProbe& Probe) {
    int Count = 0;
    while (Count < 2000 && !AllBlack(Probe.DecodeFrame(-1))) ++Count;
    return Count;
}

// Expects the generator's first picture: luma 16 + (x + y) % 200 with a
// white box at the left, U growing with x, V with y, through BT.601.
void ExpectPattern(const TBitmap& Bitmap, bool FullRange, const std::string& Name) {
    int W = Bitmap.Width(), H = Bitmap.Height(), Box = std::max(8, H / 8);
    for (auto [FX, FY] : {std::pair{0.125, 0.083}, {0.78, 0.83}, {0.047, 0.40}, {0.5, 0.1}, {0.1, 0.75}}) {
        int X = static_cast<int>(FX * W), Y = static_cast<int>(FY * H);
        if ((X + Y) % 200 < 12 || (X + Y) % 200 > 188) continue;  // the gradient wraps there
        double Luma = X < Box && Y >= H / 3 && Y < H / 3 + Box ? 235 : 16 + (X + Y) % 200;
        double U = 96 + (X / 2) * 64 / (W / 2) - 128, V = 96 + (Y / 2) * 64 / (H / 2) - 128;
        double L = FullRange ? Luma : 1.164 * (Luma - 16);
        double Rgb[3] = {L + (FullRange ? 1.402 : 1.596) * V, L - (FullRange ? 0.344 : 0.392) * U - (FullRange ? 0.714 : 0.813) * V,
                         L + (FullRange ? 1.772 : 2.017) * U};
        const uint8_t* P = Bitmap.ScanLine(Y) + 3 * X;
        for (int C = 0; C < 3; ++C)
            EXPECT_NEAR(P[2 - C], std::clamp(Rgb[C], 0.0, 255.0), 24) << Name << " channel " << C << " at " << X << "," << Y;
    }
}

}  // namespace

TEST_F(ProbeTest, StillPictureIsDecodedOnceAndNeverSeeks) {
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("still.png")));
    TBitmap& Picture = Probe.DecodeFrame(-1);
    ASSERT_EQ(Picture.Width() * 1000 + Picture.Height(), 320240);
    // The generator's gradient, R,G,B = x*255/w, y*255/h, (x+y)&255.
    int Wrong = 0;
    for (int Y = 0; Y < 240; ++Y)
        for (int X = 0; X < 320; ++X) {
            const uint8_t* P = Picture.ScanLine(Y) + 3 * X;
            Wrong += std::abs(P[2] - X * 255 / 320) > 1 || std::abs(P[1] - Y * 255 / 240) > 1 ||
                     std::abs(P[0] - ((X + Y) & 255)) > 1;
        }
    EXPECT_EQ(Wrong, 0);
    EXPECT_TRUE(SamePixels(Probe.LastFrame(), Picture));

    EXPECT_TRUE(Probe.Seek(-1, 2000000));
    EXPECT_TRUE(Logged(AV_LOG_INFO, "\"image2\" format cannot to be seeked.\n"));
    // Reading again would meet the end of the file and give black.
    TBitmap Copy = Picture;
    EXPECT_TRUE(SamePixels(Probe.DecodeFrame(-1), Copy));
    EXPECT_FALSE(Logged(AV_LOG_DEBUG, "stream eof reached.\n"));
}

TEST_F(ProbeTest, PicturesMatchTheSourceInFilesOfDifferentSizes) {
    // One probe for all: the scaler and the buffer follow the sizes.
    TAVProbe Probe;
    for (auto [Name, Width] : {std::pair{"long35.avi", 160}, {"clip.mp4", 640}, {"still.jpg", 320}, {"clip.avi", 320}}) {
        ASSERT_TRUE(Probe.OpenFile(MediaPath(Name))) << Name;
        TBitmap& Picture = Probe.DecodeFrame(-1);
        ASSERT_EQ(Picture.Width(), Width) << Name;
        ASSERT_EQ(Picture.Height(), Width * 3 / 4) << Name;
        ExpectPattern(Picture, std::string(Name) == "still.jpg", Name);
    }
}

TEST_F(ProbeTest, BgrPicturesAreCopiedTopRowFirst) {
    // A 24-bit BMP holds B,G,R rows bottom-up, padded to 4 bytes; its decoder
    // gives BGR24, which goes into the bitmap without conversion.
    const int W = 5, H = 3;
    auto Byte = [](int X, int Y, int C) { return static_cast<char>(C == 0 ? 3 + X + 5 * Y : C == 1 ? 2 + 20 * Y : 1 + 10 * X); };
    std::string Pixels;
    for (int Y = H - 1; Y >= 0; --Y) {
        for (int X = 0; X < W; ++X)
            for (int C = 0; C < 3; ++C) Pixels += Byte(X, Y, C);
        Pixels += '\0';
    }
    std::string Header = "BM" + LE(54 + Pixels.size(), 4) + LE(0, 4) + LE(54, 4) + LE(40, 4) + LE(W, 4) + LE(H, 4) +
                         LE(1, 2) + LE(24, 2) + LE(0, 4) + LE(Pixels.size(), 4) + std::string(16, '\0');
    auto Path = ScratchFolder("Bmp") / "tiny.bmp";
    WriteFile(Path, Header + Pixels);

    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Path.string())) << Probe.LastError();
    ASSERT_EQ(Probe.Context()->streams[0]->codecpar->format, AV_PIX_FMT_BGR24);
    TBitmap& Picture = Probe.DecodeFrame(-1);
    ASSERT_EQ(Picture.Width() * 10 + Picture.Height(), 53);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            for (int C = 0; C < 3; ++C) EXPECT_EQ(static_cast<char>(Picture.ScanLine(Y)[3 * X + C]), Byte(X, Y, C));
}

TEST_F(ProbeTest, EveryPictureOnceThenBlackWithTheLastFrameKept) {
    std::string Path = MediaPath("short.avi");
    AVFormatContext* C = OpenContext(Path);
    ASSERT_NE(C, nullptr);
    AVPacket* Packet = av::av_packet_alloc();
    int Packets = 0;
    while (av::av_read_frame(C, Packet) >= 0) {
        Packets += Packet->stream_index == 0;
        av::av_packet_unref(Packet);
    }
    av::av_packet_free(&Packet);
    av::avformat_close_input(&C);

    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Path));
    TBitmap Previous;
    int Pictures = 0, Repeats = 0;
    for (TBitmap* P = &Probe.DecodeFrame(-1); !AllBlack(*P) && Pictures < 1000; P = &Probe.DecodeFrame(-1)) {
        Repeats += SamePixels(*P, Previous);  // the pattern moves in every picture
        Previous = *P;
        ++Pictures;
    }
    EXPECT_EQ(Pictures, Packets);
    EXPECT_EQ(Repeats, 0);
    EXPECT_TRUE(Logged(AV_LOG_DEBUG, "stream eof reached.\n"));
    EXPECT_EQ(Probe.FrameBitmap().Width() * 1000 + Probe.FrameBitmap().Height(), 320240);
    EXPECT_TRUE(AllBlack(Probe.DecodeFrame(-1)));
    EXPECT_TRUE(SamePixels(Probe.LastFrame(), Previous));

    Probe.CloseFile();  // empties the frame, keeps the last picture
    EXPECT_TRUE(Probe.FrameBitmap().Empty());
    EXPECT_TRUE(SamePixels(Probe.LastFrame(), Previous));
}

int NumberIn(const TBitmap& Picture) {
    return ReadPictureNumber([&](int Y) { return Picture.ScanLine(Y); }, Picture.Width(), Picture.Height());
}

TEST_F(ProbeTest, ExactSeekShowsThePictureOfTheTimeSought) {
    // Each picture carries its number; at 25 pictures a second the picture
    // shown at T us is number T * 25 / 1000000.
    struct TClip {
        const char* Name;
        int Pictures, Gop;
        bool IndexedKeyFrames;  // the demuxer seeks exactly to key frames
    };
    for (const TClip& Clip : {TClip{"numbered_gop250.mp4", 300, 250, true}, TClip{"numbered_gop12.mpg", 150, 12, false}}) {
        SCOPED_TRACE(Clip.Name);
        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(MediaPath(Clip.Name)));
        // The last picture a straight decode gives: an MP4's edit list may
        // hide the encoder's last one.
        int LastNumber = -1;
        for (int N = 0; N < 2000; ++N) {
            const TBitmap& Picture = Probe.DecodeFrame(-1);
            if (AllBlack(Picture)) break;
            LastNumber = NumberIn(Picture);
        }
        ASSERT_GE(LastNumber, Clip.Pictures - 2);
        const int64_t Length = int64_t(LastNumber + 1) * 40000;
        std::mt19937 Random(23);
        std::uniform_int_distribution<int64_t> Pick(1, Length - 1);
        std::vector<int64_t> Times;
        for (int I = 0; I < 20; ++I) Times.push_back(Pick(Random));
        // Beside the random times: the edges of a picture, the first, the
        // last, the picture before a key frame, and past the end.
        for (int64_t T : {int64_t(40000), int64_t(39999), int64_t(Clip.Gop) * 40000 - 1, Length - 1})
            Times.push_back(T);
        for (int64_t T : Times) {
            ASSERT_TRUE(Probe.Seek(-1, T));
            EXPECT_EQ(NumberIn(Probe.DecodeFrame(-1)), T * 25 / 1000000) << "at " << T << " us";
            // The next call gives the next picture.
            if (T * 25 / 1000000 < LastNumber) {
                EXPECT_EQ(NumberIn(Probe.DecodeFrame(-1)), T * 25 / 1000000 + 1);
            }
        }
        ASSERT_TRUE(Probe.Seek(-1, Length + 5000000));
        EXPECT_EQ(NumberIn(Probe.DecodeFrame(-1)), LastNumber) << "past the end";
        EXPECT_TRUE(AllBlack(Probe.DecodeFrame(-1)));

        // A dragged slider takes the key frame at or before the time.
        if (!Clip.IndexedKeyFrames) continue;
        for (int64_t T : Times) {
            ASSERT_TRUE(Probe.Seek(-1, T, TAVProbe::smKeyFrame));
            const int Wanted = static_cast<int>(T * 25 / 1000000);
            EXPECT_EQ(NumberIn(Probe.DecodeFrame(-1)), Wanted / Clip.Gop * Clip.Gop) << "key frame at " << T << " us";
        }
    }
}

TEST_F(ProbeTest, SeekMovesTheReadPosition) {
    // 875 pictures, a key frame every 25.
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("long35.avi")));
    for (int i = 0; i < 10; ++i) Probe.DecodeFrame(-1);
    EXPECT_TRUE(Probe.Seek(0, 17500000));
    int Left = PicturesLeft(Probe);
    EXPECT_GE(Left, 875 - 437 - 25);
    EXPECT_LE(Left, 875 - 437 + 25);

    // Zero and negative positions go back to the start.
    EXPECT_TRUE(Probe.Seek(-1, -3000000));
    EXPECT_EQ(PicturesLeft(Probe), 875);
    for (int i = 0; i < 100; ++i) Probe.DecodeFrame(-1);
    EXPECT_TRUE(Probe.Seek(0, 0));
    EXPECT_EQ(PicturesLeft(Probe), 875);

    // Past the end: the last key frame, not the end of the file.
    EXPECT_TRUE(Probe.Seek(-1, 100000000));
    Left = PicturesLeft(Probe);
    EXPECT_GE(Left, 1);
    EXPECT_LE(Left, 25);

    // A stream clock that starts late rewinds as well: a transport stream's
    // clock, and an FLV whose first packet lies at 50 ms, before which the
    // demuxer knows no key frame.
    for (auto [Name, Pictures] : {std::pair{"programs.ts", 50}, {"late_video.flv", 40}}) {
        ASSERT_TRUE(Probe.OpenFile(MediaPath(Name))) << Name;
        EXPECT_EQ(PicturesLeft(Probe), Pictures) << Name;
        LogLines.clear();
        EXPECT_TRUE(Probe.Seek(-1, 0));
        EXPECT_FALSE(Logged(AV_LOG_ERROR, "could not seek to position 0.000\n")) << Name;
        EXPECT_EQ(PicturesLeft(Probe), Pictures) << Name;
    }
    TAVVideoStreamInfo Late;
    Probe.GetVideoStreamInfo(-1, Late);
    EXPECT_EQ(Late.StartTimeUs, 50000);
}

TEST_F(ProbeTest, NothingToDecodeOrSeekGivesEmptyResults) {
    TAVProbe Probe;
    EXPECT_TRUE(Probe.DecodeFrame(-1).Empty());
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "file not loaded.\n"));
    EXPECT_FALSE(Probe.Seek(-1, 0));
    EXPECT_EQ(Probe.LastError(), "file not loaded.");

    ASSERT_TRUE(Probe.OpenFile(MediaPath("tone.mp3")));
    TBitmap& Picture = Probe.DecodeFrame(-1);
    EXPECT_EQ(Picture.Width() + Picture.Height(), 0);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "no video stream.\n"));
    EXPECT_TRUE(Probe.DecodeFrame(1).Empty());
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream index #1 is invalid.\n"));

    // The audio stream seeks, but it is no picture source.
    ASSERT_TRUE(Probe.OpenFile(MediaPath("clip.avi")));
    EXPECT_TRUE(Probe.Seek(1, 1000000));
    EXPECT_FALSE(AllBlack(Probe.DecodeFrame(0)));
    EXPECT_TRUE(Probe.DecodeFrame(1).Empty());
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream #1 is not video stream.\n"));
}

TEST_F(ProbeTest, PicturesFollowASizeChangeAndTheEndKeepsTheLastSize) {
    // 50 pictures of 320 x 240, then 50 of 176 x 144.
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("resize.ts")));
    std::vector<std::pair<int, int>> Runs;  // width * 1000 + height, pictures in a row
    TBitmap Previous;
    int Pictures = 0;
    for (TBitmap* P = &Probe.DecodeFrame(-1); !AllBlack(*P) && Pictures < 1000; P = &Probe.DecodeFrame(-1)) {
        int Size = P->Width() * 1000 + P->Height();
        if (Runs.empty() || Runs.back().first != Size) Runs.emplace_back(Size, 0);
        ++Runs.back().second;
        Previous = *P;
        ++Pictures;
    }
    ASSERT_EQ(Runs.size(), 2u);
    EXPECT_EQ(Runs[0].first, 320240);
    EXPECT_EQ(Runs[1].first, 176144);
    // The decoder may lose the picture at the change.
    EXPECT_GE(Runs[0].second, 49);
    EXPECT_EQ(Runs[1].second, 50);
    // The black end has the size of the picture before it, again and again.
    for (int i = 0; i < 2; ++i) {
        TBitmap& End = Probe.DecodeFrame(-1);
        EXPECT_EQ(End.Width() * 1000 + End.Height(), 176144);
        EXPECT_TRUE(AllBlack(End));
    }
    EXPECT_TRUE(SamePixels(Probe.LastFrame(), Previous));

    // Back at the start the first size returns with the first picture.
    EXPECT_TRUE(Probe.Seek(-1, 0));
    TBitmap& First = Probe.DecodeFrame(-1);
    EXPECT_EQ(First.Width() * 1000 + First.Height(), 320240);
    EXPECT_FALSE(AllBlack(First));
}
