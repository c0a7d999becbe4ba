// The conversion engine: one TCustomFFmpeg carries one job from its option
// list to its finished output files.
//
// The engine follows the classic command-line transcoder: options write
// pending settings (named after the options), OpenInputFile and
// OpenOutputFile consume them, and Start runs the transcode on a worker
// thread or in the caller's thread. Everything the engine reports goes
// through its five events.
//
// Implementation files, one per concern:
//   FFmpegCore.cpp     object, settings reset, job preparation, run control
//   EngineThreads.cpp  worker and terminate threads, pause gate, priorities
//   Options.cpp        SetOption, the generic option lookup, ApplyTarget
//   InputFile.cpp      OpenInputFile and its helpers
//   OutputFile.cpp     OpenOutputFile and the stream makers
//   Transcode*.cpp     the transcode (class TTranscoder, Transcode.h)
//   FrameHook.cpp      the plug-in hook chain (FrameHook.h)
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/LibAV.h"
#include "common/Bitmap.h"
#include "common/Numbers.h"  // EConvertError, raised by SetOption
#include "engine/EngineThreads.h"
#include "engine/FrameHook.h"

constexpr int MAX_STREAMS = 20;  // streams per output file, stream index limit of itsscale
constexpr int MAX_FILES = 20;    // entries of the input and output file tables
constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;
constexpr int MAX_META_DATA_MAPS = 20;

// The exception the engine raises; its message is the job's error text.
class FFMpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failed consistency check (the tag-length checks of vtag and atag).
class EAssertionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

struct TStreamMap {
    int FileIndex = 0, StreamIndex = 0, SyncFileIndex = 0, SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int OutFile = 0, InFile = 0;
};

// Both ends inclusive, microseconds.
struct THookRange {
    int64_t RangeStart = 0, RangeEnd = 0;
};

class TCustomFFmpeg;

using TLogEvent = std::function<void(TCustomFFmpeg* Sender, int ALevel, const std::string& AMsg)>;
using TProgressEvent =
    std::function<void(TCustomFFmpeg* Sender, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TBeforeHookEvent = std::function<void(TCustomFFmpeg* Sender, THookAction& AHookAction, int64_t APTS)>;
using TCustomHookEvent = std::function<void(TCustomFFmpeg* Sender, TBitmap* ABitmap, int AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;
using TNotifyEvent = std::function<void(TCustomFFmpeg* Sender)>;

// The settings that options write, named after the options. ResetSettings
// gives every field the value written here.
struct TEngineSettings {
    // Input side.
    const AVInputFormat* InputFormat = nullptr;  // f, input half
    bool ForcePgmYuv = false;                    // f pgmyuv: the next input forces that decoder
    int64_t ss = 0;                              // µs
    int64_t itsoffset = 0;                       // µs
    int programid = 0;
    int loop_input = 0;
    int re = 0;
    int vc = 0;
    std::string tvstd;  // empty = none
    int vdt = 0;
    int isync = 0;
    float dts_delta_threshold = 10.0f;  // seconds
    bool copyts = false;

    // Video output side.
    const AVOutputFormat* OutputFormat = nullptr;  // f, output half
    int FrameWidth = 0, FrameHeight = 0;
    float aspect = 0.0f;
    int pix_fmt = -1;
    AVRational r = {0, 0};
    int croptop = 0, cropbottom = 0, cropleft = 0, cropright = 0;
    int padtop = 0, padbottom = 0, padleft = 0, padright = 0;
    int padcolor[3] = {16, 128, 128};  // Y, U, V
    int vframes = INT32_MAX;
    int aframes = INT32_MAX;
    int dframes = INT32_MAX;
    float qscale = 0.0f;
    std::vector<uint16_t> intra_matrix, inter_matrix;  // empty = none, else 64 coefficients
    std::string rc_override;                          // empty = none
    int vn = 0;
    std::string vcodec;  // empty = none
    bool vcodec_copy = false;
    unsigned vtag = 0;
    int sameq = 0;
    int deinterlace = 0;
    int top = -1;
    int me_threshold = 0;
    int dc = 8;
    int qphist = 0;
    int intra = 0;
    std::string vfilters;
    int vglobal = 0;
    int vsync = -1;
    int pass = 0;
    std::string passlogfile;
    int psnr = 0;
    std::string vstats;  // statistics file name, empty = none
    std::vector<AVBSFContext*> vbsf;

    // Audio and subtitle output side.
    int ar = 44100;
    int ac = 2;
    float aq = -99999.0f;
    int an = 0;
    std::string acodec;
    bool acodec_copy = false;
    unsigned atag = 0;
    std::string alang;
    int sample_fmt = -1;
    int vol = 256;
    int async = 0;
    float adrift_threshold = 0.1f;  // seconds
    std::vector<AVBSFContext*> absf;
    int sn = 0;
    std::string scodec;
    bool scodec_copy = false;
    std::string slang;
    std::vector<AVBSFContext*> sbsf;

    // Output file and job.
    int64_t t = INT64_MAX;  // µs
    int64_t fs = 0;         // bytes
    int64_t timestamp = 0;  // seconds since 1970 UTC
    std::string title, author, copyright, comment, genre, album;
    int Year = 0, Track = 0;
    float muxpreload = 0.5f;  // seconds
    float muxdelay = 0.7f;    // seconds
    int loop_output = -1;
    int shortest = 0;
    int dump = 0;
    int hex = 0;
    bool xerror = false;
    int v = 1;
    bool UsingHooks = false;
    int ThreadCount = 1;
    int ScalerFlags = SWS_BICUBIC;
    std::vector<std::string> OptionNames;
};

// Pending options of today's encoders and muxers that the generic tables do
// not carry (private options, and old names such as "muxrate"). The stream
// makers and OpenOutputFile move them into the stream or file they make;
// the transcode hands them over when it opens the encoder or writes the
// header, where a name the encoder or muxer does not know is ignored.
struct TPrivateOptions {
    AVDictionary* VideoEncoder = nullptr;
    AVDictionary* AudioEncoder = nullptr;
    AVDictionary* Muxer = nullptr;
};

// What the stream makers leave for the transcode about each output stream.
struct TOutputStreamSetup {
    AVCodecContext* Codec = nullptr;  // encoder context (for a copy: the stream's parameters)
    bool StreamCopy = false;
    float Quality = 0.0f;  // fixed quality in lambda units (qscale × 118), 0 = none
    std::string Language;  // three letters or empty
    AVDictionary* EncoderOptions = nullptr;  // private options for avcodec_open2
};

// A node of the open encoder and decoder lists.
struct TCodecNode {
    AVCodecContext* Codec = nullptr;
    bool Encoder = false;
    char* StatsIn = nullptr;  // pass-2 statistics of an encoder, freed with the node
};

class TCustomFFmpeg {
public:
    TCustomFFmpeg();  // Create
    virtual ~TCustomFFmpeg();  // Destroy
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Run control (FFmpegCore.cpp).
    void ResetSettings();
    void PrepareJob();
    void ClearJob();
    // Returns the worker, suspended, when AThreaded and the job could start;
    // the caller resumes it. Returns nullptr otherwise.
    TFFmpegThread* Start(bool AThreaded, TThreadPriority APriority);
    void Run();
    void Stop();
    void Pause();
    void Resume();
    void RequestStop();
    void NotifyTerminated();

    // Options (Options.cpp). SetOption raises FFMpegException (and the
    // classes above) on a bad value.
    void SetOption(const std::string& AName, const std::string& AValue);
    bool SetGenericOption(const std::string& AName, const std::string& AValue);
    bool SetGenericOption(const std::string& AName, int AValue);
    void ApplyTarget(const std::string& AType, const std::string& ANorm, const std::string& AFallbackNorm);
    // The direct setters the component uses, with the rules of the options.
    void SetInputFormat(const std::string& AName);   // "Unknown input format: %s"
    void SetOutputFormat(const std::string& AName);  // "Unknown output format: %s"
    void SetStartTimeMs(int64_t AMilliseconds);      // ss; ≤ 0 ignored
    void SetDurationMs(int64_t AMilliseconds);       // t and TotalDuration; ≤ 0 ignored
    void SetProgramId(int AValue);                   // < 0 ignored

    // Input files (InputFile.cpp).
    bool OpenInputFile(const std::string& AFileName);
    // A reader of the caller's that the next OpenInputFile reads through
    // instead of opening the file; AFileName then only names it. The call
    // consumes the field; the caller frees the reader after ClearJob.
    AVIOContext* InputReader = nullptr;
    void CheckInputStreamTypes(bool& HasVideo, bool& HasAudio, bool& HasSubtitle);
    // Codec id of the named encoder or decoder; AV_CODEC_ID_NONE for an empty
    // name. False with ErrorText set when there is none or its type differs.
    bool FindCodec(const std::string& AName, AVMediaType AType, bool AEncoder, AVCodecID& AId);
    void ApplyOptionNames(void* AContext, void* ADefaults, int AFlags);

    // Output files (OutputFile.cpp).
    bool OpenOutputFile(const std::string& AFileName);
    void NewVideoStream(AVFormatContext* AOutput);
    void NewAudioStream(AVFormatContext* AOutput);
    void NewSubtitleStream(AVFormatContext* AOutput);

    // The engine's own log line (OnLog when assigned).
    void Log(int ALevel, const std::string& AMsg);
    // The log level of the codec library that corresponds to a `v` value.
    static int LibraryLogLevel(int V);

    // Settings.
    TEngineSettings Settings;
    TPrivateOptions PrivateOptions;

    // Job tables.
    AVFormatContext* InputFiles[MAX_FILES] = {};
    int64_t InputTsOffset[MAX_FILES] = {};
    double InputTsScale[MAX_FILES][MAX_STREAMS] = {};
    int InputFileCount = 0;
    bool InputRateEmulation[MAX_FILES] = {};  // `re` was on when the file was opened
    // Decoder contexts of every stream of every input file, made from the
    // stream's parameters when the file is opened.
    std::vector<AVCodecContext*> InputCodecs[MAX_FILES];
    AVFormatContext* OutputFiles[MAX_FILES] = {};
    AVDictionary* MuxerOptions[MAX_FILES] = {};  // private options for avformat_write_header
    // The file system refused a write to the output: ClearJob removes the
    // unfinished file.
    bool OutputBroken[MAX_FILES] = {};
    int OutputFileCount = 0;
    TOutputStreamSetup OutputStreams[MAX_FILES][MAX_STREAMS];
    TStreamMap StreamMaps[MAX_STREAM_MAPS];
    int StreamMapCount = 0;
    TMetaDataMap MetaDataMaps[MAX_META_DATA_MAPS];
    int MetaDataMapCount = 0;
    std::vector<AVBSFContext*> BitstreamFilters[MAX_FILES][MAX_STREAMS];
    bool UsingFilters = false;  // the output created last has vfilters

    // Statistics.
    int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0;
    int FramesDuplicated = 0, FramesDropped = 0;
    int64_t TimerStart = 0;
    int VideoBufferSize = 262144;
    std::vector<TCodecNode> OpenEncoders, OpenDecoders;
    FILE* VStatsFile = nullptr;

    // Run control.
    TFFmpegThread* WorkerThread = nullptr;  // guarded by ThreadLock
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<int64_t> StopRequestedAt{0};  // wall clock (µs) of the first stop request
    std::atomic<bool> ReadInProgress{false};  // the worker is inside a demuxer read
    std::atomic<bool> Finished{false};
    std::atomic<bool> Terminated{false};
    bool ErrorOccurred = false;
    std::string ErrorMessage;
    int TotalDuration = -1;  // ms
    std::string ErrorText;
    int64_t ProgressInterval = 500000;  // µs

    // Default contexts that the generic options are written into.
    AVCodecContext* OptionCodecContexts[5] = {};  // video, audio, data, subtitle, attachment
    AVFormatContext* OptionFormatContext = nullptr;
    SwsContext* OptionScalerContext = nullptr;

    // Frame hooks.
    TFrameHookEntry* HookChain = nullptr;
    THookAction HookAction = haContinue;
    std::vector<THookRange> HookRanges;  // sorted by RangeEnd
    int HookRangeIndex = 0;
    int HookRangeCount = 0;
    int HookFrameCounter = 0;
    uint8_t* HookBuffer = nullptr;
    int HookBufferSize = 0;
    AVPixelFormat HookRgbFormat = AV_PIX_FMT_BGR24;
    TBitmap* HookBitmap = nullptr;
    uint8_t* RgbBuffer = nullptr;
    int RgbBufferSize = 0;
    SwsContext* ToRgbContext = nullptr;
    SwsContext* FromRgbContext = nullptr;
    // The words of the vhook options: plug-ins may keep pointers to their
    // arguments, so they live until the chain is released.
    std::list<std::string> HookArguments;
    // Sets the hook ranges (sorted by end) and the current-range index.
    void SetHookRanges(std::vector<THookRange> ARanges);

    // Events.
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TNotifyEvent OnTerminate;

    // The worker's safe point: waits while the job is paused.
    void WaitWhilePaused();
    // The library's interrupt callback: a stop request ends a blocked read
    // at once; writes get a grace period so that a stopped job still
    // finishes its file, and only a write blocked beyond it is cut off.
    static int InterruptCallback(void* AEngine);
    static constexpr int64_t StopWriteGrace = 10000000;  // µs
    AVIOInterruptCB InterruptHandler() { return {&TCustomFFmpeg::InterruptCallback, this}; }

protected:
    // Runs the job's transcode (Transcode.cpp); raises on failure.
    void Transcode();

private:
    friend class TTranscoder;
    friend class TEngineThread;
    friend class TFFmpegThread;
    friend class TDoTerminateThread;

    // Option helpers (Options.cpp).
    // The name under which a generic option set earlier lives in ADefaults
    // for AFlags ("ab" is "b" in the audio defaults), or empty.
    std::string ResolveOptionName(const std::string& AName, void* ADefaults, int AFlags);
    // Keeps a private option of the video or audio encoder named so far for
    // its next stream; false when neither encoder declares AName.
    bool SetEncoderOption(const std::string& AName, const std::string& AValue);
    void AddHookOption(const std::string& AValue);
    AVFormatContext* LastOutputFile();
    // Input and output helpers (InputFile.cpp, OutputFile.cpp).
    void ResetPerInputSettings();
    void ParseRcOverride(AVCodecContext* AContext, const std::string& AText);
    int OutputFileIndex(const AVFormatContext* AOutput) const;
    AVStream* AddOutputStream(AVFormatContext* AOutput);
    void ReleaseOutputSlot(int AFile);

    void MarkStopRequested();
    void CreateOptionContexts();
    void FreeOptionContexts();
    void FreeSettingsAllocations();
    void CloseOpenCodecs();
    void ReleaseHookState();

    std::recursive_mutex ThreadLock;  // guards WorkerThread
    std::shared_ptr<TLiveThreads> LiveThreads = std::make_shared<TLiveThreads>();
    bool TerminatePending = false;  // a TDoTerminateThread is on its way
};

// The process-wide lock that serialises opening and closing codecs and
// probing stream information across all engines.
std::recursive_mutex& CodecLock();

// The level by which library log lines are filtered before they reach the
// components, in the engine's scale (-1 quiet … 3 everything). Written by
// the `v` option and by the component; read by the library log handler.
extern std::atomic<int> LibraryLogFilterLevel;
