#include "component/VxAVConverter.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "common/Text.h"

namespace {

int32_t CurrentThreadID() { return static_cast<int32_t>(gettid()); }

[[noreturn]] void IndexError(int AIndex) {
    throw std::out_of_range(StrFormat("List index out of bounds (%d)", AIndex));
}

// The engine carries its job's number too, as the engine of a job did
// before jobs could wait without one.
void SetJobIndex(TConverterJob& AJob, int AIndex) {
    AJob.Index = AIndex;
    if (AJob.Engine) AJob.Engine->Index = AIndex;
}

// Leaves a component's lock. The outermost leave first delivers the library
// lines that arrived while the lock was taken, and looks again after
// unlocking, so that no line is left behind by a race with the handler.
void LeaveCore(TConverterCore& ACore) {
    for (;;) {
        bool Outer = ACore.Depth == 1;
        if (Outer)
            for (;;) {
                TConverterCore::TLine Line;
                {
                    std::lock_guard<std::mutex> Guard(ACore.QueueLock);
                    if (ACore.Queue.empty()) break;
                    Line = std::move(ACore.Queue.front());
                    ACore.Queue.pop_front();
                }
                if (!ACore.Alive || !ACore.Owner) continue;
                try {
                    ACore.Owner->DeliverLibraryLine(Line.ThreadID, Line.Level, Line.Text);
                } catch (...) {
                    // A handler's failure must not break the lock's release.
                }
            }
        --ACore.Depth;
        ACore.Lock.unlock();
        if (!Outer) return;
        {
            std::lock_guard<std::mutex> Guard(ACore.QueueLock);
            if (ACore.Queue.empty()) return;
        }
        if (!ACore.Lock.try_lock()) return;  // the holder delivers them
        ++ACore.Depth;
    }
}

// Hands one complete line to every live component. The handler never waits
// for a component's lock: a thread holding one may itself be waiting for a
// lock this thread holds (the codec lock while a codec opens, or another
// component's lock inside an event). A line that finds the lock taken is
// queued and delivered by the holder when it leaves.
void DispatchLine(int32_t AThreadID, int ALevel, const std::string& AText) {
    std::vector<std::shared_ptr<TConverterCore>> Cores;
    {
        std::lock_guard<std::mutex> Guard(ConverterList().Lock);
        Cores = ConverterList().Items;
    }
    for (const auto& Core : Cores) {
        {
            std::lock_guard<std::mutex> Guard(Core->QueueLock);
            Core->Queue.push_back({AThreadID, ALevel, AText});
        }
        if (Core->Lock.try_lock()) {
            ++Core->Depth;
            LeaveCore(*Core);
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Job list and partial lines

TConverterJob* TFFmpegList::Items(int AIndex) const {
    if (AIndex < 0 || AIndex >= Count()) IndexError(AIndex);
    return FItems[AIndex].get();
}

void TFFmpegList::Add(std::unique_ptr<TConverterJob> AJob) {
    SetJobIndex(*AJob, Count());
    FItems.push_back(std::move(AJob));
}

std::unique_ptr<TConverterJob> TFFmpegList::Extract(int AIndex) {
    if (AIndex < 0 || AIndex >= Count()) IndexError(AIndex);
    std::unique_ptr<TConverterJob> Job = std::move(FItems[AIndex]);
    FItems.erase(FItems.begin() + AIndex);
    for (int i = AIndex; i < Count(); ++i) SetJobIndex(*FItems[i], i);
    SetJobIndex(*Job, -1);
    return Job;
}

std::vector<std::unique_ptr<TConverterJob>> TFFmpegList::ExtractAll() {
    std::vector<std::unique_ptr<TConverterJob>> All = std::move(FItems);
    FItems.clear();
    for (auto& Job : All) SetJobIndex(*Job, -1);
    return All;
}

TConverterJob* TFFmpegList::FindByThread(int32_t AThreadID) const {
    for (const auto& Job : FItems)
        if (Job->Engine && Job->Engine->ThreadID == AThreadID) return Job.get();
    return nullptr;
}

TLogList::TLogItem& TLogList::Find(int32_t AThreadID) {
    if (FFirst.ThreadID == 0 || FFirst.ThreadID == AThreadID) {
        FFirst.ThreadID = AThreadID;
        return FFirst;
    }
    for (TLogItem& Item : FMore)
        if (Item.ThreadID == AThreadID) return Item;
    FMore.push_front(TLogItem{AThreadID, std::string(), std::string()});
    return FMore.front();
}

void TLogList::Clear() {
    FFirst.ThreadID = 0;
    FFirst.Text.clear();
    FFirst.LastLine.clear();
    FMore.clear();
}

TConverterList& ConverterList() {
    // Never freed: codec library threads may still log while the process ends.
    static TConverterList* List = new TConverterList;
    return *List;
}

// ---------------------------------------------------------------------------
// Library log handler

int EngineLogLevel(int ALibraryLevel) {
    if (ALibraryLevel < AV_LOG_PANIC) return -1;
    if (ALibraryLevel <= AV_LOG_WARNING) return 0;
    if (ALibraryLevel <= AV_LOG_INFO) return 1;
    if (ALibraryLevel <= AV_LOG_DEBUG) return 2;
    return 3;
}

void LibraryLogHandler(void* AContext, int ALevel, const char* AFormat, va_list AArgs) {
    int Level = std::max(0, EngineLogLevel(ALevel));
    if (LibraryLogFilterLevel.load() < Level) return;
    int32_t ThreadID = CurrentThreadID();
    std::vector<std::string> Lines;
    {
        TConverterList& List = ConverterList();
        std::lock_guard<std::mutex> Guard(List.LogLock);
        TLogList::TLogItem& Item = List.LogList.Find(ThreadID);
        char Buffer[2048];
        size_t Used = 0;
        if (AContext && Item.Text.empty()) {
            const AVClass* Class = *static_cast<const AVClass* const*>(AContext);
            if (Class) {
                const char* Name = Class->item_name ? Class->item_name(AContext) : Class->class_name;
                int Written = std::snprintf(Buffer, sizeof Buffer, "[%s @ %08" PRIXPTR "]", Name ? Name : "",
                                            reinterpret_cast<uintptr_t>(AContext));
                Used = Written > 0 ? std::min<size_t>(Written, sizeof Buffer - 1) : 0;
            }
        } else if (!Item.Text.empty()) {
            Used = Item.Text.copy(Buffer, sizeof Buffer - 1);
        }
        Buffer[Used] = 0;
        if (AFormat) std::vsnprintf(Buffer + Used, sizeof Buffer - Used, AFormat, AArgs);
        std::string Text(Buffer);
        // The libraries say some things once per stream (the MP4 muxer's
        // remark on the file extension): a line that repeats the one before
        // it on this thread is dropped, as their own printer does with
        // AV_LOG_SKIP_REPEATED.
        auto Add = [&](std::string Line) {
            if (Line == Item.LastLine) return;
            Item.LastLine = Line;
            Lines.push_back(std::move(Line));
        };
        size_t Start = 0;
        for (size_t Feed; (Feed = Text.find('\n', Start)) != std::string::npos; Start = Feed + 1)
            Add(Text.substr(Start, Feed - Start));
        Text.erase(0, Start);
        // A full buffer without a line feed cannot grow: it is a line of its own.
        if (Text.size() >= sizeof Buffer - 1) {
            Add(Text);
            Text.clear();
        }
        Item.Text = std::move(Text);
    }
    for (const std::string& Line : Lines) DispatchLine(ThreadID, Level, Line);
}

// ---------------------------------------------------------------------------
// Fallback for Start(0) without a Post hook

// Without an owner's event loop the jobs of Start(0) still run one at a
// time, each 100 ms after the previous one, on this one thread of the
// component instead of the owner's thread; the run keeps its order and its
// events, and the owner's thread is not blocked.
class TCustomAVConverter::TFallbackTimer : public std::enable_shared_from_this<TFallbackTimer> {
public:
    void Add(std::function<void()> AWork, int ADelayMs) {
        std::lock_guard<std::mutex> Guard(FLock);
        if (FQuit) return;
        FQueue.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(ADelayMs), std::move(AWork)});
        if (!FThread.joinable()) {
            std::shared_ptr<TFallbackTimer> Self = shared_from_this();
            FThread = std::thread([Self] { Self->Loop(); });
        }
        FChanged.notify_all();
    }

    void Shutdown() {
        std::thread Thread;
        {
            std::lock_guard<std::mutex> Guard(FLock);
            FQuit = true;
            FQueue.clear();
            Thread = std::move(FThread);
        }
        FChanged.notify_all();
        if (!Thread.joinable()) return;
        if (Thread.get_id() == std::this_thread::get_id())
            Thread.detach();  // it holds itself alive and ends after this call
        else
            Thread.join();
    }

private:
    struct TEntry {
        std::chrono::steady_clock::time_point Due;
        std::function<void()> Work;
    };

    void Loop() {
        std::unique_lock<std::mutex> Guard(FLock);
        for (;;) {
            if (FQuit) return;
            if (FQueue.empty()) {
                FChanged.wait(Guard);
                continue;
            }
            auto First = std::min_element(FQueue.begin(), FQueue.end(),
                                          [](const TEntry& A, const TEntry& B) { return A.Due < B.Due; });
            if (std::chrono::steady_clock::now() < First->Due) {
                FChanged.wait_until(Guard, First->Due);
                continue;
            }
            std::function<void()> Work = std::move(First->Work);
            FQueue.erase(First);
            Guard.unlock();
            Work();
            Guard.lock();
        }
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TEntry> FQueue;
    std::thread FThread;
    bool FQuit = false;
};

// ---------------------------------------------------------------------------
// TCustomAVConverter

TCustomAVConverter::TCustomAVConverter() : FCore(std::make_shared<TConverterCore>()) {
    FCore->Owner = this;
    std::lock_guard<std::mutex> Guard(ConverterList().Lock);
    ConverterList().Items.push_back(FCore);
}

TCustomAVConverter::~TCustomAVConverter() { Shutdown(); }

void TCustomAVConverter::Shutdown() {
    if (FShutDown) return;
    FShutDown = true;
    {
        TConverterList& List = ConverterList();
        std::lock_guard<std::mutex> Guard(List.Lock);
        List.Items.erase(std::remove(List.Items.begin(), List.Items.end(), FCore), List.Items.end());
    }
    FToken.reset();
    std::vector<std::unique_ptr<TConverterJob>> Free;
    std::vector<std::thread> Deliverers;
    {
        TGuard Guard(*this);
        PendingCount = 0;
        FRunOpen = false;
        Free = ReleaseJobs(Jobs.ExtractAll());
        Deliverers = std::move(FDeliverers);
    }
    Free.clear();
    if (FFallbackTimer) FFallbackTimer->Shutdown();
    WaitForOrphans();
    for (std::thread& Thread : Deliverers) {
        if (Thread.get_id() == std::this_thread::get_id())
            Thread.detach();  // its last event is ending the component; nothing follows it
        else
            Thread.join();
    }
    // An event still being raised finishes before the component goes.
    Enter();
    FCore->Alive = false;
    Leave();
}

void TCustomAVConverter::Enter() {
    FCore->Lock.lock();
    ++FCore->Depth;
}

void TCustomAVConverter::Leave() { LeaveCore(*FCore); }

int TCustomAVConverter::JobCount() {
    TGuard Guard(*this);
    return Jobs.Count();
}

TFFmpeg& TCustomAVConverter::Job(int AIndex) {
    TGuard Guard(*this);
    TConverterJob* Entry = Jobs.Items(AIndex);
    if (!Entry->Engine) throw std::logic_error(StrFormat("Job %d has no engine: it is not running", AIndex));
    return *Entry->Engine;
}

bool TCustomAVConverter::JobRunning(int AIndex) {
    TGuard Guard(*this);
    return Jobs.Items(AIndex)->RunState == TConverterJob::rsRunning;
}

TAVProbe& TCustomAVConverter::GetJobProbe(int AIndex) { return Job(AIndex).Probe; }

void TCustomAVConverter::GetOutputOptions(int AIndex, TOutputOptions& AOptions) {
    TGuard Guard(*this);
    TConverterJob* Entry = Jobs.Items(AIndex);
    if (Entry->Engine) {
        AOptions = Entry->Engine->OutputOptions;
    } else {
        InitOutputOptions(AOptions);
        AOptions.FileName = Entry->OutputName;
    }
}

void TCustomAVConverter::DeliverLibraryLine(int32_t AThreadID, int ALevel, const std::string& AText) {
    TGuard Guard(*this);
    DoLog(Jobs.FindByThread(AThreadID), ALevel, AText);
}

void TCustomAVConverter::ReassertStop(TConverterJob* AJob) {
    // A stop that reached a job on the owner's thread just before its
    // engine started was cleared by that start; the job's first event
    // repeats it.
    if (AJob->StopWanted && AJob->Engine && !AJob->Engine->StopRequested) AJob->Engine->RequestStop();
}

void TCustomAVConverter::DoBeforeHook(TConverterJob* AJob, THookAction& AHookAction, int64_t APTS) {
    if (OnBeforeHook && !AJob->Orphaned) OnBeforeHook(AJob->Index, APTS, AHookAction);
}

void TCustomAVConverter::DoCustomHook(TConverterJob* AJob, TBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                                      bool& AUpdate, bool& AStopHook) {
    if (OnCustomHook && !AJob->Orphaned) OnCustomHook(AJob->Index, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomAVConverter::DoLog(TConverterJob* AJob, int ALevel, const std::string& AMsg) {
    if (!OnLog) return;
    TGuard Guard(*this);
    if (AJob) ReassertStop(AJob);
    if (AJob && AJob->Orphaned) return;
    TLogLevel Level = ALevel < 0 ? llQuiet : ALevel >= 4 ? llAll : static_cast<TLogLevel>(ALevel + 1);
    // The engine logs from inside its start and its failure path: a
    // handler's exception there would skip the job's end (the component
    // then waits for it forever) or leave a worker thread and end the
    // process.
    try {
        OnLog(AJob ? AJob->Index.load() : -1, Level, AMsg);
    } catch (...) {
    }
}

void TCustomAVConverter::DoProgress(TConverterJob* AJob, int AFrameNumber, int AFPS, int ACurrentDuration,
                                    float AQuality, float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration) {
    TGuard Guard(*this);
    ReassertStop(AJob);
    if (AJob->Orphaned) return;
    if (OnProgress)
        OnProgress(AJob->Index, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize,
                   ATotalOutputDuration);
}

void TCustomAVConverter::RaiseFinal() {
    FRunOpen = false;
    {
        std::lock_guard<std::mutex> Guard(ConverterList().LogLock);
        ConverterList().LogList.Clear();
    }
    RaiseTerminate(-1, true, false, std::string());
}

void TCustomAVConverter::RaiseTerminate(int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    if (!OnTerminate) return;
    // A handler's exception would end the worker thread and the process,
    // and the run's bookkeeping after it would be lost.
    try {
        OnTerminate(AIndex, AFinished, AException, AMessage);
    } catch (...) {
    }
}

void TCustomAVConverter::ContinueRun() {
    if (PendingCount > 0)
        StartNext();
    else if (FRunOpen && FinishedCount >= Jobs.Count())
        RaiseFinal();
}

void TCustomAVConverter::DoTerminate(TConverterJob* AJob) {
    std::unique_ptr<TConverterJob> Orphan;
    bool Released = false;  // a job of AddJob gave back the engine that ran it
    {
        TGuard Guard(*this);
        ++FTerminations;
        TFFmpeg* Engine = AJob->Engine.get();
        Released = Engine && AJob->Setup;
        // The job's input is closed by now; the probe must not read it.
        if (Engine) Engine->Probe.CloseFile();
        if (AJob->Orphaned) {
            for (auto It = FOrphans.begin(); It != FOrphans.end(); ++It)
                if (It->get() == AJob) {
                    Orphan = std::move(*It);
                    FOrphans.erase(It);
                    break;
                }
            ContinueRun();
        } else {
            AJob->RunState = TConverterJob::rsDone;
            AJob->Counted = true;
            const bool Finished = Engine && Engine->Finished, Failed = Engine && Engine->ErrorOccurred;
            const std::string Message = Engine ? Engine->ErrorMessage : std::string();
            // The name the output really got, for the handlers to show.
            if (Engine && !Engine->OutputFileNames.empty() && !Engine->OutputFileNames[0].empty()) {
                Engine->OutputOptions.FileName = Engine->OutputFileNames[0];
                AJob->OutputName = Engine->OutputFileNames[0];
            }
            // A job of AddJob gives its engine back as it ends. This may be
            // the engine's own thread, inside its last event: the engine
            // touches nothing of itself after it.
            if (AJob->Setup) AJob->Engine.reset();
            // The handler may delete the job: it is not touched afterwards.
            RaiseTerminate(AJob->Index, Finished, Failed, Message);
            ++FinishedCount;
            ContinueRun();
        }
    }
    const bool WasOrphan = Orphan != nullptr;
    Orphan.reset();
    // Nothing of the component is touched after this: it may go as soon as
    // the count is down.
    if (WasOrphan || Released) {
        std::lock_guard<std::mutex> Guard(FOrphanLock);
        FOrphanCount -= WasOrphan;
        FEngineRuns -= Released;
        FOrphanGone.notify_all();
    }
}

void TCustomAVConverter::CountEngineRun(TConverterJob* AJob) {
    // Its engine goes on its own thread, which nobody else waits for.
    if (!AJob->Setup) return;
    std::lock_guard<std::mutex> Guard(FOrphanLock);
    ++FEngineRuns;
}

void TCustomAVConverter::Post100(std::function<void()> AWork) {
    if (Post) {
        Post(std::move(AWork), 100);
        return;
    }
    if (!FFallbackTimer) FFallbackTimer = std::make_shared<TFallbackTimer>();
    FFallbackTimer->Add(std::move(AWork), 100);
}

void TCustomAVConverter::StartNext() {
    if (PendingCount <= 0) return;
    --PendingCount;
    if (NextIndex < 0 || NextIndex >= Jobs.Count()) return;
    TConverterJob* Next = Jobs.Items(NextIndex);
    // Counted before the start: a job that fails at once ends inside it
    // and starts the one after.
    ++NextIndex;
    if (ConcurrentJobs <= 0) {
        std::weak_ptr<int> Token = FToken;
        uint64_t Run = Generation;
        Post100([this, Token, Next, Run] {
            if (!Token.expired()) RunPostedJob(Next, Run);
        });
    } else {
        RunJob(Next);
    }
}

int TCustomAVConverter::JobThreadCount(int AThreadCount, int AConcurrentJobs, int ACores) {
    if (AThreadCount > 0 || AConcurrentJobs <= 1) return std::max(AThreadCount, 0);
    // Each codec's own choice counts every core: jobs side by side would
    // each start that many threads and crowd one another.
    return std::max(1, ACores / AConcurrentJobs);
}

std::unique_ptr<TFFmpeg> TCustomAVConverter::MakeEngine(TConverterJob* AJob) {
    auto Engine = std::make_unique<TFFmpeg>();
    Engine->FTally = FEngines;
    ++*FEngines;
    Engine->Entry = AJob;
    Engine->Index = AJob->Index.load();
    Engine->OnLog = [this, AJob](TCustomFFmpeg*, int ALevel, const std::string& AMsg) { DoLog(AJob, ALevel, AMsg); };
    Engine->OnProgress = [this, AJob](TCustomFFmpeg*, int AFrameNumber, int AFPS, int ACurrentDuration,
                                      float AQuality, float ABitRate, int64_t ACurrentSize,
                                      int ATotalOutputDuration) {
        DoProgress(AJob, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize,
                   ATotalOutputDuration);
    };
    Engine->OnTerminate = [this, AJob](TCustomFFmpeg*) { DoTerminate(AJob); };
    return Engine;
}

// Without the means to open files the job fails as one without an output.
void TCustomAVConverter::AttachEngine(TConverterJob* AJob) { AJob->Engine = MakeEngine(AJob); }

void TCustomAVConverter::PrepareRun(TConverterJob* AJob) {
    if (!AJob->Engine) AttachEngine(AJob);
    TFFmpeg& Engine = *AJob->Engine;
    const int Cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // Kept for the job's reopening when it starts.
    Engine.RunThreads = JobThreadCount(FThreadCount, std::min(ConcurrentJobs, Jobs.Count()), Cores);
    Engine.Settings.ThreadCount = Engine.RunThreads;
    Engine.ProgressInterval = int64_t(FProgressInterval) * 1000;
    Engine.RunV = int(FLogLevel) - 1;
    Engine.SetOption("v", std::to_string(int(FLogLevel) - 1));
}

void TCustomAVConverter::RunJob(TConverterJob* AJob) {
    if (AJob->RunState != TConverterJob::rsIdle) return;
    PrepareRun(AJob);
    AJob->RunState = TConverterJob::rsRunning;
    TFFmpeg* Engine = AJob->Engine.get();
    CountEngineRun(AJob);
    uint64_t Terminations = FTerminations;
    TFFmpegThread* Worker = Engine->Start(true, FThreadPriority);
    if (Worker) {
        Engine->ThreadID = Worker->ThreadID();
        Worker->Resume();
    } else if (Terminations == FTerminations) {
        // Refused without an end to report.
        Engine->ThreadID = 0;
        AJob->RunState = TConverterJob::rsDone;
    }
}

void TCustomAVConverter::RunPostedJob(TConverterJob* AJob, uint64_t AGeneration) {
    TFFmpeg* Engine = nullptr;
    {
        TGuard Guard(*this);
        if (AGeneration != Generation) return;
        bool Listed = false;
        for (int i = 0; i < Jobs.Count() && !Listed; ++i) Listed = Jobs.Items(i) == AJob;
        if (!Listed) {
            // Deleted while it waited: the run goes on without it.
            ContinueRun();
            return;
        }
        if (AJob->RunState != TConverterJob::rsIdle) return;  // stopped while it waited
        PrepareRun(AJob);
        AJob->RunState = TConverterJob::rsRunning;
        Engine = AJob->Engine.get();
        Engine->ThreadID = CurrentThreadID();
        CountEngineRun(AJob);
    }
    // A running job's engine stays until its end, which comes from inside
    // this call.
    Engine->Start(false, FThreadPriority);
}

void TCustomAVConverter::DeliverUnstarted(std::vector<TConverterJob*> AJobs) {
    // Each stays in the list or among the orphans until its end is
    // delivered; the component waits for this thread before it goes.
    FDeliverers.emplace_back([this, Jobs = std::move(AJobs)] {
        for (TConverterJob* Job : Jobs) DoTerminate(Job);
    });
}

std::vector<std::unique_ptr<TConverterJob>> TCustomAVConverter::ReleaseJobs(
    std::vector<std::unique_ptr<TConverterJob>> AJobs) {
    std::vector<std::unique_ptr<TConverterJob>> Free;
    for (auto& Job : AJobs) {
        SetJobIndex(*Job, -1);
        if (Job->RunState == TConverterJob::rsRunning || Job->RunState == TConverterJob::rsStopping) {
            Job->Orphaned = true;
            if (Job->RunState == TConverterJob::rsRunning) {
                Job->StopWanted = true;
                Job->Engine->RequestStop();
            }
            {
                std::lock_guard<std::mutex> Guard(FOrphanLock);
                ++FOrphanCount;
            }
            FOrphans.push_back(std::move(Job));
        } else {
            Free.push_back(std::move(Job));
        }
    }
    return Free;
}

void TCustomAVConverter::WaitForOrphans() {
    std::unique_lock<std::mutex> Guard(FOrphanLock);
    FOrphanGone.wait(Guard, [this] { return FOrphanCount == 0 && FEngineRuns == 0; });
}

// ---------------------------------------------------------------------------
// TVxAVConverter

TVxAVConverter::~TVxAVConverter() {
    // Jobs end before the object starts to come apart, so no worker calls
    // into a half-destroyed component.
    Shutdown();
}

bool TVxAVConverter::LoadAVLib(const std::string& APath, int AVersionedNames, bool AFilterOnDemand) {
    if (!LoadLibraries(APath, AVersionedNames != 0, AFilterOnDemand)) {
        LastError = LibrariesError();
        return false;
    }
    av::av_log_set_callback(&LibraryLogHandler);
    av::av_log_set_level(TCustomFFmpeg::LibraryLogLevel(int(FLogLevel) - 1));
    LibraryLogFilterLevel = EngineLogLevel(av::av_log_get_level());
    return true;
}

void TVxAVConverter::SetLogLevel(TLogLevel AValue) {
    FLogLevel = AValue;
    if (!LibrariesLoaded()) return;
    av::av_log_set_level(TCustomFFmpeg::LibraryLogLevel(int(AValue) - 1));
    LibraryLogFilterLevel = EngineLogLevel(av::av_log_get_level());
}

bool TVxAVConverter::OpenJobInput(TFFmpeg& AJob) {
    AJob.SetOption("v", std::to_string(AJob.RunV));
    AJob.Settings.ThreadCount = AJob.RunThreads;
    if (AJob.InputOptionsGiven) ApplyInputOptions(AJob, AJob.InputOptions, AJob.InputName);
    if (!AJob.OpenInputFile(AJob.InputName)) return false;
    AJob.Probe.AttachContext(AJob.InputFile(0));
    return true;
}

bool TVxAVConverter::OpenJobOutput(TFFmpeg& AJob) {
    TConverterJob* Job = AJob.Entry;
    if (AJob.OutputOptionsGiven) {
        ApplyOutputOptions(AJob, AJob.OutputOptions, AJob.OutputName);
        if (AJob.OutputOptions.CustomHook)
            AJob.OnCustomHook = [this, Job](TCustomFFmpeg*, TBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                                            bool& AUpdate, bool& AStopHook) {
                DoCustomHook(Job, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
            };
        // With a custom hook the before hook chooses the frames it sees.
        if (AJob.OutputOptions.BeforeHook)
            AJob.OnBeforeHook = [this, Job](TCustomFFmpeg*, THookAction& AHookAction, int64_t APTS) {
                DoBeforeHook(Job, AHookAction, APTS);
            };
        if (!AJob.OutputOptions.CustomHook && !AJob.OutputOptions.BeforeHook)
            AJob.SetHookRanges(ParseHookRanges(AJob.OutputOptions.HookRanges));
    }
    return AJob.OpenOutputFile(AJob.OutputName);
}

void TVxAVConverter::ReopenJob(TFFmpeg& AJob) {
    AJob.Probe.CloseFile();
    AJob.PrepareSettings();
    if (!OpenJobInput(AJob) || !OpenJobOutput(AJob)) throw FFMpegException(AJob.ErrorText);
}

void TVxAVConverter::AttachEngine(TConverterJob* AJob) {
    std::unique_ptr<TFFmpeg> Engine = MakeEngine(AJob);
    TFFmpeg* E = Engine.get();
    E->InputName = AJob->InputName;
    E->OutputName = AJob->OutputName;
    E->InputOptions.FileName = AJob->InputName;
    E->OutputOptions.FileName = AJob->OutputName;
    E->InputOptionsGiven = E->OutputOptionsGiven = true;
    E->OnPrepare = [this, AJob, E](TCustomFFmpeg*) { SetUpJob(*AJob, *E); };
    AJob->Engine = std::move(Engine);
}

void TVxAVConverter::SetUpJob(TConverterJob& AJob, TFFmpeg& AEngine) {
    // The names and the setup stay as AddJob left them: no lock is needed
    // to read them here.
    TInputOptions Input;
    TOutputOptions Output;
    InitInputOptions(Input);
    InitOutputOptions(Output);
    Input.FileName = AJob.InputName;
    Output.FileName = AJob.OutputName;
    try {
        AJob.Setup->SetUp(AEngine.Probe, Input, Output);
    } catch (...) {
        AEngine.Probe.CloseFile();
        throw;
    }
    AVFormatContext* Opened = AEngine.Probe.TakeContext();
    {
        // GetOutputOptions reads them from other threads.
        TGuard Guard(*this);
        AEngine.InputOptions = std::move(Input);
        AEngine.OutputOptions = std::move(Output);
    }
    AEngine.PrepareSettings();
    // The engine reads on from the probe's open instead of opening the file
    // and finding its streams a second time.
    AEngine.OpenedInput = Opened;
    if (!OpenJobInput(AEngine)) throw FFMpegException(AEngine.ErrorText);
    // What SetOutputFile would have refused, option or file.
    std::string Refusal;
    try {
        if (!OpenJobOutput(AEngine)) Refusal = AEngine.ErrorText;
    } catch (const std::exception& E) {
        Refusal = E.what();
    }
    if (!Refusal.empty()) {
        AJob.Setup->OutputRefused(Refusal);
        throw FFMpegException(Refusal);
    }
}

int TVxAVConverter::AddInputFile(const std::string& AFileName, TInputOptions* AOptions) {
    if (!LibrariesLoaded()) {
        // The engine does nothing for a job without the libraries.
        LastError = "LibAVCodec not loaded.";
        return -1;
    }
    auto Entry = std::make_unique<TConverterJob>();
    Entry->Engine = MakeEngine(Entry.get());
    TFFmpeg* Job = Entry->Engine.get();
    try {
        Job->PrepareJob();
        Job->RunV = int(FLogLevel) - 1;
        Job->RunThreads = FThreadCount;
        Job->InputName = AFileName;
        Job->InputOptionsGiven = AOptions != nullptr;
        if (AOptions) {
            if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
            Job->InputOptions = *AOptions;
        } else {
            InitInputOptions(Job->InputOptions);
        }
        if (!OpenJobInput(*Job)) {
            Job->OnLog = nullptr;
            LastError = Job->ErrorText;
            return -1;
        }
    } catch (const std::exception& E) {
        Job->OnLog = nullptr;
        LastError = E.what();
        return -1;
    }
    TGuard Guard(*this);
    Jobs.Add(std::move(Entry));
    return Job->Index;
}

int TVxAVConverter::AddJob(const std::string& AInputName, const std::string& AOutputName,
                           std::unique_ptr<TJobSetup> ASetup) {
    if (!LibrariesLoaded()) {
        LastError = "LibAVCodec not loaded.";
        return -1;
    }
    auto Entry = std::make_unique<TConverterJob>();
    Entry->InputName = AInputName;
    Entry->OutputName = AOutputName;
    // A setup marks the job as one that is built when it starts.
    Entry->Setup = ASetup ? std::move(ASetup) : std::make_unique<TJobSetup>();
    TConverterJob* Job = Entry.get();
    TGuard Guard(*this);
    Jobs.Add(std::move(Entry));
    return Job->Index;
}

bool TVxAVConverter::SetOutputFile(int AIndex, const std::string& AFileName, TOutputOptions* AOptions) {
    TFFmpeg* Job = &this->Job(AIndex);
    bool Result = false;
    try {
        Job->OutputName = AFileName;
        Job->OutputOptionsGiven = AOptions != nullptr;
        if (AOptions) {
            if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
            Job->OutputOptions = *AOptions;
        } else {
            InitOutputOptions(Job->OutputOptions);
        }
        Result = OpenJobOutput(*Job);
        if (!Result) LastError = Job->ErrorText;
    } catch (const std::exception& E) {
        LastError = E.what();
        Result = false;
    }
    if (Result) {
        // Checked, the job waits without holding a file: its input and its
        // output open again when it starts, so that a batch of any size
        // stays within the process's open files. Nothing is written before.
        Job->Probe.CloseFile();
        Job->ClearJob();
        Job->OnPrepare = [this, Job](TCustomFFmpeg*) { ReopenJob(*Job); };
    }
    return Result;
}

void TVxAVConverter::DeleteJob(int AIndex) {
    std::vector<std::unique_ptr<TConverterJob>> Free;
    TGuard Guard(*this);
    std::unique_ptr<TConverterJob> Job = Jobs.Extract(AIndex);
    if (AIndex < NextIndex)
        --NextIndex;
    else if (PendingCount > 0)
        --PendingCount;
    if (Job->Counted && FinishedCount > 0) --FinishedCount;
    std::vector<std::unique_ptr<TConverterJob>> One;
    One.push_back(std::move(Job));
    Free = ReleaseJobs(std::move(One));
}

void TVxAVConverter::ClearJobs() {
    std::vector<std::unique_ptr<TConverterJob>> Free;
    TGuard Guard(*this);
    LastError.clear();
    ConcurrentJobs = 0;
    PendingCount = 0;
    FinishedCount = 0;
    NextIndex = -1;
    FRunOpen = false;
    Free = ReleaseJobs(Jobs.ExtractAll());
}

void TVxAVConverter::Start(int AConcurrentJobs) {
    {
        std::lock_guard<std::mutex> Guard(ConverterList().LogLock);
        ConverterList().LogList.Clear();
    }
    TGuard Guard(*this);
    ++Generation;
    NextIndex = 0;
    FinishedCount = 0;
    ConcurrentJobs = AConcurrentJobs;
    PendingCount = Jobs.Count();
    for (int i = 0; i < Jobs.Count(); ++i) Jobs.Items(i)->Counted = false;
    FRunOpen = PendingCount > 0;
    for (int i = 0; i < std::max(AConcurrentJobs, 1) && PendingCount > 0; ++i) StartNext();
}

void TVxAVConverter::Stop() {
    TGuard Guard(*this);
    PendingCount = 0;
    if (!FRunOpen) {
        // Outside a run the jobs that ended before count as finished.
        FinishedCount = 0;
        for (int i = 0; i < Jobs.Count(); ++i)
            FinishedCount += Jobs.Items(i)->RunState == TConverterJob::rsDone;
    }
    std::vector<TConverterJob*> Unstarted;
    for (int i = 0; i < Jobs.Count(); ++i) {
        TConverterJob* Job = Jobs.Items(i);
        if (Job->RunState == TConverterJob::rsRunning) {
            Job->StopWanted = true;
            Job->Engine->RequestStop();
        } else if (Job->RunState == TConverterJob::rsIdle) {
            // Never ran: its end comes from a thread of its own.
            Job->RunState = TConverterJob::rsStopping;
            Job->StopWanted = true;
            FRunOpen = true;
            if (Job->Engine)
                Job->Engine->Stop();
            else
                Unstarted.push_back(Job);
        }
    }
    // One thread for all waiting jobs of AddJob, however many.
    if (!Unstarted.empty()) DeliverUnstarted(std::move(Unstarted));
}

void TVxAVConverter::Pause() {
    TGuard Guard(*this);
    for (int i = 0; i < Jobs.Count(); ++i)
        if (TFFmpeg* Engine = Jobs.Items(i)->Engine.get()) Engine->Pause();
}

void TVxAVConverter::Resume() {
    TGuard Guard(*this);
    for (int i = 0; i < Jobs.Count(); ++i)
        if (TFFmpeg* Engine = Jobs.Items(i)->Engine.get()) Engine->Resume();
}
