// The main window's preview group: Play, Pause, Stop, the tick, still
// pictures, audio-only files, the keyboard and the snapshot. The 500 ms timer
// is stopped and its slot called directly, so every test is deterministic.

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include <QImage>
#include <QSignalSpy>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "GuiTestSupport.h"
#include "app/PreviewMath.h"
#include "app/Snapshot.h"
#include "common/IniFile.h"
#include "component/VxAVConverter.h"
#include "dialogs/WinCrop.h"
#include "dialogs/WinTrim.h"
#include "tests/fixtures/PictureNumber.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPlayer.h"

namespace {

class PreviewTest : public TWindowFixture {
protected:
    TfrmMain& Shown(std::initializer_list<const char*> Files) {
        TfrmMain& W = OpenShown();
        W.Timer1->stop();
        EXPECT_EQ(W.AddFiles(MediaList(Files)), static_cast<int>(Files.size()));
        W.SelectRow(0);
        return W;
    }
    // The picture area shows something other than the background at its centre.
    static bool ShowsPicture(const TfrmMain& W) {
        const QImage& Canvas = W.imgPreview->Canvas();
        return QColor(Canvas.pixel(Canvas.width() / 2, Canvas.height() / 2)) != PreviewBackground;
    }
    static QString Label(const TfrmMain& W, int Position) {
        return QString::fromStdString(TimeLabel(W.Preview()->Rules(), Position, W.Preview()->Slider().Unit));
    }
    static void ExpectButtons(const TfrmMain& W, bool Play, bool Pause, bool Stop) {
        EXPECT_EQ(W.imgbtnPlay->isEnabled(), Play);
        EXPECT_EQ(W.imgbtnPause->isEnabled(), Pause);
        EXPECT_EQ(W.imgbtnStop->isEnabled(), Stop);
    }
};

// What Play and the first ticks do for each kind of file.
TEST_F(PreviewTest, PlayAndTheFirstTickFollowTheKindOfFile) {
    struct TCase {
        const char* File;
        bool Slider;          // the slider is shown
        bool Picture;         // a picture is drawn
        bool EndsOnFirstTick; // the first tick reaches the end and stops
    };
    const TCase Cases[] = {
        {"clip.mp4", true, true, false},
        {"short.avi", true, true, true},   // 0.8 s: one tick jumps to the end
        {"tone.mp3", true, false, false},  // no picture, the label still follows
        {"still.png", false, true, false}, // no slider, nothing to advance
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.File);
        TfrmMain& W = Shown({Case.File});
        W.imgbtnPlayClick();
        EXPECT_EQ(!W.trcPreview->isHidden(), Case.Slider);
        EXPECT_EQ(ShowsPicture(W), Case.Picture);
        EXPECT_TRUE(W.imgPreview1->isHidden());
        EXPECT_EQ(W.lblPTS->text(), "Time: 0.000");
        EXPECT_TRUE(W.LogText().contains(QString::fromStdString(fs::path(W.RowRecord(0)->SourceFile).filename().string())))
            << "the log shows the file's information";
        ExpectButtons(W, false, true, true);

        W.Timer1Timer();
        const int Max = W.trcPreview->maximum();
        if (Case.EndsOnFirstTick) {
            EXPECT_EQ(W.trcPreview->value(), Max);
            EXPECT_TRUE(W.Preview()->Stopped());
            EXPECT_EQ(W.Converter().Probe.Context(), nullptr) << "the end closes the file";
            W.Timer1Timer();
            EXPECT_EQ(W.trcPreview->value(), 0);
            ExpectButtons(W, true, false, false);
        } else if (Case.Slider) {
            const int Step = OneSecondSteps(Max, W.Preview()->DurationUs());
            EXPECT_GT(Step, 0);
            EXPECT_EQ(W.trcPreview->value(), Step);
            EXPECT_EQ(W.lblPTS->text(), Label(W, Step));
            EXPECT_FALSE(W.Preview()->Stopped());
            // Dragging the slider shows that position and its time.
            W.trcPreview->setValue(Max / 2);
            EXPECT_EQ(W.lblPTS->text(), Label(W, Max / 2));
            EXPECT_EQ(ShowsPicture(W), Case.Picture);
        } else {
            EXPECT_EQ(W.trcPreview->value(), 0);
        }
        Window.reset();
    }
}

TEST_F(PreviewTest, StillPictureIsDecodedOnceAndShownAgainOnTheNextPlay) {
    TfrmMain& W = Shown({"still.png"});
    W.imgbtnPlayClick();
    EXPECT_TRUE(ShowsPicture(W));
    EXPECT_EQ(W.Converter().Probe.Context(), nullptr) << "the only picture is the last one";
    EXPECT_FALSE(W.Preview()->FrameCopy().Empty()) << "the snapshot has the still picture";

    W.imgPreview->ClearCanvas();
    W.lvFilesDblClick();
    EXPECT_TRUE(ShowsPicture(W));
    EXPECT_TRUE(W.trcPreview->isHidden());
}

TEST_F(PreviewTest, PauseThenPlayContinuesFromThePausedPosition) {
    TfrmMain& W = Shown({"clip.avi"});
    W.imgbtnPlayClick();
    W.Timer1Timer();
    W.Timer1Timer();
    const int Paused = W.trcPreview->value();
    ASSERT_GT(Paused, 0);

    W.imgbtnPauseClick();
    ExpectButtons(W, true, false, true);
    EXPECT_TRUE(W.imgbtnSnap->isEnabled());
    W.Timer1Timer();
    EXPECT_EQ(W.trcPreview->value(), Paused);

    W.imgbtnPlayClick();
    EXPECT_TRUE(W.imgbtnPause->isEnabled());
    EXPECT_FALSE(W.Preview()->Paused());
    EXPECT_EQ(W.trcPreview->value(), Paused) << "Play after Pause does not reopen the file";
    W.Timer1Timer();
    EXPECT_EQ(W.trcPreview->value(), Paused + OneSecondSteps(W.trcPreview->maximum(), W.Preview()->DurationUs()));

    W.imgbtnStopClick();
    EXPECT_EQ(W.trcPreview->value(), 0);
    EXPECT_FALSE(W.trcPreview->isEnabled());
    EXPECT_FALSE(W.imgPreview1->isHidden());
    ExpectButtons(W, true, false, false);
    EXPECT_FALSE(W.imgbtnSnap->isEnabled());
}

TEST_F(PreviewTest, RemovingTheLastRowAndClearStopThePreview) {
    TfrmMain& W = Shown({"clip.avi"});
    W.imgbtnPlayClick();
    W.Timer1Timer();
    W.btnRemoveClick();
    EXPECT_TRUE(W.Preview()->Stopped());
    EXPECT_FALSE(W.imgPreview1->isHidden());
    ExpectButtons(W, true, false, false);

    W.AddFiles(MediaList({"clip.avi"}));
    W.SelectRow(0);
    W.imgbtnPlayClick();
    W.Timer1Timer();
    W.btnClearClick();
    W.Timer1Timer();
    EXPECT_EQ(W.trcPreview->value(), 0);
    ExpectButtons(W, true, false, false);

    // Play after Clear opens the new row instead of resuming nothing.
    W.AddFiles(MediaList({"clip.mp4"}));
    W.SelectRow(0);
    W.imgbtnPlayClick();
    EXPECT_FALSE(W.Preview()->Stopped());
    EXPECT_FALSE(W.Preview()->Paused());
    EXPECT_NE(W.Converter().Probe.Context(), nullptr);
}

TEST_F(PreviewTest, KeyboardPlaysTogglesAndSteps) {
    TfrmMain& W = Shown({"clip.avi", "clip.mp4"});
    W.SelectRow(1);
    const bool Checked = W.FilesModel()->Checked(1);
    QTest::keyClick(W.lvFiles, Qt::Key_Space);
    EXPECT_NE(W.FilesModel()->Checked(1), Checked);
    EXPECT_TRUE(W.Preview()->Stopped()) << "Space does not play";

    QTest::keyClick(W.lvFiles, Qt::Key_Return);
    EXPECT_FALSE(W.Preview()->Stopped());
    EXPECT_EQ(W.Converter().Probe.GetFileName(), W.RowRecord(1)->SourceFile);

    const int Line = W.trcPreview->singleStep();
    EXPECT_EQ(Line, W.Preview()->Slider().LineSize);
    W.imgPreview->setFocus();
    QTest::keyClick(W.imgPreview, Qt::Key_Right);
    QTest::keyClick(W.imgPreview, Qt::Key_Right);
    EXPECT_EQ(W.trcPreview->value(), 2 * Line);
    QTest::keyClick(W.imgPreview, Qt::Key_Left);
    EXPECT_EQ(W.trcPreview->value(), Line);
    EXPECT_EQ(W.lblPTS->text(), Label(W, Line));
}

// Which snapshot files the four settings select, at which sizes.
TEST_F(PreviewTest, SnapshotWritesTheSelectedFilesAtTheirSizes) {
    struct TCase {
        int Full, Small, Bmp, Jpg;
        std::vector<std::string> Files;
    };
    const TCase Cases[] = {
        {1, 0, 1, 0, {SnapshotFullBmp}},
        {1, 1, 1, 1, {SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg, SnapshotSmallJpg}},
        {0, 1, 0, 1, {SnapshotSmallJpg}},
        {2, 1, 1, 1, {SnapshotSmallBmp, SnapshotSmallJpg}},  // only exactly 1 selects
    };
    int Index = 0;
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Index);
        const fs::path Snaps = Folder / ("snaps" + std::to_string(Index++));
        IniFile Ini(SettingsIni);
        Ini.WriteString(SettingsKeys::Section, SettingsKeys::SnapOutputDir, Snaps.string());
        Ini.WriteInteger(SettingsKeys::Section, SettingsKeys::SnapFullSize, Case.Full);
        Ini.WriteInteger(SettingsKeys::Section, SettingsKeys::SnapSmallSize, Case.Small);
        Ini.WriteInteger(SettingsKeys::Section, SettingsKeys::SnapBmp, Case.Bmp);
        Ini.WriteInteger(SettingsKeys::Section, SettingsKeys::SnapJpg, Case.Jpg);

        TfrmMain& W = Shown({"clip.mp4"});
        W.imgbtnPlayClick();
        W.Timer1Timer();
        W.imgbtnSnapClick();
        std::vector<std::string> Written;
        for (const auto& Entry : fs::directory_iterator(Snaps)) Written.push_back(Entry.path().filename().string());
        std::sort(Written.begin(), Written.end());
        std::vector<std::string> Expected = Case.Files;
        std::sort(Expected.begin(), Expected.end());
        EXPECT_EQ(Written, Expected);
        for (const std::string& Name : Written) {
            const QImage Picture(QString::fromStdString((Snaps / Name).string()));
            const bool IsFull = Name.find("full") != std::string::npos;
            EXPECT_EQ(Picture.size(), IsFull ? QSize(640, 480) : W.imgPreview->size()) << Name;
        }
        EXPECT_TRUE(Messages.List.empty());
        Window.reset();
    }
}

// A second snapshot leaves the first one's files as they were and comes
// under the next number; the line under the list says where they went, and
// a click on it opens that folder.
TEST_F(PreviewTest, SecondSnapshotKeepsTheFirstAndTheStatusLineOpensItsFolder) {
    const fs::path Snaps = Folder / "snaps";
    IniFile(SettingsIni).WriteString(SettingsKeys::Section, SettingsKeys::SnapOutputDir, Snaps.string());
    TfrmMain& W = Shown({"clip.mp4"});
    W.imgbtnPlayClick();
    W.Timer1Timer();
    W.imgbtnSnapClick();
    const std::vector<std::string> First = SnapshotNames(0), Second = SnapshotNames(1);
    std::vector<std::string> Before;
    for (const std::string& Name : First) Before.push_back(ReadWhole(Snaps / Name));
    const QString Where = QString::fromStdString(Snaps.string() + "/");
    EXPECT_TRUE(W.StatusText().startsWith("Snapshot_full.bmp and 3 more saved in " + Where))
        << W.StatusText().toStdString();

    W.Timer1Timer();
    W.imgbtnSnapClick();
    for (size_t I = 0; I < First.size(); ++I) EXPECT_EQ(ReadWhole(Snaps / First[I]), Before[I]) << First[I];
    for (const std::string& Name : Second) EXPECT_TRUE(fs::exists(Snaps / Name)) << Name;
    EXPECT_TRUE(W.StatusText().startsWith("Snapshot_1_full.bmp and 3 more saved in " + Where))
        << W.StatusText().toStdString();
    QTest::mouseClick(W.lblStatus, Qt::LeftButton);
    EXPECT_EQ(Desktop.Folders, std::vector<std::string>{Where.toStdString()});
    EXPECT_TRUE(Messages.List.empty());
    // A later message takes the line back to the log.
    W.AddFiles({Media("random.bin")});
    QTest::mouseClick(W.lblStatus, Qt::LeftButton);
    EXPECT_EQ(Desktop.Folders.size(), 1u);
}

TEST_F(PreviewTest, SnapshotThatCannotBeWrittenSaysSo) {
    const fs::path Blocked = Folder / "blocked";
    {
        std::ofstream File(Blocked);  // a file where the folder should be
        File << "x";
    }
    IniFile(SettingsIni).WriteString(SettingsKeys::Section, SettingsKeys::SnapOutputDir, (Blocked / "sub").string());
    TfrmMain& W = Shown({"clip.mp4"});
    W.imgbtnPlayClick();
    W.imgbtnSnapClick();
    ASSERT_FALSE(Messages.List.empty());
    EXPECT_EQ(Messages.List.back().Caption, "Warning");
    EXPECT_TRUE(fs::exists(Folder / "home" / "videoconverter" / SnapshotFullBmp)) << "falls back to the default folder";
}

namespace {

// A player on widgets of its own, laid out as Window lays them out.
struct TPlayerForm {
    TPlayerForm(TPreviewWindow Window, QTimer* Timer, TAVProbe* Probe)
        : Canvas(new TPictureView(&Form)), Slider(new QSlider(Qt::Horizontal, &Form)), Label(new QLabel(&Form)),
          Player(TPreviewRules::For(Window), Canvas, Slider, Label, Timer) {
        const bool Main = Window == pwMain;
        Canvas->setGeometry(0, 0, Main ? MainPreviewWidth : DialogPreviewWidth,
                            Main ? MainPreviewHeight : DialogPreviewHeight);
        Slider->setGeometry(0, Canvas->height() + 12, Main ? 225 : 370, 28);
        Player.ConnectControls();
        Player.SetProbe(Probe);
    }
    QWidget Form;
    TPictureView* Canvas;
    QSlider* Slider;
    QLabel* Label;
    TPreviewPlayer Player;
};

}  // namespace

// The player with the trim dialog's rules, on widgets of its own: the tick
// adds 100 steps and one second, the tick at the end rewinds and pauses, a
// paused tick stops the timer, Resume runs it again.
TEST(PreviewPlayerTest, DialogRulesRewindAndPauseAtTheEnd) {
    TVxAVConverter Component;
    ASSERT_TRUE(Component.LoadAVLib("", 1)) << Component.LastError;
    struct TCase {
        const char* File;
        bool Slider;
        int TicksToEnd;  // ticks until the slider stands at its end
    };
    const TCase Cases[] = {
        {"short.avi", true, 1},
        {"clip.avi", true, 3},   // 3 s: 100 + 1 s of steps per tick
        {"still.png", false, 0}, // Max 0: already at the end
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.File);
        QTimer Timer;
        TPlayerForm Form(pwTrim, &Timer, &Component.Probe);
        TPreviewPlayer& Player = Form.Player;
        QSlider* Slider = Form.Slider;
        QLabel* Label = Form.Label;
        QSignalSpy Rewound(&Player, &TPreviewPlayer::Rewound);
        ASSERT_TRUE(Player.OpenFile(MediaPath(Case.File)));
        Player.Start();
        EXPECT_TRUE(Timer.isActive());
        EXPECT_EQ(!Slider->isHidden(), Case.Slider);
        EXPECT_EQ(Label->text(), "0.000");
        for (int Tick = 0; Tick < Case.TicksToEnd; ++Tick) {
            EXPECT_LT(Slider->value(), Slider->maximum());
            Player.Tick();
        }
        EXPECT_EQ(Slider->value(), Slider->maximum());
        EXPECT_NE(Component.Probe.Context(), nullptr) << "the dialogs keep the file open";
        Player.Tick();
        EXPECT_EQ(Slider->value(), 0);
        EXPECT_TRUE(Player.Paused());
        EXPECT_FALSE(Timer.isActive());
        EXPECT_EQ(Rewound.count(), 1);
        Player.Resume();
        EXPECT_TRUE(Timer.isActive());
        EXPECT_FALSE(Player.Paused());
        Component.Probe.CloseFile();
    }
}

}  // namespace

namespace {

bool SamePixels(const TBitmap& A, const TBitmap& B) {
    if (A.Width() != B.Width() || A.Height() != B.Height()) return false;
    for (int Row = 0; Row < A.Height(); ++Row)
        if (!std::equal(A.ScanLine(Row), A.ScanLine(Row) + A.Width() * 3, B.ScanLine(Row))) return false;
    return true;
}

}  // namespace

// The main window's player copies its picture out of the shared probe only
// when the snapshot asks or when something else is about to change it:
// whatever uses the probe next, the snapshot has the picture last shown.
TEST(PreviewPlayerTest, FrameCopyIsThePictureShownWhateverUsesTheProbeNext) {
    TVxAVConverter Component;
    ASSERT_TRUE(Component.LoadAVLib("", 1)) << Component.LastError;
    TAVProbe& Probe = Component.Probe;
    struct TCase {
        const char* Name;
        std::function<void(TPreviewPlayer&)> Then;
    };
    const TCase Cases[] = {
        {"nothing", [](TPreviewPlayer&) {}},
        {"another window decodes elsewhere",
         [&](TPreviewPlayer&) {
             Probe.Seek(-1, 2500000);
             Probe.DecodeFrame();
         }},
        {"the file is closed", [&](TPreviewPlayer&) { Probe.CloseFile(); }},
        {"another file is opened and decoded",
         [&](TPreviewPlayer&) {
             ASSERT_TRUE(Probe.OpenFile(MediaPath("short.avi")));
             Probe.DecodeFrame();
         }},
        {"the player leaves the probe (a job's probe goes with its job)",
         [](TPreviewPlayer& Player) { Player.SetProbe(nullptr); }},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TPlayerForm Form(pwMain, nullptr, &Probe);
        TPreviewPlayer& Player = Form.Player;
        ASSERT_TRUE(Player.OpenFile(MediaPath("clip.avi")));
        Player.Start();
        Player.Tick();
        Player.Tick();
        const TBitmap Shown = Probe.FrameBitmap();
        ASSERT_FALSE(Shown.Empty());
        Case.Then(Player);
        if (HasFatalFailure()) return;
        EXPECT_TRUE(SamePixels(Player.FrameCopy(), Shown));
        Probe.CloseFile();
    }
}

namespace {

// The number burnt into the picture a picture view shows: its blocks are
// found where the last picture was drawn, scaled from the clip's Width x
// Height.
int ShownNumber(const TPictureView& View, int Width, int Height) {
    const TRect Area = View.PictureArea();
    const QImage& Canvas = View.Canvas();
    if (Area.IsEmpty()) return -1;
    std::vector<uint8_t> Rows(static_cast<size_t>(Width) * 3 * PictureNumberBlock);
    for (int Y = 0; Y < PictureNumberBlock; ++Y)
        for (int X = 0; X < PictureNumberBits * PictureNumberBlock && X < Width; ++X) {
            const int CX = Area.Left + static_cast<int>((X + 0.5) * Area.Width() / Width);
            const int CY = Area.Top + static_cast<int>((Y + 0.5) * Area.Height() / Height);
            const QRgb P = Canvas.pixel(CX, CY);
            uint8_t* Out = Rows.data() + (static_cast<size_t>(Y) * Width + X) * 3;
            Out[0] = static_cast<uint8_t>(qBlue(P));
            Out[1] = static_cast<uint8_t>(qGreen(P));
            Out[2] = static_cast<uint8_t>(qRed(P));
        }
    return ReadPictureNumber([&](int Y) { return Rows.data() + static_cast<size_t>(Y) * Width * 3; }, Width,
                             Height);
}

// The picture shown at the time a label shows ("Time: 8.520" or "8.520"),
// at 25 pictures a second.
int PictureAtLabel(const QLabel& Label) {
    const QString Seconds = Label.text().split(' ').last();
    bool Ok = false;
    const double Value = Seconds.toDouble(&Ok);
    EXPECT_TRUE(Ok) << Label.text().toStdString();
    return static_cast<int>(std::llround(Value * 1000000) * 25 / 1000000);
}

}  // namespace

// Every way of stepping the main window's, the trim dialog's and the crop
// dialog's previews shows the picture of the time it shows, read from the
// number burnt into the picture. The clip has key frames only at 0 and
// 10 s, so a key-frame picture would show 0 for every time before 10 s.
TEST_F(PreviewTest, EveryStepShowsThePictureOfTheTimeShown) {
    constexpr int ClipWidth = 192, ClipHeight = 112;
    TfrmMain& W = Shown({"numbered_gop250.mp4"});
    TlvFilesRecord Record;
    Record.SourceFile = MediaPath("numbered_gop250.mp4");
    auto Trim = std::make_unique<TfrmTrim>();
    auto Crop = std::make_unique<TfrmCrop>();

    struct TSurface {
        TPictureView* Canvas;
        QSlider* Slider;
        QLabel* Time;
    };
    TSurface Main{W.imgPreview, W.trcPreview, W.lblPTS};
    auto DialogSurface = [&](TPlayerDialog& D) {
        D.Timer1->stop();  // each tick is the test's
        return TSurface{D.imgPreview, D.trcPreview, D.findChild<QLabel*>("lblPTS")};
    };
    TSurface TrimView{}, CropView{};
    auto Key = [](const TSurface& S, Qt::Key K, int Times) {
        S.Canvas->setFocus();
        for (int I = 0; I < Times; ++I) QTest::keyClick(S.Canvas, K);
    };
    auto At = [](const TSurface& S, int Percent) { S.Slider->setValue(S.Slider->maximum() * Percent / 100); };
    auto DragTo = [](const TSurface& S, int Percent) {
        S.Slider->setSliderDown(true);
        S.Slider->setValue(S.Slider->maximum() * Percent / 100);
        S.Slider->setSliderDown(false);  // the release
    };
    struct TRow {
        const char* Name;
        const TSurface* View;
        std::function<void()> Do;
    };
    const TRow Rows[] = {
        {"main: Play", &Main, [&] { W.imgbtnPlayClick(); }},
        {"main: tick", &Main, [&] { W.Timer1Timer(); }},
        {"main: second tick", &Main, [&] { W.Timer1Timer(); }},
        {"main: Right key three times", &Main, [&] { Key(Main, Qt::Key_Right, 3); }},
        {"main: Left key", &Main, [&] { Key(Main, Qt::Key_Left, 1); }},
        {"main: Page Up on the slider", &Main, [&] { QTest::keyClick(Main.Slider, Qt::Key_PageUp); }},
        {"main: click on the track at 71 %", &Main, [&] { At(Main, 71); }},
        {"main: drag released at 45 %", &Main, [&] { DragTo(Main, 45); }},
        {"main: Pause, then a tick", &Main, [&] { W.imgbtnPauseClick(); W.Timer1Timer(); }},
        {"trim: opening", &TrimView,
         [&] {
             Trim->SetRow(&Record, [](int) {});
             Trim->open();
             TrimView = DialogSurface(*Trim);
         }},
        {"trim: tick", &TrimView, [&] { Trim->Timer1Timer(); }},
        {"trim: Right key twice", &TrimView, [&] { Key(TrimView, Qt::Key_Right, 2); }},
        {"trim: click on the track at 60 %", &TrimView, [&] { At(TrimView, 60); }},
        {"trim: drag released at 83 %", &TrimView, [&] { DragTo(TrimView, 83); }},
        {"crop: opening", &CropView,
         [&] {
             Trim->reject();
             Crop->SetRow(&Record);
             Crop->open();
             CropView = DialogSurface(*Crop);
         }},
        {"crop: tick", &CropView, [&] { Crop->Timer1Timer(); }},
        {"crop: click on the track at 37 %", &CropView, [&] { At(CropView, 37); }},
        {"crop: Left key", &CropView, [&] { Key(CropView, Qt::Key_Left, 1); }},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        Row.Do();
        ASSERT_NE(Row.View->Time, nullptr);
        EXPECT_EQ(ShownNumber(*Row.View->Canvas, ClipWidth, ClipHeight), PictureAtLabel(*Row.View->Time))
            << Row.View->Time->text().toStdString();
    }
    Crop->reject();
}
