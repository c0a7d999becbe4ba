// The batch run of the main window and its progress dialog: jobs from the
// checked rows, the progress column, the end of the batch, pause and
// cancel, the live picture, and outputs left complete when the window
// closes in the middle of a job.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <QToolButton>

#include "binding/LibAV.h"
#include "component/VxAVConverter.h"
#include "dialogs/WinProgress.h"
#include "probe/AVProbe.h"
#include "gui/ProfileList.h"
#include "tests/gui/GuiTestSupport.h"
#include "widgets/PictureView.h"

namespace {

constexpr int BatchTimeoutMs = 120000;

// The output opens, lasts about as long as expected and still gives a
// picture just before its end.
void ExpectDecodesToItsEnd(const std::string& Path, double MinSeconds, double MaxSeconds) {
    SCOPED_TRACE(Path);
    ASSERT_TRUE(fs::exists(Path));
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Path)) << Probe.LastError();
    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    const double Seconds = Info.Duration / 1e6;
    EXPECT_GE(Seconds, MinSeconds);
    EXPECT_LE(Seconds, MaxSeconds);
    ASSERT_TRUE(Probe.Seek(-1, std::max<int64_t>(Info.Duration - 400000, 0)));
    TBitmap& Last = Probe.DecodeFrame(-1);
    EXPECT_FALSE(Last.Empty());
    Probe.CloseFile();
}

bool SameImage(const QImage& A, const QImage& B) { return A == B; }

}  // namespace

class BatchTest : public TWindowFixture {
protected:
    TfrmMain& Ready(const QStringList& Files, int Profile = 0) {
        TfrmMain& W = OpenShown();
        W.Batch()->SetModalLoop(false);
        SelectProfile(W.cbOutputFormat, Profile);
        EXPECT_EQ(W.AddFiles(Files), Files.size());
        return W;
    }
    bool WaitForEnd(TfrmMain& W, QSignalSpy& Ended) {
        return Ended.count() > 0 || (Ended.wait(BatchTimeoutMs) && !W.Batch()->ProgressDialog()->isVisible());
    }
    std::string Out(const char* Name) const { return OutputDir + "/" + Name; }
};

TEST_F(BatchTest, CheckedRowsBecomeJobsAndTheLastOneOpensTheFolderAndShutsDown) {
    TAppSettings(SettingsIni).SetPriority(3);
    TfrmMain& W = Ready(MediaList({"tone.mp3", "short.avi", "tone.wav", "clip.avi", "still.png"}));
    for (int Row : {0, 2, 4}) W.FilesModel()->SetChecked(Row, false);
    // The name formed when the row was added plays no part.
    W.RowRecord(3)->OutputFile = Out("clip_(other)_ipod.avi");
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);

    W.btnStart->click();
    EXPECT_EQ(W.Converter().ThreadPriority(), tpLowest);
    EXPECT_EQ(W.Batch()->RowMap(), (std::vector<int>{1, 3}));
    // The second file waits as its names: only the running job has an engine.
    EXPECT_LE(W.Converter().EngineCount(), 1);
    TfrmProgress* Dialog = W.Batch()->ProgressDialog();
    ASSERT_TRUE(Dialog->isVisible());
    EXPECT_FALSE(W.btnStart->isEnabled());
    EXPECT_TRUE(Dialog->ckOpen->isChecked());
    Dialog->ckShutDown->setChecked(true);
    // Job 1 (the second job) reports into row 3.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W.RowText(3, fcProgress).isEmpty(); }, BatchTimeoutMs));
    EXPECT_EQ(Dialog->lblProgress->text(), "[2/2]");
    ASSERT_TRUE(WaitForEnd(W, Ended));

    EXPECT_EQ(W.RowText(1, fcProgress), "100%");
    EXPECT_EQ(W.RowText(3, fcProgress), "100%");
    EXPECT_EQ(W.FilesModel()->Status(1).Written, Out("short_(new).mp4"));
    EXPECT_EQ(W.FilesModel()->Status(3).Written, Out("clip_(new).mp4"));
    for (int Row : {0, 2, 4}) EXPECT_TRUE(W.RowText(Row, fcProgress).isEmpty()) << Row;
    EXPECT_EQ(Desktop.Folders.size(), 1u);
    EXPECT_EQ(Desktop.PowerOffs, 1);
    EXPECT_EQ(Dialog->progbarFile->value(), 100);
    EXPECT_TRUE(W.btnStart->isEnabled() && W.btnAdd->isEnabled() && W.btnClear->isEnabled());
    EXPECT_FALSE(W.btnStop->isEnabled() || W.btnPause->isEnabled() || W.btnResume->isEnabled());
    EXPECT_EQ(W.Converter().JobCount(), 0);
    EXPECT_TRUE(Messages.List.empty());
    ExpectDecodesToItsEnd(Out("short_(new).mp4"), 0.5, 1.3);
    ExpectDecodesToItsEnd(Out("clip_(new).mp4"), 2.5, 3.5);
    EXPECT_FALSE(fs::exists(Out("clip_(new)_ipod.mp4")));
}

TEST_F(BatchTest, NoCheckedRowQueuesNothingAndSaysWhy) {
    TAppSettings(SettingsIni).SetPriority(0);
    TfrmMain& W = Ready(MediaList({"short.avi"}));
    W.FilesModel()->SetChecked(0, false);
    QSignalSpy Started(W.Batch(), &TBatchRun::Started);
    W.btnStart->click();
    EXPECT_EQ(Started.count(), 0);
    EXPECT_EQ(W.Converter().ThreadPriority(), tpIdle);
    EXPECT_FALSE(W.Batch()->ProgressDialog()->isVisible());
    EXPECT_TRUE(W.btnStart->isEnabled());
    EXPECT_TRUE(W.RowText(0, fcProgress).isEmpty());
    EXPECT_TRUE(Messages.List.empty());
    EXPECT_EQ(W.StatusText(), QString("Check the files to convert"));
}

// The window's list and batch buttons through a run: locked while it runs,
// Pause and Resume trading places, only Add usable once Stop is pressed,
// everything but the batch buttons back at the end.
TEST_F(BatchTest, ButtonsFollowTheRunFromStartToStopAndEnd) {
    TfrmMain& W = Ready(MediaList({"long35.avi"}), 26);
    QSignalSpy Started(W.Batch(), &TBatchRun::Started);
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    const std::vector<QAbstractButton*> Buttons = {W.btnAdd,   W.btnRemove, W.btnClear, W.btnStart,
                                                   W.btnPause, W.btnResume, W.btnStop};
    auto States = [&] {
        std::string S;
        for (QAbstractButton* B : Buttons) S += B->isEnabled() ? '1' : '0';
        return S;
    };
    //                                  Add Remove Clear Start Pause Resume Stop
    const struct {
        const char* Step;
        std::function<void()> Act;
        const char* Enabled;
    } Steps[] = {
        {"start", [&] { W.btnStart->click(); }, "0000101"},
        {"pause", [&] { W.btnPause->click(); }, "0000011"},
        {"resume", [&] { W.btnResume->click(); }, "0000101"},
        {"stop", [&] { W.btnStop->click(); }, "1000000"},
        {"end", [&] { ASSERT_TRUE(Ended.count() > 0 || Ended.wait(BatchTimeoutMs)); }, "1111000"},
    };
    for (const auto& Step : Steps) {
        SCOPED_TRACE(Step.Step);
        Step.Act();
        EXPECT_EQ(States(), Step.Enabled);
    }
    EXPECT_EQ(Started.count(), 1);
    EXPECT_EQ(Ended.count(), 1);
    EXPECT_NE(W.RowText(0, fcProgress), "100%");
}

// The dialog shows the running job's figures as the batch hands them over.
TEST(ProgressDialogTest, ShowsTheFiguresOfTheRunningJob) {
    const std::string Fifty = "/" + std::string(45, 'a') + ".mp4";
    const std::string Sixty = "/" + std::string(55, 'b') + ".mp4";
    ASSERT_EQ(Fifty.size(), 50u);
    ASSERT_EQ(Sixty.size(), 60u);
    EXPECT_EQ(ProgressOutputText(Fifty), Fifty);
    EXPECT_EQ(ProgressOutputText(Sixty), Sixty.substr(0, 44) + ".." + ".mp4");

    struct TCase {
        TProgressFigures Figures;
        QStringList Labels;  // time, length, size, progress, output
        const char* Format;
    } Cases[] = {
        {{0, 0, 35000, 0, 0, 1, "/tmp/a.mp4", ""}, {"0 Second", "35 Second", "0 kb", "[1/1]", "/tmp/a.mp4"}, "%p%"},
        {{42, 12999, 30500, 1234567, 1, 5, Sixty, "1.5x, 00:00:12 left, batch 00:01:40"},
         {"12 Second", "30 Second", "1234 kb", "[2/5]", QString::fromStdString(Sixty.substr(0, 44) + "...mp4")},
         "%p%   1.5x, 00:00:12 left, batch 00:01:40"},
    };
    TfrmProgress Dialog;
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Format);
        Dialog.ShowProgress(C.Figures);
        const QStringList Labels = {Dialog.lblTime->text(), Dialog.lblLength->text(), Dialog.lblSize->text(),
                                    Dialog.lblProgress->text(), Dialog.lblOutput->text()};
        EXPECT_EQ(Labels, C.Labels);
        EXPECT_EQ(Dialog.lblOutput->toolTip().toStdString(), C.Figures.Output);
        EXPECT_EQ(Dialog.progbarFile->value(), C.Figures.Percent);
        EXPECT_EQ(Dialog.progbarFile->format(), C.Format);
    }
    Dialog.ShowJobFinished();
    EXPECT_EQ(Dialog.progbarFile->value(), 100);
}

TEST_F(BatchTest, DeletedFileFailsWhileTheOthersConvertToTheirEnd) {
    const fs::path Gone = Folder / "gone.avi";
    fs::copy_file(MediaPath("short.avi"), Gone);
    TfrmMain& W = Ready({Media("short.avi"), QString::fromStdString(Gone.string()), Media("clip.mp4")});
    fs::remove(Gone);
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    ASSERT_TRUE(WaitForEnd(W, Ended));

    EXPECT_EQ(W.RowText(0, fcProgress), "100%");
    EXPECT_EQ(W.RowText(1, fcProgress), "Failed");
    EXPECT_FALSE(W.FilesModel()->Status(1).Reason.isEmpty());
    EXPECT_TRUE(W.FilesModel()->Status(0).Reason.isEmpty());
    EXPECT_EQ(W.RowText(2, fcProgress), "100%");
    ExpectDecodesToItsEnd(Out("short_(new).mp4"), 0.5, 1.3);
    ExpectDecodesToItsEnd(Out("clip_(new).mp4"), 2.5, 3.5);
    EXPECT_FALSE(fs::exists(Out("gone_(new).mp4")));
    // Found out as its job started, it is reported as a file that did not
    // open: in the log, not in a message box.
    EXPECT_TRUE(W.LogText().contains("***File open error: ")) << W.LogText().toStdString();
    EXPECT_TRUE(Messages.List.empty());

    // The PSP profile cannot hold a clip without sound: its row says why.
    SelectProfile(W.cbOutputFormat, 28);
    W.AddFiles({Media("long35.avi")});
    for (int Row = 0; Row < 4; ++Row) W.FilesModel()->SetChecked(Row, Row >= 2);
    Ended.clear();
    W.btnStart->click();
    ASSERT_TRUE(WaitForEnd(W, Ended));
    EXPECT_EQ(W.RowText(2, fcProgress), "100%");
    EXPECT_EQ(W.RowText(3, fcProgress), "Failed");
    // The reason is the failed cell's tooltip.
    EXPECT_EQ(W.FilesModel()->index(3, fcProgress).data(Qt::ToolTipRole).toString(),
              "The PSP plays only files with both picture and sound; this file has no sound.");
}

TEST_F(BatchTest, ClosingTheWindowMidJobLeavesACompleteFile) {
    // 1080p pictures take long enough to be interrupted.
    TfrmMain& W = Ready(MediaList({"long35.avi"}), 26);
    W.btnStart->click();
    // Some seconds of the 35 are written when the window closes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return W.RowText(0, fcProgress).remove('%').toInt() >= 5; }, BatchTimeoutMs));
    ASSERT_NE(W.RowText(0, fcProgress), "100%");
    // A close during a batch asks first; Stop closes as it always did.
    Messages.Answers = {"Stop"};
    W.close();
    EXPECT_EQ(Messages.Questions.size(), 1u);
    EXPECT_FALSE(W.isVisible());
    EXPECT_FALSE(W.Batch()->ProgressDialog()->isVisible());
    Window.reset();  // the component waits for its job to finish the file
    ExpectDecodesToItsEnd(Out("long35_(new).mp4"), 0.2, 34.0);
}

namespace {

// The ways of closing that would stop a running batch.
enum TClosePath { cpProgressTitleBar, cpProgressEscape, cpMainWindow, cpExit };

struct TCloseCase {
    const char* Name;
    TClosePath Path;
    const char* Answer;
};

const TCloseCase CloseCases[] = {
    {"ProgressTitleBarStop", cpProgressTitleBar, "Stop"},
    {"ProgressTitleBarContinue", cpProgressTitleBar, "Continue"},
    {"ProgressEscapeContinue", cpProgressEscape, "Continue"},
    {"MainWindowStop", cpMainWindow, "Stop"},
    {"MainWindowContinue", cpMainWindow, "Continue"},
    {"ExitStop", cpExit, "Stop"},
    {"ExitContinue", cpExit, "Continue"},
};

class BatchCloseTest : public BatchTest, public ::testing::WithParamInterface<TCloseCase> {};

}  // namespace

// Closing the progress dialog by its title bar or Escape, closing the main
// window or choosing Exit during a batch asks first. Stop stops, and the
// file being written is complete as far as it got; the other answer goes
// on with the batch, nothing closed.
TEST_P(BatchCloseTest, AsksFirstThenStopsOrGoesOn) {
    const TCloseCase& Case = GetParam();
    // 1080p pictures, so that the file cannot end between the first
    // progress and the pause however fast the machine.
    TfrmMain& W = Ready(MediaList({"long35.avi"}), 26);
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    TfrmProgress* Dialog = W.Batch()->ProgressDialog();
    // Held where it is, so that the question comes in the middle of the file.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W.RowText(0, fcProgress).isEmpty(); }, BatchTimeoutMs));
    Dialog->btnPause->click();
    ASSERT_EQ(Ended.count(), 0);
    ASSERT_TRUE(W.Batch()->Running());

    Messages.Answers = {Case.Answer};
    switch (Case.Path) {
        case cpProgressTitleBar:
            // What the window manager's close button sends.
            Dialog->windowHandle()->close();
            break;
        case cpProgressEscape:
            QTest::keyClick(Dialog, Qt::Key_Escape);
            break;
        case cpMainWindow:
            W.close();
            break;
        case cpExit:
            Child<QToolButton>(W, "btnExit")->click();
            break;
    }
    ASSERT_EQ(Messages.Questions, std::vector<std::string>{"Stop converting? The part converted so far is kept."});
    const bool MainPath = Case.Path == cpMainWindow || Case.Path == cpExit;
    if (std::string(Case.Answer) == "Continue") {
        // Nothing closed; the batch goes on to the end of the file.
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_TRUE(W.isVisible());
        EXPECT_TRUE(W.Batch()->Running());
        // Resumed, it goes on converting; Cancel then ends it without asking.
        const int Held = W.RowText(0, fcProgress).remove('%').toInt();
        Dialog->btnResume->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return W.RowText(0, fcProgress).remove('%').toInt() > Held; },
                                    BatchTimeoutMs));
        Dialog->btnCancel->click();
        EXPECT_TRUE(WaitForEnd(W, Ended));
        EXPECT_EQ(Messages.Questions.size(), 1u);
        ExpectDecodesToItsEnd(Out("long35_(new).mp4"), 0.2, 36.0);
        return;
    }
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(W.isVisible(), !MainPath);
    if (MainPath) {
        Window.reset();  // the component waits for its job to finish the file
    } else {
        EXPECT_TRUE(Ended.count() > 0 || Ended.wait(BatchTimeoutMs));
        EXPECT_NE(W.RowText(0, fcProgress), "100%");
    }
    ExpectDecodesToItsEnd(Out("long35_(new).mp4"), 0.2, 34.0);
}

INSTANTIATE_TEST_SUITE_P(Gui, BatchCloseTest, ::testing::ValuesIn(CloseCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(BatchTest, PauseThenCancelStopsAndTheNextBatchOpensRunning) {
    TfrmMain& W = Ready(MediaList({"long35.avi", "short.avi"}), 26);
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    TfrmProgress* Dialog = W.Batch()->ProgressDialog();
    // Before the first picture the preview is the background colour.
    EXPECT_EQ(Dialog->imgPreview->Canvas().pixelColor(186, 105), PreviewBackground);
    Dialog->ckOpen->setChecked(false);
    Dialog->ckShutDown->setChecked(true);

    // The live picture moves with the test pattern.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog->imgPreview->Canvas().pixelColor(186, 105) != PreviewBackground; },
                                BatchTimeoutMs));
    const QImage First = Dialog->imgPreview->Canvas();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !SameImage(Dialog->imgPreview->Canvas(), First); }, 10000));
    // The bar tells the speed and the time left once they are known.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog->progbarFile->format().contains(" left, batch "); }, 10000))
        << Dialog->progbarFile->format().toStdString();
    EXPECT_TRUE(Dialog->progbarFile->format().contains(QRegularExpression("^%p%   [0-9.]+x, ")));

    Dialog->btnPause->click();
    EXPECT_FALSE(Dialog->btnPause->isEnabled());
    EXPECT_TRUE(Dialog->btnResume->isEnabled());
    EXPECT_FALSE(W.btnPause->isEnabled());
    EXPECT_TRUE(W.btnResume->isEnabled());
    Dialog->btnCancel->click();
    EXPECT_FALSE(Dialog->isVisible());
    ASSERT_TRUE(Ended.wait(BatchTimeoutMs));
    EXPECT_NE(W.RowText(0, fcProgress), "100%");  // stopped: keeps its last percentage
    EXPECT_EQ(Desktop.PowerOffs, 0);

    W.FilesModel()->SetChecked(0, false);
    W.btnStart->click();
    ASSERT_TRUE(Dialog->isVisible());
    EXPECT_TRUE(Dialog->btnPause->isEnabled());
    EXPECT_FALSE(Dialog->btnResume->isEnabled());
    EXPECT_TRUE(Dialog->ckOpen->isChecked());
    EXPECT_TRUE(Dialog->ckShutDown->isChecked());
    Dialog->ckShutDown->setChecked(false);
    ASSERT_TRUE(WaitForEnd(W, Ended));
    EXPECT_EQ(Desktop.PowerOffs, 0);
}

// The figures of a trimmed file: its time counts 0 to the trimmed length
// and never back, its size grows while it is written, and while the batch
// is paused the bar says so instead of a pace that no longer holds.
TEST_F(BatchTest, ProgressCountsTheTrimmedPartAndItsBytesAndSaysPaused) {
    // 1080p pictures and 6 s of them, so that the file is still being written
    // when looked at, even on a fast machine.
    TfrmMain& W = Ready(MediaList({"long35.avi"}), 26);
    TlvFilesRecord* Row = W.FilesModel()->Record(0);
    ASSERT_NE(Row, nullptr);
    Row->TrimStart = 5000;
    Row->TrimLength = 6000;
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    TfrmProgress* Dialog = W.Batch()->ProgressDialog();
    auto Number = [](const QLabel* L) { return L->text().section(' ', 0, 0).toInt(); };
    std::vector<int> Seconds, Percents;
    bool SizeLagged = false;  // a report with progress but no bytes
    auto Watch = [&] {
        if (Dialog->lblTime->text().isEmpty()) return;
        Seconds.push_back(Number(Dialog->lblTime));
        Percents.push_back(Dialog->progbarFile->value());
        if (Percents.back() > 0 && Percents.back() < 100 && Number(Dialog->lblSize) == 0) SizeLagged = true;
    };
    // Part of the file written and on its way.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            Watch();
            return Number(Dialog->lblSize) > 0 && Dialog->progbarFile->value() > 0;
        },
        BatchTimeoutMs));
    ASSERT_EQ(Ended.count(), 0);
    EXPECT_LT(Dialog->progbarFile->value(), 100);
    EXPECT_EQ(Dialog->lblLength->text(), "6 Second");

    Dialog->btnPause->click();
    EXPECT_TRUE(Dialog->progbarFile->text().endsWith("Paused")) << Dialog->progbarFile->text().toStdString();
    QTest::qWait(300);  // reports already on their way change nothing
    EXPECT_TRUE(Dialog->progbarFile->text().endsWith("Paused"));
    Dialog->btnResume->click();
    EXPECT_FALSE(Dialog->progbarFile->text().contains("Paused"));

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            Watch();
            return Ended.count() > 0;
        },
        BatchTimeoutMs));
    ASSERT_FALSE(Seconds.empty());
    EXPECT_TRUE(std::is_sorted(Seconds.begin(), Seconds.end()));
    EXPECT_TRUE(std::is_sorted(Percents.begin(), Percents.end()));
    EXPECT_LE(*std::max_element(Seconds.begin(), Seconds.end()), 6);
    EXPECT_FALSE(SizeLagged);
    EXPECT_EQ(W.RowText(0, fcProgress), "100%");
    // The output is the trimmed length, read back by the libraries.
    ExpectDecodesToItsEnd(W.FilesModel()->Status(0).Written, 5.5, 6.5);
}

// The live picture of a video stored lying down is drawn upright, as the
// preview shows it: every picture the dialog draws is taller than wide.
TEST_F(BatchTest, LivePictureIsDrawnInTheShapeItIsShown) {
    TfrmMain& W = Ready(MediaList({"rotated90.mp4"}), 26);
    QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
    W.btnStart->click();
    TfrmProgress* Dialog = W.Batch()->ProgressDialog();
    std::vector<TRect> Areas;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const TRect Area = Dialog->imgPreview->PictureArea();
            if (Area.Width() > 0 && (Areas.empty() || !(Areas.back() == Area))) Areas.push_back(Area);
            return Ended.count() > 0;
        },
        BatchTimeoutMs));
    ASSERT_FALSE(Areas.empty());
    for (const TRect& Area : Areas) EXPECT_GT(Area.Height(), Area.Width()) << Area.Width() << "x" << Area.Height();
}

// The size a report gives is what has been written, not what has reached
// the disk: small pictures fill the output's 32 KB buffer only at the end.
// The source is read at its own pace, so that reports come while it is
// being written.
TEST_F(BatchTest, ReportedSizeGrowsWhileAnMp4IsWritten) {
    const fs::path Folder = ScratchFolder("ReportedSize");
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    TVxAVConverter Converter;
    Converter.SetLogLevel(llQuiet);
    Converter.SetProgressInterval(100);
    std::mutex Lock;
    std::vector<std::pair<int, int64_t>> Reports;  // time, size
    std::atomic<bool> Finished{false};
    Converter.OnProgress = [&](int, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize, int) {
        std::lock_guard<std::mutex> Guard(Lock);
        Reports.emplace_back(ACurrentDuration, ACurrentSize);
    };
    Converter.OnTerminate = [&](int AIndex, bool, bool, const std::string&) {
        if (AIndex < 0) Finished = true;
    };
    TInputOptions Input;
    Input.ExtraOptions = "re=1";
    TOutputOptions Output;
    Output.Duration = 1500;
    Output.VideoCodec = "libx264";
    Output.AudioCodec = "aac";
    ASSERT_EQ(Converter.AddInputFile(MediaPath("long40.avi"), &Input), 0) << Converter.LastError;
    ASSERT_TRUE(Converter.SetOutputFile(0, (Folder / "small.mp4").string(), &Output)) << Converter.LastError;
    Converter.Start(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Finished.load(); }, BatchTimeoutMs));
    std::lock_guard<std::mutex> Guard(Lock);
    int Checked = 0;
    for (const auto& [Ms, Size] : Reports) {
        if (Ms < 500) continue;
        ++Checked;
        EXPECT_GE(Size, 1000) << "at " << Ms << " ms";
    }
    EXPECT_GE(Checked, 3);
    // The last report counts the whole file, as the disk does.
    ASSERT_FALSE(Reports.empty());
    EXPECT_EQ(Reports.back().second, static_cast<int64_t>(fs::file_size(Folder / "small.mp4")));
}

// A picture wider than the preview's 372:210 fills its width with margins
// above and below; a taller one the height with margins at the sides. Under
// every theme each caption fits its place, and the output path is either
// whole or elided in the middle, never cut off at the right.
TEST(ProgressDialogTest, FramesAreFittedOnTheBackground) {
    const QString Typical = "/home/someone/Videos/Converted/holiday_2025_..mp4";
    const QString Wide = QString(44, 'W') + "..mp4";
    struct TCase {
        int Width, Height;
        QPoint Margin, Inside;
        QString Output;
        bool Whole;
        TPictureShape Shape = {};
    } Cases[] = {{400, 100, {186, 2}, {186, 105}, Typical, true},
                 {100, 400, {2, 105}, {186, 105}, "/tmp/clip_(new).mp4", true},
                 {210, 210, {40, 105}, {186, 105}, Wide, false},
                 // A phone's picture stored lying down is shown upright, and
                 // 720x576 of 16:15 samples as 4:3, wider than its 5:4.
                 {400, 100, {40, 105}, {186, 105}, Typical, true, {0, 0, 90, false}},
                 {720, 576, {20, 105}, {50, 105}, Typical, true, {16, 15, 0, false}}};
    const int Theme = CurrentTheme();
    for (const TCase& C : Cases) {
        TfrmProgress Dialog;
        auto Frame = std::make_shared<TBitmap>(C.Width, C.Height);
        for (int Row = 0; Row < C.Height; ++Row)
            for (int X = 0; X < C.Width; ++X) Frame->ScanLine(Row)[X * 3 + 2] = 255;  // red
        Dialog.CapturedFrame = [Frame] { return Frame; };
        Dialog.CapturedShape = [Shape = C.Shape] { return Shape; };
        Dialog.show();
        Dialog.Timer1Timer();
        // The area drawn has the proportions the picture is shown in.
        int DW = 0, DH = 0;
        DisplaySize(C.Width, C.Height, C.Shape, DW, DH);
        const TRect Area = Dialog.imgPreview->PictureArea();
        EXPECT_NEAR(double(Area.Width()) / Area.Height() / (double(DW) / DH), 1.0, 0.03) << C.Width << "x" << C.Height;
        const QImage& Canvas = Dialog.imgPreview->Canvas();
        ASSERT_EQ(Canvas.size(), QSize(372, 210));
        EXPECT_EQ(Canvas.pixelColor(C.Margin), PreviewBackground) << C.Width;
        EXPECT_EQ(Canvas.pixelColor(C.Inside), QColor(255, 0, 0)) << C.Width;

        for (int T = 0; T < ThemeCount; ++T) {
            ApplyTheme(T);
            ApplyCurrentTheme(&Dialog);
            Dialog.lblOutput->setText(C.Output);
            const QRect Client = Dialog.rect();
            for (QWidget* W : Dialog.findChildren<QWidget*>()) {
                if (!W->isVisible()) continue;
                SCOPED_TRACE(W->objectName().toStdString() + " under theme " + ThemeName(T));
                EXPECT_TRUE(Client.contains(W->geometry())) << W->x() << "," << W->y();
                if (auto* L = qobject_cast<QLabel*>(W); L && L != Dialog.lblOutput) {
                    EXPECT_LE(L->fontMetrics().horizontalAdvance(L->text()), L->contentsRect().width())
                        << L->text().toStdString();
                } else if (auto* B = qobject_cast<QAbstractButton*>(W); B && !B->text().isEmpty()) {
                    EXPECT_LE(B->sizeHint().width(), B->width()) << B->text().toStdString();
                }
            }
            const QString Shown = Dialog.OutputShown();
            EXPECT_LE(Dialog.lblOutput->fontMetrics().horizontalAdvance(Shown),
                      Dialog.lblOutput->contentsRect().width());
            if (C.Whole) {
                EXPECT_EQ(Shown, C.Output);
            } else {
                EXPECT_TRUE(Shown.contains(QChar(0x2026))) << Shown.toStdString();
                EXPECT_TRUE(Shown.startsWith("WWW")) << Shown.toStdString();
                EXPECT_TRUE(Shown.endsWith("W..mp4")) << Shown.toStdString();
            }
        }
        ApplyTheme(Theme);
        Dialog.close();
        EXPECT_FALSE(Dialog.Timer1->isActive());
    }
}
