// TfrmSettings, the profile settings dialog: for one output profile at a
// time, the video and audio choices that the profile file offers, stored with
// the values derived from them in the profile's section of the settings file.
//
// The dialog does not know the main window. Before it is shown it is given
// the two INI files, the catalogue with the main window's selected profile,
// and a function that selects a profile in the main window after OK.
#pragma once

#include <QDialog>
#include <QStringList>

#include <array>
#include <functional>
#include <string>

#include "app/OutputOptions.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 475;
    static constexpr int ShownHeight = 400;
    static const QString CopyNoteText, CopyNoteDetail;

    using TSelectProfile = std::function<void(int AIndex)>;

    explicit TfrmSettings(QWidget* Parent = nullptr);
    TfrmSettings(const TProfileFiles& Files, QWidget* Parent = nullptr);

    // The main window's catalogue and its selected profile, copied into
    // cbOutputFormat each time the dialog shows. Without a call the built-in
    // catalogue and profile 0 are used.
    void SetCatalogue(const QStringList& Names, int Selected);
    // Called after OK with the profile the dialog stored; the main window
    // selects it in its own combo.
    void SetSelectProfile(TSelectProfile Select) { FSelectProfile = std::move(Select); }

    // The nine parameter combos in the order of ProfileParameters.
    const std::array<QComboBox*, 9>& ParameterCombos() const { return FCombos; }

    QLabel* lblOutputFormat = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QGroupBox* grpVideo = nullptr;
    QComboBox* cmbVideoSize = nullptr;
    QComboBox* cmbVideoBitRate = nullptr;
    QComboBox* cmbVideoEncoder = nullptr;
    QComboBox* cmbFrameRate = nullptr;
    // Constant quality: a choice for the profiles that also take a bit
    // rate, the only mode of those that do not.
    QLabel* lblVideoBitRate = nullptr;
    QLabel* lblSpeed = nullptr;
    QComboBox* cmbSpeed = nullptr;
    QCheckBox* chkQuality = nullptr;
    QLabel* lblQuality = nullptr;
    QSlider* trkQuality = nullptr;
    QLabel* lblQualityValue = nullptr;
    QLabel* lblQualityHint = nullptr;
    // "Fit in ... MB": a size the file is made to fit, empty for none;
    // hidden for a profile without a picture.
    QLabel* lblFitSize = nullptr;
    QLineEdit* edtFitSize = nullptr;
    QLabel* lblFitSizeUnit = nullptr;
    // Why a profile that copies offers no size, crop or frame rate.
    QLabel* lblCopyNote = nullptr;
    QGroupBox* grpAudio = nullptr;
    QComboBox* cmbSamplerate = nullptr;
    QComboBox* cmbChannel = nullptr;
    QComboBox* cmbAudioEncoder = nullptr;
    QComboBox* cmbAudioBitRate = nullptr;
    QComboBox* cmbVolume = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    void FormShow();
    // Fills the nine combos for profile N from the two files.
    void FillLists(int N);
    void cbOutputFormatChange(int AIndex);
    void btnDefaultClick();
    // Writes the choices and closes. A value that cannot be converted is
    // shown as the application shows exceptions; what was written before it
    // stays written and the dialog stays open.
    void btnOkClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void CreateControls();
    // Shows the quality slider and speed list or the bit-rate list for the
    // chosen video encoder and mode; Reset takes the profile file's values.
    void UpdateRateControls(bool Reset);
    void ShowRateMode();
    // Shows the size to fit of the profile (Reset: none) when it has a picture.
    void UpdateFitSize(bool Reset);
    // The writing steps of OK; raises EConvertError for a volume item that
    // is not a number followed by one character.
    void WriteChoices(int Profile);

    TProfileFiles FFiles;
    QStringList FCatalogue;
    int FSelected = 0;
    TSelectProfile FSelectProfile;
    std::array<QComboBox*, 9> FCombos{};
};
