#include "dialogs/WinProgress.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>

#include <cstring>

#include "app/Snapshot.h"
#include "common/Bitmap.h"
#include "widgets/BitmapLock.h"
#include "widgets/Controls.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PathText.h"
#include "widgets/PictureView.h"
#include "widgets/Theme.h"

namespace {

constexpr int Margin = 24;
constexpr int ValueLeft = 120;
constexpr int RowHeight = 22;


// A copy of the dialog's picture area as a 24-bit bitmap.
TBitmap CanvasBitmap(const QImage& Canvas) {
    QImage Image = Canvas.convertToFormat(QImage::Format_BGR888);
    TBitmap Result(Image.width(), Image.height());
    const size_t RowBytes = size_t(Image.width()) * 3;
    for (int Row = 0; Row < Image.height(); ++Row) std::memcpy(Result.ScanLine(Row), Image.constScanLine(Row), RowBytes);
    return Result;
}

}  // namespace

std::string ProgressOutputText(const std::string& Path) { return ShortenPath(Path, 50, 44, false); }

TfrmProgress::TfrmProgress(QWidget* Parent) : QDialog(Parent) {
    setObjectName("frmProgress");
    setWindowTitle("Progress");
    setModal(true);

    imgPreview = new TPictureView(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(Margin, 14, PreviewWidth, PreviewHeight);

    int Top = 14 + PreviewHeight + 10;
    Caption("Current Time:", Margin, Top, ValueLeft - Margin);
    lblTime = Caption("", ValueLeft, Top, 90);
    lblTime->setObjectName("lblTime");
    Caption("Length:", 226, Top, 60);
    lblLength = Caption("", 290, Top, 106);
    lblLength->setObjectName("lblLength");
    Top += RowHeight;
    Caption("File Size:", Margin, Top, ValueLeft - Margin);
    lblSize = Caption("", ValueLeft, Top, 90);
    lblSize->setObjectName("lblSize");
    Caption("Progress:", 226, Top, 60);
    lblProgress = Caption("", 290, Top, 106);
    lblProgress->setObjectName("lblProgress");
    Top += RowHeight;
    Caption("Output File:", Margin, Top, ValueLeft - Margin);
    Top += RowHeight;
    // Paths of 50 characters are wider than the space after the caption.
    lblOutput = new TElidedLabel(this);
    lblOutput->setObjectName("lblOutput");
    lblOutput->setGeometry(Margin, Top, OutputLabelWidth, RowHeight);
    Top += RowHeight + 6;

    progbarFile = new QProgressBar(this);
    progbarFile->setObjectName("progbarFile");
    progbarFile->setRange(0, 100);
    progbarFile->setTextVisible(true);
    progbarFile->setGeometry(Margin, Top, PreviewWidth, 22);
    Top += 22 + 10;

    ckShutDown = new QCheckBox("Shut down computer after conversion", this);
    ckShutDown->setObjectName("ckShutDown");
    ckShutDown->setGeometry(Margin, Top, PreviewWidth, RowHeight);
    Top += RowHeight + 2;
    ckOpen = new QCheckBox("Open the output folder after conversion", this);
    ckOpen->setObjectName("ckOpen");
    ckOpen->setGeometry(Margin, Top, PreviewWidth, RowHeight);
    Top += RowHeight + 10;

    imgbtnSnap = PictureButton(this, "imgbtnSnap", "Save snapshot picture", PictureOf(TPicture::Snapshot),
                               QSize(22, 22));
    imgbtnSnap->setAutoRaise(true);
    imgbtnSnap->setGeometry(Margin, Top, 32, 30);

    btnPause = new QPushButton("Pause", this);
    btnPause->setObjectName("btnPause");
    btnResume = new QPushButton("Resume", this);
    btnResume->setObjectName("btnResume");
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    int Left = Margin + PreviewWidth - 3 * 84 - 2 * 8;
    for (QPushButton* B : {btnPause, btnResume, btnCancel}) {
        B->setGeometry(Left, Top, 84, 30);
        B->setAutoDefault(false);
        Left += 84 + 8;
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);

    connect(btnPause, &QPushButton::clicked, this, &TfrmProgress::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmProgress::btnResumeClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmProgress::imgbtnSnapClick);
    connect(Timer1, &QTimer::timeout, this, &TfrmProgress::Timer1Timer);
    resize(ShownWidth, ShownHeight);
}

TfrmProgress::~TfrmProgress() = default;

QLabel* TfrmProgress::Caption(const char* Text, int Left, int Top, int Width) {
    auto* Label = new QLabel(Text, this);
    Label->setGeometry(Left, Top, Width, RowHeight);
    return Label;
}

void TfrmProgress::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (!Event->spontaneous()) FormShow();
}

void TfrmProgress::FormShow() {
    resize(ShownWidth, ShownHeight);
    ApplyCurrentTheme(this);
    for (QLabel* L : {lblTime, lblLength, lblSize, lblProgress, lblOutput}) L->clear();
    ckOpen->setChecked(true);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    imgPreview->ClearCanvas();
    imgPreview->update();
    progbarFile->setRange(0, 100);
    progbarFile->setValue(0);
    progbarFile->setFormat("%p%");
    Timer1->start();
}

void TfrmProgress::ShowProgress(const TProgressFigures& Figures) {
    progbarFile->setValue(Figures.Percent);
    ShowPace(Figures.Pace);
    lblTime->setText(QString("%1 Second").arg(Figures.CurrentMs / 1000));
    lblLength->setText(QString("%1 Second").arg(Figures.TotalMs / 1000));
    lblSize->setText(QString("%1 kb").arg(Figures.SizeBytes / 1000));
    lblProgress->setText(QString("[%1/%2]").arg(Figures.Job + 1).arg(Figures.JobCount));
    lblOutput->setText(QString::fromStdString(ProgressOutputText(Figures.Output)));
    // The label is narrower than some names of 50 characters.
    lblOutput->setToolTip(QString::fromStdString(Figures.Output));
}

void TfrmProgress::ShowJobFinished() { progbarFile->setValue(100); }

void TfrmProgress::ShowPace(const std::string& Pace) {
    progbarFile->setFormat(Pace.empty() ? "%p%" : "%p%   " + QString::fromStdString(Pace));
}

bool TfrmProgress::OpenFolderChosen() const { return ckOpen->isChecked(); }

bool TfrmProgress::ShutDownChosen() const { return ckShutDown->isChecked(); }

QString TfrmProgress::OutputShown() const {
    if (auto* Label = dynamic_cast<const TElidedLabel*>(lblOutput)) return Label->Shown();
    return lblOutput->text();
}

void TfrmProgress::btnPauseClick() {
    if (OnPause) OnPause();
    btnPause->setEnabled(false);
    btnResume->setEnabled(true);
}

void TfrmProgress::btnResumeClick() {
    if (OnResume) OnResume();
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
}

void TfrmProgress::btnCancelClick() { CloseWithoutAsking(); }

void TfrmProgress::CloseWithoutAsking() {
    FClosingOurselves = true;
    close();
    FClosingOurselves = false;
}

void TfrmProgress::closeEvent(QCloseEvent* Event) {
    if (!FClosingOurselves && isVisible() && OnCloseQuery && !OnCloseQuery()) {
        Event->ignore();
        return;
    }
    QDialog::closeEvent(Event);
}

void TfrmProgress::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier && OnCloseQuery && !OnCloseQuery()) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void TfrmProgress::done(int Result) {
    // Escape, the title bar, Cancel and the batch's own end all come here.
    Timer1->stop();
    if (OnStop) OnStop();
    QDialog::done(Result);
}

void TfrmProgress::Timer1Timer() {
    std::shared_ptr<TBitmap> Frame = CapturedFrame ? CapturedFrame() : nullptr;
    if (!Frame) return;
    // The conversion changes the picture and its shape together under the
    // picture's lock.
    TBitmapLock Guard(*Frame);
    if (Frame->Empty()) return;
    imgPreview->SetShape(CapturedShape ? CapturedShape() : TPictureShape{});
    imgPreview->ClearCanvas();
    imgPreview->DrawBitmap(*Frame);
}

void TfrmProgress::imgbtnSnapClick() {
    std::shared_ptr<TBitmap> Frame = CapturedFrame ? CapturedFrame() : nullptr;
    if (!Frame) return;
    // The conversion keeps writing into the frame: save a copy.
    Frame->Lock();
    TBitmap Full(*Frame);
    Frame->Unlock();
    SaveSnapshot(SettingsIni, Full, CanvasBitmap(imgPreview->Canvas()));
}
