#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/PreviewMath.h"
#include "common/Bitmap.h"

namespace {

const TPreviewRules Main = TPreviewRules::For(pwMain);
const TPreviewRules Trim = TPreviewRules::For(pwTrim);
const TPreviewRules Crop = TPreviewRules::For(pwCrop);

constexpr int64_t Second = 1000000;

}  // namespace

TEST(PreviewSlider, DurationScalesIntoTheSliderRange) {
    struct TCase {
        const char* Name;
        int64_t Duration;
        int Width;
        bool Still;
        bool Visible;
        int64_t Unit;
        int Max, Tick, Line, Page;
    };
    const TCase Cases[] = {
        // (370 - 12) div 10 = 35 tick spans on the dialogs' slider.
        {"60 s worked example", 60 * Second, 370, false, true, 10000, 6000, 171, 100, 500},
        {"0.8 s clip", 800000, 370, false, true, 100, 8000, 228, 100, 500},
        {"2 hours", 7200 * Second, 370, false, true, 1000000, 7200, 205, 100, 500},
        {"10 hours", 36000 * Second, 370, false, true, 10000000, 3600, 102, 100, 500},
        {"exactly 32767 steps", 327670, 370, false, true, 10, 32767, 936, 1000, 5000},
        {"one step too many", 327680, 370, false, true, 100, 3276, 93, 100, 500},
        {"10000 steps keep line 100", Second, 370, false, true, 100, 10000, 285, 100, 500},
        {"10100 steps take line 1000", 1010000, 370, false, true, 100, 10100, 288, 1000, 5000},
        {"1000 steps", 10000, 370, false, true, 10, 1000, 28, 10, 50},
        {"100 steps", 1000, 370, false, true, 10, 100, 2, 1, 5},
        {"101 steps", 1010, 370, false, true, 10, 101, 2, 10, 50},
        {"unit is at least 10", 50, 370, false, true, 10, 5, 0, 1, 5},
        {"main window slider width", 60 * Second, 200, false, true, 10000, 6000, 333, 100, 500},
        {"slider too narrow for ticks", 60 * Second, 15, false, true, 10000, 6000, 6000, 100, 500},
        {"still picture", 40000, 370, true, false, 10, 0, 0, 1, 5},
        {"unknown duration", INT64_MIN, 370, false, true, 10, 0, 0, 1, 5},
        {"zero duration", 0, 370, false, true, 10, 0, 0, 1, 5},
    };
    for (const TCase& C : Cases) {
        TSliderSetup S = SetupSlider(Trim, C.Duration, C.Width, C.Still);
        EXPECT_EQ(S.Visible, C.Visible) << C.Name;
        EXPECT_EQ(S.Unit, C.Unit) << C.Name;
        EXPECT_EQ(S.Min, 0) << C.Name;
        EXPECT_EQ(S.Max, C.Max) << C.Name;
        EXPECT_LE(S.Max, PreviewMaxSteps) << C.Name;
        EXPECT_EQ(S.TickFrequency, C.Tick) << C.Name;
        EXPECT_EQ(S.LineSize, C.Line) << C.Name;
        EXPECT_EQ(S.PageSize, C.Page) << C.Name;
    }
    // Tick marks: the main window and the crop dialog switch them on.
    EXPECT_TRUE(SetupSlider(Main, Second, 370, false).ShowTicks);
    EXPECT_FALSE(SetupSlider(Trim, Second, 370, false).ShowTicks);
    EXPECT_TRUE(SetupSlider(Crop, Second, 370, false).ShowTicks);
}

TEST(PreviewSlider, WindowsDifferOnlyWhereStated) {
    EXPECT_EQ(Main.CanvasWidth * 1000 + Main.CanvasHeight, 217188);
    EXPECT_EQ(Trim.CanvasWidth * 1000 + Trim.CanvasHeight, 370253);
    EXPECT_EQ(Crop.CanvasWidth * 1000 + Crop.CanvasHeight, 370253);
    EXPECT_TRUE(Main.StopAtEnd && !Main.RewindAtEnd && !Main.TickAddsHundred);
    for (const TPreviewRules* Dialog : {&Trim, &Crop})
        EXPECT_TRUE(!Dialog->StopAtEnd && Dialog->RewindAtEnd && Dialog->TickAddsHundred);
}

TEST(PreviewLabel, SecondsAndMillisecondsOfTheSliderTime) {
    struct TCase {
        const TPreviewRules* Rules;
        int Position;
        int64_t Unit;
        const char* Label;
    };
    const TCase Cases[] = {
        {&Main, 1234, 10000, "Time: 12.340"},  // 12340000 µs
        {&Trim, 1234, 10000, "12.340"},
        {&Crop, 7504, 10000, "75.040"},
        {&Main, 0, 10000, "Time: 0.000"},
        {&Main, 8000, 100, "Time: 0.800"},
        {&Main, 7200, 1000000, "Time: 7200.000"},
        {&Main, 32767, 10, "Time: 0.327"},  // the microseconds below a millisecond drop
        {&Main, 3600, 10000000, "Time: 36000.000"},
    };
    for (const TCase& C : Cases) EXPECT_EQ(TimeLabel(*C.Rules, C.Position, C.Unit), C.Label) << C.Label;
    EXPECT_EQ(SecondsText(12340000), "12.340");
    EXPECT_EQ(SecondsText(999), "0.000");
    EXPECT_EQ(SecondsText(1000), "0.001");
    EXPECT_EQ(SecondsText(-1500000), "-1.500");
    EXPECT_EQ(SecondsText(INT64_MAX), "9223372036854.775");
}

TEST(PreviewShow, PictureAndLabelOfASliderPosition) {
    const int64_t Odd = 61234500;  // not a whole number of steps
    struct TCase {
        const char* Name;
        const TPreviewRules* Rules;
        int64_t Duration;
        bool Still;
        int Position;
        bool HasVideo, SettingUp;
        bool Decode;
        int64_t Seek;
        bool Copy, Finish;
        const char* Label;  // nullptr: the label is left alone
    };
    const TCase Cases[] = {
        {"main, middle", &Main, 60 * Second, false, 1234, true, false, true, 12340000, true, false, "Time: 12.340"},
        {"main, start", &Main, 60 * Second, false, 0, true, false, true, 0, true, false, "Time: 0.000"},
        {"main, last position seeks to the duration", &Main, Odd, false, 6123, true, false, true, Odd, false, true,
         "Time: 61.230"},
        {"main, still picture is at its end at once", &Main, 40000, true, 0, true, false, true, 40000, false, true,
         "Time: 0.000"},
        {"main, audio only follows the slider", &Main, 60 * Second, false, 3000, false, false, false, 0, false,
         false, "Time: 30.000"},
        {"main, audio only ends too", &Main, 60 * Second, false, 6000, false, false, false, 0, false, true,
         "Time: 60.000"},
        {"main, closed after the end", &Main, 60 * Second, false, 0, false, false, false, 0, false, false,
         "Time: 0.000"},
        {"main, while setting up", &Main, 60 * Second, false, 0, true, true, false, 0, false, false, nullptr},
        {"trim, last position keeps the file", &Trim, Odd, false, 6123, true, false, true, Odd, false, false,
         "61.230"},
        {"crop, middle", &Crop, 60 * Second, false, 4321, true, false, true, 43210000, false, false, "43.210"},
        {"crop, while setting up", &Crop, 60 * Second, false, 6000, true, true, false, 0, false, false, nullptr},
    };
    for (const TCase& C : Cases) {
        TSliderSetup Slider = SetupSlider(*C.Rules, C.Duration, 370, C.Still);
        TShowStep S = ShowPosition(*C.Rules, Slider, C.Position, C.Duration, C.HasVideo, C.SettingUp);
        EXPECT_EQ(S.Decode, C.Decode) << C.Name;
        if (C.Decode) {
            EXPECT_EQ(S.SeekUs, C.Seek) << C.Name;
        }
        EXPECT_EQ(S.CopyFrame, C.Copy) << C.Name;
        EXPECT_EQ(S.Finish, C.Finish) << C.Name;
        EXPECT_EQ(S.SetLabel, C.Label != nullptr) << C.Name;
        if (C.Label) {
            EXPECT_EQ(S.Label, C.Label) << C.Name;
        }
    }
    // Slider changes show pictures only on a slider that can move.
    EXPECT_FALSE(SliderCanMove(0, 0));
    EXPECT_FALSE(SliderCanMove(5, 5));
    EXPECT_TRUE(SliderCanMove(0, 1));
}

TEST(PreviewTick, OneTickOfEachWindow) {
    struct TCase {
        const char* Name;
        const TPreviewRules* Rules;
        TPlayState State;
        int64_t Duration;
        int Position;
        std::vector<int> Positions;
        TPlayState After;
        bool Reset;
    };
    const TPlayState Playing{false, false, true};
    const TPlayState Paused{false, true, true};
    const TPlayState Stopped{true, false, true};
    const TPlayState DialogPaused{false, true, false};
    const TCase Cases[] = {
        // Main window: one second of the file per tick.
        {"main 60 s", &Main, Playing, 60 * Second, 0, {100}, Playing, false},
        {"main 60 s near the end", &Main, Playing, 60 * Second, 5950, {6000}, Playing, false},
        {"main 0.8 s jumps to its end", &Main, Playing, 800000, 0, {8000}, Playing, false},
        {"main exactly 1 s jumps too", &Main, Playing, Second, 0, {10000}, Playing, false},
        {"main 1.5 s: one whole second is the file", &Main, Playing, 1500000, 0, {15000}, Playing, false},
        {"main 2 hours", &Main, Playing, 7200 * Second, 7150, {7151}, Playing, false},
        {"main 10 hours still moves", &Main, Playing, 36000 * Second, 10, {11}, Playing, false},
        {"main still picture", &Main, Playing, 40000, 0, {}, Playing, false},
        {"main paused", &Main, Paused, 60 * Second, 300, {}, Paused, false},
        {"main stopped rewinds", &Main, Stopped, 60 * Second, 6000, {0}, Stopped, true},
        {"main after Clear", &Main, TPlayState{true, true, true}, 60 * Second, 300, {0}, TPlayState{true, true, true},
         true},
        // Dialogs: 100 steps, then one second.
        {"trim 60 s", &Trim, Playing, 60 * Second, 0, {100, 200}, Playing, false},
        {"trim near the end", &Trim, Playing, 60 * Second, 5950, {6000, 6000}, Playing, false},
        {"trim at the end rewinds and pauses", &Trim, Playing, 60 * Second, 6000, {0}, DialogPaused, false},
        {"trim paused stops its timer", &Trim, Paused, 60 * Second, 300, {}, DialogPaused, false},
        {"trim 0.8 s", &Trim, Playing, 800000, 0, {100, 8000}, Playing, false},
        {"trim 10 hours", &Trim, Playing, 36000 * Second, 0, {100, 101}, Playing, false},
        {"crop still picture pauses at once", &Crop, Playing, 40000, 0, {0}, DialogPaused, false},
        {"crop 2 hours", &Crop, Playing, 7200 * Second, 0, {100, 101}, Playing, false},
    };
    for (const TCase& C : Cases) {
        TSliderSetup Slider = SetupSlider(*C.Rules, C.Duration, 370, C.Duration < Second / 10);
        TPlayState State = C.State;
        TTickStep Step = PreviewTick(*C.Rules, State, Slider.Min, Slider.Max, C.Position, C.Duration);
        EXPECT_EQ(Step.Positions, C.Positions) << C.Name;
        EXPECT_EQ(State.Stopped, C.After.Stopped) << C.Name;
        EXPECT_EQ(State.Paused, C.After.Paused) << C.Name;
        EXPECT_EQ(State.TimerOn, C.After.TimerOn) << C.Name;
        EXPECT_EQ(Step.ResetButtons, C.Reset) << C.Name;
    }
}

// Ticks, slider and pictures together, as a player runs them: the slider
// clamps and reports a change only when its position moves.
namespace {

struct TPlayer {
    TPreviewRules Rules;
    int64_t Duration;
    TSliderSetup Slider;
    TPlayState State;
    int Position = 0;
    bool FileOpen = true;
    std::vector<int64_t> Seeks;
    std::string Label;

    TPlayer(const TPreviewRules& R, int64_t D) : Rules(R), Duration(D), Slider(SetupSlider(R, D, 370, false)) {
        Show();
    }
    void Show() {
        TShowStep Step = ShowPosition(Rules, Slider, Position, Duration, FileOpen, false);
        if (Step.Decode) Seeks.push_back(Step.SeekUs);
        if (Step.SetLabel) Label = Step.Label;
        if (Step.Finish) {
            FileOpen = false;
            State.Stopped = true;
        }
    }
    void Set(int Value) {
        if (Value == Position) return;
        Position = Value;
        if (SliderCanMove(Slider.Min, Slider.Max)) Show();
    }
    void Tick() {
        for (int Value : PreviewTick(Rules, State, Slider.Min, Slider.Max, Position, Duration).Positions) Set(Value);
    }
};

}  // namespace

TEST(PreviewTick, ShortClipReachesItsEndOnTheFirstTickAndStops) {
    TPlayer Main08(Main, 800000);
    Main08.Tick();
    EXPECT_EQ(Main08.Position, 8000);
    EXPECT_EQ(Main08.Seeks, (std::vector<int64_t>{0, 800000}));
    EXPECT_TRUE(Main08.State.Stopped);
    EXPECT_FALSE(Main08.FileOpen);
    EXPECT_EQ(Main08.Label, "Time: 0.800");
    Main08.Tick();  // stopped: back to 0, nothing decoded from the closed file
    EXPECT_EQ(Main08.Position, 0);
    EXPECT_EQ(Main08.Seeks.size(), 2u);
    EXPECT_EQ(Main08.Label, "Time: 0.000");

    TPlayer Trim08(Trim, 800000);
    Trim08.Tick();
    EXPECT_EQ(Trim08.Position, 8000);
    EXPECT_EQ(Trim08.Seeks, (std::vector<int64_t>{0, 10000, 800000}));  // two changes in one tick
    Trim08.Tick();
    EXPECT_EQ(Trim08.Position, 0);
    EXPECT_TRUE(Trim08.State.Paused);
    EXPECT_FALSE(Trim08.State.TimerOn);
    EXPECT_TRUE(Trim08.FileOpen);
}

TEST(PreviewTick, PauseThenPlayContinuesFromThePausedPosition) {
    TPlayer P(Main, 60 * Second);
    P.Tick();
    P.Tick();
    P.State.Paused = true;
    P.Tick();
    P.Tick();
    EXPECT_EQ(P.Position, 200);
    P.State.Paused = false;  // Play while paused only clears the flag
    P.Tick();
    EXPECT_EQ(P.Position, 300);
    EXPECT_EQ(P.Seeks.back(), 3 * Second);
}

TEST(PreviewPicture, FittedRectanglesAndHiddenStepButtons) {
    struct TCase {
        int PW, PH, DW, DH;
        TRect Fitted, Picture;
    };
    const TCase Cases[] = {
        {720, 576, 370, 253, {27, 0, 343, 253}, {28, 1, 342, 252}},  // 314 x 251
        {176, 144, 370, 253, {30, 0, 340, 253}, {31, 1, 339, 252}},  // 308 x 251
        {1280, 720, 217, 188, {0, 33, 217, 155}, {1, 34, 216, 154}},
        {0, 576, 370, 253, {}, {}},
        {2, 2, 2, 2, {0, 0, 2, 2}, {}},
    };
    for (const TCase& C : Cases) {
        EXPECT_EQ(FitPicture(C.PW, C.PH, C.DW, C.DH), C.Fitted) << C.PW << "x" << C.PH;
        EXPECT_EQ(PictureRectangle(C.PW, C.PH, C.DW, C.DH), C.Picture) << C.PW << "x" << C.PH;
    }
    const std::pair<int, int> Left[] = {{0, 0}, {1, 1}, {2, 1}, {50, 49}};
    for (auto [From, To] : Left) EXPECT_EQ(StepLeft(From), To) << From;
    const std::pair<int, int> Right[] = {{0, 1}, {98, 99}, {99, 99}, {100, 100}};
    for (auto [From, To] : Right) EXPECT_EQ(StepRight(From, 100), To) << From;
}

namespace {

const uint8_t* Pixel(const TBitmap& B, int X, int Y) { return B.ScanLine(Y) + 3 * X; }

bool IsColour(const TBitmap& B, int X, int Y, uint8_t R, uint8_t G, uint8_t Bl) {
    const uint8_t* P = Pixel(B, X, Y);
    return P[0] == Bl && P[1] == G && P[2] == R;
}

}  // namespace

TEST(PreviewPicture, DrawingFillsTheFittedRectangleAndKeepsTheMargins) {
    struct TCase {
        int FW, FH, CW, CH;
    };
    // Shrinking a wide frame, enlarging a small one, a single pixel.
    for (const TCase& C : {TCase{1280, 720, 217, 188}, TCase{176, 144, 370, 253}, TCase{1, 1, 370, 253}}) {
        TBitmap Frame(C.FW, C.FH);
        // Four quadrants of pure colours: red, green, blue, white.
        for (int Y = 0; Y < C.FH; ++Y)
            for (int X = 0; X < C.FW; ++X) {
                uint8_t* P = Frame.ScanLine(Y) + 3 * X;
                bool Right = X >= C.FW / 2, Bottom = Y >= C.FH / 2;
                uint8_t R = !Right && !Bottom ? 255 : Bottom && Right ? 255 : 0;
                uint8_t G = Right && !Bottom ? 255 : Bottom && Right ? 255 : 0;
                uint8_t B = Bottom ? 255 : 0;
                P[0] = B, P[1] = G, P[2] = R;
            }
        TBitmap Canvas(C.CW, C.CH);
        Canvas.Fill(166, 202, 240);
        TRect Area = DrawFitted(Frame, Canvas);
        ASSERT_EQ(Area, FitPicture(C.FW, C.FH, C.CW, C.CH));
        int Outside = 0;
        for (int Y = 0; Y < C.CH; ++Y)
            for (int X = 0; X < C.CW; ++X) {
                bool In = X >= Area.Left && X < Area.Right && Y >= Area.Top && Y < Area.Bottom;
                if (!In) Outside += !IsColour(Canvas, X, Y, 166, 202, 240);
            }
        EXPECT_EQ(Outside, 0) << C.FW << "x" << C.FH;
        const int L = Area.Left, T = Area.Top, R = Area.Right - 1, B = Area.Bottom - 1;
        if (C.FW == 1) {  // the one pixel lies in the bottom-right quadrant
            EXPECT_TRUE(IsColour(Canvas, L, T, 255, 255, 255));
            EXPECT_TRUE(IsColour(Canvas, R, B, 255, 255, 255));
            continue;
        }
        EXPECT_TRUE(IsColour(Canvas, L, T, 255, 0, 0)) << C.FW;
        EXPECT_TRUE(IsColour(Canvas, R, T, 0, 255, 0)) << C.FW;
        EXPECT_TRUE(IsColour(Canvas, L, B, 0, 0, 255)) << C.FW;
        EXPECT_TRUE(IsColour(Canvas, R, B, 255, 255, 255)) << C.FW;
    }
    TBitmap Empty, Canvas(10, 10);
    Canvas.Fill(1, 2, 3);
    EXPECT_TRUE(DrawFitted(Empty, Canvas).IsEmpty());
    EXPECT_TRUE(IsColour(Canvas, 5, 5, 1, 2, 3));
}

TEST(PreviewPicture, EveryPixelIsTheBlendOfItsFourNeighboursInBothCanvasKinds) {
    // A noisy frame of odd width, so that rows have no padding to spare and
    // the last columns read up to the end of their row.
    TBitmap Frame(97, 61);
    uint32_t Seed = 12345;
    for (int Y = 0; Y < Frame.Height(); ++Y)
        for (int X = 0; X < 3 * Frame.Width(); ++X) {
            Seed = Seed * 1103515245 + 12345;
            Frame.ScanLine(Y)[X] = uint8_t(Seed >> 24);
        }
    // The centre of target pixel i lies at (i + 0.5) * Source / Target - 0.5.
    auto Tap = [](int I, int Target, int Source, int& First, int& Second, int& Weight) {
        int64_t Fixed = ((2 * int64_t(I) + 1) * Source * 256) / (2 * Target) - 128;
        Fixed = std::max<int64_t>(0, std::min<int64_t>(Fixed, int64_t(Source - 1) * 256));
        First = int(Fixed >> 8);
        Second = std::min(First + 1, Source - 1);
        Weight = int(Fixed & 255);
    };
    for (auto [CW, CH] : {std::pair{40, 30}, std::pair{301, 190}}) {
        TBitmap Packed(CW, CH);
        std::vector<uint8_t> Wide(size_t(CW) * CH * 4, 7);
        TRect Area = DrawFitted(Frame, Packed);
        ASSERT_EQ(DrawFitted(Frame, Wide.data(), CW, CH, CW * 4, 4), Area);
        for (int Y = Area.Top; Y < Area.Bottom; ++Y)
            for (int X = Area.Left; X < Area.Right; ++X) {
                int Y0, Y1, WY, X0, X1, WX;
                Tap(Y - Area.Top, Area.Height(), Frame.Height(), Y0, Y1, WY);
                Tap(X - Area.Left, Area.Width(), Frame.Width(), X0, X1, WX);
                for (int K = 0; K < 3; ++K) {
                    auto At = [&](int SX, int SY) { return int(Frame.ScanLine(SY)[3 * SX + K]); };
                    int Left = (At(X0, Y0) * (256 - WY) + At(X0, Y1) * WY + 128) >> 8;
                    int Right = (At(X1, Y0) * (256 - WY) + At(X1, Y1) * WY + 128) >> 8;
                    int Expected = (Left * (256 - WX) + Right * WX + 128) >> 8;
                    ASSERT_EQ(Packed.ScanLine(Y)[3 * X + K], Expected) << CW << " at " << X << "," << Y;
                    ASSERT_EQ(Wide[(size_t(Y) * CW + X) * 4 + K], Expected) << CW << " at " << X << "," << Y;
                }
                ASSERT_EQ(Wide[(size_t(Y) * CW + X) * 4 + 3], 255);
            }
    }
}
