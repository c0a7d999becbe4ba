// The "Fast preview" group of the main window: Play, Pause, Stop, the
// double click and Enter on the list, the slider, the 500 ms tick and the
// snapshot. The player (widgets/PreviewPlayer.h) does the drawing and the
// arithmetic; this file switches the buttons and keeps the window's Stopped
// and Paused flags, which Clear and the batch start set too, in step with it.

#include <functional>

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "app/Snapshot.h"
#include "gui/FileList.h"
#include "gui/WinMain.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPlayer.h"

namespace {

// Enter or Return on the list plays the selected row.
class TEnterFilter : public QObject {
public:
    TEnterFilter(QObject* Parent, std::function<void()> OnEnter) : QObject(Parent), FOnEnter(std::move(OnEnter)) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::KeyPress) {
            const auto* Key = static_cast<QKeyEvent*>(Event);
            if ((Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter) &&
                (Key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                FOnEnter();
                return true;
            }
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    std::function<void()> FOnEnter;
};

}  // namespace

void TfrmMain::CreatePreview() {
    Preview = new TPreviewPlayer(TPreviewRules::For(pwMain), imgPreview, trcPreview, lblPTS, Timer1, this);
    Preview->SetProbe(&VxAVC.Probe);
    connect(Preview, &TPreviewPlayer::Finished, this, [this] { FStopped = true; });
    connect(Preview, &TPreviewPlayer::ButtonsReset, this, [this] {
        imgbtnPlay->setEnabled(true);
        imgbtnStop->setEnabled(false);
        imgbtnPause->setEnabled(false);
    });
    lvFiles->installEventFilter(new TEnterFilter(this, [this] { PlaySelected(true); }));
}

void TfrmMain::PreviewFlagsIn() {
    Preview->SetStopped(FStopped);
    Preview->SetPaused(FPaused);
}

void TfrmMain::PreviewFlagsOut() {
    FStopped = Preview->Stopped();
    FPaused = Preview->Paused();
}

void TfrmMain::PreviewFile(TAVProbe& Probe) {
    // A still picture ends, and closes its file, within the set-up.
    const QString Info = QString::fromStdString(Probe.GetInfoText());
    Preview->SetProbe(&Probe);
    Preview->SetUp();
    mmoLog->setPlainText(Info);
    // A job's probe goes with its job; later slider moves must not reach it.
    if (&Probe != &VxAVC.Probe) Preview->SetProbe(nullptr);
    PreviewFlagsOut();
}

void TfrmMain::imgbtnPlayClick() { PlaySelected(false); }

void TfrmMain::lvFilesDblClick() { PlaySelected(true); }

void TfrmMain::PlaySelected(bool FromList) {
    PreviewFlagsIn();
    // Paused while stopped only happens after Clear; that Play must open a
    // file rather than resume nothing.
    if (FPaused && !FStopped) {
        Preview->Resume();
        if (!FromList) imgbtnPause->setEnabled(true);
        PreviewFlagsOut();
        return;
    }
    if (FModel->Count() == 0) {
        if (FromList) return;
        btnAddClick();
        if (FModel->Count() == 0) return;
    }
    int Row = SelectedRow();
    if (Row < 0) {
        Row = 0;
        SelectRow(Row);
    }
    const TlvFilesRecord* Record = RowRecord(Row);
    if (!Record) return;

    VxAVC.ClearJobs();
    Preview->SetProbe(&VxAVC.Probe);
    if (VxAVC.Probe.OpenFile(Record->SourceFile)) {
        PreviewFile(VxAVC.Probe);
    } else {
        AppendLog(QString::fromStdString("Cannot preview " + Record->SourceFile + ": " + VxAVC.Probe.LastError()));
    }
    Preview->Start();
    PreviewFlagsOut();
    imgbtnStop->setEnabled(true);
    imgbtnPause->setEnabled(true);
    imgbtnSnap->setEnabled(true);
    imgbtnPlay->setEnabled(false);
    imgPreview1->hide();
}

void TfrmMain::imgbtnPauseClick() {
    PreviewFlagsIn();
    Preview->Pause();
    PreviewFlagsOut();
    imgbtnPlay->setEnabled(true);
    imgbtnStop->setEnabled(true);
    imgbtnSnap->setEnabled(true);
    imgbtnPause->setEnabled(false);
}

void TfrmMain::imgbtnStopClick() {
    if (FStopped) return;
    PreviewFlagsIn();
    Preview->Stop();
    PreviewFlagsOut();
    imgbtnPlay->setEnabled(true);
    imgbtnStop->setEnabled(false);
    imgbtnPause->setEnabled(false);
    imgbtnSnap->setEnabled(false);
    imgPreview1->show();
}

void TfrmMain::trcPreviewChange(int Position) {
    PreviewFlagsIn();
    Preview->SliderChanged(Position);
    PreviewFlagsOut();
}

void TfrmMain::Timer1Timer() {
    PreviewFlagsIn();
    Preview->Tick();
    PreviewFlagsOut();
}

void TfrmMain::imgbtnSnapClick() {
    // Copies: the player keeps drawing while the files are written.
    const TBitmap Full(Preview->FrameCopy());
    const TBitmap Small = Preview->CanvasBitmap();
    const std::vector<std::string> Written = SaveSnapshot(FSettingsIni, Full, Small);
    for (const std::string& Path : Written) AppendLog(QString::fromStdString("Snapshot saved: " + Path));
}
