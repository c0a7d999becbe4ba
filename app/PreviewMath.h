// The arithmetic of the preview player that the main window and the trim
// and crop dialogs share: the slider scale, the picture and label for a
// slider position, what one timer tick does, and drawing a frame fitted
// into a canvas. No Qt and no probe here: a widget-level player asks these
// functions what to do and does it with its own slider, timer and probe.
//
// How the three windows differ (TPreviewRules::For):
//   main window  time label "Time: 12.340"; tick marks on; the tick only
//                moves by one second of the file; each picture but the last
//                is kept as the frame copy for snapshots; showing the last
//                position closes the probe's file and stops; while stopped
//                each tick puts the slider back to 0 and resets the buttons.
//   trim dialog  time label "12.340" (the caption is a label of its own);
//                tick marks left as designed; the tick first adds 100 steps,
//                then one second; the tick after the end rewinds to 0 and
//                pauses; the file stays open.
//   crop dialog  as the trim dialog, with tick marks on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Geometry.h"

class TBitmap;

// Every preview timer ticks this often.
constexpr int PreviewTimerInterval = 500;  // ms
// The slider never has more steps than this.
constexpr int PreviewMaxSteps = 32767;
// Picture areas of the windows.
constexpr int MainPreviewWidth = 217, MainPreviewHeight = 188;
constexpr int DialogPreviewWidth = 370, DialogPreviewHeight = 253;

enum TPreviewWindow { pwMain, pwTrim, pwCrop };

// What a preview player is configured with.
struct TPreviewRules {
    TPreviewWindow Window = pwMain;
    std::string TimePrefix;          // put before the time text of the label
    bool ShowTicks = false;          // the slider set-up switches tick marks on
    bool TickAddsHundred = false;    // a playing tick first adds 100 steps
    bool StopAtEnd = false;          // showing the last position closes the file and stops
    bool RewindAtEnd = false;        // a tick at the last position rewinds to 0 and pauses
    int CanvasWidth = 0, CanvasHeight = 0;

    static TPreviewRules For(TPreviewWindow Window);
};

// The slider for one file.
struct TSliderSetup {
    bool Visible = false;      // false for a still picture
    int64_t Unit = 10;         // µs of the file per step: a power of ten, at least 10
    int Min = 0, Max = 0;
    int TickFrequency = 0;     // steps from one tick mark to the next
    int LineSize = 1, PageSize = 5;
    bool ShowTicks = false;
};

// The slider for a file of DurationUs µs on a slider SliderWidth pixels
// wide. A still picture gets a hidden slider; a file without a known
// duration gets a slider with Max 0, which cannot move.
TSliderSetup SetupSlider(const TPreviewRules& Rules, int64_t DurationUs, int SliderWidth, bool StillPicture);

// "%d.%.3d": whole seconds and the millisecond remainder of a time in µs.
std::string SecondsText(int64_t Microseconds);
// The time label at a slider position, with the window's prefix.
std::string TimeLabel(const TPreviewRules& Rules, int Position, int64_t Unit);

// Slider changes show a picture only on a slider that can move.
bool SliderCanMove(int Min, int Max);
// The last position of the slider (position 0 when Max is 0).
bool AtLastPosition(int Position, int Max);
// Where the picture of a slider position is: the last position seeks to
// the file's duration, any other to Position x Unit µs.
int64_t SeekTarget(int Position, int Max, int64_t Unit, int64_t DurationUs);

// What showing the slider position does.
struct TShowStep {
    bool Decode = false;    // seek to SeekUs, decode and draw
    int64_t SeekUs = 0;
    bool CopyFrame = false; // keep the decoded picture as the frame copy (not at the end)
    bool Finish = false;    // close the probe's file and set Stopped afterwards
    bool SetLabel = false;
    std::string Label;
};

// The picture and label for Position. HasVideo: the probe has its file open
// and a video stream in it (after the end the file is closed, so nothing is
// decoded and the frame copy keeps the last picture). Nothing happens while
// the slider is being set up. At the last position the main window finishes
// playback, with or without a video stream, so that an audio-only file ends
// too.
TShowStep ShowPosition(const TPreviewRules& Rules, const TSliderSetup& Slider, int Position,
                       int64_t DurationUs, bool HasVideo, bool SettingUp);

// Playback state of one window. The defaults are a dialog's running state;
// the main window starts with Stopped set.
struct TPlayState {
    bool Stopped = false;    // main window only
    bool Paused = false;
    bool TimerOn = true;     // dialogs only; the main window's timer always runs
};

// One second of the file in slider steps, at least one step so that very
// long files still move; the whole slider when the file lasts at most one
// second.
int OneSecondSteps(int Max, int64_t DurationUs);

// What one timer tick does.
struct TTickStep {
    // Slider positions to assign in this order, each already clamped to
    // [Min, Max]; an assignment that changes the position shows its picture.
    std::vector<int> Positions;
    bool ResetButtons = false;  // main window, stopped: Play on, Stop and Pause off
};

// Advances State by one tick of the timer for a slider at Position.
TTickStep PreviewTick(const TPreviewRules& Rules, TPlayState& State, int Min, int Max, int Position,
                      int64_t DurationUs);

// The hidden step buttons of the dialogs: one step, never onto 0 or Max.
int StepLeft(int Position);
int StepRight(int Position, int Max);

// The rectangle a PW x PH frame takes in a DW x DH canvas, shrunk by one
// pixel on each side: the picture rectangle of the crop dialog.
TRect PictureRectangle(int PW, int PH, int DW, int DH);

// How players show a decoded picture: stretched by its sample aspect, then
// turned clockwise by Rotation degrees, then mirrored left to right.
struct TPictureShape {
    int SarNum = 0, SarDen = 0;  // 0 or 1:1: square samples
    int Rotation = 0;            // 0, 90, 180 or 270
    bool Mirrored = false;
    bool Turned() const { return Rotation == 90 || Rotation == 270; }
    bool operator==(const TPictureShape&) const = default;
};
// The proportions a W x H picture is shown in, as a width and a height:
// the sample aspect widens (or narrows) it, a quarter turn swaps the two.
void DisplaySize(int W, int H, const TPictureShape& Shape, int& DW, int& DH);
// The picture turned and mirrored as Shape says, still at its own samples.
void OrientPicture(const TBitmap& Source, const TPictureShape& Shape, TBitmap& Target);

// Borders of a picture: in source pixels (the decoded picture's edges) or
// on screen (the edges of the picture as shown).
struct TEdges {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
    bool operator==(const TEdges&) const = default;
};
// The source edge under each edge on screen, and back.
TEdges ScreenEdges(const TEdges& Source, const TPictureShape& Shape);
TEdges SourceEdges(const TEdges& Screen, const TPictureShape& Shape);

// Draws Frame stretched (bilinear) into the FitPicture rectangle of Canvas;
// the margins keep what they had. Returns the rectangle drawn, empty when
// either bitmap is empty.
TRect DrawFitted(const TBitmap& Frame, TBitmap& Canvas);
// The same into Width x Height pixels at Canvas, Stride bytes a row, of
// PixelBytes each: 3 (B, G, R) or 4 (B, G, R, 255: a 32-bit RGB image).
TRect DrawFitted(const TBitmap& Frame, uint8_t* Canvas, int Width, int Height, int Stride, int PixelBytes);
// The same for a picture shown in Shape: fitted by its display proportions,
// turned and mirrored. Scratch holds the turned picture between calls.
TRect DrawFitted(const TBitmap& Frame, const TPictureShape& Shape, TBitmap& Scratch, uint8_t* Canvas, int Width,
                 int Height, int Stride, int PixelBytes);
