#include "app/OutputOptions.h"

#include <algorithm>
#include <cmath>

#include "app/Profiles.h"
#include "common/IniFile.h"
#include "common/Text.h"
#include "probe/AVProbe.h"

namespace {

constexpr const char* AsSource = "as source";

bool TryInt(const std::string& Text, int& Value) {
    try {
        Value = StrToInt(Text);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

int KbitToBits(int Kbit) {
    int64_t Bits = static_cast<int64_t>(Kbit) * 1000;
    return static_cast<int>(std::clamp<int64_t>(Bits, INT32_MIN, INT32_MAX));
}

std::string SizeText(int W, int H, char Separator) {
    return std::to_string(W) + Separator + std::to_string(H);
}

// Audio keys shared by video and audio-only profiles. The volume is read
// after the channels of a video profile and last for an audio-only one;
// Unchanged is the value that leaves the volume alone.
void ReadAudio(const IniFile& Settings, const std::string& S, TOutputOptions& Output, bool AudioOnly) {
    auto ReadVolume = [&](const char* Unchanged) {
        // A missing key means the volume as it is, not a near-silent 3/256.
        std::string Volume = Settings.ReadString(S, "paraVolume", "256");
        if (Volume != Unchanged) Output.AudioVolume = StrToInt(Volume);
    };
    Output.AudioCodec = Settings.ReadString(S, "paraAudioEncoder", "libfaac");
    std::string Channels = Settings.ReadString(S, "paraChannel", "2");
    if (Channels != AsSource) Output.AudioChannels = StrToInt(Channels);
    if (!AudioOnly) ReadVolume("100");
    std::string Rate = Settings.ReadString(S, "paraSampleRate", "44100");
    if (Rate != AsSource) Output.AudioSampleRate = StrToInt(Rate);
    std::string BitRate = Settings.ReadString(S, "paraAudioBitRate", "128");
    if (BitRate != AsSource && !Trim(BitRate).empty()) {
        double Bits = std::nearbyint(StrToFloat(BitRate) * 1000.0);
        if (Bits > 0) Output.AudioBitRate = static_cast<int>(std::min<double>(Bits, INT32_MAX));
    }
    if (AudioOnly) ReadVolume("256");
}

// The H.264 values of the profile reach x264 as the encoder's own limits:
// level, VBV rate and buffer, a quantiser ceiling, CABAC with the matching
// profile, and the bit-exact flag. The vcodec line comes first so that the
// encoder's private options are known when their lines are read.
void ReadH264(const IniFile& Settings, const std::string& S, TOutputOptions& Output) {
    std::string Extra = "vcodec=libx264";
    if (LowerCase(Settings.ReadString(S, "paraBitExact", "True")) == "true") Extra += "\nflags=+bitexact";
    int Value = 0;
    if (TryInt(Settings.ReadString(S, "paraLevel", "13"), Value) && Value > 0)
        Extra += "\nlevel=" + std::to_string(Value);
    if (TryInt(Settings.ReadString(S, "paraQscale", "25"), Value) && Value > 0)
        Extra += "\nqmax=" + std::to_string(H264QuantiserForQscale(Value));
    if (TryInt(Settings.ReadString(S, "paraCoder", "0"), Value) && Value >= 0) {
        bool Cabac = Value > 0;
        Extra += Cabac ? "\ncoder=1\nprofile=main" : "\ncoder=0\nprofile=baseline";
    }
    Output.ExtraOptions = Extra;
    // The rate limit never undercuts the chosen bit rate: the bit rate
    // decides the file size.
    if (TryInt(Settings.ReadString(S, "paraMaxBitrate", "1500"), Value) && Value > 0)
        Output.VideoMaxRate = std::max(KbitToBits(Value), Output.VideoBitRate);
    if (TryInt(Settings.ReadString(S, "paraBufferSize", "128"), Value) && Value > 0)
        Output.VideoBufSize = KbitToBits(Value);
}

struct TFit {
    int Ws, Hs, Wt, Ht, CT, CB, CL, CR;
    TOutputOptions& Output;

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
        int Wc = Ws - CL - CR, Hc = Hs - CT - CB;
        if (Ws <= 0 || Hs <= 0 || Wc <= 0 || Hc <= 0) {
            Stretch();
            return;
        }
        int64_t Wide = static_cast<int64_t>(Wc) * Ht, Tall = static_cast<int64_t>(Hc) * Wt;
        if (Wide > Tall) {
            int Excess = Wc - static_cast<int>(Tall / Ht);
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

}  // namespace

int H264QuantiserForQscale(int Qscale) {
    if (Qscale <= 0) return 51;
    int Qp = static_cast<int>(std::lround(12.0 + 6.0 * std::log2(static_cast<double>(Qscale))));
    return std::clamp(Qp, 1, 51);
}

void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, const TSourcePicture& Source, TInputOptions& Input) {
    IniFile Settings(Files.SettingsIni);
    IniFile Format(Files.FormatIni);
    std::string S = ProfileSection(ProfileIndex);

    std::string Encoder = Settings.ReadString(S, "paraVideoEncoder", "");
    if (Trim(Encoder).empty()) {
        // Audio only: the job reads no video at all.
        ReadAudio(Settings, S, Output, true);
        Input.ExtraOptions = "vn=1";
        return;
    }

    static const char* const Encoders[] = {"libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1",
                                           "msmpeg4v2", "huffyuv", "dvvideo", "rawvideo", "h263p",
                                           "h263", "rv10", "rv20", "ljpeg", "mjpeg",
                                           "svq1", "zlib", "libx264"};
    if (Encoder == "mpeg4") {
        Output.VideoCodec = "mpeg4";
        Output.VideoTag = "DIVX";
    } else if (std::find(std::begin(Encoders), std::end(Encoders), Encoder) != std::end(Encoders)) {
        Output.VideoCodec = Encoder;
    }
    if (Encoder == "libx264") Output.GOPSize = StrToInt(Settings.ReadString(S, "paraGop", "250"));

    std::string BitRate = Settings.ReadString(S, "paraVideoBitRate", "512");
    if (BitRate != AsSource)
        Output.VideoBitRate = KbitToBits(StrToInt(BitRate));
    else
        Output.VideoBitRate = static_cast<int>(std::clamp<int64_t>(Source.VideoBitRate, -1, INT32_MAX));
    if (Encoder == "libx264") ReadH264(Settings, S, Output);

    std::string Rate = Settings.ReadString(S, "paraFrameRate", "29.97");
    if (Rate != AsSource) Output.FrameRate = Rate;

    std::string Container = Format.ReadString(S, "Format", "null");
    static const char* const Containers[] = {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv"};
    if (std::find(std::begin(Containers), std::end(Containers), LowerCase(Container)) != std::end(Containers))
        Output.FileFormat = Container;

    int Ws = Source.Width, Hs = Source.Height, Wt = 0, Ht = 0;
    std::string Size = Settings.ReadString(S, "paraVideoSize", "null");
    bool H263 = LowerCase(Output.VideoCodec) == "h263";
    if (Size != AsSource) {
        size_t X = Size.find('x');
        if (X != std::string::npos && X > 0) {
            Wt = StrToInt(Size.substr(0, X));
            Ht = StrToInt(Size.substr(X + 1));
        }
        if (H263 && std::string("704x576,352x288,176x144,160x120,128x96").find(Size) == std::string::npos)
            MoveToH263Size(Wt, Ht);
    } else {
        Wt = Ws;
        Ht = Hs;
        // The source size is as foreign to the H.263 encoder as any other.
        if (H263) MoveToH263Size(Wt, Ht);
    }

    TFit Fit{Ws,
             Hs,
             Wt,
             Ht,
             std::max(Output.CropTop, 0),
             std::max(Output.CropBottom, 0),
             std::max(Output.CropLeft, 0),
             std::max(Output.CropRight, 0),
             Output};
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

    ReadAudio(Settings, S, Output, false);
    Output.PadColor = 0;
}

void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, TAVProbe& Probe, TInputOptions& Input) {
    TSourcePicture Source;
    Source.Width = Probe.LastFrame().Width();
    Source.Height = Probe.LastFrame().Height();
    if (Probe.FirstVideoStream() >= 0) {
        TAVVideoStreamInfo Info;
        Probe.GetVideoStreamInfo(-1, Info);
        Source.VideoBitRate = Info.BitRate;
    }
    BuildOutputOptions(Files, Row, ProfileIndex, Output, Source, Input);
}
