// TfrmFileInfo, the file information dialog: the container format and
// duration of the selected file and the main properties of its first video
// and first audio stream. It reads everything through its own converter
// component: the component's probe and the probe of a job added for the file.
#pragma once

#include <QDialog>
#include <string>

#include "component/VxAVConverter.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmFileInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 420;
    static constexpr int ShownHeight = 460;
    static constexpr int SourceLabelWidth = 270;

    explicit TfrmFileInfo(QWidget* Parent = nullptr);
    ~TfrmFileInfo() override;

    // The selected row's source file; empty when the file list is empty.
    // Read each time the dialog shows.
    void SetSourceFile(const std::string& SourceFile) { FSourceFile = SourceFile; }
    const std::string& SourceFile() const { return FSourceFile; }

    // The codec name after "Audio: " in the first audio stream line of a
    // probe's information text: up to the next comma or blank.
    static std::string AudioFormatFromInfo(const std::string& InfoText);
    // A frame rate as a short decimal number: 25, 29.97, 23.976.
    static std::string FrameRateText(int Num, int Den);

    QLabel* lblSourceName = nullptr;
    QLabel* lblFileLength = nullptr;
    QLineEdit* edtFormat = nullptr;
    QLineEdit* edtResloution = nullptr;
    QLineEdit* edtBitRate = nullptr;
    QLineEdit* edtFrameRate = nullptr;
    QLineEdit* edtTotalFrame = nullptr;
    QLineEdit* edtAudioForamt = nullptr;
    QLineEdit* edtAudioBitRate = nullptr;
    QLineEdit* edtSampleRate = nullptr;
    QLineEdit* edtChannel = nullptr;
    QPushButton* btn1 = nullptr;
    TVxAVConverter VxAVC;

public slots:
    // Every way of closing passes the close query.
    void done(int Result) override;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void FormShow();
    void FormCloseQuery();
    void btn1Click();
    void ClearFields();
    void ShowFile();
    void ReportFailure(const std::string& Reason);

    QGroupBox *grpVideo = nullptr, *grpAudio = nullptr;
    std::string FSourceFile;
};
