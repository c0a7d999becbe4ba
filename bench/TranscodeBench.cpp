// Measures the engine against the floor of its work: a minimal pipeline
// written directly on the codec libraries with the same codecs and settings.
//
//   transcode_bench [FOLDER]     generates its media in FOLDER (default: a
//                                temporary folder) and prints the figures
//
// Each measurement runs in a child process of its own, so that its peak
// memory is its own; wall time is the median of three runs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "bench/BenchSupport.h"

#include "binding/LibAV.h"
#include "engine/FFmpeg.h"

namespace {

namespace fs = std::filesystem;

// --- Media ---------------------------------------------------------------

// Writes Seconds of a moving pattern (and a stereo tone when AAudio) with
// libx264 at the given size.
void Generate(const std::string& AFile, int AWidth, int AHeight, int ASeconds, bool AAudio, const char* APreset) {
    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AFile.c_str()), "output");
    const AVCodec* VCodec = avcodec_find_encoder_by_name("libx264");
    if (!VCodec) Die("no libx264");
    AVStream* VStream = avformat_new_stream(Out, nullptr);
    AVCodecContext* V = avcodec_alloc_context3(VCodec);
    V->width = AWidth;
    V->height = AHeight;
    V->pix_fmt = AV_PIX_FMT_YUV420P;
    V->time_base = {1, 25};
    V->framerate = {25, 1};
    V->gop_size = 50;
    V->bit_rate = int64_t(AWidth) * AHeight * 4;
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) V->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(V->priv_data, "preset", APreset, 0);
    Check(avcodec_open2(V, VCodec, nullptr), "open libx264");
    avcodec_parameters_from_context(VStream->codecpar, V);
    VStream->time_base = V->time_base;

    AVCodecContext* A = nullptr;
    AVStream* AStream = nullptr;
    if (AAudio) {
        const AVCodec* ACodec = avcodec_find_encoder_by_name("aac");
        AStream = avformat_new_stream(Out, nullptr);
        A = avcodec_alloc_context3(ACodec);
        A->sample_fmt = AV_SAMPLE_FMT_FLTP;
        A->sample_rate = 44100;
        av_channel_layout_default(&A->ch_layout, 2);
        A->bit_rate = 128000;
        A->time_base = {1, 44100};
        if (Out->oformat->flags & AVFMT_GLOBALHEADER) A->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        Check(avcodec_open2(A, ACodec, nullptr), "open aac");
        avcodec_parameters_from_context(AStream->codecpar, A);
        AStream->time_base = A->time_base;
    }
    Check(avio_open(&Out->pb, AFile.c_str(), AVIO_FLAG_WRITE), "create");
    Check(avformat_write_header(Out, nullptr), "header");

    AVPacket* Packet = av_packet_alloc();
    auto Drain = [&](AVCodecContext* C, AVStream* S) {
        while (avcodec_receive_packet(C, Packet) >= 0) {
            av_packet_rescale_ts(Packet, C->time_base, S->time_base);
            Packet->stream_index = S->index;
            Check(av_interleaved_write_frame(Out, Packet), "write");
        }
    };
    AVFrame* Picture = av_frame_alloc();
    Picture->format = V->pix_fmt;
    Picture->width = AWidth;
    Picture->height = AHeight;
    Check(av_frame_get_buffer(Picture, 0), "picture");
    AVFrame* Sound = nullptr;
    if (A) {
        Sound = av_frame_alloc();
        Sound->format = A->sample_fmt;
        Sound->nb_samples = A->frame_size;
        av_channel_layout_copy(&Sound->ch_layout, &A->ch_layout);
        Check(av_frame_get_buffer(Sound, 0), "sound");
    }
    int64_t Samples = 0;
    for (int i = 0; i < ASeconds * 25; ++i) {
        av_frame_make_writable(Picture);
        for (int y = 0; y < AHeight; ++y)
            for (int x = 0; x < AWidth; ++x)
                Picture->data[0][y * Picture->linesize[0] + x] = uint8_t(x + y + 3 * i);
        for (int y = 0; y < AHeight / 2; ++y)
            for (int x = 0; x < AWidth / 2; ++x) {
                Picture->data[1][y * Picture->linesize[1] + x] = uint8_t(128 + y + i);
                Picture->data[2][y * Picture->linesize[2] + x] = uint8_t(64 + x + i * 5);
            }
        Picture->pts = i;
        Check(avcodec_send_frame(V, Picture), "encode video");
        Drain(V, VStream);
        while (A && Samples * 25 < int64_t(i + 1) * 44100) {
            av_frame_make_writable(Sound);
            for (int c = 0; c < 2; ++c)
                for (int n = 0; n < Sound->nb_samples; ++n)
                    reinterpret_cast<float*>(Sound->data[c])[n] =
                        0.3f * float(sin(2 * M_PI * (440 + 220 * c) * double(Samples + n) / 44100));
            Sound->pts = Samples;
            Samples += Sound->nb_samples;
            Check(avcodec_send_frame(A, Sound), "encode audio");
            Drain(A, AStream);
        }
    }
    avcodec_send_frame(V, nullptr);
    Drain(V, VStream);
    if (A) {
        avcodec_send_frame(A, nullptr);
        Drain(A, AStream);
    }
    av_write_trailer(Out);
    av_frame_free(&Picture);
    av_frame_free(&Sound);
    av_packet_free(&Packet);
    avcodec_free_context(&V);
    avcodec_free_context(&A);
    avio_closep(&Out->pb);
    avformat_free_context(Out);
}

AVFormatContext* OpenInput(const std::string& AFile) {
    AVFormatContext* In = nullptr;
    Check(avformat_open_input(&In, AFile.c_str(), nullptr, nullptr), "open input");
    Check(avformat_find_stream_info(In, nullptr), "stream info");
    return In;
}

AVFormatContext* NewOutput(const std::string& AFile) {
    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AFile.c_str()), "output");
    return Out;
}

void CloseFiles(AVFormatContext*& AIn, AVFormatContext* AOut) {
    avio_closep(&AOut->pb);
    avformat_free_context(AOut);
    avformat_close_input(&AIn);
}

// Writes ATimes copies of a file's packets one after the other, their
// timestamps shifted, to make a long file without encoding it again.
void Repeat(const std::string& AInput, const std::string& AOutput, int ATimes) {
    AVFormatContext* In = OpenInput(AInput);
    AVFormatContext* Out = NewOutput(AOutput);
    for (unsigned i = 0; i < In->nb_streams; ++i) {
        AVStream* S = avformat_new_stream(Out, nullptr);
        avcodec_parameters_copy(S->codecpar, In->streams[i]->codecpar);
        S->time_base = In->streams[i]->time_base;
    }
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "create");
    Check(avformat_write_header(Out, nullptr), "header");
    AVPacket* Packet = av_packet_alloc();
    for (int Round = 0; Round < ATimes; ++Round) {
        av_seek_frame(In, -1, 0, AVSEEK_FLAG_BACKWARD);
        while (av_read_frame(In, Packet) >= 0) {
            const AVRational From = In->streams[Packet->stream_index]->time_base;
            const int64_t Shift = av_rescale_q(int64_t(Round) * In->duration, AVRational{1, AV_TIME_BASE}, From);
            if (Packet->pts != AV_NOPTS_VALUE) Packet->pts += Shift;
            if (Packet->dts != AV_NOPTS_VALUE) Packet->dts += Shift;
            av_packet_rescale_ts(Packet, From, Out->streams[Packet->stream_index]->time_base);
            Check(av_interleaved_write_frame(Out, Packet), "write");
        }
    }
    av_write_trailer(Out);
    av_packet_free(&Packet);
    CloseFiles(In, Out);
}

// --- The floor -------------------------------------------------------------

// Decode, scale to 320x240, encode MPEG-4 at the engine's default video bit
// rate and AAC at 128 kbit/s, mux to AVI — nothing else.
void FloorEncode(const std::string& AInput, const std::string& AOutput) {
    AVFormatContext* In = OpenInput(AInput);
    AVFormatContext* Out = NewOutput(AOutput);
    struct Pair {
        AVCodecContext* Dec = nullptr;
        AVCodecContext* Enc = nullptr;
        AVStream* Stream = nullptr;
    };
    std::vector<Pair> Pairs(In->nb_streams);
    for (unsigned i = 0; i < In->nb_streams; ++i) {
        AVCodecParameters* Par = In->streams[i]->codecpar;
        if (Par->codec_type != AVMEDIA_TYPE_VIDEO && Par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        Pair& P = Pairs[i];
        const AVCodec* Decoder = avcodec_find_decoder(Par->codec_id);
        P.Dec = avcodec_alloc_context3(Decoder);
        avcodec_parameters_to_context(P.Dec, Par);
        P.Dec->pkt_timebase = In->streams[i]->time_base;
        Check(avcodec_open2(P.Dec, Decoder, nullptr), "open decoder");
        const bool Video = Par->codec_type == AVMEDIA_TYPE_VIDEO;
        const AVCodec* Encoder = avcodec_find_encoder(Video ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_AAC);
        P.Enc = avcodec_alloc_context3(Encoder);
        if (Video) {
            P.Enc->width = 320;
            P.Enc->height = 240;
            P.Enc->pix_fmt = AV_PIX_FMT_YUV420P;
            P.Enc->time_base = {1, 25};
            P.Enc->framerate = {25, 1};
        } else {
            P.Enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
            P.Enc->sample_rate = P.Dec->sample_rate;
            av_channel_layout_copy(&P.Enc->ch_layout, &P.Dec->ch_layout);
            P.Enc->bit_rate = 128000;
            P.Enc->time_base = {1, P.Dec->sample_rate};
        }
        Check(avcodec_open2(P.Enc, Encoder, nullptr), "open encoder");
        P.Stream = avformat_new_stream(Out, nullptr);
        avcodec_parameters_from_context(P.Stream->codecpar, P.Enc);
        P.Stream->time_base = P.Enc->time_base;
    }
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "create");
    Check(avformat_write_header(Out, nullptr), "header");

    SwsContext* Scaler = nullptr;
    AVFrame* Frame = av_frame_alloc();
    AVFrame* Scaled = av_frame_alloc();
    Scaled->format = AV_PIX_FMT_YUV420P;
    Scaled->width = 320;
    Scaled->height = 240;
    Check(av_frame_get_buffer(Scaled, 0), "scaled");
    AVAudioFifo* Fifo = nullptr;
    AVFrame* Chunk = av_frame_alloc();
    int64_t VideoPts = 0, AudioPts = 0;
    AVPacket* Packet = av_packet_alloc();
    AVPacket* Encoded = av_packet_alloc();
    auto Drain = [&](Pair& P) {
        while (avcodec_receive_packet(P.Enc, Encoded) >= 0) {
            av_packet_rescale_ts(Encoded, P.Enc->time_base, P.Stream->time_base);
            Encoded->stream_index = P.Stream->index;
            Check(av_interleaved_write_frame(Out, Encoded), "write");
        }
    };
    auto Consume = [&](Pair& P, bool AFlush) {
        while (avcodec_receive_frame(P.Dec, Frame) >= 0) {
            if (P.Dec->codec_type == AVMEDIA_TYPE_VIDEO) {
                Scaler = sws_getCachedContext(Scaler, Frame->width, Frame->height, AVPixelFormat(Frame->format), 320,
                                              240, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
                av_frame_make_writable(Scaled);
                sws_scale(Scaler, Frame->data, Frame->linesize, 0, Frame->height, Scaled->data, Scaled->linesize);
                Scaled->pts = VideoPts++;
                Check(avcodec_send_frame(P.Enc, Scaled), "encode video");
            } else {
                if (!Fifo) Fifo = av_audio_fifo_alloc(P.Enc->sample_fmt, P.Enc->ch_layout.nb_channels, 4096);
                av_audio_fifo_write(Fifo, reinterpret_cast<void**>(Frame->extended_data), Frame->nb_samples);
                while (av_audio_fifo_size(Fifo) >= P.Enc->frame_size) {
                    av_frame_unref(Chunk);
                    Chunk->nb_samples = P.Enc->frame_size;
                    Chunk->format = P.Enc->sample_fmt;
                    Chunk->sample_rate = P.Enc->sample_rate;
                    av_channel_layout_copy(&Chunk->ch_layout, &P.Enc->ch_layout);
                    av_frame_get_buffer(Chunk, 0);
                    av_audio_fifo_read(Fifo, reinterpret_cast<void**>(Chunk->extended_data), Chunk->nb_samples);
                    Chunk->pts = AudioPts;
                    AudioPts += Chunk->nb_samples;
                    Check(avcodec_send_frame(P.Enc, Chunk), "encode audio");
                    Drain(P);
                }
            }
            av_frame_unref(Frame);
            Drain(P);
        }
        if (AFlush) {
            avcodec_send_frame(P.Enc, nullptr);
            Drain(P);
        }
    };
    while (av_read_frame(In, Packet) >= 0) {
        Pair& P = Pairs[Packet->stream_index];
        if (P.Dec) {
            avcodec_send_packet(P.Dec, Packet);
            Consume(P, false);
        }
        av_packet_unref(Packet);
    }
    for (Pair& P : Pairs)
        if (P.Dec) {
            avcodec_send_packet(P.Dec, nullptr);
            Consume(P, true);
        }
    av_write_trailer(Out);
    for (Pair& P : Pairs) {
        avcodec_free_context(&P.Dec);
        avcodec_free_context(&P.Enc);
    }
    sws_freeContext(Scaler);
    if (Fifo) av_audio_fifo_free(Fifo);
    av_frame_free(&Frame);
    av_frame_free(&Scaled);
    av_frame_free(&Chunk);
    av_packet_free(&Packet);
    av_packet_free(&Encoded);
    CloseFiles(In, Out);
}

// Reads every packet and writes it to the new container.
void FloorRemux(const std::string& AInput, const std::string& AOutput) {
    AVFormatContext* In = OpenInput(AInput);
    AVFormatContext* Out = NewOutput(AOutput);
    for (unsigned i = 0; i < In->nb_streams; ++i) {
        AVStream* S = avformat_new_stream(Out, nullptr);
        avcodec_parameters_copy(S->codecpar, In->streams[i]->codecpar);
        S->codecpar->codec_tag = 0;
        S->time_base = In->streams[i]->time_base;
    }
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "create");
    Check(avformat_write_header(Out, nullptr), "header");
    AVPacket* Packet = av_packet_alloc();
    while (av_read_frame(In, Packet) >= 0) {
        av_packet_rescale_ts(Packet, In->streams[Packet->stream_index]->time_base,
                             Out->streams[Packet->stream_index]->time_base);
        Check(av_interleaved_write_frame(Out, Packet), "write");
    }
    av_write_trailer(Out);
    av_packet_free(&Packet);
    CloseFiles(In, Out);
}

// --- The engine --------------------------------------------------------------

void EngineJob(const std::string& AInput, const std::string& AOutput, bool ACopy) {
    if (!LoadLibraries("", true)) Die(LibrariesError());
    TCustomFFmpeg Engine;
    Engine.SetOption("v", "-1");
    if (!Engine.OpenInputFile(AInput)) Die(Engine.ErrorText);
    if (ACopy) {
        Engine.SetOption("vcodec", "copy");
        Engine.SetOption("acodec", "copy");
    } else {
        Engine.SetOption("vcodec", "mpeg4");
        Engine.SetOption("s", "320x240");
        Engine.SetOption("acodec", "aac");
        Engine.SetOption("ab", "128000");
    }
    if (!Engine.OpenOutputFile(AOutput)) Die(Engine.ErrorText);
    Engine.Start(false, tpNormal);
    if (Engine.ErrorOccurred) Die(Engine.ErrorMessage);
}

// --- Measuring -----------------------------------------------------------------

struct Figures {
    double Wall = 0, Cpu = 0;
    long PeakKb = 0;
};

Figures Measure(const char* ASelf, const std::vector<std::string>& AArgs) {
    std::vector<Figures> Runs;
    for (int Run = 0; Run < 3; ++Run) {
        const auto Start = std::chrono::steady_clock::now();
        pid_t Child = fork();
        if (Child == 0) {
            std::vector<char*> Argv{const_cast<char*>(ASelf)};
            for (const std::string& A : AArgs) Argv.push_back(const_cast<char*>(A.c_str()));
            Argv.push_back(nullptr);
            execv(ASelf, Argv.data());
            _exit(127);
        }
        int Status = 0;
        rusage Usage{};
        wait4(Child, &Status, 0, &Usage);
        const double Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) Die("measurement " + AArgs[0] + " failed");
        Figures F;
        F.Wall = Wall;
        F.Cpu = double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
                double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
        F.PeakKb = Usage.ru_maxrss;
        Runs.push_back(F);
    }
    std::sort(Runs.begin(), Runs.end(), [](const Figures& A, const Figures& B) { return A.Wall < B.Wall; });
    return Runs[1];
}

void Print(const char* AName, const Figures& AEngine, const Figures& AFloor) {
    printf("%-28s wall %7.2f s  cpu %7.2f s  peak %7.1f MB\n", (std::string(AName) + " engine").c_str(),
           AEngine.Wall, AEngine.Cpu, AEngine.PeakKb / 1024.0);
    printf("%-28s wall %7.2f s  cpu %7.2f s  peak %7.1f MB\n", (std::string(AName) + " floor").c_str(), AFloor.Wall,
           AFloor.Cpu, AFloor.PeakKb / 1024.0);
    printf("%-28s wall %7.3f     cpu %7.3f     peak %7.3f\n", (std::string(AName) + " engine/floor").c_str(),
           AEngine.Wall / AFloor.Wall, AEngine.Cpu / AFloor.Cpu, double(AEngine.PeakKb) / double(AFloor.PeakKb));
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (argc == 4 && strcmp(argv[1], "floor-encode") == 0) return FloorEncode(argv[2], argv[3]), 0;
    if (argc == 4 && strcmp(argv[1], "floor-remux") == 0) return FloorRemux(argv[2], argv[3]), 0;
    if (argc == 4 && strcmp(argv[1], "engine-encode") == 0) return EngineJob(argv[2], argv[3], false), 0;
    if (argc == 4 && strcmp(argv[1], "engine-remux") == 0) return EngineJob(argv[2], argv[3], true), 0;
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: %s [FOLDER]\n", argv[0]);
        return 2;
    }
    const fs::path Folder = argc == 2 ? fs::path(argv[1]) : fs::temp_directory_path() / "transcode_bench";
    fs::create_directories(Folder);
    const std::string Source = (Folder / "source_640x480.mp4").string();
    const std::string Wide = (Folder / "source_1280x720.mp4").string();
    const std::string Long = (Folder / "source_1280x720_4min.mp4").string();
    if (!fs::exists(Source)) {
        printf("generating 30 s of 640x480 H.264 + AAC ...\n");
        Generate(Source, 640, 480, 30, true, "veryfast");
    }
    if (!fs::exists(Wide)) {
        printf("generating 30 s of 1280x720 H.264 + AAC ...\n");
        Generate(Wide, 1280, 720, 30, true, "ultrafast");
    }
    if (!fs::exists(Long)) Repeat(Wide, Long, 8);
    const char* Self = "/proc/self/exe";
    char Path[4096];
    ssize_t Length = readlink(Self, Path, sizeof Path - 1);
    if (Length <= 0) Die("cannot find myself");
    Path[Length] = 0;
    const std::string Encoded = (Folder / "out.avi").string(), Remuxed = (Folder / "out.mkv").string();
    printf("re-encode: 640x480 H.264 + AAC -> MPEG-4 320x240 + AAC 128 kbit/s (AVI); median of 3 runs\n");
    Figures EngineEncode = Measure(Path, {"engine-encode", Source, Encoded});
    Figures FloorEncodeFigures = Measure(Path, {"floor-encode", Source, Encoded});
    Print("re-encode", EngineEncode, FloorEncodeFigures);
    printf("remux: 4 min of 1280x720 H.264 + AAC (%.0f MB), MP4 -> Matroska by stream copy; median of 3 runs\n",
           double(fs::file_size(Long)) / 1e6);
    Figures EngineRemux = Measure(Path, {"engine-remux", Long, Remuxed});
    Figures FloorRemuxFigures = Measure(Path, {"floor-remux", Long, Remuxed});
    Print("remux", EngineRemux, FloorRemuxFigures);
    return 0;
}
