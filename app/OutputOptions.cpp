#include "app/OutputOptions.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "app/Profiles.h"
#include "common/IniFile.h"
#include "common/MediaText.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "probe/AVProbe.h"

namespace {

constexpr const char* AsSource = "as source";

int KbitToBits(int Kbit) {
    int64_t Bits = static_cast<int64_t>(Kbit) * 1000;
    return static_cast<int>(std::clamp<int64_t>(Bits, INT32_MIN, INT32_MAX));
}

std::string SizeText(int W, int H, char Separator) {
    return std::to_string(W) + Separator + std::to_string(H);
}

// A profile value that cannot be used stops the batch with a message that
// says where it is written.
[[noreturn]] void RefuseValue(const IniFile& From, const std::string& S, const char* Key, const std::string& Why) {
    const std::string File =
        From.FileName().empty() ? "the program's shipped settings" : "the file " + From.FileName();
    throw EConvertError(Why + " for " + Key + " in section [" + S + "] of " + File);
}

int IntValue(const IniFile& From, const std::string& S, const char* Key, const std::string& Text) {
    try {
        return StrToInt(Text);
    } catch (const EConvertError& E) {
        RefuseValue(From, S, Key, E.what());
    }
}

double FloatValue(const IniFile& From, const std::string& S, const char* Key, const std::string& Text) {
    try {
        return StrToFloat(Text);
    } catch (const EConvertError& E) {
        RefuseValue(From, S, Key, E.what());
    }
}

// The file a value of ProfileValue comes from.
const IniFile& Holder(const IniFile& Settings, const IniFile& Format, const std::string& S, const char* Key) {
    return Settings.ValueExists(S, Key) ? Settings : Format;
}

// Audio keys shared by video and audio-only profiles. The volume is read
// after the channels of a video profile and last for an audio-only one;
// Unchanged is the value that leaves the volume alone.
void ReadAudio(const IniFile& Settings, const std::string& S, TOutputOptions& Output, bool AudioOnly) {
    auto ReadVolume = [&](const char* Unchanged) {
        // A missing key means the volume as it is, not a near-silent 3/256.
        std::string Volume = Settings.ReadString(S, "paraVolume", "256");
        if (Volume != Unchanged) Output.AudioVolume = IntValue(Settings, S, "paraVolume", Volume);
    };
    Output.AudioCodec = Settings.ReadString(S, "paraAudioEncoder", "libfaac");
    std::string Channels = Settings.ReadString(S, "paraChannel", "2");
    if (Channels != AsSource) Output.AudioChannels = IntValue(Settings, S, "paraChannel", Channels);
    if (!AudioOnly) ReadVolume("100");
    std::string Rate = Settings.ReadString(S, "paraSampleRate", "44100");
    if (Rate != AsSource) Output.AudioSampleRate = IntValue(Settings, S, "paraSampleRate", Rate);
    std::string BitRate = Settings.ReadString(S, "paraAudioBitRate", "128");
    if (BitRate != AsSource && !Trim(BitRate).empty()) {
        double Bits = std::nearbyint(FloatValue(Settings, S, "paraAudioBitRate", BitRate) * 1000.0);
        if (Bits > 0) Output.AudioBitRate = static_cast<int>(std::min<double>(Bits, INT32_MAX));
    }
    if (AudioOnly) ReadVolume("256");
}

// The H.264 values of the profile reach x264 as the encoder's own limits:
// level, VBV rate and buffer, a quantiser ceiling, CABAC with the matching
// profile, and the bit-exact flag. The vcodec line comes first so that the
// encoder's private options are known when their lines are read.
void ReadH264(const IniFile& Settings, const IniFile& Format, const std::string& S, TOutputOptions& Output) {
    std::string Extra = "vcodec=libx264";
    if (LowerCase(Settings.ReadString(S, "paraBitExact", "True")) == "true") Extra += "\nflags=+bitexact";
    int Value = 0;
    if (TryStrToInt(Settings.ReadString(S, "paraLevel", "13"), Value) && Value > 0)
        Extra += "\nlevel=" + std::to_string(Value);
    if (TryStrToInt(Settings.ReadString(S, "paraQscale", "25"), Value) && Value > 0)
        Extra += "\nqmax=" + std::to_string(H264QuantiserForQscale(Value));
    if (TryStrToInt(Settings.ReadString(S, "paraCoder", "0"), Value) && Value >= 0) {
        bool Cabac = Value > 0;
        // A profile named by the profile file wins over the one the coder implies.
        std::string Named = Format.ReadString(S, "H264Profile", "");
        Extra += Cabac ? "\ncoder=1\nprofile=" + (Named.empty() ? std::string("main") : Named)
                       : "\ncoder=0\nprofile=baseline";
    }
    Output.ExtraOptions = Extra;
    // The rate limit never undercuts the chosen bit rate: the bit rate
    // decides the file size.
    if (TryStrToInt(Settings.ReadString(S, "paraMaxBitrate", "1500"), Value) && Value > 0)
        Output.VideoMaxRate = std::max(KbitToBits(Value), Output.VideoBitRate);
    if (TryStrToInt(Settings.ReadString(S, "paraBufferSize", "128"), Value) && Value > 0)
        Output.VideoBufSize = KbitToBits(Value);
}

// Ws x Hs is the source's display size; crops are in coded pixels, whose
// width is Sar display pixels.
struct TFit {
    int Ws, Hs, Wt, Ht, CT, CB, CL, CR;
    TOutputOptions& Output;
    double Sar = 1.0;

    void ByWidth() {
        double R = static_cast<double>(Ws) / Wt;
        int H = 2 * (static_cast<int>(std::nearbyint(Hs / R)) / 2);
        Output.PadTop = Output.PadBottom = 2 * ((Ht - H) / 4);
        int Hv = 2 * ((Ht - Output.PadTop - Output.PadBottom) / 2);
        Output.FrameSize = SizeText(Wt + CL + CR, CT + Hv + CB, 'x');
        Output.AspectRatio = SizeText(Wt, Ht, ':');
    }

    void ByHeight() {
        double R = static_cast<double>(Hs) / Ht;
        int W = 2 * (static_cast<int>(std::nearbyint(Ws / R)) / 2);
        Output.PadLeft = Output.PadRight = 2 * ((Wt - W) / 4);
        int Wv = 2 * ((Wt - Output.PadLeft - Output.PadRight) / 2);
        Output.FrameSize = SizeText(CL + Wv + CR, Ht + CT + CB, 'x');
        Output.AspectRatio = SizeText(Wt, Ht, ':');
    }

    void ByRatio() {
        double Rw = static_cast<double>(Ws) / Wt, Rh = static_cast<double>(Hs) / Ht;
        if (Rw > Rh)
            ByWidth();
        else if (Rw < Rh)
            ByHeight();
        else {
            Output.FrameSize = SizeText(Wt, Ht, 'x');
            Output.AspectRatio = SizeText(Wt, Ht, ':');
        }
    }

    // The whole target, stretched; crops are cut from the source first.
    void Stretch() {
        Output.FrameSize = SizeText(Wt + CL + CR, Ht + CT + CB, 'x');
        Output.AspectRatio = SizeText(Wt, Ht, ':');
    }

    void LetterBox() {
        if (Ws <= 0 || Hs <= 0) {
            // No picture to fit against: the target size is all there is.
            Stretch();
            return;
        }
        if (Wt <= Ws && Ht >= Hs) ByWidth();
        if (Wt >= Ws && Ht <= Hs) ByHeight();
        if (Wt >= Ws && Ht >= Hs) ByRatio();
        if (Wt <= Ws && Ht <= Hs) ByRatio();
        if (Wt == Ws && Ht == Hs) {
            Output.FrameSize = SizeText(Ws, Hs, 'x');
            Output.AspectRatio = SizeText(Ws, Hs, ':');
            if (CT > 0) Output.PadTop = 2 * ((Output.PadTop + CT) / 2);
            if (CB > 0) Output.PadBottom = 2 * ((Output.PadBottom + CB) / 2);
            if (CL > 0) Output.PadLeft = 2 * ((Output.PadLeft + CL) / 2);
            if (CR > 0) Output.PadRight = 2 * ((Output.PadRight + CR) / 2);
            Output.PadLeft = Output.PadRight = 2 * ((Output.PadLeft + Output.PadRight) / 4);
            Output.PadTop = Output.PadBottom = 2 * ((Output.PadTop + Output.PadBottom) / 4);
        }
    }

    // Fills the target keeping the picture's shape: what sticks out is cut
    // evenly from both sides, in addition to the user's crops.
    void Centre() {
        int Wc = Ws - static_cast<int>(std::lround((CL + CR) * Sar)), Hc = Hs - CT - CB;
        if (Ws <= 0 || Hs <= 0 || Wc <= 0 || Hc <= 0) {
            Stretch();
            return;
        }
        int64_t Wide = static_cast<int64_t>(Wc) * Ht, Tall = static_cast<int64_t>(Hc) * Wt;
        if (Wide > Tall) {
            // The excess is in display pixels; the cut is made in coded ones.
            int Excess = static_cast<int>((Wc - Tall / Ht) / Sar);
            int Cut = 2 * (Excess / 4);
            CL += Cut;
            CR += Cut;
        } else if (Wide < Tall) {
            int Excess = Hc - static_cast<int>(Wide / Wt);
            int Cut = 2 * (Excess / 4);
            CT += Cut;
            CB += Cut;
        }
        if (CT > 0 || CB > 0 || CL > 0 || CR > 0) {
            Output.CropTop = CT;
            Output.CropBottom = CB;
            Output.CropLeft = CL;
            Output.CropRight = CR;
        }
        Stretch();
    }
};

void MoveToH263Size(int& Wt, int& Ht) {
    if (Wt > 176 && Wt <= 352) {
        Wt = 352;
        Ht = 288;
    } else if (Wt > 352) {
        Wt = 704;
        Ht = 576;
    }
}

void AddExtra(TOutputOptions& Output, const std::string& Line) {
    if (!Output.ExtraOptions.empty()) Output.ExtraOptions += '\n';
    Output.ExtraOptions += Line;
}

std::string MegabyteText(double Bytes) { return StrFormat("%.3f MB", Bytes / double(BytesPerMB)); }

// Removes the "Name=..." lines of an extra-options text.
void DropExtra(TOutputOptions& Output, const std::string& Name) {
    std::string Kept, Text = Output.ExtraOptions;
    while (!Text.empty()) {
        std::string Line = SplitHead(Text, "\n", true);
        if (Line.rfind(Name + "=", 0) == 0) continue;
        if (!Kept.empty()) Kept += '\n';
        Kept += Line;
    }
    Output.ExtraOptions = Kept;
}

// A size to fit: the picture's rate from the (trimmed) length and the
// sound's rate, encoded in two passes by the engine, which measures the
// first pass and corrects the rate. The peak rate of a device stays; a
// quality ceiling does not, since the size is what the user asked for.
void ApplyFitSize(int64_t Bytes, const TSourcePicture& Source, const TInputOptions& Input, TOutputOptions& Output) {
    if (Source.Width <= 0 || Source.Height <= 0)
        throw EFitSizeError("The file has no picture, and a size to fit sets the picture's rate");
    int64_t Length = Output.Duration > 0 ? Output.Duration : -1;
    if (Length <= 0 && Source.DurationMs > 0) Length = Source.DurationMs - std::max(Input.StartTime, 0);
    const bool Sound = Source.Sound && !Output.DisableAudio;
    // A sound rate the profile leaves open is measured by the first pass.
    const int64_t AudioBits = Sound && Output.AudioBitRate > 0 ? Output.AudioBitRate : 0;
    const int64_t Rate = FitVideoBitRate(Bytes, Length, AudioBits);
    Output.VideoBitRate = static_cast<int>(std::min<int64_t>(Rate, INT32_MAX));
    if (Output.VideoMaxRate > 0 && Output.VideoMaxRate < Output.VideoBitRate) Output.VideoBitRate = Output.VideoMaxRate;
    DropExtra(Output, "qmax");
    DropExtra(Output, "crf");
    AddExtra(Output, "fitsize=" + std::to_string(Bytes));
}

// Encoder lines a device needs beyond the user's choices ("H264Options" or
// "MPEG4Options" of the profile file, "name=value" items separated by ";").
void AddDeviceOptions(const IniFile& Format, const std::string& S, const char* Key, TOutputOptions& Output) {
    std::string Items = Format.ReadString(S, Key, "");
    while (!Items.empty()) {
        std::string Item = Trim(SplitHead(Items, ";", true));
        if (!Item.empty()) AddExtra(Output, Item);
    }
}

// A value of the settings section, else the profile file's, else Default.
std::string ProfileValue(const IniFile& Settings, const IniFile& Format, const std::string& S, const char* Key,
                         const char* Default) {
    return Settings.ReadString(S, Key, Format.ReadString(S, Key, Default));
}

// A sound encoder's variable-rate quality (LAME's V0 to V9) in place of
// its bit rate.
void ReadAudioQuality(const IniFile& Settings, const IniFile& Format, const std::string& S, TOutputOptions& Output) {
    std::string Quality = Trim(ProfileValue(Settings, Format, S, "paraAudioQuality", ""));
    if (Quality.empty()) return;
    AddExtra(Output, "aq=" + std::to_string(IntValue(Holder(Settings, Format, S, "paraAudioQuality"), S,
                                                            "paraAudioQuality", Quality)));
    Output.AudioBitRate = -1;
}

// MPEG-4 Visual streams get a key-frame distance, a peak rate with its
// buffer, and the Simple Profile level that their size, rate and bit rate
// fit in, so that players which check the level accept them.
void ReadMpeg4(const IniFile& Settings, const IniFile& Format, const std::string& S, TOutputOptions& Output) {
    int Value = 0;
    if (TryStrToInt(ProfileValue(Settings, Format, S, "paraGop", ""), Value) && Value > 0) Output.GOPSize = Value;
    // The encoder refuses a peak rate without its buffer.
    int Buffer = 0;
    if (TryStrToInt(ProfileValue(Settings, Format, S, "paraMaxBitrate", ""), Value) && Value > 0 &&
        TryStrToInt(ProfileValue(Settings, Format, S, "paraBufferSize", ""), Buffer) && Buffer > 0) {
        Output.VideoMaxRate = std::max(KbitToBits(Value), Output.VideoBitRate);
        Output.VideoBufSize = KbitToBits(Buffer);
    }
}

// Rational frame rate of a rate text such as "25", "29.97" or "30000/1001";
// the NTSC texts stand for their exact fractions.
bool ParseRate(const std::string& Text, double& Rate) {
    size_t Slash = Text.find('/');
    try {
        if (Slash != std::string::npos) {
            double Den = StrToFloat(Text.substr(Slash + 1));
            if (Den <= 0) return false;
            Rate = StrToFloat(Text.substr(0, Slash)) / Den;
        } else {
            Rate = StrToFloat(Text);
        }
    } catch (const EConvertError&) {
        return false;
    }
    return Rate > 0;
}

// The names the libraries take for the usual television and film rates.
bool IsRateAbbreviation(const std::string& Text) {
    static const char* const Names[] = {"ntsc", "pal", "qntsc", "qpal", "sntsc", "spal", "film", "ntsc-film"};
    const std::string Name = LowerCase(Trim(Text));
    return std::find(std::begin(Names), std::end(Names), Name) != std::end(Names);
}

// The lowest MPEG-4 profile and level that admit a stream, or nullptr where
// none does. Pictures too large for any Simple Profile level (1080 lines)
// are claimed as Main Profile, of which a Simple Profile stream is a part.
struct TMpeg4Level {
    int Profile, Code, Blocks, BlocksPerSecond, Kbit, BufferBits;
};

const TMpeg4Level* Mpeg4Level(int Width, int Height, double Rate, int BitRate) {
    // Profile, level, macroblocks a picture, macroblocks a second, kbit/s, buffer.
    static const TMpeg4Level Levels[] = {
        {0, 8, 99, 1485, 64, 163840},         {0, 1, 99, 1485, 64, 163840},
        {0, 2, 396, 5940, 128, 655360},       {0, 3, 396, 11880, 384, 655360},
        {0, 4, 1200, 36000, 4000, 1310720},   {0, 5, 1620, 40500, 8000, 1835008},
        {0, 6, 3600, 108000, 12000, 4063232}, {3, 4, 8160, 489600, 38400, 267911168}};
    int Blocks = ((Width + 15) / 16) * ((Height + 15) / 16);
    for (const TMpeg4Level& L : Levels)
        if (Blocks <= L.Blocks && Blocks * Rate <= L.BlocksPerSecond && BitRate <= L.Kbit * 1000) return &L;
    return nullptr;
}

// The size the engine encodes: the frame size less the crops plus the pads.
bool OutputPictureSize(const TOutputOptions& Output, int& Width, int& Height) {
    size_t X = Output.FrameSize.find('x');
    int W = 0, H = 0;
    if (X == std::string::npos || !TryStrToInt(Output.FrameSize.substr(0, X), W) ||
        !TryStrToInt(Output.FrameSize.substr(X + 1), H))
        return false;
    auto Positive = [](int V) { return std::max(V, 0); };
    Width = W - Positive(Output.CropLeft) - Positive(Output.CropRight) + Positive(Output.PadLeft) +
            Positive(Output.PadRight);
    Height = H - Positive(Output.CropTop) - Positive(Output.CropBottom) + Positive(Output.PadTop) +
             Positive(Output.PadBottom);
    return Width > 0 && Height > 0;
}

// A source shown turned goes through a filter chain: the user's crops in
// coded pixels, the turn, the cut of the centre mode, the scale and the
// bars. The engine refuses crop and pad options beside filters, so the
// chain carries all of them.
void FitTurned(const TlvFilesRecord& Row, const TSourcePicture& Source, double Sar, int Wt, int Ht, bool SizeAsSource,
               TOutputOptions& Output) {
    const bool Turned = Source.Rotation == 90 || Source.Rotation == 270;
    int CT = std::max(Output.CropTop, 0), CB = std::max(Output.CropBottom, 0);
    int CL = std::max(Output.CropLeft, 0), CR = std::max(Output.CropRight, 0);
    int Cw = Source.Width - CL - CR, Ch = Source.Height - CT - CB;
    if (Cw <= 0 || Ch <= 0) {
        Cw = Source.Width;
        Ch = Source.Height;
        CT = CB = CL = CR = 0;
    }
    std::string Chain;
    if (CT + CB + CL + CR > 0) Chain = StrFormat("crop=%d:%d:%d:%d,", Cw, Ch, CL, CT);
    // Turned clockwise as players turn it, then mirrored left to right.
    static const char* const Turns[2][4] = {{"null", "transpose=clock", "hflip,vflip", "transpose=cclock"},
                                             {"hflip", "transpose=clock,hflip", "vflip", "transpose=cclock,hflip"}};
    Chain += Turns[Source.Mirrored ? 1 : 0][(Source.Rotation / 90) & 3];
    // The turned picture in coded pixels and as it is shown.
    int Tw = Turned ? Ch : Cw, Th = Turned ? Cw : Ch;
    int Dw = Turned ? Ch : 2 * static_cast<int>(std::nearbyint(Cw * Sar / 2.0));
    int Dh = Turned ? 2 * static_cast<int>(std::nearbyint(Cw * Sar / 2.0)) : Ch;

    if (Wt <= 0 || Ht <= 0 || SizeAsSource || Row.ZoomMode == "orig") {
        Output.AspectRatio = SizeText(Dw, Dh, ':');
    } else {
        TOutputOptions Fitted;
        TFit Fit{Dw, Dh, Wt, Ht, 0, 0, 0, 0, Fitted, 1.0};
        if (Row.ZoomMode == "lbox")
            Fit.LetterBox();
        else if (Row.ZoomMode == "cent")
            Fit.Centre();
        else
            Fit.Stretch();
        int Fw = 0, Fh = 0;
        size_t X = Fitted.FrameSize.find('x');
        if (X != std::string::npos && TryStrToInt(Fitted.FrameSize.substr(0, X), Fw) &&
            TryStrToInt(Fitted.FrameSize.substr(X + 1), Fh)) {
            // The centre mode's cut is in shown pixels; the picture in the
            // chain is in coded ones, whose shown size differs along the
            // axis the sample aspect stretches.
            double ScaleX = Turned ? 1.0 : Dw / double(Tw), ScaleY = Turned ? Dh / double(Th) : 1.0;
            int L = static_cast<int>(std::max(Fitted.CropLeft, 0) / ScaleX) & ~1;
            int R = static_cast<int>(std::max(Fitted.CropRight, 0) / ScaleX) & ~1;
            int T = static_cast<int>(std::max(Fitted.CropTop, 0) / ScaleY) & ~1;
            int B = static_cast<int>(std::max(Fitted.CropBottom, 0) / ScaleY) & ~1;
            if (L + R + T + B > 0 && Tw - L - R > 0 && Th - T - B > 0)
                Chain += StrFormat(",crop=%d:%d:%d:%d", Tw - L - R, Th - T - B, L, T);
            int Iw = Fw - std::max(Fitted.CropLeft, 0) - std::max(Fitted.CropRight, 0);
            int Ih = Fh - std::max(Fitted.CropTop, 0) - std::max(Fitted.CropBottom, 0);
            int PL = std::max(Fitted.PadLeft, 0), PR = std::max(Fitted.PadRight, 0);
            int PT = std::max(Fitted.PadTop, 0), PB = std::max(Fitted.PadBottom, 0);
            Chain += StrFormat(",scale=%d:%d", Iw, Ih);
            if (PL + PR + PT + PB > 0)
                Chain += StrFormat(",pad=%d:%d:%d:%d:color=black", Iw + PL + PR, Ih + PT + PB, PL, PT);
        }
        Output.AspectRatio = Fitted.AspectRatio;
    }
    Output.VideoFilters = Chain;
    Output.FrameSize.clear();
    Output.CropTop = Output.CropBottom = Output.CropLeft = Output.CropRight = -1;
    Output.PadTop = Output.PadBottom = Output.PadLeft = Output.PadRight = -1;
}

}  // namespace

std::string CappedSourceRate(int Num, int Den, int Cap) {
    if (Num <= 0 || Den <= 0 || Cap <= 0) return "";
    int64_t N = Num, D = Den;
    if (N <= Cap * D) return "";
    while (N > Cap * D) D *= 2;
    int64_t G = std::gcd(N, D);
    return std::to_string(N / G) + "/" + std::to_string(D / G);
}

int H264LevelFor(int Width, int Height, double Fps, int PeakBits, bool High, int& MaxRate, int& Buffer) {
    // Level, macroblocks a picture, macroblocks a second, kbit/s and buffer
    // kbit of the Baseline and Main profiles; High allows 1.25 times both.
    static const int Levels[][5] = {
        {10, 99, 1485, 64, 175},          {11, 396, 3000, 192, 500},        {12, 396, 6000, 384, 1000},
        {13, 396, 11880, 768, 2000},      {20, 396, 11880, 2000, 2000},     {21, 792, 19800, 4000, 4000},
        {22, 1620, 20250, 4000, 4000},    {30, 1620, 40500, 10000, 10000},  {31, 3600, 108000, 14000, 14000},
        {32, 5120, 216000, 20000, 20000}, {40, 8192, 245760, 20000, 25000}, {41, 8192, 245760, 50000, 62500},
        {42, 8704, 522240, 50000, 62500}, {50, 22080, 589824, 135000, 135000},
        {51, 36864, 983040, 240000, 240000}, {52, 36864, 2073600, 240000, 240000}};
    const int Blocks = ((Width + 15) / 16) * ((Height + 15) / 16);
    const double Factor = High ? 1.25 : 1.0;
    for (const auto& L : Levels) {
        int Rate = static_cast<int>(L[3] * 1000 * Factor), Cpb = static_cast<int>(L[4] * 1000 * Factor);
        if (Blocks <= L[1] && Blocks * Fps <= L[2] && PeakBits <= Rate) {
            MaxRate = Rate;
            Buffer = Cpb;
            return L[0];
        }
    }
    return 0;
}

int H265LevelFor(int Width, int Height, double Fps, int PeakBits, int& MaxRate, int& Buffer) {
    // Level, luma samples a picture, luma samples a second, Main tier kbit/s
    // and buffer kbit.
    static const int64_t Levels[][5] = {
        {10, 36864, 552960, 128, 350},           {20, 122880, 3686400, 1500, 1500},
        {21, 245760, 7372800, 3000, 3000},       {30, 552960, 16588800, 6000, 6000},
        {31, 983040, 33177600, 10000, 10000},    {40, 2228224, 66846720, 12000, 12000},
        {41, 2228224, 133693440, 20000, 20000},  {50, 8912896, 267386880, 25000, 25000},
        {51, 8912896, 534773760, 40000, 40000},  {52, 8912896, 1069547520, 60000, 60000},
        {60, 35651584, 1069547520, 60000, 60000}, {61, 35651584, 2139095040, 120000, 120000}};
    const int64_t Samples = static_cast<int64_t>(Width) * Height;
    for (const auto& L : Levels) {
        if (Samples <= L[1] && Samples * Fps <= L[2] && PeakBits <= L[3] * 1000) {
            MaxRate = static_cast<int>(L[3] * 1000);
            Buffer = static_cast<int>(L[4] * 1000);
            return static_cast<int>(L[0]);
        }
    }
    return 0;
}

bool ProfileCopiesStreams(const TProfileFiles& Files, int N) {
    return !Trim(IniFile(Files.FormatIni).ReadString(ProfileSection(N), "CopyStreams", "")).empty();
}

std::string CopyCropReason(int N) {
    const std::string Name = N >= 0 && N < ProfileCount ? std::string(ProfileNames[N]) : std::to_string(N);
    return "the profile \"" + Name +
           "\" copies the picture as it is, so it cannot crop it; remove the crop or choose a profile that converts "
           "the picture";
}

std::string CopyRefusal(const TProfileFiles& Files, int N, const TlvFilesRecord& Row) {
    const bool Cropped = Row.CropTop > 0 || Row.CropBottom > 0 || Row.CropLeft > 0 || Row.CropRight > 0;
    return Cropped && ProfileCopiesStreams(Files, N) ? CopyCropReason(N) : std::string();
}

namespace {

// A profile that copies: every stream the container holds goes as it is
// (the engine's "copystreams"); the encoders and values here are for the
// streams that the container cannot hold.
void BuildCopyOptions(const IniFile& Settings, const IniFile& Format, const std::string& S, int ProfileIndex,
                      TOutputOptions& Output) {
    const bool Cropped = Output.CropTop > 0 || Output.CropBottom > 0 || Output.CropLeft > 0 || Output.CropRight > 0;
    if (Cropped) throw EProfileError(CopyCropReason(ProfileIndex));
    const std::string Container = Format.ReadString(S, "Format", "null");
    if (Container != "null") Output.FileFormat = Container;

    std::string Encoder = Trim(Settings.ReadString(S, "paraVideoEncoder", ""));
    if (Encoder.empty()) Encoder = "libx264";
    // The encoder first, so that its own options are known when they are read.
    AddExtra(Output, "vcodec=" + Encoder);
    if (const TQualityScale* Scale = QualityScaleFor(Encoder)) {
        int Q = Scale->Default;
        const std::string Quality = Trim(ProfileValue(Settings, Format, S, "paraQuality", ""));
        if (!Quality.empty()) Q = std::clamp(StrToInt(Quality), Scale->Min, Scale->Max);
        std::string Speed = Trim(ProfileValue(Settings, Format, S, "paraSpeed", Scale->DefaultSpeed));
        if (Speed.empty()) Speed = Scale->DefaultSpeed;
        AddExtra(Output, "crf=" + std::to_string(Q));
        AddExtra(Output, Encoder == "libvpx-vp9" ? "deadline=good\ncpu-used=" + Speed : "preset=" + Speed);
    }
    Output.VideoCodec = Encoder;
    Output.PixelFormat = "yuv420p";
    // A converted picture keeps the profile's key-frame distance and peak rate.
    int Value = 0, Buffer = 0;
    if (TryStrToInt(ProfileValue(Settings, Format, S, "paraGop", ""), Value) && Value > 0) Output.GOPSize = Value;
    if (TryStrToInt(ProfileValue(Settings, Format, S, "paraMaxBitrate", ""), Value) && Value > 0 &&
        TryStrToInt(ProfileValue(Settings, Format, S, "paraBufferSize", ""), Buffer) && Buffer > 0) {
        Output.VideoMaxRate = KbitToBits(Value);
        Output.VideoBufSize = KbitToBits(Buffer);
    }

    std::string Audio = Trim(Settings.ReadString(S, "paraAudioEncoder", ""));
    Output.AudioCodec = Audio.empty() ? "libfaac" : Audio;
    int Kbit = 0;
    if (TryStrToInt(Settings.ReadString(S, "paraAudioBitRate", ""), Kbit) && Kbit > 0)
        Output.AudioBitRate = KbitToBits(Kbit);

    const std::string Subtitles = Trim(Format.ReadString(S, "SubtitleEncoder", ""));
    if (!Subtitles.empty()) AddExtra(Output, "scodec=" + Subtitles);
    AddDeviceOptions(Format, S, "MuxerOptions", Output);
    AddExtra(Output, "copystreams=" + Trim(Format.ReadString(S, "CopyStreams", "any")));
}

}  // namespace

int64_t FitSizeBytes(const std::string& Text) {
    const std::string Value = Trim(Text);
    if (Value.empty()) return 0;
    double MB = 0;
    try {
        MB = StrToFloat(Value);
    } catch (const EConvertError&) {
        throw EFitSizeError("\"" + Value + "\" is not a size in MB");
    }
    // Up to a terabyte; beyond it the number is a slip of the keyboard.
    if (!(MB > 0) || MB > 1e6) throw EFitSizeError("\"" + Value + "\" is not a size in MB");
    return std::max<int64_t>(1, std::llround(MB * double(BytesPerMB)));
}

int64_t FitVideoBitRate(int64_t Bytes, int64_t LengthMs, int64_t AudioBits) {
    if (LengthMs <= 0)
        throw EFitSizeError("The file's length is unknown, so no rate can fit it in " + MegabyteText(double(Bytes)));
    const double Seconds = double(LengthMs) / 1000.0;
    const double Sound = double(std::max<int64_t>(AudioBits, 0)) * Seconds / 8.0;
    // The container's share: its index grows with the length, its header
    // is about the same for every file.
    const double Container = 0.02 * double(Bytes) + 2048.0;
    const double Room = 0.985 * double(Bytes) - Container - Sound;
    const int64_t Rate = static_cast<int64_t>(std::floor(Room * 8.0 / Seconds));
    if (Rate < 1000) {
        const std::string Length = FormatDuration(LengthMs * 1000);
        throw EFitSizeError(StrFormat("%s cannot fit in %s: the sound alone at %lld kbit/s takes %s%s", Length.c_str(),
                                      MegabyteText(double(Bytes)).c_str(), static_cast<long long>(AudioBits / 1000),
                                      MegabyteText(Sound).c_str(),
                                      Sound >= double(Bytes) ? "" : ", leaving no room for the picture"));
    }
    return Rate;
}

int H264QuantiserForQscale(int Qscale) {
    if (Qscale <= 0) return 51;
    int Qp = static_cast<int>(std::lround(12.0 + 6.0 * std::log2(static_cast<double>(Qscale))));
    return std::clamp(Qp, 1, 51);
}

void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, const TSourcePicture& Source, TInputOptions& Input) {
    IniFile Settings = ProfileSettings(Files.SettingsIni, ProfileIndex).Settings;
    IniFile Format(Files.FormatIni);
    std::string S = ProfileSection(ProfileIndex);

    if (!Trim(Format.ReadString(S, "CopyStreams", "")).empty()) {
        // A size comes from a bit rate, and a copy keeps the source's.
        if (Files.FitSizeMB > 0 || FitSizeBytes(Settings.ReadString(S, "paraFitSize", "")) > 0)
            throw EFitSizeError("A size to fit needs the picture re-encoded; the profile \"" +
                                std::string(ProfileNames[ProfileIndex]) + "\" copies it as it is");
        BuildCopyOptions(Settings, Format, S, ProfileIndex, Output);
        return;
    }
    std::string Encoder = Settings.ReadString(S, "paraVideoEncoder", "");
    if (Trim(Encoder).empty()) {
        if (Files.FitSizeMB > 0)
            throw EFitSizeError("A size to fit is for profiles with a picture; this profile makes sound only");
        // Audio only: the job reads no video at all.
        ReadAudio(Settings, S, Output, true);
        ReadAudioQuality(Settings, Format, S, Output);
        Input.ExtraOptions = "vn=1";
        return;
    }

    static const char* const Encoders[] = {"libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1",
                                           "msmpeg4v2", "huffyuv", "dvvideo", "rawvideo", "h263p",
                                           "h263", "rv10", "rv20", "ljpeg", "mjpeg",
                                           "svq1", "zlib", "libx264", "libx265", "libsvtav1", "libvpx-vp9"};
    if (Encoder == "mpeg4") {
        Output.VideoCodec = "mpeg4";
        Output.VideoTag = "DIVX";
    } else if (std::find(std::begin(Encoders), std::end(Encoders), Encoder) != std::end(Encoders)) {
        Output.VideoCodec = Encoder;
    }
    // Hardware players match the FourCC in upper case only.
    if (Encoder == "libxvid") Output.VideoTag = "XVID";
    const bool Mpeg4Part2 = Encoder == "mpeg4" || Encoder == "libxvid";
    if (Encoder == "libx264")
        Output.GOPSize = IntValue(Settings, S, "paraGop", Settings.ReadString(S, "paraGop", "250"));

    // Constant quality replaces the bit rate; the peak rate and buffer of
    // the profile still cap it where the encoder honours them.
    const TQualityScale* Scale = QualityScaleFor(Encoder);
    // A size to fit takes a bit rate, whatever the profile's mode.
    const int64_t FitBytes = Files.FitSizeMB > 0
                                 ? std::llround(Files.FitSizeMB * double(BytesPerMB))
                                 : FitSizeBytes(Settings.ReadString(S, "paraFitSize", ""));
    const bool ConstantQuality = Scale && FitBytes <= 0 &&
                                 ProfileValue(Settings, Format, S, "paraRateMode", "bitrate") == "quality";
    std::string BitRate = Settings.ReadString(S, "paraVideoBitRate", "512");
    if (ConstantQuality)
        Output.VideoBitRate = -1;
    else if (FitBytes > 0 && Trim(BitRate).empty())
        Output.VideoBitRate = -1;  // set by the size below
    else if (BitRate != AsSource)
        Output.VideoBitRate = KbitToBits(IntValue(Settings, S, "paraVideoBitRate", BitRate));
    else
        Output.VideoBitRate = static_cast<int>(std::clamp<int64_t>(Source.VideoBitRate, -1, INT32_MAX));
    const bool ModernEncoder = Encoder == "libx265" || Encoder == "libsvtav1" || Encoder == "libvpx-vp9";
    if (Encoder == "libx264") {
        ReadH264(Settings, Format, S, Output);
        AddDeviceOptions(Format, S, "H264Options", Output);
    } else if (ModernEncoder) {
        Output.ExtraOptions = "vcodec=" + Encoder;
        int Value = 0;
        if (TryStrToInt(ProfileValue(Settings, Format, S, "paraGop", ""), Value) && Value > 0) Output.GOPSize = Value;
        int Buffer = 0;
        if (Encoder == "libx265" &&
            TryStrToInt(ProfileValue(Settings, Format, S, "paraMaxBitrate", ""), Value) && Value > 0 &&
            TryStrToInt(ProfileValue(Settings, Format, S, "paraBufferSize", ""), Buffer) && Buffer > 0) {
            Output.VideoMaxRate = std::max(KbitToBits(Value), Output.VideoBitRate);
            Output.VideoBufSize = KbitToBits(Buffer);
        }
        // Apple's players take H.265 in MP4 only under this tag.
        if (Encoder == "libx265") Output.VideoTag = "hvc1";
        // VP9 takes a bit rate beside its quality as a cap; none is wanted.
        if (Encoder == "libvpx-vp9") AddExtra(Output, ConstantQuality ? "vb=0" : "deadline=good");
    } else if (Mpeg4Part2) {
        ReadMpeg4(Settings, Format, S, Output);
        AddDeviceOptions(Format, S, "MPEG4Options", Output);
    }
    if (ConstantQuality) {
        std::string Quality = ProfileValue(Settings, Format, S, "paraQuality", "");
        int Q = Scale->Default;
        if (!Trim(Quality).empty())
            Q = std::clamp(IntValue(Holder(Settings, Format, S, "paraQuality"), S, "paraQuality", Quality), Scale->Min,
                           Scale->Max);
        AddExtra(Output, "crf=" + std::to_string(Q));
        std::string Speed = Trim(ProfileValue(Settings, Format, S, "paraSpeed", Scale->DefaultSpeed));
        if (Speed.empty()) Speed = Scale->DefaultSpeed;
        if (Encoder == "libvpx-vp9")
            AddExtra(Output, "deadline=good\ncpu-used=" + Speed + "\nrow-mt=1");
        else
            AddExtra(Output, "preset=" + Speed);
    }
    // No device of the catalogue plays more than 8 bits or other chroma
    // than 4:2:0; the engine still keeps formats the encoder lacks apart.
    // H.265 keeps a deeper source's bits as Main 10, which today's devices play.
    const bool Main10 = Encoder == "libx265" && Source.BitDepth > 8;
    Output.PixelFormat = Main10 ? "yuv420p10le" : "yuv420p";
    if (Encoder == "libx265") AddExtra(Output, Main10 ? "profile=main10" : "profile=main");

    int RateCap = 30;
    if (!TryStrToInt(Format.ReadString(S, "MaxFrameRate", "30"), RateCap) || RateCap <= 0) RateCap = 30;
    std::string Rate = Settings.ReadString(S, "paraFrameRate", "29.97");
    if (Rate != AsSource) {
        // Refused here, where the key is known, rather than by the encoder.
        double Fps = 0;
        if (!ParseRate(Rate, Fps) && !IsRateAbbreviation(Rate))
            RefuseValue(Settings, S, "paraFrameRate", "'" + Rate + "' is not a valid frame rate");
        Output.FrameRate = Rate;
    }
    else if (Source.Still)
        Output.FrameRate = "25";
    else
        Output.FrameRate = CappedSourceRate(Source.RateNum, Source.RateDen, RateCap);
    AddDeviceOptions(Format, S, "MuxerOptions", Output);

    std::string Container = Format.ReadString(S, "Format", "null");
    static const char* const Containers[] = {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv"};
    if (std::find(std::begin(Containers), std::end(Containers), LowerCase(Container)) != std::end(Containers))
        Output.FileFormat = Container;

    // Fitting works on the picture as it is shown: coded width times the
    // sample aspect, turned as the display matrix says.
    const double Sar = Source.SarNum > 0 && Source.SarDen > 0 ? double(Source.SarNum) / Source.SarDen : 1.0;
    const bool Turned = Source.Rotation == 90 || Source.Rotation == 270;
    int Ws = Source.Width, Hs = Source.Height, Wt = 0, Ht = 0;
    int Wd = Sar == 1.0 ? Ws : 2 * static_cast<int>(std::nearbyint(Ws * Sar / 2.0)), Hd = Hs;
    std::string Size = Settings.ReadString(S, "paraVideoSize", "null");
    bool H263 = LowerCase(Output.VideoCodec) == "h263";
    bool SizeAsSource = Size == AsSource;
    if (!SizeAsSource) {
        size_t X = Size.find('x');
        if (X != std::string::npos && X > 0) {
            Wt = IntValue(Settings, S, "paraVideoSize", Size.substr(0, X));
            Ht = IntValue(Settings, S, "paraVideoSize", Size.substr(X + 1));
        }
        if (H263 && std::string("704x576,352x288,176x144,160x120,128x96").find(Size) == std::string::npos)
            MoveToH263Size(Wt, Ht);
    } else {
        // 4:2:0 encoders take even sizes only: an odd source is scaled to
        // the even size below it, and keeps its shape through the aspect.
        Wt = (Turned ? Hs : Ws) & ~1;
        Ht = (Turned ? Ws : Hs) & ~1;
        // The source size is as foreign to the H.263 encoder as any other.
        if (H263) MoveToH263Size(Wt, Ht);
    }

    // Profiles for today's screens take the size as a box that the picture
    // keeps its shape in and is never enlarged to.
    if (Format.ReadString(S, "FitWithin", "0") == "1" && Wt > 0 && Ht > 0 && Ws > 0 && Hs > 0) {
        double Dw = Turned ? Hs : Ws * Sar, Dh = Turned ? Ws * Sar : Hs;
        double Factor = std::min({1.0, Wt / Dw, Ht / Dh});
        Wt = 2 * static_cast<int>(std::nearbyint(Dw * Factor / 2.0));
        Ht = 2 * static_cast<int>(std::nearbyint(Dh * Factor / 2.0));
        SizeAsSource = false;
    }

    if ((Source.Rotation != 0 || Source.Mirrored) && Ws > 0 && Hs > 0) {
        FitTurned(Row, Source, Sar, Wt, Ht, SizeAsSource, Output);
    } else {
        TFit Fit{SizeAsSource ? Ws : Wd,
                 Hs,
                 Wt,
                 Ht,
                 std::max(Output.CropTop, 0),
                 std::max(Output.CropBottom, 0),
                 std::max(Output.CropLeft, 0),
                 std::max(Output.CropRight, 0),
                 Output,
                 SizeAsSource ? 1.0 : Sar};
        // A target of 0 x 0 ("null" or unreadable) leaves the source size.
        if (Wt > 0 && Ht > 0) {
            if (Row.ZoomMode == "lbox")
                Fit.LetterBox();
            else if (Row.ZoomMode == "full")
                Fit.Stretch();
            else if (Row.ZoomMode == "cent")
                Fit.Centre();
            // "orig" keeps the source size with the user's crops.
        }
        // The coded size kept as it is plays with the source's own shape.
        if (Sar != 1.0 && (SizeAsSource || Wt <= 0 || Ht <= 0 || Row.ZoomMode == "orig") && Wd > 0 && Hd > 0)
            Output.AspectRatio = SizeText(Wd, Hd, ':');
        if (SizeAsSource && ((Ws | Hs) & 1) && Wt > 0 && Ht > 0) {
            if (Output.FrameSize.empty()) Output.FrameSize = SizeText(Wt, Ht, 'x');
            Output.AspectRatio =
                SizeText(Sar == 1.0 ? Ws : static_cast<int>(std::lround(Ws * Sar)), Hs, ':');
        }
    }

    if (Mpeg4Part2) {
        int Width = 0, Height = 0;
        if (!OutputPictureSize(Output, Width, Height)) {
            Width = Wt;
            Height = Ht;
        }
        double Fps = 0;
        if (!ParseRate(Output.FrameRate, Fps)) Fps = Source.RateNum > 0 && Source.RateDen > 0
                                                          ? double(Source.RateNum) / Source.RateDen
                                                          : 30.0;
        int Peak = std::max(Output.VideoMaxRate, Output.VideoBitRate);
        const TMpeg4Level* Level = Width > 0 && Height > 0 ? Mpeg4Level(Width, Height, Fps, Peak) : nullptr;
        if (Level) {
            // "v" names the video encoder's fields alone: a plain "profile"
            // would make the AAC encoder write AAC Main.
            AddExtra(Output, "vprofile=" + std::to_string(Level->Profile));
            AddExtra(Output, "vlevel=" + std::to_string(Level->Code));
            if (Output.VideoBufSize > Level->BufferBits) Output.VideoBufSize = Level->BufferBits;
        }
    }

    const bool AutoLevel = ProfileValue(Settings, Format, S, "paraLevel", "") == "auto";
    if (AutoLevel && (Encoder == "libx264" || Encoder == "libx265")) {
        int Width = 0, Height = 0;
        if (!OutputPictureSize(Output, Width, Height)) {
            Width = Wt;
            Height = Ht;
        }
        double Fps = 0;
        if (!ParseRate(Output.FrameRate, Fps))
            Fps = Source.RateNum > 0 && Source.RateDen > 0 ? double(Source.RateNum) / Source.RateDen : 30.0;
        // The level follows the picture; the peak rate yields to the level.
        const bool High = Format.ReadString(S, "H264Profile", "") == "high";
        int MaxRate = 0, Buffer = 0;
        // A size to fit may need any rate up to the profile's peak: the
        // level admits that peak, not only the picture.
        const int Peak = FitBytes > 0 ? std::max(Output.VideoMaxRate, 0) : 0;
        int Level = Encoder == "libx264" ? H264LevelFor(Width, Height, Fps, Peak, High, MaxRate, Buffer)
                                         : H265LevelFor(Width, Height, Fps, Peak, MaxRate, Buffer);
        if (Level > 0) {
            // The level's own limits bound the peak rate and buffer.
            if (Output.VideoMaxRate > MaxRate) Output.VideoMaxRate = MaxRate;
            if (Output.VideoBufSize > Buffer) Output.VideoBufSize = Buffer;
            AddExtra(Output, Encoder == "libx264" ? "level=" + std::to_string(Level)
                                                  : "x265-params=log-level=error:level-idc=" + std::to_string(Level));
        }
    } else if (Encoder == "libx265") {
        AddExtra(Output, "x265-params=log-level=error");
    }

    ReadAudio(Settings, S, Output, false);
    ReadAudioQuality(Settings, Format, S, Output);
    Output.PadColor = 0;
    if (FitBytes > 0) ApplyFitSize(FitBytes, Source, Input, Output);
}

namespace {

// Sample aspect, display matrix and base frame rate of the first video stream:
// the stream's own sample aspect, else the one its decoder reported.
void ReadStreamShape(TAVProbe& Probe, TSourcePicture& Source) {
    AVFormatContext* Context = Probe.Context();
    int Index = Probe.FirstVideoStream();
    if (!Context || Index < 0 || Index >= static_cast<int>(Context->nb_streams)) return;
    const AVStream* Stream = Context->streams[Index];
    AVRational Sar = Stream->sample_aspect_ratio;
    if (Sar.num <= 0 || Sar.den <= 0) Sar = Stream->codecpar->sample_aspect_ratio;
    if (Sar.num > 0 && Sar.den > 0) {
        Source.SarNum = Sar.num;
        Source.SarDen = Sar.den;
    }
    for (int i = 0; i < Stream->nb_side_data; ++i) {
        const AVPacketSideData& Data = Stream->side_data[i];
        if (Data.type != AV_PKT_DATA_DISPLAYMATRIX || Data.size < 9 * static_cast<int>(sizeof(int32_t))) continue;
        const TDisplayOrientation Shown = DisplayOrientation(reinterpret_cast<const int32_t*>(Data.data));
        Source.Rotation = Shown.Rotation;
        Source.Mirrored = Shown.Mirrored;
    }
    // A cover picture has no rate of its own.
    Source.Still = (Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (Source.Still) return;
    // The base rate: the average of a short file counts its last picture's
    // length wrongly (100 pictures in 1.98 s are not 50.5 a second).
    AVRational Rate = Stream->r_frame_rate.num > 0 && Stream->r_frame_rate.den > 0 ? Stream->r_frame_rate
                                                                                    : Stream->avg_frame_rate;
    if (Rate.num > 0 && Rate.den > 0) {
        Source.RateNum = Rate.num;
        Source.RateDen = Rate.den;
    }
    if (const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(Stream->codecpar->format)))
        Source.BitDepth = Desc->comp[0].depth;
}

}  // namespace

void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, TAVProbe& Probe, TInputOptions& Input) {
    TSourcePicture Source;
    Source.Width = Probe.LastFrame().Width();
    Source.Height = Probe.LastFrame().Height();
    if (Probe.FirstVideoStream() >= 0) {
        TAVVideoStreamInfo Info;
        Probe.GetVideoStreamInfo(-1, Info);
        // The stream's own size; a decoded picture only where it has none.
        if (Info.Width > 0 && Info.Height > 0) {
            Source.Width = Info.Width;
            Source.Height = Info.Height;
        }
        Source.VideoBitRate = Info.BitRate;
        ReadStreamShape(Probe, Source);
    }
    if (const AVFormatContext* Context = Probe.Context(); Context && Context->duration > 0)
        Source.DurationMs = Context->duration / 1000;
    Source.Sound = Probe.AudioStreamCount() > 0;
    BuildOutputOptions(Files, Row, ProfileIndex, Output, Source, Input);
}
