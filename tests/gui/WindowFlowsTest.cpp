// The edit, settings, preferences and information commands of the main
// window as a user drives them: each opens its dialog modally on the
// selected row, and what OK stores reaches the batch that follows.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "common/IniFile.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinFileInfo.h"
#include "dialogs/WinPreference.h"
#include "dialogs/WinProgress.h"
#include "dialogs/WinTrim.h"
#include "gui/ProfileList.h"
#include "gui/WinSettings.h"
#include "probe/AVProbe.h"
#include "tests/ConvertOnce.h"
#include "tests/gui/GuiTestSupport.h"

namespace {

constexpr int BatchTimeoutMs = 180000;

// Schedules Act for the dialog of type TDialog that the next command opens
// modally; a dialog Act leaves open is cancelled so the command returns.
template <class TDialog>
void WhenOpen(TfrmMain& W, bool& Answered, std::function<void(TDialog&)> Act) {
    QTimer::singleShot(0, &W, [&W, &Answered, Act] {
        auto* D = W.findChild<TDialog*>();
        if (!D || !QTest::qWaitFor([D] { return D->isVisible(); }, 5000)) return;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(D));
        Answered = true;
        Act(*D);
        if (D->isVisible()) D->reject();
    });
}

// Runs menu entry Entry with a dialog answered by Act; false when no dialog
// came.
template <class TDialog>
bool RunCommand(TfrmMain& W, const char* Entry, std::function<void(TDialog&)> Act) {
    bool Answered = false;
    WhenOpen<TDialog>(W, Answered, std::move(Act));
    // The menus enable their entries as they open.
    MenuOpening(W, "Edit2");
    MenuOpening(W, "ListMenu");
    Child<QAction>(W, Entry)->trigger();
    QCoreApplication::processEvents();
    return Answered;
}

void SetTrim(TfrmTrim& D, const char* Start, const char* End) {
    D.maskedtStartTime->setText(Start);
    D.btnOk1->click();
    D.maskedtEndTime->setText(End);
    D.btnOk2->click();
}

// The spin edits count preview pixels: Top and Bottom are source rows that
// survive the way there and back.
void SetCropRows(TfrmCrop& D, int Top, int Bottom) {
    D.spedUp->setValue(BorderToPreview(Top, D.PictureHeight(), D.FrameHeight()));
    D.spedDown->setValue(BorderToPreview(Bottom, D.PictureHeight(), D.FrameHeight()));
}

// Black rows above and below a picture decoded At µs into Path.
TBorders BlackRows(const std::string& Path, int64_t At, double* Seconds = nullptr) {
    TBorders Borders;
    TAVProbe Probe;
    EXPECT_TRUE(Probe.OpenFile(Path)) << Path << ": " << Probe.LastError();
    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    if (Seconds) *Seconds = Info.Duration / 1e6;
    EXPECT_TRUE(Probe.Seek(-1, At));
    TBitmap& Picture = Probe.DecodeFrame(-1);
    EXPECT_FALSE(Picture.Empty());
    EXPECT_TRUE(FindBlackBorders(Picture, Borders)) << Path;
    Probe.CloseFile();
    return Borders;
}

}  // namespace

class WindowFlows : public TWindowFixture {
protected:
    TfrmMain& Ready(const QStringList& Files) {
        TfrmMain& W = OpenShown();
        W.Batch()->SetModalLoop(false);
        EXPECT_EQ(W.AddFiles(Files), Files.size());
        return W;
    }
    bool RunBatch(TfrmMain& W) {
        QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
        W.btnStart->click();
        return Ended.count() > 0 || Ended.wait(BatchTimeoutMs);
    }
    // 720x576 pictures whose top and bottom 16 rows are black, 6 s long.
    std::string BoxedClip() {
        EXPECT_TRUE(LoadLibraries("", true)) << LibrariesError();
        const std::string Path = (Folder / "boxed.avi").string();
        TOutputOptions Options;
        InitOutputOptions(Options);
        Options.VideoCodec = "mpeg4";
        Options.VideoBitRate = 2000000;
        Options.FrameSize = "720x544";
        Options.PadTop = Options.PadBottom = 16;
        Options.Duration = 6000;
        EXPECT_EQ(ConvertOnce(MediaPath("long35.avi"), Options, Path), "");
        return Path;
    }
};

// ------------------------------------------------------------ menu wiring

namespace {

// clip.avi (320x240) in row 0, clip.mp4 (640x480, 3.008 s) in row 1, which
// is selected when the command runs.
struct TCommandCase {
    const char* Name;
    // Runs the command with its dialog answered; false when none opened.
    std::function<bool(TfrmMain&)> Run;
    // What the window, the selected row and the settings file show after;
    // Column is the row's "Trimmed Length" text before the command.
    std::function<void(TfrmMain&, const std::string& SettingsIni, const QString& Column)> Check;
};

void ExpectTrim(TfrmMain& W, int Start, int Length, const QString& Column) {
    EXPECT_EQ(W.RowRecord(1)->TrimStart, Start);
    EXPECT_EQ(W.RowRecord(1)->TrimLength, Length);
    EXPECT_EQ(W.RowText(1, fcTrimmedLength), Column);
    EXPECT_EQ(W.RowRecord(0)->TrimStart + W.RowRecord(0)->TrimLength, 0);
}

void ExpectCrop(TfrmMain& W, int Top, int Bottom) {
    EXPECT_EQ(W.RowRecord(1)->CropTop, Top);
    EXPECT_EQ(W.RowRecord(1)->CropBottom, Bottom);
    EXPECT_EQ(W.RowRecord(0)->CropTop + W.RowRecord(0)->CropBottom, 0);
}

const TCommandCase CommandCases[] = {
    {"TrimOkStoresTheTrim",
     [](TfrmMain& W) {
         return RunCommand<TfrmTrim>(W, "Trim1", [](TfrmTrim& D) {
             SetTrim(D, "000001", "000002");
             D.btnOk->click();
         });
     },
     [](TfrmMain& W, const std::string&, const QString&) { ExpectTrim(W, 1000, 1000, "1"); }},
    {"TrimCancelStoresNothing",
     [](TfrmMain& W) {
         return RunCommand<TfrmTrim>(W, "Trim2", [](TfrmTrim& D) {
             SetTrim(D, "000001", "000002");
             D.btnCancel->click();
         });
     },
     [](TfrmMain& W, const std::string&, const QString& Column) { ExpectTrim(W, 0, 0, Column); }},
    {"CropOkStoresTheBorders",
     [](TfrmMain& W) {
         return RunCommand<TfrmCrop>(W, "Crop2", [](TfrmCrop& D) {
             EXPECT_EQ(D.FrameHeight(), 480);
             SetCropRows(D, 40, 80);
             D.btnOk->click();
         });
     },
     [](TfrmMain& W, const std::string&, const QString&) { ExpectCrop(W, 40, 80); }},
    {"CropCancelStoresNothing",
     [](TfrmMain& W) {
         return RunCommand<TfrmCrop>(W, "Crop1", [](TfrmCrop& D) {
             SetCropRows(D, 40, 80);
             D.btnCancel->click();
         });
     },
     [](TfrmMain& W, const std::string&, const QString&) { ExpectCrop(W, 0, 0); }},
    {"PreferencesOkStoresInTheSettingsFile",
     [](TfrmMain& W) {
         return RunCommand<TfrmPreference>(W, "Options1", [](TfrmPreference& D) {
             D.spedJobs->setValue(D.spedJobs->maximum());
             D.btnOk->click();
         });
     },
     [](TfrmMain&, const std::string& Ini, const QString&) {
         EXPECT_EQ(IniFile(Ini).ReadInteger(SettingsKeys::Section, TfrmPreference::JobsKey, -1),
                   TfrmPreference::MaxJobs());
     }},
    {"PreferencesCancelStoresNothing",
     [](TfrmMain& W) {
         return RunCommand<TfrmPreference>(W, "Options1", [](TfrmPreference& D) {
             D.spedJobs->setValue(D.spedJobs->maximum());
             D.btnCancel->click();
         });
     },
     [](TfrmMain&, const std::string& Ini, const QString&) {
         EXPECT_EQ(IniFile(Ini).ReadInteger(SettingsKeys::Section, TfrmPreference::JobsKey, -1), -1);
     }},
    {"SettingsOkStoresTheProfileAndSelectsIt",
     [](TfrmMain& W) {
         return RunCommand<TfrmSettings>(W, "Settings1", [](TfrmSettings& D) {
             EXPECT_EQ(SelectedProfile(D.cbOutputFormat), 0);
             SelectProfile(D.cbOutputFormat, 5);
             ASSERT_GT(D.cmbVideoBitRate->count(), 1);
             D.cmbVideoBitRate->setCurrentIndex(1);
             D.btnOk->click();
         });
     },
     [](TfrmMain& W, const std::string& Ini, const QString&) {
         EXPECT_EQ(SelectedProfile(W.cbOutputFormat), 5);
         const IniFile Settings(Ini);
         EXPECT_EQ(Settings.ReadInteger(SettingsKeys::Section, "OutPutFormat", -1), 5);
         // The shipped choice is item 11, 2500 kbit/s.
         EXPECT_EQ(Settings.ReadInteger(ProfileSection(5), "iVideoBitRate", -1), 1);
         EXPECT_NE(Settings.ReadString(ProfileSection(5), "paraVideoBitRate", "2500"), "2500");
     }},
    {"InformationShowsTheSelectedFile",
     [](TfrmMain& W) {
         return RunCommand<TfrmFileInfo>(W, "Infomation1", [&W](TfrmFileInfo& D) {
             EXPECT_EQ(D.SourceFile(), W.RowRecord(1)->SourceFile);
             EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), W.RowRecord(1)->SourceFile);
             EXPECT_EQ(D.edtResloution->text(), "640x480");
             D.btn1->click();
         });
     },
     [](TfrmMain&, const std::string&, const QString&) {}},
};

void PrintTo(const TCommandCase& Case, std::ostream* Out) { *Out << Case.Name; }

class WindowCommands : public WindowFlows, public ::testing::WithParamInterface<TCommandCase> {};

}  // namespace

TEST_P(WindowCommands, OpensItsDialogOnTheSelectedRowAndOkAloneStores) {
    const TCommandCase& Case = GetParam();
    TfrmMain& W = Ready(MediaList({"clip.avi", "clip.mp4"}));
    W.SelectRow(1);
    const QString Column = W.RowText(1, fcTrimmedLength);
    ASSERT_TRUE(Case.Run(W)) << "no dialog opened";
    Case.Check(W, SettingsIni, Column);
    EXPECT_TRUE(Messages.List.empty()) << Messages.List.front().Text;
}

INSTANTIATE_TEST_SUITE_P(Gui, WindowCommands, ::testing::ValuesIn(CommandCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ------------------------------------------------------------ end to end

TEST_F(WindowFlows, TrimAndCropSetInTheDialogsShapeTheBatchOutput) {
    const std::string Source = BoxedClip();
    ASSERT_FALSE(HasFailure());
    const TBorders Before = BlackRows(Source, 3000000);
    ASSERT_GE(Before.Top, 14);
    ASSERT_GE(Before.Bottom, 14);

    TfrmMain& W = Ready({QString::fromStdString(Source)});
    W.SelectRow(0);
    ASSERT_TRUE(RunCommand<TfrmTrim>(W, "Trim1", [](TfrmTrim& D) {
        SetTrim(D, "000002", "000005");
        D.btnOk->click();
    }));
    ASSERT_TRUE(RunCommand<TfrmCrop>(W, "Crop1", [](TfrmCrop& D) {
        ASSERT_EQ(D.FrameHeight(), 576);
        SetCropRows(D, 16, 16);
        D.btnOk->click();
    }));
    const TlvFilesRecord& Row = *W.RowRecord(0);
    ASSERT_EQ(std::vector<int>({Row.TrimStart, Row.TrimLength, Row.CropTop, Row.CropBottom}),
              std::vector<int>({2000, 3000, 16, 16}));

    ASSERT_TRUE(RunBatch(W));
    EXPECT_EQ(W.RowText(0, fcProgress), "100%");
    const std::string Output = OutputDir + "/boxed_(new).mp4";
    ASSERT_TRUE(fs::exists(Output));
    double Seconds = 0;
    const TBorders After = BlackRows(Output, 1500000, &Seconds);
    EXPECT_NEAR(Seconds, 3.0, 0.1);
    EXPECT_EQ(After.Top, 0);
    EXPECT_EQ(After.Bottom, 0);
    EXPECT_TRUE(Messages.List.empty());
}

// ------------------------------------------------------------ jobs at once

namespace {

struct TJobsCase {
    const char* Name;
    int Jobs;         // set in the preferences dialog
    int MostRunning;  // jobs seen running together
    bool Away;        // no window of the program has the focus at the end
};

const TJobsCase JobsCases[] = {{"OneAtATime", 1, 1, false}, {"TwoAtOnce", 2, 2, true}};

void PrintTo(const TJobsCase& Case, std::ostream* Out) { *Out << Case.Name; }

class WindowJobs : public WindowFlows, public ::testing::WithParamInterface<TJobsCase> {};

}  // namespace

TEST_P(WindowJobs, ConversionsAtOnceSetInPreferencesRunThatManyJobsTogether) {
    const TJobsCase& Case = GetParam();
    if (TfrmPreference::MaxJobs() < Case.Jobs) GTEST_SKIP() << "fewer cores than jobs";
    const fs::path Copy = Folder / "second.avi";
    fs::copy_file(MediaPath("long35.avi"), Copy);
    TfrmMain& W = Ready({Media("long35.avi"), QString::fromStdString(Copy.string())});
    ASSERT_TRUE(RunCommand<TfrmPreference>(W, "Options1", [&Case](TfrmPreference& D) {
        D.spedJobs->setValue(Case.Jobs);
        D.btnOk->click();
    }));

    // Each progress report counts the jobs running at that moment; it runs
    // under the component's lock, so the job states hold still.
    TVxAVConverter& C = W.Converter();
    auto MostRunning = std::make_shared<std::atomic<int>>(0);
    auto Inner = C.OnProgress;
    C.OnProgress = [&C, MostRunning, Inner](int AIndex, int AFrame, int AFps, int ACurrent, float AQuality,
                                             float ABitRate, int64_t ASize, int ATotal) {
        int Running = 0;
        for (int K = 0; K < C.JobCount(); ++K)
            if (C.JobRunning(K)) ++Running;
        int Most = MostRunning->load();
        while (Running > Most && !MostRunning->compare_exchange_weak(Most, Running)) {
        }
        if (Inner) Inner(AIndex, AFrame, AFps, ACurrent, AQuality, ABitRate, ASize, ATotal);
    };

    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    ASSERT_TRUE(QTest::qWaitForWindowActive(W.Batch()->ProgressDialog()));
    // Someone who turned to another program hears of the end of the batch;
    // someone watching does not.
    if (Case.Away) QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(Ended.count() > 0 || Ended.wait(BatchTimeoutMs));
    EXPECT_EQ(MostRunning->load(), Case.MostRunning);
    // The computer stayed awake for the batch only.
    EXPECT_EQ(Desktop.SleepLocks, 1);
    EXPECT_EQ(Desktop.SleepLocksHeld, 0);
    EXPECT_EQ(Desktop.Notes, Case.Away ? std::vector<std::string>{"Conversion finished: 2 files converted."}
                                       : std::vector<std::string>{});
    EXPECT_EQ(W.RowText(0, fcProgress), "100%");
    EXPECT_EQ(W.RowText(1, fcProgress), "100%");
    EXPECT_TRUE(fs::exists(OutputDir + "/long35_(new).mp4"));
    EXPECT_TRUE(fs::exists(OutputDir + "/second_(new).mp4"));
}

INSTANTIATE_TEST_SUITE_P(Gui, WindowJobs, ::testing::ValuesIn(JobsCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });
