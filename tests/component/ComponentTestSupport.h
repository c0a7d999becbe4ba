// Shared helpers of the component tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/LibAV.h"
#include "component/VxAVConverter.h"
#include "tests/TestMedia.h"

using Clock = std::chrono::steady_clock;

// The size of the hidden file that a running job writes for the output
// named AFinalName, or -1 when there is none.
inline int64_t WrittenSoFar(const std::string& AFinalName) {
    namespace fs = std::filesystem;
    const fs::path Final(AFinalName);
    const std::string Prefix = "." + Final.filename().string() + ".";
    for (const auto& Entry : fs::directory_iterator(Final.parent_path())) {
        const std::string Name = Entry.path().filename().string();
        if (Name.rfind(Prefix, 0) == 0 && Name.size() > 5 && Name.substr(Name.size() - 5) == ".part")
            return static_cast<int64_t>(fs::file_size(Entry.path()));
    }
    return -1;
}

// Loads the codec libraries and installs the log handler once per process.
class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVxAVConverter Loader;
        ASSERT_TRUE(Loader.LoadAVLib("", 1)) << Loader.LastError;
    }
};

// Everything a component reports, with the thread and time of each event.
struct ConverterEvents {
    struct Termination {
        int Index;
        bool Finished, Exception;
        std::string Message;
        pid_t Thread;
        Clock::time_point Time;
    };
    struct Line {
        int Index;
        TLogLevel Level;
        std::string Text;
        pid_t Thread;
    };

    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<Termination> Terminations;
    std::vector<Line> Lines;
    std::vector<int> ProgressIndexes;
    // Runs inside OnTerminate, before the event is recorded.
    std::function<void(int)> OnTerminateHook;

    void Attach(TVxAVConverter& C) {
        C.OnTerminate = [this](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
            if (OnTerminateHook) OnTerminateHook(AIndex);
            std::lock_guard<std::mutex> Guard(Lock);
            Terminations.push_back({AIndex, AFinished, AException, AMessage, gettid(), Clock::now()});
            Changed.notify_all();
        };
        C.OnLog = [this](int AIndex, TLogLevel ALevel, const std::string& AMsg) {
            std::lock_guard<std::mutex> Guard(Lock);
            Lines.push_back({AIndex, ALevel, AMsg, gettid()});
        };
        C.OnProgress = [this](int AIndex, int, int, int, float, float, int64_t, int) {
            std::lock_guard<std::mutex> Guard(Lock);
            ProgressIndexes.push_back(AIndex);
        };
    }

    bool WaitForFinal(int Seconds = 120) {
        std::unique_lock<std::mutex> Guard(Lock);
        return Changed.wait_for(Guard, std::chrono::seconds(Seconds), [&] { return HasFinal(); });
    }

    bool HasFinal() {
        for (auto& T : Terminations)
            if (T.Index == -1) return true;
        return false;
    }

    std::vector<int> Order() {
        std::lock_guard<std::mutex> Guard(Lock);
        std::vector<int> Indexes;
        for (auto& T : Terminations) Indexes.push_back(T.Index);
        return Indexes;
    }

    std::vector<Line> LinesContaining(const std::string& Part) {
        std::lock_guard<std::mutex> Guard(Lock);
        std::vector<Line> Found;
        for (auto& L : Lines)
            if (L.Text.find(Part) != std::string::npos) Found.push_back(L);
        return Found;
    }
};

// A small event loop of the test's own thread: what an owner provides
// through the Post hook.
class TestLoop {
public:
    void Attach(TVxAVConverter& C) {
        C.Post = [this](std::function<void()> AWork, int ADelayMs) {
            std::lock_guard<std::mutex> Guard(FLock);
            FQueue.push_back({Clock::now() + std::chrono::milliseconds(ADelayMs), std::move(AWork)});
            Delays.push_back(ADelayMs);
        };
    }

    // Runs due work on the calling thread until Done() or the time is up.
    bool RunUntil(const std::function<bool()>& Done, int Seconds = 60) {
        auto End = Clock::now() + std::chrono::seconds(Seconds);
        while (!Done()) {
            if (Clock::now() > End) return false;
            std::function<void()> Work;
            {
                std::lock_guard<std::mutex> Guard(FLock);
                auto Due = std::find_if(FQueue.begin(), FQueue.end(),
                                        [](const Entry& E) { return E.Due <= Clock::now(); });
                if (Due != FQueue.end()) {
                    Work = std::move(Due->Work);
                    FQueue.erase(Due);
                }
            }
            if (Work)
                Work();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::vector<int> Delays;

private:
    struct Entry {
        Clock::time_point Due;
        std::function<void()> Work;
    };
    std::mutex FLock;
    std::vector<Entry> FQueue;
};

// A job converting Input into Output with the output format's defaults.
inline int AddConversion(TVxAVConverter& C, const std::string& Input, const std::string& Output,
                         TOutputOptions* Options = nullptr) {
    int Index = C.AddInputFile(Input, nullptr);
    if (Index < 0) return Index;
    TOutputOptions Defaults;
    if (!C.SetOutputFile(Index, Output, Options ? Options : &Defaults)) return -1;
    return Index;
}
