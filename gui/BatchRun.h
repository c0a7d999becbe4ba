// TBatchRun, the batch conversion run of the main window: Start turns every
// checked row of the file list into a job of the window's converter and
// shows the progress dialog; the converter's events update the dialog and
// the rows' statuses; the end of the batch gives the window back.
//
// The converter raises its events on worker threads. The handlers here only
// record what they need and post it to the window's thread, never waiting
// for it: the window's thread takes the converter's lock in Pause, Resume
// and Stop. Everything else of the run lives on the window's thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/Batch.h"
#include "app/BatchProgress.h"

class QAbstractButton;
class QWidget;
class TAVProbe;
class TBitmap;
class TFilesModel;
class TVxAVConverter;
class TfrmProgress;
struct TBatchShared;

class TBatchRun : public QObject {
    Q_OBJECT
public:
    // The window's buttons that a run switches: the list commands, and the
    // hidden Pause, Resume and Stop that the progress dialog mirrors.
    struct TButtons {
        QAbstractButton *Add, *Remove, *Clear, *Start;
        QAbstractButton *Pause, *Resume, *Stop;
    };

    // Window parents the progress dialog and titles the messages.
    TBatchRun(TVxAVConverter& Converter, TFilesModel& Rows, const TButtons& Buttons, std::string SettingsIni,
              std::string FormatIni, QWidget* Window);
    ~TBatchRun() override;

    // Builds one job per checked row with output profile Profile, starts
    // them and shows the progress dialog. Does nothing while the dialog is
    // open or once the window has closed.
    void Start(int Profile);
    // The window closes: the handlers are detached, the jobs told to stop
    // (each completes its file on its own thread, which the converter waits
    // for), the dialog closed and the captured frame dropped.
    void Close();

    // Jobs of a batch are queued or running: from the start to the end of
    // the batch.
    bool Running() const { return FRunning; }
    // Asks whether to stop the running batch ("Stop converting? The part
    // converted so far is kept."); true for Stop. Ways of closing that
    // would stop the batch ask this first.
    bool ConfirmStop();

    // Created on first use and kept.
    TfrmProgress* ProgressDialog();
    // The list row of each job of the batch, in job order.
    std::vector<int> RowMap() const;
    // Batch jobs hand pictures to the progress dialog (on by default).
    void SetLivePicture(bool On);
    // The progress dialog runs its own loop (the program) or is only opened
    // (tests drive the window's loop themselves).
    void SetModalLoop(bool Loop) { FModalLoop = Loop; }

signals:
    // The jobs are queued and running.
    void Started();
    // The whole batch has ended and the window is usable again.
    void Ended();
    // After the start, the last queued file is open in Probe for the preview.
    void RowOpened(TAVProbe& Probe);
    // Building has finished, jobs queued or not.
    void Built();
    void Log(const QString& Line);
    // The last job finished with "Open the output folder" checked.
    void OpenFolderWanted();

private:
    // The window's hidden Pause, Resume and Stop, which the progress dialog
    // mirrors. After Stop only Add stays usable until the end of the batch
    // arrives.
    void Pause();
    void Resume();
    void Stop();
    // The list commands for an idle window, or the batch commands for a
    // running batch.
    void SetRunning(bool Running);
    void DetachHandlers();
    // Handlers of the converter's events, on the job's thread.
    void VxAVCProgress(int AIndex, int ACurrentDuration, int64_t ACurrentSize, int ATotalOutputDuration);
    void VxAVCTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage);
    static void VxAVCCustomHook(TBatchShared& Shared, TBitmap* ABitmap, bool& AUpdate);
    // Their effects, on the window's thread.
    void ShowProgress(int AIndex, int ACurrentDuration, int64_t ACurrentSize, int ATotalOutputDuration,
                      const std::string& AOutput, int AJobCount);
    void ShowTermination(int AIndex, bool AFinished, bool AException, const std::string& AMessage, int AJobCount,
                         const std::string& AWritten);

    // Builds the jobs and says Built; false when a profile error ended the
    // start.
    bool QueueJobs(int Profile);
    void MarkRowFailed(int Row, const std::string& Reason);
    // A job refused as it started: its file did not open or suits the
    // profile badly.
    void ShowRefusal(int AIndex, TBatchAddResult AKind, const std::string& AReason, int AJobCount);
    // The batch's last job is over: the folder opens or the computer shuts
    // down when chosen and the last file converted.
    void FinishLastJob();
    void PreviewLastFile();
    // The row of job AIndex, or -1.
    int JobRow(int AIndex) const;
    void ShutDownComputer();
    void ReleaseSleepLock();

    TVxAVConverter& FConverter;
    TFilesModel& FRows;
    TButtons FButtons;
    std::string FSettingsIni, FFormatIni;
    QPointer<QWidget> FWindow;
    QPointer<TBatchRun> FSelf;
    // What the worker threads share with this run: the captured frame and
    // the pace of the live picture.
    std::shared_ptr<TBatchShared> FShared;
    QPointer<TfrmProgress> FProgress;
    bool FModalLoop = true;
    bool FClosed = false;
    bool FRunning = false;

    // The batch's jobs (the row map), its counts for the closing
    // notification, the handle that keeps the computer awake while it runs,
    // and the speed and time left for the dialog's bar.
    std::vector<TBatchJob> FJobs;
    int FConverted = 0, FFailed = 0;
    bool FLastConverted = false;  // the last job that was not refused converted its file
    int FSleepLock = -1;
    TBatchProgress FTiming;
};
