// The window's batch against tarnconv on the same four clips:
//   the main window's batch with the live picture on, with it off, and
//   tarnconv, one after another, three rounds; prints the median wall time
//   of each and the ratios (live off / live on, window / tarnconv).
// Usage (offscreen, no display needed):
//   batch_bench MEDIA_DIR [PROFILE] [WORK_FOLDER]
// MEDIA_DIR holds the generated test media (long35.avi is the source of the
// clips); PROFILE defaults to 1 (iPod Video H.264).
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QToolButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/GlobalUnit.h"
#include "binding/LibAV.h"
#include "component/VxAVConverter.h"
#include "gui/BatchRun.h"
#include "gui/WinMain.h"
#include "widgets/Platform.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The bench must not open file managers or notify anyone.
class TQuietDesktop : public TPlatformServices {
public:
    bool OpenUrl(const std::string&) override { return true; }
    bool OpenFolder(const std::string&) override { return true; }
    bool PowerOff() override { return false; }
    int InhibitSleep(const std::string&) override { return -1; }
    bool Notify(const std::string&, const std::string&) override { return true; }
};

// A 640x480 clip of Seconds made from the small test clip, so the encoders
// have real work.
bool MakeClip(const std::string& Source, const std::string& Path, int Seconds, int Seed) {
    TVxAVConverter Converter;
    Converter.SetLogLevel(llQuiet);
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false, Failed = false;
    Converter.OnTerminate = [&](int AIndex, bool, bool AException, const std::string&) {
        std::lock_guard<std::mutex> Guard(Lock);
        Failed = Failed || AException;
        Finished = AIndex < 0;
        Done.notify_all();
    };
    TInputOptions Input;
    InitInputOptions(Input);
    Input.StartTime = Seed * 1000;  // each clip starts elsewhere in the source
    if (Converter.AddInputFile(Source, &Input) != 0) return false;
    TOutputOptions Options;
    InitOutputOptions(Options);
    Options.VideoCodec = "mpeg4";
    Options.VideoBitRate = 3000000;
    Options.FrameSize = "640x480";
    Options.Duration = Seconds * 1000;
    if (!Converter.SetOutputFile(0, Path, &Options)) return false;
    Converter.Start(1);
    std::unique_lock<std::mutex> Guard(Lock);
    Done.wait(Guard, [&] { return Finished; });
    return !Failed;
}

double WindowBatch(const TStartOptions& Options, const QStringList& Files, bool Live) {
    TfrmMain Window(Options);
    Window.Batch()->SetModalLoop(false);
    Window.Batch()->SetLivePicture(Live);
    Window.show();
    Window.AddFiles(Files);
    QEventLoop Loop;
    QObject::connect(Window.Batch(), &TBatchRun::Ended, &Loop, &QEventLoop::quit);
    const auto Start = Clock::now();
    QTimer::singleShot(0, &Window, [&Window] { Window.btnStart->click(); });
    Loop.exec();
    const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
    Window.close();
    return Seconds;
}

double Tarnconv(const std::string& Program, const TStartOptions& Options, const std::string& Out, int Profile,
                const QStringList& Files) {
    std::string Command = "'" + Program + "' -q --log-level quiet -p " + std::to_string(Profile) + " -o '" + Out +
                          "' --settings '" + Options.SettingsFile + "' --profiles '" + Options.ProfilesFile + "'";
    for (const QString& F : Files) Command += " '" + F.toStdString() + "'";
    const auto Start = Clock::now();
    const int Status = std::system(Command.c_str());
    const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
    if (Status != 0) std::fprintf(stderr, "tarnconv failed (%d)\n", Status);
    return Seconds;
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: batch_bench MEDIA_DIR [PROFILE] [WORK_FOLDER]\n");
        return 2;
    }
    const std::string Media = argv[1];
    const int Profile = argc > 2 ? std::atoi(argv[2]) : 1;
    const fs::path Work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "batch_bench";
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    TQuietDesktop Desktop;
    SetPlatform(&Desktop);
    SetMessageFunction([](const std::string& C, const std::string& T, TMessageKind) {
        std::fprintf(stderr, "%s: %s\n", C.c_str(), T.c_str());
    });
    if (!LoadLibraries("", true)) {
        std::fprintf(stderr, "%s\n", LibrariesError().c_str());
        return 1;
    }

    fs::create_directories(Work / "clips");
    QStringList Files;
    for (int I = 0; I < 4; ++I) {
        const std::string Clip = (Work / "clips" / ("clip" + std::to_string(I) + ".avi")).string();
        if (!fs::exists(Clip) && !MakeClip(Media + "/long35.avi", Clip, 16, I * 3)) {
            std::fprintf(stderr, "cannot make %s\n", Clip.c_str());
            return 1;
        }
        Files << QString::fromStdString(Clip);
    }
    const fs::path Bin = fs::path(APP_BIN_DIR);
    TStartOptions Options;
    Options.SettingsFile = (Work / "tarnmp4videoconverter.ini").string();
    Options.ProfilesFile = (Bin / "tarnmp4format.ini").string();
    fs::copy_file(Bin / "tarnmp4videoconverter.ini", Options.SettingsFile, fs::copy_options::overwrite_existing);
    TAppSettings Settings(Options.SettingsFile);
    Settings.SetOutputFormat(Profile);

    std::vector<double> LiveOn, LiveOff, Cli;
    for (int Round = 0; Round < 3; ++Round) {
        for (const char* Name : {"on", "off", "cli"}) {
            const fs::path Out = Work / (std::string("out-") + Name);
            fs::remove_all(Out);
            fs::create_directories(Out);
            Settings.SetOutputDir(Out.string());
            const std::string Kind = Name;
            if (Kind == "on") LiveOn.push_back(WindowBatch(Options, Files, true));
            if (Kind == "off") LiveOff.push_back(WindowBatch(Options, Files, false));
            if (Kind == "cli")
                Cli.push_back(Tarnconv((Bin / "tarnconv").string(), Options, Out.string(), Profile, Files));
        }
        std::printf("round %d: live on %.2f s, live off %.2f s, tarnconv %.2f s\n", Round + 1, LiveOn.back(),
                    LiveOff.back(), Cli.back());
    }
    const double On = Median(LiveOn), Off = Median(LiveOff), Line = Median(Cli);
    std::printf("\nfour 640x480 clips of 16 s, profile %d, medians of three rounds:\n", Profile);
    std::printf("  window batch, live picture on : %.2f s\n", On);
    std::printf("  window batch, live picture off: %.2f s\n", Off);
    std::printf("  tarnconv                      : %.2f s\n", Line);
    std::printf("  speed with / without live picture: %.3f (goal >= 0.97)\n", Off / On);
    std::printf("  window (live off) / tarnconv time: %.3f (goal <= 1.03)\n", Off / Line);
    std::printf("  window (live on) / tarnconv time : %.3f\n", On / Line);
    SetPlatform(nullptr);
    SetMessageFunction({});
    return 0;
}
