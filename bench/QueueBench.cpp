// Queueing a big batch: for 1,000 and 10,000 files (hard links of one tiny
// WAV), each in a child process of its own, the time the batch builder takes
// to queue them all, the peak resident memory before and after, the most
// files open at once while queueing and running, and how long after Start
// the first conversion begins. The run is stopped after the first file.
// Usage:
//   queue_bench [WORK_FOLDER]
#include <dirent.h>
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

int OpenFiles() {
    int Count = -1;  // the folder's own handle
    if (DIR* Dir = opendir("/proc/self/fd")) {
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
    std::atomic<int> PeakOpen{0};
    auto Sample = [&] { PeakOpen = std::max(PeakOpen.load(), OpenFiles()); };
    Converter.OnProgress = [&](int, int, int, int, float, float, int64_t, int) {
        std::lock_guard<std::mutex> Guard(Lock);
        if (FirstStarted == Clock::time_point{}) FirstStarted = Clock::now();
    };
    Converter.OnTerminate = [&](int AIndex, bool, bool, const std::string&) {
        Sample();
        std::lock_guard<std::mutex> Guard(Lock);
        if (AIndex == 0 && FirstStarted == Clock::time_point{}) FirstStarted = Clock::now();
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
    const auto StartAt = Clock::now();
    Converter.Start(1);
    {
        std::unique_lock<std::mutex> Guard(Lock);
        Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return FirstStarted != Clock::time_point{}; });
    }
    Converter.Stop();
    {
        std::unique_lock<std::mutex> Guard(Lock);
        Changed.wait_for(Guard, std::chrono::minutes(10), [&] { return Ended; });
    }
    const double FirstSeconds = std::chrono::duration<double>(FirstStarted - StartAt).count();
    std::printf("%6d files: queued %d in %.2f s (%.2f ms a file); first conversion %.2f s after Start, "
                "%.2f s after the batch began\n",
                Files, Queued, QueueSeconds, 1000.0 * QueueSeconds / Files, FirstSeconds, QueueSeconds + FirstSeconds);
    std::printf("              resident memory %.1f MB before queueing, peak %.1f MB after (%.1f KB a file); "
                "peak open files %d\n",
                RssBefore / 1024.0, PeakAfterQueue / 1024.0,
                static_cast<double>(PeakAfterQueue - RssBefore) / Files, PeakOpen.load());
    std::fflush(stdout);
    fs::remove_all(Sources);
    fs::remove_all(Out);
    return 0;
}

}  // namespace

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
    return Result;
}
