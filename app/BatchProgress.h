// Speed and time left of a running batch for the progress dialog, on a
// clock that stands still while the batch is paused.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/ConsoleProgress.h"

class TBatchProgress {
public:
    using TClock = std::chrono::steady_clock;

    // A new batch: each job's media length as far as it is known before the
    // job starts (0 unknown).
    void Start(std::vector<int64_t> TotalsMs, TClock::time_point At);
    void Pause(TClock::time_point At);
    void Resume(TClock::time_point At);
    // A job's progress report, and the end of a job that completed.
    void Report(int Job, int64_t CurrentMs, int64_t TotalMs, TClock::time_point At);
    void Finished(int Job, TClock::time_point At);

    // Media per wall-clock time of the job; 0 while unknown.
    double Speed(int Job) const;
    // Wall-clock milliseconds left for the job and for the whole batch; -1
    // while unknown. Jobs of unknown length count nothing for the batch.
    int64_t JobLeftMs(int Job) const;
    int64_t BatchLeftMs() const;
    bool Paused() const { return FPaused; }
    // What the progress bar says after its percentage: "Paused" while the
    // batch stands, else the pace of the job that reported last.
    std::string PaceText() const;

private:
    struct TJob {
        int64_t DoneMs = 0, TotalMs = 0;
        TSpeedMeter Meter;
    };
    TClock::time_point Active(TClock::time_point At) const;
    void SampleBatch(TClock::time_point At);
    bool Valid(int Job) const { return Job >= 0 && Job < static_cast<int>(FJobs.size()); }

    std::vector<TJob> FJobs;
    TSpeedMeter FBatch;
    TClock::duration FPausedFor{};
    TClock::time_point FPausedAt{};
    bool FPaused = false;
    int FLastJob = -1;
};

// "3.2x, 00:00:42 left, batch 00:02:10"; what is unknown is left out.
std::string BatchProgressText(double Speed, int64_t JobLeftMs, int64_t BatchLeftMs);
