// tarnconv: converts files with one output profile, the batch of the
// windowed application without its windows.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Batch.h"
#include "app/CommandLine.h"
#include "app/ConsoleProgress.h"
#include "app/FilesRecord.h"
#include "app/GlobalUnit.h"
#include "app/OutputOptions.h"
#include "app/Profiles.h"
#include "common/Files.h"
#include "common/Text.h"
#include "component/VxAVConverter.h"
#include "engine/OutputTarget.h"

namespace {

using TClock = std::chrono::steady_clock;

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) { Interrupted = 1; }

void InstallInterruptHandler() {
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    // A second Ctrl-C ends the program at once.
    Action.sa_flags = SA_RESETHAND;
    // A closed terminal or a polite kill ends the run as Ctrl-C does, with
    // every file written so far complete.
    for (int Signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(Signal, &Action, nullptr);
}

std::string OneLine(std::string Text) {
    for (char& C : Text)
        if (C == '\r' || C == '\n') C = ' ';
    return Trim(Text);
}

// What the program knows of one job; written by the component's events.
struct TJob {
    std::string Input, Output;
    bool Started = false;
    int64_t CurrentMs = 0, TotalMs = 0, Size = 0;
    TSpeedMeter Meter;
    bool Ended = false, Finished = false, Failed = false, Reported = false;
    bool Written = false;  // its output exists under its final name
    TBatchAddResult Refused = baAdded;  // refused as it started: Message says why
    std::string Message;
    std::string LeftOut;   // the engine's note of the tracks no output carries
    int PlainDecile = -1;  // last tenth printed as a plain line
};

// The engine's notes of what a job leaves out or changes: "kept 1 of 2
// sound tracks", "subtitles not carried", and a copy's "Stream #0.2 (flac
// sound) is converted to aac: …", "… is left out: …", "… is copied from its
// key frame at …". The done line carries them, joined by "; ".
bool IsLeftOutNote(const std::string& Text) {
    if (Text.rfind("Stream #", 0) == 0)
        return Text.find(" is converted to ") != std::string::npos || Text.find(" is left out") != std::string::npos ||
               Text.find(" is copied from its key frame") != std::string::npos;
    return (Text.rfind("kept ", 0) == 0 && Text.find(" tracks") != std::string::npos) ||
           Text.rfind("subtitles not carried", 0) == 0;
}

// The terminal: progress lines stay at the bottom, everything else is
// printed above them.
class TConsole {
public:
    explicit TConsole(bool Live) : FLive(Live) {}

    bool Live() const { return FLive; }

    void Print(FILE* Stream, const std::string& Text) {
        Erase();
        std::fprintf(Stream, "%s\n", TerminalText(Text, true).c_str());
        std::fflush(Stream);
        Draw();
    }

    void SetProgress(std::vector<std::string> Lines) {
        if (Lines == FLines) return;
        Erase();
        FLines = std::move(Lines);
        Draw();
    }

    static size_t Width() {
        winsize Size {};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &Size) == 0 && Size.ws_col > 1) return Size.ws_col - 1;
        return 79;
    }

private:
    void Erase() {
        if (!FLive || FDrawn == 0) return;
        for (size_t I = 0; I < FDrawn; ++I) std::fputs("\x1b[1A\r\x1b[2K", stdout);
        FDrawn = 0;
    }
    void Draw() {
        if (!FLive) return;
        for (const std::string& L : FLines) std::printf("%s\n", L.c_str());
        FDrawn = FLines.size();
        std::fflush(stdout);
    }

    bool FLive;
    std::vector<std::string> FLines;
    size_t FDrawn = 0;
};

class TBatch {
public:
    explicit TBatch(const TConvOptions& Options) : FOptions(Options), FConsole(isatty(STDOUT_FILENO) && !Options.Quiet) {}

    int Run();

private:
    bool LoadLibraries();
    int ListProfiles(const IniFile& Formats);
    int ShowInfo();
    TBatchAddResult AddFile(TBatchBuilder& Builder, const std::string& Path);
    void ConnectEvents();
    void Loop();
    void Report(bool Final);
    std::string JobName(int Index) const;
    TJobProgress Progress(int Index) const;

    const TConvOptions& FOptions;
    TConsole FConsole;
    TVxAVConverter FConverter;
    TBatchBuilder* FBuilder = nullptr;  // set before the jobs start

    std::mutex FLock;  // guards everything below; never held while calling the component
    std::condition_variable FWake;
    std::vector<TJob> FJobs;
    std::deque<std::pair<FILE*, std::string>> FLines;
    struct TPosted {
        TClock::time_point Due;
        std::function<void()> Work;
    };
    std::vector<TPosted> FPosted;
    bool FBatchEnded = false;
    int FOpenFailures = 0;
    int FUnsuitable = 0;  // files the profile cannot hold
    int FNotQueued = 0;   // files of which nothing was written: never looked at, or stopped first
    size_t FNextStart = 0;  // the job that the next end of a job starts
};

// Why no file can be created in Folder, or empty when one can: a folder
// that exists but refuses files (read-only, no permission) is reported
// before any file is converted, rather than once per file.
std::string FolderRefusal(const std::string& Folder) {
    std::string Probe = Folder + (Folder.empty() || Folder.back() == '/' ? "" : "/") + ".tarnconv-XXXXXX";
    int Handle = mkstemp(Probe.data());
    if (Handle < 0) return std::strerror(errno);
    close(Handle);
    unlink(Probe.c_str());
    return "";
}

// The line for a file whose job could not be made or was refused as it
// started.
std::string RefusalLine(TBatchAddResult Kind, const std::string& Input, const std::string& Output,
                        const std::string& Reason) {
    switch (Kind) {
        case baNotWritable: return "tarnconv: cannot write " + TerminalText(Output) + ": " + OneLine(Reason);
        case baNotSuitable: return "tarnconv: cannot convert " + TerminalText(Input) + ": " + Reason;
        default: return "tarnconv: cannot open " + TerminalText(Input) + ": " + OneLine(Reason);
    }
}

void Say(FILE* Stream, const std::string& Text) {
    std::fprintf(Stream, "%s\n", TerminalText(Text, true).c_str());
    std::fflush(Stream);
}

bool TBatch::LoadLibraries() {
    std::string Folder = ExecutableFolder() + "LibAV";
    if (!FolderExists(Folder)) Folder.clear();
    // Most files need no filter: the filter library's load is left to the
    // first one that does.
    if (FConverter.LoadAVLib(Folder, 1, true)) return true;
    Say(stderr, "tarnconv: cannot load the codec libraries: " + FConverter.LastError);
    return false;
}

int TBatch::ListProfiles(const IniFile& Formats) {
    // Grouped as the window's list shows them; -p takes the number.
    bool First = true;
    for (const TProfileGroup& Group : ProfileGroups()) {
        std::printf("%s%s\n", First ? "" : "\n", Group.Heading);
        First = false;
        for (int N : Group.Profiles)
            std::printf("  %2d  %-52s %s\n", N, ProfileNames[N], ProfileFileExt(Formats, N).c_str());
    }
    return 0;
}

int TBatch::ShowInfo() {
    TAVProbe& Probe = FConverter.Probe;
    if (!Probe.OpenFile(FOptions.InfoFile)) {
        Say(stderr, "tarnconv: " + Probe.LastError());
        return 1;
    }
    std::string Text = Probe.GetInfoText();
    Text.erase(std::remove(Text.begin(), Text.end(), '\r'), Text.end());
    // The file's name and its tags are the file's own: no control character
    // of theirs reaches the terminal.
    Text = TerminalText(Text, true);
    std::printf("%s%s", Text.c_str(), !Text.empty() && Text.back() != '\n' ? "\n" : "");
    Probe.CloseFile();
    return 0;
}

// One file as the batch start of the windowed application adds it.
TBatchAddResult TBatch::AddFile(TBatchBuilder& Builder, const std::string& Path) {
    TlvFilesRecord Row;
    Row.SourceFile = Path;
    Row.TrimStart = FOptions.StartMs;
    Row.TrimLength = FOptions.LengthMs;
    Row.ZoomMode = FOptions.Zoom;
    Row.CropTop = FOptions.CropTop;
    Row.CropBottom = FOptions.CropBottom;
    Row.CropLeft = FOptions.CropLeft;
    Row.CropRight = FOptions.CropRight;

    const TBatchAddResult Result = Builder.Add(static_cast<int>(Builder.Jobs().size()), Path, Row);
    if (Result != baAdded) {
        Say(stderr, RefusalLine(Result, Path, Builder.LastOutput(), Builder.Reason()));
        return Result;
    }
    std::lock_guard<std::mutex> Guard(FLock);
    TJob Job;
    Job.Input = Path;
    Job.Output = Builder.Jobs().back().Output;
    FJobs.push_back(std::move(Job));
    return baAdded;
}

void TBatch::ConnectEvents() {
    FConverter.OnProgress = [this](int AIndex, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize,
                                   int ATotalOutputDuration) {
        std::lock_guard<std::mutex> Guard(FLock);
        if (AIndex < 0 || AIndex >= static_cast<int>(FJobs.size())) return;
        TJob& J = FJobs[static_cast<size_t>(AIndex)];
        J.Started = true;
        J.CurrentMs = ACurrentDuration;
        J.TotalMs = ATotalOutputDuration;
        J.Size = ACurrentSize;
        J.Meter.Sample(TClock::now(), ACurrentDuration);
        FWake.notify_all();
    };
    FConverter.OnTerminate = [this](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        // The name the file was given, which a run in the same folder may
        // have made the next of its series; or why the job was refused as
        // it started (the file does not open, or suits the profile badly).
        std::string Given, Reason;
        const TBatchAddResult Refused = FBuilder && AIndex >= 0 ? FBuilder->Refusal(AIndex, &Reason) : baAdded;
        if (AIndex >= 0) {
            try {
                TOutputOptions Options;
                FConverter.GetOutputOptions(AIndex, Options);
                Given = Options.FileName;
            } catch (const std::exception&) {
            }
        }
        std::lock_guard<std::mutex> Guard(FLock);
        if (AIndex < 0) {
            FBatchEnded = true;
        } else if (AIndex < static_cast<int>(FJobs.size())) {
            auto Now = TClock::now();
            TJob& J = FJobs[static_cast<size_t>(AIndex)];
            J.Ended = true;
            J.Finished = AFinished && !AException;
            J.Failed = AException;
            J.Message = Refused != baAdded ? Reason : AMessage;
            J.Refused = Refused;
            if (!Given.empty()) J.Output = Given;
            J.Written = J.Finished || (!AException && OutputNameTaken(J.Output));
            // The speed of a finished file counts its whole wall-clock time.
            if (J.Finished) J.Meter.Sample(Now, J.CurrentMs);
            // Jobs start in order, each as an earlier one ends; the next
            // one's clock starts now unless it has reported already.
            if (FNextStart < FJobs.size()) {
                TJob& Next = FJobs[FNextStart++];
                if (!Next.Started) Next.Meter.Sample(Now, 0);
            }
        }
        FWake.notify_all();
    };
    FConverter.OnLog = [this](int AIndex, TLogLevel ALogLevel, const std::string& AMsg) {
        std::string Text = AMsg;
        while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
        if (ALogLevel == llInfo && AIndex >= 0 && IsLeftOutNote(Text)) {
            std::lock_guard<std::mutex> Guard(FLock);
            if (AIndex < static_cast<int>(FJobs.size())) {
                std::string& Notes = FJobs[static_cast<size_t>(AIndex)].LeftOut;
                Notes += (Notes.empty() ? "" : "; ") + Text;
            }
        }
        // The line of the exception that ended a job repeats its failure
        // message, which is printed with the job's end.
        if (ALogLevel == llQuiet || ALogLevel > FOptions.LogLevel) return;
        if (Text.empty()) return;
        std::lock_guard<std::mutex> Guard(FLock);
        FLines.emplace_back(stderr, AIndex >= 0 ? StrFormat("[%d] %s", AIndex + 1, Text.c_str()) : Text);
        FWake.notify_all();
    };
    FConverter.Post = [this](std::function<void()> AWork, int ADelayMs) {
        std::lock_guard<std::mutex> Guard(FLock);
        FPosted.push_back({TClock::now() + std::chrono::milliseconds(std::max(ADelayMs, 0)), std::move(AWork)});
        FWake.notify_all();
    };
}

std::string TBatch::JobName(int Index) const {
    return ExtractFileName(FJobs[static_cast<size_t>(Index)].Output);
}

TJobProgress TBatch::Progress(int Index) const {
    const TJob& J = FJobs[static_cast<size_t>(Index)];
    TJobProgress P;
    P.Number = Index + 1;
    P.Count = static_cast<int>(FJobs.size());
    P.CurrentMs = J.CurrentMs;
    P.TotalMs = J.TotalMs;
    P.Size = J.Size;
    P.Speed = J.Meter.Speed(J.Finished);
    P.TimeLeftMs = J.Meter.TimeLeftMs(J.TotalMs - J.CurrentMs);
    P.Name = TerminalText(JobName(Index));
    P.Finished = J.Finished;
    return P;
}

// Prints what happened since the last call; called with FLock held.
void TBatch::Report(bool Final) {
    // Progress lines go first, so that no stale one is drawn again below
    // the lines printed now.
    bool News = !FLines.empty();
    for (const TJob& J : FJobs) News = News || (J.Ended && !J.Reported);
    if (News) FConsole.SetProgress({});
    while (!FLines.empty()) {
        FConsole.Print(FLines.front().first, FLines.front().second);
        FLines.pop_front();
    }
    int Count = static_cast<int>(FJobs.size());
    std::vector<std::string> Live;
    for (int I = 0; I < Count; ++I) {
        TJob& J = FJobs[static_cast<size_t>(I)];
        if (J.Ended && !J.Reported) {
            J.Reported = true;
            // A finished file's last progress line stays, at 100 % and
            // with the speed of the whole file.
            if (J.Finished && !FOptions.Quiet)
                FConsole.Print(stdout, ProgressLine(Progress(I), FConsole.Live() ? TConsole::Width() : 0));
            if (J.Refused != baAdded)
                FConsole.Print(stderr, RefusalLine(J.Refused, J.Input, J.Output, J.Message));
            else if (J.Failed)
                FConsole.Print(stderr, StrFormat("[%d/%d] failed: %s: %s", I + 1, Count, TerminalText(J.Input).c_str(),
                                                 OneLine(J.Message).c_str()));
            else if (J.Finished)
                FConsole.Print(stdout, StrFormat("[%d/%d] done: %s%s", I + 1, Count, TerminalText(J.Output).c_str(),
                                                 J.LeftOut.empty() ? "" : (" (" + J.LeftOut + ")").c_str()));
            else if (J.Written)
                FConsole.Print(stdout, StrFormat("[%d/%d] stopped: %s", I + 1, Count, TerminalText(J.Output).c_str()));
            else
                FConsole.Print(stdout, StrFormat("[%d/%d] stopped before anything was written: %s", I + 1, Count,
                                                 TerminalText(J.Input).c_str()));
            continue;
        }
        if (!J.Started || J.Ended || FOptions.Quiet) continue;
        TJobProgress P = Progress(I);
        if (FConsole.Live()) {
            Live.push_back(ProgressLine(P, TConsole::Width()));
        } else {
            int Percent = ProgressPercent(J.CurrentMs, J.TotalMs);
            // 100 % is printed once the file is complete.
            int Decile = Percent < 0 ? 0 : std::min(Percent / 10, 9);
            if (Decile > J.PlainDecile) {
                J.PlainDecile = Decile;
                FConsole.Print(stdout, ProgressLine(P));
            }
        }
    }
    FConsole.SetProgress(Final ? std::vector<std::string>() : Live);
}

void TBatch::Loop() {
    bool Stopping = false;
    std::unique_lock<std::mutex> Guard(FLock);
    for (;;) {
        // Posted work runs on this thread, without the lock.
        auto Now = TClock::now();
        std::vector<std::function<void()>> Due;
        for (auto It = FPosted.begin(); It != FPosted.end();) {
            if (It->Due <= Now) {
                Due.push_back(std::move(It->Work));
                It = FPosted.erase(It);
            } else
                ++It;
        }
        if (!Due.empty()) {
            Guard.unlock();
            for (auto& Work : Due) Work();
            Guard.lock();
            continue;
        }
        if (Interrupted && !Stopping) {
            Stopping = true;
            FConsole.Print(stderr, "tarnconv: stopping; the files written so far are being completed");
            Guard.unlock();
            FConverter.Stop();
            Guard.lock();
            continue;
        }
        Report(false);
        if (FBatchEnded) break;
        auto Wake = Now + std::chrono::milliseconds(200);
        for (const TPosted& P : FPosted) Wake = std::min(Wake, P.Due);
        FWake.wait_until(Guard, Wake);
    }
    Report(true);
}

int TBatch::Run() {
    if (FOptions.Help) {
        std::printf("%s", UsageText("tarnconv").c_str());
        return 0;
    }
    TGlobalObject Global;
    if (FOptions.Version) {
        Say(stdout, VersionText(Global.AppTitle(), Global.AppVersion()));
        return 0;
    }
    Global.LocateFiles(ExecutableFolder());
    if (!FOptions.SettingsFile.empty()) Global.SetSettingsIni(FOptions.SettingsFile);
    if (!FOptions.ProfilesFile.empty()) Global.SetFormatIni(FOptions.ProfilesFile);
    TProfileFiles Files{Global.SettingsIni(), Global.FormatIni()};
    IniFile Formats(Files.FormatIni);
    if (!FOptions.ProfilesFile.empty() && !FileExists(Files.FormatIni)) {
        Say(stderr, "tarnconv: no profile file " + Files.FormatIni);
        return 2;
    }
    if (FOptions.ListProfiles) return ListProfiles(Formats);

    // Message boxes of the core become lines on stderr.
    SetMessageFunction([this](const std::string& Caption, const std::string& Text, TMessageKind) {
        FConsole.Print(stderr, Caption + ": " + Text);
    });

    if (!LoadLibraries()) return 1;
    if (!FOptions.InfoFile.empty()) return ShowInfo();

    TAppSettings Settings(Files.SettingsIni);
    int Profile = FOptions.Profile >= 0 ? FOptions.Profile : Settings.OutputFormat();
    if (Profile < 0 || Profile >= ProfileCount) {
        Say(stderr, StrFormat("tarnconv: the stored output profile %d is not in the catalogue; choose one with -p",
                              Profile));
        return 2;
    }
    try {
        const TProfileSettings Checked = ProfileSettings(Files.SettingsIni, Profile);
        if (!Checked.Warning.empty()) Say(stderr, "tarnconv: " + Checked.Warning);
        if (FOptions.FitSizeMB > 0) {
            if (Trim(Checked.Settings.ReadString(ProfileSection(Profile), "paraVideoEncoder", "")).empty()) {
                Say(stderr, StrFormat("tarnconv: --fit-size is for profiles with a picture; profile %d makes sound only",
                                      Profile));
                return 2;
            }
            Files.FitSizeMB = FOptions.FitSizeMB;
        }
    } catch (const EProfileError& E) {
        Say(stderr, std::string("tarnconv: ") + E.what());
        return 1;
    }
    if ((FOptions.CropTop > 0 || FOptions.CropBottom > 0 || FOptions.CropLeft > 0 || FOptions.CropRight > 0) &&
        ProfileCopiesStreams(Files, Profile)) {
        Say(stderr, "tarnconv: --crop: " + CopyCropReason(Profile));
        return 1;
    }
    if (FOptions.FitSizeMB > 0 && ProfileCopiesStreams(Files, Profile)) {
        Say(stderr, StrFormat("tarnconv: --fit-size needs the picture re-encoded; profile %d copies it as it is",
                              Profile));
        return 2;
    }
    std::string Folder;
    if (!FOptions.OutputDir.empty()) {
        Folder = FOptions.OutputDir;
        if (std::string Reason; !ForceFolders(Folder, &Reason)) {
            Say(stderr, "tarnconv: cannot create output directory " + TerminalText(Folder) + ": " + Reason);
            return 1;
        }
    } else {
        // The stored folder is the user's choice: no other folder is put in
        // its place (a disk that is not plugged in), and the setting stays.
        Folder = Settings.OutputDir();
        if (Trim(Folder).empty()) Folder = DefaultOutputFolder();
        if (std::string Reason; !ForceFolders(Folder, &Reason)) {
            Say(stderr, "tarnconv: cannot create the stored output directory " + TerminalText(Folder) + ": " + Reason +
                            "; choose another with -o");
            return 1;
        }
    }
    if (Folder.back() != '/') Folder += '/';
    if (std::string Reason = FolderRefusal(Folder); !Reason.empty()) {
        Say(stderr, "tarnconv: cannot write to output directory " + TerminalText(Folder) + ": " + Reason);
        return 1;
    }

    FConverter.SetLogLevel(static_cast<TLogLevel>(FOptions.LogLevel));
    FConverter.SetThreadPriority(PriorityFromSetting(Settings.Priority(), FConverter.ThreadPriority()));
    // Unset: the codecs choose, sharing the cores among the jobs of -j.
    FConverter.SetThreadCount(std::max(FOptions.Threads, 0));
    ConnectEvents();
    InstallInterruptHandler();

    FConverter.ClearJobs();
    std::string Ext = "." + ProfileFileExt(Formats, Profile);
    TBatchBuilder Builder(FConverter, Files, Profile, Folder, Ext);
    FBuilder = &Builder;
    if (!FOptions.Quiet) Say(stdout, StrFormat("Profile %d: %s", Profile, ProfileNames[Profile]));
    for (const std::string& Path : FOptions.Files) {
        if (Interrupted) {
            ++FNotQueued;
            continue;
        }
        try {
            switch (AddFile(Builder, Path)) {
                case baAdded: break;
                case baNotSuitable: ++FUnsuitable; break;
                default: ++FOpenFailures;
            }
        } catch (const std::exception& E) {
            // A profile value that is not a number stops the whole batch.
            Say(stderr, "tarnconv: " + ExceptionText(E.what()));
            FConverter.ClearJobs();
            return 1;
        }
    }
    {
        // Lines the libraries logged while the files were opened.
        std::lock_guard<std::mutex> Guard(FLock);
        Report(true);
    }
    for (size_t I = 0; I < FJobs.size(); ++I)
        Say(stdout, StrFormat("[%zu/%zu] %s -> %s", I + 1, FJobs.size(), TerminalText(FJobs[I].Input).c_str(),
                              TerminalText(FJobs[I].Output).c_str()));

    const bool Started = !FJobs.empty() && !Interrupted;
    if (Started) {
        {
            // The first jobs start at once; their clocks start here.
            std::lock_guard<std::mutex> Guard(FLock);
            auto Now = TClock::now();
            FNextStart = std::min(FJobs.size(), static_cast<size_t>(std::max(FOptions.Jobs, 1)));
            for (size_t I = 0; I < FNextStart; ++I) FJobs[I].Meter.Sample(Now, 0);
        }
        FConverter.Start(FOptions.Jobs);
        Loop();
    }

    int Finished = 0, Failed = 0, Stopped = 0;
    // Jobs queued when the run was stopped before any started are files
    // never converted, like those never looked at.
    if (!Started) FNotQueued += static_cast<int>(FJobs.size());
    for (const TJob& J : FJobs) {
        if (!Started) break;
        if (J.Finished)
            ++Finished;
        else if (J.Refused == baNotSuitable)
            ++FUnsuitable;
        else if (J.Refused != baAdded)
            ++FOpenFailures;
        else if (J.Failed)
            ++Failed;
        else if (J.Written)
            ++Stopped;
        else
            ++FNotQueued;  // stopped before it wrote anything: no file
    }
    std::string Summary =
        StrFormat("%d of %zu converted", Finished, FOptions.Files.size());
    if (Failed) Summary += StrFormat(", %d failed", Failed);
    if (FOpenFailures) Summary += StrFormat(", %d not opened", FOpenFailures);
    if (FUnsuitable) Summary += StrFormat(", %d not suited to the profile", FUnsuitable);
    if (Stopped) Summary += StrFormat(", %d stopped", Stopped);
    if (FNotQueued) Summary += StrFormat(", %d not converted", FNotQueued);
    Say(stdout, Summary + (Finished ? " into " + TerminalText(Folder) : std::string()));
    FConverter.ClearJobs();
    SetMessageFunction({});
    if (Interrupted) return 130;
    return Failed || FOpenFailures || FUnsuitable || Stopped || FNotQueued ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    TConvOptions Options;
    try {
        Options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& E) {
        std::fprintf(stderr, "tarnconv: %s\nTry 'tarnconv --help'.\n", TerminalText(E.what()).c_str());
        return 2;
    }
    TBatch Batch(Options);
    return Batch.Run();
}
