// The preview player that the main window and the trim and crop dialogs
// share: it drives a window's picture area, position slider, time label and
// 500 ms timer from a probe opened on the previewed file. The rules of each
// window (label prefix, tick marks, how a tick advances, what the end of the
// file does) come from TPreviewRules::For; the arithmetic lives in
// app/PreviewMath.h, this class only applies it to the widgets.
//
// The window keeps its own widgets and buttons; the player is given them and
// owns none. Typical use:
//
//   Player = new TPreviewPlayer(TPreviewRules::For(pwTrim), imgPreview, trcPreview, lblPTS, Timer1, this);
//   Player->ConnectControls();                  // slider and timer -> player
//   Player->SetProbe(&VxAVC.Probe());           // or at every opening
//   if (Player->OpenFile(Path)) Player->Start(); // set-up + first picture, then play
//   ... Player->Pause(); Player->Resume(); ...
//
// Windows that already connect the slider and the timer to slots of their
// own call SliderChanged and Tick from those slots instead.
#pragma once

#include <QObject>

#include <memory>
#include <string>

#include "app/PreviewMath.h"
#include "common/Bitmap.h"

class QLabel;
class QSlider;
class QTimer;
class TAVProbe;
class TPictureView;

// How the probe's video stream is shown: sample aspect, turn and mirror.
TPictureShape ShapeOf(TAVProbe& Probe, int VideoStream);

class TPreviewPlayer : public QObject {
    Q_OBJECT
public:
    // Canvas, Slider and TimeLabel are required; Timer may be null (the
    // caller then calls Tick itself). None of them is owned. The canvas
    // gets the keyboard focus on a click, so Left and Right step the slider
    // by its line size while the picture is focused.
    TPreviewPlayer(const TPreviewRules& Rules, TPictureView* Canvas, QSlider* Slider, QLabel* TimeLabel,
                   QTimer* Timer, QObject* Parent = nullptr);
    ~TPreviewPlayer() override;

    // Connects the slider's valueChanged to SliderChanged and the timer's
    // timeout to Tick. Windows that route these through their own slots
    // skip this.
    void ConnectControls();

    // The probe pictures come from (usually a converter component's). Not
    // owned; it must outlive the player or be replaced first, since the
    // probe left behind first gives up the picture the player borrows from
    // it. Null: the slider and label still work, nothing is decoded.
    void SetProbe(TAVProbe* Probe);

    // Opens FileName in the probe and, on success, sets the preview up
    // (SetUp). On failure nothing changes on screen and the probe's
    // LastError says why. Raises what the probe raises for a missing library.
    bool OpenFile(const std::string& FileName);
    // Set-up for a probe already opened on the file: fills the canvas with
    // the preview background, remembers the probe's first video stream and
    // duration, configures the slider (hidden for a still picture) and shows
    // the picture and time at position 0. Does not change Paused/Stopped.
    void SetUp();

    // Shows the picture and time at the slider's position as a slider change
    // does: nothing while the slider is set up or cannot move (Max <= 0 or
    // Min >= Max).
    void SliderChanged(int Position);
    // Shows the picture and time at Position unconditionally (the set-up's
    // first picture). With the main window's rules the last position ends
    // playback: the probe's file is closed, Stopped is set, Finished emitted.
    void ShowPosition(int Position);

    // One timer tick: advances the slider by the window's rules; a position
    // that changes shows its picture. With the main window's rules a tick
    // while stopped puts the slider back to 0 and emits ButtonsReset; with
    // the dialogs' rules a tick at the end rewinds to 0 and pauses, and a
    // tick while paused stops the timer.
    void Tick();

    // Playback control. Start: play from the current position (clears
    // Stopped and Paused, enables the slider, runs the timer). Pause: the
    // next ticks leave the slider where it is. Resume: clears Paused (and,
    // for the dialogs, restarts the timer). Stop (main window): slider back
    // to 0, which shows the first picture, Stopped set, Paused cleared,
    // slider disabled; ignored when already stopped.
    void Start();
    void Pause();
    void Resume();
    void Stop();

    // The playback flags; a window may set them directly (the main window's
    // Clear sets both, its batch start sets Stopped).
    bool Stopped() const { return FState.Stopped; }
    bool Paused() const { return FState.Paused; }
    void SetStopped(bool Value) { FState.Stopped = Value; }
    void SetPaused(bool Value) { FState.Paused = Value; }
    TPlayState& State() { return FState; }

    // What the set-up found.
    const TPreviewRules& Rules() const { return FRules; }
    const TSliderSetup& Slider() const { return FSlider; }
    int64_t DurationUs() const { return FDurationUs; }
    int VideoStream() const { return FVideoStream; }

    // The copy of the latest picture shown, for snapshots (empty until a
    // picture was decoded). Kept across the end of the file. The picture is
    // copied out of the probe only when asked for or before the probe's
    // picture changes, not on every step.
    const TBitmap& FrameCopy();
    // The picture area as shown, margins included, as a 24-bit bitmap.
    TBitmap CanvasBitmap() const;

signals:
    // The last position was shown with the main window's rules: the probe's
    // file is closed and Stopped is set.
    void Finished();
    // A tick found the player stopped (main window): Play should be enabled,
    // Stop and Pause disabled.
    void ButtonsReset();
    // A tick rewound the slider at the end and paused (dialogs).
    void Rewound();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // The probe has its file open (in owner mode) and a video stream to decode.
    bool HasVideo() const;
    // Runs the timer when the dialogs' rules want it running.
    void SyncTimer();

    TPreviewRules FRules;
    TPictureView* FCanvas;
    QSlider* FSliderControl;
    QLabel* FTimeLabel;
    QTimer* FTimer;
    TAVProbe* FProbe = nullptr;

    TSliderSetup FSlider;
    TPlayState FState;
    int64_t FDurationUs = 0;
    int FVideoStream = -1;
    bool FStill = false;
    bool FSettingUp = false;
    // The keeper left in the probe holds it weakly: one that runs after the
    // player is gone copies nothing.
    std::shared_ptr<TBitmap> FFrameCopy = std::make_shared<TBitmap>();
};
