#include "component/JobOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "common/Text.h"

void InitInputOptions(TInputOptions& AOptions) { AOptions = TInputOptions(); }

void InitOutputOptions(TOutputOptions& AOptions) { AOptions = TOutputOptions(); }

std::vector<std::pair<std::string, std::string>> ParseExtraOptions(const std::string& AText) {
    std::string Text;
    std::string Trimmed = Trim(AText);
    Text.reserve(Trimmed.size());
    for (size_t i = 0; i < Trimmed.size(); ++i) {
        if (Trimmed[i] == '\r') {
            Text += '\n';
            if (i + 1 < Trimmed.size() && Trimmed[i + 1] == '\n') ++i;
        } else {
            Text += Trimmed[i];
        }
    }
    std::vector<std::pair<std::string, std::string>> Pairs;
    size_t Pos = 0;
    while (Pos < Text.size()) {
        size_t End = Text.find('\n', Pos);
        if (End == std::string::npos) End = Text.size();
        std::string Line = Text.substr(Pos, End - Pos);
        Pos = End + 1;
        size_t Equal = Line.find('=');
        if (Equal == std::string::npos)
            Pairs.emplace_back(Line, std::string());
        else
            Pairs.emplace_back(Line.substr(0, Equal), Line.substr(Equal + 1));
    }
    return Pairs;
}

void ApplyExtraOptions(TCustomFFmpeg& AEngine, const std::string& AText) {
    for (const auto& [Name, Value] : ParseExtraOptions(AText)) AEngine.SetOption(Name, Value);
}

namespace {

// A whole-text decimal 64-bit integer, or -1.
int64_t MillisecondsOrNone(const std::string& AText) {
    if (AText.empty()) return -1;
    errno = 0;
    char* End = nullptr;
    long long Value = std::strtoll(AText.c_str(), &End, 10);
    if (errno != 0 || End != AText.c_str() + AText.size() || std::isspace(static_cast<unsigned char>(AText[0])))
        return -1;
    return Value;
}

// Milliseconds to µs without overflow: values beyond the range saturate.
int64_t ToMicroseconds(int64_t AMilliseconds) {
    if (AMilliseconds > INT64_MAX / 1000) return INT64_MAX;
    if (AMilliseconds < INT64_MIN / 1000) return INT64_MIN;
    return AMilliseconds * 1000;
}

}  // namespace

std::vector<THookRange> ParseHookRanges(const std::string& AText) {
    std::vector<THookRange> Ranges;
    std::string Text = Trim(AText);
    if (Text.empty()) return Ranges;
    for (const std::string& RawItem : SplitText(Text, ',')) {
        std::string Item = Trim(RawItem);
        size_t Dash = Item.find('-');
        std::string Start = Trim(Item.substr(0, Dash));
        std::string End = Dash == std::string::npos ? std::string() : Trim(Item.substr(Dash + 1));
        THookRange Range;
        Range.RangeStart = ToMicroseconds(MillisecondsOrNone(Start));
        Range.RangeEnd = ToMicroseconds(MillisecondsOrNone(End));
        if (Range.RangeEnd >= Range.RangeStart && Range.RangeEnd >= 0) Ranges.push_back(Range);
    }
    std::sort(Ranges.begin(), Ranges.end(),
              [](const THookRange& A, const THookRange& B) { return A.RangeEnd < B.RangeEnd; });
    return Ranges;
}

int StandardTimeZoneBias() {
    tzset();
    // timezone: seconds west of UTC for standard time.
    return static_cast<int>(timezone / 60);
}

int64_t DateTimeToUnix(double ADateTime, int ABiasMinutes) {
    return std::llround((ADateTime - 25569.0 + ABiasMinutes / 1440.0) * 86400.0);
}

int64_t TimestampSeconds(double ATimestamp, int ABiasMinutes, time_t ANow) {
    // "Now" is taken straight from the clock: a trip through local time and
    // back with the standard bias alone would be an hour off during
    // daylight saving.
    if (ATimestamp == 0.0) return static_cast<int64_t>(ANow);
    return DateTimeToUnix(ATimestamp, ABiasMinutes);
}

namespace {

constexpr TColor Rgb(unsigned R, unsigned G, unsigned B) { return R | (G << 8) | (B << 16); }

// The classic default scheme, by system colour index.
constexpr TColor SystemColors[] = {
    Rgb(212, 208, 200),  // scroll bar
    Rgb(58, 110, 165),   // desktop
    Rgb(10, 36, 106),    // active caption
    Rgb(128, 128, 128),  // inactive caption
    Rgb(212, 208, 200),  // menu
    Rgb(255, 255, 255),  // window
    Rgb(0, 0, 0),        // window frame
    Rgb(0, 0, 0),        // menu text
    Rgb(0, 0, 0),        // window text
    Rgb(255, 255, 255),  // caption text
    Rgb(212, 208, 200),  // active border
    Rgb(212, 208, 200),  // inactive border
    Rgb(128, 128, 128),  // application workspace
    Rgb(10, 36, 106),    // highlight
    Rgb(255, 255, 255),  // highlight text
    Rgb(212, 208, 200),  // button face
    Rgb(128, 128, 128),  // button shadow
    Rgb(128, 128, 128),  // grey text
    Rgb(0, 0, 0),        // button text
    Rgb(212, 208, 200),  // inactive caption text
    Rgb(255, 255, 255),  // button highlight
    Rgb(64, 64, 64),     // 3D dark shadow
    Rgb(212, 208, 200),  // 3D light
    Rgb(0, 0, 0),        // tooltip text
    Rgb(255, 255, 225),  // tooltip background
    Rgb(181, 181, 181),  // (unnamed)
    Rgb(0, 0, 128),      // hot-tracked item
    Rgb(166, 202, 240),  // active caption gradient
    Rgb(192, 192, 192),  // inactive caption gradient
    Rgb(10, 36, 106),    // menu highlight
    Rgb(212, 208, 200),  // menu bar
};

}  // namespace

TColor ResolveSystemColor(TColor AColor) {
    if (!(AColor & 0x80000000u)) return AColor;
    unsigned Index = AColor & 0xFF;
    // Unknown indexes read as black, as the system's own query does.
    return Index < std::size(SystemColors) ? SystemColors[Index] : 0;
}

void ApplyInputOptions(TCustomFFmpeg& AEngine, TInputOptions& AOptions, const std::string& AFileName) {
    if (AOptions.FileName.empty()) AOptions.FileName = AFileName;
    ApplyExtraOptions(AEngine, AOptions.ExtraOptions);
    if (!AOptions.ForceFormat.empty()) AEngine.SetInputFormat(AOptions.ForceFormat);
    if (AOptions.StartTime > 0) AEngine.SetStartTimeMs(AOptions.StartTime);
    if (AOptions.ProgramID >= 0) AEngine.SetProgramId(AOptions.ProgramID);
}

namespace {

// Straight to the generic codec-option lookup: the dispatcher's own
// handlers of some of these names ("ab", "vb") add a warning meant for
// values typed on a command line.
void Generic(TCustomFFmpeg& E, const char* AName, int AValue) {
    if (AValue > 0) E.SetGenericOption(AName, std::to_string(AValue));
}

void Text(TCustomFFmpeg& E, const char* AName, const std::string& AValue) {
    if (!AValue.empty()) E.SetOption(AName, AValue);
}

void Count(TCustomFFmpeg& E, const char* AName, int AValue, int AMinimum) {
    if (AValue >= AMinimum) E.SetOption(AName, std::to_string(AValue));
}

}  // namespace

void ApplyOutputOptions(TCustomFFmpeg& AEngine, TOutputOptions& AOptions, const std::string& AFileName) {
    TCustomFFmpeg& E = AEngine;
    TOutputOptions& O = AOptions;
    if (O.FileName.empty()) O.FileName = AFileName;
    ApplyExtraOptions(E, O.ExtraOptions);

    if (!O.FileFormat.empty()) E.SetOutputFormat(O.FileFormat);
    Generic(E, "packetsize", O.PacketSize);
    Generic(E, "muxrate", O.MuxRate);
    if (O.MuxDelay > 0) E.Settings.muxdelay = O.MuxDelay;
    if (O.MuxPreload > 0) E.Settings.muxpreload = O.MuxPreload;

    Text(E, "acodec", O.AudioCodec);
    if (O.DisableAudio) E.SetOption("an", "");
    Count(E, "vol", O.AudioVolume, 0);
    Count(E, "ac", O.AudioChannels, 1);
    Count(E, "ar", O.AudioSampleRate, 1);
    Generic(E, "ab", O.AudioBitRate);
    Generic(E, "abt", O.AudioBitRateTolerance);
    E.SetOption("alang", O.AudioLanguage);
    E.SetOption("async", std::to_string(O.AudioSync));
    Text(E, "atag", O.AudioTag);

    Text(E, "vcodec", O.VideoCodec);
    if (O.DisableVideo) E.SetOption("vn", "");
    Text(E, "r", O.FrameRate);
    Text(E, "s", O.FrameSize);
    Text(E, "aspect", O.AspectRatio);
    Count(E, "croptop", O.CropTop, 0);
    Count(E, "cropbottom", O.CropBottom, 0);
    Count(E, "cropleft", O.CropLeft, 0);
    Count(E, "cropright", O.CropRight, 0);
    Count(E, "padtop", O.PadTop, 0);
    Count(E, "padbottom", O.PadBottom, 0);
    Count(E, "padleft", O.PadLeft, 0);
    Count(E, "padright", O.PadRight, 0);
    E.SetOption("padcolor", std::to_string(static_cast<int32_t>(ResolveSystemColor(O.PadColor))));
    Generic(E, "gop", O.GOPSize);
    Generic(E, "vb", O.VideoBitRate);
    Generic(E, "maxrate", O.VideoMaxRate);
    Generic(E, "minrate", O.VideoMinRate);
    Generic(E, "bt", O.VideoBitRateTolerance);
    Generic(E, "bufsize", O.VideoBufSize);
    E.SetOption("vsync", std::to_string(O.VideoSync));
    Text(E, "vtag", O.VideoTag);
    Text(E, "vfilters", O.VideoFilters);
    Text(E, "pix_fmt", O.PixelFormat);
    if (!O.Deinterlace) E.SetOption("autodeinterlace", "0");

    if (O.DisableSubtitle) E.SetOption("sn", "");
    E.SetOption("slang", O.SubtitleLanguage);
    // The option only switches on; false must undo an ExtraOptions line.
    E.Settings.copyts = O.CopyTimestamps;
    if (O.Duration > 0) E.SetDurationMs(O.Duration);
    if (O.Timestamp >= 0) E.Settings.timestamp = TimestampSeconds(O.Timestamp, StandardTimeZoneBias(), time(nullptr));
    if (O.Year > 0) E.Settings.Year = O.Year;
    if (O.Track > 0) E.Settings.Track = O.Track;
    Text(E, "title", FixedText(O.Title));
    Text(E, "author", FixedText(O.Author));
    Text(E, "copyright", FixedText(O.Copyright));
    Text(E, "comment", FixedText(O.Comment));
    Text(E, "album", FixedText(O.Album));
    Text(E, "genre", FixedText(O.Genre));

    if (O.Target >= 1 && O.Target <= 3) {
        static const char* const Types[] = {"vcd", "svcd", "dvd"};
        const char* Norm = O.TargetNorm == 1 ? "pal" : O.TargetNorm == 2 ? "ntsc" : "auto";
        E.ApplyTarget(Types[O.Target - 1], Norm, O.TargetFallbackNorm == 1 ? "pal" : "ntsc");
    }
}
