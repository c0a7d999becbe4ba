#include "gui/WinMain.h"

#include "gui/ProfileList.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/GlobalUnit.h"
#include "app/KeptList.h"
#include "app/Profiles.h"
#include "common/Files.h"
#include "common/Text.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinTrim.h"
#include "gui/AddFiles.h"
#include "gui/BatchRun.h"
#include "gui/FileList.h"
#include "gui/LogWindow.h"
#include "widgets/Artwork.h"
#include "widgets/Controls.h"
#include "widgets/PictureView.h"
#include "widgets/Platform.h"
#include "widgets/PreviewPlayer.h"
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
    Picture.fill(PictureBackground());
    QPainter Painter(&Picture);
    Painter.setRenderHint(QPainter::Antialiasing);
    const QPixmap Icon = ProductIcon(72);
    Painter.drawPixmap((Size.width() - Icon.width()) / 2, (Size.height() - Icon.height()) / 2 - 12, Icon);
    Painter.setPen(PictureCaption());
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

const char* const SkinObjectNames[ThemeCount] = {"SkinDefault", "SkinGray",  "SkinOrange", "SkinPurple", "SkinRed",
                                                  "SkinGreen",   "SkinLightBlue", "SkinDark", "SkinSystem"};

// The preview's picture area at the window's least size; it grows with the
// window in this shape.
constexpr int PreviewWidth = 217;
constexpr int PreviewHeight = 188;
// Of the width the window has beyond its least, the preview may take this
// share; the list takes the rest.
constexpr double PreviewShare = 0.35;

// "1:02:03" or "2:03".
QString ClockText(int64_t Seconds) {
    const int64_t H = Seconds / 3600, M = Seconds / 60 % 60, S = Seconds % 60;
    return H > 0 ? QString("%1:%2:%3").arg(H).arg(M, 2, 10, QChar('0')).arg(S, 2, 10, QChar('0'))
                 : QString("%1:%2").arg(M).arg(S, 2, 10, QChar('0'));
}

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
    for (const std::string& F : Options.Files) FInitialFiles << NameToQString(F);

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

    // The field shows where the files go; the stored choice stays.
    SetFolderFallbackFunction([Self](const std::string& Key, const std::string& Used) {
        if (LowerCase(Key) != LowerCase(SettingsKeys::OutputDir)) return;
        QMetaObject::invokeMethod(
            qApp, [Self, Used] { if (Self) Self->ShowFolderInUse(Used); },
            QThread::currentThread() == qApp->thread() ? Qt::DirectConnection : Qt::QueuedConnection);
    });

    CreateControls();
    CreateMenus();
    ConnectCommands();
    CreatePreview();
    ReadStartState();
    SetPreviewStartState();
    CreateBatch();
    setMinimumSize(FormWidth, FormHeight);
    resize(FormWidth, FormHeight);
    RestorePlace();
}

TfrmMain::~TfrmMain() {
    // Closing normally ran the close query; a window destroyed without it
    // must not leave events aimed at it. The batch run detaches its own.
    VxAVC.OnLog = nullptr;
    SetFolderFallbackFunction({});
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
    if (FClosing) return;
    // A Start that has nothing to convert says why instead of doing nothing.
    bool AnyChecked = false;
    for (int Row = 0; Row < FModel->Count() && !AnyChecked; ++Row) AnyChecked = FModel->Checked(Row);
    FBatch->Start(SelectedProfile(cbOutputFormat));
    if (!AnyChecked) SetStatus(FModel->Count() == 0 ? "Add files to convert" : "Check the files to convert");
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
    Client->installEventFilter(this);
    Rule = new QFrame(Client);
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
    lblCount = new QLabel(Client);
    lblCount->setObjectName("lblCount");
    lblCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblCount->setGeometry(330, 408, 200, 20);

    lblOutputFormat = new QLabel("Output Format:", Client);
    lblOutputFormat->setObjectName("lblOutputFormat");
    lblOutputFormat->setGeometry(8, 434, 112, 26);
    cbOutputFormat = new QComboBox(Client);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->setGeometry(122, 434, 310, 26);
    FillProfileList(cbOutputFormat, CatalogueNames());
    btnOptions = new QPushButton("Settings", Client);
    btnOptions->setObjectName("btnOptions");
    btnOptions->setGeometry(438, 434, 92, 26);

    lblDirectory = new QLabel("Output Directory:", Client);
    lblDirectory->setObjectName("lblDirectory");
    lblDirectory->setGeometry(8, 468, 112, 26);
    edDirectory = new QLineEdit(Client);
    edDirectory->setObjectName("edDirectory");
    edDirectory->setReadOnly(true);
    edDirectory->setGeometry(122, 468, 212, 26);
    // The system's light 3-D colour of the classic desktop (ThemeChanged).
    edDirectory->setAutoFillBackground(true);
    btnBrows = new QPushButton("Brows", Client);
    btnBrows->setObjectName("btnBrows");
    btnBrows->setGeometry(340, 468, 92, 26);
    btnBrows->setToolTip("Choose the output folder");
    btnOpen = new QPushButton("Open", Client);
    btnOpen->setObjectName("btnOpen");
    btnOpen->setGeometry(438, 468, 92, 26);
    btnOpen->setToolTip("Open the output folder in the file manager");

    grpPreview = new QGroupBox("Fast preview", Client);
    grpPreview->setObjectName("grpPreview");
    grpPreview->setGeometry(540, 62, 238, 344);
    imgPreview = new TPictureView(grpPreview);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(10, 26, 217, 188);
    imgPreview->ClearCanvas();
    imgPreview1 = new QLabel(grpPreview);
    imgPreview1->setObjectName("imgPreview1");
    imgPreview1->setGeometry(imgPreview->geometry());
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

    connect(FModel, &QAbstractItemModel::rowsInserted, this, &TfrmMain::UpdateCount);
    connect(FModel, &QAbstractItemModel::rowsRemoved, this, &TfrmMain::UpdateCount);
    connect(FModel, &QAbstractItemModel::modelReset, this, &TfrmMain::UpdateCount);
    connect(FModel, &QAbstractItemModel::dataChanged, this, &TfrmMain::UpdateCount);
    ThemeChanged();
}

void TfrmMain::LayOutControls() {
    if (!btnStartBelow || !FModel) return;
    // What the window has beyond its least size goes to the list and the
    // preview; at the least size every control stands where it always did.
    const int ExtraW = std::max(0, width() - FormWidth), ExtraH = std::max(0, height() - FormHeight);
    const double Scale = std::max(1.0, std::min((PreviewWidth + ExtraW * PreviewShare) / PreviewWidth,
                                                double(PreviewHeight + ExtraH) / PreviewHeight));
    const int PicW = int(std::lround(PreviewWidth * Scale)), PicH = int(std::lround(PreviewHeight * Scale));
    const int GrowW = PicW - PreviewWidth, GrowH = PicH - PreviewHeight;
    const int ListW = 522 + ExtraW - GrowW, Wider = ListW - 522;
    const int GroupX = 540 + ExtraW - GrowW, GroupW = 238 + GrowW;

    Rule->setGeometry(8, 58, 770 + ExtraW, 2);
    lvFiles->setGeometry(8, 66, ListW, 340 + ExtraH);
    mmoLog->setGeometry(lvFiles->geometry());
    const int CountW = std::min(ListW / 2, lblCount->fontMetrics().horizontalAdvance(lblCount->text()) + 8);
    lblCount->setGeometry(8 + ListW - CountW, 408 + ExtraH, CountW, 20);
    lblStatus->setGeometry(10, 408 + ExtraH, ListW - CountW - 10, 20);
    lblOutputFormat->move(8, 434 + ExtraH);
    cbOutputFormat->setGeometry(122, 434 + ExtraH, 310 + Wider, 26);
    btnOptions->move(438 + Wider, 434 + ExtraH);
    lblDirectory->move(8, 468 + ExtraH);
    edDirectory->setGeometry(122, 468 + ExtraH, 212 + Wider, 26);
    btnBrows->move(340 + Wider, 468 + ExtraH);
    btnOpen->move(438 + Wider, 468 + ExtraH);

    grpPreview->setGeometry(GroupX, 62, GroupW, 344 + ExtraH);
    const bool Grown = imgPreview->size() != QSize(PicW, PicH);
    imgPreview->setGeometry(10, 26, PicW, PicH);
    imgPreview1->setGeometry(imgPreview->geometry());
    lblPTS->setGeometry(12, 222 + GrowH, 215 + GrowW, 20);
    trcPreview->setGeometry(6, 246 + GrowH, 226 + GrowW, 28);
    int X = 19 + GrowW / 2;
    for (QToolButton* B : {imgbtnPlay, imgbtnPause, imgbtnStop, imgbtnSnap}) {
        B->move(X, 290 + GrowH);
        X += 52;
    }
    btnStartBelow->setGeometry(GroupX, 434 + ExtraH, GroupW, 60);
    X = GroupX;
    for (QPushButton* B : {btnPause, btnResume, btnStop}) {
        B->move(X, 410 + ExtraH);
        X += 81;
    }
    if (Grown) {
        imgPreview1->setPixmap(PlaceholderPicture(imgPreview->size()));
        RedrawPreview();
    }
}

void TfrmMain::RedrawPreview() {
    // The canvas takes its new size empty; a picture on show is drawn again.
    imgPreview->ClearCanvas();
    if (imgPreview1->isVisibleTo(grpPreview)) return;
    TBitmap Shown(FPreview->FrameCopy());
    imgPreview->DrawBitmap(Shown);
}

void TfrmMain::ThemeChanged() {
    QPalette Field = edDirectory->palette();
    Field.setColor(QPalette::Base, Colour3DLight());
    Field.setColor(QPalette::Text, Colour3DLightText());
    edDirectory->setPalette(Field);
    imgPreview1->setPixmap(PlaceholderPicture(imgPreview->size()));
    if (FPreview) RedrawPreview();
}

void TfrmMain::UpdateCount() {
    int Checked = 0;
    int64_t Seconds = 0;
    for (int Row = 0; Row < FModel->Count(); ++Row) {
        if (!FModel->Checked(Row)) continue;
        ++Checked;
        Seconds += FModel->TrimmedLength(Row);
    }
    QString Text;
    if (FModel->Count() > 0)
        Text = QString("%1 %2, %3 checked, %4")
                   .arg(FModel->Count())
                   .arg(FModel->Count() == 1 ? "file" : "files")
                   .arg(Checked)
                   .arg(ClockText(Seconds));
    if (Text == lblCount->text()) return;
    lblCount->setText(Text);
    lblCount->setToolTip(Text.isEmpty() ? QString() : "Files in the list, files checked and their trimmed length");
    LayOutControls();
}

QString TfrmMain::CountText() const { return lblCount->text(); }

void TfrmMain::RestorePlace() {
    TAppSettings Settings(FSettingsIni);
    const std::vector<int> Columns = Settings.ListColumns();
    TWindowPlace Place;
    if (Settings.WindowPlace(Place)) {
        QRect Wanted(Place.Left, Place.Top, std::max(Place.Width, FormWidth), std::max(Place.Height, FormHeight));
        // A place on a screen that is gone is given up for the centre of
        // the one at hand.
        bool OnScreen = false;
        for (QScreen* Screen : QGuiApplication::screens())
            OnScreen = OnScreen || Screen->availableGeometry().intersects(Wanted.adjusted(0, 0, 0, -Wanted.height() + 40));
        if (!OnScreen) {
            if (QScreen* Screen = QGuiApplication::primaryScreen())
                Wanted.moveCenter(Screen->availableGeometry().center());
        }
        setGeometry(Wanted);
        if (Place.Maximized) setWindowState(windowState() | Qt::WindowMaximized);
    }
    if (Columns.size() == size_t(fcCount)) lvFiles->SetColumnWidths(QList<int>(Columns.begin(), Columns.end()));
}

void TfrmMain::SavePlace() {
    TAppSettings Settings(FSettingsIni);
    const QRect Normal = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    if (Normal.isValid())
        Settings.SetWindowPlace({Normal.x(), Normal.y(), Normal.width(), Normal.height(), isMaximized()});
    const QList<int> Widths = lvFiles->ColumnWidths();
    Settings.SetListColumns(std::vector<int>(Widths.begin(), Widths.end()));
}

void TfrmMain::SaveKeptList() {
    TAppSettings Settings(FSettingsIni);
    std::vector<TKeptRow> Rows;
    if (Settings.KeepList()) {
        for (int Row = 0; Row < FModel->Count(); ++Row) Rows.push_back({FModel->Checked(Row), *FModel->Record(Row)});
    }
    Settings.SetKeptList(EncodeKeptList(Rows));
}

void TfrmMain::RestoreKeptList() {
    TAppSettings Settings(FSettingsIni);
    if (!Settings.KeepList()) return;
    const std::vector<TKeptRow> Kept = DecodeKeptList(Settings.KeptList());
    if (Kept.empty()) return;
    QStringList Paths;
    int Gone = 0;
    for (const TKeptRow& Row : Kept) {
        if (FileExists(Row.Record.SourceFile)) {
            Paths << NameToQString(Row.Record.SourceFile);
            continue;
        }
        AppendLog(QString::fromStdString("***Kept file not found, left out of the list: " + Row.Record.SourceFile));
        ++Gone;
    }
    AddFiles(Paths);
    for (const TKeptRow& Row : Kept) {
        const int At = FModel->FindSource(Row.Record.SourceFile);
        TlvFilesRecord* Record = FModel->Record(At);
        if (!Record) continue;
        Record->TrimStart = Row.Record.TrimStart;
        Record->TrimLength = Row.Record.TrimLength;
        Record->ZoomMode = Row.Record.ZoomMode;
        Record->CropTop = Row.Record.CropTop;
        Record->CropLeft = Row.Record.CropLeft;
        Record->CropBottom = Row.Record.CropBottom;
        Record->CropRight = Row.Record.CropRight;
        // The trimmed length as the trim dialog shows it.
        const int64_t Ms = Record->TrimLength > 0 ? Record->TrimLength
                                                  : std::max<int64_t>(0, int64_t(Record->Duration) * 1000 - Record->TrimStart);
        FModel->SetTrimmedLength(At, int(Ms / 1000));
        FModel->SetChecked(At, Row.Checked);
    }
    if (Gone > 0)
        SetStatus(Gone == 1 ? QString::fromUtf8("1 file of the last list is gone — see the log")
                            : QString::fromUtf8("%1 files of the last list are gone — see the log").arg(Gone));
}

void TfrmMain::CreateMenus() {
    // Entries that nothing else changes are wired here and kept nowhere.
    auto Command = [this](QMenu* Menu, const char* Name, const QString& Caption, void (TfrmMain::*Slot)()) {
        connect(Entry(Menu, Name, Caption), &QAction::triggered, this, Slot);
    };
    // Keys work wherever the focus is in the window; a field that uses the
    // same key for itself (Delete, Ctrl+A in a text) keeps it.
    auto Keys = [this](const char* Name, const QList<QKeySequence>& Sequences) {
        QAction* A = findChild<QAction*>(QString::fromLatin1(Name));
        A->setShortcuts(Sequences);
        A->setShortcutContext(Qt::WindowShortcut);
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
    Keys("Edit1", {QKeySequence(Qt::CTRL | Qt::Key_O)});
    Keys("Remove1", {QKeySequence(Qt::Key_Delete)});
    Keys("Start1", {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    Keys("Exit2", {QKeySequence(Qt::CTRL | Qt::Key_Q)});

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
    Edit2->addSeparator();
    SelectAll1 = Entry(Edit2, "SelectAll1", "Select &All");
    Keys("SelectAll1", {QKeySequence(Qt::CTRL | Qt::Key_A)});

    QMenu* ToolsMenu = Bar->addMenu("&Tools");
    ToolsMenu->setObjectName("ToolsMenu");
    Command(ToolsMenu, "Options1", "&Preference", &TfrmMain::ShowPreferences);
    Keys("Options1", {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    Skin1 = ToolsMenu->addMenu("&Skin");
    Skin1->setObjectName("Skin1");
    // One theme at a time: the entries are a group of radio items.
    auto* Skins = new QActionGroup(Skin1);
    Skins->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (int I = 0; I < ThemeCount; ++I) {
        if (I == TintedThemeCount) Skin1->addSeparator();
        QAction* Skin = Entry(Skin1, SkinObjectNames[I], QString::fromLatin1(ThemeName(I)));
        Skin->setCheckable(true);
        Skins->addAction(Skin);
        connect(Skin, &QAction::triggered, this, [this, I] { SkinClick(I); });
        SkinEntries[static_cast<size_t>(I)] = Skin;
    }
    SkinEntries[ThemeDark]->setToolTip("A dark palette of the program's own");
    SkinEntries[ThemeSystem]->setToolTip("The desktop's own style and colours");
    ToolsMenu->addSeparator();
    Command(ToolsMenu, "ShowLog", "Show &Log", &TfrmMain::ShowLog);

    QMenu* HelpMenu = Bar->addMenu("&Help");
    HelpMenu->setObjectName("HelpMenu");
    Command(HelpMenu, "Help2", "&Help", &TfrmMain::ShowHelp);
    Keys("Help2", {QKeySequence(QKeySequence::HelpContents)});
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
    connect(SelectAll1, &QAction::triggered, this, &TfrmMain::SelectAll);
    // Keys of the Edit menu follow the list, not only the menu's opening.
    for (auto Signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(FModel, Signal, this, &TfrmMain::EditMenuOpening);
    connect(FModel, &QAbstractItemModel::modelReset, this, &TfrmMain::EditMenuOpening);

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
    SelectProfile(cbOutputFormat, Format >= 0 && Format < ProfileCount ? Format : -1);
    edDirectory->setText(QString::fromStdString(Settings.OutputDir()));
    edDirectory->setCursorPosition(0);
    SetSkinChecks(Settings.SkinIndex());
}

void TfrmMain::ShowFolderInUse(const std::string& Folder) {
    // Not a choice of the user's: nothing is written back.
    const QSignalBlocker BlockDirectory(edDirectory);
    std::string Shown = Folder;
    if (Shown.size() > 1 && Shown.back() == '/') Shown.pop_back();
    edDirectory->setText(QString::fromStdString(Shown));
    edDirectory->setCursorPosition(0);
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
    LayOutControls();
    if (FShownOnce) return;
    FShownOnce = true;
    Timer1->start();
    if (QWindow* Handle = windowHandle()) Handle->installEventFilter(this);
    // The list has the keyboard from the start: Ctrl+O, Delete and Space
    // work at once.
    lvFiles->setFocus();
    QTimer::singleShot(0, this, &TfrmMain::AddInitialFiles);
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
        StatusClick();
    if (Watched == centralWidget() && Event->type() == QEvent::Resize) LayOutControls();
    return QMainWindow::eventFilter(Watched, Event);
}

void TfrmMain::AddInitialFiles() {
    if (FClosing) return;
    // The list of the last close comes first, the command line's files after.
    RestoreKeptList();
    QStringList Files;
    Files.swap(FInitialFiles);
    if (Files.isEmpty()) return;
    const double Begin = WallClock();
    const int Added = AddFiles(Files);
    if (ReportTimes()) {
        std::printf("TARN added %d of %d in %.6f s\n", Added, static_cast<int>(Files.size()), WallClock() - Begin);
        std::fflush(stdout);
    }
    emit InitialFilesAdded(Added);
}

void TfrmMain::closeEvent(QCloseEvent* Event) {
    if (FClosing) {
        Event->accept();
        return;
    }
    // A running batch goes on unless the user says stop.
    if (FBatch->Running() && !FBatch->ConfirmStop()) {
        Event->ignore();
        return;
    }
    SavePlace();
    SaveKeptList();
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
    ThemeChanged();
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
