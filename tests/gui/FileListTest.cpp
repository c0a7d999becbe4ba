// The file list: adding, removing, clearing, checking, drawing, dropping.
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTimer>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QUrl>

#include <unistd.h>

#include <fstream>

#include "gui/AddFiles.h"
#include "gui/ProfileList.h"
#include "tests/gui/GuiTestSupport.h"

using FileListTest = TWindowFixture;

namespace {

// "FOLDER" stands for a folder of the test's scratch space; "TEXT.mkv",
// "CUT.mp4" (the first 4 KB of clip.mp4) and "LOCKED.avi" (clip.avi without
// read permission) are made there too.
struct TAddCase {
    const char* Name;
    std::vector<std::vector<const char*>> Selections;  // one AddFiles call each
    int Rows;
    int Failures;  // of the last call
    const char* Status;
};

const TAddCase AddCases[] = {
    {"ThreeNewFiles", {{"clip.avi", "pal_16x15.mp4", "tone.mp3"}}, 3, 0, ""},
    {"SamePathTwiceInOneSelection", {{"clip.avi", "clip.avi"}}, 1, 0, ""},
    {"SamePathInTwoSelections", {{"clip.avi"}, {"clip.avi", "tone.wav"}}, 2, 0, ""},
    {"FolderSkipped", {{"FOLDER", "tone.wav"}}, 1, 0, ""},
    {"UnopenableFileLeftOut", {{"clip.avi", "random.bin", "tone.mp3"}}, 2, 1,
     "1 file could not be added \u2014 see the log"},
    {"ThreeUnopenableAndAPicture", {{"empty.mp4", "random.bin", "no_such_file.avi", "still.png"}}, 1, 3,
     "3 files could not be added \u2014 see the log"},
    {"LaterSuccessClearsStatus", {{"random.bin"}, {"tone.wav"}}, 1, 0, ""},
    {"EveryKindOfBadInput",
     {{"no_such_file.avi", "empty.mp4", "random.bin", "TEXT.mkv", "CUT.mp4", "FOLDER", "LOCKED.avi", "clip.avi"}},
     1, 5, "5 files could not be added \u2014 see the log"},
};

// Files whose path ends so are never listed.
const char* const Unlistable[] = {"random.bin", "empty.mp4", "no_such_file.avi", "TEXT.mkv", "CUT.mp4", "folder.avi"};

class AddFilesTest : public TWindowFixture, public ::testing::WithParamInterface<TAddCase> {};

}  // namespace

TEST_P(AddFilesTest, AddsOpenableFilesOnceAndLogsTheOthers) {
    const TAddCase& Case = GetParam();
    TfrmMain& W = Open();
    const fs::path SubFolder = Folder / "folder.avi";
    fs::create_directories(SubFolder);
    std::ofstream(Folder / "TEXT.mkv") << "This is not a film.\n";
    fs::copy_file(MediaPath("clip.mp4"), Folder / "CUT.mp4");
    fs::resize_file(Folder / "CUT.mp4", 4096);
    fs::copy_file(MediaPath("clip.avi"), Folder / "LOCKED.avi");
    fs::permissions(Folder / "LOCKED.avi", fs::perms::none);
    // Root reads it all the same; then it is an ordinary clip.
    const bool LockedReadable = access((Folder / "LOCKED.avi").c_str(), R_OK) == 0;
    QStringList All;
    for (const auto& Selection : Case.Selections) {
        QStringList Paths;
        for (const char* N : Selection) {
            const std::string Name = N;
            if (Name == "FOLDER")
                Paths << QString::fromStdString(SubFolder.string());
            else if (Name == "TEXT.mkv" || Name == "CUT.mp4" || Name == "LOCKED.avi")
                Paths << QString::fromStdString((Folder / Name).string());
            else
                Paths << Media(N);
        }
        All += Paths;
        W.AddFiles(Paths);
    }
    const bool WithLocked = All.contains(QString::fromStdString((Folder / "LOCKED.avi").string()));
    const int Extra = WithLocked && LockedReadable ? 1 : 0;
    ASSERT_EQ(Rows(), Case.Rows + Extra);
    EXPECT_EQ(W.LastAddFailures(), Case.Failures + (WithLocked && !LockedReadable ? 1 : 0));
    if (!WithLocked || LockedReadable) {
        EXPECT_EQ(W.StatusText(), QString::fromUtf8(Case.Status));
    }
    EXPECT_EQ(W.Converter().JobCount(), 0);

    const QString Log = W.LogText();
    for (const QString& Path : All) {
        const int Row = W.FilesModel()->FindSource(Path.toStdString());
        bool Bad = Path.endsWith("LOCKED.avi") && !LockedReadable;
        for (const char* End : Unlistable) Bad = Bad || Path.endsWith(End);
        if (Bad) {
            EXPECT_EQ(Row, -1) << Path.toStdString();
            if (!Path.endsWith("folder.avi")) {
                EXPECT_TRUE(Log.contains("***File open error: " + Path)) << Path.toStdString();
            }
            continue;
        }
        ASSERT_GE(Row, 0) << Path.toStdString();
        const TlvFilesRecord& R = *W.RowRecord(Row);
        EXPECT_EQ(R.SourceFile, Path.toStdString());
        EXPECT_EQ(R.ZoomMode, "lbox");
        EXPECT_EQ(R.TrimStart, 0);
        EXPECT_EQ(R.TrimLength, 0);
        EXPECT_EQ(W.RowText(Row, fcLength), QString::number(R.Duration));
        EXPECT_EQ(W.RowText(Row, fcTrimmedLength), QString::number(R.Duration));
        EXPECT_TRUE(W.RowText(Row, fcProgress).isEmpty());
        EXPECT_TRUE(W.FilesModel()->Checked(Row));
        // The destination: the output folder, the base name, "_(new)_ipod." and the extension.
        const std::string Base = fs::path(R.SourceFile).stem().string();
        EXPECT_EQ(R.OutputFile, OutputDir + "/" + Base + "_(new)_ipod.mp4");
        EXPECT_EQ(W.RowText(Row, fcDestination), QString::fromStdString(Base + "_(new)_ipod.mp4"));
        EXPECT_TRUE(Log.contains(QString::number(fs::file_size(R.SourceFile)))) << "file size in the log";
    }
    if (Case.Failures > 0) {
        // Each failure is one line between empty lines, with the reason.
        EXPECT_TRUE(Log.contains(QRegularExpression("\n\n\\*\\*\\*File open error: [^\n]*random\\.bin[^\n]+\n\n")))
            << Log.toStdString();
    }
    if (Case.Rows > 0) {
        EXPECT_EQ(W.SelectedRow(), 0);
        EXPECT_TRUE(W.btnStart->isEnabled());
        EXPECT_EQ(W.FilesModel()->columnCount(), int(fcCount));
    }
}

INSTANTIATE_TEST_SUITE_P(Gui, AddFilesTest, ::testing::ValuesIn(AddCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The columns are formatted from the row's record, its trimmed length and
// its status; a failed row explains itself in the tooltip of its cell.
TEST(FilesModelTest, ColumnsComeFromTheRecordAndTheStatus) {
    TFilesModel Model;
    TlvFilesRecord Record;
    Record.SourceFile = "/clips/holiday trip.avi";
    Record.OutputFile = "/out/holiday trip_(new)_ipod.mp4";
    Record.Duration = 95;
    ASSERT_EQ(Model.AddRow(Record), 0);
    const QStringList Fixed = {"/clips/holiday trip.avi", "95", "95", "holiday trip_(new)_ipod.mp4"};
    for (int C = fcSource; C < fcProgress; ++C) EXPECT_EQ(Model.Text(0, C), Fixed[C]) << C;
    EXPECT_EQ(Model.index(0, fcSource).data(Qt::ToolTipRole).toString(), "/clips/holiday trip.avi");
    Model.SetTrimmedLength(0, 41);
    EXPECT_EQ(Model.index(0, fcTrimmedLength).data().toString(), "41");
    EXPECT_EQ(Model.Text(0, fcLength), "95");

    struct TCase {
        TRowStatus Status;
        const char* Progress;
        const char* Tip;
    };
    const TCase Cases[] = {
        {TRowStatus(), "", ""},
        {TRowStatus::Converting(0), "0%", ""},
        {TRowStatus::Converting(37), "37%", ""},
        {TRowStatus::Done("/out/holiday trip_(new_1).mp4"), "100%", ""},
        {TRowStatus::Failed("Disk full."), "Failed", "Disk full."},
        {TRowStatus(), "", ""},
    };
    QSignalSpy Changed(&Model, &QAbstractItemModel::dataChanged);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Progress);
        Model.SetStatus(0, C.Status);
        const QModelIndex Cell = Model.index(0, fcProgress);
        EXPECT_EQ(Cell.data().toString(), C.Progress);
        EXPECT_EQ(Cell.data(Qt::ToolTipRole).toString(), C.Tip);
        ASSERT_FALSE(Changed.isEmpty());
        EXPECT_EQ(Changed.takeLast().at(0).toModelIndex(), Cell);
        // The other columns stay as they were.
        EXPECT_EQ(Model.Text(0, fcDestination), Fixed[fcDestination]);
    }
    EXPECT_EQ(Model.FindSource("/clips/holiday trip.avi"), 0);
    EXPECT_EQ(Model.FindSource("/clips/Holiday trip.avi"), -1);
    EXPECT_TRUE(Model.Text(1, fcSource).isEmpty());
}

TEST_F(FileListTest, SelectionIndexIsThePositionInTheSelection) {
    TfrmMain& W = Open();
    W.AddFiles(MediaList({"random.bin", "clip.avi", "tone.wav"}));
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(W.RowRecord(0)->SelectionIndex, 1);
    EXPECT_EQ(W.RowRecord(1)->SelectionIndex, 2);
}

TEST_F(FileListTest, DestinationExtensionFollowsTheSelectedProfile) {
    TfrmMain& W = Open();
    // Profile 33 writes .m4a files.
    SelectProfile(W.cbOutputFormat, 33);
    W.AddFiles({Media("tone.mp3")});
    ASSERT_EQ(Rows(), 1);
    EXPECT_TRUE(W.RowText(0, fcDestination).endsWith("tone_(new)_ipod.m4a")) << W.RowText(0, fcDestination).toStdString();
}

TEST_F(FileListTest, FirstRowCreatesTheColumnsAndTheLastTakesThem) {
    TfrmMain& W = OpenShown();
    EXPECT_EQ(W.FilesModel()->columnCount(), 0);
    EXPECT_TRUE(W.lvFiles->isHeaderHidden());
    W.AddFiles({Media("clip.avi")});
    ASSERT_EQ(W.FilesModel()->columnCount(), int(fcCount));
    EXPECT_FALSE(W.lvFiles->isHeaderHidden());
    const char* Captions[] = {"Source", "Length", "Trimmed Length", "Destination File", "Progress"};
    const int Widths[] = {140, 70, 90, 120, 60};
    for (int C = 0; C < fcCount; ++C) {
        EXPECT_EQ(W.FilesModel()->headerData(C, Qt::Horizontal).toString(), QString(Captions[C]));
        EXPECT_GE(W.lvFiles->header()->sectionSize(C), Widths[C]);
        // No caption is cut off.
        EXPECT_GE(W.lvFiles->header()->sectionSize(C),
                  W.lvFiles->header()->fontMetrics().horizontalAdvance(Captions[C]));
    }
    W.SelectRow(0);
    W.btnRemoveClick();
    EXPECT_EQ(W.FilesModel()->columnCount(), 0);
    EXPECT_TRUE(W.lvFiles->isHeaderHidden());
}

namespace {

struct TRemoveCase {
    const char* Name;
    int RowsBefore;
    int Selected;  // -1: none
    int RowsAfter;
    int SelectedAfter;
};

const TRemoveCase RemoveCases[] = {
    {"LastOfThreeSelectsNewLast", 3, 2, 2, 1},
    {"MiddleSelectsItsSuccessor", 3, 1, 2, 1},
    {"FirstSelectsNewFirst", 3, 0, 2, 0},
    {"OnlyRowEmptiesTheList", 1, 0, 0, -1},
    {"NothingSelectedRemovesNothing", 2, -1, 2, -1},
};

class RemoveTest : public TWindowFixture, public ::testing::WithParamInterface<TRemoveCase> {};

}  // namespace

TEST_P(RemoveTest, RemovesTheSelectedRowAndSelectsTheNext) {
    const TRemoveCase& Case = GetParam();
    TfrmMain& W = Open();
    const QStringList Files = MediaList({"clip.avi", "tone.mp3", "tone.wav"});
    W.AddFiles(Files.mid(0, Case.RowsBefore));
    ASSERT_EQ(Rows(), Case.RowsBefore);
    std::vector<std::string> Before;
    for (int R = 0; R < Rows(); ++R) Before.push_back(W.RowRecord(R)->SourceFile);
    W.SelectRow(Case.Selected);
    W.btnRemoveClick();
    ASSERT_EQ(Rows(), Case.RowsAfter);
    EXPECT_EQ(W.SelectedRow(), Case.SelectedAfter);
    if (Case.Selected >= 0) Before.erase(Before.begin() + Case.Selected);
    for (int R = 0; R < Rows(); ++R) EXPECT_EQ(W.RowRecord(R)->SourceFile, Before[static_cast<size_t>(R)]);
    EXPECT_EQ(W.FilesModel()->columnCount(), Case.RowsAfter > 0 ? int(fcCount) : 0);
}

INSTANTIATE_TEST_SUITE_P(Gui, RemoveTest, ::testing::ValuesIn(RemoveCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FileListTest, ClearEmptiesListAndColumnsAndAllowsAddingAgain) {
    TfrmMain& W = Open();
    W.btnClearClick();  // nothing to clear
    W.AddFiles(MediaList({"clip.avi", "tone.mp3"}));
    ASSERT_EQ(Rows(), 2);
    W.btnClearClick();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(W.FilesModel()->columnCount(), 0);
    EXPECT_EQ(W.SelectedRow(), -1);
    W.AddFiles(MediaList({"clip.avi"}));
    EXPECT_EQ(Rows(), 1);
}

namespace {

struct TCheckCase {
    const char* Name;
    const char* Entry;  // of the Edit menu
    int Selected;
    std::vector<bool> After;  // from the start pattern checked, unchecked, checked
};

const TCheckCase CheckCases[] = {
    {"ReverseCheckInvertsEachRow", "ReserveCheck1", 0, {false, true, false}},
    {"CheckAll", "CheckAll1", 0, {true, true, true}},
    {"UncheckAll", "UncheckAll1", 0, {false, false, false}},
    {"CheckSelected", "Check1", 1, {true, true, true}},
    {"UncheckSelected", "Uncheck1", 2, {true, false, false}},
    {"CheckWithoutSelection", "Check1", -1, {true, false, true}},
};

class CheckTest : public TWindowFixture, public ::testing::WithParamInterface<TCheckCase> {};

}  // namespace

TEST_P(CheckTest, CommandSetsTheCheckBoxes) {
    const TCheckCase& Case = GetParam();
    TfrmMain& W = OpenShown();
    W.AddFiles(MediaList({"clip.avi", "tone.mp3", "tone.wav"}));
    ASSERT_EQ(Rows(), 3);
    // The middle row is unchecked with the space bar.
    W.SelectRow(1);
    W.lvFiles->setFocus();
    QTest::keyClick(W.lvFiles, Qt::Key_Space);
    ASSERT_EQ(Checks(), (std::vector<bool>{true, false, true}));
    W.SelectRow(Case.Selected);
    MenuOpening(W, "Edit2");
    Child<QAction>(W, Case.Entry)->trigger();
    EXPECT_EQ(Checks(), Case.After);
}

INSTANTIATE_TEST_SUITE_P(Gui, CheckTest, ::testing::ValuesIn(CheckCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FileListTest, ClickOnTheCheckBoxTogglesOnlyThatRow) {
    TfrmMain& W = OpenShown();
    W.AddFiles(MediaList({"clip.avi", "tone.mp3"}));
    const QRect Row = W.lvFiles->visualRect(W.FilesModel()->index(1, 0));
    QTest::mouseClick(W.lvFiles->viewport(), Qt::LeftButton, {}, QPoint(Row.left() + 8, Row.center().y()));
    EXPECT_EQ(Checks(), (std::vector<bool>{true, false}));
    // A click on the text selects without toggling.
    QTest::mouseClick(W.lvFiles->viewport(), Qt::LeftButton, {}, QPoint(Row.left() + 60, Row.center().y()));
    EXPECT_EQ(Checks(), (std::vector<bool>{true, false}));
    EXPECT_EQ(W.SelectedRow(), 1);
}

TEST_F(FileListTest, DroppedFilesAreAddedAsTheAddCommandAddsThem) {
    TfrmMain& W = OpenShown();
    auto* Data = new QMimeData;
    Data->setUrls({QUrl::fromLocalFile(Media("clip.avi")), QUrl::fromLocalFile(Media("random.bin")),
                   QUrl("https://example.org/remote.avi"), QUrl::fromLocalFile(Media("tone.mp3"))});
    QWidget* Target = W.lvFiles->viewport();
    QDragEnterEvent Enter(QPoint(20, 20), Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &Enter);
    EXPECT_TRUE(Enter.isAccepted());
    QDropEvent Drop(QPointF(20, 20), Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &Drop);
    EXPECT_TRUE(Drop.isAccepted());
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(W.RowRecord(0)->SourceFile, MediaPath("clip.avi"));
    EXPECT_EQ(W.RowRecord(1)->SourceFile, MediaPath("tone.mp3"));
    EXPECT_TRUE(W.LogText().contains("***File open error: "));
    EXPECT_EQ(W.LastAddFailures(), 1);
    delete Data;
}

TEST_F(FileListTest, AnyBytesNameTheirFileAndPlaylistsAreRefusedThroughAddAndDrop) {
    TfrmMain& W = OpenShown();
    struct TRow {
        std::string Name;  // bytes, in the scratch folder
        bool Drop;         // dropped on the list, else the add command
        bool Playlist;     // holds an HLS list naming clip.avi, else a copy of clip.avi
    };
    const std::vector<TRow> Cases = {
        {"caf\xe9 latin-1.avi", false, false},
        {"caf\xe9 dropped.avi", true, false},
        {"caf\xc3\xa9 utf-8 \xf0\x9f\x8e\xac.avi", true, false},
        {"overlong \xc0\xaf and lone \xed\xa0\x80.avi", false, false},
        {"concat:clip.avi|clip.avi", false, false},
        {"data:,dropped.avi", true, false},
        {"list.avi", false, true},
        {"list \xff dropped.avi", true, true},
    };
    const std::string Hls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10.0,\n" + MediaPath("clip.avi") +
                            "\n#EXT-X-ENDLIST\n";
    int Expected = 0;
    for (const TRow& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const std::string Path = (Folder / Case.Name).string();
        if (Case.Playlist)
            std::ofstream(Path, std::ios::binary) << Hls;
        else
            fs::copy_file(MediaPath("clip.avi"), Path);
        if (Case.Drop) {
            QByteArray Encoded = "file://" + QByteArray::fromStdString(Path).toPercentEncoding("/");
            auto* Data = new QMimeData;
            Data->setUrls({QUrl::fromEncoded(Encoded)});
            QDragEnterEvent Enter(QPoint(20, 20), Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(W.lvFiles->viewport(), &Enter);
            EXPECT_TRUE(Enter.isAccepted());
            QDropEvent Drop(QPointF(20, 20), Qt::CopyAction, Data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(W.lvFiles->viewport(), &Drop);
            delete Data;
        } else {
            W.AddFiles({NameToQString(Path)});
        }
        if (Case.Playlist) {
            EXPECT_EQ(W.FilesModel()->FindSource(Path), -1);
            EXPECT_TRUE(W.LogText().contains("playlists are not supported (hls)")) << W.LogText().toStdString();
            continue;
        }
        ++Expected;
        ASSERT_EQ(Rows(), Expected) << W.LogText().toStdString();
        const int Row = W.FilesModel()->FindSource(Path);
        ASSERT_GE(Row, 0);
        EXPECT_GT(W.RowRecord(Row)->Duration, 0);
    }
    EXPECT_EQ(W.LastAddFailures(), 1);
}

TEST_F(FileListTest, DragWithoutLocalFilesIsRefused) {
    TfrmMain& W = OpenShown();
    QMimeData Data;
    Data.setText("clip.avi");
    QDragEnterEvent Enter(QPoint(20, 20), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W.lvFiles->viewport(), &Enter);
    EXPECT_FALSE(Enter.isAccepted());
}

// Drawing.

namespace {

QRgb Pixel(const QImage& Image, int X, int Y) { return Image.pixel(X, Y) & 0xFFFFFF; }
QRgb Rgb(int R, int G, int B) { return qRgb(R, G, B) & 0xFFFFFF; }

struct TTintCase {
    int Theme;
    QRgb Tint;
};

const TTintCase TintCases[] = {
    {0, Rgb(226, 230, 246)}, {1, Rgb(236, 236, 236)}, {2, Rgb(248, 242, 224)}, {3, Rgb(246, 230, 241)},
    {4, Rgb(247, 225, 225)}, {5, Rgb(226, 247, 225)}, {6, Rgb(225, 240, 247)},
};

class RowDrawingTest : public TWindowFixture, public ::testing::WithParamInterface<TTintCase> {};

}  // namespace

TEST_P(RowDrawingTest, RowsAreTintedCheckedAndFramedByHand) {
    const TTintCase& Case = GetParam();
    TfrmMain& W = OpenShown();
    SkinEntry(W, Case.Theme)->trigger();
    W.AddFiles(MediaList({"clip.avi", "tone.mp3", "tone.wav"}));
    ASSERT_EQ(Rows(), 3);
    W.FilesModel()->SetChecked(1, false);
    W.SelectRow(2);
    QApplication::setActiveWindow(&W);
    W.lvFiles->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return W.lvFiles->hasFocus(); }));

    const QImage Shot = W.lvFiles->viewport()->grab().toImage();
    auto RowRect = [&](int R) { return W.lvFiles->RowBounds(W.lvFiles->visualRect(W.FilesModel()->index(R, 0))); };
    // The empty Progress column shows the row's background.
    const int ProgressX = W.lvFiles->header()->sectionViewportPosition(fcProgress) + 20;
    EXPECT_EQ(Pixel(Shot, ProgressX, RowRect(0).center().y()), Rgb(255, 255, 255));
    EXPECT_EQ(Pixel(Shot, ProgressX, RowRect(1).center().y()), Case.Tint);
    EXPECT_EQ(Pixel(Shot, ProgressX, RowRect(2).center().y()), Rgb(185, 204, 236));
    // The selected row's frame, the unselected rows without one.
    EXPECT_EQ(Pixel(Shot, ProgressX, RowRect(2).top()), Rgb(122, 160, 218));
    EXPECT_EQ(Pixel(Shot, RowRect(2).left(), RowRect(2).center().y()), Rgb(122, 160, 218));
    EXPECT_EQ(Pixel(Shot, ProgressX, RowRect(0).top()), Rgb(255, 255, 255));
    // The check box: a black frame; the tick only in checked rows.
    for (int R = 0; R < 3; ++R) {
        const QRect B = RowRect(R);
        EXPECT_EQ(Pixel(Shot, B.left() + 2, B.top() + 8), Rgb(0, 0, 0)) << "row " << R;
        const QRgb TickPixel = Pixel(Shot, B.left() + 6, B.top() + 10);
        if (R == 1)
            EXPECT_NE(TickPixel, Rgb(0, 0, 0));
        else
            EXPECT_EQ(TickPixel, Rgb(0, 0, 0)) << "row " << R;
    }

    // Without the focus the selection is lighter.
    W.cbOutputFormat->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W.lvFiles->hasFocus(); }));
    const QImage Unfocused = W.lvFiles->viewport()->grab().toImage();
    EXPECT_EQ(Pixel(Unfocused, ProgressX, RowRect(2).center().y()), Rgb(229, 236, 248));
    EXPECT_EQ(Pixel(Unfocused, ProgressX, RowRect(2).top()), Rgb(152, 181, 226));
}

INSTANTIATE_TEST_SUITE_P(GuiThemes, RowDrawingTest, ::testing::ValuesIn(TintCases),
                         [](const auto& Info) { return std::string("Theme") + std::to_string(Info.param.Theme); });

TEST_F(FileListTest, EmptyListShowsItsBackgroundPicture) {
    TfrmMain& W = OpenShown();
    QImage Picture(40, 30, QImage::Format_RGB32);
    Picture.fill(QColor(10, 200, 30));
    W.lvFiles->SetBackgroundPicture(Picture);
    QImage Shot = W.lvFiles->viewport()->grab().toImage();
    EXPECT_EQ(Pixel(Shot, 0, 0), Rgb(10, 200, 30));
    EXPECT_EQ(Pixel(Shot, 39, 29), Rgb(10, 200, 30));
    W.AddFiles({Media("tone.wav")});
    Shot = W.lvFiles->viewport()->grab().toImage();
    EXPECT_NE(Pixel(Shot, 39, 29), Rgb(10, 200, 30));
}

TEST_F(FileListTest, AddShowsProgressAndCancelStopsAfterTheCurrentFile) {
    TfrmMain& W = OpenShown();
    // However fast the machine, the dialog comes with the first file.
    W.SetAddProgressDelay(0);
    QStringList Paths;
    fs::create_directories(Folder / "many");
    for (int I = 0; I < 400; ++I) {
        const fs::path Link = Folder / "many" / ("f" + std::to_string(I) + ".avi");
        fs::create_symlink(MediaPath("long35.avi"), Link);
        Paths << QString::fromStdString(Link.string());
    }
    QString Label;
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        auto* Progress = W.findChild<QProgressDialog*>("dlgAddProgress");
        if (Progress && Progress->isVisible() && !Progress->wasCanceled()) {
            Label = Progress->labelText();
            Progress->cancel();
        }
    });
    Watch.start(10);
    const int Added = W.AddFiles(Paths);
    Watch.stop();
    ASSERT_FALSE(Label.isEmpty()) << "no progress dialog within " << Added << " files";
    EXPECT_TRUE(Label.startsWith("Reading f")) << Label.toStdString();
    EXPECT_TRUE(Label.contains(" of 400)")) << Label.toStdString();
    EXPECT_GT(Added, 0);
    EXPECT_LT(Added, 400);
    EXPECT_EQ(Rows(), Added);
    // The rows are the first files of the selection, in order.
    for (int R = 0; R < Rows(); ++R) EXPECT_EQ(W.RowRecord(R)->SourceFile, Paths[R].toStdString());
    EXPECT_EQ(W.Converter().JobCount(), 0);
}
