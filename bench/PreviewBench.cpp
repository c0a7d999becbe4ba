// Measures one preview step through the probe against the floor of that
// work: a minimal seek-and-decode loop written directly on the libraries,
// at the same random positions (fixed seed) of two generated files whose
// pictures carry their own numbers.
//
//   preview_bench [FOLDER]     makes its media in FOLDER (default: a new
//                              temporary folder, removed at the end; a given
//                              folder is kept and its files reused)
//
// The preview step is what the main window does at a slider position:
// Seek + DecodeFrame (decode and convert to BGR24), the frame copy, and the
// fitted drawing into the 217 x 188 picture area, a 32-bit canvas as the
// window's picture view has. It is measured in both seek modes: key frame
// (a slider being dragged) and exact (every tick, key, button, release and
// snapshot: the picture of the time shown). The floor seeks back to the key
// frame at or before the time (AVSEEK_FLAG_BACKWARD), flushes the decoder
// and reads until the picture it wants comes out: the first one for the key
// frame, the one shown at the time for the exact picture, stepping further
// back as the probe does when a seek lands late; in its second form it
// converts the picture to BGR24 with the same scaler settings. Each
// position is measured in alternating rounds and its median kept; the
// figures are the median and the 95th percentile (nearest rank) over the
// positions, in wall time and in the thread's CPU time (steadier on a
// loaded machine). The burnt-in number of each picture tells whether probe
// and floor showed the picture of the time sought.
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

#include "bench/BenchSupport.h"

#include "app/PreviewMath.h"
#include "binding/LibAV.h"
#include "common/Bitmap.h"
#include "probe/AVProbe.h"
#include "tests/fixtures/PreviewMedia.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point From, Clock::time_point To) {
    return std::chrono::duration<double, std::milli>(To - From).count();
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

    // Seeks back to the key frame at or before Position µs and decodes the
    // first picture (Exact false) or the picture shown at Position (Exact
    // true), as the probe's two seek modes do.
    bool SeekAndDecode(int64_t Position, bool Exact) {
        const AVStream* S = FInput->streams[FStream];
        int64_t Target = av_rescale_q_rnd(Position, AVRational{1, 1000000}, S->time_base, AV_ROUND_DOWN);
        if (S->duration > 0 && Target > S->duration) Target = S->duration;
        const int64_t Start = S->start_time != AV_NOPTS_VALUE ? S->start_time : 0;
        Target += Start;
        int64_t Sought = Target;
        for (int Retry = 0;; ++Retry) {
            avcodec_flush_buffers(FDecoder);
            if (av_seek_frame(FInput, FStream, Sought, AVSEEK_FLAG_BACKWARD) < 0)
                av_seek_frame(FInput, FStream, Sought, 0);
            const int Result = DecodeTo(Exact ? Target : AV_NOPTS_VALUE, Retry < 3 && Sought > Start);
            if (Result >= 0) return Result > 0;
            // The first picture came after the time: step back 1, 4, 16 s.
            Sought = std::max(Start, Sought - av_rescale_q(int64_t(1000000) << (2 * Retry), AVRational{1, 1000000},
                                                           S->time_base));
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

    // The number burnt into the last converted picture.
    int Number() const {
        return ReadPictureNumber([&](int Y) { return FRgb.data() + static_cast<size_t>(Y) * FWidth * 3; }, FWidth,
                                 FHeight);
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
    // Decodes until a picture shown at Target (any picture when Target has
    // no value) is in FFrame: 1 when one is, 0 at the end, -1 when the first
    // picture is already later than Target and Late allows a further seek.
    int DecodeTo(int64_t Target, bool Late) {
        const AVStream* S = FInput->streams[FStream];
        av_frame_unref(FFrame);
        bool Draining = false, First = true;
        for (;;) {
            int Result = avcodec_receive_frame(FDecoder, FFrame);
            if (Result >= 0) {
                const int64_t Ts = FFrame->best_effort_timestamp;
                if (Target == AV_NOPTS_VALUE || Ts == AV_NOPTS_VALUE) return 1;
                if (First && Late && Ts > Target) return -1;
                First = false;
                int64_t Duration = FFrame->pkt_duration;
                if (Duration <= 0) Duration = av_rescale_q(1, av_inv_q(S->avg_frame_rate), S->time_base);
                if (Ts + Duration > Target) return 1;
                av_frame_unref(FFrame);
                continue;
            }
            if (Result == AVERROR_EOF) return 0;
            if (!Draining && av_read_frame(FInput, FPacket) >= 0) {
                if (FPacket->stream_index == FStream) avcodec_send_packet(FDecoder, FPacket);
                av_packet_unref(FPacket);
            } else if (!Draining) {
                Draining = true;
                avcodec_send_packet(FDecoder, nullptr);
            } else {
                return 0;
            }
        }
    }

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

int NumberIn(const TBitmap& Picture) {
    return ReadPictureNumber([&](int Y) { return Picture.ScanLine(Y); }, Picture.Width(), Picture.Height());
}

void Measure(const std::string& Title, const std::string& File, TAVProbe::TSeekMode Mode) {
    constexpr int Positions = 30, Rounds = 3;
    const bool Exact = Mode == TAVProbe::smExact;
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
        FloorDecode{"floor seek + decode"}, FloorConvert{"floor seek + decode + convert to BGR24"};
    int SamePictures = 0, ProbeRight = 0, FloorRight = 0;
    std::string Misses;  // positions where no picture follows the seek
    // One pass unmeasured: decoders, scalers and buffers made, file cached.
    for (int64_t P : At) {
        Probe.Seek(Stream, P, Mode);
        Probe.DecodeFrame(Stream);
        if (Floor.SeekAndDecode(P, Exact)) Floor.Convert();
    }
    for (int64_t P : At) {
        for (int Round = 0; Round < Rounds; ++Round) {
            std::fill(Canvas.begin(), Canvas.end(), Background);
            // As the player steps: the picture stays in the probe, with a
            // keeper that copies it only before it changes.
            TStamp T0 = TStamp::Now();
            Probe.ForgetPictureKeeper(&FrameCopy);
            Probe.Seek(Stream, P, Mode);
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
            bool Decoded = Floor.SeekAndDecode(P, Exact);
            TStamp F1 = TStamp::Now();
            if (Decoded) Floor.Convert();
            TStamp F2 = TStamp::Now();
            FloorDecode.Add(F0, F1);
            FloorConvert.Add(F0, F2);
            if (Round == 0) {
                // At 25 pictures a second the picture shown at P is number P / 40 ms.
                const int Wanted = static_cast<int>(P * 25 / 1000000);
                if (!Decoded) Misses += " " + std::to_string(P / 1000) + " ms";
                SamePictures += Decoded && Floor.Same(Frame);
                // Exact: that picture; key frame: one at or before it.
                auto Right = [&](int Number) { return Exact ? Number == Wanted : Number >= 0 && Number <= Wanted; };
                ProbeRight += Right(NumberIn(Frame));
                FloorRight += Decoded && Right(Floor.Number());
            }
        }
        for (TQuantity* Q : {&Step, &ProbeDecode, &Draw, &Copy, &FloorDecode, &FloorConvert}) Q->EndPosition();
    }

    printf("\n%s, %s pictures (%s, %.1f s, %.1f MB)\n", Title.c_str(), Exact ? "exact" : "key-frame",
           fs::path(File).filename().c_str(), Duration / 1e6, static_cast<double>(fs::file_size(File)) / 1e6);
    printf("  same picture from probe and floor at %d of %d positions\n", SamePictures, Positions);
    printf("  %s (by its burnt-in number): probe %d, floor %d of %d\n",
           Exact ? "the picture of the time sought" : "a picture at or before the time sought", ProbeRight, FloorRight,
           Positions);
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
    fflush(stdout);
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
    using previewmedia::TLook;
    using previewmedia::TPlan;
    try {
        // 12 s: key frames at 0 and 10 s, so that an exact picture may lie
        // up to 249 pictures after its key frame.
        if (!fs::exists(H264)) {
            printf("generating 12 s of 1280x720 H.264, key frame every 250 pictures ...\n");
            fflush(stdout);
            TPlan Plan{"h264_1280x720_gop250.mp4", "libx264", 1280, 720, 300, 250, 3, 4000000};
            Plan.Look = TLook::TexturedNumbered;
            previewmedia::Write(Folder, Plan);
        }
        if (!fs::exists(Mpeg2)) {
            printf("generating 12 s of 720x576 MPEG-2 in an MPEG program stream, GOP 12 ...\n");
            fflush(stdout);
            TPlan Plan{"mpeg2_720x576.mpg", "mpeg2video", 720, 576, 300, 12, 2, 5000000};
            Plan.Look = TLook::TexturedNumbered;
            previewmedia::Write(Folder, Plan);
        }
    } catch (const std::exception& E) {
        Die(E.what());
    }
    printf("30 random positions (seed 20240611), each the median of 3 alternating runs; one thread per decoder\n");
    for (TAVProbe::TSeekMode Mode : {TAVProbe::smExact, TAVProbe::smKeyFrame}) {
        Measure("1280x720 H.264, GOP 250", H264, Mode);
        Measure("720x576 MPEG-2, GOP 12", Mpeg2, Mode);
    }

    double Load[3] = {0, 0, 0};
    if (getloadavg(Load, 3) > 0) printf("\nload average at the end: %.2f %.2f %.2f\n", Load[0], Load[1], Load[2]);
    if (Temporary) fs::remove_all(Folder);
    return 0;
}
