// The file information dialog on generated media: the fields it fills from
// the probes of its own converter component, and what it shows for files
// without video, without audio and that cannot be opened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <tuple>

#include "app/GlobalUnit.h"
#include "binding/LibAV.h"
#include "dialogs/WinFileInfo.h"
#include "tests/TestMedia.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;

namespace {

class FileInfoDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }
    void SetUp() override {
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind) {
            Messages.push_back(C + ": " + T);
        });
        ApplyTheme(0);
    }
    void TearDown() override {
        Dialog.reset();
        SetMessageFunction({});
    }
    TfrmFileInfo& Open(const std::string& Source) {
        if (!Dialog) Dialog = std::make_unique<TfrmFileInfo>();
        Dialog->SetSourceFile(Source);
        Dialog->open();
        EXPECT_TRUE(Dialog->isVisible());
        return *Dialog;
    }
    // The nine value fields, video then audio.
    std::vector<std::string> Fields() const {
        std::vector<std::string> Texts;
        for (QLineEdit* E : {Dialog->edtFormat, Dialog->edtResloution, Dialog->edtBitRate, Dialog->edtFrameRate,
                             Dialog->edtTotalFrame, Dialog->edtAudioForamt, Dialog->edtAudioBitRate,
                             Dialog->edtSampleRate, Dialog->edtChannel})
            Texts.push_back(E->text().toStdString());
        return Texts;
    }

    std::vector<std::string> Messages;
    std::unique_ptr<TfrmFileInfo> Dialog;
};

}  // namespace

TEST_F(FileInfoDialog, ShowsFormatDurationAndTheFirstStreamsOfEachKind) {
    struct TCase {
        const char* File;
        const char* Length;  // lblFileLength
        // Format, resolution, frame rate, total frames, then the audio
        // format, sample rate and channels; the bit rates come separately.
        std::vector<std::string> Texts;
    };
    const std::string Mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
    const TCase Cases[] = {
        {"clip.avi", "3.040 Second", {"avi", "320x240", "25", "76", "mp3", "44100", "2"}},
        {"clip.mp4", "3.008 Second", {Mp4, "640x480", "25", "75", "aac", "48000", "2"}},
        {"fps25.mp4", "2.021 Second", {Mp4, "320x240", "25", "50", "aac", "44100", "2"}},
        {"late_audio.mkv", "2.000 Second", {"matroska,webm", "320x240", "25", "50", "pcm_s16le", "44100", "2"}},
        // Video without sound: no audio fields.
        {"long35.avi", "35.000 Second", {"avi", "160x120", "25", "875", "", "", ""}},
        // Sound without video: nothing at all.
        {"tone.mp3", "", {"", "", "", "", "", "", ""}},
        {"tone.wav", "", {"", "", "", "", "", "", ""}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.File);
        const std::string Path = MediaPath(C.File);
        TfrmFileInfo& D = Open(Path);
        EXPECT_EQ(D.lblFileLength->text().toStdString(), C.Length);
        // The label may be cut where the checkout's path is long; the tooltip never is.
        EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), C.Texts[0].empty() ? "" : Path);
        const std::vector<std::string> F = Fields();
        const std::vector<std::string> Shown = {F[0], F[1], F[3], F[4], F[5], F[7], F[8]};
        EXPECT_EQ(Shown, C.Texts);

        // The bit rates as the library reports them, 0 included.
        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(Path));
        TAVVideoStreamInfo Video;
        TAVAudioStreamInfo Audio;
        Probe.GetVideoStreamInfo(-1, Video);
        Probe.GetAudioStreamInfo(-1, Audio);
        const bool HasVideo = Probe.VideoStreamCount() > 0;
        EXPECT_EQ(F[2], HasVideo ? std::to_string(Video.BitRate) : "");
        EXPECT_EQ(F[6], HasVideo && Probe.AudioStreamCount() > 0 ? std::to_string(Audio.BitRate) : "");
        EXPECT_EQ(D.VxAVC.JobCount(), 1);
        D.accept();
    }
}

TEST_F(FileInfoDialog, BitRateReportedAsZeroShowsZero) {
    TfrmFileInfo& D = Open(MediaPath("jump.mkv"));
    EXPECT_EQ(D.edtBitRate->text(), "0");
    EXPECT_EQ(D.edtResloution->text(), "320x240");
}

TEST_F(FileInfoDialog, PathsOfMoreThan45CharactersAreCut) {
    char Template[] = "/tmp/tfiXXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    const std::string Dir = Template;  // 14 characters
    struct TCase {
        size_t Length;
        bool Whole;
    };
    for (const TCase& C : {TCase{44, true}, TCase{45, true}, TCase{46, false}, TCase{80, false}}) {
        const std::string Path = Dir + "/" + std::string(C.Length - Dir.size() - 5, 'v') + ".avi";
        ASSERT_EQ(Path.size(), C.Length);
        fs::create_symlink(MediaPath("clip.avi"), Path);
        TfrmFileInfo& D = Open(Path);
        EXPECT_EQ(D.lblSourceName->text().toStdString(), C.Whole ? Path : Path.substr(0, 40) + "...avi  ")
            << C.Length;
        EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), Path);
        EXPECT_EQ(D.lblSourceName->width(), TfrmFileInfo::SourceLabelWidth);
        D.accept();
    }
    // 45 wide letters are kept whole by the rule but are wider than the
    // label: it draws them elided in the middle, never cut off.
    const std::string Wide = Dir + "/" + std::string(45 - Dir.size() - 5, 'W') + ".avi";
    fs::create_symlink(MediaPath("clip.avi"), Wide);
    TfrmFileInfo& D = Open(Wide);
    auto* Label = dynamic_cast<TElidedLabel*>(D.lblSourceName);
    ASSERT_NE(Label, nullptr);
    EXPECT_EQ(Label->text().toStdString(), Wide);
    const QString Shown = Label->Shown();
    EXPECT_TRUE(Shown.startsWith("/tmp/") && Shown.endsWith("W.avi") && Shown.contains(QChar(0x2026)))
        << Shown.toStdString();
    EXPECT_LE(Label->fontMetrics().horizontalAdvance(Shown), Label->contentsRect().width());
    D.accept();
    fs::remove_all(Dir);
}

TEST_F(FileInfoDialog, FileThatCannotBeOpenedSaysWhyAndLeavesNoEarlierFields) {
    const std::string Missing = MediaPath("no-such-file.avi");
    for (const std::string& Bad : {MediaPath("random.bin"), MediaPath("empty.mp4"), Missing}) {
        SCOPED_TRACE(Bad);
        Messages.clear();
        Open(MediaPath("clip.avi")).accept();
        TfrmFileInfo& D = Open(Bad);
        EXPECT_TRUE(D.isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Messages.empty(); }, 2000));
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].rfind("Warning: " + Bad + ":", 0), 0u) << Messages[0];
        EXPECT_EQ(Fields(), std::vector<std::string>(9));
        EXPECT_TRUE(D.lblSourceName->text().isEmpty());
        D.accept();
    }
    // An empty list shows nothing and says nothing.
    Messages.clear();
    Open(MediaPath("clip.avi")).accept();
    Open("");
    QTest::qWait(20);
    EXPECT_EQ(Fields(), std::vector<std::string>(9));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FileInfoDialog, EveryWayOfClosingEmptiesTheJobList) {
    TfrmFileInfo& D = Open(MediaPath("clip.mp4"));
    EXPECT_EQ(D.windowTitle(), "File infomation");
    EXPECT_EQ(D.size(), QSize(TfrmFileInfo::ShownWidth, TfrmFileInfo::ShownHeight));
    EXPECT_EQ(D.VxAVC.JobCount(), 1);
    QTest::mouseClick(D.btn1, Qt::LeftButton);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
    Open(MediaPath("clip.mp4"));
    QTest::keyClick(&D, Qt::Key_Escape);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
}

TEST(FileInfoTexts, AudioFormatAndFrameRate) {
    const std::pair<const char*, const char*> Formats[] = {
        {"File Name: a.avi\r\nStream #0, 1/25: Video: mpeg4\r\nStream #1, 1/44100: Audio: mp3, 44100 Hz, stereo", "mp3"},
        {"Stream #0, 1/48000: Audio: aac (LC) (mp4a / 0x6134706D), 48000 Hz", "aac"},
        {"Title: Audio: none, really\r\nStream #0, 1/8000: Audio: pcm_alaw\r\n", "pcm_alaw"},
        {"Comment: Audio: yes\r\nStream #0, 1/25: Video: h264", ""},
        {"", ""},
    };
    for (const auto& [Info, Format] : Formats) EXPECT_EQ(TfrmFileInfo::AudioFormatFromInfo(Info), Format) << Info;
    const std::tuple<int, int, const char*> Rates[] = {
        {25, 1, "25"}, {30000, 1001, "29.97"}, {24000, 1001, "23.976"}, {50, 2, "25"}, {0, 1, ""}, {25, 0, ""}};
    for (const auto& [Num, Den, Text] : Rates) EXPECT_EQ(TfrmFileInfo::FrameRateText(Num, Den), Text) << Num;
}

TEST_F(FileInfoDialog, CaptionsFitUnderTwoThemes) {
    const char* Shots = std::getenv("TARN_SHOTS_DIR");
    for (int Theme : {0, 3}) {
        ApplyTheme(Theme);
        TfrmFileInfo& D = Open(MediaPath("clip.mp4"));
        QTest::qWait(20);
        for (QWidget* W : D.findChildren<QWidget*>()) {
            if (!W->isVisible() || W->objectName().startsWith("qt_")) continue;
            EXPECT_GE(W->width(), W->minimumSizeHint().width()) << W->objectName().toStdString();
            EXPECT_GE(W->height(), W->minimumSizeHint().height()) << W->metaObject()->className() << " " << W->objectName().toStdString();
        }
        // Every value fits its field.
        for (QLineEdit* E : D.findChildren<QLineEdit*>())
            EXPECT_LT(E->fontMetrics().horizontalAdvance(E->text()), E->width() - 8) << E->objectName().toStdString();
        EXPECT_EQ(D.edtFormat->palette().color(QPalette::Base), QApplication::palette().color(QPalette::ToolTipBase));
        if (Shots)
            D.grab().save(QDir(Shots).filePath(QString("fileinfo_%1.png").arg(ThemeName(Theme)).replace(' ', '_')));
        D.accept();
    }
    ApplyTheme(0);
}
