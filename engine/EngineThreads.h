// The engine's threads. Both are created suspended: the thread starts at
// once (so its id is known) and waits on its gate until Resume. The same
// gate pauses a running worker at the engine's safe points, where the
// worker calls WaitWhilePaused; a paused job keeps its files open.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

class TCustomFFmpeg;

// The threads an engine has started and that have not yet returned. The
// threads keep it alive themselves, so that an engine freed from inside
// one of its own events does not take the count with it.
class TLiveThreads {
public:
    void Enter(pid_t AThreadID);
    void Leave(pid_t AThreadID);
    // Waits until no thread but the caller is alive.
    void WaitForOthers();

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::multiset<pid_t> FThreads;
    int FStarting = 0;
    friend class TEngineThread;
};

// The component's TConvertPriority uses the same names.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

class TEngineThread {
public:
    TEngineThread(const TEngineThread&) = delete;
    TEngineThread& operator=(const TEngineThread&) = delete;

    void Resume();
    void Suspend();
    bool Suspended() const;
    pid_t ThreadID() const { return FThreadID; }
    // Called by the thread itself at safe points.
    void WaitWhilePaused();

protected:
    TEngineThread(TCustomFFmpeg* AEngine, TThreadPriority APriority);
    virtual ~TEngineThread() = default;
    // Starts the operating-system thread; returns once its id is known.
    void Launch();
    virtual void Execute() = 0;

    TCustomFFmpeg* FEngine;

private:
    void Body();

    std::shared_ptr<TLiveThreads> FLive;
    TThreadPriority FPriority;
    pid_t FThreadID = 0;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    bool FSuspended = true;
};

// Runs the engine's job; frees itself when the job has ended.
class TFFmpegThread : public TEngineThread {
public:
    static TFFmpegThread* Create(TCustomFFmpeg* AEngine, TThreadPriority APriority);

private:
    using TEngineThread::TEngineThread;
    void Execute() override;
};

// Delivers the termination of a job that never ran; frees itself.
class TDoTerminateThread : public TEngineThread {
public:
    static TDoTerminateThread* Create(TCustomFFmpeg* AEngine, TThreadPriority APriority);

private:
    using TEngineThread::TEngineThread;
    void Execute() override;
};
