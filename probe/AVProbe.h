// The media probe: the format, tags and streams of one media file, its
// information text, and single decoded pictures for previews and snapshots.
//
// Owner mode (OpenFile) opens the file itself and may seek and decode.
// Attached mode (AttachContext) reads a demuxer context that a conversion
// job owns: it only answers questions, refuses to seek or decode, and never
// closes the borrowed context.
//
// Log lines go through the library's log function: level 0 as AV_LOG_ERROR,
// 1 as AV_LOG_INFO, 2 as AV_LOG_DEBUG.
//
// Implementation files:
//   AVProbe.cpp       opening, attaching, counting, queries, information text
//   FrameExtract.cpp  Seek, DecodeFrame, LastFrame
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/LibAV.h"
#include "common/Bitmap.h"

// Raised for a missing library, a refused operation on an attached probe
// and a decoder that cannot be found or opened.
class EAVProbeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Container-level information. The values are those for "no file loaded"
// until GetFileInfo fills them.
struct TAVFileInfo {
    int64_t StartTime = -1;  // µs; AV_NOPTS_VALUE when unknown
    int64_t Duration = -1;   // µs; AV_NOPTS_VALUE when unknown
    int64_t BitRate = -1;    // bits per second; 0 when unknown
    int64_t TimeStamp = -1;  // creation time, seconds since 1970 UTC; 0 when absent
    std::string Title, Author, Copyright, Comment, Album;
    int Year = -1;
    int Track = -1;
    std::string Genre;
};

struct TAVVideoStreamInfo {
    std::string Language;   // ISO 639 code, empty without a tag
    std::string CodecName;  // short name of the stream's codec
    std::string CodecLongName;  // its descriptive name; empty when the library has none
    int64_t StartTimeRaw = -1;  // stream time base
    int64_t StartTimeUs = -1;   // µs; -1 when the start time is unknown
    int64_t DurationRaw = -1;
    int64_t DurationUs = -1;
    int64_t BitRate = -1;
    int Height = -1;
    int Width = -1;
    float AspectRatio = -1.0f;  // display aspect ratio
    int PixelFormat = -1;
    int FrameRateNum = -1, FrameRateDen = -1;  // real base frame rate
    int SarNum = 0, SarDen = 0;  // sample aspect as stored; 0 when unknown (square)
    // How players show the picture: turned clockwise by Rotation degrees
    // (0, 90, 180 or 270), then mirrored left to right when Mirrored.
    int Rotation = 0;
    bool Mirrored = false;
    bool Interlaced = false;       // the stream's field order says interlaced
    bool AttachedPicture = false;  // a cover picture, not a moving video
};

// The orientation a display matrix (nine 16.16 numbers, the container's
// side data) asks players for. The library's angle is the counter-clockwise
// turn players apply, so a phone's -90 is shown turned 90 degrees clockwise.
struct TDisplayOrientation {
    int Rotation = 0;  // clockwise degrees: 0, 90, 180, 270
    bool Mirrored = false;
};
TDisplayOrientation DisplayOrientation(const int32_t* Matrix);

struct TAVAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    std::string CodecLongName;
    int64_t StartTimeRaw = -1;
    int64_t StartTimeUs = -1;
    int64_t DurationRaw = -1;
    int64_t DurationUs = -1;
    int64_t BitRate = -1;
    int Channels = -1;
    std::string ChannelLayout;  // "stereo", "5.1(side)", "2 channels"
    int SampleRate = -1;
    int SampleFormat = -1;
};

// One line of a file's stream list.
struct TAVStreamEntry {
    int Index = -1;
    int Kind = -1;              // AVMediaType
    std::string CodecName, CodecLongName;
    // The stream's language tag, else the container's (an MP3's ID3
    // language belongs to its one stream).
    std::string Language;
    int64_t BitRate = 0;        // bits per second; 0 when the stream has none
    bool AttachedPicture = false;
    bool Default = false;
};

class TAVProbe {
public:
    TAVProbe();
    virtual ~TAVProbe();
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;

    // Opens FileName; FormatName forces an input format (empty: detect).
    // Raises EAVProbeError when a library is missing; any other failure
    // returns false with LastError set and no file loaded.
    bool OpenFile(const std::string& FileName, const std::string& FormatName = "");
    // The same for a file read through Reader, which the caller keeps and
    // frees after CloseFile; Name stands for the file in the texts.
    bool OpenStream(AVIOContext* Reader, const std::string& Name, const std::string& FormatName = "");
    // Reads a context opened elsewhere; the caller keeps owning it.
    void AttachContext(AVFormatContext* Context);
    // Forgets the file; closes it only in owner mode. Safe to repeat.
    void CloseFile();
    // The open file's demuxer with its ownership, for a reader that starts
    // at the first packet: only while nothing but the opening has read or
    // sought it, and only when the probe owns it. nullptr otherwise. The
    // probe is closed either way.
    AVFormatContext* TakeContext();

    void GetFileInfo(TAVFileInfo& Info);
    // A negative index means the first stream of the type.
    void GetVideoStreamInfo(int StreamIndex, TAVVideoStreamInfo& Info);
    void GetAudioStreamInfo(int StreamIndex, TAVAudioStreamInfo& Info);
    // Every stream of the file in order; empty without a file.
    std::vector<TAVStreamEntry> GetStreams();
    // The container's descriptive name ("QuickTime / MOV"); the short name
    // when it has none.
    std::string GetFormatLongName();
    // Lines separated by CR LF; empty without a file.
    std::string GetInfoText();
    std::string GetFileName();
    std::string GetFormatName();
    int64_t GetFileSize();
    bool IsVideoStream(int StreamIndex);
    bool IsAudioStream(int StreamIndex);
    // A still picture: the image demuxer or one of the image pipes
    // ("png_pipe", ...), which today's library picks for many picture files.
    bool IsStillImage() const;

    // How the next DecodeFrame after a Seek finds its picture.
    enum TSeekMode {
        smExact,     // the picture shown at Position: decoded forward from the key frame before it
        smKeyFrame,  // the key frame at or before Position: cheap, for a slider being dragged
    };
    // Moves the read position to Position µs (negative StreamIndex: the
    // first video, audio or subtitle stream, else the container).
    bool Seek(int StreamIndex, int64_t Position, TSeekMode Mode = smExact);
    // Decodes the next picture of the stream (negative: the first video
    // stream) into FrameBitmap, BGR24, top row first. Black at the end of
    // the file, 0 x 0 when there is nothing to decode or when no picture
    // has come yet and the stream claims more than MaxDeclaredPixels.
    TBitmap& DecodeFrame(int StreamIndex = -1);
    // 8192 x 8192: more than the pictures of 8K video.
    static constexpr int64_t MaxDeclaredPixels = int64_t(8192) * 8192;
    // The unit of every time the probe takes and reports.
    static constexpr AVRational MicrosecondBase = {1, 1000000};
    // A copy of the last real picture that DecodeFrame gave.
    TBitmap& LastFrame();
    // Decoders opened over the probe's life: what reading pictures costs.
    int DecodersOpened() const { return FDecodersOpened; }
    // The bitmap DecodeFrame fills (empty until the first call).
    TBitmap& FrameBitmap();
    // A viewer that shows FrameBitmap without copying it hands over how to
    // copy it. The copy runs once: before the bitmap next changes (a decode,
    // closing, the probe's end) or when the same Owner asks for it. A later
    // keeper replaces this one.
    void KeepPictureBeforeChange(const void* Owner, std::function<void()> Keep);
    // Drops Owner's keeper: Owner replaces the picture itself.
    void ForgetPictureKeeper(const void* Owner);
    // Runs Owner's keeper now if it is still waiting.
    void KeepPictureNow(const void* Owner);

    AVFormatContext* Context() const { return FContext; }
    bool OwnsContext() const { return FOwnsContext; }
    const std::string& LastError() const { return FLastError; }
    const std::string& ForcedFormat() const { return FForcedFormat; }
    int StreamCount() const { return FStreamCount; }
    int ProgramCount() const { return FProgramCount; }
    int AudioStreamCount() const { return FAudioStreamCount; }
    int VideoStreamCount() const { return FVideoStreamCount; }
    int FirstAudioStream() const { return FFirstAudioStream; }
    int FirstVideoStream() const { return FFirstVideoStream; }

    // Writes one line to the library's log; Level 0, 1 or 2 as above.
    static void Log(int Level, const std::string& Text);

private:
    void CheckLibraries() const;
    void CountStreams();
    // True with a file; otherwise logs "file not loaded." at Level.
    bool FileLoaded(int Level = 1) const;
    int64_t ContextFileSize() const;
    std::string StreamLine(int Index);
    // The stream of Kind at Index, or the first one of Kind (First) when
    // Index < 0; null, with the log line saying why, when there is none.
    const AVStream* StreamOfKind(int Index, int First, int Kind, const char* KindName) const;
    int MapOpenError(const std::string& FileName, int Code, AVIOContext* Reader) const;
    bool Open(const std::string& FileName, const std::string& FormatName, AVIOContext* Reader);

    // Frame extraction helpers.
    void OpenDecoder(int StreamIndex);
    void CloseDecoder();
    bool ReceivePicture(int StreamIndex);
    // With an exact seek pending: true when Picture ends before the target
    // and is to be passed over.
    bool BeforeTarget(const AVFrame* Picture) const;
    // The decoder's first picture after an exact seek lies past the target,
    // or the file ended before one came (null Picture): a demuxer without
    // an index landed late, so this seeks further back once more.
    bool SeekedTooLate(const AVFrame* Picture);
    void ForgetTarget();
    bool ConvertPicture(const AVFrame* Picture);
    // Copies the frame bitmap into LastFrame if it holds a picture not yet
    // copied; called before the bitmap changes other than by a new picture.
    void KeepLastFrame();
    // Runs the waiting keeper, if any; called before the bitmap changes.
    void RunPictureKeeper();

    AVFormatContext* FContext = nullptr;
    bool FOwnsContext = false;
    bool FContextMoved = false;  // a seek or a packet read since the opening
    std::string FLastError;
    std::string FForcedFormat;
    int FStreamCount = -1;
    int FProgramCount = -1;
    int FAudioStreamCount = -1;
    int FVideoStreamCount = -1;
    int FFirstAudioStream = -1;
    int FFirstVideoStream = -1;
    int FFirstSubtitleStream = -1;

    AVCodecContext* FDecoder = nullptr;  // decoder of FDecoderStream
    int FDecoderStream = -1;
    bool FDraining = false;  // the end of the file reached the decoder
    int FDecodersOpened = 0;
    AVFrame* FPicture = nullptr;
    AVPacket* FPacket = nullptr;
    SwsContext* FScaler = nullptr;
    // The exact seek waiting for its picture: the target in the stream's
    // time base, the timestamp sought, whether a picture came since, and
    // the last picture passed over, which is the target's own when the
    // file ends first.
    int64_t FTargetTs = AV_NOPTS_VALUE;
    int FTargetStream = -1;
    int64_t FSoughtTs = AV_NOPTS_VALUE;
    int FSeekRetries = 0;
    bool FPictureSinceSeek = false;
    AVFrame* FPassed = nullptr;
    std::unique_ptr<TBitmap> FFrameBitmap;
    std::unique_ptr<TBitmap> FLastFrame;
    // The frame bitmap holds the last real picture and LastFrame does not
    // yet: copying it only when asked or before it is overwritten spares a
    // full-picture copy on every step of a preview.
    bool FLastFramePending = false;
    bool FStillImage = false;  // the last picture came from a still image
    const void* FKeeperOwner = nullptr;
    std::function<void()> FPictureKeeper;
};
