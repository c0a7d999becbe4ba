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

#include "app/GlobalUnit.h"
#include "app/Snapshot.h"
#include "common/Files.h"
#include "gui/FileList.h"
#include "gui/WinMain.h"
#include "widgets/PictureView.h"
#include "widgets/Platform.h"
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
    FPreview = new TPreviewPlayer(TPreviewRules::For(pwMain), imgPreview, trcPreview, lblPTS, Timer1, this);
    FPreview->SetProbe(&VxAVC.Probe);
    connect(FPreview, &TPreviewPlayer::Finished, this, [this] { FStopped = true; });
    connect(FPreview, &TPreviewPlayer::ButtonsReset, this, [this] {
        imgbtnPlay->setEnabled(true);
        imgbtnStop->setEnabled(false);
        imgbtnPause->setEnabled(false);
    });
    lvFiles->installEventFilter(new TEnterFilter(this, [this] { PlaySelected(true); }));
}

void TfrmMain::PreviewFlagsIn() {
    FPreview->SetStopped(FStopped);
    FPreview->SetPaused(FPaused);
}

void TfrmMain::PreviewFlagsOut() {
    FStopped = FPreview->Stopped();
    FPaused = FPreview->Paused();
}

void TfrmMain::PreviewFile(TAVProbe& Probe) {
    // A still picture ends, and closes its file, within the set-up.
    const QString Info = QString::fromStdString(Probe.GetInfoText());
    FPreview->SetProbe(&Probe);
    FPreview->SetUp();
    mmoLog->setPlainText(Info);
    // A job's probe goes with its job; later slider moves must not reach it.
    if (&Probe != &VxAVC.Probe) FPreview->SetProbe(nullptr);
    PreviewFlagsOut();
}

void TfrmMain::imgbtnPlayClick() { PlaySelected(false); }

void TfrmMain::lvFilesDblClick() { PlaySelected(true); }

void TfrmMain::PlaySelected(bool FromList) {
    PreviewFlagsIn();
    // Paused while stopped only happens after Clear; that Play must open a
    // file rather than resume nothing.
    if (FPaused && !FStopped) {
        FPreview->Resume();
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
    FPreview->SetProbe(&VxAVC.Probe);
    if (VxAVC.Probe.OpenFile(Record->SourceFile)) {
        PreviewFile(VxAVC.Probe);
    } else {
        AppendLog(QString::fromStdString("Cannot preview " + Record->SourceFile + ": " + VxAVC.Probe.LastError()));
    }
    FPreview->Start();
    PreviewFlagsOut();
    imgbtnStop->setEnabled(true);
    imgbtnPause->setEnabled(true);
    imgbtnSnap->setEnabled(true);
    imgbtnPlay->setEnabled(false);
    imgPreview1->hide();
}

void TfrmMain::imgbtnPauseClick() {
    PreviewFlagsIn();
    FPreview->Pause();
    PreviewFlagsOut();
    imgbtnPlay->setEnabled(true);
    imgbtnStop->setEnabled(true);
    imgbtnSnap->setEnabled(true);
    imgbtnPause->setEnabled(false);
}

void TfrmMain::imgbtnStopClick() {
    if (FStopped) return;
    PreviewFlagsIn();
    FPreview->Stop();
    PreviewFlagsOut();
    imgbtnPlay->setEnabled(true);
    imgbtnStop->setEnabled(false);
    imgbtnPause->setEnabled(false);
    imgbtnSnap->setEnabled(false);
    imgPreview1->show();
}

void TfrmMain::trcPreviewChange(int Position) {
    PreviewFlagsIn();
    FPreview->SliderChanged(Position);
    PreviewFlagsOut();
}

void TfrmMain::Timer1Timer() {
    PreviewFlagsIn();
    FPreview->Tick();
    PreviewFlagsOut();
}

void TfrmMain::imgbtnSnapClick() {
    // Copies: the player keeps drawing while the files are written.
    const TBitmap Full(FPreview->FrameCopy());
    const TBitmap Small = FPreview->CanvasBitmap();
    const std::vector<std::string> Written = SaveSnapshot(FSettingsIni, Full, Small);
    for (const std::string& Path : Written) AppendLog(QString::fromStdString("Snapshot saved: " + Path));
    if (Written.empty()) return;
    // The line under the list tells where the pictures went; a click opens
    // that folder.
    const QString Folder = QString::fromStdString(ExtractFilePath(Written.front()));
    const QString Name = QString::fromStdString(ExtractFileName(Written.front()));
    const QString More = Written.size() > 1 ? QString(" and %1 more").arg(Written.size() - 1) : QString();
    SetStatusAction(QString::fromUtf8("%1%2 saved in %3 \u2014 click to open the folder").arg(Name, More, Folder),
                    "Open " + Folder, [Folder] {
                        if (!Platform().OpenFolder(Folder.toStdString()))
                            ShowMessageBox("Warning", "Cannot open the folder " + Folder.toStdString() + ".",
                                           TMessageKind::Warning);
                    });
}
