// The main window: its controls and menus, the profile and folder choices,
// the themes, the help pages, the log window and the close query.
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "dialogs/Directory.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinTrim.h"
#include "gui/ProfileList.h"
#include <QStandardItemModel>
#include "app/Profiles.h"
#include "gui/LogWindow.h"
#include "tests/gui/GuiTestSupport.h"
#include "widgets/PictureView.h"

using MainWindowTest = TWindowFixture;

TEST_F(MainWindowTest, StartUpStateOnShowing) {
    TfrmMain& W = OpenShown();
    // 786 x 534 is where the window starts and the least it can be; it
    // may grow (it was fixed at that size once).
    EXPECT_EQ(W.size(), QSize(786, 534));
    EXPECT_EQ(W.minimumSize(), QSize(786, 534));
    EXPECT_GT(W.maximumSize().width(), 786);
    EXPECT_GT(W.maximumSize().height(), 534);
    EXPECT_EQ(W.imgPreview->size(), QSize(217, 188));
    // The profiles under their headings, which cannot be chosen.
    const int Rows = ProfileCount + static_cast<int>(ProfileGroups().size());
    EXPECT_EQ(W.cbOutputFormat->count(), Rows);
    EXPECT_EQ(W.cbOutputFormat->maxVisibleItems(), Rows);
    for (int Row = 0; Row < Rows; ++Row) {
        const bool Heading = !W.cbOutputFormat->itemData(Row).isValid();
        auto* Model = qobject_cast<QStandardItemModel*>(W.cbOutputFormat->model());
        ASSERT_NE(Model, nullptr);
        EXPECT_EQ(Model->item(Row)->isSelectable(), !Heading) << Row;
        if (!Heading) {
            const int N = W.cbOutputFormat->itemData(Row).toInt();
            EXPECT_EQ(W.cbOutputFormat->itemText(Row).toStdString(), ProfileNames[N]);
        }
    }
    EXPECT_EQ(W.cbOutputFormat->itemText(0).toStdString(), "Phones, tablets and TVs");
    EXPECT_TRUE(W.edDirectory->isReadOnly());
    EXPECT_EQ(W.edDirectory->text().toStdString(), OutputDir);
    EXPECT_TRUE(W.imgbtnPlay->isEnabled());
    EXPECT_FALSE(W.imgbtnPause->isEnabled());
    EXPECT_FALSE(W.imgbtnStop->isEnabled());
    EXPECT_FALSE(W.imgbtnSnap->isEnabled());
    EXPECT_TRUE(W.Timer1->isActive());
    EXPECT_EQ(W.Timer1->interval(), 500);
    for (QWidget* Hidden : std::initializer_list<QWidget*>{W.btnPause, W.btnResume, W.btnStop})
        EXPECT_FALSE(Hidden->isVisible());
    // The log lies behind the list, which covers it wholly.
    EXPECT_TRUE(W.lvFiles->geometry().contains(W.mmoLog->geometry()));
    EXPECT_EQ(W.lvFiles->parentWidget()->childAt(W.mmoLog->geometry().center()),
              W.lvFiles->viewport());
    EXPECT_TRUE(W.StatusText().isEmpty());
}

// Play and Pause are one button each wherever a preview plays: the trim and
// crop dialogs show them as large as the main window does, with the same
// picture and hint.
TEST_F(MainWindowTest, PreviewButtonsLookTheSameInTheDialogs) {
    TfrmMain& W = OpenShown();
    TfrmTrim Trim(&W);
    TfrmCrop Crop(&W);
    const struct {
        QToolButton* Main;
        std::vector<QToolButton*> Dialogs;
    } Cases[] = {{W.imgbtnPlay, {Trim.imgbtnPlay, Crop.imgbtnPlay}},
                 {W.imgbtnPause, {Trim.imgbtnpause, Crop.imgbtnpause}}};
    for (const auto& Case : Cases) {
        const QImage Picture = Case.Main->icon().pixmap(Case.Main->iconSize()).toImage();
        ASSERT_FALSE(Picture.isNull());
        for (QToolButton* B : Case.Dialogs) {
            SCOPED_TRACE(B->window()->objectName().toStdString() + "." + B->objectName().toStdString());
            EXPECT_EQ(B->size(), Case.Main->size());
            EXPECT_EQ(B->iconSize(), Case.Main->iconSize());
            EXPECT_EQ(B->toolTip(), Case.Main->toolTip());
            EXPECT_EQ(B->autoRaise(), Case.Main->autoRaise());
            EXPECT_EQ(B->icon().pixmap(B->iconSize()).toImage(), Picture);
        }
    }
}

namespace {

struct TMenuCase {
    const char* Name;
    int Rows;
    bool Selected;
    bool EditEnabled;
    bool PopupEnabled;
};

const TMenuCase MenuCases[] = {
    {"EmptyList", 0, false, false, false},
    {"RowsWithoutSelection", 2, false, true, false},
    {"RowSelected", 2, true, true, true},
};

class MenuTest : public TWindowFixture, public ::testing::WithParamInterface<TMenuCase> {};

}  // namespace

TEST_P(MenuTest, EntriesFollowTheListAndWaterMarkNeverShows) {
    const TMenuCase& Case = GetParam();
    TfrmMain& W = OpenShown();
    if (Case.Rows > 0) W.AddFiles(MediaList({"clip.avi", "tone.mp3"}));
    ASSERT_EQ(Rows(), Case.Rows);
    if (!Case.Selected) W.SelectRow(-1);

    // The right-click menu, opened by a real right click on the list.
    const QPoint At(30, 150);
    QContextMenuEvent Click(QContextMenuEvent::Mouse, At, W.lvFiles->viewport()->mapToGlobal(At));
    QApplication::sendEvent(W.lvFiles->viewport(), &Click);
    QMenu* ListMenu = Child<QMenu>(W, "ListMenu");
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListMenu->isVisible(); }));
    std::vector<std::string> Enabled;
    for (QAction* A : ListMenu->actions())
        if (!A->isSeparator() && A->isVisible() && A->isEnabled()) Enabled.push_back(A->objectName().toStdString());
    ListMenu->hide();
    const std::vector<std::string> All = {"Crop2", "Trim2", "Infomation1", "AddFiles1", "Remove2", "Clear2", "Start2"};
    EXPECT_EQ(Enabled, Case.PopupEnabled ? All : std::vector<std::string>{"AddFiles1"});
    EXPECT_FALSE(Child<QAction>(W, "WaterMark2")->isVisible());

    QMenu* Edit = Child<QMenu>(W, "Edit2");
    Edit->popup(W.mapToGlobal(QPoint(40, 40)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Edit->isVisible(); }));
    for (const char* Name : {"Crop1", "Trim1", "CheckAll1", "UncheckAll1", "ReserveCheck1", "Check1", "Uncheck1"})
        EXPECT_EQ(Child<QAction>(W, Name)->isEnabled(), Case.EditEnabled) << Name;
    EXPECT_FALSE(Child<QAction>(W, "WaterMark1")->isVisible());
    Edit->hide();
}

INSTANTIATE_TEST_SUITE_P(Gui, MenuTest, ::testing::ValuesIn(MenuCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(MainWindowTest, ProfileChoiceIsWrittenAtOnceAndSurvivesARestart) {
    TfrmMain& W = OpenShown();
    SelectProfile(W.cbOutputFormat, 7);
    EXPECT_EQ(TAppSettings(SettingsIni).OutputFormat(), 7);
    W.close();
    Window.reset();
    TfrmMain& Again = OpenShown();
    EXPECT_EQ(SelectedProfile(Again.cbOutputFormat), 7);
}

TEST_F(MainWindowTest, ChosenFolderIsStoredAndShown) {
    TfrmMain& W = OpenShown();
    const fs::path Target = Folder / "chosen";
    fs::create_directories(Target);
    QTimer::singleShot(0, [&] {
        auto* Chooser = W.findChild<TfmDirectory*>();
        ASSERT_NE(Chooser, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Chooser->isVisible(); }));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Chooser->SelectFolder(Target.string()); }, 5000));
        Chooser->btnOkClick();
    });
    W.btnBrowsClick();
    EXPECT_EQ(W.edDirectory->text().toStdString(), Target.string());
    EXPECT_EQ(TAppSettings(SettingsIni).OutputDir(), Target.string());
}

TEST_F(MainWindowTest, OpenShowsTheStoredFolderAndReportsAFailure) {
    TfrmMain& W = Open();
    W.btnOpenClick();
    ASSERT_EQ(Desktop.Folders.size(), 1u);
    EXPECT_EQ(Desktop.Folders[0], OutputDir);
    EXPECT_TRUE(Messages.List.empty());
    Desktop.Answer = false;
    W.btnOpenClick();
    ASSERT_EQ(Messages.List.size(), 1u);
    EXPECT_EQ(Messages.List[0].Kind, TMessageKind::Warning);
    EXPECT_NE(Messages.List[0].Text.find(OutputDir), std::string::npos);
}

TEST_F(MainWindowTest, HelpWebSiteAndSupportOpenTheShippedPage) {
    TfrmMain& W = Open();
    const std::string Page = "file://" + std::string(TEST_BINARY_DIR) + "/help/index.html";
    for (const char* Entry : {"Help2", "WebSite1", "SupportandContact1"}) Child<QAction>(W, Entry)->trigger();
    EXPECT_EQ(Desktop.Urls, (std::vector<std::string>{Page, Page + "#project", Page + "#support"}));
    ASSERT_NE(GlobalObject, nullptr);
    EXPECT_EQ(GlobalObject->HelpPageURL(), Page);
    EXPECT_EQ(GlobalObject->HomePageURL(), Page + "#project");
    EXPECT_EQ(GlobalObject->SupportPageURL(), Page + "#support");
}

namespace {

// Counts the hide events of a window.
class THideCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Hide) ++Hides;
        return false;
    }
    int Hides = 0;
};

}  // namespace

TEST_F(MainWindowTest, SkinEntriesSwitchTheThemeOnlyWhenNotChecked) {
    TfrmMain& W = OpenShown();
    THideCounter Counter;
    W.installEventFilter(&Counter);
    QMenu* Skin = Child<QMenu>(W, "Skin1");
    Skin->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Skin->isVisible(); }));
    Skin->hide();
    ASSERT_TRUE(SkinEntry(W, 0)->isChecked());

    // The checked entry: nothing hides, nothing is written.
    const std::string Before = ReadWhole(SettingsIni);
    SkinEntry(W, 0)->trigger();
    EXPECT_EQ(ReadWhole(SettingsIni), Before);
    EXPECT_EQ(Counter.Hides, 0);
    EXPECT_TRUE(SkinEntry(W, 0)->isChecked());
    EXPECT_EQ(CurrentTheme(), 0);

    SkinEntry(W, 5)->trigger();
    EXPECT_EQ(Counter.Hides, 1);
    EXPECT_TRUE(W.isVisible());
    EXPECT_EQ(CurrentTheme(), 5);
    EXPECT_EQ(TAppSettings(SettingsIni).SkinIndex(), 5);
    for (int I = 0; I < ThemeCount; ++I) EXPECT_EQ(SkinEntry(W, I)->isChecked(), I == 5);
    W.removeEventFilter(&Counter);
}

TEST_F(MainWindowTest, FailedAddIsExplainedInTheStatusLineAndTheLogWindow) {
    TfrmMain& W = OpenShown();
    W.AddFiles(MediaList({"random.bin", "clip.avi"}));
    EXPECT_EQ(W.StatusText(), QString::fromUtf8("1 file could not be added \u2014 see the log"));
    EXPECT_TRUE(W.lblStatus->isVisible());
    // A click on the status line opens the log window.
    QTest::mouseClick(W.lblStatus, Qt::LeftButton);
    auto* Log = W.findChild<TfrmLog*>();
    ASSERT_NE(Log, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log->isVisible(); }));
    EXPECT_TRUE(Log->mmoText->toPlainText().contains("***File open error: " + Media("random.bin")));
    // Lines added while it is open reach it.
    W.AddFiles({Media("no_such_file.avi")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return Log->mmoText->toPlainText().contains("no_such_file.avi"); }));
    Log->close();
    Child<QAction>(W, "ShowLog")->trigger();
    EXPECT_TRUE(Log->isVisible());
    EXPECT_EQ(W.findChildren<TfrmLog*>().size(), 1);
}

// Start with nothing to convert says why in the status line and queues nothing.
TEST_F(MainWindowTest, StartWithNothingToConvertSaysWhy) {
    const struct {
        QStringList Files;
        const char* Status;
    } Cases[] = {
        {{}, "Add files to convert"},
        {MediaList({"clip.avi", "short.avi"}), "Check the files to convert"},
    };
    for (const auto& Case : Cases) {
        TfrmMain& W = OpenShown();
        if (!Case.Files.isEmpty()) W.AddFiles(Case.Files);
        W.FilesModel()->SetAllChecked(false);
        W.btnStart->click();
        EXPECT_EQ(W.StatusText(), QString(Case.Status));
        EXPECT_EQ(W.Converter().JobCount(), 0);
        EXPECT_TRUE(W.btnStart->isEnabled());
        Window.reset();
    }
}

TEST_F(MainWindowTest, CloseQueryFreesTheGlobalObjectAndStopsTheTimer) {
    TfrmMain& W = OpenShown();
    W.AddFiles({Media("clip.avi")});
    EXPECT_EQ(GlobalObject != nullptr, true);
    EXPECT_TRUE(W.close());
    EXPECT_EQ(GlobalObject, nullptr);
    EXPECT_FALSE(W.Timer1->isActive());
    // Adding after the close does nothing.
    EXPECT_EQ(W.AddFiles({Media("tone.mp3")}), 0);
}
