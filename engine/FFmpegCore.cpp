// The engine object and its run control.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/Files.h"
#include "common/Text.h"
#include "engine/EngineState.h"
#include "engine/Transcode.h"

std::atomic<int> LibraryLogFilterLevel{1};

namespace {

// A stop cuts off a read that may wait for ever (a pipe, a slow device), never
// a write: the output is a regular file of the job's own, whose writes do not
// block, and a stopped file is completed however long its encoders take to
// flush.
int InterruptCallback(void* AEngine) {
    TCustomFFmpeg* Engine = static_cast<TCustomFFmpeg*>(AEngine);
    return Engine->StopRequested && Engine->State().ReadInProgress ? 1 : 0;
}

void FreeSettingsAllocations(TEngineSettings& Settings, TEngineState& State) {
    for (auto* Chain : {&Settings.vbsf, &Settings.absf, &Settings.sbsf}) {
        for (AVBSFContext*& Filter : *Chain) av::av_bsf_free(&Filter);
        Chain->clear();
    }
    for (auto& Row : State.BitstreamFilters)
        for (auto& Chain : Row) {
            for (AVBSFContext*& Filter : Chain) av::av_bsf_free(&Filter);
            Chain.clear();
        }
    for (AVDictionary** Dict :
         {&State.PrivateOptions.VideoEncoder, &State.PrivateOptions.AudioEncoder, &State.PrivateOptions.Muxer})
        if (*Dict) av::av_dict_free(Dict);
    Settings.intra_matrix.clear();
    Settings.inter_matrix.clear();
    Settings.rc_override.clear();
    Settings.tvstd.clear();
    Settings.vstats.clear();
    Settings.vcodec.clear();
    Settings.acodec.clear();
    Settings.scodec.clear();
    if (State.VStatsFile) fclose(State.VStatsFile);
    State.VStatsFile = nullptr;
}

}  // namespace

std::recursive_mutex& CodecLock() {
    static std::recursive_mutex Lock;
    return Lock;
}

int TCustomFFmpeg::LibraryLogLevel(int V) {
    if (V < 0) return AV_LOG_QUIET;
    switch (V) {
        case 0:
            return AV_LOG_ERROR;
        case 1:
            return AV_LOG_INFO;
        case 2:
            return AV_LOG_DEBUG;
        default:
            return AV_LOG_TRACE;
    }
}

TCustomFFmpeg::TCustomFFmpeg() : FState(std::make_unique<TEngineState>()) { ResetSettings(); }

TCustomFFmpeg::~TCustomFFmpeg() {
    RequestStop();
    // Wait about a second as a courtesy, then for as long as it takes: the
    // worker uses this object until it returns, and a stop request (with
    // the interrupt callback for blocked I/O) brings it there.
    for (int i = 0; i < 10; ++i) {
        {
            std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
            if (!WorkerThread) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    LiveThreads->WaitForOthers();
    ClearJob();
}

void TCustomFFmpeg::Log(int ALevel, const std::string& AMsg) {
    if (OnLog) OnLog(this, ALevel, AMsg);
}

void TCustomFFmpeg::ResetSettings() {
    FreeSettingsAllocations(Settings, *FState);
    if (FState->HookChain) ReleaseFrameHooks(FState->HookChain);
    Settings = TEngineSettings();
    FState->Reset();
    ErrorOccurred = false;
}

void TEngineState::Reset() {
    std::fill(std::begin(InputFiles), std::end(InputFiles), nullptr);
    std::fill(std::begin(InputTsOffset), std::end(InputTsOffset), 0);
    std::fill(std::begin(InputStart), std::end(InputStart), 0);
    StreamNotes.clear();
    for (auto& Row : InputTsScale) std::fill(std::begin(Row), std::end(Row), 0.0);
    InputFileCount = 0;
    for (auto& Codecs : InputCodecs) Codecs.clear();
    std::fill(std::begin(OutputFiles), std::end(OutputFiles), nullptr);
    std::fill(std::begin(MuxerOptions), std::end(MuxerOptions), nullptr);
    std::fill(std::begin(OutputBroken), std::end(OutputBroken), false);
    std::fill(std::begin(OutputComplete), std::end(OutputComplete), false);
    std::fill(std::begin(OutputTargets), std::end(OutputTargets), TOutputTarget());
    OutputFileCount = 0;
    for (auto& Row : OutputStreams) std::fill(std::begin(Row), std::end(Row), TOutputStreamSetup());
    std::fill(std::begin(StreamMaps), std::end(StreamMaps), TStreamMap());
    StreamMapCount = 0;
    std::fill(std::begin(MetaDataMaps), std::end(MetaDataMaps), TMetaDataMap());
    MetaDataMapCount = 0;
    UsingFilters = false;

    VideoSize = AudioSize = ExtraSize = 0;
    OutputSeconds = 0;
    FramesDuplicated = FramesDropped = 0;
    TimerStart = 0;
    VideoBufferSize = 262144;

    HookChain = nullptr;
    HookAction = haContinue;
    HookRanges.clear();
    HookRangeIndex = HookRangeCount = HookFrameCounter = 0;
    HookRgbFormat = AV_PIX_FMT_BGR24;
}

void TCustomFFmpeg::PrepareJob() {
    if (!LibrariesLoaded()) return;
    PrepareSettings();
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    TerminatePending = false;
}

void TCustomFFmpeg::PrepareSettings() {
    if (!LibrariesLoaded()) return;
    ClearJob();
    ResetSettings();
    TotalDuration = -1;
    OutputFileNames.clear();
    FState->CreateOptionContexts(Settings.ScalerFlags);
}

void TEngineState::CreateOptionContexts(int AScalerFlags) {
    static const AVMediaType Types[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                         AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};
    for (int i = 0; i < 5; ++i) {
        OptionCodecContexts[i] = av::avcodec_alloc_context3(nullptr);
        if (OptionCodecContexts[i]) OptionCodecContexts[i]->codec_type = Types[i];
    }
    OptionFormatContext = av::avformat_alloc_context();
    OptionScalerContext = av::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                             AScalerFlags, nullptr, nullptr, nullptr);
}

void TEngineState::FreeOptionContexts() {
    for (AVCodecContext*& Context : OptionCodecContexts)
        if (Context) av::avcodec_free_context(&Context);
    if (OptionFormatContext) av::avformat_free_context(OptionFormatContext);
    OptionFormatContext = nullptr;
    if (OptionScalerContext) av::sws_freeContext(OptionScalerContext);
    OptionScalerContext = nullptr;
}

void TEngineState::ReleaseHookState() {
    if (HookChain) ReleaseFrameHooks(HookChain);
    HookArguments.clear();
    if (HookBuffer) av::av_free(HookBuffer);
    HookBuffer = nullptr;
    HookBufferSize = 0;
    delete HookBitmap;
    HookBitmap = nullptr;
    if (RgbBuffer) av::av_free(RgbBuffer);
    RgbBuffer = nullptr;
    RgbBufferSize = 0;
    if (ToRgbContext) av::sws_freeContext(ToRgbContext);
    ToRgbContext = nullptr;
    if (FromRgbContext) av::sws_freeContext(FromRgbContext);
    FromRgbContext = nullptr;
}

void TCustomFFmpeg::ClearJob() {
    if (!LibrariesLoaded()) return;
    TEngineState& State = *FState;
    if (OpenedInput) av::avformat_close_input(&OpenedInput);
    State.FreeOptionContexts();
    for (int i = 0; i < State.OutputFileCount; ++i) {
        AVFormatContext* Output = State.OutputFiles[i];
        if (!Output) continue;
        std::string FileName = Output->url ? Output->url : "";
        if (Output->oformat && !(Output->oformat->flags & AVFMT_NOFILE)) av::avio_closep(&Output->pb);
        if (State.MuxerOptions[i]) av::av_dict_free(&State.MuxerOptions[i]);
        for (TOutputStreamSetup& Setup : State.OutputStreams[i]) {
            if (Setup.Codec) av::avcodec_free_context(&Setup.Codec);
            if (Setup.EncoderOptions) av::av_dict_free(&Setup.EncoderOptions);
            Setup = TOutputStreamSetup();
        }
        av::avformat_free_context(Output);
        State.OutputFiles[i] = nullptr;
        // Only a complete file gets its final name. A job that failed, was
        // refused a write or never started leaves nothing behind.
        TOutputTarget& Target = State.OutputTargets[i];
        if (Target.Handle >= 0) {
            struct stat Info {};
            bool Written = fstat(Target.Handle, &Info) == 0 && Info.st_size > 0;
            if (State.OutputComplete[i] && Written && !State.OutputBroken[i]) {
                std::string Given = CommitOutputTarget(Target);
                if (!Given.empty()) {
                    if (i < static_cast<int>(OutputFileNames.size())) OutputFileNames[i] = Given;
                } else {
                    Log(0, StrFormat("Could not name the finished file '%s': %s; it is kept as '%s'",
                                     FileName.c_str(), strerror(errno), Target.TempName.c_str()));
                }
            } else {
                DiscardOutputTarget(Target);
            }
        }
        State.OutputComplete[i] = false;
        State.OutputBroken[i] = false;
    }
    for (int i = 0; i < State.InputFileCount; ++i) {
        for (AVCodecContext*& Codec : State.InputCodecs[i])
            if (Codec) av::avcodec_free_context(&Codec);
        State.InputCodecs[i].clear();
        if (State.InputFiles[i]) av::avformat_close_input(&State.InputFiles[i]);
    }
    FreeSettingsAllocations(Settings, State);
    State.ReleaseHookState();
    State.InputFileCount = 0;
    State.OutputFileCount = 0;
}

void TCustomFFmpeg::SetHookRanges(std::vector<THookRange> ARanges) {
    std::sort(ARanges.begin(), ARanges.end(),
              [](const THookRange& A, const THookRange& B) { return A.RangeEnd < B.RangeEnd; });
    FState->HookRanges = std::move(ARanges);
    FState->HookRangeCount = static_cast<int>(FState->HookRanges.size());
    FState->HookRangeIndex = 0;
}

TFFmpegThread* TCustomFFmpeg::Start(bool AThreaded, TThreadPriority APriority) {
    if (Running || Terminated) return nullptr;
    const char* Missing = nullptr;
    // A job whose files open when it runs is checked then.
    if (OnPrepare)
        ;
    else if (FState->OutputFileCount == 0)
        Missing = "Must supply at least one output file";
    else if (FState->InputFileCount == 0)
        Missing = "Must supply at least one input file";
    if (Missing) {
        ClearJob();
        Log(-1, Missing);
        ErrorOccurred = true;
        ErrorMessage = Missing;
        NotifyTerminated();
        return nullptr;
    }
    Running = true;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    if (!AThreaded) {
        Run();
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
    WorkerThread = TFFmpegThread::Create(this, APriority);
    return WorkerThread;
}

void TEngineState::CloseOpenCodecs() {
    for (auto* List : {&OpenEncoders, &OpenDecoders}) {
        for (TCodecNode& Node : *List) {
            if (Node.StatsIn) av::av_freep(&Node.StatsIn);
            if (Node.Codec) {
                if (Node.Encoder) Node.Codec->stats_in = nullptr;
                std::lock_guard<std::recursive_mutex> Guard(CodecLock());
                av::avcodec_close(Node.Codec);
            }
        }
        List->clear();
    }
}

void TCustomFFmpeg::Run() {
    Finished = false;
    try {
        if (OnPrepare) {
            OnPrepare(this);
            if (FState->OutputFileCount == 0) throw FFMpegException("Must supply at least one output file");
            if (FState->InputFileCount == 0) throw FFMpegException("Must supply at least one input file");
        }
        if (Settings.fitsize > 0)
            RunFitted();
        else
            TTranscoder(*this).Run();
    } catch (const std::exception& E) {
        ErrorOccurred = true;
        ErrorMessage = E.what();
        try {
            Log(-1, ErrorMessage);
        } catch (...) {
        }
    } catch (...) {
        ErrorOccurred = true;
        ErrorMessage = "Unknown error";
    }
    FState->CloseOpenCodecs();
    ClearJob();
    NotifyTerminated();
}

void TCustomFFmpeg::Stop() {
    if (Running) {
        MarkStopRequested();
        Resume();
        return;
    }
    if (Terminated || TerminatePending) return;
    TerminatePending = true;
    TDoTerminateThread::Create(this, tpIdle)->Resume();
}

void TCustomFFmpeg::Pause() {
    std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
    if (WorkerThread && Running) WorkerThread->Suspend();
}

void TCustomFFmpeg::Resume() {
    std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
    if (WorkerThread && WorkerThread->Suspended()) WorkerThread->Resume();
}

void TCustomFFmpeg::RequestStop() {
    MarkStopRequested();
    Resume();
}

void TCustomFFmpeg::WaitWhilePaused() {
    TFFmpegThread* Worker;
    {
        std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
        Worker = WorkerThread;
    }
    // Only the worker itself waits; it keeps its own thread object alive.
    if (Worker && Worker->ThreadID() == gettid()) Worker->WaitWhilePaused();
}

AVIOInterruptCB InterruptHandler(TCustomFFmpeg& E) { return {&InterruptCallback, &E}; }

void TCustomFFmpeg::MarkStopRequested() {
    StopRequested = true;
}

void TCustomFFmpeg::NotifyTerminated() {
    Running = false;
    Terminated = true;
    {
        std::lock_guard<std::recursive_mutex> Guard(ThreadLock);
        WorkerThread = nullptr;
    }
    // A handler may free this engine: nothing touches it after the call.
    TNotifyEvent Handler = OnTerminate;
    if (Handler) Handler(this);
}
