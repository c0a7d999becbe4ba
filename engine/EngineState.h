// The engine's inside: the job tables that opening the files fills, the
// statistics and buffers of the transcode, the default contexts of the
// generic options and the frame-hook state, with the routines the engine's
// files share over them. The engine and its tests include this header;
// everything else uses the engine through FFmpeg.h.
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
#include <cstdio>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "engine/FFmpeg.h"
#include "engine/FrameHook.h"
#include "engine/OutputTarget.h"

constexpr int MAX_STREAMS = 20;  // streams per output file, stream index limit of itsscale
constexpr int MAX_FILES = 20;    // entries of the input and output file tables
constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;
constexpr int MAX_META_DATA_MAPS = 20;

struct TStreamMap {
    int FileIndex = 0, StreamIndex = 0, SyncFileIndex = 0, SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int OutFile = 0, InFile = 0;
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

struct TEngineState {
    TPrivateOptions PrivateOptions;

    // Job tables.
    AVFormatContext* InputFiles[MAX_FILES] = {};
    int64_t InputTsOffset[MAX_FILES] = {};
    int64_t InputStart[MAX_FILES] = {};
    // What a copy of every stream converts or leaves out, said when the job runs.
    std::vector<std::string> StreamNotes;  // µs, the start position asked for; 0 = the beginning
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
    // The hidden file each output is written into, and whether its trailer
    // was written: only a complete file gets its final name.
    TOutputTarget OutputTargets[MAX_FILES];
    bool OutputComplete[MAX_FILES] = {};
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
    double OutputSeconds = 0;  // the output's length at the last report
    int FramesDuplicated = 0, FramesDropped = 0;
    int64_t TimerStart = 0;
    int VideoBufferSize = 262144;
    std::vector<TCodecNode> OpenEncoders, OpenDecoders;
    FILE* VStatsFile = nullptr;

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

    // Stop requests and blocked I/O.
    std::atomic<bool> ReadInProgress{false};  // the worker is inside a demuxer read

    // Empties the job tables and zeroes the statistics and the hook state;
    // what they hold must have been released.
    void Reset();
    void CreateOptionContexts(int AScalerFlags);
    void FreeOptionContexts();
    // Closes the codecs still open (under the codec lock) and frees the nodes.
    void CloseOpenCodecs();
    // Releases the plug-in chain, its arguments and the hook buffers.
    void ReleaseHookState();
    // Frees what the stream makers left in the slot of output file AFile.
    void ReleaseOutputSlot(int AFile);
    // The index of an opened output file; OutputFileCount for the file
    // being created.
    int OutputFileIndex(const AVFormatContext* AOutput) const;
    // "At least one output file must be specified" when there is none.
    AVFormatContext* LastOutputFile() const;
    // Which kinds of streams the opened inputs have.
    void CheckInputStreamTypes(bool& HasVideo, bool& HasAudio, bool& HasSubtitle) const;
};

// The process-wide lock that serialises opening and closing codecs and
// probing stream information across all engines.
std::recursive_mutex& CodecLock();

// The library's interrupt callback for the engine's files: a stop request
// ends a blocked read at once and leaves writes alone, so that a stopped job
// always finishes its file.
AVIOInterruptCB InterruptHandler(TCustomFFmpeg& E);

// Codec id of the named encoder or decoder; AV_CODEC_ID_NONE for an empty
// name. False with ErrorText set when there is none or its type differs.
bool FindCodec(TCustomFFmpeg& E, const std::string& AName, AVMediaType AType, bool AEncoder, AVCodecID& AId);
// The name under which a generic option set earlier lives in ADefaults for
// AFlags ("ab" is "b" in the audio defaults), or empty.
std::string ResolveOptionName(const TEngineState& AState, const std::string& AName, void* ADefaults, int AFlags);
// Copies the generic options set so far from ADefaults into AContext.
void ApplyOptionNames(TCustomFFmpeg& E, void* AContext, void* ADefaults, int AFlags);
// Applies the texts given to the flag option AName to AContext; false when
// none were recorded.
bool ApplyFlagTexts(const TEngineSettings& ASettings, void* AContext, void* ADefaults, const std::string& AName,
                    const std::string& AActual);

// The stream makers (OutputFile.cpp): add a stream to AOutput with the
// pending settings, which they consume.
void NewVideoStream(TCustomFFmpeg& E, AVFormatContext* AOutput);
void NewAudioStream(TCustomFFmpeg& E, AVFormatContext* AOutput);
void NewSubtitleStream(TCustomFFmpeg& E, AVFormatContext* AOutput);
// With "copystreams" (CopyStreams.cpp): a stream of AOutput for every
// stream of the inputs, each mapped to its source.
void NewStreamsForEveryInput(TCustomFFmpeg& E, AVFormatContext* AOutput);
// The first input's tags, its streams' tags (pairs of output and source
// stream) and its chapters, moved and cut to a trim.
void CopyAllTags(const TEngineSettings& S, const TEngineState& AState, AVFormatContext* AOutput,
                 const std::vector<std::pair<AVStream*, const AVStream*>>& AStreams);
// Logs where the copy of a trimmed stream starts; APacketTime is the first
// packet's time in µs from the start of the trim.
void NoteCopyStart(TCustomFFmpeg& E, int AInputFile, int AInput, int AOutputFile, int AOutputStream,
                   int64_t APacketTime);
