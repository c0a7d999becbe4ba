#include "engine/EngineThreads.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "engine/FFmpeg.h"

namespace {

// Nice values for the lower levels, SCHED_IDLE for tpIdle; failures are
// ignored.
void SetCurrentThreadPriority(TThreadPriority APriority) {
    pid_t Self = gettid();
    if (APriority == tpIdle) {
        sched_param Param{};
        sched_setscheduler(Self, SCHED_IDLE, &Param);
        return;
    }
    static const int Nice[] = {19, 10, 5, 0};
    setpriority(PRIO_PROCESS, static_cast<id_t>(Self), Nice[APriority]);
}

}  // namespace

void TLiveThreads::Enter(pid_t AThreadID) {
    std::lock_guard<std::mutex> Guard(FLock);
    --FStarting;
    FThreads.insert(AThreadID);
}

void TLiveThreads::Leave(pid_t AThreadID) {
    {
        std::lock_guard<std::mutex> Guard(FLock);
        FThreads.erase(FThreads.find(AThreadID));
    }
    FChanged.notify_all();
}

void TLiveThreads::WaitForOthers() {
    pid_t Self = gettid();
    std::unique_lock<std::mutex> Guard(FLock);
    FChanged.wait(Guard, [&] { return FStarting == 0 && FThreads.size() == FThreads.count(Self); });
}

TEngineThread::TEngineThread(TCustomFFmpeg* AEngine, TThreadPriority APriority)
    : FEngine(AEngine), FLive(AEngine->LiveThreads), FPriority(APriority) {}

void TEngineThread::Launch() {
    {
        std::lock_guard<std::mutex> Guard(FLive->FLock);
        ++FLive->FStarting;
    }
    std::unique_lock<std::mutex> Guard(FLock);
    std::thread([this] { Body(); }).detach();
    FChanged.wait(Guard, [this] { return FThreadID != 0; });
}

void TEngineThread::Body() {
    pid_t Self = gettid();
    std::shared_ptr<TLiveThreads> Live = FLive;
    Live->Enter(Self);
    {
        std::lock_guard<std::mutex> Guard(FLock);
        FThreadID = Self;
        FChanged.notify_all();
    }
    SetCurrentThreadPriority(FPriority);
    WaitWhilePaused();
    Execute();
    delete this;
    Live->Leave(Self);
}

// Notifies under the lock: once resumed, the thread may finish and free
// itself as soon as the lock is released.
void TEngineThread::Resume() {
    std::lock_guard<std::mutex> Guard(FLock);
    FSuspended = false;
    FChanged.notify_all();
}

void TEngineThread::Suspend() {
    std::lock_guard<std::mutex> Guard(FLock);
    FSuspended = true;
}

bool TEngineThread::Suspended() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FSuspended;
}

void TEngineThread::WaitWhilePaused() {
    std::unique_lock<std::mutex> Guard(FLock);
    FChanged.wait(Guard, [this] { return !FSuspended; });
}

TFFmpegThread* TFFmpegThread::Create(TCustomFFmpeg* AEngine, TThreadPriority APriority) {
    auto* Thread = new TFFmpegThread(AEngine, APriority);
    Thread->Launch();
    return Thread;
}

void TFFmpegThread::Execute() { FEngine->Run(); }

TDoTerminateThread* TDoTerminateThread::Create(TCustomFFmpeg* AEngine, TThreadPriority APriority) {
    auto* Thread = new TDoTerminateThread(AEngine, APriority);
    Thread->Launch();
    return Thread;
}

void TDoTerminateThread::Execute() { FEngine->NotifyTerminated(); }
