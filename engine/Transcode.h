// The transcode of one job: the per-job records and the routine that runs
// from the first header to the last trailer.
//
//   TranscodeSetup.cpp   records, stream binding, codec parameters, filters,
//                        encoders and decoders, headers
//   TranscodeLoop.cpp    read loop, packet processing, subtitles, packet
//                        writer, end of the job
//   TranscodeAudio.cpp   the audio output path
//   TranscodeVideo.cpp   the video output path
//   TranscodeReport.cpp  progress report and video statistics
//   Preprocess.cpp       deinterlacing and frame hooks
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "engine/EngineState.h"

// A picture as the hooks and the video path see it: four plane pointers
// and four line sizes, pixels owned elsewhere.
using TPicture = TFrameHookPicture;

// Writes AProfileLevel into every MPEG-4 visual object sequence header
// (00 00 01 B0) of AData.
void SetMpeg4ProfileLevel(uint8_t* AData, int ASize, int AProfileLevel);

struct TInputFileRecord {
    bool EofReached = false;
    int FirstStream = 0;
    int StreamCount = 0;
};

struct TInputStreamRecord {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* Stream = nullptr;
    AVCodecContext* Codec = nullptr;  // decoder context of the stream
    bool Discard = true;
    bool DecodingNeeded = false;
    bool RateEmulation = false;
    int64_t StartTime = 0;  // µs, wall clock
    int FrameCount = 0;
    int64_t NextPts = AV_NOPTS_VALUE;  // µs
    int64_t Pts = 0;                   // µs
    bool IsStart = true;
    int Quality = 0;  // of the last decoded picture
    // Video filter graph: "src" feeds it, "out" ends it.
    AVFilterGraph* Graph = nullptr;
    AVFilterContext* InFilter = nullptr;
    AVFilterContext* OutFilter = nullptr;
    AVFrame* Still = nullptr;  // a cover picture, repeated for the length of the sound
    bool InterlaceChecked = false;  // the first picture has said whether it is interlaced
    bool Deinterlace = false;       // the graph starts with the deinterlacer
};

// What a scaler was made for: source width, height and pixel format.
struct TScalerSource {
    int Width = 0, Height = 0;
    AVPixelFormat Format = AV_PIX_FMT_NONE;
    bool operator==(const TScalerSource&) const = default;
};

struct TOutputStreamRecord {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SourceIndex = 0;
    AVFormatContext* File = nullptr;
    AVStream* Stream = nullptr;
    AVCodecContext* Codec = nullptr;  // encoder context (for a copy: parameters only)
    const TOutputStreamSetup* Setup = nullptr;
    std::vector<AVBSFContext*>* Filters = nullptr;  // bitstream filter chain
    bool EncodingNeeded = false;
    bool StreamCopy = false;
    int FrameNumber = 0;
    TInputStreamRecord* SyncStream = nullptr;
    int64_t SyncOpts = 0;
    // The unit of SyncOpts: the encoder's time base; for a copied video the
    // input's frame duration.
    AVRational CodecTimeBase = {1, 25};
    int64_t MuxEnd = 0;  // end of the last packet handed to the muxer, stream time base

    // Video.
    bool VideoResample = false, VideoCrop = false, VideoPad = false;
    int CropTop = 0, CropLeft = 0;
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int ScaleHeight = 0;
    AVFrame* TempPicture = nullptr;
    SwsContext* ScalerContext = nullptr;
    TScalerSource ScalerSource;
    int64_t LastVideoPts = AV_NOPTS_VALUE;  // encoders refuse pts that do not increase
    // What the encoder said about its last picture.
    int CodedQuality = 0;
    int CodedPictType = 0;
    int64_t CodedError[4] = {};
    // The profile-and-level byte the MPEG-4 headers are made to carry, or -1.
    int ProfileLevel = -1;

    // Audio.
    bool AudioResample = false;
    SwrContext* Resampler = nullptr;
    // What the resampler was made for: decoder format, rate and channels.
    int ResamplerInput[3] = {-1, 0, 0};
    AVAudioFifo* Fifo = nullptr;
    int64_t NextAudioPts = AV_NOPTS_VALUE;  // samples, encoder time base
    std::vector<uint8_t> Padding;           // block with leading silence
    std::vector<uint8_t> Converted;         // resampler output, encoder format

    AVFrame* EncodeFrame = nullptr;  // reused input frame of the encoder
    FILE* LogFile = nullptr;         // pass-1 statistics
    std::string LoggedStats;         // the statistics written last
};

class TTranscoder {
public:
    explicit TTranscoder(TCustomFFmpeg& AEngine);
    ~TTranscoder();
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    // Runs the job; raises FFMpegException on failure.
    void Run();

private:
    TCustomFFmpeg& E;
    TEngineSettings& S;
    TEngineState& State;
    std::vector<TInputFileRecord> Files;
    std::vector<std::unique_ptr<TInputStreamRecord>> Inputs;
    std::vector<std::unique_ptr<TOutputStreamRecord>> Outputs;
    AVFrame* Decoded = nullptr;
    AVFrame* Filtered = nullptr;
    AVPacket* Packet = nullptr;
    AVPacket* OutPacket = nullptr;
    std::vector<uint8_t> Samples;          // decoded audio, packed
    std::vector<uint8_t> SubtitleBuffer;   // encoded subtitles
    int64_t LastReport = 0;

    // TranscodeSetup.cpp
    void Setup();
    void BindStreams();
    void NoteLeftOut();
    void SetUpCopy(TOutputStreamRecord& AOst, TInputStreamRecord& AIst);
    void SetUpEncoding(TOutputStreamRecord& AOst, TInputStreamRecord& AIst);
    void OpenPassLog(TOutputStreamRecord& AOst, int AIndex);
    void OpenEncoders();
    void OpenDecoders();
    void OpenDecoder(TInputStreamRecord& AIst);
    void InitBitstreamFilters(TOutputStreamRecord& AOst);
    void CopyMetadata();
    void WriteHeaders();
    int ConfigureFilters(TInputStreamRecord& AIst, TOutputStreamRecord& AOst);
    // Puts a deinterlacer in front of the stream's pictures when its first
    // picture or its container says it is interlaced.
    void CheckInterlace(TInputStreamRecord& AIst, int AIndex, const AVFrame* AFrame);
    // A graph of the deinterlacer alone, for a job without filters.
    int ConfigureDeinterlacer(TInputStreamRecord& AIst, const AVFrame* AFrame);
    AVFilterContext* NewDeinterlacer(TInputStreamRecord& AIst, const AVFrame* AFrame);
    [[noreturn]] void Fail(const std::string& AMessage);
    // The error of a write to output file AFile that the file system
    // refused (full, over a size limit, read-only, failing), or 0.
    int WriteError(int AFile, int AResult) const;
    // Fails the job with the file's name and the reason; the unfinished
    // file goes when the job is cleared.
    [[noreturn]] void FailWrite(int AFile, int ACode);

    // TranscodeLoop.cpp
    void ReadLoop();
    void FinishJob();
    int ProcessPacket(TInputStreamRecord& AIst, int AIndex, AVPacket* APacket);
    int DecodeSubtitle(TInputStreamRecord& AIst, int AIndex, AVPacket* APacket);
    void HandleAudio(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame);
    void HandleVideo(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame);
    // Pre-processes, filters and encodes a picture whose time AIst.Pts holds.
    void PushPicture(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame);
    // Encodes what the stream's filter graph has ready; AFlush first tells
    // the graph that no picture follows.
    void DrainGraph(TInputStreamRecord& AIst, int AIndex, bool AFlush);
    void FanOut(TInputStreamRecord& AIst, int AIndex, TPicture& APicture, const AVFrame* AFrame);
    void EmulateRate(TInputStreamRecord& AIst);
    bool PastStart(const TInputStreamRecord& AIst) const;
    void CopyPacket(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, AVPacket* APacket);
    void FlushEncoders(int AIndex);
    void EncodeSubtitle(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, AVSubtitle* ASubtitle, int64_t APts);
    void DrainEncoder(TOutputStreamRecord& AOst);
    void WritePacket(TOutputStreamRecord& AOst, AVPacket* APacket);
    double OutputTime(const TOutputStreamRecord& AOst) const;
    // Samples of the output given to the encoder or waiting in its FIFO.
    static int64_t AcceptedSamples(const TOutputStreamRecord& AOst);

    // TranscodeAudio.cpp
    void EncodeAudio(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, uint8_t* AData, int ASize);
    int KeptSamples(const TOutputStreamRecord& AOst, int ACount) const;
    void EnsureResampler(TOutputStreamRecord& AOst, TInputStreamRecord& AIst);
    static bool PositionalAudio(const TOutputStreamRecord& AOst);
    void LeadWithSilence(TOutputStreamRecord& AOst);
    void EncodeAudioFrames(TOutputStreamRecord& AOst, bool AFlush);
    void ApplyVolume(AVSampleFormat AFormat, uint8_t* AData, int ASize);

    // TranscodeVideo.cpp
    void EncodeVideo(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, TPicture& APicture,
                     const AVFrame* AFrame, int& ASize);
    void PadPicture(TOutputStreamRecord& AOst, AVFrame* AFinal);
    void MatchScaler(TOutputStreamRecord& AOst, int AWidth, int AHeight, AVPixelFormat AFormat);
    // Shows every cover picture up to AUntil (µs) in the outputs it feeds.
    void RepeatStills(int64_t AUntil);

    // TranscodeReport.cpp
    void ReportProgress(bool AIsLast);
    void WriteVideoStats(TOutputStreamRecord& AOst, int AFrameSize);

    // Preprocess.cpp
    void PreprocessVideoFrame(TInputStreamRecord& AIst, TPicture& APicture, AVPixelFormat AFormat, int AWidth,
                              int AHeight);
};

// Crops a picture to a view ATop rows down and ALeft columns in.
bool CropPictureView(TPicture& AView, const TPicture& APicture, AVPixelFormat AFormat, int ATop, int ALeft);
// Paints the borders of a planar YUV picture in a Y, U, V colour.
bool PaintPictureBorders(TPicture& APicture, AVPixelFormat AFormat, int AWidth, int AHeight, int ATop,
                         int ABottom, int ALeft, int ARight, const int AColor[3]);
// Deinterlaces an 8-bit planar picture into ATarget by a vertical blend.
bool DeinterlacePicture(TPicture& ATarget, const TPicture& ASource, AVPixelFormat AFormat, int AWidth, int AHeight);
