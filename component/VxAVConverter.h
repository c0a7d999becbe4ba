// The converter component: the job list through which the application
// converts files, the runs of those jobs (several at a time on worker
// threads, or one after the other on the owner's thread), the events with
// job indexes, and the library log handler shared by all live components.
//
// Events are raised on the thread that runs the job and under the
// component's lock, so that handlers of one component never run at the
// same time; the component never moves them to the owner's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "component/JobOptions.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };
using TConvertPriority = TThreadPriority;

class TCustomAVConverter;

// One job: an engine with one input and one output.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg() = default;
    // Nothing of the component is called once the job's own part is gone.
    ~TFFmpeg() override {
        OnLog = nullptr;
        OnProgress = nullptr;
        OnBeforeHook = nullptr;
        OnCustomHook = nullptr;
        OnTerminate = nullptr;
        OnPrepare = nullptr;
    }

    std::atomic<int> Index{-1};
    std::atomic<int32_t> ThreadID{0};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    TAVProbe Probe;

private:
    friend class TCustomAVConverter;
    friend class TVxAVConverter;
    friend class TFFmpegList;
    // Where the job is in its run, as the component sees it; guarded by
    // the component's lock.
    enum TRunState { rsIdle, rsRunning, rsStopping, rsDone };
    TRunState RunState = rsIdle;
    bool Counted = false;     // its termination counts in the current run
    // The files and whether records were given, for opening the files again
    // when the job starts: a waiting job holds no file open.
    std::string InputName, OutputName;
    bool InputOptionsGiven = false, OutputOptionsGiven = false;
    int RunV = 0, RunThreads = 1;  // the component's log level and codec threads for it
    bool StopWanted = false;  // Stop reached it; repeated if the start swallowed it
    // Deleted from the list while its termination was still to come: it
    // frees itself when that termination arrives.
    std::atomic<bool> Orphaned{false};
};

// The job list; owns its jobs.
class TFFmpegList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TFFmpeg* Items(int AIndex) const;  // "List index out of bounds (%d)"
    void Add(std::unique_ptr<TFFmpeg> AJob);
    // Removes job AIndex from the list, renumbers the later ones and hands
    // the job to the caller.
    std::unique_ptr<TFFmpeg> Extract(int AIndex);
    std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();
    TFFmpeg* FindByThread(int32_t AThreadID) const;

private:
    std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

// Partial library log lines, one per thread.
class TLogList {
public:
    struct TLogItem {
        int32_t ThreadID = 0;
        std::string Text;
        std::string LastLine;  // the latest whole line, for dropping repeats
    };
    TLogItem& Find(int32_t AThreadID);
    void Clear();
    int ItemCount() const { return 1 + static_cast<int>(FMore.size()); }

private:
    TLogItem FFirst;
    std::deque<TLogItem> FMore;  // deque: references stay valid on insertion
};

// The lock of one component and the library lines that waited for it.
struct TConverterCore {
    struct TLine {
        int32_t ThreadID;
        int Level;
        std::string Text;
    };
    std::recursive_mutex Lock;
    int Depth = 0;       // guarded by Lock
    bool Alive = true;   // guarded by Lock; false once the owner is going
    TCustomAVConverter* Owner = nullptr;
    std::mutex QueueLock;
    std::deque<TLine> Queue;
};

// The process-wide list of live components and the partial lines. Both
// locks are held briefly and no other lock is taken under them; in
// particular the handler never holds Lock while it takes a component's lock.
struct TConverterList {
    std::mutex Lock;
    std::vector<std::shared_ptr<TConverterCore>> Items;
    std::mutex LogLock;
    TLogList LogList;
};
TConverterList& ConverterList();

// The library log handler: assembles lines per thread and hands them to
// every live component. Installed by LoadAVLib.
void LibraryLogHandler(void* AContext, int ALevel, const char* AFormat, va_list AArgs);
// The engine-scale level (-1 quiet … 3 everything) of a library level.
int EngineLogLevel(int ALibraryLevel);

class TCustomAVConverter {
public:
    using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
    using TCustomHookEvent = std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                                                bool& AUpdate, bool& AStopHook)>;
    using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
    using TProgressEvent =
        std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                           float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
    using TTerminateEvent =
        std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;
    // Runs a function on the owner's thread after a delay; the owner's
    // event loop provides it.
    using TPostHook = std::function<void(std::function<void()> AWork, int ADelayMs)>;

    TCustomAVConverter();
    virtual ~TCustomAVConverter();
    TCustomAVConverter(const TCustomAVConverter&) = delete;
    TCustomAVConverter& operator=(const TCustomAVConverter&) = delete;

    int JobCount();
    TAVProbe& GetJobProbe(int AIndex);
    // Once the job has ended, FileName is the name its output was given
    // (the next free one of its "_(new_N)" series when the asked one was
    // taken meanwhile).
    void GetOutputOptions(int AIndex, TOutputOptions& AOptions);
    // The job itself, for reading its engine state.
    TFFmpeg& Job(int AIndex);

    TAVProbe Probe;  // for the application's own use
    std::string LastError;

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    // Set by the owner before Start(0); see StartNext for what happens
    // without it.
    TPostHook Post;

    TLogLevel LogLevel() const { return FLogLevel; }
    int ProgressInterval() const { return FProgressInterval; }
    TConvertPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TConvertPriority AValue) { FThreadPriority = AValue; }
    // Codec threads of every job's decoders and encoders. 0 lets the
    // libraries choose for a job that runs alone and shares the cores
    // among jobs that run at once; a number forces that many.
    int ThreadCount() const { return FThreadCount; }
    void SetThreadCount(int AValue) { FThreadCount = AValue < 0 ? 1 : AValue; }
    // The codec thread count a job gets when AConcurrentJobs run at once
    // on ACores cores (Start(0) runs one at a time).
    static int JobThreadCount(int AThreadCount, int AConcurrentJobs, int ACores);

    // A complete library line for this component (the log handler).
    void DeliverLibraryLine(int32_t AThreadID, int ALevel, const std::string& AText);

protected:
    virtual void DoBeforeHook(TFFmpeg* AJob, THookAction& AHookAction, int64_t APTS);
    virtual void DoCustomHook(TFFmpeg* AJob, TBitmap* ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                              bool& AStopHook);
    virtual void DoLog(TFFmpeg* AJob, int ALevel, const std::string& AMsg);
    virtual void DoProgress(TFFmpeg* AJob, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                            float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration);
    virtual void DoTerminate(TFFmpeg* AJob);

    void StartNext();
    void RunJob(TFFmpeg* AJob);
    void PrepareRun(TFFmpeg* AJob);
    void ReassertStop(TFFmpeg* AJob);
    // After a job's end: the next start, or the final event of the run.
    void ContinueRun();
    void RaiseFinal();
    void RaiseTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage);
    // Ends every job and waits for them; the first call of the most
    // derived destructor does it, before any part of the object goes.
    void Shutdown();
    void RunPostedJob(TFFmpeg* AJob, uint64_t AGeneration);
    // Takes jobs out of the list: those whose termination is still to come
    // are asked to stop and free themselves later; the others are returned
    // for the caller to free outside the lock.
    std::vector<std::unique_ptr<TFFmpeg>> ReleaseJobs(std::vector<std::unique_ptr<TFFmpeg>> AJobs);
    void WaitForOrphans();

    // Enter and Leave of the lock; Leave delivers library lines that
    // waited for it.
    void Enter();
    void Leave();
    class TGuard {
    public:
        explicit TGuard(TCustomAVConverter& AOwner) : FOwner(AOwner) { FOwner.Enter(); }
        ~TGuard() { FOwner.Leave(); }
        TGuard(const TGuard&) = delete;
        TGuard& operator=(const TGuard&) = delete;

    private:
        TCustomAVConverter& FOwner;
    };

    TFFmpegList Jobs;
    int ConcurrentJobs = 0;
    int NextIndex = -1;
    int PendingCount = 0;
    int FinishedCount = 0;
    uint64_t Generation = 0;  // of the current run; posted starts of older runs are dropped
    bool FRunOpen = false;    // the run's final event is still to come
    uint64_t FTerminations = 0;
    bool FShutDown = false;

    TLogLevel FLogLevel = llInfo;
    int FProgressInterval = 500;
    TConvertPriority FThreadPriority = tpNormal;
    int FThreadCount = 0;

    std::shared_ptr<TConverterCore> FCore;

private:
    void Post100(std::function<void()> AWork);
    std::shared_ptr<int> FToken = std::make_shared<int>(0);  // expires with the component

    std::vector<std::unique_ptr<TFFmpeg>> FOrphans;  // guarded by the lock
    std::mutex FOrphanLock;
    std::condition_variable FOrphanGone;
    int FOrphanCount = 0;  // guarded by FOrphanLock

    class TFallbackTimer;
    std::shared_ptr<TFallbackTimer> FFallbackTimer;
};

class TVxAVConverter : public TCustomAVConverter {
public:
    TVxAVConverter() = default;
    ~TVxAVConverter() override;

    bool LoadAVLib(const std::string& APath, int AVersionedNames);
    int AddInputFile(const std::string& AFileName, TInputOptions* AOptions);
    bool SetOutputFile(int AIndex, const std::string& AFileName, TOutputOptions* AOptions);
    void DeleteJob(int AIndex);
    void ClearJobs();
    void Start(int AConcurrentJobs);
    void Stop();
    void Pause();
    void Resume();

    void SetLogLevel(TLogLevel AValue);
    void SetProgressInterval(int AValue) { FProgressInterval = AValue <= 100 ? 100 : AValue; }

    std::string Version() const { return "2.2a"; }

private:
    // The input and the output of a job from its records; false with the
    // engine's ErrorText set, and what the options raise passes through.
    bool OpenJobInput(TFFmpeg& AJob);
    bool OpenJobOutput(TFFmpeg& AJob);
    // On the job's thread when it starts: its files open again.
    void ReopenJob(TFFmpeg& AJob);
};
