// Scratch settings, captured message boxes and a desktop that records what
// the window asks of it, for the main window tests.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/GlobalUnit.h"
#include "gui/BatchRun.h"
#include "gui/FileList.h"
#include "gui/WinMain.h"
#include "tests/TestMedia.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;

inline std::string ReadWhole(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

// A child of the window by its object name: a menu, a menu entry or a
// control the window keeps to itself. Fails the test when there is none.
template <class T>
T* Child(const QObject& Window, const char* Name) {
    T* Found = Window.findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << "no " << Name;
    return Found;
}

// Enables the entries of the window's menu Name as its opening does,
// without showing it.
inline void MenuOpening(const QObject& Window, const char* Name) {
    if (QMenu* Menu = Child<QMenu>(Window, Name)) emit Menu->aboutToShow();
}

// The Skin menu's entry for theme Index.
inline QAction* SkinEntry(const QObject& Window, int Index) {
    QMenu* Skin = Child<QMenu>(Window, "Skin1");
    if (!Skin) return nullptr;
    QList<QAction*> Entries;
    for (QAction* A : Skin->actions())
        if (!A->isSeparator()) Entries << A;
    return Index < Entries.size() ? Entries[Index] : nullptr;
}

// Collects every message box while it lives, and answers questions: with
// the next of Answers (captions) while there are any, else with the
// question's Cancel answer.
class TMessages {
public:
    struct TMessage {
        std::string Caption, Text;
        TMessageKind Kind;
    };
    TMessages() {
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind K) {
            List.push_back({C, T, K});
        });
        SetQuestionFunction([this](const std::string&, const std::string& T, const std::vector<std::string>& A,
                                   int, int Cancel) {
            Questions.push_back(T);
            if (Answers.empty()) return Cancel;
            const std::string Wanted = Answers.front();
            Answers.erase(Answers.begin());
            for (size_t I = 0; I < A.size(); ++I)
                if (A[I] == Wanted) return static_cast<int>(I);
            ADD_FAILURE() << "no answer " << Wanted << " to " << T;
            return Cancel;
        });
    }
    ~TMessages() {
        SetMessageFunction({});
        SetQuestionFunction({});
    }
    std::vector<TMessage> List;
    std::vector<std::string> Questions;
    std::vector<std::string> Answers;
};

// Records addresses and folders instead of opening them.
class TFakePlatform : public TPlatformServices {
public:
    TFakePlatform() { SetPlatform(this); }
    ~TFakePlatform() override { SetPlatform(nullptr); }
    bool OpenUrl(const std::string& Url) override {
        Urls.push_back(Url);
        return Answer;
    }
    bool OpenFolder(const std::string& Folder) override {
        Folders.push_back(Folder);
        return Answer;
    }
    bool PowerOff() override {
        ++PowerOffs;
        return false;
    }
    bool IsCdRom(const std::string&) override { return false; }
    int InhibitSleep(const std::string&) override {
        ++SleepLocksHeld;
        return ++SleepLocks;
    }
    void ReleaseSleep(int) override { --SleepLocksHeld; }
    bool Notify(const std::string& Summary, const std::string& Body) override {
        Notes.push_back(Summary + ": " + Body);
        return true;
    }
    std::vector<std::string> Urls, Folders, Notes;
    int PowerOffs = 0;
    int SleepLocks = 0, SleepLocksHeld = 0;
    bool Answer = true;
};

// A scratch folder per test with its own copies of the two INI files, HOME
// pointing into it and the output folder inside it. Message boxes and the
// desktop are captured while it lives.
class TWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string Name = std::string(Info->test_suite_name()) + "_" + Info->name();
        for (char& C : Name)
            if (C == '/') C = '_';
        Folder = ScratchFolder(Name);
        if (const char* Old = std::getenv("HOME")) OldHome = Old;
        fs::create_directories(Folder / "home");
        setenv("HOME", (Folder / "home").c_str(), 1);
        SettingsIni = (Folder / "tarnmp4videoconverter.ini").string();
        FormatIni = (Folder / "tarnmp4format.ini").string();
        fs::copy_file(SOURCE_DIR "/data/tarnmp4videoconverter.ini", SettingsIni);
        fs::copy_file(SOURCE_DIR "/data/tarnmp4format.ini", FormatIni);
        OutputDir = (Folder / "out").string();
        TAppSettings(SettingsIni).SetOutputDir(OutputDir);
        ApplyTheme(0);
    }
    void TearDown() override {
        Window.reset();
        setenv("HOME", OldHome.c_str(), 1);
        ApplyTheme(0);
    }

    TStartOptions Options() const {
        TStartOptions O;
        O.SettingsFile = SettingsIni;
        O.ProfilesFile = FormatIni;
        return O;
    }
    TfrmMain& Open(const TStartOptions& O) {
        Window = std::make_unique<TfrmMain>(O);
        return *Window;
    }
    TfrmMain& Open() { return Open(Options()); }
    TfrmMain& OpenShown() {
        Open();
        Window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
        return *Window;
    }
    static QString Media(const char* Name) { return QString::fromStdString(MediaPath(Name)); }
    static QStringList MediaList(std::initializer_list<const char*> Names) {
        QStringList L;
        for (const char* N : Names) L << Media(N);
        return L;
    }
    int Rows() const { return Window->FilesModel()->Count(); }
    std::vector<bool> Checks() const {
        std::vector<bool> C;
        for (int R = 0; R < Rows(); ++R) C.push_back(Window->FilesModel()->Checked(R));
        return C;
    }

    fs::path Folder;
    std::string SettingsIni, FormatIni, OutputDir, OldHome;
    TMessages Messages;
    TFakePlatform Desktop;
    std::unique_ptr<TfrmMain> Window;
};
