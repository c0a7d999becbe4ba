#include "dialogs/WinFileInfo.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <numeric>

#include "app/GlobalUnit.h"
#include "common/Text.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PathText.h"
#include "widgets/Theme.h"

namespace {

// Paths up to this length are shown whole; longer ones keep their first
// ShortKeep characters.
constexpr size_t ShortWhole = 45;
constexpr size_t ShortKeep = 40;

QLineEdit* ValueField(QWidget* Parent, const char* Name) {
    auto* Edit = new QLineEdit(Parent);
    Edit->setObjectName(Name);
    Edit->setReadOnly(true);
    return Edit;
}

QString Number(int64_t Value) { return QString::number(static_cast<qlonglong>(Value)); }

// A grid of captions and value fields inside Group.
QGridLayout* FieldGrid(QGroupBox* Group) {
    auto* Grid = new QGridLayout(Group);
    Grid->setContentsMargins(12, 8, 12, 10);
    Grid->setHorizontalSpacing(10);
    Grid->setVerticalSpacing(5);
    Grid->setColumnStretch(1, 1);
    return Grid;
}

void AddField(QGridLayout* Grid, int Row, const char* Caption, QLineEdit* Field, int CaptionWidth) {
    auto* Label = new QLabel(Caption, Field->parentWidget());
    Label->setBuddy(Field);
    Label->setMinimumWidth(CaptionWidth);
    Grid->addWidget(Label, Row, 0);
    Grid->addWidget(Field, Row, 1);
}

// The pictures of a video stream: the count the container keeps where it
// keeps one (the last picture's length is missing from some containers'
// stream durations), otherwise the length times the frame rate, the
// stream's own length first since the container's may include a longer
// sound track. -1 when neither is known.
int64_t FrameCount(const TAVProbe& Probe, int Stream, const TAVVideoStreamInfo& Video, int64_t FileDuration) {
    const AVFormatContext* Context = Probe.Context();
    if (Context && Stream >= 0 && Stream < static_cast<int>(Context->nb_streams) &&
        Context->streams[Stream]->nb_frames > 0)
        return Context->streams[Stream]->nb_frames;
    const int64_t Length = Video.DurationUs >= 0 ? Video.DurationUs : FileDuration;
    if (Length < 0 || Video.FrameRateNum <= 0 || Video.FrameRateDen <= 0) return -1;
    return std::llround(Length / 1e6 * Video.FrameRateNum / Video.FrameRateDen);
}

}  // namespace

TfrmFileInfo::TfrmFileInfo(QWidget* Parent) : QDialog(Parent) {
    setObjectName("frmFileInfo");
    setWindowTitle("File infomation");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* NameCaption = new QLabel("File Name:", this);
    lblSourceName = new TElidedLabel(this);
    lblSourceName->setObjectName("lblSourceName");
    lblSourceName->setFixedWidth(SourceLabelWidth);
    lblSourceName->setTextFormat(Qt::PlainText);
    auto* LengthCaption = new QLabel("Duration:", this);
    lblFileLength = new QLabel(this);
    lblFileLength->setObjectName("lblFileLength");
    auto* ContainerCaption = new QLabel("Container:", this);
    lblContainer = new TElidedLabel(this);
    lblContainer->setObjectName("lblContainer");
    lblContainer->setTextFormat(Qt::PlainText);

    grpVideo = new QGroupBox("Video ", this);
    grpVideo->setObjectName("grpVideo");
    edtFormat = ValueField(grpVideo, "edtFormat");
    edtResloution = ValueField(grpVideo, "edtResloution");
    edtAspect = ValueField(grpVideo, "edtAspect");
    edtBitRate = ValueField(grpVideo, "edtBitRate");
    edtFrameRate = ValueField(grpVideo, "edtFrameRate");
    edtTotalFrame = ValueField(grpVideo, "edtTotalFrame");

    grpAudio = new QGroupBox("Audio", this);
    grpAudio->setObjectName("grpAudio");
    edtAudioForamt = ValueField(grpAudio, "edtAudioForamt");
    edtAudioBitRate = ValueField(grpAudio, "edtAudioBitRate");
    edtSampleRate = ValueField(grpAudio, "edtSampleRate");
    edtChannel = ValueField(grpAudio, "edtChannel");

    grpStreams = new QGroupBox("Streams", this);
    grpStreams->setObjectName("grpStreams");
    lstStreams = new QTreeWidget(grpStreams);
    lstStreams->setObjectName("lstStreams");
    lstStreams->setHeaderLabels({"#", "Type", "Codec", "Language", "Details"});
    lstStreams->setRootIsDecorated(false);
    lstStreams->setSelectionMode(QAbstractItemView::NoSelection);
    lstStreams->setFocusPolicy(Qt::NoFocus);
    lstStreams->header()->setStretchLastSection(true);
    lstStreams->header()->setSectionsMovable(false);
    // Room for a film's picture, two sound tracks and a subtitle; more scroll.
    lstStreams->setFixedHeight((fontMetrics().height() + 4) * 5 + 10);
    auto* StreamsBox = new QVBoxLayout(grpStreams);
    StreamsBox->setContentsMargins(8, 6, 8, 8);
    StreamsBox->addWidget(lstStreams);

    // The captions of both groups share one width, so the fields line up.
    const int CaptionWidth = fontMetrics().horizontalAdvance("Sample Rate:") + 8;
    QGridLayout* VideoGrid = FieldGrid(grpVideo);
    AddField(VideoGrid, 0, "Format:", edtFormat, CaptionWidth);
    AddField(VideoGrid, 1, "Resloution:", edtResloution, CaptionWidth);
    AddField(VideoGrid, 2, "Aspect:", edtAspect, CaptionWidth);
    AddField(VideoGrid, 3, "Bit Rate:", edtBitRate, CaptionWidth);
    AddField(VideoGrid, 4, "Frame Rate:", edtFrameRate, CaptionWidth);
    AddField(VideoGrid, 5, "Total Frame:", edtTotalFrame, CaptionWidth);
    QGridLayout* AudioGrid = FieldGrid(grpAudio);
    AddField(AudioGrid, 0, "Format:", edtAudioForamt, CaptionWidth);
    AddField(AudioGrid, 1, "Bit Rate:", edtAudioBitRate, CaptionWidth);
    AddField(AudioGrid, 2, "Sample Rate:", edtSampleRate, CaptionWidth);
    AddField(AudioGrid, 3, "Channel:", edtChannel, CaptionWidth);

    btn1 = new QPushButton("&Ok", this);
    btn1->setObjectName("btn1");
    btn1->setDefault(true);
    connect(btn1, &QPushButton::clicked, this, &TfrmFileInfo::btn1Click);

    auto* Head = new QGridLayout;
    Head->setHorizontalSpacing(10);
    Head->setVerticalSpacing(6);
    // Indented like the groups' captions below.
    Head->setContentsMargins(16, 0, 12, 0);
    NameCaption->setMinimumWidth(CaptionWidth);
    Head->addWidget(NameCaption, 0, 0);
    Head->addWidget(lblSourceName, 0, 1, Qt::AlignLeft);
    Head->addWidget(LengthCaption, 1, 0);
    Head->addWidget(lblFileLength, 1, 1);
    ContainerCaption->setMinimumWidth(CaptionWidth);
    Head->addWidget(ContainerCaption, 2, 0);
    Head->addWidget(lblContainer, 2, 1);
    Head->setColumnStretch(1, 1);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btn1);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(12, 12, 12, 12);
    Main->setSpacing(10);
    Main->addLayout(Head);
    Main->addWidget(grpVideo);
    Main->addWidget(grpAudio);
    Main->addWidget(grpStreams);
    Main->addStretch();
    Main->addLayout(Buttons);
    // The fields of both groups and a few lines of streams take more than the
    // classic height.
    resize(ShownWidth, ShownHeight);
}

TfrmFileInfo::~TfrmFileInfo() {
    VxAVC.ClearJobs();
    VxAVC.Probe.CloseFile();
}

std::string TfrmFileInfo::FrameRateText(int Num, int Den) {
    if (Num <= 0 || Den <= 0) return "";
    std::string Text = StrFormat("%.3f", static_cast<double>(Num) / Den);
    while (Text.back() == '0') Text.pop_back();
    if (Text.back() == '.') Text.pop_back();
    return Text;
}

std::string TfrmFileInfo::BitRateText(int64_t BitsPerSecond) {
    if (BitsPerSecond <= 0) return "unknown";
    return StrFormat("%lld kbit/s", static_cast<long long>((BitsPerSecond + 500) / 1000));
}

std::string TfrmFileInfo::AspectText(int Width, int Height, int SarNum, int SarDen, int Rotation, bool Mirrored) {
    if (Width <= 0 || Height <= 0) return "";
    if (SarNum <= 0 || SarDen <= 0) SarNum = SarDen = 1;
    int64_t W = int64_t(Width) * SarNum, H = int64_t(Height) * SarDen;
    if (Rotation == 90 || Rotation == 270) std::swap(W, H);
    const int64_t Divisor = std::gcd(W, H);
    W /= Divisor;
    H /= Divisor;
    // Ratios of small numbers read as such; the rest as a decimal.
    std::string Text = W <= 99 && H <= 99 ? StrFormat("%lld:%lld", static_cast<long long>(W), static_cast<long long>(H))
                                          : StrFormat("%.2f:1", double(W) / double(H));
    if (Rotation == 90) Text += ", turned 90\u00b0 clockwise";
    if (Rotation == 180) Text += ", turned 180\u00b0";
    if (Rotation == 270) Text += ", turned 90\u00b0 anticlockwise";
    if (Mirrored) Text += ", mirrored";
    return Text;
}

std::string TfrmFileInfo::ChannelText(int Channels, const std::string& Layout) {
    if (Channels <= 0) return "";
    const std::string Count = std::to_string(Channels);
    if (Layout.empty() || Layout == Count + " channels") return Count;
    return Count + " (" + Layout + ")";
}

void TfrmFileInfo::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmFileInfo::ClearFields() {
    for (QLineEdit* Field : {edtFormat, edtResloution, edtAspect, edtBitRate, edtFrameRate, edtTotalFrame,
                             edtAudioForamt, edtAudioBitRate, edtSampleRate, edtChannel}) {
        Field->clear();
        Field->setToolTip(QString());
    }
    lblContainer->clear();
    lblContainer->setToolTip(QString());
    lstStreams->clear();
    FStreams.clear();
}

void TfrmFileInfo::FormShow() {
    // Taller than the classic 460 where the fields and the stream list need it.
    setFixedSize(ShownWidth, std::max(ShownHeight, sizeHint().height()));
    layout()->activate();
    ApplyCurrentTheme(this);
    // Value fields in the tool-tip colour of the theme in use.
    for (QLineEdit* Field : findChildren<QLineEdit*>()) {
        QPalette P = Field->palette();
        P.setColor(QPalette::Base, palette().color(QPalette::ToolTipBase));
        P.setColor(QPalette::Text, palette().color(QPalette::ToolTipText));
        Field->setPalette(P);
    }
    lblSourceName->clear();
    lblSourceName->setToolTip(QString());
    lblFileLength->clear();
    // Every opening that shows no file leaves no fields of an earlier one.
    ClearFields();
    btn1->setFocus();
    if (FSourceFile.empty()) return;
    ShowFile();
}

void TfrmFileInfo::ReportFailure(const std::string& Reason) {
    ClearFields();
    // The box comes once the dialog is on screen, so it stands over it.
    QPointer<TfrmFileInfo> Self(this);
    QTimer::singleShot(0, this, [Self, Reason] {
        if (Self) ShowMessageBox("Warning", Reason, TMessageKind::Warning);
    });
}

void TfrmFileInfo::ShowFile() {
    VxAVC.ClearJobs();
    const int Job = VxAVC.AddInputFile(FSourceFile, nullptr);
    if (Job < 0) {
        ReportFailure(VxAVC.LastError);
        return;
    }
    TAVProbe& Probe = VxAVC.Probe;
    bool Opened = false;
    try {
        Opened = Probe.OpenFile(FSourceFile);
    } catch (const std::exception& Error) {
        ReportFailure(Error.what());
        return;
    }
    if (!Opened) {
        ReportFailure(Probe.LastError());
        return;
    }
    // A file of sound alone informs as much as a video.
    if (Probe.VideoStreamCount() <= 0 && Probe.AudioStreamCount() <= 0) return;

    lblSourceName->setText(QString::fromStdString(ShortenPath(FSourceFile, ShortWhole, ShortKeep, true)));
    lblSourceName->setToolTip(QString::fromStdString(FSourceFile));
    lblSourceName->setFixedWidth(SourceLabelWidth);

    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    const bool KnownLength = Info.Duration >= 0;
    lblFileLength->setText(KnownLength ? QString::fromStdString(StrFormat("%lld.%.3lld Second",
                                                                          static_cast<long long>(Info.Duration / 1000000),
                                                                          static_cast<long long>(Info.Duration / 1000 % 1000)))
                                       : QString("N/A"));
    lblContainer->setText(QString::fromStdString(Probe.GetFormatLongName()));
    lblContainer->setToolTip(QString::fromStdString(Probe.GetFormatName()));
    ShowStreams(Probe);

    TAVProbe& JobProbe = VxAVC.GetJobProbe(Job);
    if (Probe.VideoStreamCount() > 0 && Probe.IsVideoStream(Probe.FirstVideoStream())) {
        TAVVideoStreamInfo Video;
        JobProbe.GetVideoStreamInfo(Probe.FirstVideoStream(), Video);
        ShowCodec(edtFormat, Video.CodecName, Video.CodecLongName);
        edtResloution->setText(Number(Video.Width) + "x" + Number(Video.Height));
        edtAspect->setText(QString::fromStdString(
            AspectText(Video.Width, Video.Height, Video.SarNum, Video.SarDen, Video.Rotation, Video.Mirrored)));
        ShowBitRate(edtBitRate, Probe.FirstVideoStream(), Video.BitRate, Info.BitRate);
        edtFrameRate->setText(QString::fromStdString(FrameRateText(Video.FrameRateNum, Video.FrameRateDen)));
        const int64_t Frames = FrameCount(JobProbe, Probe.FirstVideoStream(), Video, Info.Duration);
        if (Frames >= 0) edtTotalFrame->setText(Number(Frames));
    }
    if (Probe.AudioStreamCount() > 0 && Probe.IsAudioStream(Probe.FirstAudioStream())) {
        TAVAudioStreamInfo Audio;
        JobProbe.GetAudioStreamInfo(Probe.FirstAudioStream(), Audio);
        ShowCodec(edtAudioForamt, Audio.CodecName, Audio.CodecLongName);
        ShowBitRate(edtAudioBitRate, Probe.FirstAudioStream(), Audio.BitRate, Info.BitRate);
        edtSampleRate->setText(Number(Audio.SampleRate));
        edtChannel->setText(QString::fromStdString(ChannelText(Audio.Channels, Audio.ChannelLayout)));
    }
}

void TfrmFileInfo::ShowCodec(QLineEdit* Field, const std::string& Name, const std::string& LongName) {
    const QString Short = QString::fromStdString(Name);
    const QString Long = QString::fromStdString(LongName);
    const QString Both = Long.isEmpty() || Long == Short ? Short : Short + " \u2013 " + Long;
    const bool Fits = Field->fontMetrics().horizontalAdvance(Both) < Field->width() - 8;
    Field->setText(Fits ? Both : Short);
    Field->setToolTip(Long.isEmpty() ? Short : Long);
}

void TfrmFileInfo::ShowBitRate(QLineEdit* Field, int Stream, int64_t OwnRate, int64_t FileRate) {
    if (OwnRate > 0 || FileRate <= 0) {
        Field->setText(QString::fromStdString(BitRateText(OwnRate)));
        return;
    }
    // Many streams (MPEG-2 among them) do not carry their rate: what the
    // file spends on them is its rate less what its other streams say.
    int64_t Rate = FileRate;
    for (const TAVStreamEntry& Other : FStreams)
        if (Other.Index != Stream) Rate -= Other.BitRate;
    Field->setText(QString::fromStdString(BitRateText(Rate)));
    if (Rate > 0) Field->setToolTip("Estimated from the bit rate of the whole file");
}

void TfrmFileInfo::ShowStreams(TAVProbe& Probe) {
    FStreams = Probe.GetStreams();
    for (const TAVStreamEntry& S : FStreams) {
        std::string Type, Details;
        switch (S.Kind) {
            case AVMEDIA_TYPE_VIDEO: {
                TAVVideoStreamInfo V;
                Probe.GetVideoStreamInfo(S.Index, V);
                Type = S.AttachedPicture ? "Picture" : "Video";
                Details = StrFormat("%dx%d", V.Width, V.Height);
                if (const std::string Aspect = AspectText(V.Width, V.Height, V.SarNum, V.SarDen, V.Rotation, V.Mirrored);
                    !Aspect.empty())
                    Details += ", " + Aspect;
                break;
            }
            case AVMEDIA_TYPE_AUDIO: {
                TAVAudioStreamInfo A;
                Probe.GetAudioStreamInfo(S.Index, A);
                Type = "Audio";
                Details = StrFormat("%d Hz", A.SampleRate);
                if (!A.ChannelLayout.empty()) Details += ", " + A.ChannelLayout;
                if (S.BitRate > 0) Details += ", " + BitRateText(S.BitRate);
                break;
            }
            case AVMEDIA_TYPE_SUBTITLE: Type = "Subtitle"; break;
            case AVMEDIA_TYPE_DATA: Type = "Data"; break;
            case AVMEDIA_TYPE_ATTACHMENT: Type = "Attachment"; break;
            default: Type = "Other"; break;
        }
        if (S.Default && S.Kind != AVMEDIA_TYPE_VIDEO) Details += Details.empty() ? "default" : ", default";
        auto* Item = new QTreeWidgetItem(lstStreams, {QString::number(S.Index), QString::fromStdString(Type),
                                                      QString::fromStdString(S.CodecName),
                                                      QString::fromStdString(S.Language),
                                                      QString::fromStdString(Details)});
        Item->setToolTip(2, QString::fromStdString(S.CodecLongName.empty() ? S.CodecName : S.CodecLongName));
        Item->setToolTip(4, Item->text(4));
    }
    for (int Column = 0; Column < lstStreams->columnCount() - 1; ++Column) lstStreams->resizeColumnToContents(Column);
}

void TfrmFileInfo::FormCloseQuery() {
    VxAVC.ClearJobs();
    // The file stays free for other programs while the dialog is hidden.
    VxAVC.Probe.CloseFile();
}

void TfrmFileInfo::done(int Result) {
    FormCloseQuery();
    QDialog::done(Result);
}

void TfrmFileInfo::btn1Click() { accept(); }
