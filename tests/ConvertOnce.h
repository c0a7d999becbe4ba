// Test media made on the fly: one job of the converter component, waited for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "component/VxAVConverter.h"

// Converts Source into Output with Options; empty when it worked, else why not.
inline std::string ConvertOnce(const std::string& Source, TOutputOptions Options, const std::string& Output,
                               std::chrono::seconds Timeout = std::chrono::seconds(180)) {
    TVxAVConverter Converter;
    Converter.SetLogLevel(llQuiet);
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    std::string Failure;
    Converter.OnTerminate = [&](int AIndex, bool, bool AException, const std::string& AMessage) {
        std::lock_guard<std::mutex> Guard(Lock);
        if (AException) Failure = AMessage.empty() ? "the conversion failed" : AMessage;
        if (AIndex < 0) Finished = true;
        Done.notify_all();
    };
    if (Converter.AddInputFile(Source, nullptr) != 0) return Converter.LastError;
    if (!Converter.SetOutputFile(0, Output, &Options)) return Converter.LastError;
    Converter.Start(1);
    std::unique_lock<std::mutex> Guard(Lock);
    if (!Done.wait_for(Guard, Timeout, [&] { return Finished; })) return "the conversion did not end";
    return Failure;
}
