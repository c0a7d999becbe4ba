#include "widgets/PreviewPlayer.h"

#include <algorithm>

#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include "probe/AVProbe.h"
#include "widgets/PictureView.h"

namespace {

// Sets a flag for the lifetime of the guard, also when an exception leaves.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

}  // namespace

TPictureShape ShapeOf(TAVProbe& Probe, int VideoStream) {
    TAVVideoStreamInfo Info;
    Probe.GetVideoStreamInfo(VideoStream, Info);
    return {Info.SarNum, Info.SarDen, Info.Rotation, Info.Mirrored};
}

TPreviewPlayer::TPreviewPlayer(const TPreviewRules& Rules, TPictureView* Canvas, QSlider* Slider,
                               QLabel* TimeLabel, QTimer* Timer, QObject* Parent)
    : QObject(Parent), FRules(Rules), FCanvas(Canvas), FSliderControl(Slider), FTimeLabel(TimeLabel), FTimer(Timer) {
    // The main window starts stopped; a dialog starts playing once it opens a file.
    FState.Stopped = FRules.StopAtEnd;
    FState.TimerOn = !FRules.StopAtEnd;
    FCanvas->setFocusPolicy(Qt::ClickFocus);
    FCanvas->installEventFilter(this);
    // Key-frame pictures stand in while the slider is dragged; where it
    // comes to rest gets its own picture.
    connect(FSliderControl, &QSlider::sliderReleased, this, [this] {
        if (!FSettingUp && SliderCanMove(FSliderControl->minimum(), FSliderControl->maximum()))
            ShowPosition(FSliderControl->value());
    });
}

TPreviewPlayer::~TPreviewPlayer() = default;

void TPreviewPlayer::SetProbe(TAVProbe* Probe) {
    if (FProbe && FProbe != Probe) FProbe->KeepPictureNow(this);
    FProbe = Probe;
}

const TBitmap& TPreviewPlayer::FrameCopy() {
    if (FProbe) FProbe->KeepPictureNow(this);
    return *FFrameCopy;
}

void TPreviewPlayer::ConnectControls() {
    connect(FSliderControl, &QSlider::valueChanged, this, &TPreviewPlayer::SliderChanged);
    if (FTimer) connect(FTimer, &QTimer::timeout, this, &TPreviewPlayer::Tick);
}

bool TPreviewPlayer::OpenFile(const std::string& FileName) {
    if (!FProbe || !FProbe->OpenFile(FileName)) return false;
    SetUp();
    return true;
}

bool TPreviewPlayer::HasVideo() const {
    // A probe attached to a running job cannot seek or decode.
    return FProbe && FProbe->Context() && FProbe->OwnsContext() && FProbe->VideoStreamCount() > 0 &&
           FVideoStream >= 0;
}

void TPreviewPlayer::SetUp() {
    FCanvas->ClearCanvas();
    FVideoStream = FProbe ? FProbe->FirstVideoStream() : -1;
    FStill = FProbe && FProbe->IsStillImage();
    FDurationUs = 0;
    if (FProbe && FProbe->Context()) {
        TAVFileInfo Info;
        FProbe->GetFileInfo(Info);
        FDurationUs = Info.Duration > 0 ? Info.Duration : 0;
    }
    FCanvas->SetShape(FVideoStream >= 0 ? ShapeOf(*FProbe, FVideoStream) : TPictureShape{});
    {
        TFlagGuard Guard(FSettingUp);
        FSliderControl->setRange(0, 0);
        FSlider = SetupSlider(FRules, FDurationUs, FSliderControl->width(), FStill);
        FSliderControl->setVisible(FSlider.Visible);
        if (FSlider.Visible) {
            FSliderControl->setRange(FSlider.Min, FSlider.Max);
            FSliderControl->setTickInterval(FSlider.TickFrequency);
            FSliderControl->setSingleStep(FSlider.LineSize);
            FSliderControl->setPageStep(FSlider.PageSize);
            if (FSlider.ShowTicks) FSliderControl->setTickPosition(QSlider::TicksBelow);
            FSliderControl->setValue(0);
        }
    }
    ShowPosition(0);
}

void TPreviewPlayer::SliderChanged(int Position) {
    if (FSettingUp || !SliderCanMove(FSliderControl->minimum(), FSliderControl->maximum())) return;
    ShowPosition(Position);
}

void TPreviewPlayer::ShowPosition(int Position) {
    const TShowStep Step = ::ShowPosition(FRules, FSlider, Position, FDurationUs, HasVideo(), FSettingUp);
    if (Step.Decode) {
        // This step's picture replaces the one the player still borrows.
        if (Step.CopyFrame) FProbe->ForgetPictureKeeper(this);
        FProbe->Seek(FVideoStream, Step.SeekUs,
                     FSliderControl->isSliderDown() ? TAVProbe::smKeyFrame : TAVProbe::smExact);
        TBitmap& Frame = FProbe->DecodeFrame(FVideoStream);
        if (Step.CopyFrame)
            FProbe->KeepPictureBeforeChange(this, [Copy = std::weak_ptr<TBitmap>(FFrameCopy), &Frame] {
                if (std::shared_ptr<TBitmap> Target = Copy.lock()) Target->Assign(Frame);
            });
        FCanvas->DrawBitmap(Frame);
    }
    if (Step.SetLabel) FTimeLabel->setText(QString::fromStdString(Step.Label));
    if (Step.Finish) {
        // The picture decoded at the end is often the black one past the
        // last frame; snapshots keep the last real picture (for a still
        // picture, the only one).
        if (Step.Decode && !FProbe->LastFrame().Empty()) FFrameCopy->Assign(FProbe->LastFrame());
        if (FProbe) FProbe->CloseFile();
        FState.Stopped = true;
        emit Finished();
    }
}

void TPreviewPlayer::Tick() {
    const bool Rewinding = FRules.RewindAtEnd && FSliderControl->value() == FSliderControl->maximum();
    const TTickStep Step = PreviewTick(FRules, FState, FSliderControl->minimum(), FSliderControl->maximum(),
                                       FSliderControl->value(), FDurationUs);
    for (int Position : Step.Positions) FSliderControl->setValue(Position);
    SyncTimer();
    if (Step.ResetButtons) emit ButtonsReset();
    if (Rewinding) emit Rewound();
}

void TPreviewPlayer::Start() {
    FState.Stopped = false;
    FState.Paused = false;
    FState.TimerOn = true;
    FSliderControl->setEnabled(true);
    SyncTimer();
}

void TPreviewPlayer::Pause() { FState.Paused = true; }

void TPreviewPlayer::Resume() {
    FState.Paused = false;
    FState.TimerOn = true;
    SyncTimer();
}

void TPreviewPlayer::Stop() {
    if (FState.Stopped) return;
    FSliderControl->setValue(0);
    FState.Stopped = true;
    FState.Paused = false;
    FSliderControl->setEnabled(false);
}

TBitmap TPreviewPlayer::CanvasBitmap() const {
    const QImage Image = FCanvas->Canvas().convertToFormat(QImage::Format_BGR888);
    TBitmap Result;
    if (Image.isNull()) return Result;
    Result.SetSize(Image.width(), Image.height());
    const size_t RowBytes = static_cast<size_t>(Image.width()) * 3;
    for (int Row = 0; Row < Image.height(); ++Row)
        std::copy_n(Image.constScanLine(Row), RowBytes, Result.ScanLine(Row));
    return Result;
}

bool TPreviewPlayer::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FCanvas && Event->type() == QEvent::KeyPress) {
        const auto* Key = static_cast<QKeyEvent*>(Event);
        const int Direction = Key->key() == Qt::Key_Left ? -1 : Key->key() == Qt::Key_Right ? 1 : 0;
        if (Direction != 0 && Key->modifiers() == Qt::NoModifier) {
            if (!FSliderControl->isHidden() && FSliderControl->isEnabled())
                FSliderControl->setValue(FSliderControl->value() + Direction * FSliderControl->singleStep());
            return true;
        }
    }
    return QObject::eventFilter(Watched, Event);
}

void TPreviewPlayer::SyncTimer() {
    // The main window's timer runs for the window's whole life.
    if (!FTimer || FRules.StopAtEnd) return;
    if (FState.TimerOn && !FTimer->isActive())
        FTimer->start();
    else if (!FState.TimerOn && FTimer->isActive())
        FTimer->stop();
}
