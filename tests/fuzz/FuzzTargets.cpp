#include "tests/fuzz/FuzzTargets.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "app/FilesRecord.h"
#include "app/OutputOptions.h"
#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "common/IniFile.h"
#include "common/Text.h"
#include "component/JobOptions.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"

extern "C" {
#include <libavformat/avio.h>
}

namespace {

// Per input: at most this many reads of ReadSize bytes, and this much time.
constexpr int MaxReads = 512;
constexpr int ReadSize = 4096;
constexpr std::chrono::milliseconds MaxTime{3000};
// The name the memory input goes by; no such file exists.
const char* const InputName = "memory:fuzz-input";

// A file in memory read through a custom I/O context of the library.
class TMemoryReader {
public:
    // OnLimit runs on every read refused for a bound: a job started after
    // the first refusal is asked to stop again.
    TMemoryReader(const uint8_t* Data, size_t Size, std::function<void()> OnLimit = {})
        : FData(Data), FSize(Size), FOnLimit(std::move(OnLimit)), FDeadline(Clock::now() + MaxTime) {
        // The context owns its buffer and may replace it: both are the
        // library's allocations (avio_alloc_context is a tool's call, not
        // one of the program's bound entries).
        auto* Buffer = static_cast<unsigned char*>(av_malloc(ReadSize));
        FContext = avio_alloc_context(Buffer, ReadSize, 0, this, &Read, nullptr, &Seek);
        if (!FContext) av_free(Buffer);
    }
    ~TMemoryReader() {
        if (!FContext) return;
        av_freep(&FContext->buffer);
        avio_context_free(&FContext);
    }
    TMemoryReader(const TMemoryReader&) = delete;
    TMemoryReader& operator=(const TMemoryReader&) = delete;

    AVIOContext* Context() const { return FContext; }

private:
    using Clock = std::chrono::steady_clock;

    static int Read(void* Opaque, uint8_t* Buffer, int Size) {
        auto* Self = static_cast<TMemoryReader*>(Opaque);
        if (++Self->FReads > MaxReads || Clock::now() > Self->FDeadline) {
            if (Self->FOnLimit) Self->FOnLimit();
            return AVERROR_EXIT;
        }
        size_t Left = Self->FSize - Self->FPosition;
        if (Left == 0) return AVERROR_EOF;
        size_t Count = std::min(Left, static_cast<size_t>(Size));
        std::memcpy(Buffer, Self->FData + Self->FPosition, Count);
        Self->FPosition += Count;
        return static_cast<int>(Count);
    }

    static int64_t Seek(void* Opaque, int64_t Offset, int Whence) {
        auto* Self = static_cast<TMemoryReader*>(Opaque);
        int64_t Size = static_cast<int64_t>(Self->FSize);
        if (Whence & AVSEEK_SIZE) return Size;
        int64_t Base = 0;
        switch (Whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                Base = static_cast<int64_t>(Self->FPosition);
                break;
            case SEEK_END:
                Base = Size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (Offset > Size - Base || Offset < -Base) return AVERROR(EINVAL);
        Self->FPosition = static_cast<size_t>(Base + Offset);
        return Base + Offset;
    }

    const uint8_t* FData;
    size_t FSize;
    size_t FPosition = 0;
    int FReads = 0;
    std::function<void()> FOnLimit;
    Clock::time_point FDeadline;
    AVIOContext* FContext = nullptr;
};

// Runs one engine job on the memory input; the options come in two halves,
// before the input is opened and before the output is created.
void RunEngineJob(const uint8_t* Data, size_t Size, const std::vector<std::pair<const char*, const char*>>& Before,
                  const std::vector<std::pair<const char*, const char*>>& After, const char* Format,
                  TFuzzOutcome& Outcome) {
    TCustomFFmpeg Engine;
    Engine.PrepareJob();
    TMemoryReader Reader(Data, Size, [&Engine] { Engine.RequestStop(); });
    if (!Reader.Context()) return;
    try {
        for (auto& [Name, Value] : Before) Engine.SetOption(Name, Value);
        Engine.InputReader = Reader.Context();
        if (Engine.OpenInputFile(InputName)) {
            Outcome.Opened = true;
            for (auto& [Name, Value] : After) Engine.SetOption(Name, Value);
            Engine.SetOutputFormat(Format);
            if (Engine.OpenOutputFile("/dev/null")) {
                Engine.Start(false, tpNormal);
                Outcome.Converted |= Engine.Finished && !Engine.ErrorOccurred;
            }
        }
    } catch (const std::exception&) {
        // A refused option ends the job, as the component turns it into
        // its LastError.
    }
    // The input reads through the reader, which goes first.
    Engine.ClearJob();
}

// A file of this process in the temporary folder.
std::string TempPath(const std::string& Name) {
    return (std::filesystem::temp_directory_path() / ("tarn-fuzz-" + std::to_string(getpid()) + "-" + Name)).string();
}

[[noreturn]] void Broken(const char* What) {
    std::fprintf(stderr, "fuzz target: %s\n", What);
    __builtin_trap();
}

// Everything the file says: (section, key, value) in file order, the keys
// of each section read as the program reads them.
std::vector<std::tuple<std::string, std::string, std::string>> ReadAll(const IniFile& Ini) {
    std::vector<std::tuple<std::string, std::string, std::string>> All;
    std::vector<std::string> Sections = Ini.ReadSections();
    if (Sections.size() > 16) Sections.resize(16);
    for (const std::string& Section : Sections) {
        std::vector<std::string> Keys = Ini.ReadSection(Section);
        if (Keys.size() > 64) Keys.resize(64);
        for (const std::string& Key : Keys) {
            std::string Value = Ini.ReadString(Section, Key, "\x01missing");
            if (Value == "\x01missing" || !Ini.ValueExists(Section, Key)) Broken("a listed key cannot be read");
            Ini.ReadInteger(Section, Key, 0);
            Ini.ReadFloat(Section, Key, 0.0);
            All.emplace_back(Section, Key, Value);
        }
    }
    return All;
}

struct TSourceShape {
    int Width, Height, BitRate, SarNum, SarDen, Rotation, RateNum, RateDen;
};
constexpr TSourceShape Shapes[] = {
    {640, 480, 800000, 1, 1, 0, 25, 1},       {720, 576, 4000000, 16, 15, 0, 25, 1},
    {1920, 1080, 8000000, 1, 1, 0, 30000, 1001}, {0, 0, -1, 0, 0, 0, 0, 0},
    {640, 480, 1000000, 1, 1, 90, 50, 1},    {176, 144, 64000, 12, 11, 270, 15, 1},
};
const char* const Zooms[] = {"lbox", "cent", "full", "orig"};

}  // namespace

bool FuzzSetUp() {
    static const bool Loaded = [] {
        if (!LoadLibraries("", true)) return false;
        av::av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    return Loaded;
}

TFuzzOutcome FuzzProbe(const uint8_t* Data, size_t Size) {
    TFuzzOutcome Outcome;
    if (!FuzzSetUp()) return Outcome;
    TMemoryReader Reader(Data, Size);
    if (!Reader.Context()) return Outcome;
    TAVProbe Probe;
    if (!Probe.OpenStream(Reader.Context(), InputName)) return Outcome;
    Outcome.Opened = true;

    TAVFileInfo File;
    Probe.GetFileInfo(File);
    for (int I = -1; I < Probe.StreamCount(); ++I) {
        TAVVideoStreamInfo Video;
        TAVAudioStreamInfo Audio;
        Probe.GetVideoStreamInfo(I, Video);
        Probe.GetAudioStreamInfo(I, Audio);
        if (I >= 0) {
            Probe.IsVideoStream(I);
            Probe.IsAudioStream(I);
        }
    }
    Probe.GetInfoText();
    Probe.GetFileSize();
    Probe.GetFormatName();

    // What the preview does: the first picture, then the slider's positions
    // within the duration the file claims. A bitmap larger than a real
    // picture is one that no decoded picture has confirmed.
    auto Decode = [&] {
        const TBitmap& Bitmap = Probe.DecodeFrame(-1);
        if (int64_t(Bitmap.Width()) * Bitmap.Height() > TAVProbe::MaxDeclaredPixels && Probe.LastFrame().Empty())
            Broken("the probe sized a picture by a claim alone");
    };
    try {
        Decode();
        int64_t Duration = File.Duration > 0 ? File.Duration : 0;
        for (int64_t Position : {Duration / 2, Duration, int64_t(0)}) {
            Probe.Seek(-1, Position);
            Decode();
        }
        if (Probe.FirstAudioStream() >= 0) {
            Probe.Seek(Probe.FirstAudioStream(), Duration / 3);
            Decode();
        }
    } catch (const EAVProbeError&) {
        // A decoder that cannot be found or opened.
    }
    Outcome.Decoded = !Probe.LastFrame().Empty();
    Probe.CloseFile();
    return Outcome;
}

TFuzzOutcome FuzzEngine(const uint8_t* Data, size_t Size) {
    TFuzzOutcome Outcome;
    if (!FuzzSetUp()) return Outcome;
    RunEngineJob(Data, Size, {}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"scodec", "copy"}}, "matroska", Outcome);
    RunEngineJob(Data, Size, {{"ss", "0.2"}},
                 {{"vcodec", "mpeg4"}, {"s", "64x48"}, {"acodec", "mp2"}, {"ar", "22050"}, {"ac", "1"}, {"sn", ""},
                  {"t", "0.5"}},
                 "avi", Outcome);
    return Outcome;
}

TFuzzOutcome FuzzSettings(const uint8_t* Data, size_t Size) {
    TFuzzOutcome Outcome;
    if (Size < 3 || !FuzzSetUp()) return Outcome;
    const int Profile = Data[0] % ProfileCount;
    const TSourceShape& Shape = Shapes[Data[1] % std::size(Shapes)];
    const std::string Section = ProfileSection(Profile);

    std::string Path = TempPath("settings.ini");
    {
        std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
        Out << "[" << Section << "]\n";
        Out.write(reinterpret_cast<const char*>(Data + 3), static_cast<std::streamsize>(Size - 3));
    }
    IniFile Settings(Path);

    // The reader lists what it can read back, and a write keeps every other
    // value.
    auto Before = ReadAll(Settings);
    const std::string Written = "a=b ; c";
    if (Settings.WriteString(Section, "FuzzCheck", Written)) {
        if (Settings.ReadString(Section, "fuzzcheck", "") != Written) Broken("a written value does not read back");
        auto After = ReadAll(Settings);
        auto Other = [&](const std::tuple<std::string, std::string, std::string>& Entry) {
            return !(SameText(std::get<0>(Entry), Section) && SameText(std::get<1>(Entry), "FuzzCheck"));
        };
        std::vector<std::tuple<std::string, std::string, std::string>> KeptBefore, KeptAfter;
        std::copy_if(Before.begin(), Before.end(), std::back_inserter(KeptBefore), Other);
        std::copy_if(After.begin(), After.end(), std::back_inserter(KeptAfter), Other);
        // A capped listing may gain the new key inside its window and lose
        // the last one: compare what both windows hold.
        size_t Common = std::min(KeptBefore.size(), KeptAfter.size());
        for (size_t I = 0; I < Common; ++I)
            if (KeptBefore[I] != KeptAfter[I]) Broken("a write changed another value");
    }

    TlvFilesRecord Row;
    Row.SourceFile = "/nonexistent/source.mp4";
    Row.ZoomMode = Zooms[Data[2] % 4];
    int Crop = (Data[2] / 4 % 4) * 8;
    Row.CropTop = Row.CropBottom = Row.CropLeft = Row.CropRight = Crop;
    TSourcePicture Source;
    Source.Width = Shape.Width;
    Source.Height = Shape.Height;
    Source.VideoBitRate = Shape.BitRate;
    Source.SarNum = Shape.SarNum;
    Source.SarDen = Shape.SarDen;
    Source.Rotation = Shape.Rotation;
    Source.RateNum = Shape.RateNum;
    Source.RateDen = Shape.RateDen;

    TInputOptions Input;
    TOutputOptions Output;
    InitInputOptions(Input);
    InitOutputOptions(Output);
    Input.FileName = Row.SourceFile;
    // The engine creates the output when the job is made and ClearJob
    // removes it again while it is empty; its extension chooses the
    // container where the profile names none.
    const std::string FormatIni = std::string(FUZZ_DATA_DIR) + "/tarnmp4format.ini";
    Output.FileName = TempPath("output." + ProfileFileExt(IniFile(FormatIni), Profile));
    if (Crop > 0) {
        Output.CropTop = Output.CropBottom = Output.CropLeft = Output.CropRight = Crop;
    }
    try {
        BuildOutputOptions({Path, FormatIni}, Row, Profile, Output, Source, Input);
        Outcome.Converted = true;
    } catch (const EConvertError&) {
        // A value that must be a number and is not: the batch stops with
        // its message.
    } catch (const EProfileError&) {
        // A crop given to a profile that copies the streams: refused.
    } catch (const EFitSizeError&) {
        // A size to fit that the file cannot meet: refused with its reason.
    }
    std::remove(Path.c_str());
    if (!Outcome.Converted) return Outcome;

    // The component's translation of the two records, and the output's
    // streams made from them.
    TCustomFFmpeg Engine;
    Engine.PrepareJob();
    try {
        ApplyInputOptions(Engine, Input, Input.FileName);
        ApplyOutputOptions(Engine, Output, Output.FileName);
        Outcome.Opened = Engine.OpenOutputFile(Output.FileName);
    } catch (const std::exception&) {
        // The component refuses the job with the message.
    }
    Engine.ClearJob();
    return Outcome;
}
