// What the window does when the stored output folder cannot be made or a
// profile's section is damaged: it says so where the user sees it, and
// still converts into a folder and with values that exist.
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <cstring>

#include "app/Profiles.h"
#include "common/IniFile.h"
#include "gui/ProfileList.h"
#include "probe/AVProbe.h"
#include "tests/gui/GuiTestSupport.h"
#include "widgets/MessageBox.h"

namespace {

constexpr int BatchTimeoutMs = 120000;

class FolderAndProfileTest : public TWindowFixture {
protected:
    TfrmMain& Ready(int Profile) {
        TfrmMain& W = OpenShown();
        W.Batch()->SetModalLoop(false);
        SelectProfile(W.cbOutputFormat, Profile);
        return W;
    }
    // Starts the batch and waits for its end; the lines it logged.
    QStringList Run(TfrmMain& W) {
        QSignalSpy Ended(W.Batch(), &TBatchRun::Ended);
        QSignalSpy Logged(W.Batch(), &TBatchRun::Log);
        W.btnStart->click();
        EXPECT_TRUE(Ended.count() > 0 || Ended.wait(BatchTimeoutMs));
        QStringList Lines;
        for (const QList<QVariant>& L : Logged) Lines << L[0].toString();
        return Lines;
    }
};

// The file's video and sound streams, read back.
std::pair<int, int> Streams(const std::string& Path) {
    TAVProbe Probe;
    if (!Probe.OpenFile(Path)) return {-1, -1};
    std::pair<int, int> Count{Probe.VideoStreamCount(), Probe.AudioStreamCount()};
    Probe.CloseFile();
    return Count;
}

}  // namespace

TEST_F(FolderAndProfileTest, UnmadeFolderIsToldByABoxOfTheMainWindowAndTheChoiceStays) {
    // A folder below a plain file cannot be made, as a folder on a disk
    // that is not plugged in.
    std::ofstream(Folder / "plain_file") << "x";
    const std::string Bad = (Folder / "plain_file" / "out").string();
    TAppSettings(SettingsIni).SetOutputDir(Bad);
    TfrmMain& W = Ready(0);
    // As the program does once its main window exists.
    InstallMessageBoxes(&W);
    QWidget* Parent = nullptr;
    QString Text;
    int Boxes = 0;
    QTimer Answer;
    QObject::connect(&Answer, &QTimer::timeout, [&] {
        if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++Boxes;
            Parent = Box->parentWidget();
            Text = Box->text();
            Box->accept();
        }
    });
    Answer.start(20);
    EXPECT_EQ(W.AddFiles({Media("short.avi"), Media("tone.wav")}), 2);
    const QStringList Log = Run(W);
    Answer.stop();

    const std::string Default = (Folder / "home" / "videoconverter").string();
    EXPECT_EQ(Boxes, 1);
    EXPECT_EQ(Parent, &W);
    EXPECT_EQ(Text.toStdString(), "Cannot create output directory: " + Bad + " (" + std::strerror(ENOTDIR) +
                                      "). It will use the default directory " + Default +
                                      " for now; the chosen directory stays in the settings.");
    EXPECT_EQ(W.edDirectory->text().toStdString(), Default);
    EXPECT_EQ(IniFile(SettingsIni).ReadString("settings", "OutPutDir", ""), Bad);
    EXPECT_EQ(W.FilesModel()->Status(0).Written, Default + "/short_(new).mp4") << Log.join("\n").toStdString();
    EXPECT_EQ(Streams(Default + "/short_(new).mp4"), std::make_pair(1, 1));
}

TEST_F(FolderAndProfileTest, DamagedProfileConvertsWithTheShippedSectionAndSaysSo) {
    const std::string Section = ProfileSection(0);
    struct TRow {
        const char* Name;
        bool WholeSection;  // else only the video encoder key goes
        const char* Said;
    } Rows[] = {
        {"section", true, "is missing"},
        {"encoder key", false, "has no paraVideoEncoder key"},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        fs::copy_file(SOURCE_DIR "/data/tarnmp4videoconverter.ini", SettingsIni,
                      fs::copy_options::overwrite_existing);
        TAppSettings(SettingsIni).SetOutputDir(OutputDir);
        fs::remove_all(OutputDir);
        std::ifstream In(SettingsIni);
        std::string Text, Line, Current;
        while (std::getline(In, Line)) {
            if (!Line.empty() && Line[0] == '[') Current = Line;
            const bool Inside = Current == "[" + Section + "]";
            if (Inside && (Row.WholeSection || Line.rfind("paraVideoEncoder=", 0) == 0)) continue;
            Text += Line + "\n";
        }
        In.close();
        std::ofstream(SettingsIni) << Text;

        TfrmMain& W = Ready(0);
        EXPECT_EQ(W.AddFiles({Media("short.avi")}), 1);
        const QString Log = Run(W).join("\n");
        EXPECT_TRUE(Log.contains(QString::fromStdString("***warning: in the settings file " + SettingsIni +
                                                        ", the section [" + Section + "] " + Row.Said)))
            << Log.toStdString();
        // The picture is there, as the shipped profile makes it.
        EXPECT_EQ(W.RowText(0, fcProgress), "100%");
        EXPECT_EQ(Streams(OutputDir + "/short_(new).mp4"), std::make_pair(1, 1));
        Window.reset();
    }
    EXPECT_TRUE(Messages.List.empty());
}
