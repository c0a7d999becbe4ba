#include "dialogs/WinPreference.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "app/GlobalUnit.h"
#include "dialogs/Directory.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

const char* const TfrmPreference::CompressionHint =
    "Use Compression Quality to set the compression quality of the \r\nJPEG image when writing out a snapshot jpeg "
    "image. Higher compression \r\nresults in a poorer picture quality, but a smaller file size. \r\n\r\n The higher "
    "the Compression Quality value (up to a maximum of 100), \r\nthe better the image quality, but the larger the "
    "file size. \r\nThe lower the Compression Quality value (to a minimum of 1),\r\n the smaller the resulting file "
    "size, but at the expense of picture quality.";

namespace {

const char* const PriorityNames[] = {"Idle", "Normal", "Lower", "Lowest"};
constexpr int NormalPriority = 1;

// Tool tips break lines at "\n" only.
QString HintText(const char* Text) { return QString::fromLatin1(Text).replace("\r\n", "\n"); }

// A spin box changed with its arrows only.
QSpinBox* ArrowSpin(QWidget* Parent, const char* Name, int Minimum, int Maximum) {
    auto* Spin = new QSpinBox(Parent);
    Spin->setObjectName(Name);
    Spin->setRange(Minimum, Maximum);
    if (auto* Edit = Spin->findChild<QLineEdit*>()) Edit->setReadOnly(true);
    Spin->setMinimumWidth(64);
    return Spin;
}

QCheckBox* Check(QWidget* Parent, const char* Name, const char* Text) {
    auto* Box = new QCheckBox(Text, Parent);
    Box->setObjectName(Name);
    return Box;
}

}  // namespace

TfrmPreference::TfrmPreference(const std::string& SettingsIni, QWidget* Parent)
    : QDialog(Parent), FSettingsIni(SettingsIni) {
    setObjectName("frmPreference");
    setWindowTitle("Preference");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblSnapDirectory = new QLabel("Snapshot folder:", this);
    lblSnapDirectory->setObjectName("lblSnapDirectory");
    edtSnapDirectory = new QLineEdit(this);
    edtSnapDirectory->setObjectName("edtSnapDirectory");
    edtSnapDirectory->setReadOnly(true);
    lblSnapDirectory->setBuddy(edtSnapDirectory);
    btnBrows = new QPushButton("&Brows", this);
    btnBrows->setObjectName("btnBrows");
    btnOpen = new QPushButton("&Open", this);
    btnOpen->setObjectName("btnOpen");

    ckSmallSize = Check(this, "ckSmallSize", "Small Size");
    ckFullSize = Check(this, "ckFullSize", "Full Size");
    ckBmp = Check(this, "ckBmp", "BMP");
    ckJpg = Check(this, "ckJpg", "JPG");

    spedCmp = ArrowSpin(this, "spedCmp", 1, 100);
    spedCmp->setToolTip(HintText(CompressionHint));
    trcCmp = new QSlider(Qt::Horizontal, this);
    trcCmp->setObjectName("trcCmp");
    trcCmp->setRange(1, 100);
    trcCmp->setTickInterval(10);
    trcCmp->setTickPosition(QSlider::TicksBelow);
    trcCmp->setSingleStep(1);
    trcCmp->setPageStep(10);
    auto* QualityNote = new QLabel("(The higher the value, the better the image quality.)", this);

    rdGrpPriority = new QGroupBox("Work priority", this);
    rdGrpPriority->setObjectName("rdGrpPriority");
    rdGrpPriorityItems = new QButtonGroup(rdGrpPriority);
    rdGrpPriorityItems->setExclusive(true);
    auto* PriorityGrid = new QGridLayout(rdGrpPriority);
    PriorityGrid->setContentsMargins(10, 6, 10, 8);
    for (int I = 0; I < 4; ++I) {
        auto* Item = new QRadioButton(PriorityNames[I], rdGrpPriority);
        Item->setObjectName(QString("rdPriority%1").arg(PriorityNames[I]));
        rdGrpPriorityItems->addButton(Item, I);
        PriorityGrid->addWidget(Item, 0, I);
        PriorityGrid->setColumnStretch(I, 1);
    }

    auto* JobsCaption = new QLabel("Conversions at once:", this);
    spedJobs = ArrowSpin(this, "spedJobs", 1, MaxJobs());
    spedJobs->setToolTip("How many files a batch converts at the same time (at most one per processor core).");
    JobsCaption->setBuddy(spedJobs);
    ckKeepList = Check(this, "ckKeepList", "&Keep the file list for the next start");
    ckKeepList->setToolTip("Files, checks, trims and crops in the list when the program closes are there again "
                           "at its next start.");

    btnDefault = new QPushButton("&Default", this);
    btnDefault->setObjectName("btnDefault");
    btnOk = new QPushButton("&Ok", this);
    btnOk->setObjectName("btnOk");
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    for (QPushButton* Button : {btnBrows, btnOpen, btnDefault, btnOk, btnCancel}) Button->setAutoDefault(false);
    // Return takes the choices, Escape leaves them.
    btnOk->setDefault(true);

    connect(btnOk, &QPushButton::clicked, this, &TfrmPreference::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmPreference::btnCancelClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmPreference::btnDefaultClick);
    connect(btnBrows, &QPushButton::clicked, this, &TfrmPreference::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmPreference::btnOpenClick);
    // The rules run on the user's clicks only, never when the dialog sets a box.
    connect(ckFullSize, &QCheckBox::clicked, this, &TfrmPreference::ckFullSizeClick);
    connect(ckSmallSize, &QCheckBox::clicked, this, &TfrmPreference::ckSmallSizeClick);
    connect(ckBmp, &QCheckBox::clicked, this, &TfrmPreference::ckBmpClick);
    connect(ckJpg, &QCheckBox::clicked, this, &TfrmPreference::ckJpgClick);
    connect(trcCmp, &QSlider::valueChanged, this, &TfrmPreference::trcCmpChange);
    connect(spedCmp, &QSpinBox::valueChanged, this, &TfrmPreference::spedCmpChange);

    auto* Folder = new QHBoxLayout;
    Folder->setSpacing(6);
    Folder->addWidget(edtSnapDirectory, 1);
    Folder->addWidget(btnBrows);
    Folder->addWidget(btnOpen);

    auto* Choices = new QGridLayout;
    Choices->setHorizontalSpacing(12);
    Choices->setVerticalSpacing(6);
    Choices->addWidget(new QLabel("Snapshot size:", this), 0, 0);
    Choices->addWidget(ckSmallSize, 0, 1);
    Choices->addWidget(ckFullSize, 0, 2);
    Choices->addWidget(new QLabel("Snapshot format:", this), 1, 0);
    Choices->addWidget(ckBmp, 1, 1);
    Choices->addWidget(ckJpg, 1, 2);
    auto* QualityCaption = new QLabel("Jpg Compression Quality:", this);
    QualityCaption->setBuddy(spedCmp);
    Choices->addWidget(QualityCaption, 2, 0);
    Choices->addWidget(spedCmp, 2, 1, Qt::AlignLeft);
    Choices->setColumnStretch(3, 1);

    auto* Jobs = new QHBoxLayout;
    Jobs->setSpacing(12);
    Jobs->addWidget(JobsCaption);
    Jobs->addWidget(spedJobs);
    Jobs->addStretch();

    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(btnDefault);
    Buttons->addStretch();
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(12, 10, 12, 10);
    Main->setSpacing(6);
    Main->addWidget(lblSnapDirectory);
    Main->addLayout(Folder);
    Main->addSpacing(4);
    Main->addLayout(Choices);
    Main->addWidget(trcCmp);
    Main->addWidget(QualityNote);
    Main->addSpacing(4);
    Main->addWidget(rdGrpPriority);
    Main->addLayout(Jobs);
    Main->addWidget(ckKeepList);
    Main->addStretch();
    Main->addLayout(Buttons);
    resize(ShownWidth, ShownHeight);
}

int TfrmPreference::MaxJobs() { return std::max(1, QThread::idealThreadCount()); }

int TfrmPreference::StoredJobs(const std::string& SettingsIni) {
    const int Stored = IniFile(SettingsIni).ReadInteger(SettingsKeys::Section, JobsKey, 1);
    return std::clamp(Stored, 1, MaxJobs());
}

int TfrmPreference::PriorityIndex() const { return rdGrpPriorityItems->checkedId(); }

void TfrmPreference::SetPriorityIndex(int Index) {
    // A value the batch does not know runs at normal priority; show that.
    if (Index < 0 || Index > 3) Index = NormalPriority;
    rdGrpPriorityItems->button(Index)->setChecked(true);
}

void TfrmPreference::SetQualityEnabled(bool Enabled) {
    spedCmp->setEnabled(Enabled);
    trcCmp->setEnabled(Enabled);
}

void TfrmPreference::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmPreference::FormShow() {
    setFixedSize(ShownWidth, ShownHeight);
    trcCmp->setRange(1, 100);
    spedCmp->setRange(1, 100);
    ApplyCurrentTheme(this);

    const TAppSettings Settings(FSettingsIni);
    edtSnapDirectory->setText(QString::fromStdString(Settings.SnapOutputDir()));
    edtSnapDirectory->setCursorPosition(0);
    edtSnapDirectory->setToolTip(edtSnapDirectory->text());
    QPalette Light = edtSnapDirectory->palette();
    Light.setColor(QPalette::Base, Colour3DLight());
    edtSnapDirectory->setPalette(Light);

    ckFullSize->setChecked(Settings.SnapFullSize());
    ckSmallSize->setChecked(Settings.SnapSmallSize());
    ckBmp->setChecked(Settings.SnapBmp());
    ckJpg->setChecked(Settings.SnapJpg());
    SetQualityEnabled(Settings.SnapJpg());
    // Both controls clamp to 1..100.
    spedCmp->setValue(Settings.JpgQuality());
    trcCmp->setValue(Settings.JpgQuality());
    SetPriorityIndex(Settings.Priority());
    spedJobs->setRange(1, MaxJobs());
    spedJobs->setValue(StoredJobs(FSettingsIni));
    ckKeepList->setChecked(Settings.KeepList());
    // Focus starts on OK, so the folder field shows the start of its path.
    btnOk->setFocus();
}

void TfrmPreference::ckFullSizeClick() {
    if (!ckSmallSize->isChecked()) ckFullSize->setChecked(true);
}

void TfrmPreference::ckSmallSizeClick() {
    if (!ckFullSize->isChecked()) ckSmallSize->setChecked(true);
}

void TfrmPreference::ckBmpClick() {
    if (!ckJpg->isChecked()) ckBmp->setChecked(true);
}

void TfrmPreference::ckJpgClick() {
    if (!ckBmp->isChecked()) ckJpg->setChecked(true);
    SetQualityEnabled(ckJpg->isChecked());
}

void TfrmPreference::trcCmpChange(int Position) {
    if (Position >= 1 && Position <= 100) spedCmp->setValue(Position);
}

void TfrmPreference::spedCmpChange(int Value) {
    if (Value >= 1 && Value <= 100) trcCmp->setValue(Value);
}

void TfrmPreference::btnBrowsClick() {
    if (!FChooser) FChooser = new TfmDirectory(this);
    FChooser->SetStartFolder(edtSnapDirectory->text().toStdString());
    FChooser->exec();
    const std::string Chosen = FChooser->ChosenFolder();
    if (Chosen.empty() || QString::fromStdString(Chosen) == edtSnapDirectory->text()) return;
    // The choice is stored at once; Cancel does not take it back.
    TAppSettings(FSettingsIni).Ini().WriteString(SettingsKeys::Section, "SnapOutPutDir", Chosen);
    edtSnapDirectory->setText(QString::fromStdString(Chosen));
    edtSnapDirectory->setCursorPosition(0);
    edtSnapDirectory->setToolTip(edtSnapDirectory->text());
}

void TfrmPreference::btnOpenClick() {
    const std::string Folder = TAppSettings(FSettingsIni).SnapOutputDir();
    if (edtSnapDirectory->text().size() <= 2) return;
    if (!Platform().OpenFolder(Folder))
        ShowMessageBox("Warning", "Cannot open the folder " + Folder + ".", TMessageKind::Warning);
}

void TfrmPreference::btnDefaultClick() {
    edtSnapDirectory->setText(QString::fromStdString(DefaultOutputFolder()));
    edtSnapDirectory->setCursorPosition(0);
    edtSnapDirectory->setToolTip(edtSnapDirectory->text());
    ckBmp->setChecked(true);
    ckJpg->setChecked(false);
    SetQualityEnabled(false);
    ckFullSize->setChecked(true);
    ckSmallSize->setChecked(false);
    SetPriorityIndex(NormalPriority);
    spedCmp->setValue(DefaultQuality);
    trcCmp->setValue(DefaultQuality);
    spedJobs->setValue(1);
    ckKeepList->setChecked(true);
}

void TfrmPreference::btnOkClick() {
    TAppSettings Settings(FSettingsIni);
    Settings.SetSnapOutputDir(edtSnapDirectory->text().toStdString());
    Settings.SetSnapFlags(ckFullSize->isChecked(), ckSmallSize->isChecked(), ckBmp->isChecked(), ckJpg->isChecked());
    Settings.SetJpgQuality(spedCmp->value());
    Settings.SetPriority(PriorityIndex());
    Settings.Ini().WriteInteger(SettingsKeys::Section, JobsKey, spedJobs->value());
    Settings.SetKeepList(ckKeepList->isChecked());
    accept();
}

void TfrmPreference::btnCancelClick() { reject(); }
