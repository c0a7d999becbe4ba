// TPlayerDialog, what the trim and crop dialogs share: a preview player on
// the selected row's file, with its picture, slider, time and length
// labels, Play and Pause, the 500 ms timer and the converter whose probe
// feeds it. Each dialog adds its own controls and its opening.
#pragma once

#include <QDialog>

#include "app/FilesRecord.h"
#include "app/PreviewMath.h"
#include "component/VxAVConverter.h"

class QLabel;
class QSlider;
class QTimer;
class QToolButton;
class TPictureView;
class TPreviewPlayer;

class TPlayerDialog : public QDialog {
    Q_OBJECT
public:
    ~TPlayerDialog() override;

    TPreviewPlayer* Player() const { return FPlayer; }

    TPictureView* imgPreview = nullptr;
    QSlider* trcPreview = nullptr;
    QLabel *lblLength = nullptr, *lblSourceName = nullptr;
    QToolButton *imgbtnPlay = nullptr, *imgbtnpause = nullptr;
    QTimer* Timer1 = nullptr;
    TVxAVConverter VxAVC;

    void Timer1Timer();
    void imgbtnPlayClick();
    void imgbtnpauseClick();

public slots:
    // Every way of closing passes the close query.
    void done(int Result) override;

protected:
    static constexpr int ShownWidth = 615;
    static constexpr int ShownHeight = 435;

    // Window picks the player's rules; TimeCaption and SourceCaption are the
    // captions of the time label and of the source path.
    TPlayerDialog(TPreviewWindow Window, const char* TimeCaption, const char* SourceCaption, QWidget* Parent);

    void showEvent(QShowEvent* Event) override;
    // The opening of each dialog.
    virtual void FormShow() = 0;
    void FormCloseQuery();
    void trcPreviewChange(int Position);

    // The start of every opening: the size, the theme, the labels cleared.
    void BeginShow();
    // The row's source path and, when the file opened, its length.
    void ShowSource(bool Opened);
    // Empties the job list, adds and opens the source; true with a preview.
    bool OpenSource();
    // Says why the source did not open, once the dialog shows.
    void ReportOpenFailure();
    // The timer stays off until Play.
    void StopTimer();

    QLabel* lblPTS = nullptr;
    TPreviewPlayer* FPlayer = nullptr;
    TlvFilesRecord* FRecord = nullptr;
};
