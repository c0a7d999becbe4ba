// Running whole jobs and reading their outputs back with the libraries.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/EngineTestSupport.h"

// One job: options before the input, options before the output, run in the
// caller's thread.
struct TJob {
    std::vector<std::pair<std::string, std::string>> InputOptions, OutputOptions;
    std::function<void(TCustomFFmpeg&)> Prepare;  // after the options, before the files
};

inline TJob Options(std::vector<std::pair<std::string, std::string>> AOutput,
                    std::vector<std::pair<std::string, std::string>> AInput = {}) {
    TJob Job;
    Job.InputOptions = std::move(AInput);
    Job.OutputOptions = std::move(AOutput);
    return Job;
}

// Runs a job to its end; returns the engine's error message ("" on success).
inline std::string RunJob(TCustomFFmpeg& Engine, const std::string& AInput, const std::string& AOutput,
                          const TJob& AJob = {}) {
    for (auto& [Name, Value] : AJob.InputOptions) Engine.SetOption(Name, Value);
    if (!Engine.OpenInputFile(AInput)) return "open input: " + Engine.ErrorText;
    for (auto& [Name, Value] : AJob.OutputOptions) Engine.SetOption(Name, Value);
    if (AJob.Prepare) AJob.Prepare(Engine);
    if (!Engine.OpenOutputFile(AOutput)) return "open output: " + Engine.ErrorText;
    Engine.Start(false, tpNormal);
    return Engine.ErrorOccurred ? Engine.ErrorMessage : "";
}

// What a file holds, read with the libraries; pictures decoded on request.
struct TStreamFacts {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID Codec = AV_CODEC_ID_NONE;
    int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
    unsigned Tag = 0;
    double Duration = 0;  // seconds, from the decoded timestamps
    double Start = 0;     // seconds, first timestamp
    int Frames = 0;       // decoded pictures or audio frames
    int64_t Samples = 0;  // decoded audio samples
    int DecodeErrors = 0;
};

struct TFileFacts {
    bool Opened = false;
    std::string Format;
    std::vector<TStreamFacts> Streams;
    const TStreamFacts* First(AVMediaType AType) const {
        for (auto& S : Streams)
            if (S.Type == AType) return &S;
        return nullptr;
    }
};

// Decodes the whole file. AOnPicture sees every decoded video frame and
// AOnAudio every decoded audio frame.
inline TFileFacts ReadBack(const std::string& AFile, std::function<void(const AVFrame*)> AOnPicture = {},
                           std::function<void(const AVFrame*)> AOnAudio = {}) {
    TFileFacts Facts;
    AVFormatContext* In = nullptr;
    if (av::avformat_open_input(&In, AFile.c_str(), nullptr, nullptr) < 0) return Facts;
    if (av::avformat_find_stream_info(In, nullptr) < 0) {
        av::avformat_close_input(&In);
        return Facts;
    }
    Facts.Opened = true;
    Facts.Format = In->iformat->name;
    std::vector<AVCodecContext*> Decoders(In->nb_streams, nullptr);
    std::vector<int64_t> First(In->nb_streams, AV_NOPTS_VALUE), Last(In->nb_streams, AV_NOPTS_VALUE);
    for (unsigned i = 0; i < In->nb_streams; ++i) {
        AVCodecParameters* Par = In->streams[i]->codecpar;
        TStreamFacts S;
        S.Type = Par->codec_type;
        S.Codec = Par->codec_id;
        S.Width = Par->width;
        S.Height = Par->height;
        S.SampleRate = Par->sample_rate;
        S.Channels = Par->ch_layout.nb_channels;
        S.Tag = Par->codec_tag;
        Facts.Streams.push_back(S);
        const AVCodec* Codec = av::avcodec_find_decoder(Par->codec_id);
        if (!Codec || (S.Type != AVMEDIA_TYPE_VIDEO && S.Type != AVMEDIA_TYPE_AUDIO)) continue;
        AVCodecContext* C = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(C, Par);
        C->pkt_timebase = In->streams[i]->time_base;
        if (av::avcodec_open2(C, Codec, nullptr) < 0)
            av::avcodec_free_context(&C);
        Decoders[i] = C;
    }
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    auto Drain = [&](unsigned Index) {
        AVCodecContext* C = Decoders[Index];
        while (true) {
            int R = av::avcodec_receive_frame(C, Frame);
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) break;
            if (R < 0) {
                ++Facts.Streams[Index].DecodeErrors;
                break;
            }
            TStreamFacts& S = Facts.Streams[Index];
            ++S.Frames;
            int64_t Pts = Frame->best_effort_timestamp;
            int64_t End = Pts;
            if (Pts != AV_NOPTS_VALUE) {
                if (S.Type == AVMEDIA_TYPE_AUDIO)
                    End = Pts + av::av_rescale_q(Frame->nb_samples, AVRational{1, Frame->sample_rate},
                                                 In->streams[Index]->time_base);
                else
                    End = Pts + std::max<int64_t>(Frame->pkt_duration, 0);
                if (First[Index] == AV_NOPTS_VALUE || Pts < First[Index]) First[Index] = Pts;
                if (Last[Index] == AV_NOPTS_VALUE || End > Last[Index]) Last[Index] = End;
            }
            if (S.Type == AVMEDIA_TYPE_AUDIO) {
                S.Samples += Frame->nb_samples;
                if (AOnAudio) AOnAudio(Frame);
            } else if (AOnPicture) {
                AOnPicture(Frame);
            }
            av::av_frame_unref(Frame);
        }
    };
    while (av::av_read_frame(In, Packet) >= 0) {
        unsigned Index = unsigned(Packet->stream_index);
        if (Index < Decoders.size() && Decoders[Index]) {
            if (av::avcodec_send_packet(Decoders[Index], Packet) < 0) ++Facts.Streams[Index].DecodeErrors;
            Drain(Index);
        }
        av::av_packet_unref(Packet);
    }
    for (unsigned i = 0; i < Decoders.size(); ++i) {
        if (!Decoders[i]) continue;
        av::avcodec_send_packet(Decoders[i], nullptr);
        Drain(i);
        AVRational Tb = In->streams[i]->time_base;
        if (First[i] != AV_NOPTS_VALUE) {
            Facts.Streams[i].Start = double(First[i]) * av_q2d(Tb);
            Facts.Streams[i].Duration = double(Last[i] - First[i]) * av_q2d(Tb);
        }
        av::avcodec_free_context(&Decoders[i]);
    }
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avformat_close_input(&In);
    return Facts;
}

// The luma value at a point of a decoded picture.
inline int LumaAt(const AVFrame* AFrame, int AX, int AY) { return AFrame->data[0][AY * AFrame->linesize[0] + AX]; }

class TranscodeTest : public EngineTest {
protected:
    std::filesystem::path Folder;
    void SetUp() override {
        EngineTest::SetUp();
        av::av_log_set_level(AV_LOG_ERROR);
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = ScratchFolder(std::string(Info->test_suite_name()) + "." + Info->name());
    }
    std::string Out(const std::string& AName) const { return (Folder / AName).string(); }
};
