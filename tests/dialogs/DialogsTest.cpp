// The splash, the about box, the folder chooser and the watermark dialog,
// driven through their controls with message boxes and the desktop replaced.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/GlobalUnit.h"
#include "common/Files.h"
#include "dialogs/Directory.h"
#include "dialogs/WinAbout.h"
#include "dialogs/WinCover.h"
#include "dialogs/WinWaterMark.h"
#include "app/Credits.h"
#include "binding/LibAV.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;

namespace {

struct TMessage {
    std::string Caption, Text;
    TMessageKind Kind;
};

// Answers the CD-ROM question from a list of folders and records every
// address it is asked to open; it never powers anything off.
class TFakePlatform : public TPlatformServices {
public:
    std::vector<std::string> CdRoms;
    std::vector<std::string> Opened;
    bool OpenUrl(const std::string& Url) override {
        Opened.push_back(Url);
        return true;
    }
    bool OpenFolder(const std::string& Folder) override {
        Opened.push_back(Folder);
        return true;
    }
    bool PowerOff() override { return false; }
    bool IsCdRom(const std::string& Folder) override {
        for (const std::string& Cd : CdRoms)
            if (Folder == Cd || Folder.rfind(Cd + "/", 0) == 0) return true;
        return false;
    }
};

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatform(&Fake);
        SetMessageFunction([this](const std::string& Caption, const std::string& Text, TMessageKind Kind) {
            Messages.push_back({Caption, Text, Kind});
        });
        // One folder per test: ctest may run the cases side by side.
        Root = fs::path(TEST_BINARY_DIR) /
               (std::string("folders-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Root);
        fs::create_directories(Root / "cdrom" / "video");
        fs::create_directories(Root / "disk");
        Fake.CdRoms.push_back((Root / "cdrom").string());
    }
    void TearDown() override {
        SetPlatform(nullptr);
        SetMessageFunction({});
        fs::remove_all(Root);
    }

    TFakePlatform Fake;
    std::vector<TMessage> Messages;
    fs::path Root;
};

void Click(QPushButton* Button) { QTest::mouseClick(Button, Qt::LeftButton); }

}  // namespace

TEST_F(DialogsTest, FolderChooserRefusesCdRomThenTakesAnotherAndCancelEmpties) {
    TfmDirectory Chooser;
    Chooser.open();
    ASSERT_TRUE(Chooser.isVisible());
    EXPECT_EQ(Chooser.size(), QSize(TfmDirectory::ShownWidth, TfmDirectory::ShownHeight));
    EXPECT_TRUE(Chooser.ChosenFolder().empty());

    ASSERT_TRUE(Chooser.SelectFolder((Root / "cdrom" / "video").string()));
    Click(Chooser.btnOk);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Tarn MP4 Video Converter");
    EXPECT_EQ(Messages[0].Text, "Output folder cannot be located in CD-ROM.Please select another folder.");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Information);
    EXPECT_TRUE(Chooser.isVisible());
    EXPECT_TRUE(Chooser.ChosenFolder().empty());

    ASSERT_TRUE(Chooser.SelectFolder((Root / "disk").string()));
    Click(Chooser.btnOk);
    EXPECT_FALSE(Chooser.isVisible());
    EXPECT_EQ(Chooser.result(), QDialog::Accepted);
    EXPECT_EQ(Chooser.ChosenFolder(), (Root / "disk").string());
    EXPECT_EQ(Messages.size(), 1u);

    // The choice is kept until the next opening ends without OK.
    Chooser.open();
    EXPECT_EQ(Chooser.ChosenFolder(), (Root / "disk").string());
    Click(Chooser.btnCancel);
    EXPECT_FALSE(Chooser.isVisible());
    EXPECT_TRUE(Chooser.ChosenFolder().empty());

    // Closing with Escape counts as Cancel, not as the earlier choice.
    Chooser.open();
    Chooser.SelectFolder((Root / "disk").string());
    Click(Chooser.btnOk);
    Chooser.open();
    QTest::keyClick(&Chooser, Qt::Key_Escape);
    EXPECT_FALSE(Chooser.isVisible());
    EXPECT_TRUE(Chooser.ChosenFolder().empty());
}

TEST_F(DialogsTest, FolderChooserOpensAtHomeAndDisablesOkOnReservedEntries) {
    TfmDirectory Chooser;
    Chooser.open();
    EXPECT_EQ(Chooser.SelectedFolder(), QDir::cleanPath(QString::fromStdString(HomeFolder())).toStdString());
    const struct {
        std::string Folder;
        bool Enabled;
    } Cases[] = {{"/", false},    {"/proc", false}, {"/sys", false}, {"/dev", false},
                 {"/run", false}, {"/tmp", true},   {"/usr", true},  {(Root / "disk").string(), true}};
    for (const auto& C : Cases) {
        if (!fs::is_directory(C.Folder)) continue;
        ASSERT_TRUE(Chooser.SelectFolder(C.Folder)) << C.Folder;
        EXPECT_EQ(Chooser.btnOk->isEnabled(), C.Enabled) << C.Folder;
    }
    // A right click selects too, and the rule follows it.
    QAbstractItemModel* Model = Chooser.stview_selectdir->model();
    ASSERT_TRUE(Chooser.SelectFolder((Root / "disk").string()));
    const QPersistentModelIndex Disk = Chooser.stview_selectdir->currentIndex();
    Chooser.SelectFolder("/proc");
    ASSERT_FALSE(Chooser.btnOk->isEnabled());
    // Below a deep checkout the row may lie out of sight, down or to the
    // right of its indent: the user scrolls to it.
    QTreeView* Tree = Chooser.stview_selectdir;
    Tree->scrollTo(Disk);
    QRect Row = Tree->visualRect(Disk);
    if (Row.left() + 20 > Tree->viewport()->width()) {
        QScrollBar* Sideways = Tree->horizontalScrollBar();
        QTRY_VERIFY(Sideways->maximum() >= Row.left());
        Sideways->setValue(Sideways->value() + Row.left());
        Row = Tree->visualRect(Disk);
    }
    ASSERT_TRUE(Row.isValid());
    ASSERT_TRUE(Tree->viewport()->rect().contains(Row.topLeft() + QPoint(4, 4)));
    QTest::mouseClick(Tree->viewport(), Qt::RightButton, {}, Row.topLeft() + QPoint(4, Row.height() / 2));
    EXPECT_EQ(Model->data(Chooser.stview_selectdir->currentIndex()).toString().toStdString(), "disk");
    EXPECT_TRUE(Chooser.btnOk->isEnabled());

    // OK on a reserved entry does nothing, even if called directly.
    Chooser.SelectFolder("/proc");
    Chooser.btnOkClick();
    EXPECT_TRUE(Chooser.isVisible());
    EXPECT_TRUE(Chooser.ChosenFolder().empty());
    EXPECT_FALSE(Chooser.SelectFolder((Root / "missing").string()));
    Chooser.reject();
}

TEST_F(DialogsTest, WaterMarkShowsSourcePathByTheFiftyFiveRule) {
    auto PathOf = [](size_t Length) {
        std::string Path = "/videos/" + std::string(Length - 8 - 4, 'k') + ".avi";
        return Path;
    };
    const std::string P55 = PathOf(55), P56 = PathOf(56);
    ASSERT_EQ(P55.size(), 55u);
    const struct {
        std::string Source;
        std::string Shown;
    } Cases[] = {
        {P55, P55},
        {P56, P56.substr(0, 50) + "...avi  "},
        {"", ""},
    };
    TfrmWaterMark Mark;
    for (const auto& C : Cases) {
        Mark.SetSourceFile(C.Source);
        Mark.open();
        EXPECT_EQ(Mark.lblSourceName->text().toStdString(), C.Shown) << C.Source;
        Mark.reject();
    }

    Mark.SetSourceFile(P56);
    Mark.open();
    EXPECT_EQ(Mark.size(), QSize(TfrmWaterMark::ShownWidth, TfrmWaterMark::ShownHeight));
    EXPECT_EQ(Mark.edtPosX->text(), "10");
    EXPECT_EQ(Mark.edtPosY->text(), "10");
    EXPECT_EQ(Mark.edtAddText->palette().color(QPalette::Base), QColor(227, 227, 227));
    // Ok keeps the dialog open and stores nothing; Cancel closes it.
    Mark.edtAddText->setText("hello");
    Click(Mark.btnOk);
    Click(Mark.btnDefault);
    Click(Mark.btnBrows1);
    EXPECT_TRUE(Mark.isVisible());
    EXPECT_EQ(Mark.SourceFile(), P56);
    Click(Mark.btnCancel);
    EXPECT_FALSE(Mark.isVisible());
    EXPECT_TRUE(Messages.empty());
}

TEST_F(DialogsTest, AboutShowsTitleVersionAndOpensItsLink) {
    const struct {
        bool WithGlobal;
        std::string Title, Version, Home;
    } Cases[] = {
        {false, TGlobalObject().AppTitle(), TGlobalObject().AppVersion(), TGlobalObject().HomePageURL()},
        {true, "Other Title", " ver 9.9 ", "file:///opt/tarn/help/index.html#project"},
    };
    for (const auto& C : Cases) {
        std::unique_ptr<TGlobalObject> Global;
        if (C.WithGlobal) {
            Global = std::make_unique<TGlobalObject>();
            Global->SetAppTitle(C.Title);
            Global->SetAppVersion(C.Version);
            Global->SetHomePageURL(C.Home);
            GlobalObject = Global.get();
        }
        TfrmAbout About;
        About.open();
        EXPECT_EQ(About.windowTitle(), "About");
        EXPECT_EQ(About.size(), QSize(TfrmAbout::ShownWidth, TfrmAbout::ShownHeight));
        EXPECT_EQ(About.lblAppNameVer->text().toStdString(), C.Title + C.Version);
        EXPECT_EQ(About.lblRights->text().toStdString(),
                  "Free software under the GNU General Public License, version 2 or later");
        EXPECT_EQ(About.lblBuyNow1->Address().toStdString(), C.Home);
        Fake.Opened.clear();
        QTest::mouseClick(About.lblBuyNow1, Qt::LeftButton);
        EXPECT_EQ(Fake.Opened, std::vector<std::string>{C.Home});
        Click(About.btn1);
        EXPECT_FALSE(About.isVisible());
        GlobalObject = nullptr;
    }
}

// The libraries the program stands on: FFmpeg's six with the versions the
// binding loaded (asked of the box before it shows), the encoders and the
// JPEG library with theirs, and Qt; Licences opens the help page's credits.
TEST_F(DialogsTest, AboutListsTheLibrariesWithTheVersionsLoaded) {
    bool Asked = false;
    TfrmAbout About;
    About.LoadLibraries = [&] {
        Asked = true;
        ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    };
    About.open();
    EXPECT_TRUE(Asked);
    QTreeWidget* List = About.tvCredits;
    auto RowOf = [&](const QString& Name) -> QTreeWidgetItem* {
        for (int I = 0; I < List->topLevelItemCount(); ++I)
            if (List->topLevelItem(I)->text(TfrmAbout::ccName) == Name) return List->topLevelItem(I);
        ADD_FAILURE() << "no row " << Name.toStdString();
        return nullptr;
    };
    const struct {
        const char* Name;
        std::string Version;  // empty: any, but shown
        const char* FilePrefix;
        const char* Licence;
    } Rows[] = {
        {"FFmpeg libavcodec", VersionText(av::avcodec_version()), "libavcodec.so.", "GPL-2.0-or-later"},
        {"FFmpeg libavformat", VersionText(av::avformat_version()), "libavformat.so.", "GPL-2.0-or-later"},
        {"FFmpeg libavutil", VersionText(av::avutil_version()), "libavutil.so.", "GPL-2.0-or-later"},
        {"FFmpeg libavfilter", VersionText(av::avfilter_version()), "libavfilter.so.", "GPL-2.0-or-later"},
        {"FFmpeg libswscale", VersionText(av::swscale_version()), "libswscale.so.", "GPL-2.0-or-later"},
        {"FFmpeg libswresample", VersionText(av::swresample_version()), "libswresample.so.", "GPL-2.0-or-later"},
        {"x264 (H.264 encoder)", "", "libx264.so.", "GPL-2.0-or-later"},
        {"Xvid (MPEG-4 encoder)", "", "libxvidcore.so.", "GPL-2.0-or-later"},
        {"LAME (MP3 encoder)", "", "libmp3lame.so.", "LGPL-2.0-or-later"},
        {"libjpeg-turbo", "", "libjpeg.so.", "IJG AND BSD-3-Clause AND Zlib"},
        {"Qt", qVersion(), "libQt6Core.so.", "LGPL-3.0-only"},
    };
    EXPECT_EQ(List->topLevelItemCount(), int(std::size(Rows)));
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Name);
        QTreeWidgetItem* Item = RowOf(R.Name);
        if (!Item) continue;
        const QString Version = Item->text(TfrmAbout::ccVersion);
        if (!R.Version.empty()) {
            EXPECT_EQ(Version.toStdString(), R.Version);
        }
        EXPECT_FALSE(Version.isEmpty() || Version == "not loaded");
        EXPECT_TRUE(Item->toolTip(TfrmAbout::ccVersion).startsWith(QString("Loaded from ") + R.FilePrefix))
            << Item->toolTip(TfrmAbout::ccVersion).toStdString();
        EXPECT_EQ(Item->text(TfrmAbout::ccLicence).toStdString(), R.Licence);
    }
    // The versions are the loaded libraries' own: libavcodec 59 is FFmpeg 5.1.
    EXPECT_TRUE(RowOf("FFmpeg libavcodec")->text(TfrmAbout::ccVersion).startsWith("59."));
    Fake.Opened.clear();
    Click(About.btnLicences);
    ASSERT_EQ(Fake.Opened.size(), 1u);
    EXPECT_TRUE(QString::fromStdString(Fake.Opened[0]).endsWith("help/index.html#credits"));
    About.reject();
}

// The folder chooser opens at the folder in use (or what is left of it),
// takes a typed or pasted folder, refuses one that does not exist, and
// makes new folders with free names.
TEST_F(DialogsTest, FolderChooserTakesTypedFoldersAndMakesNewOnes) {
    const fs::path Deep = Root / "disk" / "videos" / "converted";
    fs::create_directories(Deep);
    TfmDirectory Chooser;
    EXPECT_EQ(Chooser.windowTitle(), "Browse for Folder");
    EXPECT_GE(Chooser.fontMetrics().horizontalAdvance(Chooser.windowTitle()), 50) << "the whole word";
    const struct {
        const char* Name;
        std::string Start;
        std::string Opens;
    } Starts[] = {
        {"the folder in use", Deep.string(), Deep.string()},
        {"its nearest existing parent", (Deep / "gone" / "deeper").string(), Deep.string()},
        {"home without one", "", QDir::cleanPath(QString::fromStdString(HomeFolder())).toStdString()},
    };
    for (const auto& S : Starts) {
        Chooser.SetStartFolder(S.Start);
        Chooser.open();
        EXPECT_EQ(Chooser.SelectedFolder(), S.Opens) << S.Name;
        EXPECT_EQ(Chooser.edtPath->text().toStdString(), S.Opens) << S.Name;
        Chooser.reject();
    }

    const struct {
        const char* Name;
        std::string Typed;
        bool Taken;
        std::string Chosen;
    } Typed[] = {
        {"a full path", (Root / "disk").string(), true, (Root / "disk").string()},
        {"with a trailing slash and dots", (Root / "disk" / "videos" / ".." / "videos").string() + "/", true,
         (Root / "disk" / "videos").string()},
        {"a pasted address", "file://" + Deep.string(), true, Deep.string()},
        {"a folder that is not there", (Root / "nowhere").string(), false, ""},
    };
    for (const auto& T : Typed) {
        SCOPED_TRACE(T.Name);
        Messages.clear();
        Chooser.SetStartFolder(Deep.string());
        Chooser.open();
        Chooser.edtPath->clear();
        QTest::keyClicks(Chooser.edtPath, QString::fromStdString(T.Typed));
        QTest::keyClick(Chooser.edtPath, Qt::Key_Return);
        EXPECT_EQ(Chooser.isVisible(), !T.Taken);
        EXPECT_EQ(Chooser.ChosenFolder(), T.Chosen);
        EXPECT_EQ(Messages.size(), T.Taken ? 0u : 1u);
        if (!T.Taken) {
            EXPECT_EQ(Messages[0].Text, "The folder " + T.Typed + " does not exist.");
        } else {
            // The tree followed the typing.
            EXPECT_EQ(Chooser.SelectedFolder(), T.Chosen);
        }
        if (Chooser.isVisible()) Chooser.reject();
    }

    // New Folder makes "New Folder", then "New Folder 2", in the folder at
    // hand, and selects it for its name to be typed.
    Messages.clear();
    Chooser.SetStartFolder((Root / "disk").string());
    Chooser.open();
    for (const char* Expected : {"New Folder", "New Folder 2"}) {
        Chooser.SelectFolder((Root / "disk").string());
        Click(Chooser.btnNewFolder);
        EXPECT_TRUE(fs::is_directory(Root / "disk" / Expected)) << Expected;
        EXPECT_EQ(Chooser.SelectedFolder(), (Root / "disk" / Expected).string());
        EXPECT_EQ(Chooser.edtPath->text().toStdString(), (Root / "disk" / Expected).string());
    }
    // The name is being edited in the tree.
    bool Editing = false;
    for (QLineEdit* Editor : Chooser.stview_selectdir->findChildren<QLineEdit*>())
        Editing = Editing || (Editor->isVisible() && Editor->text() == "New Folder 2");
    EXPECT_TRUE(Editing);
    Chooser.reject();
    for (const TMessage& M : Messages) ADD_FAILURE() << M.Text;
}

TEST_F(DialogsTest, SplashHidesOnceTheMainWindowShows) {
    TfrmCover Cover;
    EXPECT_EQ(Cover.size(), QSize(TfrmCover::CoverWidth, TfrmCover::CoverHeight));
    EXPECT_TRUE(Cover.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Cover.tmr1->interval(), 1000);
    ASSERT_FALSE(Cover.imgCover->pixmap().isNull());
    EXPECT_EQ(Cover.imgCover->size(), Cover.size());

    QWidget Main;
    Cover.SetMainWindow(&Main);
    Cover.ShowNow();
    Cover.tmr1Timer();
    EXPECT_TRUE(Cover.isVisible());
    Main.show();
    Cover.tmr1Timer();
    EXPECT_FALSE(Cover.isVisible());
    EXPECT_FALSE(Cover.tmr1->isActive());
}

TEST_F(DialogsTest, SplashTakesAReadableCoverPictureBesideTheProgram) {
    const fs::path Skin = fs::path(QCoreApplication::applicationDirPath().toStdString()) / "skin";
    const fs::path Jpg = Skin / "mp4videocover.jpg";
    const struct {
        bool Present, Readable;
    } Cases[] = {{false, false}, {true, true}, {true, false}};
    for (const auto& C : Cases) {
        fs::remove_all(Skin);
        if (C.Present) fs::create_directories(Skin);
        if (C.Readable) {
            QImage Picture(399, 239, QImage::Format_RGB32);
            Picture.fill(QColor(10, 120, 30));
            ASSERT_TRUE(Picture.save(QString::fromStdString(Jpg.string()), "JPG"));
        } else if (C.Present) {
            std::FILE* Broken = std::fopen(Jpg.c_str(), "wb");
            ASSERT_NE(Broken, nullptr);
            std::fputs("not a picture", Broken);
            std::fclose(Broken);
        }
        TfrmCover Cover;
        EXPECT_EQ(Cover.HasCoverFile(), C.Readable);
        const QImage Shown = Cover.imgCover->pixmap().toImage();
        ASSERT_FALSE(Shown.isNull());
        const QColor Centre = Shown.pixelColor(Shown.width() / 2, Shown.height() / 2);
        EXPECT_EQ(std::abs(Centre.green() - 120) < 12, C.Readable);
    }
    fs::remove_all(Skin);
}

TEST_F(DialogsTest, DialogsTakeTheCurrentThemeWhenShown) {
    TfrmAbout About;
    TfmDirectory Chooser;
    TfrmWaterMark Mark;
    QDialog* const Dialogs[] = {&About, &Chooser, &Mark};
    for (int Theme : {4, 6}) {
        ApplyTheme(Theme);
        const QColor Window = QApplication::palette().color(QPalette::Window);
        for (QDialog* Dialog : Dialogs) {
            Dialog->open();
            EXPECT_EQ(Dialog->palette().color(QPalette::Window), Window) << Dialog->objectName().toStdString();
            Dialog->reject();
        }
    }
    ApplyTheme(0);
}
