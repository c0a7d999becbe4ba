// A job with a size to fit: a first pass measures the picture (and what the
// sound and the container really take) into a discarded output, a second
// pass encodes the picture at the rate that fills the rest. The file is
// measured before it gets its name; one that came out over the size, or
// well under it, is encoded again at a corrected rate, so that a file over
// the size is never given its name.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/MediaText.h"
#include "common/Text.h"
#include "engine/EngineState.h"
#include "engine/FFmpeg.h"
#include "engine/OutputTarget.h"
#include "engine/Transcode.h"

namespace {

// The part of the size a pass aims at; results land between 97 % and 100 %.
constexpr double Aim = 0.985;
constexpr double Floor = 0.97;
// Second passes after the first one that missed.
constexpr int Corrections = 3;

// A private folder for the encoders' pass logs, removed with its contents
// whatever way the job ends.
class TPassFolder {
public:
    TPassFolder() {
        const char* Base = getenv("TMPDIR");
        std::string Root = Base && *Base && !strpbrk(Base, ":,=") ? Base : "/tmp";
        std::string Pattern = Root + "/tarn-pass-XXXXXX";
        if (mkdtemp(Pattern.data())) FPath = Pattern;
    }
    ~TPassFolder() {
        if (FPath.empty()) return;
        if (DIR* Folder = opendir(FPath.c_str())) {
            while (dirent* Entry = readdir(Folder)) {
                if (strcmp(Entry->d_name, ".") == 0 || strcmp(Entry->d_name, "..") == 0) continue;
                unlinkat(dirfd(Folder), Entry->d_name, 0);
            }
            closedir(Folder);
        }
        rmdir(FPath.c_str());
    }
    TPassFolder(const TPassFolder&) = delete;
    TPassFolder& operator=(const TPassFolder&) = delete;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Encoders whose rate control reads a first pass: through the codec flags
// and the statistics the engine keeps, or, for x264 and x265, through a
// file of their own. The others encode each pass at the rate alone.
enum TPassKind { pkNone, pkFlags, pkX264, pkX265 };

TPassKind PassKind(const AVCodecContext* C) {
    const char* Name = C->codec ? C->codec->name : "";
    if (strcmp(Name, "libx264") == 0) return pkX264;
    if (strcmp(Name, "libx265") == 0) return pkX265;
    static const char* const Flagged[] = {"libvpx", "libvpx-vp9", "mpeg4", "mpeg1video", "mpeg2video",
                                          "msmpeg4", "msmpeg4v2", "h263", "h263p", "flv", "wmv1", "wmv2"};
    for (const char* F : Flagged)
        if (strcmp(Name, F) == 0) return pkFlags;
    return pkNone;
}

// The bits of a first pass of the library's own MPEG encoders that no rate
// can save (motion vectors and headers, "mv:" and "misc:" of each picture's
// entry), summed over the pass logs in AFolder. Their second pass refuses a
// rate below them, and this library's version then frees its rate
// expression twice: the rate is checked here first.
int64_t FixedBits(const std::string& AFolder) {
    int64_t Bits = 0;
    DIR* Folder = opendir(AFolder.c_str());
    if (!Folder) return 0;
    while (dirent* Entry = readdir(Folder)) {
        const std::string Name = Entry->d_name;
        if (Name.rfind("pass-", 0) != 0 || Name.size() < 4 || Name.compare(Name.size() - 4, 4, ".log") != 0) continue;
        FILE* In = fopen((AFolder + "/" + Name).c_str(), "r");
        if (!In) continue;
        std::string Text;
        char Buffer[4096];
        for (size_t Read; (Read = fread(Buffer, 1, sizeof Buffer, In)) > 0;) Text.append(Buffer, Read);
        fclose(In);
        for (const char* Key : {" mv:", " misc:"})
            for (size_t At = Text.find(Key); At != std::string::npos; At = Text.find(Key, At + 1))
                Bits += strtoll(Text.c_str() + At + strlen(Key), nullptr, 10);
    }
    closedir(Folder);
    return Bits;
}

bool MpegRateControl(const AVCodecContext* C) {
    const char* Name = C->codec ? C->codec->name : "";
    return PassKind(C) == pkFlags && strncmp(Name, "libvpx", 6) != 0;
}

std::string Megabytes(int64_t Bytes) { return StrFormat("%.3f MB", double(Bytes) / 1e6); }

}  // namespace

void TCustomFFmpeg::RunFitted() {
    struct TPassGuard {
        int& Pass;
        ~TPassGuard() { Pass = 0; }
    } Guard{FitPass};
    const int64_t Target = Settings.fitsize;
    if (!OnPrepare) throw FFMpegException("A size to fit needs a job whose files open when it runs");
    TPassFolder Folder;
    if (Folder.Path().empty())
        throw FFMpegException(StrFormat("Could not make a folder for the pass logs: %s", strerror(errno)));
    TEngineState& S = *FState;

    // The picture's encoder of the first output, set up for pass APass at
    // ARate bits a second.
    auto SetUpPass = [&](int APass, int64_t ARate) {
        if (S.OutputFileCount < 1 || !S.OutputFiles[0]) throw FFMpegException("Must supply at least one output file");
        TOutputStreamSetup* Video = nullptr;
        for (unsigned k = 0; k < S.OutputFiles[0]->nb_streams && k < MAX_STREAMS; ++k) {
            TOutputStreamSetup& Setup = S.OutputStreams[0][k];
            if (Setup.Codec && !Setup.StreamCopy && Setup.Codec->codec_type == AVMEDIA_TYPE_VIDEO) {
                Video = &Setup;
                break;
            }
        }
        if (!Video) throw FFMpegException("A size to fit needs a picture to encode");
        AVCodecContext* C = Video->Codec;
        const std::string Log = Folder.Path() + "/pass";
        Settings.passlogfile = Log;
        C->bit_rate = ARate;
        // A device's peak rate stays: the average never goes above it.
        if (C->rc_max_rate > 0 && C->rc_max_rate < ARate) C->bit_rate = C->rc_max_rate;
        C->flags &= ~(AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2);
        switch (PassKind(C)) {
            case pkFlags:
                C->flags |= APass == 1 ? AV_CODEC_FLAG_PASS1 : AV_CODEC_FLAG_PASS2;
                break;
            case pkX264:
                C->flags |= APass == 1 ? AV_CODEC_FLAG_PASS1 : AV_CODEC_FLAG_PASS2;
                av::av_dict_set(&Video->EncoderOptions, "stats", (Log + "-x264.log").c_str(), 0);
                break;
            case pkX265: {
                AVDictionaryEntry* Old = av::av_dict_get(Video->EncoderOptions, "x265-params", nullptr, 0);
                std::string Params = Old && *Old->value ? std::string(Old->value) + ":" : "";
                Params += StrFormat("pass=%d:stats=%s-x265.log", APass, Log.c_str());
                av::av_dict_set(&Video->EncoderOptions, "x265-params", Params.c_str(), 0);
                break;
            }
            case pkNone:
                break;
        }
    };
    // The size the finished output has before it gets its name.
    auto OutputBytes = [&]() -> int64_t {
        // The trailer has flushed the muxer's buffer into the file.
        struct stat Info {};
        if (S.OutputTargets[0].Handle < 0 || fstat(S.OutputTargets[0].Handle, &Info) != 0) return -1;
        return Info.st_size;
    };
    auto Discard = [&] {
        S.OutputComplete[0] = false;
        ClearJob();
    };

    // Pass 1, at the rate the job was given.
    FitPass = 1;
    int64_t Rate = 0;
    for (unsigned k = 0; S.OutputFileCount > 0 && k < S.OutputFiles[0]->nb_streams && k < MAX_STREAMS; ++k)
        if (S.OutputStreams[0][k].Codec && S.OutputStreams[0][k].Codec->codec_type == AVMEDIA_TYPE_VIDEO)
            Rate = S.OutputStreams[0][k].Codec->bit_rate;
    if (Rate <= 0) Rate = 500000;
    SetUpPass(1, Rate);
    Log(1, StrFormat("Pass 1 of 2: measuring the picture for a file of %s", Megabytes(Target).c_str()));
    TTranscoder(*this).Run();
    const int64_t Written = OutputBytes();
    const int64_t Others = Written - S.VideoSize;  // sound, subtitles and the container
    const int64_t Sound = S.AudioSize;
    const double Seconds = S.OutputSeconds;
    Discard();
    if (StopRequested) return;
    if (Written <= 0 || Seconds <= 0) throw FFMpegException("The first pass wrote nothing to measure");
    auto Fill = [&](int64_t AOthers) {
        return int64_t(std::floor((Target * Aim - double(AOthers)) * 8 / Seconds));
    };
    Rate = Fill(Others);
    if (Rate < 1000)
        throw FFMpegException(StrFormat(
            "Cannot fit %s in %s: the sound alone (%.0f kbit/s) and the container take %s of it",
            FormatDuration(int64_t(Seconds * 1e6)).c_str(), Megabytes(Target).c_str(), double(Sound) * 8 / Seconds / 1000,
            Megabytes(Others).c_str()));

    const int64_t Fixed = FixedBits(Folder.Path());
    struct TTry {
        int64_t Rate = 0, Bytes = 0;
    } Low, High;
    // A finished second pass under the size, kept until a better one
    // comes or it is given its name; removed on any other way out.
    struct TKept {
        TOutputTarget Target;
        int64_t Bytes = 0;
        void Replace(const TOutputTarget& ANew, int64_t ABytes) {
            if (Target.Handle >= 0) DiscardOutputTarget(Target);
            Target = ANew;
            Bytes = ABytes;
        }
        ~TKept() {
            if (Target.Handle >= 0) DiscardOutputTarget(Target);
        }
    } Kept;
    bool Saturated = false;
    FitPass = 2;
    for (int Attempt = 0;; ++Attempt) {
        OnPrepare(this);
        SetUpPass(2, Rate);
        for (unsigned k = 0; k < S.OutputFiles[0]->nb_streams && k < MAX_STREAMS; ++k) {
            const AVCodecContext* C = S.OutputStreams[0][k].Codec;
            if (!C || C->codec_type != AVMEDIA_TYPE_VIDEO || !MpegRateControl(C)) continue;
            if (double(C->bit_rate) * Seconds < 1.02 * double(Fixed))
                throw FFMpegException(StrFormat(
                    "Cannot fit %s in %s with this encoder: its picture takes at least %.0f kbit/s, and the size "
                    "leaves %.0f kbit/s",
                    FormatDuration(int64_t(Seconds * 1e6)).c_str(), Megabytes(Target).c_str(),
                    double(Fixed) / Seconds / 1000 * 1.02, double(C->bit_rate) / 1000));
        }
        Log(1, StrFormat("Pass 2 of 2: the picture at %.1f kbit/s for a file of %s%s", double(Rate) / 1000,
                         Megabytes(Target).c_str(), Attempt > 0 ? ", again" : ""));
        TTranscoder(*this).Run();
        const int64_t Bytes = OutputBytes();
        // A stopped job keeps what it wrote, as every job does.
        if (StopRequested || Bytes < 0) return;
        if (Bytes <= Target && Bytes >= Target * Floor) return;  // the kept one goes with Kept
        const int64_t Picture = S.VideoSize;
        const bool Over = Bytes > Target;
        if (Over) {
            High = {Rate, Bytes};
            Discard();
        } else {
            // A picture that takes no more at a higher rate is all the
            // encoder can spend on it: asking again changes nothing.
            Saturated = Low.Rate > 0 && Rate > Low.Rate && double(Bytes) <= double(Low.Bytes) * 1.005;
            Low = {Rate, Bytes};
            // The fullest file under the size so far is kept aside, in
            // case no later pass lands closer.
            if (Bytes > Kept.Bytes) {
                Kept.Replace(S.OutputTargets[0], Bytes);
                S.OutputTargets[0] = TOutputTarget();
                S.OutputComplete[0] = false;
                ClearJob();
            } else {
                Discard();
            }
        }
        if (Attempt >= Corrections || Picture <= 0 || Saturated) break;
        // Between a rate that came out under and one that came out over,
        // the next lies on the line through both; with one side known,
        // the encoder's miss scales the rate.
        const double Wanted = Target * Aim;
        int64_t Next;
        if (Low.Rate > 0 && High.Rate > 0 && High.Bytes > Low.Bytes)
            Next = Low.Rate + int64_t(double(High.Rate - Low.Rate) * (Wanted - double(Low.Bytes)) /
                                      double(High.Bytes - Low.Bytes));
        else
            Next = int64_t(double(Rate) * (Wanted - double(Bytes - Picture)) / double(Picture));
        Log(1, StrFormat("The file came out at %s; encoding it again", Megabytes(Bytes).c_str()));
        Rate = std::max<int64_t>(Next, 1000);
    }
    if (Kept.Bytes <= 0)
        throw FFMpegException(StrFormat("The file came out at %s, over the size to fit of %s",
                                        Megabytes(High.Bytes).c_str(), Megabytes(Target).c_str()));
    if (Kept.Bytes < Target * Floor)
        Log(0, StrFormat("The file takes %s of the %s it may take", Megabytes(Kept.Bytes).c_str(),
                         Megabytes(Target).c_str()));
    const std::string Given = CommitOutputTarget(Kept.Target);
    Kept.Bytes = 0;
    if (Given.empty())
        throw FFMpegException(StrFormat("Could not name the finished file: %s", strerror(errno)));
    if (!OutputFileNames.empty()) OutputFileNames[0] = Given;
}
