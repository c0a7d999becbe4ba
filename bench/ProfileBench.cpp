// The H.264 High 1080p profile through the real tarnconv against the floor:
// a minimal decode and encode loop on the libraries with the same encoder
// options. Prints wall time, size and SSIM-Y against the source for both,
// and the time of the copying profiles (49, 50) and of a plain stream copy
// against the re-encode.
//
//   profile_bench [FOLDER] [SECONDS]   media and outputs go to FOLDER
//                                      (default: a temporary folder)
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "bench/BenchSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Decodes every picture of a file's first video stream, as Y planes.
std::vector<std::vector<uint8_t>> DecodeLuma(const std::string& AFile, int& AWidth, int& AHeight) {
    AVFormatContext* In = nullptr;
    Check(avformat_open_input(&In, AFile.c_str(), nullptr, nullptr), "open for SSIM");
    Check(avformat_find_stream_info(In, nullptr), "stream info");
    int Index = av_find_best_stream(In, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    Check(Index, "video stream");
    const AVCodec* Codec = avcodec_find_decoder(In->streams[Index]->codecpar->codec_id);
    AVCodecContext* D = avcodec_alloc_context3(Codec);
    avcodec_parameters_to_context(D, In->streams[Index]->codecpar);
    Check(avcodec_open2(D, Codec, nullptr), "decoder");
    std::vector<std::vector<uint8_t>> Pictures;
    AVPacket* P = av_packet_alloc();
    AVFrame* F = av_frame_alloc();
    auto Drain = [&] {
        while (avcodec_receive_frame(D, F) == 0) {
            AWidth = F->width;
            AHeight = F->height;
            std::vector<uint8_t> Y(static_cast<size_t>(F->width) * F->height);
            for (int R = 0; R < F->height; ++R) std::copy_n(F->data[0] + R * F->linesize[0], F->width, &Y[R * F->width]);
            Pictures.push_back(std::move(Y));
        }
    };
    while (av_read_frame(In, P) >= 0) {
        if (P->stream_index == Index) {
            avcodec_send_packet(D, P);
            Drain();
        }
        av_packet_unref(P);
    }
    avcodec_send_packet(D, nullptr);
    Drain();
    av_frame_free(&F);
    av_packet_free(&P);
    avcodec_free_context(&D);
    avformat_close_input(&In);
    return Pictures;
}

// Mean SSIM of the Y planes over 8x8 windows stepped by 4 pixels.
double SsimY(const std::string& ASource, const std::string& AOutput) {
    int W = 0, H = 0, W2 = 0, H2 = 0;
    auto A = DecodeLuma(ASource, W, H);
    auto B = DecodeLuma(AOutput, W2, H2);
    if (W != W2 || H != H2 || A.empty() || B.empty()) Die("pictures to compare differ in size or are missing");
    const double C1 = 6.5025, C2 = 58.5225;
    double Sum = 0;
    long Count = 0;
    for (size_t I = 0; I < std::min(A.size(), B.size()); ++I)
        for (int Y = 0; Y + 8 <= H; Y += 4)
            for (int X = 0; X + 8 <= W; X += 4) {
                double Sa = 0, Sb = 0, Saa = 0, Sbb = 0, Sab = 0;
                for (int J = 0; J < 8; ++J)
                    for (int K = 0; K < 8; ++K) {
                        double Pa = A[I][(Y + J) * W + X + K], Pb = B[I][(Y + J) * W + X + K];
                        Sa += Pa;
                        Sb += Pb;
                        Saa += Pa * Pa;
                        Sbb += Pb * Pb;
                        Sab += Pa * Pb;
                    }
                double Ma = Sa / 64, Mb = Sb / 64;
                double Va = Saa / 64 - Ma * Ma, Vb = Sbb / 64 - Mb * Mb, Cov = Sab / 64 - Ma * Mb;
                Sum += ((2 * Ma * Mb + C1) * (2 * Cov + C2)) / ((Ma * Ma + Mb * Mb + C1) * (Va + Vb + C2));
                ++Count;
            }
    return Count ? Sum / Count : 0;
}

// The floor: decode and encode with the options the profile gives x264 for
// a 1080p25 source (CRF 23, medium, High at level 4.0, 20 Mbit/s peak with
// a 25 Mbit buffer, key frames at most 250 apart), index at the front.
void FloorEncode(const std::string& AInput, const std::string& AOutput) {
    AVFormatContext* In = nullptr;
    Check(avformat_open_input(&In, AInput.c_str(), nullptr, nullptr), "open");
    Check(avformat_find_stream_info(In, nullptr), "info");
    AVStream* Ist = In->streams[0];
    const AVCodec* DecCodec = avcodec_find_decoder(Ist->codecpar->codec_id);
    AVCodecContext* D = avcodec_alloc_context3(DecCodec);
    avcodec_parameters_to_context(D, Ist->codecpar);
    D->thread_count = 1;
    Check(avcodec_open2(D, DecCodec, nullptr), "decoder");

    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AOutput.c_str()), "output");
    const AVCodec* Codec = avcodec_find_encoder_by_name("libx264");
    AVStream* Ost = avformat_new_stream(Out, nullptr);
    AVCodecContext* E = avcodec_alloc_context3(Codec);
    E->width = D->width;
    E->height = D->height;
    E->pix_fmt = AV_PIX_FMT_YUV420P;
    E->time_base = {1, 25};
    E->framerate = {25, 1};
    E->gop_size = 250;
    E->rc_max_rate = 20000000;
    E->rc_buffer_size = 25000000;
    E->flags |= AV_CODEC_FLAG_BITEXACT;
    E->thread_count = 1;
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) E->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* Options = nullptr;
    av_dict_set(&Options, "crf", "23", 0);
    av_dict_set(&Options, "preset", "medium", 0);
    av_dict_set(&Options, "profile", "high", 0);
    av_dict_set(&Options, "level", "40", 0);
    Check(avcodec_open2(E, Codec, &Options), "encoder");
    av_dict_free(&Options);
    avcodec_parameters_from_context(Ost->codecpar, E);
    Ost->time_base = E->time_base;
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "open output");
    AVDictionary* Mux = nullptr;
    av_dict_set(&Mux, "movflags", "+faststart", 0);
    Check(avformat_write_header(Out, &Mux), "header");
    av_dict_free(&Mux);

    DecodeEncodeLoop(In, 0, D, E, Out, Ost, [](AVFrame* F) {
        F->pict_type = AV_PICTURE_TYPE_NONE;
        return F;
    });
    avio_closep(&Out->pb);
    avcodec_free_context(&D);
    avcodec_free_context(&E);
    avformat_free_context(Out);
    avformat_close_input(&In);
}

// Packets copied as they are into an MP4 file.
void FloorRemux(const std::string& AInput, const std::string& AOutput) {
    AVFormatContext* In = nullptr;
    Check(avformat_open_input(&In, AInput.c_str(), nullptr, nullptr), "open");
    Check(avformat_find_stream_info(In, nullptr), "info");
    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AOutput.c_str()), "output");
    AVStream* Ost = avformat_new_stream(Out, nullptr);
    avcodec_parameters_copy(Ost->codecpar, In->streams[0]->codecpar);
    Ost->codecpar->codec_tag = 0;
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(Out, nullptr), "header");
    AVPacket* P = av_packet_alloc();
    while (av_read_frame(In, P) >= 0) {
        if (P->stream_index == 0) {
            av_packet_rescale_ts(P, In->streams[0]->time_base, Ost->time_base);
            P->pos = -1;
            av_interleaved_write_frame(Out, P);
        }
        av_packet_unref(P);
    }
    av_write_trailer(Out);
    avio_closep(&Out->pb);
    av_packet_free(&P);
    avformat_free_context(Out);
    avformat_close_input(&In);
}

double Seconds(Clock::time_point AStart) { return std::chrono::duration<double>(Clock::now() - AStart).count(); }

// Runs tarnconv with a private copy of the shipped settings.
double RunTarnconv(const fs::path& AFolder, int AProfile, const std::string& AInput, const fs::path& AOutput) {
    const fs::path Bin = APP_BIN_DIR;
    const std::string Settings = (AFolder / "settings.ini").string();
    fs::copy_file(Bin / "tarnmp4videoconverter.ini", Settings, fs::copy_options::overwrite_existing);
    fs::remove_all(AOutput);
    std::vector<std::string> Args = {(Bin / "tarnconv").string(), "-q", "--settings", Settings, "--threads", "1",
                                     "-p", std::to_string(AProfile), "-o", AOutput.string(), AInput};
    std::vector<char*> Argv;
    for (std::string& A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    auto Start = Clock::now();
    pid_t Pid = 0;
    if (posix_spawn(&Pid, Argv[0], nullptr, nullptr, Argv.data(), environ) != 0) Die("cannot run tarnconv");
    int Status = 0;
    waitpid(Pid, &Status, 0);
    double Took = Seconds(Start);
    if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) Die("tarnconv failed");
    return Took;
}

std::string OnlyFile(const fs::path& AFolder) {
    for (const auto& E : fs::directory_iterator(AFolder)) return E.path().string();
    Die("no output in " + AFolder.string());
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    fs::path Folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarn_profile_bench";
    const int SecondsLong = argc > 2 ? std::atoi(argv[2]) : 4;
    fs::create_directories(Folder);
    const std::string Source = (Folder / "source_1080p.mp4").string();
    if (!fs::exists(Source)) {
        WriteBenchSource(Source, {.Codec = "libx264", .Width = 1920, .Height = 1080, .Frames = SecondsLong * 25,
                                  .Preset = "ultrafast", .Crf = "8"});
    }
    printf("source: 1920x1080 25 fps, %d s, %.1f MB, H.264 without sound\n", SecondsLong,
           fs::file_size(Source) / 1e6);

    const double Profile = RunTarnconv(Folder, 36, Source, Folder / "profile36");
    const std::string ProfileFile = OnlyFile(Folder / "profile36");
    const std::string FloorFile = (Folder / "floor.mp4").string();
    auto Start = Clock::now();
    FloorEncode(Source, FloorFile);
    const double Floor = Seconds(Start);
    // The two profiles that copy, through the same program.
    const double CopyMp4 = RunTarnconv(Folder, 49, Source, Folder / "profile49");
    const std::string CopyMp4File = OnlyFile(Folder / "profile49");
    const double CopyMkv = RunTarnconv(Folder, 50, Source, Folder / "profile50");
    const std::string CopyMkvFile = OnlyFile(Folder / "profile50");
    const std::string RemuxFile = (Folder / "remux.mp4").string();
    Start = Clock::now();
    FloorRemux(Source, RemuxFile);
    const double Remux = Seconds(Start);

    printf("%-34s %8s %10s %9s\n", "", "time s", "size KB", "SSIM-Y");
    printf("%-34s %8.2f %10.1f %9.4f\n", "tarnconv -p 36 (H.264 High 1080p)", Profile,
           fs::file_size(ProfileFile) / 1e3, SsimY(Source, ProfileFile));
    printf("%-34s %8.2f %10.1f %9.4f\n", "floor: libx264 loop, same options", Floor, fs::file_size(FloorFile) / 1e3,
           SsimY(Source, FloorFile));
    printf("%-34s %8.2f %10.1f %9s\n", "stream copy into MP4 (floor)", Remux, fs::file_size(RemuxFile) / 1e3, "same");
    printf("%-34s %8.2f %10.1f %9.4f\n", "tarnconv -p 49 (MP4, copied)", CopyMp4, fs::file_size(CopyMp4File) / 1e3,
           SsimY(Source, CopyMp4File));
    printf("%-34s %8.2f %10.1f %9.4f\n", "tarnconv -p 50 (MKV, copied)", CopyMkv, fs::file_size(CopyMkvFile) / 1e3,
           SsimY(Source, CopyMkvFile));
    printf("re-encode / copy time: %.0fx (floor loops), %.0fx (tarnconv -p 36 / -p 49)\n",
           Remux > 0 ? Profile / Remux : 0.0, CopyMp4 > 0 ? Profile / CopyMp4 : 0.0);
    return 0;
}
