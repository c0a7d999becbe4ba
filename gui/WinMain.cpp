#include "gui/WinMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "common/Files.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinTrim.h"
#include "gui/BatchRun.h"
#include "gui/FileList.h"
#include "gui/LogWindow.h"
#include "widgets/Artwork.h"
#include "widgets/Controls.h"
#include "widgets/PictureView.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace {

QAction* Entry(QMenu* Menu, const char* Name, const QString& Caption) {
    QAction* A = Menu->addAction(Caption);
    A->setObjectName(QString::fromLatin1(Name));
    return A;
}

// The placeholder shown in the preview area while nothing plays.
QPixmap PlaceholderPicture(const QSize& Size) {
    QPixmap Picture(Size);
    Picture.fill(PreviewBackground);
    QPainter Painter(&Picture);
    Painter.setRenderHint(QPainter::Antialiasing);
    const QPixmap Icon = ProductIcon(72);
    Painter.drawPixmap((Size.width() - Icon.width()) / 2, (Size.height() - Icon.height()) / 2 - 12, Icon);
    Painter.setPen(QColor(40, 70, 120));
    Painter.drawText(QRect(0, Size.height() / 2 + 36, Size.width(), 24), Qt::AlignCenter, "Fast preview");
    return Picture;
}

bool ReportTimes() {
    const char* Value = std::getenv("TARN_REPORT_SHOWN");
    return Value && std::string(Value) == "1";
}

// Seconds since the epoch, for the start-up benchmark.
double WallClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

const char* const SkinObjectNames[ThemeCount] = {"SkinDefault", "SkinGray",  "SkinOrange",   "SkinPurple",
                                                  "SkinRed",     "SkinGreen", "SkinLightBlue"};

}  // namespace

TfrmMain::TfrmMain(const TStartOptions& Options, QWidget* Parent) : QMainWindow(Parent) {
    setObjectName("frmMain");

    FGlobal = std::make_unique<TGlobalObject>();
    GlobalObject = FGlobal.get();
    FGlobal->LocateFiles(ExecutableFolder());
    if (!Options.SettingsFile.empty()) FGlobal->SetSettingsIni(Options.SettingsFile);
    if (!Options.ProfilesFile.empty()) FGlobal->SetFormatIni(Options.ProfilesFile);
    // The help page ships with the data; the home and support pages are its
    // sections about the project and about getting help.
    QUrl Help = QUrl::fromLocalFile(QString::fromStdString(AppDataFolder()) + "help/index.html");
    FGlobal->SetHelpPageURL(Help.toString(QUrl::FullyEncoded).toStdString());
    Help.setFragment("project");
    FGlobal->SetHomePageURL(Help.toString(QUrl::FullyEncoded).toStdString());
    Help.setFragment("support");
    FGlobal->SetSupportPageURL(Help.toString(QUrl::FullyEncoded).toStdString());
    // Copies outlive GlobalObject, which the close query frees.
    FSettingsIni = FGlobal->SettingsIni();
    FFormatIni = FGlobal->FormatIni();
    FHelpPageURL = FGlobal->HelpPageURL();
    FHomePageURL = FGlobal->HomePageURL();
    FSupportPageURL = FGlobal->SupportPageURL();
    for (const std::string& F : Options.Files) FInitialFiles << QString::fromStdString(F);

    QApplication::setApplicationDisplayName(QString::fromStdString(FGlobal->AppTitle()));
    setWindowTitle(QString::fromStdString(FGlobal->AppTitle()));
    setWindowIcon(QIcon(ProductIcon(64)));
    ApplyTheme(TAppSettings(FSettingsIni).SkinIndex());

    VxAVC.SetThreadPriority(tpLower);
    // The component's delayed starts run on this window's event loop; a
    // start posted after the window is gone is dropped.
    QPointer<TfrmMain> Self(this);
    VxAVC.Post = [Self](std::function<void()> AWork, int ADelayMs) {
        QMetaObject::invokeMethod(
            qApp,
            [Self, AWork = std::move(AWork), ADelayMs]() {
                if (Self) QTimer::singleShot(ADelayMs, Self.data(), AWork);
            },
            Qt::QueuedConnection);
    };

    CreateControls();
    CreateMenus();
    ConnectCommands();
    CreatePreview();
    ReadStartState();
    SetPreviewStartState();
    CreateBatch();
    setFixedSize(FormWidth, FormHeight);
}

TfrmMain::~TfrmMain() {
    // Closing normally ran the close query; a window destroyed without it
    // must not leave events aimed at it. The batch run detaches its own.
    VxAVC.OnLog = nullptr;
    if (GlobalObject == FGlobal.get()) GlobalObject = nullptr;
}

void TfrmMain::CreateBatch() {
    FBatch = std::make_unique<TBatchRun>(
        VxAVC, *FModel, TBatchRun::TButtons{btnAdd, btnRemove, btnClear, btnStart, btnPause, btnResume, btnStop},
        FSettingsIni, FFormatIni, this);
    connect(FBatch.get(), &TBatchRun::RowOpened, this, &TfrmMain::PreviewFile);
    // The preview counts as stopped once the batch is built.
    connect(FBatch.get(), &TBatchRun::Built, this, [this] {
        FStopped = true;
        PreviewFlagsIn();
    });
    connect(FBatch.get(), &TBatchRun::Log, this, &TfrmMain::AppendLog);
    connect(FBatch.get(), &TBatchRun::OpenFolderWanted, this, &TfrmMain::btnOpenClick);
}

void TfrmMain::btnStartClick() {
    if (!FClosing) FBatch->Start(cbOutputFormat->currentIndex());
}

void TfrmMain::CreateControls() {
    auto* Client = new QWidget(this);
    Client->setObjectName("pnlClient");
    setCentralWidget(Client);

    btnAdd = CommandButton(Client, "btnAdd", "&Add", ThemedIcon("list-add", QStyle::SP_DialogOpenButton));
    btnRemove =
        CommandButton(Client, "btnRemove", "&Remove", ThemedIcon("list-remove", QStyle::SP_DialogDiscardButton));
    btnClear = CommandButton(Client, "btnClear", "&Clear", ThemedIcon("edit-clear", QStyle::SP_DialogResetButton));
    btnSettings = CommandButton(Client, "btnSettings", "&Settings",
                                ThemedIcon("preferences-system", QStyle::SP_FileDialogDetailedView));
    btnStart = CommandButton(Client, "btnStart", "&Start", ThemedIcon("system-run", QStyle::SP_MediaSeekForward));
    btnExit =
        CommandButton(Client, "btnExit", "&Exit", ThemedIcon("application-exit", QStyle::SP_DialogCloseButton));
    btnAdd->setToolTip("Add video, audio or picture files to the list");
    btnRemove->setToolTip("Remove the selected file from the list");
    btnClear->setToolTip("Remove all files from the list");
    btnSettings->setToolTip("Settings of the selected output format");
    btnStart->setToolTip("Convert the checked files");
    btnExit->setToolTip("Close the program");
    int X = 8;
    for (QToolButton* B : {btnAdd, btnRemove, btnClear, btnSettings, btnStart, btnExit}) {
        B->setGeometry(X, 2, 68, 54);
        X += B == btnClear ? 84 : 70;
    }
    auto* Rule = new QFrame(Client);
    Rule->setFrameShape(QFrame::HLine);
    Rule->setFrameShadow(QFrame::Sunken);
    Rule->setGeometry(8, 58, 770, 2);

    // The log lies behind the list, which covers it.
    mmoLog = new QPlainTextEdit(Client);
    mmoLog->setObjectName("mmoLog");
    mmoLog->setReadOnly(true);
    mmoLog->setGeometry(8, 66, 522, 340);

    FModel = new TFilesModel(this);
    FModel->setObjectName("lvFilesModel");
    lvFiles = new TFilesView(Client);
    lvFiles->setObjectName("lvFiles");
    lvFiles->setModel(FModel);
    lvFiles->setGeometry(8, 66, 522, 340);
    lvFiles->SetBackgroundPicture(QImage(QString::fromStdString(AppDataFolder()) + "skin/lvBack.bmp"));
    lvFiles->raise();

    lblStatus = new QLabel(Client);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(10, 408, 520, 20);
    lblStatus->setCursor(Qt::PointingHandCursor);
    lblStatus->setToolTip("Click to show the log (Tools > Show Log)");
    lblStatus->installEventFilter(this);

    auto* lblOutputFormat = new QLabel("Output Format:", Client);
    lblOutputFormat->setObjectName("lblOutputFormat");
    lblOutputFormat->setGeometry(8, 434, 112, 26);
    cbOutputFormat = new QComboBox(Client);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->setGeometry(122, 434, 310, 26);
    cbOutputFormat->setMaxVisibleItems(ProfileCount);
    for (const char* Name : ProfileNames) cbOutputFormat->addItem(QString::fromLatin1(Name));
    btnOptions = new QPushButton("Settings", Client);
    btnOptions->setObjectName("btnOptions");
    btnOptions->setGeometry(438, 434, 92, 26);

    auto* lblDirectory = new QLabel("Output Directory:", Client);
    lblDirectory->setObjectName("lblDirectory");
    lblDirectory->setGeometry(8, 468, 112, 26);
    edDirectory = new QLineEdit(Client);
    edDirectory->setObjectName("edDirectory");
    edDirectory->setReadOnly(true);
    edDirectory->setGeometry(122, 468, 212, 26);
    // The system's light 3-D colour of the classic desktop.
    QPalette Field = edDirectory->palette();
    Field.setColor(QPalette::Base, QColor(227, 227, 227));
    edDirectory->setPalette(Field);
    edDirectory->setAutoFillBackground(true);
    btnBrows = new QPushButton("Brows", Client);
    btnBrows->setObjectName("btnBrows");
    btnBrows->setGeometry(340, 468, 92, 26);
    btnBrows->setToolTip("Choose the output folder");
    btnOpen = new QPushButton("Open", Client);
    btnOpen->setObjectName("btnOpen");
    btnOpen->setGeometry(438, 468, 92, 26);
    btnOpen->setToolTip("Open the output folder in the file manager");

    auto* grpPreview = new QGroupBox("Fast preview", Client);
    grpPreview->setObjectName("grpPreview");
    grpPreview->setGeometry(540, 62, 238, 344);
    imgPreview = new TPictureView(grpPreview);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(10, 26, 217, 188);
    imgPreview->ClearCanvas();
    imgPreview1 = new QLabel(grpPreview);
    imgPreview1->setObjectName("imgPreview1");
    imgPreview1->setGeometry(imgPreview->geometry());
    imgPreview1->setPixmap(PlaceholderPicture(imgPreview->size()));
    imgPreview1->raise();
    lblPTS = new QLabel("Time:", grpPreview);
    lblPTS->setObjectName("lblPTS");
    lblPTS->setGeometry(12, 222, 215, 20);
    trcPreview = new QSlider(Qt::Horizontal, grpPreview);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setGeometry(6, 246, 226, 28);
    trcPreview->setRange(0, 0);
    // Ticks come with a file to preview.
    trcPreview->setTickPosition(QSlider::NoTicks);
    imgbtnPlay = PictureButton(grpPreview, "imgbtnPlay", "Play", PictureOf(TPicture::Play));
    imgbtnPause = PictureButton(grpPreview, "imgbtnPause", "Pause", PictureOf(TPicture::Pause));
    imgbtnStop = PictureButton(grpPreview, "imgbtnStop", "Stop", PictureOf(TPicture::Stop));
    imgbtnSnap = PictureButton(grpPreview, "imgbtnSnap", "Save snapshot picture.", PictureOf(TPicture::Snapshot));
    X = 19;
    for (QToolButton* B : {imgbtnPlay, imgbtnPause, imgbtnStop, imgbtnSnap}) {
        B->move(X, 290);
        X += 52;
    }

    btnStartBelow = new QPushButton("&Start", Client);
    btnStartBelow->setObjectName("btnStartBelow");
    btnStartBelow->setIcon(btnStart->icon());
    btnStartBelow->setIconSize(QSize(24, 24));
    btnStartBelow->setGeometry(540, 434, 238, 60);
    btnStartBelow->setToolTip("Convert the checked files");
    QFont Bigger = btnStartBelow->font();
    Bigger.setBold(true);
    Bigger.setPointSizeF(Bigger.pointSizeF() * 1.25);
    btnStartBelow->setFont(Bigger);

    // Batch controls, shown by the batch run only.
    btnPause = new QPushButton("Pause", Client);
    btnPause->setObjectName("btnPause");
    btnResume = new QPushButton("Resume", Client);
    btnResume->setObjectName("btnResume");
    btnStop = new QPushButton("Stop", Client);
    btnStop->setObjectName("btnStop");
    X = 540;
    for (QPushButton* B : {btnPause, btnResume, btnStop}) {
        B->setGeometry(X, 410, 76, 22);
        B->hide();
        X += 81;
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
}

void TfrmMain::CreateMenus() {
    // Entries that nothing else changes are wired here and kept nowhere.
    auto Command = [this](QMenu* Menu, const char* Name, const QString& Caption, void (TfrmMain::*Slot)()) {
        connect(Entry(Menu, Name, Caption), &QAction::triggered, this, Slot);
    };
    QMenuBar* Bar = menuBar();
    QMenu* FileMenu = Bar->addMenu("&File");
    FileMenu->setObjectName("FileMenu");
    Command(FileMenu, "Edit1", "&Add", &TfrmMain::btnAddClick);
    Command(FileMenu, "Remove1", "&Remove", &TfrmMain::btnRemoveClick);
    Command(FileMenu, "Clear1", "&Clear", &TfrmMain::btnClearClick);
    Command(FileMenu, "Start1", "&Start", &TfrmMain::btnStartClick);
    FileMenu->addSeparator();
    Command(FileMenu, "Settings1", "Se&ttings", &TfrmMain::btnSettingsClick);
    Command(FileMenu, "Exit2", "&Exit", &TfrmMain::btnExitClick);

    Edit2 = Bar->addMenu("&Edit");
    Edit2->setObjectName("Edit2");
    Crop1 = Entry(Edit2, "Crop1", "&Crop");
    Trim1 = Entry(Edit2, "Trim1", "&Trim");
    WaterMark1 = Entry(Edit2, "WaterMark1", "&Water Mark");
    Edit2->addSeparator();
    CheckAll1 = Entry(Edit2, "CheckAll1", "&Check All");
    UncheckAll1 = Entry(Edit2, "UncheckAll1", "&Uncheck All");
    ReserveCheck1 = Entry(Edit2, "ReserveCheck1", "&Reverse Check");
    Edit2->addSeparator();
    Check1 = Entry(Edit2, "Check1", "C&heck");
    Uncheck1 = Entry(Edit2, "Uncheck1", "U&ncheck");

    QMenu* ToolsMenu = Bar->addMenu("&Tools");
    ToolsMenu->setObjectName("ToolsMenu");
    Command(ToolsMenu, "Options1", "&Preference", &TfrmMain::ShowPreferences);
    Skin1 = ToolsMenu->addMenu("&Skin");
    Skin1->setObjectName("Skin1");
    for (int I = 0; I < ThemeCount; ++I) {
        QAction* Skin = Entry(Skin1, SkinObjectNames[I], QString::fromLatin1(ThemeName(I)));
        Skin->setCheckable(true);
        connect(Skin, &QAction::triggered, this, [this, I] { SkinClick(I); });
        SkinEntries[static_cast<size_t>(I)] = Skin;
    }
    ToolsMenu->addSeparator();
    Command(ToolsMenu, "ShowLog", "Show &Log", &TfrmMain::ShowLog);

    QMenu* HelpMenu = Bar->addMenu("&Help");
    HelpMenu->setObjectName("HelpMenu");
    Command(HelpMenu, "Help2", "&Help", &TfrmMain::ShowHelp);
    HelpMenu->addSeparator();
    Command(HelpMenu, "WebSite1", "&Web Site", &TfrmMain::ShowHomePage);
    Command(HelpMenu, "SupportandContact1", "&Support and Contact", &TfrmMain::ShowSupportPage);
    Command(HelpMenu, "About", "&About", &TfrmMain::AboutClick);

    ListMenu = new QMenu(this);
    ListMenu->setObjectName("ListMenu");
    Crop2 = Entry(ListMenu, "Crop2", "&Crop");
    Trim2 = Entry(ListMenu, "Trim2", "&Trim");
    WaterMark2 = Entry(ListMenu, "WaterMark2", "&Water Mark");
    Infomation1 = Entry(ListMenu, "Infomation1", "Video Infomation");
    ListMenu->addSeparator();
    AddFiles1 = Entry(ListMenu, "AddFiles1", "Add");
    Remove2 = Entry(ListMenu, "Remove2", "Remove");
    Clear2 = Entry(ListMenu, "Clear2", "Clear");
    Start2 = Entry(ListMenu, "Start2", "Start");

    // The watermark feature is not offered.
    WaterMark1->setVisible(false);
    WaterMark2->setVisible(false);
}

void TfrmMain::ConnectCommands() {
    connect(btnAdd, &QToolButton::clicked, this, &TfrmMain::btnAddClick);
    connect(AddFiles1, &QAction::triggered, this, &TfrmMain::btnAddClick);
    connect(btnRemove, &QToolButton::clicked, this, &TfrmMain::btnRemoveClick);
    connect(Remove2, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
    connect(btnClear, &QToolButton::clicked, this, &TfrmMain::btnClearClick);
    connect(Clear2, &QAction::triggered, this, &TfrmMain::btnClearClick);
    connect(btnStart, &QToolButton::clicked, this, &TfrmMain::btnStartClick);
    connect(btnStartBelow, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
    connect(Start2, &QAction::triggered, this, &TfrmMain::btnStartClick);
    connect(btnSettings, &QToolButton::clicked, this, &TfrmMain::btnSettingsClick);
    connect(btnOptions, &QPushButton::clicked, this, &TfrmMain::btnSettingsClick);
    connect(btnExit, &QToolButton::clicked, this, &TfrmMain::btnExitClick);

    connect(Crop1, &QAction::triggered, this, &TfrmMain::EditCrop);
    connect(Crop2, &QAction::triggered, this, &TfrmMain::EditCrop);
    connect(Trim1, &QAction::triggered, this, &TfrmMain::EditTrim);
    connect(Trim2, &QAction::triggered, this, &TfrmMain::EditTrim);
    connect(WaterMark1, &QAction::triggered, this, &TfrmMain::EditWaterMark);
    connect(WaterMark2, &QAction::triggered, this, &TfrmMain::EditWaterMark);
    connect(Infomation1, &QAction::triggered, this, &TfrmMain::ShowFileInfo);
    connect(CheckAll1, &QAction::triggered, this, &TfrmMain::CheckAll);
    connect(UncheckAll1, &QAction::triggered, this, &TfrmMain::UncheckAll);
    connect(ReserveCheck1, &QAction::triggered, this, &TfrmMain::ReverseChecks);
    connect(Check1, &QAction::triggered, this, &TfrmMain::CheckSelected);
    connect(Uncheck1, &QAction::triggered, this, &TfrmMain::UncheckSelected);

    connect(Edit2, &QMenu::aboutToShow, this, &TfrmMain::EditMenuOpening);
    connect(ListMenu, &QMenu::aboutToShow, this, &TfrmMain::ListMenuOpening);
    connect(Skin1, &QMenu::aboutToShow, this, &TfrmMain::SkinMenuOpening);

    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, &TfrmMain::cbOutputFormatChange);
    connect(edDirectory, &QLineEdit::textChanged, this, &TfrmMain::edDirectoryChange);
    connect(btnBrows, &QPushButton::clicked, this, &TfrmMain::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);

    connect(lvFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::lvFilesContextPopup);
    connect(lvFiles, &QAbstractItemView::doubleClicked, this, &TfrmMain::lvFilesDblClick);
    connect(lvFiles, &TFilesView::FilesDropped, this, [this](const QStringList& Paths) { AddFiles(Paths); });

    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmMain::imgbtnPlayClick);
    connect(imgbtnPause, &QToolButton::clicked, this, &TfrmMain::imgbtnPauseClick);
    connect(imgbtnStop, &QToolButton::clicked, this, &TfrmMain::imgbtnStopClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmMain::imgbtnSnapClick);
    connect(trcPreview, &QSlider::valueChanged, this, &TfrmMain::trcPreviewChange);
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
}

void TfrmMain::ReadStartState() {
    TAppSettings Settings(FSettingsIni);
    // Showing the stored values is no change: nothing is written back.
    const QSignalBlocker BlockFormat(cbOutputFormat);
    const QSignalBlocker BlockDirectory(edDirectory);
    const int Format = Settings.OutputFormat();
    cbOutputFormat->setCurrentIndex(Format >= 0 && Format < ProfileCount ? Format : -1);
    edDirectory->setText(QString::fromStdString(Settings.OutputDir()));
    edDirectory->setCursorPosition(0);
    SetSkinChecks(Settings.SkinIndex());
}

void TfrmMain::SetPreviewStartState() {
    FStopped = true;
    FPaused = false;
    imgbtnPlay->setEnabled(true);
    imgbtnPause->setEnabled(false);
    imgbtnStop->setEnabled(false);
    imgbtnSnap->setEnabled(false);
    trcPreview->setEnabled(false);
    imgPreview1->show();
}

void TfrmMain::showEvent(QShowEvent* Event) {
    QMainWindow::showEvent(Event);
    setFixedSize(FormWidth, FormHeight);
    if (FShownOnce) return;
    FShownOnce = true;
    Timer1->start();
    if (QWindow* Handle = windowHandle()) Handle->installEventFilter(this);
    if (!FInitialFiles.isEmpty()) QTimer::singleShot(0, this, &TfrmMain::AddInitialFiles);
}

bool TfrmMain::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == windowHandle() && Event->type() == QEvent::Expose && !FExposedOnce && windowHandle()->isExposed()) {
        FExposedOnce = true;
        if (ReportTimes()) {
            std::printf("TARN shown %.6f\n", WallClock());
            std::fflush(stdout);
        }
    }
    if (Watched == lblStatus && Event->type() == QEvent::MouseButtonRelease && !lblStatus->text().isEmpty())
        ShowLog();
    return QMainWindow::eventFilter(Watched, Event);
}

void TfrmMain::AddInitialFiles() {
    QStringList Files;
    Files.swap(FInitialFiles);
    const double Begin = WallClock();
    const int Added = AddFiles(Files);
    if (ReportTimes()) {
        std::printf("TARN added %d of %d in %.6f s\n", Added, static_cast<int>(Files.size()), WallClock() - Begin);
        std::fflush(stdout);
    }
    emit InitialFilesAdded(Added);
}

void TfrmMain::closeEvent(QCloseEvent* Event) {
    FClosing = true;
    VxAVC.OnLog = nullptr;
    FBatch->Close();
    Timer1->stop();
    if (GlobalObject == FGlobal.get()) GlobalObject = nullptr;
    FGlobal.reset();
    Event->accept();
}

void TfrmMain::SetSkinChecks(int Index) {
    FCheckedSkin = Index;
    for (int I = 0; I < ThemeCount; ++I) SkinEntries[static_cast<size_t>(I)]->setChecked(I == Index);
}

void TfrmMain::SkinMenuOpening() { SetSkinChecks(TAppSettings(FSettingsIni).SkinIndex()); }

void TfrmMain::SkinClick(int Index) {
    if (Index < 0 || Index >= ThemeCount) return;
    if (Index == FCheckedSkin) {
        // A click toggled the mark off again; the entry stays checked.
        SetSkinChecks(Index);
        return;
    }
    hide();
    ApplyTheme(Index);
    SetSkinChecks(Index);
    show();
    TAppSettings(FSettingsIni).SetSkinIndex(Index);
}

void TfrmMain::OpenPage(const std::string& Url) {
    if (!Platform().OpenUrl(Url))
        ShowMessageBox("Warning", "Cannot open " + Url + ".", TMessageKind::Warning);
}

void TfrmMain::ShowHelp() { OpenPage(FHelpPageURL); }
void TfrmMain::ShowHomePage() { OpenPage(FHomePageURL); }
void TfrmMain::ShowSupportPage() { OpenPage(FSupportPageURL); }

void TfrmMain::ShowLog() {
    if (!FLog) FLog = new TfrmLog(mmoLog, this);
    FLog->show();
    FLog->raise();
    FLog->activateWindow();
}

// The trim and crop dialogs edit the selected row; without one there is
// nothing to edit.
void TfrmMain::EditTrim() {
    const int Row = SelectedRow();
    TlvFilesRecord* Record = RowRecord(Row);
    if (!Record) return;
    if (!FTrim) FTrim = new TfrmTrim(this);
    FTrim->SetRow(Record, [this, Row](int Seconds) { FModel->SetTrimmedLength(Row, Seconds); });
    FTrim->exec();
    if (FTrim) FTrim->SetRow(nullptr, {});
}

void TfrmMain::EditCrop() {
    TlvFilesRecord* Record = SelectedRecord();
    if (!Record) return;
    if (!FCrop) FCrop = new TfrmCrop(this);
    FCrop->SetRow(Record);
    FCrop->exec();
    if (FCrop) FCrop->SetRow(nullptr);
}
