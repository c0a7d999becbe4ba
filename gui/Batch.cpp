// The batch conversion run of the main window: Start builds one job per
// checked row, the converter's events update the progress dialog and the
// list, and the end of the batch gives the window back.
#include "gui/Batch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <chrono>

#include "app/Batch.h"
#include "app/ConsoleProgress.h"
#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/IniFile.h"
#include "dialogs/WinProgress.h"
#include "gui/FileList.h"
#include "dialogs/Directory.h"
#include "dialogs/WinPreference.h"
#include "gui/WinMain.h"
#include "widgets/PathText.h"
#include "widgets/Platform.h"

namespace {

// Holds a bitmap's lock for a scope.
class TFrameLock {
public:
    explicit TFrameLock(TBitmap& Bitmap) : FBitmap(Bitmap) { FBitmap.Lock(); }
    ~TFrameLock() { FBitmap.Unlock(); }
    TFrameLock(const TFrameLock&) = delete;
    TFrameLock& operator=(const TFrameLock&) = delete;

private:
    TBitmap& FBitmap;
};

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool TBatchShared::PictureDue() {
    const int64_t Now = NowMs();
    int64_t Last = LastPictureMs.load();
    if (Now - Last < PictureSpacingMs) return false;
    // One thread wins a due picture.
    return LastPictureMs.compare_exchange_strong(Last, Now);
}

std::string ProgressOutputText(const std::string& Path) { return ShortenPath(Path, 50, 44, false); }

std::string BatchEndText(int Converted, int Failed) {
    std::string Text = std::to_string(Converted) + (Converted == 1 ? " file" : " files") + " converted";
    if (Failed > 0) Text += ", " + std::to_string(Failed) + " failed";
    return Text + ".";
}

void TfrmMain::SetUpBatch() {
    FBatch = std::make_shared<TBatchShared>();
    FBatch->SetFrame(std::make_shared<TBitmap>());
    connect(btnPause, &QPushButton::clicked, this, &TfrmMain::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmMain::btnResumeClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmMain::btnStopClick);

    // The handlers run on the job's thread: they read what they need there
    // and post the rest to this window's thread, never waiting for it.
    QPointer<TfrmMain> Self(this);
    std::shared_ptr<TBatchShared> Shared = FBatch;
    VxAVC.OnProgress = [this, Self](int AIndex, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize,
                                    int ATotalOutputDuration) {
        std::string Output;
        int Count = 0;
        try {
            TOutputOptions Options;
            VxAVC.GetOutputOptions(AIndex, Options);
            Output = Options.FileName;
            Count = VxAVC.JobCount();
        } catch (const std::exception&) {
            return;  // the job is gone
        }
        QMetaObject::invokeMethod(
            qApp,
            [Self, AIndex, ACurrentDuration, ACurrentSize, ATotalOutputDuration, Output, Count] {
                if (Self) Self->VxAVCProgress(AIndex, ACurrentDuration, ACurrentSize, ATotalOutputDuration, Output, Count);
            },
            Qt::QueuedConnection);
    };
    VxAVC.OnTerminate = [this, Self](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        const int Count = VxAVC.JobCount();
        QMetaObject::invokeMethod(
            qApp,
            [Self, AIndex, AFinished, AException, AMessage, Count] {
                if (Self) Self->VxAVCTerminate(AIndex, AFinished, AException, AMessage, Count);
            },
            Qt::QueuedConnection);
    };
    // The engine asks first, so pictures that are not due are not even
    // converted to 24-bit colour.
    VxAVC.OnBeforeHook = [Shared](int, int64_t, THookAction& AHookAction) {
        AHookAction = Shared->LivePicture && Shared->PictureDue() ? haContinue : haIgnore;
    };
    VxAVC.OnCustomHook = [Shared](int, TBitmap* ABitmap, int, int64_t, bool& AUpdate, bool&) {
        // The picture goes on to the encoder as it was decoded: passing it
        // back through 24-bit colour would cost time and detail.
        AUpdate = false;
        if (!ABitmap || ABitmap->Width() <= 0 || ABitmap->Height() <= 0) return;
        std::shared_ptr<TBitmap> Frame = Shared->Frame();
        if (!Frame) return;
        TFrameLock Guard(*Frame);
        Frame->Assign(*ABitmap);
    };
}

std::shared_ptr<TBitmap> TfrmMain::CapturedFrame() const { return FBatch ? FBatch->Frame() : nullptr; }

void TfrmMain::SetLivePicture(bool On) {
    if (FBatch) FBatch->LivePicture = On;
}

void TfrmMain::MarkRowFailed(int Row, const std::string& Reason) {
    if (!RowRecord(Row)) return;
    const QString Text = QString::fromStdString(Reason).trimmed();
    ++FBatch->Failed;
    FModel->SetStatus(Row, TRowStatus::Failed(Text.isEmpty() ? "The conversion failed." : Text));
}

TfrmProgress* TfrmMain::ProgressDialog() {
    if (!FProgress) {
        FProgress = new TfrmProgress(this);
        FProgress->OnPause = [this] { btnPauseClick(); };
        FProgress->OnResume = [this] { btnResumeClick(); };
        FProgress->OnStop = [this] { VxAVC.Stop(); };
        std::weak_ptr<TBatchShared> Shared = FBatch;
        FProgress->CapturedFrame = [Shared]() -> std::shared_ptr<TBitmap> {
            auto S = Shared.lock();
            return S ? S->Frame() : nullptr;
        };
    }
    FProgress->SettingsIni = FSettingsIni;
    return FProgress;
}

void TfrmMain::btnStartClick() {
    if (FClosing || (FProgress && FProgress->isVisible())) return;
    VxAVC.SetLogLevel(llInfo);
    TAppSettings Settings(FSettingsIni);
    VxAVC.SetThreadPriority(PriorityFromSetting(Settings.Priority(), VxAVC.ThreadPriority()));

    int Checked = 0;
    for (int Row = 0; Row < FModel->Count(); ++Row)
        if (FModel->Checked(Row)) ++Checked;
    if (Checked == 0) return;

    FQueuedRows.clear();
    FQueuedRows.reserve(static_cast<size_t>(Checked));
    FQueuedOutputs.clear();
    VxAVC.ClearJobs();
    FBatch->Converted = FBatch->Failed = 0;
    if (std::shared_ptr<TBitmap> Frame = FBatch->Frame()) {
        // The dialog shows the background until this batch's first picture.
        TFrameLock Guard(*Frame);
        Frame->SetSize(0, 0);
    }

    const int Profile = cbOutputFormat->currentIndex();
    const std::string Folder = EnsureFolder(FSettingsIni, SettingsKeys::OutputDir);
    const std::string Ext = "." + ProfileFileExt(IniFile(FFormatIni), Profile);
    TBatchBuilder Builder(VxAVC, TProfileFiles{FSettingsIni, FFormatIni}, Profile, Folder, Ext);
    std::shared_ptr<TBatchShared> Shared = FBatch;
    Builder.OnRow = [this, Shared](int, TAVProbe& Probe, TInputOptions&, TOutputOptions& Output) {
        PreviewFile(Probe);
        // Copied streams are not decoded, so they have no pictures to show.
        const bool Pictures = Probe.VideoStreamCount() > 0 && !Output.DisableVideo && Output.VideoCodec != "copy";
        Output.CustomHook = Pictures && Shared->LivePicture;
        Output.BeforeHook = Output.CustomHook;
    };
    try {
        for (int Row = 0; Row < FModel->Count(); ++Row) {
            if (!FModel->Checked(Row)) continue;
            FModel->SetStatus(Row, {});
            const std::string Path = RowRecord(Row)->SourceFile;
            VxAVC.LastError.clear();
            const TBatchAddResult Result = Builder.Add(Row, Path, *RowRecord(Row));
            if (Result == baAdded) {
                FQueuedRows.push_back(Row);
                FQueuedOutputs.push_back(Builder.LastOutput());
                AppendLog(QString::fromStdString(VxAVC.LastError));
            } else if (Result == baNotSuitable) {
                MarkRowFailed(Row, Builder.Reason());
                AppendLog(QString::fromStdString("***" + Path + ": " + Builder.Reason()));
            } else {
                // The other files are still converted; this row says why
                // it was not.
                MarkRowFailed(Row, Builder.Reason());
                AppendLog(QString::fromStdString("***File open error: " + Builder.Reason()));
            }
        }
    } catch (const std::exception& E) {
        // A profile value that is not a number: nothing of this batch runs.
        VxAVC.ClearJobs();
        FQueuedRows.clear();
        FStopped = true;
        PreviewFlagsIn();
        ShowException(E, windowTitle().toStdString());
        return;
    }
    FStopped = true;
    PreviewFlagsIn();
    if (FQueuedRows.empty()) return;

    btnAdd->setEnabled(false);
    btnRemove->setEnabled(false);
    btnClear->setEnabled(false);
    btnStart->setEnabled(false);
    btnStop->setEnabled(true);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    if (FBatch->SleepLock < 0) FBatch->SleepLock = Platform().InhibitSleep("Converting files");
    // Until a job reports its own length, the list's trimmed length stands in.
    std::vector<int64_t> Totals;
    for (int Row : FQueuedRows) {
        const TlvFilesRecord* R = RowRecord(Row);
        Totals.push_back(!R ? 0 : R->TrimLength > 0 ? R->TrimLength : int64_t(R->Duration) * 1000 - R->TrimStart);
    }
    FBatch->Timing.Start(std::move(Totals), std::chrono::steady_clock::now());
    VxAVC.Start(TfrmPreference::StoredJobs(FSettingsIni));

    TfrmProgress* Dialog = ProgressDialog();
    if (FProgressLoop)
        Dialog->exec();
    else
        Dialog->open();
}

void TfrmMain::VxAVCProgress(int AIndex, int ACurrentDuration, int64_t ACurrentSize, int ATotalOutputDuration,
                             const std::string& AOutput, int AJobCount) {
    const int Percent = std::max(ProgressPercent(ACurrentDuration, ATotalOutputDuration), 0);
    if (AIndex >= 0 && AIndex < static_cast<int>(FQueuedRows.size()))
        FModel->SetStatus(FQueuedRows[static_cast<size_t>(AIndex)], TRowStatus::Converting(Percent));
    if (!FProgress) return;
    FProgress->progbarFile->setValue(Percent);
    TBatchProgress& Timing = FBatch->Timing;
    Timing.Report(AIndex, ACurrentDuration, ATotalOutputDuration, std::chrono::steady_clock::now());
    const std::string Pace = BatchProgressText(Timing.Speed(AIndex), Timing.JobLeftMs(AIndex), Timing.BatchLeftMs());
    FProgress->progbarFile->setFormat(Pace.empty() ? "%p%" : "%p%   " + QString::fromStdString(Pace));
    FProgress->lblTime->setText(QString("%1 Second").arg(ACurrentDuration / 1000));
    FProgress->lblLength->setText(QString("%1 Second").arg(ATotalOutputDuration / 1000));
    FProgress->lblSize->setText(QString("%1 kb").arg(ACurrentSize / 1000));
    FProgress->lblProgress->setText(QString("[%1/%2]").arg(AIndex + 1).arg(AJobCount));
    FProgress->lblOutput->setText(QString::fromStdString(ProgressOutputText(AOutput)));
    // The label is narrower than some names of 50 characters.
    FProgress->lblOutput->setToolTip(QString::fromStdString(AOutput));
}

void TfrmMain::VxAVCTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage,
                              int AJobCount) {
    if (AIndex < 0) {
        btnAdd->setEnabled(true);
        btnRemove->setEnabled(true);
        btnClear->setEnabled(true);
        btnStart->setEnabled(true);
        btnStop->setEnabled(false);
        btnPause->setEnabled(false);
        btnResume->setEnabled(false);
        VxAVC.ClearJobs();
        // Asked before the dialog closes: while one of the program's windows
        // has the focus, the user is watching.
        const bool Watching = QApplication::activeWindow() != nullptr;
        if (FProgress && FProgress->isVisible()) FProgress->close();
        ReleaseSleepLock();
        // Someone who turned to other work learns that the batch is over.
        if (!Watching) Platform().Notify("Conversion finished", BatchEndText(FBatch->Converted, FBatch->Failed));
        emit BatchEnded();
        return;
    }
    const int Row = AIndex < static_cast<int>(FQueuedRows.size()) ? FQueuedRows[static_cast<size_t>(AIndex)] : -1;
    if (AException) {
        if (Row >= 0) MarkRowFailed(Row, AMessage);
    } else if (AFinished) {
        ++FBatch->Converted;
        FBatch->Timing.Finished(AIndex, std::chrono::steady_clock::now());
        if (Row >= 0) FModel->SetStatus(Row, TRowStatus::Done(FQueuedOutputs[static_cast<size_t>(AIndex)]));
        if (FProgress) FProgress->progbarFile->setValue(100);
        if (AIndex + 1 == AJobCount && FProgress) {
            if (FProgress->ckOpen->isChecked()) btnOpenClick();
            if (FProgress->ckShutDown->isChecked()) ShutDownComputer();
        }
    }
    if (AException) ShowMessageBox(windowTitle().toStdString(), AMessage, TMessageKind::Warning);
}

void TfrmMain::btnPauseClick() {
    btnPause->setEnabled(false);
    btnResume->setEnabled(true);
    FBatch->Timing.Pause(std::chrono::steady_clock::now());
    VxAVC.Pause();
}

void TfrmMain::btnResumeClick() {
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    FBatch->Timing.Resume(std::chrono::steady_clock::now());
    VxAVC.Resume();
}

void TfrmMain::btnStopClick() {
    btnStop->setEnabled(false);
    btnAdd->setEnabled(true);
    btnRemove->setEnabled(false);
    btnClear->setEnabled(false);
    btnStart->setEnabled(false);
    btnPause->setEnabled(false);
    btnResume->setEnabled(false);
    VxAVC.Stop();
}

void TfrmMain::ShutDownComputer() {
    if (!Platform().PowerOff()) AppendLog("The computer could not be shut down.");
}

void TfrmMain::CloseBatch() {
    // The handlers are detached and the jobs told to stop: each output is
    // completed by its own thread, which the component waits for.
    if (FProgress && FProgress->isVisible()) FProgress->close();
    ReleaseSleepLock();
    if (FBatch) FBatch->SetFrame(nullptr);
}

void TfrmMain::ReleaseSleepLock() {
    if (!FBatch || FBatch->SleepLock < 0) return;
    Platform().ReleaseSleep(FBatch->SleepLock);
    FBatch->SleepLock = -1;
}
