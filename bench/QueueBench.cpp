// Queueing a big batch: for 1,000 and 10,000 files (hard links of one tiny
// WAV), each in a child process of its own, the time the batch builder takes
// to queue them all, the peak resident memory before and after, the most
// files open at once while queueing and running, and how long after Start
// the first conversion begins. The run is stopped after the first file.
// Then tarnconv itself with 10,000 files, stopped with Ctrl-C after its
// first file: the wait for that file, its peak memory and open files.
// Usage:
//   queue_bench [WORK_FOLDER]
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "app/Batch.h"
#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "component/VxAVConverter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void WriteTinyWav(const fs::path& Path) {
    const uint32_t Rate = 8000, Samples = 800;
    std::string Data;
    for (uint32_t I = 0; I < Samples; ++I) {
        int16_t V = static_cast<int16_t>((I % 16 < 8) ? 8000 : -8000);
        Data.append(reinterpret_cast<const char*>(&V), 2);
    }
    auto U32 = [](uint32_t V) { return std::string(reinterpret_cast<const char*>(&V), 4); };
    auto U16 = [](uint16_t V) { return std::string(reinterpret_cast<const char*>(&V), 2); };
    std::ofstream Out(Path, std::ios::binary);
    Out << "RIFF" << U32(36 + static_cast<uint32_t>(Data.size())) << "WAVE" << "fmt " << U32(16) << U16(1) << U16(1)
        << U32(Rate) << U32(Rate * 2) << U16(2) << U16(16) << "data" << U32(static_cast<uint32_t>(Data.size()))
        << Data;
}

long StatusKb(const char* Key) {
    std::ifstream In("/proc/self/status");
    std::string Line;
    while (std::getline(In, Line))
        if (Line.rfind(Key, 0) == 0) return std::strtol(Line.c_str() + std::strlen(Key), nullptr, 10);
    return -1;
}

int OpenFiles(const std::string& Process = "self") {
    int Count = Process == "self" ? -1 : 0;  // the folder's own handle
    if (DIR* Dir = opendir(("/proc/" + Process + "/fd").c_str())) {
        while (dirent* Entry = readdir(Dir))
            if (Entry->d_name[0] != '.') ++Count;
        closedir(Dir);
    }
    return Count;
}

int Measure(const fs::path& Work, int Files) {
    if (!LoadLibraries("", true)) return 1;
    const fs::path Sources = Work / ("sources" + std::to_string(Files)), Out = Work / ("out" + std::to_string(Files));
    fs::remove_all(Sources);
    fs::remove_all(Out);
    fs::create_directories(Sources);
    fs::create_directories(Out);
    WriteTinyWav(Sources / "t0.wav");
    std::vector<std::string> Paths = {(Sources / "t0.wav").string()};
    for (int I = 1; I < Files; ++I) {
        fs::path Link = Sources / ("t" + std::to_string(I) + ".wav");
        fs::create_hard_link(Sources / "t0.wav", Link);
        Paths.push_back(Link.string());
    }
    const std::string Settings = (Work / "settings.ini").string(), Formats = (Work / "formats.ini").string();
    fs::copy_file(fs::path(APP_BIN_DIR) / "tarnmp4videoconverter.ini", Settings, fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(APP_BIN_DIR) / "tarnmp4format.ini", Formats, fs::copy_options::overwrite_existing);

    TVxAVConverter Converter;
    Converter.SetLogLevel(llQuiet);
    std::mutex Lock;
    std::condition_variable Changed;
    bool Ended = false;
    Clock::time_point FirstStarted{};
    bool FirstEnded = false;
    std::string FirstResult;
    std::atomic<int> PeakOpen{0}, PeakEngines{0};
    auto Sample = [&] {
        PeakOpen = std::max(PeakOpen.load(), OpenFiles());
        PeakEngines = std::max(PeakEngines.load(), Converter.EngineCount());
    };
    Converter.OnProgress = [&](int, int, int, int, float, float, int64_t, int) {
        Sample();
        std::lock_guard<std::mutex> Guard(Lock);
        if (FirstStarted == Clock::time_point{}) FirstStarted = Clock::now();
    };
    Converter.OnTerminate = [&](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        Sample();
        std::lock_guard<std::mutex> Guard(Lock);
        if (AIndex == 0) {
            FirstEnded = true;
            FirstResult = AException ? "failed: " + AMessage : AFinished ? "converted" : "stopped";
        }
        Ended |= AIndex < 0;
        Changed.notify_all();
    };

    const long RssBefore = StatusKb("VmRSS:");
    const auto QueueStart = Clock::now();
    TBatchBuilder Builder(Converter, TProfileFiles{Settings, Formats}, 34, Out.string() + "/", ".mp3");
    int Queued = 0;
    for (int I = 0; I < Files; ++I) {
        Queued += Builder.Add(I, Paths[static_cast<size_t>(I)], TlvFilesRecord()) == baAdded;
        if (I % 50 == 0) Sample();
    }
    const double QueueSeconds = std::chrono::duration<double>(Clock::now() - QueueStart).count();
    const long PeakAfterQueue = StatusKb("VmHWM:");
    const int EnginesQueued = Converter.EngineCount();
    const auto StartAt = Clock::now();
    Converter.Start(1);
    {
        // The first file is whole; then the others are stopped unstarted.
        std::unique_lock<std::mutex> Guard(Lock);
        Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return FirstEnded; });
    }
    const auto StopAt = Clock::now();
    Converter.Stop();
    {
        std::unique_lock<std::mutex> Guard(Lock);
        Changed.wait_for(Guard, std::chrono::minutes(10), [&] { return Ended; });
    }
    const double StopSeconds = std::chrono::duration<double>(Clock::now() - StopAt).count();
    const double FirstSeconds = std::chrono::duration<double>(FirstStarted - StartAt).count();
    std::printf("%6d files: queued %d in %.3f s (%.1f us a file); first conversion %.3f s after Start, "
                "%.3f s after the batch began; first file %s\n",
                Files, Queued, QueueSeconds, 1e6 * QueueSeconds / Files, FirstSeconds, QueueSeconds + FirstSeconds,
                FirstResult.c_str());
    std::printf("              resident memory %.1f MB before queueing, peak %.1f MB queued (%.2f KB a file), "
                "%.1f MB at the end; engines %d queued, at most %d running; peak open files %d; "
                "the other %d stopped in %.2f s\n",
                RssBefore / 1024.0, PeakAfterQueue / 1024.0,
                static_cast<double>(PeakAfterQueue - RssBefore) / Files, StatusKb("VmHWM:") / 1024.0, EnginesQueued,
                PeakEngines.load(), PeakOpen.load(), Files - 1, StopSeconds);
    std::fflush(stdout);
    fs::remove_all(Sources);
    fs::remove_all(Out);
    return 0;
}

}  // namespace

// tarnconv with Files files, interrupted once its first file is done.
int MeasureTarnconv(const fs::path& Work, int Files) {
    const fs::path Sources = Work / "tarnconv_sources", Out = Work / "tarnconv_out";
    fs::remove_all(Sources);
    fs::remove_all(Out);
    fs::create_directories(Sources);
    WriteTinyWav(Sources / "t0.wav");
    const std::string Settings = (Work / "tarnconv.ini").string();
    fs::copy_file(fs::path(APP_BIN_DIR) / "tarnmp4videoconverter.ini", Settings, fs::copy_options::overwrite_existing);
    std::vector<std::string> Args = {fs::path(APP_BIN_DIR) / "tarnconv", "--settings", Settings, "-p", "34", "-o",
                                     Out.string(), "--log-level", "error"};
    for (int I = 0; I < Files; ++I) {
        fs::path Link = Sources / ("t" + std::to_string(I) + ".wav");
        if (I > 0) fs::create_hard_link(Sources / "t0.wav", Link);
        Args.push_back(Link.string());
    }
    std::vector<char*> Argv;
    for (std::string& A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    int Pipe[2];
    if (pipe(Pipe) != 0) return 1;
    const auto Began = Clock::now();
    pid_t Child = fork();
    if (Child == 0) {
        dup2(Pipe[1], 1);
        close(Pipe[0]);
        close(Pipe[1]);
        execv(Argv[0], Argv.data());
        _exit(127);
    }
    close(Pipe[1]);
    const std::string Pid = std::to_string(Child);
    FILE* Lines = fdopen(Pipe[0], "r");
    char Line[8192];
    double FirstDone = -1;
    int PeakOpen = 0;
    std::string Summary;
    while (std::fgets(Line, sizeof Line, Lines)) {
        PeakOpen = std::max(PeakOpen, OpenFiles(Pid));
        if (FirstDone < 0 && std::strstr(Line, "] done: ")) {
            FirstDone = std::chrono::duration<double>(Clock::now() - Began).count();
            kill(Child, SIGINT);
        }
        if (std::strstr(Line, " converted")) Summary = Line;
    }
    std::fclose(Lines);
    int Status = 0;
    rusage Usage{};
    wait4(Child, &Status, 0, &Usage);
    const double Total = std::chrono::duration<double>(Clock::now() - Began).count();
    if (!Summary.empty() && Summary.back() == '\n') Summary.pop_back();
    std::printf("tarnconv, %d files: first file done %.2f s after the program started; peak resident memory "
                "%.1f MB; peak open files %d; stopped with Ctrl-C, ended after %.2f s with \"%s\"\n",
                Files, FirstDone, Usage.ru_maxrss / 1024.0, PeakOpen, Total, Summary.c_str());
    std::fflush(stdout);
    fs::remove_all(Sources);
    fs::remove_all(Out);
    return WIFEXITED(Status) && WEXITSTATUS(Status) == 130 && FirstDone >= 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    const fs::path Work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "queue_bench";
    fs::create_directories(Work);
    std::printf("queue_bench: profile 34 (MP3), one tiny WAV linked N times, in %s\n", Work.c_str());
    std::fflush(stdout);
    int Result = 0;
    for (int Files : {1000, 10000}) {
        pid_t Child = fork();
        if (Child == 0) _exit(Measure(Work, Files));
        int Status = 0;
        waitpid(Child, &Status, 0);
        if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) Result = 1;
    }
    if (MeasureTarnconv(Work, 10000) != 0) Result = 1;
    return Result;
}
