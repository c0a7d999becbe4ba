// TfrmPreference, the preferences dialog: where and how snapshots are saved,
// the priority conversions run at, and how many conversions run at once.
// Everything is read from the settings file when the dialog shows and
// written back by OK (the snapshot folder chosen with Brows at once).
#pragma once

#include <QDialog>
#include <QPointer>
#include <string>

#include "dialogs/Directory.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

class TfrmPreference : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 480;
    static constexpr int ShownHeight = 390;
    // Key of the section "settings": how many conversions a batch runs at
    // the same time (1 to the number of cores).
    static constexpr const char* JobsKey = "jobs";

    explicit TfrmPreference(const std::string& SettingsIni = "", QWidget* Parent = nullptr);

    // Conversions at once as stored, within 1 to MaxJobs().
    static int StoredJobs(const std::string& SettingsIni);
    static int MaxJobs();

    // The checked priority item, -1 when none.
    int PriorityIndex() const;
    // The folder chooser Brows shows; created on the first Brows.
    TfmDirectory* Chooser() const { return FChooser; }

    QLineEdit* edtSnapDirectory = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    QCheckBox* ckSmallSize = nullptr;
    QCheckBox* ckFullSize = nullptr;
    QCheckBox* ckBmp = nullptr;
    QCheckBox* ckJpg = nullptr;
    QSpinBox* spedCmp = nullptr;
    QSlider* trcCmp = nullptr;
    QGroupBox* rdGrpPriority = nullptr;
    QButtonGroup* rdGrpPriorityItems = nullptr;
    QSpinBox* spedJobs = nullptr;
    // Exit keeps the file list for the next start ("keepList").
    QCheckBox* ckKeepList = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnDefault = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    // The quality the Default button sets (not the settings' default of 30).
    static constexpr int DefaultQuality = 20;
    // The hint of spedCmp, with the line breaks of the original text.
    static const char* const CompressionHint;

    void FormShow();
    void btnOkClick();
    void btnCancelClick();
    void btnDefaultClick();
    void btnBrowsClick();
    void btnOpenClick();
    void ckFullSizeClick();
    void ckSmallSizeClick();
    void ckBmpClick();
    void ckJpgClick();
    void trcCmpChange(int Position);
    void spedCmpChange(int Value);
    void SetQualityEnabled(bool Enabled);
    void SetPriorityIndex(int Index);

    QLabel* lblSnapDirectory = nullptr;
    std::string FSettingsIni;
    QPointer<TfmDirectory> FChooser;
};
