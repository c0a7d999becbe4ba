// Measures one preview step through the probe against the floor of that
// work: a minimal seek-and-decode loop written directly on the libraries,
// at the same 50 random positions (fixed seed) of two generated files.
//
//   preview_bench [FOLDER]     makes its media in FOLDER (default: a new
//                              temporary folder, removed at the end; a given
//                              folder is kept and its files reused)
//
// The preview step is what the main window does at a slider position:
// Seek + DecodeFrame (decode and convert to BGR24), the frame copy, and the
// fitted drawing into the 217 x 188 picture area, a 32-bit canvas as the
// window's picture view has. The floor seeks the same
// way (no flags, backward when nothing follows), flushes the decoder, reads
// until one picture comes out and, in its second form, converts it to BGR24
// with the same scaler settings. Each position is measured five times in
// alternation and its median kept; the figures are the median and the 95th
// percentile (nearest rank) over the positions, in wall time and in the
// thread's CPU time (steadier on a loaded machine).
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "app/PreviewMath.h"
#include "binding/LibAV.h"
#include "common/Bitmap.h"
#include "probe/AVProbe.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& Text) {
    fprintf(stderr, "preview_bench: %s\n", Text.c_str());
    exit(1);
}

void Check(int Result, const char* What) {
    if (Result < 0) {
        char Text[128];
        av_strerror(Result, Text, sizeof Text);
        Die(std::string(What) + ": " + Text);
    }
}

double Ms(Clock::time_point From, Clock::time_point To) {
    return std::chrono::duration<double, std::milli>(To - From).count();
}

// --- Media -----------------------------------------------------------------

struct TMediaPlan {
    const char* Codec;
    int Width, Height, Seconds, Gop, BFrames;
    int64_t BitRate;
};

// A moving picture with texture in it, so that the encoders spend bits and
// the decoders work as on real footage: a drifting gradient, a fine pattern
// that scrolls, and a bright square crossing the picture.
void DrawPicture(AVFrame* F, int Index) {
    const int W = F->width, H = F->height;
    for (int Y = 0; Y < H; ++Y) {
        uint8_t* Row = F->data[0] + static_cast<ptrdiff_t>(Y) * F->linesize[0];
        for (int X = 0; X < W; ++X) {
            int Texture = ((((X + 3 * Index) >> 2) * ((Y + Index) >> 2)) ^ ((X - Y) >> 3)) & 15;
            Row[X] = static_cast<uint8_t>(32 + ((X + Y + 4 * Index) & 127) + Texture);
        }
    }
    const int Box = H / 6, BX = (Index * 7) % (W - Box), BY = (Index * 3) % (H - Box);
    for (int Y = BY; Y < BY + Box; ++Y) std::memset(F->data[0] + static_cast<ptrdiff_t>(Y) * F->linesize[0] + BX, 235, Box);
    for (int Y = 0; Y < H / 2; ++Y)
        for (int X = 0; X < W / 2; ++X) {
            F->data[1][Y * F->linesize[1] + X] = static_cast<uint8_t>(128 + ((X + Index) & 63) - 32);
            F->data[2][Y * F->linesize[2] + X] = static_cast<uint8_t>(128 + ((Y + 2 * Index) & 63) - 32);
        }
}

void Generate(const std::string& File, const TMediaPlan& Plan) {
    AVFormatContext* Out = nullptr;
    Check(avformat_alloc_output_context2(&Out, nullptr, nullptr, File.c_str()), "output");
    const AVCodec* Codec = avcodec_find_encoder_by_name(Plan.Codec);
    if (!Codec) Die(std::string("no encoder ") + Plan.Codec);
    AVStream* Stream = avformat_new_stream(Out, nullptr);
    AVCodecContext* C = avcodec_alloc_context3(Codec);
    C->width = Plan.Width;
    C->height = Plan.Height;
    C->pix_fmt = AV_PIX_FMT_YUV420P;
    C->time_base = {1, 25};
    C->framerate = {25, 1};
    C->gop_size = Plan.Gop;
    C->max_b_frames = Plan.BFrames;
    C->bit_rate = Plan.BitRate;
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (std::strcmp(Plan.Codec, "libx264") == 0) {
        av_opt_set(C->priv_data, "preset", "veryfast", 0);
        // Key frames exactly every Gop pictures: no scene-cut key frames.
        av_opt_set(C->priv_data, "x264-params", "scenecut=0", 0);
        C->keyint_min = Plan.Gop;
    } else {
        C->rc_max_rate = Plan.BitRate * 3 / 2;
        C->rc_buffer_size = 1835008;  // the DVD video buffer
    }
    Check(avcodec_open2(C, Codec, nullptr), "open encoder");
    avcodec_parameters_from_context(Stream->codecpar, C);
    Stream->time_base = C->time_base;
    Check(avio_open(&Out->pb, File.c_str(), AVIO_FLAG_WRITE), "create");
    Check(avformat_write_header(Out, nullptr), "header");

    AVPacket* Packet = av_packet_alloc();
    auto Drain = [&] {
        while (avcodec_receive_packet(C, Packet) >= 0) {
            av_packet_rescale_ts(Packet, C->time_base, Stream->time_base);
            Packet->stream_index = Stream->index;
            Check(av_interleaved_write_frame(Out, Packet), "write");
        }
    };
    AVFrame* Picture = av_frame_alloc();
    Picture->format = C->pix_fmt;
    Picture->width = Plan.Width;
    Picture->height = Plan.Height;
    Check(av_frame_get_buffer(Picture, 0), "picture");
    for (int i = 0; i < Plan.Seconds * 25; ++i) {
        Check(av_frame_make_writable(Picture), "writable");
        DrawPicture(Picture, i);
        Picture->pts = i;
        Check(avcodec_send_frame(C, Picture), "encode");
        Drain();
    }
    avcodec_send_frame(C, nullptr);
    Drain();
    Check(av_write_trailer(Out), "trailer");
    av_frame_free(&Picture);
    av_packet_free(&Packet);
    avcodec_free_context(&C);
    avio_closep(&Out->pb);
    avformat_free_context(Out);
}

// --- The floor -------------------------------------------------------------

class TFloor {
public:
    explicit TFloor(const std::string& File) {
        Check(avformat_open_input(&FInput, File.c_str(), nullptr, nullptr), "open input");
        Check(avformat_find_stream_info(FInput, nullptr), "stream info");
        FStream = av_find_best_stream(FInput, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        Check(FStream, "video stream");
        const AVCodecParameters* Par = FInput->streams[FStream]->codecpar;
        const AVCodec* Codec = avcodec_find_decoder(Par->codec_id);
        FDecoder = avcodec_alloc_context3(Codec);
        avcodec_parameters_to_context(FDecoder, Par);
        FDecoder->pkt_timebase = FInput->streams[FStream]->time_base;
        Check(avcodec_open2(FDecoder, Codec, nullptr), "open decoder");
        FFrame = av_frame_alloc();
        FPacket = av_packet_alloc();
    }
    ~TFloor() {
        sws_freeContext(FScaler);
        av_frame_free(&FFrame);
        av_packet_free(&FPacket);
        avcodec_free_context(&FDecoder);
        avformat_close_input(&FInput);
    }

    int64_t Duration() const { return FInput->duration; }

    // Seeks to Position µs the way the probe does and decodes one picture.
    bool SeekAndDecode(int64_t Position) {
        const AVStream* S = FInput->streams[FStream];
        int64_t Target = av_rescale_q(Position, AVRational{1, 1000000}, S->time_base);
        if (S->duration > 0 && Target > S->duration) Target = S->duration;
        if (S->start_time != AV_NOPTS_VALUE) Target += S->start_time;
        avcodec_flush_buffers(FDecoder);
        if (av_seek_frame(FInput, FStream, Target, 0) < 0) av_seek_frame(FInput, FStream, Target, AVSEEK_FLAG_BACKWARD);
        av_frame_unref(FFrame);
        bool Draining = false;
        for (;;) {
            int Result = avcodec_receive_frame(FDecoder, FFrame);
            if (Result >= 0) return true;
            if (Result == AVERROR_EOF) return false;
            if (!Draining && av_read_frame(FInput, FPacket) >= 0) {
                if (FPacket->stream_index == FStream) avcodec_send_packet(FDecoder, FPacket);
                av_packet_unref(FPacket);
            } else if (!Draining) {
                Draining = true;
                avcodec_send_packet(FDecoder, nullptr);
            } else {
                return false;
            }
        }
    }

    // The decoded picture as packed BGR24, converted as the probe converts.
    void Convert() {
        const int W = FFrame->width, H = FFrame->height;
        FScaler = sws_getCachedContext(FScaler, W, H, static_cast<AVPixelFormat>(FFrame->format), W, H,
                                       AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        FRgb.resize(static_cast<size_t>(W) * H * 3);
        uint8_t* Planes[4] = {FRgb.data()};
        int Strides[4] = {W * 3};
        sws_scale(FScaler, FFrame->data, FFrame->linesize, 0, H, Planes, Strides);
        FWidth = W;
        FHeight = H;
    }

    // True when Bitmap holds the same pixels as the last conversion.
    bool Same(const TBitmap& Bitmap) const {
        if (Bitmap.Width() != FWidth || Bitmap.Height() != FHeight) return false;
        for (int Y = 0; Y < FHeight; ++Y)
            if (std::memcmp(Bitmap.ScanLine(Y), FRgb.data() + static_cast<size_t>(Y) * FWidth * 3,
                            static_cast<size_t>(FWidth) * 3) != 0)
                return false;
        return true;
    }

private:
    AVFormatContext* FInput = nullptr;
    int FStream = -1;
    AVCodecContext* FDecoder = nullptr;
    AVFrame* FFrame = nullptr;
    AVPacket* FPacket = nullptr;
    SwsContext* FScaler = nullptr;
    std::vector<uint8_t> FRgb;
    int FWidth = 0, FHeight = 0;
};

// --- Measuring ---------------------------------------------------------------

struct TSeries {
    std::vector<double> Values;
    double Median() const { return Rank(0.5); }
    double P95() const { return Rank(0.95); }
    double Rank(double Fraction) const {
        std::vector<double> Sorted = Values;
        std::sort(Sorted.begin(), Sorted.end());
        size_t At = static_cast<size_t>(std::ceil(Fraction * static_cast<double>(Sorted.size())));
        return Sorted[std::clamp<size_t>(At, 1, Sorted.size()) - 1];
    }
};

double MedianOf(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// Wall time and the CPU time of this thread: the step runs on one thread, so
// its CPU time is its work even while other programs load the machine.
struct TStamp {
    Clock::time_point Wall;
    double Cpu;  // ms
    static TStamp Now() {
        timespec T{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
        return {Clock::now(), static_cast<double>(T.tv_sec) * 1e3 + static_cast<double>(T.tv_nsec) / 1e6};
    }
};

// One quantity in wall and CPU time: per position the runs, then the
// per-position medians.
struct TQuantity {
    explicit TQuantity(const char* AName) : Name(AName) {}
    const char* Name;
    std::vector<double> RunWall, RunCpu;
    TSeries Wall, Cpu;
    void Add(const TStamp& From, const TStamp& To) {
        RunWall.push_back(Ms(From.Wall, To.Wall));
        RunCpu.push_back(To.Cpu - From.Cpu);
    }
    void EndPosition() {
        Wall.Values.push_back(MedianOf(RunWall));
        Cpu.Values.push_back(MedianOf(RunCpu));
        RunWall.clear();
        RunCpu.clear();
    }
};

void Measure(const std::string& Title, const std::string& File) {
    constexpr int Positions = 50, Rounds = 5;
    TAVProbe Probe;
    if (!Probe.OpenFile(File)) Die("probe cannot open " + File + ": " + Probe.LastError());
    const int Stream = Probe.FirstVideoStream();
    TFloor Floor(File);
    const int64_t Duration = Floor.Duration();

    std::mt19937_64 Random(20240611);
    std::uniform_int_distribution<int64_t> Pick(0, Duration - 1);
    std::vector<int64_t> At(Positions);
    for (int64_t& P : At) P = Pick(Random);

    TBitmap FrameCopy;
    constexpr uint32_t Background = 0xFFA6CAF0;  // RGB(166, 202, 240)
    std::vector<uint32_t> Canvas(size_t(MainPreviewWidth) * MainPreviewHeight);
    TQuantity Step{"preview step (seek+decode+convert+draw)"}, ProbeDecode{"  probe Seek + DecodeFrame"},
        Draw{"  fitted drawing into 217x188"}, Copy{"frame copy (for a snapshot, outside the step)"},
        FloorDecode{"floor seek + decode"},
        FloorConvert{"floor seek + decode + convert to BGR24"};
    int SamePictures = 0;
    std::string Misses;  // positions where no picture follows the seek
    // One pass unmeasured: decoders, scalers and buffers made, file cached.
    for (int64_t P : At) {
        Probe.Seek(Stream, P);
        Probe.DecodeFrame(Stream);
        if (Floor.SeekAndDecode(P)) Floor.Convert();
    }
    for (int64_t P : At) {
        for (int Round = 0; Round < Rounds; ++Round) {
            std::fill(Canvas.begin(), Canvas.end(), Background);
            // As the player steps: the picture stays in the probe, with a
            // keeper that copies it only before it changes.
            TStamp T0 = TStamp::Now();
            Probe.ForgetPictureKeeper(&FrameCopy);
            Probe.Seek(Stream, P);
            TBitmap& Frame = Probe.DecodeFrame(Stream);
            Probe.KeepPictureBeforeChange(&FrameCopy, [&] { FrameCopy = Frame; });
            TStamp T1 = TStamp::Now();
            DrawFitted(Frame, reinterpret_cast<uint8_t*>(Canvas.data()), MainPreviewWidth, MainPreviewHeight,
                       MainPreviewWidth * 4, 4);
            TStamp T2 = TStamp::Now();
            Probe.KeepPictureNow(&FrameCopy);
            TStamp T3 = TStamp::Now();
            Step.Add(T0, T2);
            ProbeDecode.Add(T0, T1);
            Draw.Add(T1, T2);
            Copy.Add(T2, T3);

            TStamp F0 = TStamp::Now();
            bool Decoded = Floor.SeekAndDecode(P);
            TStamp F1 = TStamp::Now();
            if (Decoded) Floor.Convert();
            TStamp F2 = TStamp::Now();
            FloorDecode.Add(F0, F1);
            FloorConvert.Add(F0, F2);
            if (Round == 0) {
                if (!Decoded) Misses += " " + std::to_string(P / 1000) + " ms";
                SamePictures += Decoded && Floor.Same(Frame);
            }
        }
        for (TQuantity* Q : {&Step, &ProbeDecode, &Draw, &Copy, &FloorDecode, &FloorConvert}) Q->EndPosition();
    }

    printf("\n%s (%s, %.1f s, %.1f MB)\n", Title.c_str(), fs::path(File).filename().c_str(), Duration / 1e6,
           static_cast<double>(fs::file_size(File)) / 1e6);
    printf("  same picture from probe and floor at %d of %d positions\n", SamePictures, Positions);
    if (!Misses.empty()) printf("  no picture after the seek (black in the preview) at:%s\n", Misses.c_str());
    printf("  %-46s %21s   %21s\n", "ms", "wall: median    p95", "thread cpu: median    p95");
    for (const TQuantity* Q : {&Step, &ProbeDecode, &Draw, &Copy, &FloorDecode, &FloorConvert})
        printf("  %-46s %12.2f %8.2f   %18.2f %8.2f\n", Q->Name, Q->Wall.Median(), Q->Wall.P95(), Q->Cpu.Median(),
               Q->Cpu.P95());
    auto Ratio = [](const char* Name, const TQuantity& A, const TQuantity& B) {
        printf("  %-46s %12.2f %8.2f   %18.2f %8.2f\n", Name, A.Wall.Median() / B.Wall.Median(),
               A.Wall.P95() / B.Wall.P95(), A.Cpu.Median() / B.Cpu.Median(), A.Cpu.P95() / B.Cpu.P95());
    };
    Ratio("ratio step / floor seek+decode", Step, FloorDecode);
    Ratio("ratio step / floor seek+decode+convert", Step, FloorConvert);
    Ratio("ratio probe decode / floor seek+decode+convert", ProbeDecode, FloorConvert);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: %s [FOLDER]\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    if (!LoadLibraries("", true)) Die(LibrariesError());
    av::av_log_set_level(AV_LOG_QUIET);

    fs::path Folder;
    bool Temporary = argc < 2;
    if (Temporary) {
        std::string Pattern = (fs::temp_directory_path() / "preview_bench.XXXXXX").string();
        if (!mkdtemp(Pattern.data())) Die("cannot make a temporary folder");
        Folder = Pattern;
    } else {
        Folder = argv[1];
        fs::create_directories(Folder);
    }
    const std::string H264 = (Folder / "h264_1280x720_gop250.mp4").string();
    const std::string Mpeg2 = (Folder / "mpeg2_720x576.mpg").string();
    if (!fs::exists(H264)) {
        printf("generating 25 s of 1280x720 H.264, key frame every 250 pictures ...\n");
        fflush(stdout);
        Generate(H264, {"libx264", 1280, 720, 25, 250, 3, 4000000});
    }
    if (!fs::exists(Mpeg2)) {
        printf("generating 25 s of 720x576 MPEG-2 in an MPEG program stream, GOP 12 ...\n");
        fflush(stdout);
        Generate(Mpeg2, {"mpeg2video", 720, 576, 25, 12, 2, 5000000});
    }
    printf("50 random positions (seed 20240611), each the median of 5 alternating runs; one thread per decoder\n");
    Measure("1280x720 H.264, GOP 250", H264);
    Measure("720x576 MPEG-2, GOP 12", Mpeg2);

    double Load[3] = {0, 0, 0};
    if (getloadavg(Load, 3) > 0) printf("\nload average at the end: %.2f %.2f %.2f\n", Load[0], Load[1], Load[2]);
    if (Temporary) fs::remove_all(Folder);
    return 0;
}
