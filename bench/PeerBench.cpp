// tarnconv against its floor on the same jobs, run in alternation: the
// floor is a minimal decode, scale and encode loop on the libraries with the
// encoder options the profile gives, and the codecs' own thread choice, as
// the ffmpeg command-line program has it. Each run is a process of its own,
// so start-up and library loading count on both sides. Then four 720p files
// with -j 1 against -j 2.
//
//   peer_bench [FOLDER] [ROUNDS]     sources are made in FOLDER once and kept
//                                    (default: /tmp/tarn_peer_bench, 5 rounds)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "bench/BenchSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The floor of one job: the picture fitted into the profile's frame with
// black bars as the profile fits it, encoded with the profile's options.
// "h264" is profile 14 (Apple H.264 320x240), "mpeg4" profile 7 (Apple TV
// MPEG-4 640x480).
int Floor(const std::string& AKind, const std::string& AInput, const std::string& AOutput) {
    av_log_set_level(AV_LOG_ERROR);
    const bool H264 = AKind == "h264";
    AVFormatContext* In = nullptr;
    Check(avformat_open_input(&In, AInput.c_str(), nullptr, nullptr), "open");
    Check(avformat_find_stream_info(In, nullptr), "info");
    const int Index = av_find_best_stream(In, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    Check(Index, "video stream");
    AVStream* Ist = In->streams[Index];
    const AVCodec* DecCodec = avcodec_find_decoder(Ist->codecpar->codec_id);
    AVCodecContext* D = avcodec_alloc_context3(DecCodec);
    avcodec_parameters_to_context(D, Ist->codecpar);
    D->thread_count = 0;
    Check(avcodec_open2(D, DecCodec, nullptr), "decoder");

    const int W = H264 ? 320 : 640, H = H264 ? 240 : 480;
    // Display size of the source, fitted by width or height into W x H.
    AVRational Sar = Ist->codecpar->sample_aspect_ratio;
    const double Display = static_cast<double>(D->width) * (Sar.num > 0 ? av_q2d(Sar) : 1.0) / D->height;
    int Wv = W, Hv = H;
    if (Display > static_cast<double>(W) / H)
        Hv = 2 * static_cast<int>(W / Display / 2 + 0.5);
    else
        Wv = 2 * static_cast<int>(H * Display / 2 + 0.5);
    const int Top = 2 * ((H - Hv) / 4), Left = 2 * ((W - Wv) / 4);

    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, AOutput.c_str()), "output");
    const AVCodec* Codec = avcodec_find_encoder_by_name(H264 ? "libx264" : "mpeg4");
    AVStream* Ost = avformat_new_stream(Out, nullptr);
    AVCodecContext* E = avcodec_alloc_context3(Codec);
    E->width = W;
    E->height = H;
    E->sample_aspect_ratio = Ost->sample_aspect_ratio = {1, 1};
    E->pix_fmt = AV_PIX_FMT_YUV420P;
    E->time_base = {1, 25};
    E->framerate = {25, 1};
    E->gop_size = 250;
    E->thread_count = 0;
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) E->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* Options = nullptr;
    if (H264) {
        E->bit_rate = E->rc_max_rate = 768000;
        E->rc_buffer_size = 2000000;
        E->flags |= AV_CODEC_FLAG_BITEXACT;
        av_dict_set(&Options, "level", "13", 0);
        av_dict_set(&Options, "qmax", "40", 0);
        av_dict_set(&Options, "coder", "0", 0);
        av_dict_set(&Options, "profile", "baseline", 0);
    } else {
        E->bit_rate = 1800000;
        E->rc_max_rate = 2500000;
        E->rc_buffer_size = 2500000;
    }
    Check(avcodec_open2(E, Codec, &Options), "encoder");
    av_dict_free(&Options);
    avcodec_parameters_from_context(Ost->codecpar, E);
    Ost->time_base = E->time_base;
    Check(avio_open(&Out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(Out, nullptr), "header");

    AVFrame* Scaled = av_frame_alloc();
    Scaled->format = E->pix_fmt;
    Scaled->width = W;
    Scaled->height = H;
    Check(av_frame_get_buffer(Scaled, 0), "frame");
    SwsContext* Sws = nullptr;
    DecodeEncodeLoop(In, Index, D, E, Out, Ost, [&](AVFrame* F) {
        Sws = sws_getCachedContext(Sws, F->width, F->height, static_cast<AVPixelFormat>(F->format), Wv, Hv,
                                   AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        Check(av_frame_make_writable(Scaled), "writable");
        // Black bars, then the picture between them.
        const ptrdiff_t Lines[4] = {Scaled->linesize[0], Scaled->linesize[1], Scaled->linesize[2], 0};
        av_image_fill_black(Scaled->data, Lines, AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, W, H);
        uint8_t* Planes[3] = {Scaled->data[0] + Top * Scaled->linesize[0] + Left,
                              Scaled->data[1] + Top / 2 * Scaled->linesize[1] + Left / 2,
                              Scaled->data[2] + Top / 2 * Scaled->linesize[2] + Left / 2};
        sws_scale(Sws, F->data, F->linesize, 0, F->height, Planes, Scaled->linesize);
        return Scaled;
    });
    avio_closep(&Out->pb);
    sws_freeContext(Sws);
    av_frame_free(&Scaled);
    avcodec_free_context(&D);
    avcodec_free_context(&E);
    avformat_free_context(Out);
    avformat_close_input(&In);
    return 0;
}

struct TRun {
    double Wall = 0, Cpu = 0;
};

// Runs a program with its output in LOG, so that the figures stay readable.
TRun Spawn(std::vector<std::string> AArgs, const std::string& ALog) {
    std::vector<char*> Argv;
    for (std::string& A : AArgs) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    rusage Before{}, After{};
    getrusage(RUSAGE_CHILDREN, &Before);
    const auto Start = Clock::now();
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 1, ALog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&Actions, 1, 2);
    pid_t Pid = 0;
    const int Spawned = posix_spawn(&Pid, Argv[0], &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Spawned != 0) Die("cannot run " + AArgs[0]);
    int Status = 0;
    waitpid(Pid, &Status, 0);
    TRun Run;
    Run.Wall = std::chrono::duration<double>(Clock::now() - Start).count();
    if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) Die(AArgs[0] + " failed, see " + ALog);
    getrusage(RUSAGE_CHILDREN, &After);
    auto Sec = [](const timeval& T) { return T.tv_sec + T.tv_usec / 1e6; };
    Run.Cpu = Sec(After.ru_utime) - Sec(Before.ru_utime) + Sec(After.ru_stime) - Sec(Before.ru_stime);
    return Run;
}

double Median(std::vector<double> A) {
    std::sort(A.begin(), A.end());
    return A.size() % 2 ? A[A.size() / 2] : (A[A.size() / 2 - 1] + A[A.size() / 2]) / 2;
}

std::string LoadAverage() {
    std::ifstream In("/proc/loadavg");
    std::string One, Five;
    In >> One >> Five;
    return One + " (1 min), " + Five + " (5 min)";
}

std::string OnlyFile(const fs::path& AFolder) {
    for (const auto& E : fs::directory_iterator(AFolder)) return E.path().string();
    Die("no output in " + AFolder.string());
}

// The x264 option line that the encoder writes into its stream, from
// "cabac=" on, or empty: equal lines mean equal encoder settings.
std::string X264Options(const std::string& AFile) {
    std::ifstream In(AFile, std::ios::binary);
    std::string Head(1 << 20, '\0');
    In.read(Head.data(), static_cast<std::streamsize>(Head.size()));
    Head.resize(static_cast<size_t>(In.gcount()));
    size_t At = Head.find("options: ");
    if (At == std::string::npos) return "";
    size_t End = Head.find('\0', At);
    return Head.substr(At + 9, End == std::string::npos ? std::string::npos : End - At - 9);
}

struct TContext {
    fs::path Folder, Bin, Self, Settings;
    std::string Log() const { return (Folder / "runs.log").string(); }
};

std::vector<std::string> TarnconvArgs(const TContext& C, int AProfile, int AJobs, const fs::path& AOut,
                                      const std::vector<std::string>& AInputs) {
    std::vector<std::string> Args = {(C.Bin / "tarnconv").string(), "-q", "--settings", C.Settings.string(),
                                     "-p", std::to_string(AProfile), "-j", std::to_string(AJobs),
                                     "-o", AOut.string()};
    Args.insert(Args.end(), AInputs.begin(), AInputs.end());
    return Args;
}

// One job, tarnconv and the floor in turn, ROUNDS times each.
void Compare(const TContext& C, const char* ALabel, int AProfile, const std::string& AKind, const std::string& AInput,
             int ARounds, double AGoal) {
    std::vector<double> Ours, Floors, OurCpu, FloorCpu;
    const fs::path OurFolder = C.Folder / ("out_" + std::to_string(AProfile));
    const fs::path FloorFile = C.Folder / ("floor_" + AKind + ".mp4");
    for (int R = 0; R < ARounds; ++R) {
        fs::remove_all(OurFolder);
        fs::create_directories(OurFolder);
        TRun A = Spawn(TarnconvArgs(C, AProfile, 1, OurFolder, {AInput}), C.Log());
        fs::remove(FloorFile);
        TRun B = Spawn({C.Self.string(), "--floor", AKind, AInput, FloorFile.string()}, C.Log());
        Ours.push_back(A.Wall);
        OurCpu.push_back(A.Cpu);
        Floors.push_back(B.Wall);
        FloorCpu.push_back(B.Cpu);
    }
    const std::string Ourfile = OnlyFile(OurFolder);
    const double Ratio = Median(Ours) / Median(Floors);
    printf("%s\n", ALabel);
    printf("  tarnconv  wall %7.3f s  cpu %7.3f s  %8.1f KB\n", Median(Ours), Median(OurCpu),
           fs::file_size(Ourfile) / 1e3);
    printf("  floor     wall %7.3f s  cpu %7.3f s  %8.1f KB\n", Median(Floors), Median(FloorCpu),
           fs::file_size(FloorFile) / 1e3);
    printf("  tarnconv / floor: wall %.3f", Ratio);
    if (AGoal > 0) printf(" (goal <= %.2f)", AGoal);
    printf(", cpu %.3f\n", Median(OurCpu) / Median(FloorCpu));
    if (AKind == "h264") {
        const std::string A = X264Options(Ourfile), B = X264Options(FloorFile.string());
        printf("  x264 options: %s\n", A == B ? "identical" : "DIFFER");
        if (A != B) printf("    tarnconv: %s\n    floor:    %s\n", A.c_str(), B.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--floor") == 0) return Floor(argv[2], argv[3], argv[4]);
    av_log_set_level(AV_LOG_ERROR);
    TContext C;
    C.Folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarn_peer_bench";
    const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    C.Bin = APP_BIN_DIR;
    C.Self = fs::read_symlink("/proc/self/exe");
    fs::create_directories(C.Folder);
    C.Settings = C.Folder / "settings.ini";
    fs::copy_file(C.Bin / "tarnmp4videoconverter.ini", C.Settings, fs::copy_options::overwrite_existing);

    // H.264 as cameras and phones write it; MPEG-2 at a broadcast rate.
    auto H264 = [](int AWidth, int AHeight, int AFrames) {
        return TBenchSource{.Codec = "libx264", .Width = AWidth, .Height = AHeight, .Frames = AFrames, .Gop = 50,
                            .Preset = "veryfast", .Crf = "20"};
    };
    const TBenchSource Mpeg2{.Codec = "mpeg2video", .Width = 720, .Height = 576, .Frames = 500, .Sar = {16, 15},
                             .Gop = 12, .BFrames = 2, .BitRate = 6000000, .MaxRate = 9000000, .BufferSize = 1835008, .Preset = "", .Crf = ""};
    const std::vector<std::pair<std::string, TBenchSource>> Sources = {{"h264_1080p_20s.mp4", H264(1920, 1080, 500)},
                                                                       {"mpeg2_576p_20s.mpg", Mpeg2},
                                                                       {"h264_1080p_1s.mp4", H264(1920, 1080, 25)},
                                                                       {"h264_720p_8s.mp4", H264(1280, 720, 200)}};
    for (const auto& [Name, Wanted] : Sources)
        if (!fs::exists(C.Folder / Name)) {
            printf("making %s\n", Name.c_str());
            fflush(stdout);
            WriteBenchSource((C.Folder / Name).string(), Wanted);
        }
    printf("load before: %s; %ld cores; %d rounds, alternating, medians\n", LoadAverage().c_str(),
           sysconf(_SC_NPROCESSORS_ONLN), Rounds);
    fflush(stdout);

    auto Source = [&](int I) { return (C.Folder / Sources[static_cast<size_t>(I)].first).string(); };
    Compare(C, "1080p H.264 20 s -> profile 14 (H.264 320x240)", 14, "h264", Source(0), Rounds, 1.00);
    Compare(C, "720x576 MPEG-2 20 s -> profile 7 (MPEG-4 640x480)", 7, "mpeg4", Source(1), Rounds, 0);
    Compare(C, "1080p H.264 1 s -> profile 14", 14, "h264", Source(2), 2 * Rounds + 1, 1.05);

    // Four 720p files with one job at a time and with two.
    std::vector<std::string> Four;
    for (int I = 0; I < 4; ++I) {
        fs::path Link = C.Folder / ("four_" + std::to_string(I) + ".mp4");
        if (!fs::exists(Link)) fs::create_hard_link(Source(3), Link);
        Four.push_back(Link.string());
    }
    std::vector<double> One, Two, OneCpu, TwoCpu;
    const fs::path Out = C.Folder / "out_four";
    for (int R = 0; R < std::max(3, Rounds / 2 + 1); ++R) {
        for (int Jobs : {1, 2}) {
            fs::remove_all(Out);
            fs::create_directories(Out);
            const TRun Run = Spawn(TarnconvArgs(C, 14, Jobs, Out, Four), C.Log());
            (Jobs == 1 ? One : Two).push_back(Run.Wall);
            (Jobs == 1 ? OneCpu : TwoCpu).push_back(Run.Cpu);
        }
    }
    // No number of jobs does the same work in less time than its CPU time
    // spread over every core: against that, what -j 2 could gain at most.
    const double Cores = std::max(1u, std::thread::hardware_concurrency());
    const double Ceiling = Median(One) / (Median(TwoCpu) / Cores);
    printf("four 720p H.264 8 s files -> profile 14\n");
    printf("  -j 1 %7.3f s (cpu %.3f s, %.2f cores busy), -j 2 %7.3f s (cpu %.3f s, %.2f cores busy)\n",
           Median(One), Median(OneCpu), Median(OneCpu) / Median(One), Median(Two), Median(TwoCpu),
           Median(TwoCpu) / Median(Two));
    printf("  throughput -j 2 / -j 1 %.2f (goal >= 1.5); the most %d cores allow: %.2f (%.0f %% of it reached)\n",
           Median(One) / Median(Two), int(Cores), Ceiling, 100.0 * Median(One) / Median(Two) / Ceiling);
    printf("load after: %s\n", LoadAverage().c_str());
    return 0;
}
