#include "gui/BatchRun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include "app/ConsoleProgress.h"
#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/Bitmap.h"
#include "common/IniFile.h"
#include "component/VxAVConverter.h"
#include "dialogs/WinPreference.h"
#include "engine/OutputTarget.h"
#include "dialogs/WinProgress.h"
#include "gui/FileList.h"
#include "widgets/BitmapLock.h"
#include "widgets/Platform.h"
#include "widgets/PreviewPlayer.h"

// What the converter's worker threads share with the run: the captured
// frame and the pace of the live picture.
struct TBatchShared {
    // At most this many pictures a second reach the dialog.
    static constexpr int64_t PictureSpacingMs = 100;

    // The captured frame; the pointer is guarded by FrameLock, the pixels
    // by the bitmap's own lock. Null once the window has closed.
    std::shared_ptr<TBitmap> Frame() {
        std::lock_guard<std::mutex> Guard(FrameLock);
        return FFrame;
    }
    void SetFrame(std::shared_ptr<TBitmap> Value) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FFrame = std::move(Value);
    }
    // True when a picture is due now; the caller then hands one over.
    bool PictureDue();
    // How each job's pictures are shown: the list row of each job, set
    // before the jobs start, and each row's shape, learnt as its job
    // starts. The captured frame takes the shape of the job it came from.
    void SetJobRows(std::vector<int> Rows) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FJobRows = std::move(Rows);
        FShapes.clear();
        FFrameShape = TPictureShape{};
    }
    void SetShape(int Row, TPictureShape Shape) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FShapes[Row] = Shape;
    }
    void TakeShapeOf(int Job) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FFrameShape = TPictureShape{};
        if (Job < 0 || Job >= static_cast<int>(FJobRows.size())) return;
        if (auto Shape = FShapes.find(FJobRows[size_t(Job)]); Shape != FShapes.end()) FFrameShape = Shape->second;
    }
    TPictureShape FrameShape() {
        std::lock_guard<std::mutex> Guard(FrameLock);
        return FFrameShape;
    }

    std::atomic<bool> LivePicture{true};
    std::atomic<int64_t> LastPictureMs{INT64_MIN / 2};

    // The builder of the current batch, which knows why a job was refused
    // as it started.
    std::shared_ptr<TBatchBuilder> Builder() {
        std::lock_guard<std::mutex> Guard(FrameLock);
        return FBuilder;
    }
    void SetBuilder(std::shared_ptr<TBatchBuilder> Value) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FBuilder = std::move(Value);
    }

private:
    std::mutex FrameLock;
    std::shared_ptr<TBitmap> FFrame;
    std::shared_ptr<TBatchBuilder> FBuilder;
    std::vector<int> FJobRows;
    std::unordered_map<int, TPictureShape> FShapes;  // by row
    TPictureShape FFrameShape;
};

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The body of the notification at the end of a batch: "3 files converted.",
// "2 files converted, 1 failed."
std::string BatchEndText(int Converted, int Failed) {
    std::string Text = std::to_string(Converted) + (Converted == 1 ? " file" : " files") + " converted";
    if (Failed > 0) Text += ", " + std::to_string(Failed) + " failed";
    return Text + ".";
}

}  // namespace

bool TBatchShared::PictureDue() {
    const int64_t Now = NowMs();
    int64_t Last = LastPictureMs.load();
    if (Now - Last < PictureSpacingMs) return false;
    // One thread wins a due picture.
    return LastPictureMs.compare_exchange_strong(Last, Now);
}

TBatchRun::TBatchRun(TVxAVConverter& Converter, TFilesModel& Rows, const TButtons& Buttons, std::string SettingsIni,
                     std::string FormatIni, QWidget* Window)
    : FConverter(Converter), FRows(Rows), FButtons(Buttons), FSettingsIni(std::move(SettingsIni)),
      FFormatIni(std::move(FormatIni)), FWindow(Window), FSelf(this), FShared(std::make_shared<TBatchShared>()) {
    FShared->SetFrame(std::make_shared<TBitmap>());
    connect(FButtons.Pause, &QAbstractButton::clicked, this, &TBatchRun::Pause);
    connect(FButtons.Resume, &QAbstractButton::clicked, this, &TBatchRun::Resume);
    connect(FButtons.Stop, &QAbstractButton::clicked, this, &TBatchRun::Stop);

    FConverter.OnProgress = [this](int AIndex, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize,
                                   int ATotalOutputDuration) {
        VxAVCProgress(AIndex, ACurrentDuration, ACurrentSize, ATotalOutputDuration);
    };
    FConverter.OnTerminate = [this](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        VxAVCTerminate(AIndex, AFinished, AException, AMessage);
    };
    // The engine asks first, so pictures that are not due are not even
    // converted to 24-bit colour.
    std::shared_ptr<TBatchShared> Shared = FShared;
    FConverter.OnBeforeHook = [Shared](int, int64_t, THookAction& AHookAction) {
        AHookAction = Shared->LivePicture && Shared->PictureDue() ? haContinue : haIgnore;
    };
    FConverter.OnCustomHook = [Shared](int AIndex, TBitmap* ABitmap, int, int64_t, bool& AUpdate, bool&) {
        // The picture and its shape change together: the dialog reads both
        // under the picture's lock.
        std::shared_ptr<TBitmap> Frame = Shared->Frame();
        if (!Frame) return;
        TBitmapLock Guard(*Frame);
        Shared->TakeShapeOf(AIndex);
        VxAVCCustomHook(*Shared, ABitmap, AUpdate);
    };
}

TBatchRun::~TBatchRun() {
    // A window destroyed without its close query must not leave events
    // aimed at this run.
    DetachHandlers();
    if (FProgress) {
        FProgress->OnPause = FProgress->OnResume = FProgress->OnStop = nullptr;
        FProgress->CapturedFrame = nullptr;
        FProgress->CapturedShape = nullptr;
    }
    ReleaseSleepLock();
}

void TBatchRun::DetachHandlers() {
    FConverter.OnProgress = nullptr;
    FConverter.OnTerminate = nullptr;
    FConverter.OnBeforeHook = nullptr;
    FConverter.OnCustomHook = nullptr;
}

void TBatchRun::VxAVCProgress(int AIndex, int ACurrentDuration, int64_t ACurrentSize, int ATotalOutputDuration) {
    std::string Output;
    int Count = 0;
    try {
        TOutputOptions Options;
        FConverter.GetOutputOptions(AIndex, Options);
        Output = Options.FileName;
        Count = FConverter.JobCount();
    } catch (const std::exception&) {
        return;  // the job is gone
    }
    QMetaObject::invokeMethod(
        qApp,
        [Self = FSelf, AIndex, ACurrentDuration, ACurrentSize, ATotalOutputDuration, Output, Count] {
            if (Self) Self->ShowProgress(AIndex, ACurrentDuration, ACurrentSize, ATotalOutputDuration, Output, Count);
        },
        Qt::QueuedConnection);
}

void TBatchRun::VxAVCTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    const int Count = FConverter.JobCount();
    // A file that did not open or suits the profile badly is found out as
    // its job starts; the row says so as it did when files were opened at
    // the start of the batch.
    std::string Reason;
    const std::shared_ptr<TBatchBuilder> Builder = FShared->Builder();
    const TBatchAddResult Refused = Builder && AIndex >= 0 ? Builder->Refusal(AIndex, &Reason) : baAdded;
    // The name the file was really given; a run in the same folder may
    // have taken the planned one meanwhile.
    std::string Written;
    if (AIndex >= 0) {
        try {
            TOutputOptions Options;
            FConverter.GetOutputOptions(AIndex, Options);
            Written = Options.FileName;
        } catch (const std::exception&) {
        }
    }
    QMetaObject::invokeMethod(
        qApp,
        [Self = FSelf, AIndex, AFinished, AException, AMessage, Count, Written, Refused, Reason] {
            if (!Self) return;
            if (Refused != baAdded)
                Self->ShowRefusal(AIndex, Refused, Reason, Count);
            else
                Self->ShowTermination(AIndex, AFinished, AException, AMessage, Count, Written);
        },
        Qt::QueuedConnection);
}

void TBatchRun::VxAVCCustomHook(TBatchShared& Shared, TBitmap* ABitmap, bool& AUpdate) {
    // The picture goes on to the encoder as it was decoded: passing it back
    // through 24-bit colour would cost time and detail.
    AUpdate = false;
    if (!ABitmap || ABitmap->Width() <= 0 || ABitmap->Height() <= 0) return;
    std::shared_ptr<TBitmap> Frame = Shared.Frame();
    if (!Frame) return;
    TBitmapLock Guard(*Frame);
    Frame->Assign(*ABitmap);
}

void TBatchRun::SetLivePicture(bool On) { FShared->LivePicture = On; }

std::vector<int> TBatchRun::RowMap() const {
    std::vector<int> Rows;
    for (const TBatchJob& Job : FJobs) Rows.push_back(Job.Row);
    return Rows;
}

int TBatchRun::JobRow(int AIndex) const {
    return AIndex >= 0 && AIndex < static_cast<int>(FJobs.size()) ? FJobs[static_cast<size_t>(AIndex)].Row : -1;
}

void TBatchRun::SetRunning(bool Running) {
    for (QAbstractButton* B : {FButtons.Add, FButtons.Remove, FButtons.Clear, FButtons.Start})
        B->setEnabled(!Running);
    FButtons.Stop->setEnabled(Running);
    FButtons.Pause->setEnabled(Running);
    FButtons.Resume->setEnabled(false);
}

void TBatchRun::MarkRowFailed(int Row, const std::string& Reason) {
    if (!FRows.Record(Row)) return;
    const QString Text = QString::fromStdString(Reason).trimmed();
    ++FFailed;
    FRows.SetStatus(Row, TRowStatus::Failed(Text.isEmpty() ? "The conversion failed." : Text));
}

TfrmProgress* TBatchRun::ProgressDialog() {
    if (!FProgress) {
        FProgress = new TfrmProgress(FWindow);
        FProgress->OnPause = [this] { Pause(); };
        FProgress->OnResume = [this] { Resume(); };
        FProgress->OnStop = [this] { FConverter.Stop(); };
        // Closing the dialog any other way than Cancel stops a batch only
        // when the user says so.
        FProgress->OnCloseQuery = [this] { return !FRunning || ConfirmStop(); };
        std::weak_ptr<TBatchShared> Shared = FShared;
        FProgress->CapturedFrame = [Shared]() -> std::shared_ptr<TBitmap> {
            auto S = Shared.lock();
            return S ? S->Frame() : nullptr;
        };
        FProgress->CapturedShape = [Shared]() -> TPictureShape {
            auto S = Shared.lock();
            return S ? S->FrameShape() : TPictureShape{};
        };
    }
    FProgress->SettingsIni = FSettingsIni;
    return FProgress;
}

bool TBatchRun::ConfirmStop() {
    const std::string Title = FWindow ? FWindow->windowTitle().toStdString() : std::string();
    enum { Stop, GoOn };
    return AskQuestion(Title, "Stop converting? The part converted so far is kept.", {"Stop", "Continue"}, GoOn,
                       GoOn) == Stop;
}

void TBatchRun::Start(int Profile) {
    if (FClosed || (FProgress && FProgress->isVisible())) return;
    FConverter.SetLogLevel(llInfo);
    TAppSettings Settings(FSettingsIni);
    FConverter.SetThreadPriority(PriorityFromSetting(Settings.Priority(), FConverter.ThreadPriority()));

    int Checked = 0;
    for (int Row = 0; Row < FRows.Count(); ++Row)
        if (FRows.Checked(Row)) ++Checked;
    if (Checked == 0) return;

    FJobs.clear();
    FJobs.reserve(static_cast<size_t>(Checked));
    FConverter.ClearJobs();
    FConverted = FFailed = 0;
    FRunning = false;
    if (std::shared_ptr<TBitmap> Frame = FShared->Frame()) {
        // The dialog shows the background until this batch's first picture.
        TBitmapLock Guard(*Frame);
        Frame->SetSize(0, 0);
    }
    if (!QueueJobs(Profile) || FJobs.empty()) return;

    SetRunning(true);
    FRunning = true;
    if (FSleepLock < 0) FSleepLock = Platform().InhibitSleep("Converting files");
    // Until a job reports its own length, the list's trimmed length stands in.
    std::vector<int64_t> Totals;
    for (const TBatchJob& Job : FJobs) {
        const TlvFilesRecord* R = FRows.Record(Job.Row);
        Totals.push_back(!R ? 0 : R->TrimLength > 0 ? R->TrimLength : int64_t(R->Duration) * 1000 - R->TrimStart);
    }
    FTiming.Start(std::move(Totals), std::chrono::steady_clock::now());
    FConverter.Start(TfrmPreference::StoredJobs(FSettingsIni));
    emit Started();
    PreviewLastFile();

    TfrmProgress* Dialog = ProgressDialog();
    if (FModalLoop)
        Dialog->exec();
    else
        Dialog->open();
}

bool TBatchRun::QueueJobs(int Profile) {
    const std::string Folder = EnsureFolder(FSettingsIni, SettingsKeys::OutputDir);
    const std::string Ext = "." + ProfileFileExt(IniFile(FFormatIni), Profile);
    auto Builder =
        std::make_shared<TBatchBuilder>(FConverter, TProfileFiles{FSettingsIni, FFormatIni}, Profile, Folder, Ext);
    // On the job's thread as it starts. The shared state holds the builder
    // until the batch ends, so the handler holds it weakly.
    std::weak_ptr<TBatchShared> Weak = FShared;
    Builder->OnRow = [Weak](int Row, TAVProbe& Probe, TInputOptions&, TOutputOptions& Output) {
        const std::shared_ptr<TBatchShared> Shared = Weak.lock();
        if (!Shared) return;
        if (Probe.VideoStreamCount() > 0) Shared->SetShape(Row, ShapeOf(Probe, Probe.FirstVideoStream()));
        // Copied streams are not decoded, so they have no pictures to show.
        const bool Pictures = Probe.VideoStreamCount() > 0 && !Output.DisableVideo && Output.VideoCodec != "copy";
        Output.CustomHook = Pictures && Shared->LivePicture;
        Output.BeforeHook = Output.CustomHook;
    };
    FLastConverted = false;
    try {
        if (const std::string Warning = ProfileSettings(FSettingsIni, Profile).Warning; !Warning.empty())
            emit Log(QString::fromStdString("***" + Warning));
        for (int Row = 0; Row < FRows.Count(); ++Row) {
            if (!FRows.Checked(Row)) continue;
            FRows.SetStatus(Row, TRowStatus());
            const TlvFilesRecord& Record = *FRows.Record(Row);
            if (Builder->Add(Row, Record.SourceFile, Record) == baAdded) {
                // The column shows the name this file is written under.
                FRows.SetDestination(Row, Builder->LastOutput());
            } else {
                MarkRowFailed(Row, Builder->Reason());
                emit Log(QString::fromStdString("***File open error: " + Builder->Reason()));
            }
        }
    } catch (const std::exception& E) {
        // A profile value that is not a number: nothing of this batch runs.
        FConverter.ClearJobs();
        FJobs.clear();
        emit Built();
        ShowException(E, FWindow ? FWindow->windowTitle().toStdString() : std::string());
        return false;
    }
    FJobs = Builder->Jobs();
    std::vector<int> Rows;
    for (const TBatchJob& Job : FJobs) {
        if (Job.Job < 0) continue;
        if (Job.Job >= static_cast<int>(Rows.size())) Rows.resize(size_t(Job.Job) + 1, -1);
        Rows[size_t(Job.Job)] = Job.Row;
    }
    FShared->SetJobRows(std::move(Rows));
    FShared->SetBuilder(std::move(Builder));
    emit Built();
    return true;
}

void TBatchRun::PreviewLastFile() {
    // The files are opened as their jobs start; the preview shows the last
    // one, as it did when every file was opened here in turn.
    if (FJobs.empty()) return;
    TAVProbe& Probe = FConverter.Probe;
    if (!Probe.OpenFile(FJobs.back().Input)) return;
    emit RowOpened(Probe);
    Probe.CloseFile();
}

void TBatchRun::ShowRefusal(int AIndex, TBatchAddResult AKind, const std::string& AReason, int AJobCount) {
    const int Row = JobRow(AIndex);
    const TlvFilesRecord* Record = FRows.Record(Row);
    if (Row >= 0) MarkRowFailed(Row, AReason);
    if (AKind == baNotSuitable && Record)
        emit Log(QString::fromStdString("***" + Record->SourceFile + ": " + AReason));
    else
        emit Log(QString::fromStdString("***File open error: " + AReason));
    // The last file converted before a refused last one is the batch's last.
    if (AIndex + 1 == AJobCount) FinishLastJob();
}

void TBatchRun::FinishLastJob() {
    if (!FLastConverted || !FProgress) return;
    if (FProgress->OpenFolderChosen()) emit OpenFolderWanted();
    if (FProgress->ShutDownChosen()) ShutDownComputer();
}

void TBatchRun::ShowProgress(int AIndex, int ACurrentDuration, int64_t ACurrentSize, int ATotalOutputDuration,
                             const std::string& AOutput, int AJobCount) {
    const int Percent = std::max(ProgressPercent(ACurrentDuration, ATotalOutputDuration), 0);
    FRows.SetStatus(JobRow(AIndex), TRowStatus::Converting(Percent));
    if (!FProgress) return;
    FTiming.Report(AIndex, ACurrentDuration, ATotalOutputDuration, std::chrono::steady_clock::now());
    FProgress->ShowProgress({
        .Percent = Percent,
        .CurrentMs = ACurrentDuration,
        .TotalMs = ATotalOutputDuration,
        .SizeBytes = ACurrentSize,
        .Job = AIndex,
        .JobCount = AJobCount,
        .Output = AOutput,
        .Pace = FTiming.PaceText(),
    });
}

void TBatchRun::ShowTermination(int AIndex, bool AFinished, bool AException, const std::string& AMessage,
                                int AJobCount, const std::string& AWritten) {
    if (AIndex < 0) {
        FRunning = false;
        SetRunning(false);
        FConverter.ClearJobs();
        FShared->SetBuilder(nullptr);
        // Asked before the dialog closes: while one of the program's windows
        // has the focus, the user is watching.
        const bool Watching = QApplication::activeWindow() != nullptr;
        if (FProgress && FProgress->isVisible()) FProgress->CloseWithoutAsking();
        ReleaseSleepLock();
        // Someone who turned to other work learns that the batch is over.
        if (!Watching) Platform().Notify("Conversion finished", BatchEndText(FConverted, FFailed));
        emit Ended();
        return;
    }
    const int Row = JobRow(AIndex);
    if (!AWritten.empty() && AIndex < static_cast<int>(FJobs.size())) {
        FJobs[static_cast<size_t>(AIndex)].Output = AWritten;
        if (Row >= 0 && !AException && OutputNameTaken(AWritten)) FRows.SetDestination(Row, AWritten);
    }
    FLastConverted = AFinished && !AException;
    if (AException) {
        if (Row >= 0) MarkRowFailed(Row, AMessage);
    } else if (AFinished) {
        ++FConverted;
        FTiming.Finished(AIndex, std::chrono::steady_clock::now());
        if (Row >= 0) FRows.SetStatus(Row, TRowStatus::Done(FJobs[static_cast<size_t>(AIndex)].Output));
        if (FProgress) FProgress->ShowJobFinished();
        if (AIndex + 1 == AJobCount) FinishLastJob();
    }
    if (AException)
        ShowMessageBox(FWindow ? FWindow->windowTitle().toStdString() : std::string(), AMessage,
                       TMessageKind::Warning);
}

void TBatchRun::Pause() {
    FButtons.Pause->setEnabled(false);
    FButtons.Resume->setEnabled(true);
    FTiming.Pause(std::chrono::steady_clock::now());
    FConverter.Pause();
    // No report comes while the jobs stand: the bar says so now.
    if (FProgress) FProgress->ShowPace(FTiming.PaceText());
}

void TBatchRun::Resume() {
    FButtons.Pause->setEnabled(true);
    FButtons.Resume->setEnabled(false);
    FTiming.Resume(std::chrono::steady_clock::now());
    FConverter.Resume();
    if (FProgress) FProgress->ShowPace(FTiming.PaceText());
}

void TBatchRun::Stop() {
    SetRunning(false);
    for (QAbstractButton* B : {FButtons.Remove, FButtons.Clear, FButtons.Start}) B->setEnabled(false);
    FConverter.Stop();
}

void TBatchRun::ShutDownComputer() {
    if (!Platform().PowerOff()) emit Log("The computer could not be shut down.");
}

void TBatchRun::Close() {
    FClosed = true;
    FRunning = false;
    DetachHandlers();
    FConverter.Stop();
    if (FProgress && FProgress->isVisible()) FProgress->CloseWithoutAsking();
    ReleaseSleepLock();
    FShared->SetFrame(nullptr);
    FJobs.clear();
}

void TBatchRun::ReleaseSleepLock() {
    if (FSleepLock < 0) return;
    Platform().ReleaseSleep(FSleepLock);
    FSleepLock = -1;
}
