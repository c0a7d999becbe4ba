#include "app/PreviewMath.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/Bitmap.h"

TPreviewRules TPreviewRules::For(TPreviewWindow Window) {
    TPreviewRules Rules;
    Rules.Window = Window;
    if (Window == pwMain) {
        Rules.TimePrefix = "Time: ";
        Rules.ShowTicks = true;
        Rules.StopAtEnd = true;
        Rules.CanvasWidth = MainPreviewWidth;
        Rules.CanvasHeight = MainPreviewHeight;
    } else {
        Rules.ShowTicks = Window == pwCrop;
        Rules.TickAddsHundred = true;
        Rules.RewindAtEnd = true;
        Rules.CanvasWidth = DialogPreviewWidth;
        Rules.CanvasHeight = DialogPreviewHeight;
    }
    return Rules;
}

TSliderSetup SetupSlider(const TPreviewRules& Rules, int64_t DurationUs, int SliderWidth, bool StillPicture) {
    TSliderSetup Slider;
    Slider.ShowTicks = Rules.ShowTicks;
    Slider.Visible = !StillPicture;
    // The smallest power of ten, at least 10, that brings the steps within
    // the slider's range.
    int64_t Unit = 1;
    do {
        Unit *= 10;
    } while (DurationUs / Unit > PreviewMaxSteps);
    Slider.Unit = Unit;
    if (!Slider.Visible || DurationUs <= 0) return Slider;

    Slider.Max = static_cast<int>(DurationUs / Unit);
    // A slider too narrow for ticks every ten pixels gets one tick span.
    int Spans = std::max((SliderWidth - 12) / 10, 1);
    Slider.TickFrequency = Slider.Max / Spans;
    Slider.LineSize = Slider.Max > 10000 ? 1000 : Slider.Max > 1000 ? 100 : Slider.Max > 100 ? 10 : 1;
    Slider.PageSize = 5 * Slider.LineSize;
    return Slider;
}

std::string SecondsText(int64_t Microseconds) {
    // Times before the start only come from damaged files; they keep their sign.
    const char* Sign = Microseconds < 0 ? "-" : "";
    uint64_t Magnitude = Microseconds < 0 ? 0 - static_cast<uint64_t>(Microseconds) : static_cast<uint64_t>(Microseconds);
    char Text[48];
    std::snprintf(Text, sizeof Text, "%s%" PRIu64 ".%.3d", Sign, Magnitude / 1000000,
                  static_cast<int>(Magnitude / 1000 % 1000));
    return Text;
}

std::string TimeLabel(const TPreviewRules& Rules, int Position, int64_t Unit) {
    return Rules.TimePrefix + SecondsText(static_cast<int64_t>(Position) * Unit);
}

bool SliderCanMove(int Min, int Max) { return Max > 0 && Max > Min; }

bool AtLastPosition(int Position, int Max) { return Position >= Max; }

int64_t SeekTarget(int Position, int Max, int64_t Unit, int64_t DurationUs) {
    if (AtLastPosition(Position, Max)) return DurationUs;
    return static_cast<int64_t>(Position) * Unit;
}

TShowStep ShowPosition(const TPreviewRules& Rules, const TSliderSetup& Slider, int Position, int64_t DurationUs,
                       bool HasVideo, bool SettingUp) {
    TShowStep Step;
    if (SettingUp) return Step;
    bool Last = AtLastPosition(Position, Slider.Max);
    if (HasVideo) {
        Step.Decode = true;
        Step.SeekUs = SeekTarget(Position, Slider.Max, Slider.Unit, DurationUs);
        Step.CopyFrame = Rules.StopAtEnd && !Last;
    }
    Step.Finish = Rules.StopAtEnd && Last;
    Step.SetLabel = true;
    Step.Label = TimeLabel(Rules, Position, Slider.Unit);
    return Step;
}

int OneSecondSteps(int Max, int64_t DurationUs) {
    if (Max <= 0) return 0;
    if (DurationUs <= 1000000) return Max;
    // Files longer than Max seconds would otherwise never move.
    return static_cast<int>(std::max<int64_t>(Max / (DurationUs / 1000000), 1));
}

TTickStep PreviewTick(const TPreviewRules& Rules, TPlayState& State, int Min, int Max, int Position,
                      int64_t DurationUs) {
    TTickStep Step;
    auto Assign = [&](int64_t Value) {
        Position = static_cast<int>(std::clamp<int64_t>(Value, Min, std::max(Min, Max)));
        Step.Positions.push_back(Position);
    };
    if (Rules.RewindAtEnd && Position == Max) {
        Assign(0);
        State.Paused = true;
        State.TimerOn = false;
    }
    if (Rules.StopAtEnd && (State.Stopped || State.Paused)) {
        if (State.Stopped) {
            Assign(0);
            Step.ResetButtons = true;
        }
        return Step;
    }
    if (State.Paused) {
        State.TimerOn = false;
        return Step;
    }
    if (!SliderCanMove(Min, Max)) return Step;
    if (Rules.TickAddsHundred) Assign(static_cast<int64_t>(Position) + 100);
    Assign(static_cast<int64_t>(Position) + OneSecondSteps(Max, DurationUs));
    return Step;
}

int StepLeft(int Position) { return Position > 1 ? Position - 1 : Position; }

int StepRight(int Position, int Max) { return Position < Max - 1 ? Position + 1 : Position; }

TRect PictureRectangle(int PW, int PH, int DW, int DH) {
    TRect Area = FitPicture(PW, PH, DW, DH);
    if (Area.Width() <= 2 || Area.Height() <= 2) return {};
    return {Area.Left + 1, Area.Top + 1, Area.Right - 1, Area.Bottom - 1};
}

namespace {

// Source sample of each target column or row: the offset of the first of
// the two neighbours, the step to the second, and the weight of the second
// in 1/256, centres aligned.
struct TTap {
    int First, Step, Weight;
};

std::vector<TTap> Taps(int Target, int Source, int Unit) {
    std::vector<TTap> Result(static_cast<size_t>(Target));
    for (int i = 0; i < Target; ++i) {
        int64_t Fixed = ((2 * static_cast<int64_t>(i) + 1) * Source * 256) / (2 * Target) - 128;
        Fixed = std::clamp<int64_t>(Fixed, 0, static_cast<int64_t>(Source - 1) * 256);
        int First = static_cast<int>(Fixed >> 8);
        Result[i] = {First * Unit, First + 1 < Source ? Unit : 0, static_cast<int>(Fixed & 255)};
    }
    return Result;
}

// One target pixel, B | G << 8 | R << 16: the two rows blended first, then
// the two columns, each rounded to 8 bits.
inline uint32_t BlendPixel(const uint8_t* A, const uint8_t* C, int S, int WY, int WX) {
    uint32_t Pixel = 0;
    for (int K = 0; K < 3; ++K) {
        int Left = (A[K] * (256 - WY) + C[K] * WY + 128) >> 8;
        int Right = (A[K + S] * (256 - WY) + C[K + S] * WY + 128) >> 8;
        Pixel |= static_cast<uint32_t>((Left * (256 - WX) + Right * WX + 128) >> 8) << (8 * K);
    }
    return Pixel;
}

#ifdef __SSE2__
// B, G, R and one byte more of both neighbours as 16-bit lanes.
inline __m128i Neighbours(const uint8_t* P, int S) {
    uint32_t First, Second;
    std::memcpy(&First, P, 4);
    std::memcpy(&Second, P + S, 4);
    const __m128i Bytes = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(First)),
                                             _mm_cvtsi32_si128(static_cast<int>(Second)));
    return _mm_unpacklo_epi8(Bytes, _mm_setzero_si128());
}
#endif

}  // namespace

TRect DrawFitted(const TBitmap& Frame, TBitmap& Canvas) {
    return DrawFitted(Frame, Canvas.Bits(), Canvas.Width(), Canvas.Height(), Canvas.Stride(), 3);
}

void DisplaySize(int W, int H, const TPictureShape& Shape, int& DW, int& DH) {
    DW = W;
    DH = H;
    if (Shape.SarNum > 0 && Shape.SarDen > 0 && Shape.SarNum != Shape.SarDen && W > 0) {
        DW = static_cast<int>((static_cast<int64_t>(W) * Shape.SarNum + Shape.SarDen / 2) / Shape.SarDen);
        DW = std::max(DW, 1);
    }
    if (Shape.Turned()) std::swap(DW, DH);
}

void OrientPicture(const TBitmap& Source, const TPictureShape& Shape, TBitmap& Target) {
    const int W = Source.Width(), H = Source.Height();
    const int TW = Shape.Turned() ? H : W, TH = Shape.Turned() ? W : H;
    if (Target.Width() != TW || Target.Height() != TH) Target.SetSize(TW, TH);
    for (int Y = 0; Y < TH; ++Y) {
        uint8_t* Out = Target.ScanLine(Y);
        for (int X = 0; X < TW; ++X) {
            const int DX = Shape.Mirrored ? TW - 1 - X : X;
            int SX, SY;
            switch (Shape.Rotation) {
                case 90: SX = Y, SY = H - 1 - DX; break;
                case 180: SX = W - 1 - DX, SY = H - 1 - Y; break;
                case 270: SX = W - 1 - Y, SY = DX; break;
                default: SX = DX, SY = Y; break;
            }
            std::memcpy(Out + 3 * X, Source.ScanLine(SY) + 3 * SX, 3);
        }
    }
}

TEdges ScreenEdges(const TEdges& S, const TPictureShape& Shape) {
    // Turning clockwise brings the source's left edge to the top.
    TEdges E;
    switch (Shape.Rotation) {
        case 90: E = {S.Left, S.Right, S.Bottom, S.Top}; break;
        case 180: E = {S.Bottom, S.Top, S.Right, S.Left}; break;
        case 270: E = {S.Right, S.Left, S.Top, S.Bottom}; break;
        default: E = S; break;
    }
    if (Shape.Mirrored) std::swap(E.Left, E.Right);
    return E;
}

TEdges SourceEdges(const TEdges& Screen, const TPictureShape& Shape) {
    TEdges E = Screen;
    if (Shape.Mirrored) std::swap(E.Left, E.Right);
    switch (Shape.Rotation) {
        case 90: return {E.Right, E.Left, E.Top, E.Bottom};
        case 180: return {E.Bottom, E.Top, E.Right, E.Left};
        case 270: return {E.Left, E.Right, E.Bottom, E.Top};
        default: return E;
    }
}

namespace {

TRect DrawInto(const TBitmap& Frame, TRect Area, uint8_t* Canvas, int Stride, int PixelBytes);

}  // namespace

TRect DrawFitted(const TBitmap& Frame, const TPictureShape& Shape, TBitmap& Scratch, uint8_t* Canvas, int Width,
                 int Height, int Stride, int PixelBytes) {
    int DW = 0, DH = 0;
    DisplaySize(Frame.Width(), Frame.Height(), Shape, DW, DH);
    const TRect Area = FitPicture(DW, DH, Width, Height);
    if (Area.IsEmpty() || !Canvas) return {};
    if (Shape.Rotation == 0 && !Shape.Mirrored) return DrawInto(Frame, Area, Canvas, Stride, PixelBytes);
    OrientPicture(Frame, Shape, Scratch);
    return DrawInto(Scratch, Area, Canvas, Stride, PixelBytes);
}

TRect DrawFitted(const TBitmap& Frame, uint8_t* Canvas, int Width, int Height, int Stride, int PixelBytes) {
    TRect Area = FitPicture(Frame.Width(), Frame.Height(), Width, Height);
    if (Area.IsEmpty() || !Canvas) return {};
    return DrawInto(Frame, Area, Canvas, Stride, PixelBytes);
}

namespace {

// Frame stretched (bilinear) into Area of the canvas.
TRect DrawInto(const TBitmap& Frame, TRect Area, uint8_t* Canvas, int Stride, int PixelBytes) {
    const int FW = Frame.Width(), FH = Frame.Height(), W = Area.Width(), H = Area.Height();
    const std::vector<TTap> Columns = Taps(W, FW, 3), Rows = Taps(H, FH, 1);
    // The vector path reads four bytes from each neighbour; the columns
    // whose fourth byte lies past the row take the plain path.
    const int RowBytes = FW * 3;

    for (int Y = 0; Y < H; ++Y) {
        const TTap& Row = Rows[Y];
        const uint8_t* Upper = Frame.ScanLine(Row.First);
        const uint8_t* Lower = Frame.ScanLine(Row.First + Row.Step);
        uint8_t* Out = Canvas + static_cast<ptrdiff_t>(Area.Top + Y) * Stride + PixelBytes * Area.Left;
#ifdef __SSE2__
        const __m128i WY = _mm_set1_epi16(static_cast<short>(Row.Weight));
        const __m128i WU = _mm_set1_epi16(static_cast<short>(256 - Row.Weight));
        const __m128i Half = _mm_set1_epi16(128);
#endif
        for (const TTap& Col : Columns) {
            uint32_t Pixel;
#ifdef __SSE2__
            if (Col.First + Col.Step + 4 <= RowBytes) {
                const short WX = static_cast<short>(Col.Weight), WL = static_cast<short>(256 - Col.Weight);
                __m128i V = _mm_add_epi16(_mm_mullo_epi16(Neighbours(Upper + Col.First, Col.Step), WU),
                                          _mm_mullo_epi16(Neighbours(Lower + Col.First, Col.Step), WY));
                V = _mm_srli_epi16(_mm_add_epi16(V, Half), 8);
                V = _mm_mullo_epi16(V, _mm_set_epi16(WX, WX, WX, WX, WL, WL, WL, WL));
                V = _mm_add_epi16(V, _mm_srli_si128(V, 8));
                V = _mm_srli_epi16(_mm_add_epi16(V, Half), 8);
                Pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(V, V))) & 0xFFFFFF;
            } else
#endif
                Pixel = BlendPixel(Upper + Col.First, Lower + Col.First, Col.Step, Row.Weight, Col.Weight);
            // Whole words: byte stores read back as a word stall the pipeline.
            if (PixelBytes == 4) {
                Pixel |= 0xFF000000u;
                std::memcpy(Out, &Pixel, 4);
            } else {
                Out[0] = static_cast<uint8_t>(Pixel);
                Out[1] = static_cast<uint8_t>(Pixel >> 8);
                Out[2] = static_cast<uint8_t>(Pixel >> 16);
            }
            Out += PixelBytes;
        }
    }
    return Area;
}

}  // namespace
