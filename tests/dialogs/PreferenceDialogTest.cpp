// The preferences dialog, driven through its controls: what it shows of the
// settings file, the rules its boxes keep, Brows, Open, Default, OK, Cancel.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/GlobalUnit.h"
#include "common/IniFile.h"
#include "dialogs/Directory.h"
#include "dialogs/WinPreference.h"
#include "tests/TestMedia.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;

namespace {

class TRecordingPlatform : public TPlatformServices {
public:
    bool OpenUrl(const std::string&) override { return false; }
    bool OpenFolder(const std::string& Folder) override {
        Folders.push_back(Folder);
        return Answer;
    }
    bool PowerOff() override { return false; }
    bool IsCdRom(const std::string&) override { return false; }
    std::vector<std::string> Folders;
    bool Answer = true;
};

std::string ReadAll(const fs::path& Path) {
    std::ifstream In(Path);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

class PreferenceDialog : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = ScratchFolder(std::string("preference_") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        if (const char* Home = std::getenv("HOME")) OldHome = Home;
        fs::create_directories(Folder / "home");
        setenv("HOME", (Folder / "home").c_str(), 1);
        Settings = (Folder / "settings.ini").string();
        SetPlatform(&Desktop);
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind) {
            Messages.push_back(C + ": " + T);
        });
        ApplyTheme(0);
    }
    void TearDown() override {
        Dialog.reset();
        SetPlatform(nullptr);
        SetMessageFunction({});
        setenv("HOME", OldHome.c_str(), 1);
    }

    TfrmPreference& Open() {
        if (!Dialog) Dialog = std::make_unique<TfrmPreference>(Settings);
        Dialog->open();
        EXPECT_TRUE(Dialog->isVisible());
        return *Dialog;
    }
    void Write(const std::string& Key, const std::string& Value) {
        IniFile(Settings).WriteString("settings", Key, Value);
    }
    std::string Read(const std::string& Key) const { return IniFile(Settings).ReadString("settings", Key, "<none>"); }
    static void Click(QAbstractButton* Button) { QTest::mouseClick(Button, Qt::LeftButton); }
    // Answers the folder chooser that Brows opens: OK on Chosen, or Cancel.
    void AnswerChooser(const std::string& Chosen) {
        QTimer::singleShot(0, [this, Chosen] {
            TfmDirectory* Chooser = Dialog->Chooser();
            ASSERT_TRUE(Chooser && Chooser->isVisible());
            if (Chosen.empty()) {
                Click(Chooser->btnCancel);
                return;
            }
            ASSERT_TRUE(Chooser->SelectFolder(Chosen));
            Click(Chooser->btnOk);
        });
    }

    fs::path Folder;
    std::string OldHome, Settings;
    TRecordingPlatform Desktop;
    std::vector<std::string> Messages;
    std::unique_ptr<TfrmPreference> Dialog;
};

}  // namespace

TEST_F(PreferenceDialog, ShowsTheSettingsFileWithTheControlsLimits) {
    struct TCase {
        const char* Lines;  // key=value lines of the section "settings"
        bool Small, Full, Bmp, Jpg;
        int Quality, Priority, Jobs;
    };
    const int Cores = TfrmPreference::MaxJobs();
    const TCase Cases[] = {
        {"", true, true, true, true, 30, 1, 1},
        {"jpgCmp=0\nsnapJpg=0\nPriority=3", true, true, true, false, 1, 3, 1},
        {"jpgCmp=150\nsnapSmallSize=0\npriority=0\njobs=99", false, true, true, true, 100, 0, Cores},
        // The file is shown as it is: the click rules are for clicks.
        {"snapFullSize=0\nsnapSmallSize=0\nsnapBmp=0\njobs=0", false, false, false, true, 30, 1, 1},
        {"priority=7\njpgCmp=55", true, true, true, true, 55, 1, 1},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Lines);
        std::ofstream(Settings) << "[settings]\nsnapOutPutDir=/data/snaps\n" << C.Lines << "\n";
        TfrmPreference& D = Open();
        EXPECT_EQ(D.windowTitle(), "Preference");
        EXPECT_EQ(D.size(), QSize(TfrmPreference::ShownWidth, TfrmPreference::ShownHeight));
        EXPECT_EQ(D.edtSnapDirectory->text(), "/data/snaps");
        EXPECT_TRUE(D.edtSnapDirectory->isReadOnly());
        EXPECT_EQ(D.edtSnapDirectory->palette().color(QPalette::Base), QColor(227, 227, 227));
        EXPECT_EQ(D.ckSmallSize->isChecked(), C.Small);
        EXPECT_EQ(D.ckFullSize->isChecked(), C.Full);
        EXPECT_EQ(D.ckBmp->isChecked(), C.Bmp);
        EXPECT_EQ(D.ckJpg->isChecked(), C.Jpg);
        EXPECT_EQ(D.spedCmp->isEnabled(), C.Jpg);
        EXPECT_EQ(D.trcCmp->isEnabled(), C.Jpg);
        EXPECT_EQ(D.spedCmp->value(), C.Quality);
        EXPECT_EQ(D.trcCmp->value(), C.Quality);
        EXPECT_EQ(D.PriorityIndex(), C.Priority);
        EXPECT_EQ(D.spedJobs->value(), C.Jobs);
        D.reject();
    }
    // Without a file the snapshot folder is the default one.
    fs::remove(Settings);
    EXPECT_EQ(Open().edtSnapDirectory->text().toStdString(), DefaultOutputFolder());
    EXPECT_EQ(Dialog->spedCmp->toolTip().count('\n'), 7);
    EXPECT_TRUE(Dialog->spedCmp->toolTip().startsWith("Use Compression Quality to set"));
    EXPECT_EQ(Dialog->rdGrpPriority->title(), "Work priority");
}

TEST_F(PreferenceDialog, ClicksKeepOneSizeAndOneFormatAndJpgControlsQuality) {
    struct TCase {
        const char* Lines;
        QCheckBox* TfrmPreference::*Clicked;
        bool Small, Full, Bmp, Jpg;  // after the click
    };
    const TCase Cases[] = {
        {"snapSmallSize=0", &TfrmPreference::ckFullSize, false, true, true, true},
        {"", &TfrmPreference::ckFullSize, true, false, true, true},
        {"snapFullSize=0", &TfrmPreference::ckSmallSize, true, false, true, true},
        {"", &TfrmPreference::ckSmallSize, false, true, true, true},
        {"snapJpg=0", &TfrmPreference::ckBmp, true, true, true, false},
        {"snapBmp=0", &TfrmPreference::ckJpg, true, true, false, true},
        {"", &TfrmPreference::ckJpg, true, true, true, false},
        {"snapJpg=0", &TfrmPreference::ckJpg, true, true, true, true},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(std::string(C.Lines) + " / " + (Dialog ? "" : "first"));
        std::ofstream(Settings) << "[settings]\n" << C.Lines << "\n";
        TfrmPreference& D = Open();
        Click(D.*C.Clicked);
        EXPECT_EQ(D.ckSmallSize->isChecked(), C.Small);
        EXPECT_EQ(D.ckFullSize->isChecked(), C.Full);
        EXPECT_EQ(D.ckBmp->isChecked(), C.Bmp);
        EXPECT_EQ(D.ckJpg->isChecked(), C.Jpg);
        EXPECT_EQ(D.spedCmp->isEnabled(), C.Jpg);
        EXPECT_EQ(D.trcCmp->isEnabled(), C.Jpg);
        D.reject();
    }
}

TEST_F(PreferenceDialog, QualityControlsShowOneValue) {
    TfrmPreference& D = Open();
    D.trcCmp->setValue(57);
    EXPECT_EQ(D.spedCmp->value(), 57);
    QTest::mouseClick(D.spedCmp, Qt::LeftButton, {}, QPoint(D.spedCmp->width() - 6, 4));  // the up arrow
    EXPECT_EQ(D.spedCmp->value(), 58);
    EXPECT_EQ(D.trcCmp->value(), 58);
    // Typing is not how the value changes.
    D.spedCmp->setFocus();
    QTest::keyClicks(D.spedCmp, "9");
    EXPECT_EQ(D.spedCmp->value(), 58);
}

TEST_F(PreferenceDialog, CancelWritesNothingAndReopeningShowsTheFile) {
    Write("snapSmallSize", "0");
    const std::string Before = ReadAll(Settings);
    TfrmPreference& D = Open();
    Click(D.ckSmallSize);
    D.trcCmp->setValue(80);
    D.rdGrpPriorityItems->button(3)->click();
    Click(D.btnDefault);
    Click(D.btnCancel);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(ReadAll(Settings), Before);
    Open();
    EXPECT_FALSE(D.ckSmallSize->isChecked());
    EXPECT_EQ(D.spedCmp->value(), 30);
}

TEST_F(PreferenceDialog, BrowsStoresTheFolderAtOnceAndACancelledChooserNothing) {
    const fs::path Snaps = Folder / "home" / "snaps";
    fs::create_directories(Snaps);
    Write("snapOutPutDir", "/data/old");
    TfrmPreference& D = Open();

    AnswerChooser("");
    Click(D.btnBrows);
    EXPECT_EQ(D.edtSnapDirectory->text(), "/data/old");
    EXPECT_EQ(Read("SnapOutPutDir"), "/data/old");

    AnswerChooser(Snaps.string());
    Click(D.btnBrows);
    EXPECT_EQ(D.edtSnapDirectory->text().toStdString(), Snaps.string());
    EXPECT_EQ(Read("SnapOutPutDir"), Snaps.string());
    Click(D.btnCancel);
    EXPECT_EQ(Read("SnapOutPutDir"), Snaps.string());
    EXPECT_EQ(Open().edtSnapDirectory->text().toStdString(), Snaps.string());
}

TEST_F(PreferenceDialog, OpenShowsTheStoredFolder) {
    Write("snapOutPutDir", "/data/snaps");
    TfrmPreference& D = Open();
    // After Default the field shows another folder; Open still goes to the stored one.
    Click(D.btnDefault);
    Click(D.btnOpen);
    EXPECT_EQ(Desktop.Folders, std::vector<std::string>{"/data/snaps"});
    EXPECT_TRUE(Messages.empty());

    Desktop.Answer = false;
    Click(D.btnOpen);
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: Cannot open the folder /data/snaps."});
}

TEST_F(PreferenceDialog, DefaultThenOkStoresTheListedValues) {
    std::ofstream(Settings) << "[settings]\nsnapOutPutDir=/data/snaps\nsnapJpg=1\nsnapSmallSize=1\n"
                               "jpgCmp=77\npriority=3\njobs=2\nskinIndex=4\nkeepList=0\n";
    TfrmPreference& D = Open();
    EXPECT_FALSE(D.ckKeepList->isChecked());
    Click(D.btnDefault);
    EXPECT_FALSE(D.spedCmp->isEnabled());
    Click(D.btnOk);
    EXPECT_FALSE(D.isVisible());
    const std::pair<const char*, std::string> Expected[] = {
        {"snapOutPutDir", DefaultOutputFolder()}, {"snapBmp", "1"}, {"snapJpg", "0"}, {"snapFullSize", "1"},
        {"snapSmallSize", "0"}, {"jpgCmp", "20"}, {"priority", "1"}, {"jobs", "1"}, {"skinIndex", "4"},
        {"keepList", "1"}};
    for (const auto& [Key, Value] : Expected) EXPECT_EQ(Read(Key), Value) << Key;
    const std::string Text = ReadAll(Settings);
    EXPECT_NE(Text.find("snapOutPutDir="), std::string::npos);
    EXPECT_NE(Text.find("priority="), std::string::npos);
}

TEST_F(PreferenceDialog, OkStoresTheChoicesAndConversionsAtOnce) {
    if (TfrmPreference::MaxJobs() < 2) GTEST_SKIP() << "one core";
    TfrmPreference& D = Open();
    Click(D.ckFullSize);
    Click(D.ckBmp);
    D.trcCmp->setValue(64);
    D.rdGrpPriorityItems->button(0)->click();
    D.spedJobs->setValue(2);
    EXPECT_TRUE(D.ckKeepList->isChecked()) << "kept unless turned off";
    D.ckKeepList->click();
    D.edtSnapDirectory->clear();  // an empty field stores the default folder
    Click(D.btnOk);
    const std::pair<const char*, std::string> Expected[] = {
        {"SnapOutPutDir", DefaultOutputFolder()}, {"snapBmp", "0"}, {"snapJpg", "1"}, {"snapFullSize", "0"},
        {"snapSmallSize", "1"}, {"jpgCmp", "64"}, {"Priority", "0"}, {"jobs", "2"}, {"keepList", "0"}};
    for (const auto& [Key, Value] : Expected) EXPECT_EQ(Read(Key), Value) << Key;
    EXPECT_EQ(TfrmPreference::StoredJobs(Settings), 2);
}

TEST_F(PreferenceDialog, CaptionsFitUnderTwoThemes) {
    Write("snapOutPutDir", "/home/someone/Pictures/Snapshots of the holiday videos");
    const char* Shots = std::getenv("TARN_SHOTS_DIR");
    for (int Theme : {0, 4}) {
        ApplyTheme(Theme);
        TfrmPreference& D = Open();
        QTest::qWait(20);
        for (QWidget* W : D.findChildren<QWidget*>()) {
            if (!W->isVisible() || W->objectName().startsWith("qt_")) continue;
            EXPECT_GE(W->width(), W->minimumSizeHint().width()) << W->objectName().toStdString();
            EXPECT_GE(W->height(), W->minimumSizeHint().height()) << W->metaObject()->className() << " " << W->objectName().toStdString();
        }
        if (Shots)
            D.grab().save(QDir(Shots).filePath(QString("preference_%1.png").arg(ThemeName(Theme)).replace(' ', '_')));
        D.reject();
    }
    ApplyTheme(0);
}
