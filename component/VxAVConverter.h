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
#include <thread>
#include <vector>

#include "component/JobOptions.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };
using TConvertPriority = TThreadPriority;

class TCustomAVConverter;
struct TConverterJob;

// The engine of one job, with one input and one output.
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
        if (FTally) --*FTally;
    }

    std::atomic<int> Index{-1};
    std::atomic<int32_t> ThreadID{0};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    TAVProbe Probe;

private:
    friend class TCustomAVConverter;
    friend class TVxAVConverter;
    // The files and whether records were given, for opening the files again
    // when the job starts: a waiting job holds no file open.
    std::string InputName, OutputName;
    bool InputOptionsGiven = false, OutputOptionsGiven = false;
    int RunV = 0, RunThreads = 1;  // the component's log level and codec threads for it
    TConverterJob* Entry = nullptr;  // the list entry whose engine it is
    std::shared_ptr<std::atomic<int>> FTally;  // the component's count of engines
};

// How a job of AddJob is built when it starts, on the thread that runs it.
class TJobSetup {
public:
    virtual ~TJobSetup() = default;
    // Fills both records, which come with their FileName set. The probe is
    // the job's own, closed: the setup may open the source in it, and the
    // component closes it afterwards. Raising refuses the job, whose end
    // then carries the message.
    virtual void SetUp(TAVProbe&, TInputOptions&, TOutputOptions&) {}
    // After SetUp the output could not be created; the job ends with Reason.
    virtual void OutputRefused(const std::string&) {}
};

// One entry of the job list. A job of AddInputFile keeps its engine from
// the start; a job of AddJob holds only its names and its setup while it
// waits, gets its engine when it starts and gives it back when it ends, so
// that a batch of any size costs little more than its names.
struct TConverterJob {
    std::atomic<int> Index{-1};
    std::unique_ptr<TFFmpeg> Engine;  // guarded by the component's lock
    // A job of AddJob: its input and output names (the output's becomes the
    // name the file was given when the job ends) and the maker of its records.
    std::string InputName, OutputName;
    std::unique_ptr<TJobSetup> Setup;

    // Where the job is in its run, as the component sees it; guarded by
    // the component's lock.
    enum TRunState { rsIdle, rsRunning, rsStopping, rsDone };
    TRunState RunState = rsIdle;
    bool Counted = false;     // its termination counts in the current run
    bool StopWanted = false;  // Stop reached it; repeated if the start swallowed it
    // Deleted from the list while its termination was still to come: it
    // frees itself when that termination arrives.
    std::atomic<bool> Orphaned{false};
};

// The job list; owns its jobs.
class TFFmpegList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TConverterJob* Items(int AIndex) const;  // "List index out of bounds (%d)"
    void Add(std::unique_ptr<TConverterJob> AJob);
    // Removes job AIndex from the list, renumbers the later ones and hands
    // the job to the caller.
    std::unique_ptr<TConverterJob> Extract(int AIndex);
    std::vector<std::unique_ptr<TConverterJob>> ExtractAll();
    TConverterJob* FindByThread(int32_t AThreadID) const;

private:
    std::vector<std::unique_ptr<TConverterJob>> FItems;
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
    // taken meanwhile). A job of AddJob has its records only while it
    // runs; before and after, the record holds its output name alone.
    void GetOutputOptions(int AIndex, TOutputOptions& AOptions);
    // The job's engine, for reading its state. A job of AddJob has one only
    // while it runs: otherwise std::logic_error. SetOutputFile and
    // GetJobProbe need one too.
    TFFmpeg& Job(int AIndex);
    // Whether job AIndex has started and its end is still to be reported.
    bool JobRunning(int AIndex);
    // Engine objects this component holds now, with those of deleted jobs
    // still ending: the jobs of AddInputFile and the running jobs of AddJob.
    int EngineCount() const { return FEngines->load(); }

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
    virtual void DoBeforeHook(TConverterJob* AJob, THookAction& AHookAction, int64_t APTS);
    virtual void DoCustomHook(TConverterJob* AJob, TBitmap* ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                              bool& AStopHook);
    virtual void DoLog(TConverterJob* AJob, int ALevel, const std::string& AMsg);
    virtual void DoProgress(TConverterJob* AJob, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                            float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration);
    virtual void DoTerminate(TConverterJob* AJob);

    // An engine whose events reach this component for AJob.
    std::unique_ptr<TFFmpeg> MakeEngine(TConverterJob* AJob);
    // Gives a job of AddJob, about to start, the engine that runs it.
    virtual void AttachEngine(TConverterJob* AJob);
    void StartNext();
    void RunJob(TConverterJob* AJob);
    void PrepareRun(TConverterJob* AJob);
    void ReassertStop(TConverterJob* AJob);
    // After a job's end: the next start, or the final event of the run.
    void ContinueRun();
    void RaiseFinal();
    void RaiseTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage);
    // Ends every job and waits for them; the first call of the most
    // derived destructor does it, before any part of the object goes.
    void Shutdown();
    void RunPostedJob(TConverterJob* AJob, uint64_t AGeneration);
    // The ends of jobs of AddJob stopped before they started, delivered in
    // their order from a thread of their own.
    void DeliverUnstarted(std::vector<TConverterJob*> AJobs);
    // Takes jobs out of the list: those whose termination is still to come
    // are asked to stop and free themselves later; the others are returned
    // for the caller to free outside the lock.
    std::vector<std::unique_ptr<TConverterJob>> ReleaseJobs(std::vector<std::unique_ptr<TConverterJob>> AJobs);
    // Waits for the ends of deleted jobs and of the started jobs of AddJob.
    void WaitForOrphans();
    void CountEngineRun(TConverterJob* AJob);

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
    std::shared_ptr<std::atomic<int>> FEngines = std::make_shared<std::atomic<int>>(0);

private:
    void Post100(std::function<void()> AWork);
    std::shared_ptr<int> FToken = std::make_shared<int>(0);  // expires with the component

    std::vector<std::unique_ptr<TConverterJob>> FOrphans;  // guarded by the lock
    std::mutex FOrphanLock;
    std::condition_variable FOrphanGone;
    int FOrphanCount = 0;  // guarded by FOrphanLock
    // Jobs of AddJob started and not yet through their end; guarded by
    // FOrphanLock. The component waits for them before it goes.
    int FEngineRuns = 0;

    std::vector<std::thread> FDeliverers;  // of DeliverUnstarted; guarded by the lock

    class TFallbackTimer;
    std::shared_ptr<TFallbackTimer> FFallbackTimer;
};

class TVxAVConverter : public TCustomAVConverter {
public:
    TVxAVConverter() = default;
    ~TVxAVConverter() override;

    // AFilterOnDemand loads the filter library with the first job that
    // needs it (a program that converts a file and ends).
    bool LoadAVLib(const std::string& APath, int AVersionedNames, bool AFilterOnDemand = false);
    int AddInputFile(const std::string& AFileName, TInputOptions* AOptions);
    bool SetOutputFile(int AIndex, const std::string& AFileName, TOutputOptions* AOptions);
    // A job that is only described until it starts: nothing is opened or
    // checked now. When it starts, ASetup fills its records (see
    // TJobSetup), its files open and it runs as a job of AddInputFile and
    // SetOutputFile would; whatever fails there ends the job with its
    // message. Returns its index, or -1 with LastError set.
    int AddJob(const std::string& AInputName, const std::string& AOutputName, std::unique_ptr<TJobSetup> ASetup);
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
    void AttachEngine(TConverterJob* AJob) override;
    // On the thread of a job of AddJob when it starts: its records, then its files.
    void SetUpJob(TConverterJob& AJob, TFFmpeg& AEngine);
};
