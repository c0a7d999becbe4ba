#include "dialogs/WinTrim.h"

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

#include "app/GlobalUnit.h"
#include "app/PreviewMath.h"
#include "dialogs/FormControls.h"
#include "widgets/PreviewPlayer.h"
#include "widgets/Theme.h"

namespace {

constexpr int64_t UsPerSecond = 1000000;
const char* const TimeMask = "99:99:99;0";

int GroupValue(const std::string& Group, bool IsSeconds) {
    const bool Blank = IsSeconds ? Group == "  " : Group.find_first_not_of(' ') == std::string::npos;
    if (Blank) return 0;
    int Value = 0;
    for (char C : Group) Value = Value * 10 + (C >= '0' && C <= '9' ? C - '0' : 0);
    return Value;
}

QString FieldText(const std::string& Digits) {
    // The mask takes the digits in order and puts the colons between them.
    return QString::fromStdString(Digits);
}

std::string FieldDigits(const QLineEdit* Field) { return Field->displayText().remove(':').toStdString(); }

QLineEdit* TimeField(QWidget* Parent, const char* Name, int X, int Y) {
    auto* Field = new QLineEdit(Parent);
    Field->setObjectName(Name);
    Field->setInputMask(TimeMask);
    Field->setMaxLength(8);
    Field->setText("000000");
    Field->setGeometry(X, Y, 96, 24);
    return Field;
}

}  // namespace

std::string TimeDigits(int64_t Microseconds) {
    if (Microseconds < 0) Microseconds = 0;
    char Text[32];
    std::snprintf(Text, sizeof Text, "%2.2lld%2.2lld%2.2lld", static_cast<long long>(Microseconds / 3600000000LL),
                  static_cast<long long>(Microseconds / 60000000LL % 60),
                  static_cast<long long>(Microseconds / UsPerSecond % 60));
    return Text;
}

TFieldTime ReadTimeField(const std::string& Text) {
    std::string Padded = Text.size() < 6 ? std::string(6 - Text.size(), ' ') + Text : Text;
    TFieldTime Time;
    const int Hours = GroupValue(Padded.substr(0, 2), false);
    Time.Minutes = GroupValue(Padded.substr(2, 2), false);
    Time.Seconds = GroupValue(Padded.substr(4, 2), true);
    Time.Ms = (static_cast<int64_t>(Hours) * 3600 + Time.Minutes * 60 + Time.Seconds) * 1000;
    return Time;
}

void TTrimTimes::Open(const TlvFilesRecord& Record, int64_t DurationMs) {
    D = DurationMs;
    if (Record.TrimStart > 0) {
        S = Record.TrimStart;
        StartText = TimeDigits(S * 1000);
    } else {
        S = 0;
        StartText = "000000";
    }
    if (Record.TrimLength > 0) {
        E = static_cast<int64_t>(Record.TrimStart) + Record.TrimLength;
        EndText = TimeDigits(E * 1000);
        LengthText = TimeDigits(static_cast<int64_t>(Record.TrimLength) * 1000);
    } else {
        E = D;
        EndText = LengthText = TimeDigits(D * 1000);
    }
}

std::string TTrimTimes::StartExit() {
    const TFieldTime Read = ReadTimeField(StartText);
    S = Read.Ms;
    if (S <= D && Read.Minutes < 60 && Read.Seconds < 60 && S / 1000 < E / 1000) {
        ShowLength();
        return "";
    }
    std::string Message;
    if (S / 1000 != E / 1000)
        Message = "Incorrect start time!";
    else if (E != 0 && S != 0)
        Message = "The start time cannot equal to the end time!";
    if (!Message.empty()) {
        // The reset field is the start from now on: OK stores what is shown.
        StartText = "000000";
        S = 0;
    }
    ShowLength();
    return Message;
}

std::string TTrimTimes::EndExit() {
    const TFieldTime Read = ReadTimeField(EndText);
    E = Read.Ms;
    if (E <= D && Read.Minutes < 60 && Read.Seconds < 60 && S / 1000 < E / 1000) {
        ShowLength();
        return "";
    }
    std::string Message;
    if (S / 1000 < E / 1000)
        Message = "Incorrect end time!";
    else if (E != 0 && S != 0)
        Message = "The end time cannot equal to the start time!!";
    if (!Message.empty()) {
        EndText = TimeDigits(D * 1000);
        E = D;
    }
    ShowLength();
    return Message;
}

void TTrimTimes::ShowLength() {
    // Whatever was accepted or refused, the length is the shown end less the
    // shown start (nothing when the end is not after the start).
    LengthText = TimeDigits(std::max<int64_t>(E - S, 0) * 1000);
}

bool TTrimTimes::Apply(TlvFilesRecord& Record, int& Seconds) const {
    const int64_t L = (S >= 0 && E > 0 && S < E && E <= D) ? E - S : 0;
    if (L <= 0) {
        Record.TrimStart = 0;
        Record.TrimLength = 0;
        return false;
    }
    Record.TrimStart = S > 0 ? static_cast<int>(S) : 0;
    // Less than a second left at the end runs to the end.
    Record.TrimLength = (L < 1000 || D - L < 1000 || L == D) ? 0 : static_cast<int>(L);
    Seconds = static_cast<int>(L / 1000);
    return true;
}

void TTrimTimes::Reset(TlvFilesRecord& Record) {
    StartText = "000000";
    EndText = LengthText = TimeDigits(D * 1000);
    S = 0;
    E = D;
    Record.TrimStart = 0;
    Record.TrimLength = 0;
}

TfrmTrim::TfrmTrim(QWidget* Parent) : TPlayerDialog(pwTrim, "Tiem:", "Source Name:", Parent) {
    setObjectName("frmTrim");
    setWindowTitle("Trim");

    imgLeft = PictureButton(this, "imgLeft", "Left", PictureOf(TPicture::StepBack));
    imgRight = PictureButton(this, "imgRight", "Right", PictureOf(TPicture::StepForward));
    PlacePictureButtons({imgbtnPlay, imgbtnpause, imgLeft, imgRight});
    imgLeft->hide();
    imgRight->hide();
    btnSetStart = Button(this, "Set Start", "btnSetStart", 210, 297, 82);
    btnSetEnd = Button(this, "Set End", "btnSetEnd", 298, 297, 82);
    btnSetStart->setToolTip("Start the trim at the picture shown");
    btnSetEnd->setToolTip("End the trim at the picture shown");

    const int RX = 398;
    Caption(this, "Set Start Time:", RX, 18);
    maskedtStartTime = TimeField(this, "maskedtStartTime", RX, 40);
    Caption(this, "(HH:MM:SS)", RX + 104, 44);
    btnOk1 = Button(this, "&Ok", "btnOk1", RX + 180, 38, 30);
    btnOk1->hide();
    Caption(this, "Set End Time:", RX, 78);
    maskedtEndTime = TimeField(this, "maskedtEndTime", RX, 100);
    Caption(this, "(HH:MM:SS)", RX + 104, 104);
    btnOk2 = Button(this, "&Ok", "btnOk2", RX + 180, 98, 30);
    btnOk2->hide();
    Caption(this, "Trim Length:", RX, 138);
    maskedtLength = TimeField(this, "maskedtLength", RX, 160);
    maskedtLength->setReadOnly(true);
    maskedtLength->setFocusPolicy(Qt::NoFocus);
    Caption(this, "(HH:MM:SS)", RX + 104, 164);
    btnReset = Button(this, "&Reset", "btnReset", RX, 206);
    btnDefault = Button(this, "&Default", "btnDefault", RX + 100, 206);

    btnOk = Button(this, "Ok", "btnOk", 415, 394);
    btnOk->setDefault(true);
    btnCancel = Button(this, "Cancel", "btnCancel", 512, 394);

    connect(imgLeft, &QToolButton::clicked, this, &TfrmTrim::imgLeftClick);
    connect(imgRight, &QToolButton::clicked, this, &TfrmTrim::imgRightClick);
    connect(btnOk1, &QPushButton::clicked, this, &TfrmTrim::btnOk1Click);
    connect(btnOk2, &QPushButton::clicked, this, &TfrmTrim::btnOk2Click);
    connect(btnReset, &QPushButton::clicked, this, &TfrmTrim::btnResetClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmTrim::btnDefaultClick);
    connect(btnSetStart, &QPushButton::clicked, this, &TfrmTrim::btnSetStartClick);
    connect(btnSetEnd, &QPushButton::clicked, this, &TfrmTrim::btnSetEndClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmTrim::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmTrim::btnCancelClick);
    maskedtStartTime->installEventFilter(this);
    maskedtEndTime->installEventFilter(this);
}

void TfrmTrim::SetRow(TlvFilesRecord* Record, TColumnSetter SetTrimmedLength) {
    FRecord = Record;
    FSetTrimmedLength = std::move(SetTrimmedLength);
}

void TfrmTrim::FormShow() {
    BeginShow();
    QPalette Light = maskedtLength->palette();
    Light.setColor(QPalette::Base, Colour3DLight());
    Light.setColor(QPalette::Text, Colour3DLightText());
    maskedtLength->setPalette(Light);
    if (!FRecord) return;

    FOpened = OpenSource();
    int64_t DurationUs = 0;
    if (FOpened) {
        DurationUs = FPlayer->DurationUs();
    } else {
        // Without a duration every end would be refused and OK would wipe the
        // row's trim, so the dialog only lets the user cancel.
        ReportOpenFailure();
    }
    for (QWidget* W : std::initializer_list<QWidget*>{btnOk, btnReset, btnDefault, maskedtStartTime, maskedtEndTime,
                                                      btnSetStart, btnSetEnd})
        W->setEnabled(FOpened);

    if (FOpened && VxAVC.Probe.VideoStreamCount() > 0)
        FPlayer->Start();
    else
        StopTimer();
    ShowSource(FOpened);

    FTimes.Open(*FRecord, DurationUs / 1000);
    WriteFields();
    maskedtStartTime->setFocus();
}

void TfrmTrim::ReadFields() {
    FTimes.StartText = FieldDigits(maskedtStartTime);
    FTimes.EndText = FieldDigits(maskedtEndTime);
}

void TfrmTrim::WriteFields() {
    maskedtStartTime->setText(FieldText(FTimes.StartText));
    maskedtEndTime->setText(FieldText(FTimes.EndText));
    maskedtLength->setText(FieldText(FTimes.LengthText));
}

void TfrmTrim::Refused(const std::string& Message, QLineEdit* Field) {
    WriteFields();
    if (Message.empty()) return;
    FValidating = true;
    ShowMessageBox("Warning", Message, TMessageKind::Warning);
    Field->setFocus();
    FValidating = false;
}

void TfrmTrim::maskedtStartTimeExit() {
    ReadFields();
    Refused(FTimes.StartExit(), maskedtStartTime);
}

void TfrmTrim::maskedtEndTimeExit() {
    ReadFields();
    Refused(FTimes.EndExit(), maskedtEndTime);
}

void TfrmTrim::btnOk1Click() { maskedtStartTimeExit(); }
void TfrmTrim::btnOk2Click() { maskedtEndTimeExit(); }

int64_t TfrmTrim::SliderTimeMs() const {
    const TSliderSetup& Slider = FPlayer->Slider();
    return SeekTarget(trcPreview->value(), Slider.Max, Slider.Unit, FPlayer->DurationUs()) / 1000;
}

void TfrmTrim::btnSetStartClick() {
    maskedtStartTime->setText(FieldText(TimeDigits(SliderTimeMs() * 1000)));
    maskedtStartTimeExit();
}

void TfrmTrim::btnSetEndClick() {
    maskedtEndTime->setText(FieldText(TimeDigits(SliderTimeMs() * 1000)));
    maskedtEndTimeExit();
}

void TfrmTrim::btnOkClick() {
    if (FRecord) {
        ReadFields();
        int Seconds = 0;
        if (FTimes.Apply(*FRecord, Seconds) && FSetTrimmedLength) FSetTrimmedLength(Seconds);
    }
    accept();
}

void TfrmTrim::btnCancelClick() { reject(); }

void TfrmTrim::btnResetClick() {
    if (FRecord) FTimes.Reset(*FRecord);
    WriteFields();
    maskedtStartTime->setFocus();
}

void TfrmTrim::btnDefaultClick() { btnResetClick(); }

void TfrmTrim::imgLeftClick() { trcPreview->setValue(StepLeft(trcPreview->value())); }

void TfrmTrim::imgRightClick() { trcPreview->setValue(StepRight(trcPreview->value(), trcPreview->maximum())); }

void TfrmTrim::done(int Result) {
    FValidating = true;
    TPlayerDialog::done(Result);
    FValidating = false;
}

bool TfrmTrim::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::FocusOut && !FValidating && isVisible()) {
        const Qt::FocusReason Reason = static_cast<QFocusEvent*>(Event)->reason();
        // Switching windows or opening a menu does not leave the field.
        if (Reason != Qt::ActiveWindowFocusReason && Reason != Qt::PopupFocusReason) {
            if (Watched == maskedtStartTime) maskedtStartTimeExit();
            if (Watched == maskedtEndTime) maskedtEndTimeExit();
        }
    }
    return QDialog::eventFilter(Watched, Event);
}

