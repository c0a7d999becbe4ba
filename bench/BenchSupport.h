// What the benchmarks share: failing loudly, and a moving 4:2:0 test source
// written with the libraries, whose texture keeps decoder and encoder busy.
#pragma once

#include <errno.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

[[noreturn]] inline void Die(const std::string& AText) {
    fprintf(stderr, "%s: %s\n", program_invocation_short_name, AText.c_str());
    exit(1);
}

inline void Check(int AResult, const char* AWhat) {
    if (AResult < 0) {
        char Text[128];
        av_strerror(AResult, Text, sizeof Text);
        Die(std::string(AWhat) + ": " + Text);
    }
}

// A scrolling gradient with noise-like texture and a moving box.
inline void DrawMovingTexture(AVFrame* F, int Index) {
    for (int Y = 0; Y < F->height; ++Y)
        for (int X = 0; X < F->width; ++X) {
            unsigned Hash = (X * 73856093u) ^ (Y * 19349663u) ^ (Index * 83492791u);
            int Texture = static_cast<int>((Hash >> 13) & 15);
            bool Box = std::abs(X - 20 * Index % F->width) < 60 && Y > F->height * 10 / 27 && Y < F->height * 5 / 9;
            F->data[0][Y * F->linesize[0] + X] = static_cast<uint8_t>(16 + ((X + 2 * Index) % 180) + Texture + (Box ? 20 : 0));
        }
    for (int Y = 0; Y < F->height / 2; ++Y)
        for (int X = 0; X < F->width / 2; ++X) {
            F->data[1][Y * F->linesize[1] + X] = static_cast<uint8_t>(128 + ((X + Index) % 64) - 32);
            F->data[2][Y * F->linesize[2] + X] = static_cast<uint8_t>(128 + ((Y + Index) % 64) - 32);
        }
}

// A 25 fps source without sound. Encoder options are the codec's private
// ones ("preset", "crf"); a bit rate of 0 leaves the rate to them.
struct TBenchSource {
    std::string Codec;
    int Width = 0, Height = 0, Frames = 0;
    AVRational Sar = {1, 1};
    int Gop = 25, BFrames = -1;
    int64_t BitRate = 0, MaxRate = 0, BufferSize = 0;
    std::string Preset, Crf;
};

inline void WriteBenchSource(const std::string& AFile, const TBenchSource& A) {
    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AFile.c_str()), "output");
    const AVCodec* Codec = avcodec_find_encoder_by_name(A.Codec.c_str());
    if (!Codec) Die("no " + A.Codec);
    AVStream* Stream = avformat_new_stream(Out, nullptr);
    AVCodecContext* C = avcodec_alloc_context3(Codec);
    C->width = A.Width;
    C->height = A.Height;
    C->sample_aspect_ratio = Stream->sample_aspect_ratio = A.Sar;
    C->pix_fmt = AV_PIX_FMT_YUV420P;
    C->time_base = {1, 25};
    C->framerate = {25, 1};
    C->gop_size = A.Gop;
    if (A.BFrames >= 0) C->max_b_frames = A.BFrames;
    C->bit_rate = A.BitRate;
    C->rc_max_rate = A.MaxRate;
    C->rc_buffer_size = static_cast<int>(A.BufferSize);
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!A.Preset.empty()) av_opt_set(C->priv_data, "preset", A.Preset.c_str(), 0);
    if (!A.Crf.empty()) av_opt_set(C->priv_data, "crf", A.Crf.c_str(), 0);
    Check(avcodec_open2(C, Codec, nullptr), "source encoder");
    avcodec_parameters_from_context(Stream->codecpar, C);
    Stream->time_base = C->time_base;
    Check(avio_open(&Out->pb, AFile.c_str(), AVIO_FLAG_WRITE), "open source");
    Check(avformat_write_header(Out, nullptr), "source header");
    AVFrame* F = av_frame_alloc();
    F->format = C->pix_fmt;
    F->width = C->width;
    F->height = C->height;
    Check(av_frame_get_buffer(F, 0), "frame");
    AVPacket* P = av_packet_alloc();
    auto Drain = [&] {
        while (avcodec_receive_packet(C, P) == 0) {
            av_packet_rescale_ts(P, C->time_base, Stream->time_base);
            P->stream_index = 0;
            av_interleaved_write_frame(Out, P);
        }
    };
    for (int I = 0; I < A.Frames; ++I) {
        av_frame_make_writable(F);
        DrawMovingTexture(F, I);
        F->pts = I;
        Check(avcodec_send_frame(C, F), "encode source");
        Drain();
    }
    avcodec_send_frame(C, nullptr);
    Drain();
    av_write_trailer(Out);
    avio_closep(&Out->pb);
    av_packet_free(&P);
    av_frame_free(&F);
    avcodec_free_context(&C);
    avformat_free_context(Out);
}

// The floors' loop: decodes stream AIndex of AIn with ADecoder, encodes each
// picture as APrepare hands it over (numbered here) into AOut's stream
// AOst, drains both codecs and writes the trailer. Frees its own packets and
// frame; the contexts stay the caller's.
inline void DecodeEncodeLoop(AVFormatContext* AIn, int AIndex, AVCodecContext* ADecoder, AVCodecContext* AEncoder,
                             AVFormatContext* AOut, AVStream* AOst, const std::function<AVFrame*(AVFrame*)>& APrepare) {
    AVPacket* P = av_packet_alloc();
    AVPacket* Q = av_packet_alloc();
    AVFrame* F = av_frame_alloc();
    int64_t Next = 0;
    auto Write = [&] {
        while (avcodec_receive_packet(AEncoder, Q) == 0) {
            av_packet_rescale_ts(Q, AEncoder->time_base, AOst->time_base);
            Q->stream_index = AOst->index;
            av_interleaved_write_frame(AOut, Q);
        }
    };
    auto Pictures = [&] {
        while (avcodec_receive_frame(ADecoder, F) == 0) {
            AVFrame* Picture = APrepare(F);
            Picture->pts = Next++;
            avcodec_send_frame(AEncoder, Picture);
            Write();
        }
    };
    while (av_read_frame(AIn, P) >= 0) {
        if (P->stream_index == AIndex) {
            avcodec_send_packet(ADecoder, P);
            Pictures();
        }
        av_packet_unref(P);
    }
    avcodec_send_packet(ADecoder, nullptr);
    Pictures();
    avcodec_send_frame(AEncoder, nullptr);
    Write();
    av_write_trailer(AOut);
    av_frame_free(&F);
    av_packet_free(&P);
    av_packet_free(&Q);
}
