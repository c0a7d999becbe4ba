// TfrmTrim, the trim dialog: a start and an end time to the whole second for
// the selected file, chosen while a small preview player shows the file. It
// writes TrimStart and TrimLength of the row's record and the row's
// "Trimmed Length" column.
//
// TTrimTimes holds the times and the rules of the three time fields without
// any widgets; the dialog copies its fields in and out around each rule.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/FilesRecord.h"
#include "dialogs/PlayerDialog.h"

class QLineEdit;
class QPushButton;
class QToolButton;

// HH:MM:SS of a time in µs as six digits without colons ("011530").
std::string TimeDigits(int64_t Microseconds);

// A time field read back: the time in ms and the minutes and seconds read,
// which the range checks use.
struct TFieldTime {
    int64_t Ms = 0;
    int Minutes = 0;
    int Seconds = 0;
};
// Reads the six digits of a time field (colons already removed): right-
// aligned to six characters and cut into hours, minutes and seconds; blanks
// and other non-digits count as 0.
TFieldTime ReadTimeField(const std::string& Text);

// The times of the dialog and its field texts (six digits each).
struct TTrimTimes {
    int64_t S = 0;  // chosen start, ms
    int64_t E = 0;  // chosen end, ms
    int64_t D = 0;  // source duration, ms
    std::string StartText = "000000", EndText = "000000", LengthText = "000000";

    // The fields for a row opened on a source of D ms.
    void Open(const TlvFilesRecord& Record, int64_t DurationMs);
    // Leaving the start or end field: the message to show, empty when the
    // value is accepted or silently ignored. A refused field is reset, and
    // S or E with it; the length field follows the two shown times.
    std::string StartExit();
    std::string EndExit();
    // OK: writes the trim into Record; returns true when the "Trimmed
    // Length" column gets Seconds.
    bool Apply(TlvFilesRecord& Record, int& Seconds) const;
    // Clears the trim in the fields and at once in Record.
    void Reset(TlvFilesRecord& Record);

private:
    void ShowLength();
};

class TfrmTrim : public TPlayerDialog {
    Q_OBJECT
public:
    using TColumnSetter = std::function<void(int Seconds)>;

    explicit TfrmTrim(QWidget* Parent = nullptr);

    // The row the next opening edits: its record (null when the file list
    // is empty) and how to set its "Trimmed Length" column. The record must
    // outlive the dialog's showing.
    void SetRow(TlvFilesRecord* Record, TColumnSetter SetTrimmedLength);
    const TTrimTimes& Times() const { return FTimes; }

    QLineEdit *maskedtStartTime = nullptr, *maskedtEndTime = nullptr, *maskedtLength = nullptr;
    QPushButton *btnOk1 = nullptr, *btnOk2 = nullptr, *btnReset = nullptr, *btnDefault = nullptr;
    QPushButton *btnOk = nullptr, *btnCancel = nullptr;
    QPushButton* btnSetStart = nullptr;

    void btnOk1Click();

public slots:
    // Leaving a field while closing validates nothing.
    void done(int Result) override;

protected:
    void FormShow() override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void btnOkClick();
    void btnCancelClick();
    void btnOk2Click();
    void maskedtStartTimeExit();
    void maskedtEndTimeExit();
    void btnResetClick();
    void btnDefaultClick();
    void btnSetStartClick();
    void btnSetEndClick();
    void imgLeftClick();
    void imgRightClick();

    void ReadFields();
    void WriteFields();
    void Refused(const std::string& Message, QLineEdit* Field);
    // The time at the slider in ms (the duration at its end).
    int64_t SliderTimeMs() const;

    QPushButton* btnSetEnd = nullptr;
    QToolButton *imgLeft = nullptr, *imgRight = nullptr;
    TColumnSetter FSetTrimmedLength;
    TTrimTimes FTimes;
    bool FOpened = false;
    bool FValidating = false;
};
