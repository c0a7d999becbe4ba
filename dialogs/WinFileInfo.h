// TfrmFileInfo, the file information dialog: the container and duration of
// the selected file, the main properties of its first video and first audio
// stream, and the list of all its streams with their languages. It reads
// everything through its own converter component: the component's probe
// and the probe of a job added for the file.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "component/VxAVConverter.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

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

    // A frame rate as a short decimal number: 25, 29.97, 23.976.
    static std::string FrameRateText(int Num, int Den);
    // "1150 kbit/s"; "unknown" for 0 or less.
    static std::string BitRateText(int64_t BitsPerSecond);
    // The proportions a W x H picture of sample aspect Sar is shown in, as
    // a ratio ("16:9", "1.78:1") after its turn, and the turn and mirror:
    // "3:4, turned 90° clockwise".
    static std::string AspectText(int Width, int Height, int SarNum, int SarDen, int Rotation, bool Mirrored);
    // "2 (stereo)"; the count alone when the layout names nothing more.
    static std::string ChannelText(int Channels, const std::string& Layout);

    QLabel* lblSourceName = nullptr;
    QLabel* lblFileLength = nullptr;
    QLabel* lblContainer = nullptr;
    QLineEdit* edtFormat = nullptr;  // the video's codec
    QLineEdit* edtResloution = nullptr;
    QLineEdit* edtAspect = nullptr;
    QLineEdit* edtBitRate = nullptr;
    QLineEdit* edtFrameRate = nullptr;
    QLineEdit* edtTotalFrame = nullptr;
    QLineEdit* edtAudioForamt = nullptr;
    QLineEdit* edtAudioBitRate = nullptr;
    QLineEdit* edtSampleRate = nullptr;
    QLineEdit* edtChannel = nullptr;
    // Every stream: number, type, codec, language, details.
    QTreeWidget* lstStreams = nullptr;
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
    void ShowStreams(TAVProbe& Probe);
    // The codec's short name, with its descriptive name when both fit.
    void ShowCodec(QLineEdit* Field, const std::string& Name, const std::string& LongName);
    // A stream's own bit rate, else the container's less its other streams'.
    void ShowBitRate(QLineEdit* Field, int Stream, int64_t OwnRate, int64_t FileRate);

    QGroupBox *grpVideo = nullptr, *grpAudio = nullptr, *grpStreams = nullptr;
    std::string FSourceFile;
    std::vector<TAVStreamEntry> FStreams;  // of the file shown
};
