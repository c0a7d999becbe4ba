#include "app/BatchProgress.h"

#include <algorithm>
#include <cstdio>

void TBatchProgress::Start(std::vector<int64_t> TotalsMs, TClock::time_point At) {
    FJobs.assign(TotalsMs.size(), TJob{});
    for (size_t I = 0; I < TotalsMs.size(); ++I) FJobs[I].TotalMs = std::max<int64_t>(TotalsMs[I], 0);
    FBatch = TSpeedMeter();
    FPausedFor = TClock::duration::zero();
    FPaused = false;
    FLastJob = -1;
    // The batch's clock starts with the first report, as the jobs' do, so
    // that opening the files does not count as slow converting.
    (void)At;
}

void TBatchProgress::Pause(TClock::time_point At) {
    if (FPaused) return;
    FPaused = true;
    FPausedAt = At;
}

void TBatchProgress::Resume(TClock::time_point At) {
    if (!FPaused) return;
    FPaused = false;
    FPausedFor += At - FPausedAt;
}

TBatchProgress::TClock::time_point TBatchProgress::Active(TClock::time_point At) const {
    TClock::duration Stood = FPausedFor;
    if (FPaused) Stood += At - FPausedAt;
    return At - Stood;
}

void TBatchProgress::Report(int Job, int64_t CurrentMs, int64_t TotalMs, TClock::time_point At) {
    if (!Valid(Job)) return;
    TJob& J = FJobs[static_cast<size_t>(Job)];
    // The converter's own length wins over the estimate from the list.
    if (TotalMs > 0) J.TotalMs = TotalMs;
    // The last report of a file may overshoot its length by a frame.
    J.DoneMs = std::max<int64_t>(J.TotalMs > 0 ? std::min<int64_t>(CurrentMs, J.TotalMs) : CurrentMs, 0);
    FLastJob = Job;
    J.Meter.Sample(Active(At), J.DoneMs);
    SampleBatch(At);
}

void TBatchProgress::Finished(int Job, TClock::time_point At) {
    if (!Valid(Job)) return;
    TJob& J = FJobs[static_cast<size_t>(Job)];
    J.TotalMs = std::max(J.TotalMs, J.DoneMs);
    J.DoneMs = J.TotalMs;
    SampleBatch(At);
}

void TBatchProgress::SampleBatch(TClock::time_point At) {
    int64_t Done = 0;
    for (const TJob& J : FJobs) Done += J.DoneMs;
    FBatch.Sample(Active(At), Done);
}

double TBatchProgress::Speed(int Job) const { return Valid(Job) ? FJobs[static_cast<size_t>(Job)].Meter.Speed() : 0; }

int64_t TBatchProgress::JobLeftMs(int Job) const {
    if (!Valid(Job)) return -1;
    const TJob& J = FJobs[static_cast<size_t>(Job)];
    if (J.TotalMs <= 0) return -1;
    return J.Meter.TimeLeftMs(J.TotalMs - J.DoneMs);
}

int64_t TBatchProgress::BatchLeftMs() const {
    int64_t Left = 0;
    // A job of unknown length (a picture, a clip under a second) counts
    // nothing until it reports its own.
    for (const TJob& J : FJobs) Left += std::max<int64_t>(J.TotalMs - J.DoneMs, 0);
    return FBatch.TimeLeftMs(Left);
}

std::string TBatchProgress::PaceText() const {
    if (FPaused) return "Paused";
    return BatchProgressText(Speed(FLastJob), JobLeftMs(FLastJob), BatchLeftMs());
}

std::string BatchProgressText(double Speed, int64_t JobLeftMs, int64_t BatchLeftMs) {
    std::string Text;
    auto Add = [&Text](const std::string& Part) { Text += (Text.empty() ? "" : ", ") + Part; };
    if (Speed > 0) {
        char Buffer[32];
        std::snprintf(Buffer, sizeof Buffer, Speed < 10 ? "%.1fx" : "%.0fx", Speed);
        Add(Buffer);
    }
    if (JobLeftMs >= 0) Add(FormatClock(JobLeftMs) + " left");
    if (BatchLeftMs >= 0) Add("batch " + FormatClock(BatchLeftMs));
    return Text;
}
