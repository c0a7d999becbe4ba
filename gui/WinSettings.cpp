#include "gui/WinSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/IniFile.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "gui/Application.h"
#include "gui/ProfileList.h"
#include "widgets/Theme.h"

namespace {

// Positions of the nine combos in ProfileParameters.
enum TParameter { pVideoSize, pVideoBitRate, pFrameRate, pVideoEncoder, pAudioBitRate, pSampleRate,
                  pAudioEncoder, pChannel, pVolume };

std::string ItemText(const QComboBox* Combo) { return Combo->currentText().toStdString(); }

// A mapped value is written only when the item matched a row of its mapping.
void WriteMapped(IniFile& Settings, const std::string& S, const char* Key, const std::string& Value) {
    if (!Value.empty()) Settings.WriteString(S, Key, Value);
}

// The H.264 encoder values of the profile file, copied into the settings
// when the H.264 encoder is chosen. The entropy coder is copied as it is
// when it is 0 or more: 0 (CAVLC) is what keeps the iPod and phone profiles
// at the Baseline profile their players require.
void CopyH264Values(const IniFile& Format, IniFile& Settings, const std::string& S) {
    const std::string BitExact = Format.ReadString(S, "paraBitExact", "True");
    if (LowerCase(BitExact) == "true") Settings.WriteString(S, "paraBitExact", BitExact);
    static const char* const Positive[][2] = {{"paraMaxBitrate", "1500"}, {"paraBufferSize", "128"},
                                              {"paraLevel", "13"},        {"paraQscale", "25"},
                                              {"paraGop", "250"}};
    int Value = 0;
    for (const auto& Key : Positive) {
        const std::string Text = Format.ReadString(S, Key[0], Key[1]);
        if (TryStrToInt(Text, Value) && Value > 0) Settings.WriteString(S, Key[0], Text);
    }
    // A level that follows the picture stays so.
    if (Format.ReadString(S, "paraLevel", "") == "auto") Settings.WriteString(S, "paraLevel", "auto");
    const std::string Coder = Format.ReadString(S, "paraCoder", "1");
    Settings.WriteString(S, "paraCoder", TryStrToInt(Coder, Value) && Value >= 0 ? Coder : "1");
}

QComboBox* PickList(QWidget* Parent, const char* Name) {
    auto* Combo = new QComboBox(Parent);
    Combo->setObjectName(Name);
    Combo->setEditable(false);
    Combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo->setMinimumContentsLength(4);
    Combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return Combo;
}

QLabel* Caption(const char* Text, QWidget* Parent) {
    auto* Label = new QLabel(Text, Parent);
    Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return Label;
}

}  // namespace

TfrmSettings::TfrmSettings(QWidget* Parent) : QDialog(Parent) { CreateControls(); }

TfrmSettings::TfrmSettings(const TProfileFiles& Files, QWidget* Parent) : QDialog(Parent), FFiles(Files) {
    CreateControls();
}

const QString TfrmSettings::CopyNoteText =
    "Copied as they are: size, crop, frame rate and a size to fit do not apply.";
const QString TfrmSettings::CopyNoteDetail =
    "The picture and sound are copied as they are, so size, crop, frame rate and a size to fit do not apply. "
    "Streams the container cannot hold are converted with the settings here, and the log names them.";

void TfrmSettings::CreateControls() {
    setObjectName("frmSettings");
    setWindowTitle("Settings");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblOutputFormat = new QLabel("Output Format:", this);
    lblOutputFormat->setObjectName("lblOutputFormat");
    cbOutputFormat = new QComboBox(this);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbOutputFormat->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    lblOutputFormat->setBuddy(cbOutputFormat);

    grpVideo = new QGroupBox("Video Options", this);
    grpVideo->setObjectName("grpVideo");
    cmbVideoSize = PickList(grpVideo, "cmbVideoSize");
    cmbVideoBitRate = PickList(grpVideo, "cmbVideoBitRate");
    cmbVideoEncoder = PickList(grpVideo, "cmbVideoEncoder");
    cmbFrameRate = PickList(grpVideo, "cmbFrameRate");

    cmbSpeed = PickList(grpVideo, "cmbSpeed");
    chkQuality = new QCheckBox("Constant quality, within the profile's peak rate", grpVideo);
    chkQuality->setObjectName("chkQuality");
    trkQuality = new QSlider(Qt::Horizontal, grpVideo);
    trkQuality->setObjectName("trkQuality");
    trkQuality->setTickPosition(QSlider::TicksBelow);
    trkQuality->setSingleStep(1);
    trkQuality->setPageStep(5);
    lblQualityValue = new QLabel(grpVideo);
    lblQualityValue->setObjectName("lblQualityValue");
    lblQualityValue->setMinimumWidth(lblQualityValue->fontMetrics().horizontalAdvance("000"));
    lblQualityHint = new QLabel(grpVideo);
    lblQualityHint->setObjectName("lblQualityHint");
    lblQualityHint->setEnabled(false);

    grpAudio = new QGroupBox("Audio Options", this);
    grpAudio->setObjectName("grpAudio");
    cmbSamplerate = PickList(grpAudio, "cmbSamplerate");
    cmbChannel = PickList(grpAudio, "cmbChannel");
    cmbAudioEncoder = PickList(grpAudio, "cmbAudioEncoder");
    cmbAudioBitRate = PickList(grpAudio, "cmbAudioBitRate");
    cmbVolume = PickList(grpAudio, "cmbVolume");

    FCombos[pVideoSize] = cmbVideoSize;
    FCombos[pVideoBitRate] = cmbVideoBitRate;
    FCombos[pFrameRate] = cmbFrameRate;
    FCombos[pVideoEncoder] = cmbVideoEncoder;
    FCombos[pAudioBitRate] = cmbAudioBitRate;
    FCombos[pSampleRate] = cmbSamplerate;
    FCombos[pAudioEncoder] = cmbAudioEncoder;
    FCombos[pChannel] = cmbChannel;
    FCombos[pVolume] = cmbVolume;

    // Two columns per group: short captions with the lists whose items are
    // long (the channels) on the left, the long captions of the numeric
    // lists on the right.
    struct TRow {
        const char* Caption;
        QComboBox* Combo;
        int Row, Column;
    };
    const TRow VideoRows[] = {{"Resloution:", cmbVideoSize, 0, 0},
                              {"Encoder:", cmbVideoEncoder, 1, 0},
                              {"BitRate (Kbps):", cmbVideoBitRate, 0, 1},
                              {"FrameRate (Fps):", cmbFrameRate, 1, 1}};
    const TRow AudioRows[] = {{"Encoder:", cmbAudioEncoder, 0, 0},
                              {"Channel:", cmbChannel, 1, 0},
                              {"Volume:", cmbVolume, 2, 0},
                              {"SampleRate (Hz):", cmbSamplerate, 0, 1},
                              {"BitRate (Kbps):", cmbAudioBitRate, 1, 1}};
    // Both groups share their caption widths, so their lists line up.
    int CaptionWidth[2] = {0, 0};
    std::vector<std::pair<QLabel*, int>> Captions;
    std::vector<QGridLayout*> Grids;
    auto Fill = [&](QGroupBox* Group, const TRow* Rows, size_t Count) {
        auto* Grid = new QGridLayout(Group);
        Grids.push_back(Grid);
        Grid->setContentsMargins(8, 8, 8, 10);
        Grid->setHorizontalSpacing(6);
        Grid->setVerticalSpacing(8);
        for (size_t I = 0; I < Count; ++I) {
            QLabel* Label = Caption(Rows[I].Caption, Group);
            Label->setBuddy(Rows[I].Combo);
            if (Rows[I].Combo == cmbVideoBitRate) lblVideoBitRate = Label;
            Grid->addWidget(Label, Rows[I].Row, 2 * Rows[I].Column);
            Grid->addWidget(Rows[I].Combo, Rows[I].Row, 2 * Rows[I].Column + 1);
            CaptionWidth[Rows[I].Column] = std::max(CaptionWidth[Rows[I].Column], Label->sizeHint().width());
            Captions.emplace_back(Label, Rows[I].Column);
        }
        Grid->setColumnStretch(1, 3);
        Grid->setColumnStretch(3, 2);
    };
    Fill(grpVideo, VideoRows, std::size(VideoRows));
    Fill(grpAudio, AudioRows, std::size(AudioRows));
    {
        // The speed list takes the bit-rate list's place; the quality
        // slider its own row with the encoder's scale and a hint.
        QGridLayout* Grid = Grids.front();
        lblSpeed = Caption("Speed:", grpVideo);
        lblSpeed->setBuddy(cmbSpeed);
        Grid->addWidget(lblSpeed, 0, 2);
        Grid->addWidget(cmbSpeed, 0, 3);
        Captions.emplace_back(lblSpeed, 1);
        Grid->addWidget(chkQuality, 2, 0, 1, 4);
        lblQuality = Caption("Quality:", grpVideo);
        lblQuality->setBuddy(trkQuality);
        Captions.emplace_back(lblQuality, 0);
        auto* Slider = new QHBoxLayout;
        Slider->setSpacing(6);
        Slider->addWidget(trkQuality, 1);
        Slider->addWidget(lblQualityValue);
        Grid->addWidget(lblQuality, 3, 0);
        Grid->addLayout(Slider, 3, 1, 1, 3);
        Grid->addWidget(lblQualityHint, 4, 1, 1, 3);

        lblFitSize = Caption("Fit in", grpVideo);
        edtFitSize = new QLineEdit(grpVideo);
        edtFitSize->setObjectName("edtFitSize");
        // Decimal megabytes with a point, whatever the desktop's language.
        auto* Sizes = new QDoubleValidator(0.0, 1e6, 3, edtFitSize);
        Sizes->setNotation(QDoubleValidator::StandardNotation);
        Sizes->setLocale(QLocale::c());
        edtFitSize->setValidator(Sizes);
        edtFitSize->setPlaceholderText("any size");
        edtFitSize->setToolTip("The file is made at most this size (1 MB = 1,000,000 bytes), at the bit rate "
                               "that fills it, in two passes; constant quality gives way to it. Empty for no limit.");
        edtFitSize->setMaximumWidth(edtFitSize->fontMetrics().horizontalAdvance("0000.000") + 16);
        lblFitSize->setBuddy(edtFitSize);
        lblFitSizeUnit = new QLabel("MB", grpVideo);
        Captions.emplace_back(lblFitSize, 0);
        auto* Fit = new QHBoxLayout;
        Fit->setSpacing(6);
        Fit->addWidget(edtFitSize);
        Fit->addWidget(lblFitSizeUnit);
        Fit->addStretch(1);
        Grid->addWidget(lblFitSize, 5, 0);
        Grid->addLayout(Fit, 5, 1, 1, 3);
        lblCopyNote = new QLabel(CopyNoteText, grpVideo);
        lblCopyNote->setObjectName("lblCopyNote");
        lblCopyNote->setToolTip(CopyNoteDetail);
        Grid->addWidget(lblCopyNote, 6, 0, 1, 4);
    }
    for (auto& [Label, Column] : Captions) Label->setMinimumWidth(CaptionWidth[Column]);
    connect(trkQuality, &QSlider::valueChanged, this, [this](int V) { lblQualityValue->setNum(V); });
    connect(chkQuality, &QCheckBox::toggled, this, [this] { ShowRateMode(); });
    connect(cmbVideoEncoder, &QComboBox::currentIndexChanged, this, [this] { UpdateRateControls(false); });

    btnDefault = new QPushButton("&Default", this);
    btnDefault->setObjectName("btnDefault");
    btnOk = new QPushButton("&Ok", this);
    btnOk->setObjectName("btnOk");
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    // Enter in a list must not press a button the user did not choose.
    for (QPushButton* Button : {btnDefault, btnOk, btnCancel}) Button->setAutoDefault(false);
    // Return takes the choices, Escape leaves them.
    btnOk->setDefault(true);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmSettings::btnDefaultClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, &TfrmSettings::cbOutputFormatChange);

    auto* Top = new QHBoxLayout;
    Top->setSpacing(6);
    Top->addWidget(lblOutputFormat);
    Top->addWidget(cbOutputFormat, 1);

    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(btnDefault);
    Buttons->addStretch();
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(10, 12, 10, 12);
    Main->setSpacing(10);
    Main->addLayout(Top);
    Main->addWidget(grpVideo);
    Main->addWidget(grpAudio);
    Main->addStretch();
    Main->addLayout(Buttons);
    resize(ShownWidth, ShownHeight);
}

void TfrmSettings::SetCatalogue(const QStringList& Names, int Selected) {
    FCatalogue = Names;
    FSelected = Selected;
}

void TfrmSettings::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmSettings::FormShow() {
    setFixedSize(ShownWidth, ShownHeight);
    ApplyCurrentTheme(this);
    QStringList Names = FCatalogue;
    if (Names.isEmpty()) Names = CatalogueNames();
    {
        QSignalBlocker Block(cbOutputFormat);
        FillProfileList(cbOutputFormat, Names);
        SelectProfile(cbOutputFormat, FSelected >= 0 && FSelected < Names.size() ? FSelected : 0);
    }
    FillLists(SelectedProfile(cbOutputFormat));
}

void TfrmSettings::FillLists(int N) {
    const IniFile Format(FFiles.FormatIni);
    const IniFile Settings(FFiles.SettingsIni);
    const std::string S = ProfileSection(N);
    for (size_t K = 0; K < FCombos.size(); ++K) {
        QComboBox* Combo = FCombos[K];
        const TProfileParameter& P = ProfileParameters[K];
        const std::string Value = Format.ReadString(S, P.ListKey, "null");
        // An empty list means "does not apply" for the encoders and the
        // audio lists; the three other video lists then offer one empty item.
        const bool EmptyIsNull = K >= pVideoEncoder;
        QSignalBlocker Block(Combo);
        Combo->clear();
        if (Value == "null" || (EmptyIsNull && Value.empty())) {
            Combo->setEnabled(false);
        } else {
            for (const std::string& Item : SplitChoiceList(Value)) Combo->addItem(QString::fromStdString(Item));
            Combo->setEnabled(true);
        }
        // A stored position outside the list selects nothing.
        Combo->setCurrentIndex(Settings.ReadInteger(S, P.IndexKey, 0));
        Combo->setMaxVisibleItems(std::max(1, Combo->count()));
    }
    // The video lists apply only with a video encoder; one without items
    // ("null") stays disabled even then.
    const bool Video = cmbVideoEncoder->count() > 0;
    for (QComboBox* Combo : {cmbVideoSize, cmbVideoBitRate, cmbVideoEncoder, cmbFrameRate})
        Combo->setEnabled(Video && Combo->count() > 0);
    // A copy keeps the picture as it is: its lists say so rather than
    // standing empty.
    const bool Copies = N >= 0 && ProfileCopiesStreams(FFiles, N);
    lblCopyNote->setVisible(Copies);
    for (QComboBox* Combo : {cmbVideoSize, cmbFrameRate, cmbVideoBitRate})
        Combo->setToolTip(Copies ? CopyNoteDetail : QString());
    UpdateRateControls(false);
    UpdateFitSize(false);
}

void TfrmSettings::UpdateFitSize(bool Reset) {
    // A copy keeps the source's bit rate, so it takes no size either.
    const int Profile = SelectedProfile(cbOutputFormat);
    const bool Video = cmbVideoEncoder->count() > 0 && !(Profile >= 0 && ProfileCopiesStreams(FFiles, Profile));
    for (QWidget* W : std::initializer_list<QWidget*>{lblFitSize, edtFitSize, lblFitSizeUnit}) W->setVisible(Video);
    const std::string S = ProfileSection(Profile);
    const std::string Stored = Reset || !Video ? "" : IniFile(FFiles.SettingsIni).ReadString(S, "paraFitSize", "");
    edtFitSize->setText(QString::fromStdString(Trim(Stored)));
}

void TfrmSettings::UpdateRateControls(bool Reset) {
    const IniFile Format(FFiles.FormatIni);
    const IniFile Settings(FFiles.SettingsIni);
    const std::string S = ProfileSection(SelectedProfile(cbOutputFormat));
    auto Value = [&](const char* Key, const std::string& Default) {
        const std::string Shipped = Format.ReadString(S, Key, Default);
        return Reset ? Shipped : Settings.ReadString(S, Key, Shipped);
    };
    const TQualityScale* Scale =
        cmbVideoEncoder->isEnabled() ? QualityScaleFor(VideoEncoderValue(ItemText(cmbVideoEncoder))) : nullptr;
    const bool QualityOnly = Scale && cmbVideoBitRate->count() == 0;
    chkQuality->setVisible(Scale && !QualityOnly);
    if (Scale) {
        QSignalBlocker BlockSlider(trkQuality), BlockSpeed(cmbSpeed), BlockCheck(chkQuality);
        trkQuality->setRange(Scale->Min, Scale->Max);
        trkQuality->setTickInterval(Scale->Max - Scale->Min > 40 ? 10 : 5);
        int Quality = Scale->Default;
        if (!TryStrToInt(Value("paraQuality", ""), Quality)) Quality = Scale->Default;
        trkQuality->setValue(Quality);
        lblQualityValue->setNum(trkQuality->value());
        lblQualityHint->setText(QString::fromUtf8(Scale->Hint));
        cmbSpeed->clear();
        for (const std::string& Speed : SplitChoiceList(Scale->Speeds)) cmbSpeed->addItem(QString::fromStdString(Speed));
        int Speed = cmbSpeed->findText(QString::fromStdString(Value("paraSpeed", Scale->DefaultSpeed)));
        cmbSpeed->setCurrentIndex(Speed >= 0 ? Speed : cmbSpeed->findText(Scale->DefaultSpeed));
        cmbSpeed->setMaxVisibleItems(cmbSpeed->count());
        chkQuality->setChecked(QualityOnly || Value("paraRateMode", "bitrate") == "quality");
    }
    ShowRateMode();
}

void TfrmSettings::ShowRateMode() {
    const bool Quality = chkQuality->isChecked() && cmbVideoEncoder->isEnabled() &&
                         QualityScaleFor(VideoEncoderValue(ItemText(cmbVideoEncoder)));
    lblVideoBitRate->setVisible(!Quality);
    cmbVideoBitRate->setVisible(!Quality);
    for (QWidget* W : std::initializer_list<QWidget*>{lblSpeed, cmbSpeed, lblQuality, trkQuality, lblQualityValue,
                                                      lblQualityHint})
        W->setVisible(Quality);
}

void TfrmSettings::cbOutputFormatChange(int) { FillLists(SelectedProfile(cbOutputFormat)); }

void TfrmSettings::btnDefaultClick() {
    const IniFile Format(FFiles.FormatIni);
    const std::string S = ProfileSection(SelectedProfile(cbOutputFormat));
    for (size_t K = 0; K < FCombos.size(); ++K)
        FCombos[K]->setCurrentIndex(Format.ReadInteger(S, ProfileParameters[K].IndexKey, 0));
    UpdateRateControls(true);
    UpdateFitSize(true);
}

void TfrmSettings::WriteChoices(int Profile) {
    IniFile Settings(FFiles.SettingsIni);
    const IniFile Format(FFiles.FormatIni);
    const std::string S = ProfileSection(Profile);
    // A size that is no size stops OK before anything is written.
    const std::string FitSize = Trim(edtFitSize->text().toStdString());
    const bool Video = cmbVideoEncoder->count() > 0 && !ProfileCopiesStreams(FFiles, Profile);
    if (Video) FitSizeBytes(FitSize);

    TAppSettings(FFiles.SettingsIni).SetOutputFormat(Profile);
    Settings.WriteString(S, "Description", Profile < FCatalogue.size() ? FCatalogue[Profile].toStdString()
                                                                       : std::string(ProfileNames[Profile]));
    for (size_t K = 0; K < FCombos.size(); ++K)
        Settings.WriteInteger(S, ProfileParameters[K].IndexKey, FCombos[K]->currentIndex());

    Settings.WriteString(S, "paraVideoSize", ItemText(cmbVideoSize));
    Settings.WriteString(S, "paraVideoBitRate", ItemText(cmbVideoBitRate));
    Settings.WriteString(S, "paraFrameRate", ItemText(cmbFrameRate));

    const std::string Encoder = ItemText(cmbVideoEncoder);
    WriteMapped(Settings, S, "paraVideoEncoder", VideoEncoderValue(Encoder));
    if (LowerCase(Encoder) == "h264") CopyH264Values(Format, Settings, S);

    Settings.WriteString(S, "paraSampleRate", ItemText(cmbSamplerate));
    Settings.WriteString(S, "paraAudioBitRate", ItemText(cmbAudioBitRate));

    WriteMapped(Settings, S, "paraChannel", ChannelValue(ItemText(cmbChannel)));
    // Without a volume item there is nothing to convert and nothing to write.
    if (cmbVolume->currentIndex() >= 0) WriteMapped(Settings, S, "paraVolume", VolumeValue(ItemText(cmbVolume)));
    WriteMapped(Settings, S, "paraAudioEncoder", AudioEncoderValue(ItemText(cmbAudioEncoder)));

    if (QualityScaleFor(VideoEncoderValue(Encoder)) && cmbVideoEncoder->isEnabled()) {
        Settings.WriteString(S, "paraRateMode", chkQuality->isChecked() ? "quality" : "bitrate");
        Settings.WriteInteger(S, "paraQuality", trkQuality->value());
        Settings.WriteString(S, "paraSpeed", ItemText(cmbSpeed));
    }
    if (Video) Settings.WriteString(S, "paraFitSize", FitSize);
}

void TfrmSettings::btnOkClick() {
    const int Profile = SelectedProfile(cbOutputFormat);
    if (Profile < 0) return;
    try {
        WriteChoices(Profile);
    } catch (...) {
        ShowApplicationException(std::current_exception());
        return;
    }
    if (FSelectProfile) FSelectProfile(Profile);
    accept();
}

void TfrmSettings::btnCancelClick() { reject(); }
