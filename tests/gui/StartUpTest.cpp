// Start-up: the settings read at creation, the command line, the files it
// names, the exception handler and the folder rule's warning.
#include <cerrno>
#include <cstring>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>

#include "app/CommandLine.h"
#include "engine/FFmpeg.h"
#include "gui/ProfileList.h"
#include "gui/AddFiles.h"
#include "gui/Application.h"
#include "gui/StartOptions.h"
#include "tests/gui/GuiTestSupport.h"

using StartUpTest = TWindowFixture;

namespace {

struct TStartCase {
    const char* Name;
    const char* Settings;  // text of the settings file; null: no file
    int Profile;           // expected combo index
    int Theme;             // expected theme
    int Checked;           // Skin entry with the check mark
    bool DefaultFolder;    // "OutPutDir" shows the default folder
};

const TStartCase StartCases[] = {
    {"NoSettingsFile", nullptr, 0, 0, 0, true},
    {"EmptySection", "[settings]\n", 0, 0, 0, true},
    {"StoredChoices", "[settings]\nOutPutFormat=12\nskinIndex=4\nOutPutDir=/srv/videos\n", 12, 4, 4, false},
    {"KeysInOtherCase", "[SETTINGS]\noutputformat=3\nSKININDEX=6\n", 3, 6, 6, true},
    // No entry matches: none is checked and the theme in use stays.
    {"ThemeOutOfRangeKeepsTheCurrentOne", "[settings]\nskinIndex=9\n", 0, 0, -1, true},
    {"ProfileOutOfRangeSelectsNothing", "[settings]\nOutPutFormat=51\n", -1, 0, 0, true},
};

class StartTest : public TWindowFixture, public ::testing::WithParamInterface<TStartCase> {};

}  // namespace

TEST_P(StartTest, ShowsTheStoredChoicesAndWritesNothing) {
    const TStartCase& Case = GetParam();
    const std::string Settings = (Folder / "start.ini").string();
    if (Case.Settings) std::ofstream(Settings) << Case.Settings;
    TStartOptions O = Options();
    O.SettingsFile = Settings;
    TfrmMain& W = Open(O);
    W.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));

    EXPECT_EQ(SelectedProfile(W.cbOutputFormat), Case.Profile);
    EXPECT_EQ(CurrentTheme(), Case.Theme);
    MenuOpening(W, "Skin1");
    for (int I = 0; I < ThemeCount; ++I) EXPECT_EQ(SkinEntry(W, I)->isChecked(), I == Case.Checked) << I;
    const std::string Expected = Case.DefaultFolder ? (Folder / "home" / "videoconverter").string() : "/srv/videos";
    EXPECT_EQ(W.edDirectory->text().toStdString(), Expected);
    // Showing the stored values writes nothing back.
    EXPECT_EQ(fs::exists(Settings), Case.Settings != nullptr);
    if (Case.Settings) {
        EXPECT_EQ(ReadWhole(Settings), Case.Settings);
    }
    EXPECT_EQ(GlobalObject->SettingsIni(), Settings);
    EXPECT_EQ(GlobalObject->FormatIni(), FormatIni);
    EXPECT_EQ(QApplication::applicationDisplayName(), "Tarn MP4 Video Converter");
}

INSTANTIATE_TEST_SUITE_P(Gui, StartTest, ::testing::ValuesIn(StartCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The command line.

namespace {

struct TArgsCase {
    const char* Name;
    std::vector<std::string> Args;
    bool Error;
    std::string Settings, Profiles;
    std::vector<std::string> Files;
};

const TArgsCase ArgsCases[] = {
    {"Nothing", {}, false, "", "", {}},
    {"FilesOnly", {"a.avi", "b c.mp4"}, false, "", "", {"a.avi", "b c.mp4"}},
    {"BothFiles", {"--settings", "s.ini", "--profiles=p.ini", "x.avi"}, false, "s.ini", "p.ini", {"x.avi"}},
    {"DashDashEndsOptions", {"--", "--settings", "-h"}, false, "", "", {"--settings", "-h"}},
    {"UnknownOption", {"--profile", "3"}, true, "", "", {}},
    {"TarnconvOptionIsNotOurs", {"-o", "out"}, true, "", "", {}},
    {"MissingValue", {"x.avi", "--settings"}, true, "", "", {}},
    {"EmptyValue", {"--profiles="}, true, "", "", {}},
};

class StartOptionsTest : public ::testing::TestWithParam<TArgsCase> {};

}  // namespace

TEST_P(StartOptionsTest, ParsesOrRefuses) {
    const TArgsCase& Case = GetParam();
    if (Case.Error) {
        EXPECT_THROW(ParseStartOptions(Case.Args), EUsageError);
        return;
    }
    const TStartOptions O = ParseStartOptions(Case.Args);
    EXPECT_EQ(O.SettingsFile, Case.Settings);
    EXPECT_EQ(O.ProfilesFile, Case.Profiles);
    EXPECT_EQ(O.Files, Case.Files);
}

INSTANTIATE_TEST_SUITE_P(Gui, StartOptionsTest, ::testing::ValuesIn(ArgsCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(GuiProgramTest, UsageErrorExitsWithTwoBeforeAnyWindow) {
    QProcess Program;
    // Without a display a window would fail differently; the usage comes first.
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.remove("DISPLAY");
    Env.remove("WAYLAND_DISPLAY");
    Env.insert("QT_QPA_PLATFORM", "xcb");
    Program.setProcessEnvironment(Env);
    for (const QStringList& Args : {QStringList{"--bogus"}, QStringList{"--settings"},
                                    QStringList{"--profiles", "/no/such/profiles.ini"}}) {
        Program.start(APP_BIN_DIR "/tarnmp4videoconverter", Args);
        ASSERT_TRUE(Program.waitForFinished(20000));
        EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Program.exitCode(), 2) << Args.join(' ').toStdString();
        const QString Err = QString::fromLocal8Bit(Program.readAllStandardError());
        EXPECT_FALSE(Err.isEmpty());
        if (Args.first() != "--profiles") {
            EXPECT_TRUE(Err.contains("Usage: tarnmp4videoconverter")) << Err.toStdString();
        }
    }
}

TEST_F(StartUpTest, CommandLineFilesAreAddedOnceTheWindowShows) {
    TStartOptions O = Options();
    O.Files = {MediaPath("clip.avi"), MediaPath("random.bin"), (Folder).string(), MediaPath("clip.avi"),
               MediaPath("tone.wav")};
    TfrmMain& W = Open(O);
    QSignalSpy Added(&W, &TfrmMain::InitialFilesAdded);
    EXPECT_EQ(Rows(), 0);
    W.show();
    ASSERT_TRUE(Added.wait(20000));
    EXPECT_EQ(Added.first().first().toInt(), 2);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(W.RowRecord(0)->SourceFile, MediaPath("clip.avi"));
    EXPECT_EQ(W.RowRecord(1)->SourceFile, MediaPath("tone.wav"));
    EXPECT_TRUE(W.LogText().contains("***File open error: "));
    EXPECT_EQ(W.StatusText(), FailureStatus(1));
}

TEST_F(StartUpTest, RelativeCommandLinePathsBecomeFullPaths) {
    const QString Old = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(MediaPath("")));
    TfrmMain& W = Open();
    W.AddFiles({"clip.avi", "./tone.wav"});
    QDir::setCurrent(Old);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(W.RowRecord(0)->SourceFile, MediaPath("clip.avi"));
    EXPECT_EQ(W.RowRecord(1)->SourceFile, MediaPath("tone.wav"));
}

// The exception handler.

namespace {

struct TExceptionCase {
    const char* Name;
    std::function<void()> Raise;
    const char* Text;
    TMessageKind Kind;
};

const TExceptionCase ExceptionCases[] = {
    {"EngineErrorGetsFullStopAndWarning", [] { throw FFMpegException("Could not open codec for input stream"); },
     "Could not open codec for input stream.", TMessageKind::Warning},
    {"QuoteSortsBeforeFullStop", [] { throw FFMpegException("Unknown encoder 'libamr_nb'"); },
     "Unknown encoder 'libamr_nb'", TMessageKind::Warning},
    {"ExclamationMarkStays", [] { throw std::runtime_error("Disk full!"); }, "Disk full!", TMessageKind::Error},
    {"NonStandardException", [] { throw 42; }, "An unknown error occurred.", TMessageKind::Error},
};

class ExceptionTest : public TWindowFixture, public ::testing::WithParamInterface<TExceptionCase> {};

}  // namespace

TEST_P(ExceptionTest, IsShownUnderTheTitleAndTheLoopGoesOn) {
    const TExceptionCase& Case = GetParam();
    Open();
    EXPECT_FALSE(DeliverGuarded([&] {
        Case.Raise();
        return true;
    }));
    ASSERT_EQ(Messages.List.size(), 1u);
    EXPECT_EQ(Messages.List[0].Caption, "Tarn MP4 Video Converter");
    EXPECT_EQ(Messages.List[0].Text, Case.Text);
    EXPECT_EQ(Messages.List[0].Kind, Case.Kind);
    // The next event is delivered as usual.
    EXPECT_TRUE(DeliverGuarded([] { return true; }));
    EXPECT_EQ(Messages.List.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Gui, ExceptionTest, ::testing::ValuesIn(ExceptionCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The folder rule.

TEST_F(StartUpTest, FolderThatCannotBeMadeIsReplacedForThisRunWithAWarning) {
    // A folder below a file cannot be made.
    std::ofstream(Folder / "plain_file") << "x";
    const std::string Bad = (Folder / "plain_file" / "out").string();
    TAppSettings(SettingsIni).SetOutputDir(Bad);
    TfrmMain& W = Open();
    W.AddFiles(MediaList({"clip.avi", "tone.wav"}));
    ASSERT_EQ(Rows(), 2);
    // Once for the first file only.
    ASSERT_EQ(Messages.List.size(), 1u);
    const std::string Default = (Folder / "home" / "videoconverter").string();
    EXPECT_EQ(Messages.List[0].Caption, "Warning");
    EXPECT_EQ(Messages.List[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Messages.List[0].Text, "Cannot create output directory: " + Bad + " (" + std::strerror(ENOTDIR) +
                                         "). It will use the default directory " + Default +
                                         " for now; the chosen directory stays in the settings.");
    // The stored choice stays for the next start; the field shows where
    // this run writes.
    EXPECT_EQ(TAppSettings(SettingsIni).OutputDir(), Bad);
    EXPECT_EQ(W.findChild<QLineEdit*>("edDirectory")->text().toStdString(), Default);
    EXPECT_TRUE(fs::is_directory(Default));
    EXPECT_EQ(W.RowRecord(0)->OutputFile, Default + "/clip_(new)_ipod.mp4");
}
