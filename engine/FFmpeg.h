// The conversion engine: one TCustomFFmpeg carries one job from its option
// list to its finished output files. Options write pending settings (named
// after the options), OpenInputFile and OpenOutputFile consume them, and
// Start runs the transcode on a worker thread or in the caller's thread;
// everything the engine reports goes through its five events. This header
// is the engine's face; its inside is in EngineState.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/LibAV.h"
#include "common/Numbers.h"  // EConvertError, raised by SetOption
#include "engine/EngineThreads.h"

class TBitmap;
struct TEngineState;

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
    // Pictures the decoder or the container marks interlaced go through a
    // motion-adaptive deinterlacer before scaling; 0 leaves them as they are.
    int autodeinterlace = 1;
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
    // A size in bytes the output must fit in: the job encodes its picture
    // in two passes at the rate that fills it. 0 = no size.
    int64_t fitsize = 0;
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
    // Not empty: the output gets every stream of the inputs, each copied as
    // it is when its codec is listed here ("any": whatever the muxer takes),
    // else encoded with the codec named for its kind.
    std::string copystreams;

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
    // The texts given to flag options, in order ("+bitexact", "-cgop"): they
    // are applied to each context relative to its own defaults.
    std::vector<std::pair<std::string, std::string>> FlagTexts;
};

class TCustomFFmpeg {
public:
    TCustomFFmpeg();  // Create
    virtual ~TCustomFFmpeg();  // Destroy
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Run control (FFmpegCore.cpp).
    void PrepareJob();
    // The settings and job tables of PrepareJob, without touching the run
    // state: for the files of a job that are opened when it starts.
    void PrepareSettings();
    void ClearJob();
    // Returns the worker, suspended, when AThreaded and the job could start;
    // the caller resumes it. Returns nullptr otherwise.
    TFFmpegThread* Start(bool AThreaded, TThreadPriority APriority);
    void Stop();
    void Pause();
    void Resume();
    void RequestStop();

    // Options (Options.cpp). SetOption raises FFMpegException (and the
    // classes above) on a bad value.
    void SetOption(const std::string& AName, const std::string& AValue);
    bool SetGenericOption(const std::string& AName, const std::string& AValue);
    void ApplyTarget(const std::string& AType, const std::string& ANorm, const std::string& AFallbackNorm);
    // The direct setters the component uses, with the rules of the options.
    void SetInputFormat(const std::string& AName);   // "Unknown input format: %s"
    void SetOutputFormat(const std::string& AName);  // "Unknown output format: %s"
    void SetStartTimeMs(int64_t AMilliseconds);      // ss; ≤ 0 ignored
    void SetDurationMs(int64_t AMilliseconds);       // t and TotalDuration; ≤ 0 ignored
    void SetProgramId(int AValue);                   // < 0 ignored
    // The time ranges in which the custom hook sees frames.
    void SetHookRanges(std::vector<THookRange> ARanges);

    // Files (InputFile.cpp, OutputFile.cpp). False with ErrorText set when
    // the file cannot be opened or created.
    bool OpenInputFile(const std::string& AFileName);
    bool OpenOutputFile(const std::string& AFileName);
    // A reader of the caller's that the next OpenInputFile reads through
    // instead of opening the file; AFileName then only names it. The call
    // consumes the field; the caller frees the reader after ClearJob.
    AVIOContext* InputReader = nullptr;
    // The same file already opened and its streams found by the job's
    // setup: the next OpenInputFile takes it over instead of reading the
    // file's head again, unless the job asks for the file to be opened
    // differently. The call consumes the field; ClearJob frees one left.
    AVFormatContext* OpenedInput = nullptr;
    // The demuxer of opened input file AIndex, or nullptr.
    AVFormatContext* InputFile(int AIndex) const;

    // The engine's own log line (OnLog when assigned).
    void Log(int ALevel, const std::string& AMsg);
    // The log level of the codec library that corresponds to a `v` value.
    static int LibraryLogLevel(int V);

    TEngineSettings Settings;

    // Run state.
    TFFmpegThread* WorkerThread = nullptr;  // guarded by ThreadLock
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> Terminated{false};
    bool ErrorOccurred = false;
    std::string ErrorMessage;
    int TotalDuration = -1;  // ms
    std::string ErrorText;
    // The name of each output file: the one asked for once it is created,
    // the one it was given once it is complete (the next of its "_(new_N)"
    // series when the name was taken meanwhile). Emptied by PrepareJob.
    std::vector<std::string> OutputFileNames;
    int64_t ProgressInterval = 500000;  // µs

    // Events.
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TNotifyEvent OnTerminate;
    // Called first when the job runs, on its thread: opens the job's files
    // when they were not kept open while it waited. An exception fails the
    // job with its message.
    TNotifyEvent OnPrepare;

    // The job tables, statistics and hook state (engine/EngineState.h).
    TEngineState& State() { return *FState; }

private:
    friend class TTranscoder;
    friend class TEngineThread;
    friend class TFFmpegThread;
    friend class TDoTerminateThread;

    void ResetSettings();
    // Runs the job in the calling thread; never raises.
    void Run();
    // The passes of a job with a size to fit (FitSize.cpp); raises on failure.
    void RunFitted();
    void NotifyTerminated();
    // The worker's safe point: waits while the job is paused.
    void WaitWhilePaused();
    void MarkStopRequested();

    std::unique_ptr<TEngineState> FState;
    std::recursive_mutex ThreadLock;  // guards WorkerThread
    std::shared_ptr<TLiveThreads> LiveThreads = std::make_shared<TLiveThreads>();
    bool TerminatePending = false;  // a TDoTerminateThread is on its way
    // The pass of a job with a size to fit, 1 or 2; 0 for a single pass.
    // Progress reports the first pass as the first half of the job.
    int FitPass = 0;
};

// The level by which library log lines are filtered before they reach the
// components, in the engine's scale (-1 quiet … 3 everything). Written by
// the `v` option and by the component; read by the library log handler.
extern std::atomic<int> LibraryLogFilterLevel;
