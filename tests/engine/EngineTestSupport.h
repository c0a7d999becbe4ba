// Shared helpers of the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/LibAV.h"
#include "engine/EngineState.h"
#include "tests/TestMedia.h"

// Loads the codec libraries once per process.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }
};

// Collects an engine's log lines and its termination.
struct EngineEvents {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::pair<int, std::string>> Lines;
    int Terminations = 0;
    std::thread::id TerminateThread;

    void Attach(TCustomFFmpeg& Engine) {
        Engine.OnLog = [this](TCustomFFmpeg*, int Level, const std::string& Msg) {
            std::lock_guard<std::mutex> Guard(Lock);
            Lines.emplace_back(Level, Msg);
        };
        // Notified under the lock: the waiter may destroy this right after.
        Engine.OnTerminate = [this](TCustomFFmpeg*) {
            std::lock_guard<std::mutex> Guard(Lock);
            ++Terminations;
            TerminateThread = std::this_thread::get_id();
            Changed.notify_all();
        };
    }

    bool WaitForTermination(int Count = 1, int Seconds = 60) {
        std::unique_lock<std::mutex> Guard(Lock);
        return Changed.wait_for(Guard, std::chrono::seconds(Seconds), [&] { return Terminations >= Count; });
    }

    bool Logged(int Level, const std::string& Text) {
        std::lock_guard<std::mutex> Guard(Lock);
        for (auto& [L, M] : Lines)
            if (L == Level && M == Text) return true;
        return false;
    }
};
