// The progress dialog of a batch: the frame being encoded, the running
// job's time, length, size, number and output, Pause, Resume, Cancel, a
// snapshot of the frame, and what happens when the batch ends. It owns no
// conversion: the batch writes its displays and its buttons call back.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/PreviewMath.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class TBitmap;
class TPictureView;

// The figures of the running job that the dialog shows.
struct TProgressFigures {
    int Percent = 0;            // of the job, for the bar
    int CurrentMs = 0;          // output time reached
    int TotalMs = 0;            // the job's output length
    int64_t SizeBytes = 0;      // output written so far
    int Job = 0, JobCount = 0;  // the job's index from 0, and the batch's jobs
    std::string Output;         // the job's output path
    std::string Pace;           // speed and time left; empty while unknown
};

// The output name as the dialog shows it: whole up to 50 characters, else
// the first 44, "..", and the extension.
std::string ProgressOutputText(const std::string& Path);

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* Parent = nullptr);
    ~TfrmProgress() override;

    // What the dialog asks of the batch. OnPause, OnResume and OnStop act on
    // all jobs and keep the main window's buttons in step; OnStop is called
    // on every closing. CapturedFrame is the latest picture of the running
    // conversion (null while there is none); SettingsIni holds the snapshot
    // settings.
    std::function<void()> OnPause, OnResume, OnStop;
    // Asked before the dialog closes any other way than by Cancel or by
    // CloseWithoutAsking (the title bar's button, Escape); false keeps it
    // open.
    std::function<bool()> OnCloseQuery;
    // Closes the dialog at once: the batch's own end.
    void CloseWithoutAsking();
    std::function<std::shared_ptr<TBitmap>()> CapturedFrame;
    // How the captured frame is shown: its source's sample aspect and turn.
    std::function<TPictureShape()> CapturedShape;
    std::string SettingsIni;

    // The running job's figures: the bar with the pace after its
    // percentage, "N Second" of time and length, "N kb", "[job/jobs]" and
    // the output path (whole in its tooltip).
    void ShowProgress(const TProgressFigures& Figures);
    // A job has finished: the bar stands at 100.
    void ShowJobFinished();
    // What the bar says after its percentage ("Paused" while the batch
    // stands), until the next figures.
    void ShowPace(const std::string& Pace);
    // What the user chose for the end of the batch.
    bool OpenFolderChosen() const;
    bool ShutDownChosen() const;

    TPictureView* imgPreview = nullptr;
    QLabel *lblTime = nullptr, *lblLength = nullptr, *lblSize = nullptr, *lblProgress = nullptr,
           *lblOutput = nullptr;
    QProgressBar* progbarFile = nullptr;
    QCheckBox *ckShutDown = nullptr, *ckOpen = nullptr;
    QPushButton *btnPause = nullptr, *btnResume = nullptr, *btnCancel = nullptr;
    QTimer* Timer1 = nullptr;

    void Timer1Timer();

    // Every way of closing ends here: the jobs stop, the timer stops.
    void done(int Result) override;

    // The output path as lblOutput draws it: its whole text when that fits,
    // otherwise elided in the middle (the tooltip holds the full path).
    QString OutputShown() const;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    static constexpr int ShownWidth = 420;
    static constexpr int ShownHeight = 460;
    static constexpr int PreviewWidth = 372;
    static constexpr int PreviewHeight = 210;
    // The output path has a line of its own, as wide as the picture.
    static constexpr int OutputLabelWidth = PreviewWidth;

    void FormShow();
    void btnPauseClick();
    void btnResumeClick();
    void btnCancelClick();
    void imgbtnSnapClick();
    QLabel* Caption(const char* Text, int Left, int Top, int Width);

    QToolButton* imgbtnSnap = nullptr;
    bool FClosingOurselves = false;
};
