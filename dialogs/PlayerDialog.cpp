#include "dialogs/PlayerDialog.h"

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "app/GlobalUnit.h"
#include "dialogs/FormControls.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PathText.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPlayer.h"
#include "widgets/Theme.h"

namespace {

// Source paths up to this length are shown whole.
constexpr size_t SourceWhole = 50;
constexpr size_t SourceKeep = 44;
constexpr int SourceLabelWidth = 290;

}  // namespace

TPlayerDialog::TPlayerDialog(TPreviewWindow Window, const char* TimeCaption, const char* SourceCaption,
                             QWidget* Parent)
    : QDialog(Parent) {
    setFixedSize(ShownWidth, ShownHeight);
    imgPreview = new TPictureView(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(10, 10, DialogPreviewWidth, DialogPreviewHeight);
    trcPreview = new QSlider(Qt::Horizontal, this);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setGeometry(10, 268, DialogPreviewWidth, 26);
    imgbtnPlay = PictureButton(this, "imgbtnPlay", "Play", PictureOf(TPicture::Play));
    imgbtnpause = PictureButton(this, "imgbtnpause", "Pause", PictureOf(TPicture::Pause));
    PlacePictureButtons({imgbtnPlay, imgbtnpause});

    Caption(this, TimeCaption, 10, 338);
    lblPTS = Caption(this, "", 60, 338, 120);
    lblPTS->setObjectName("lblPTS");
    Caption(this, "Length:", 190, 338);
    lblLength = Caption(this, "", 250, 338, 130);
    lblLength->setObjectName("lblLength");
    Caption(this, SourceCaption, 10, 364);
    lblSourceName = PathLabel(this, 100, 364, SourceLabelWidth);
    lblSourceName->setObjectName("lblSourceName");

    Timer1 = new QTimer(this);
    Timer1->setInterval(PreviewTimerInterval);
    FPlayer = new TPreviewPlayer(TPreviewRules::For(Window), imgPreview, trcPreview, lblPTS, Timer1, this);
    FPlayer->SetProbe(&VxAVC.Probe);

    connect(trcPreview, &QSlider::valueChanged, this, &TPlayerDialog::trcPreviewChange);
    connect(Timer1, &QTimer::timeout, this, &TPlayerDialog::Timer1Timer);
    connect(imgbtnPlay, &QToolButton::clicked, this, &TPlayerDialog::imgbtnPlayClick);
    connect(imgbtnpause, &QToolButton::clicked, this, &TPlayerDialog::imgbtnpauseClick);
}

TPlayerDialog::~TPlayerDialog() {
    Timer1->stop();
    VxAVC.ClearJobs();
    VxAVC.Probe.CloseFile();
}

void TPlayerDialog::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TPlayerDialog::BeginShow() {
    setFixedSize(ShownWidth, ShownHeight);
    ApplyCurrentTheme(this);
    lblSourceName->clear();
    lblSourceName->setToolTip(QString());
    lblPTS->clear();
    lblLength->clear();
}

void TPlayerDialog::ShowSource(bool Opened) {
    lblSourceName->setText(QString::fromStdString(ShortenPath(FRecord->SourceFile, SourceWhole, SourceKeep, true)));
    lblSourceName->setToolTip(QString::fromStdString(FRecord->SourceFile));
    lblSourceName->resize(SourceLabelWidth, lblSourceName->height());
    if (Opened) lblLength->setText(QString::fromStdString(SecondsText(FPlayer->DurationUs()) + " Second"));
}

bool TPlayerDialog::OpenSource() { return OpenDialogSource(VxAVC, *FPlayer, FRecord->SourceFile); }

void TPlayerDialog::ReportOpenFailure() {
    const std::string Reason = VxAVC.Probe.LastError().empty() ? "Cannot open " + FRecord->SourceFile + "."
                                                                : VxAVC.Probe.LastError();
    // The box comes once the dialog is on screen, so it stands over it.
    QPointer<TPlayerDialog> Self(this);
    QTimer::singleShot(0, this, [Self, Reason] {
        if (Self) ShowMessageBox("Warning", Reason, TMessageKind::Warning);
    });
}

void TPlayerDialog::StopTimer() {
    FPlayer->State().TimerOn = false;
    Timer1->stop();
}

void TPlayerDialog::trcPreviewChange(int Position) { FPlayer->SliderChanged(Position); }

void TPlayerDialog::Timer1Timer() { FPlayer->Tick(); }

void TPlayerDialog::imgbtnPlayClick() {
    if (FPlayer->Paused()) {
        FPlayer->Resume();
        return;
    }
    if (FRecord && OpenSource()) FPlayer->Start();
}

void TPlayerDialog::imgbtnpauseClick() { FPlayer->Pause(); }

void TPlayerDialog::FormCloseQuery() {
    VxAVC.ClearJobs();
    StopTimer();
}

void TPlayerDialog::done(int Result) {
    FormCloseQuery();
    QDialog::done(Result);
}
