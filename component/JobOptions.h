// The two records by which the application describes one conversion job,
// and their translation onto an engine's options.
//
// Every field has a "not set" value (the default below) that the translation
// skips, so the engine keeps its own default; a few fields are always passed
// on, even at their defaults (see ApplyOutputOptions).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"

struct TInputOptions {
    std::string FileName;     // empty: AddInputFile stores its path argument here
    std::string ForceFormat;  // demuxer short name; empty = probe
    int StartTime = -1;       // ms; only > 0 is applied
    int ProgramID = -1;       // only >= 0 is applied
    std::string ExtraOptions; // "name=value" lines, applied before the fields
};

// Colours: lowest byte red, then green, then blue; a value with the top bit
// set names a system colour by its lowest byte.
using TColor = uint32_t;

struct TOutputOptions {
    std::string FileName;  // empty: SetOutputFile stores its path argument here
    std::string FileFormat;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;    // s
    float MuxPreload = -1.0f;  // s

    std::string AudioCodec;
    bool DisableAudio = false;
    int AudioVolume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int AudioBitRate = -1;
    int AudioBitRateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;

    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;
    int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    TColor PadColor = 0;
    int GOPSize = -1;
    int VideoBitRate = -1;
    int VideoMaxRate = -1;
    int VideoMinRate = -1;
    int VideoBitRateTolerance = -1;
    int VideoBufSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string PixelFormat;  // the encoder's pixel format; empty: the engine's rule
    bool Deinterlace = true;  // interlaced pictures are deinterlaced before scaling

    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int Duration = -1;         // ms
    double Timestamp = -1.0;   // days since 1899-12-30 local time; 0 = now
    int Year = -1;
    int Track = -1;
    char Title[512] = {};
    char Author[512] = {};
    char Copyright[512] = {};
    char Comment[512] = {};
    char Album[512] = {};
    char Genre[32] = {};

    int Target = 0;              // 0 none, 1 vcd, 2 svcd, 3 dvd
    int TargetNorm = 0;          // 0 auto, 1 pal, 2 ntsc
    int TargetFallbackNorm = 1;  // 1 pal, else ntsc

    bool CustomHook = false;
    bool BeforeHook = false;
    std::string HookRanges;  // "0-5000, 10000-15000" in ms
    std::string ExtraOptions;
};

void InitInputOptions(TInputOptions& AOptions);
void InitOutputOptions(TOutputOptions& AOptions);

// Copies text into a fixed metadata buffer, cutting it to fit.
template <size_t N>
void SetFixedText(char (&ABuffer)[N], const std::string& AText) {
    size_t n = AText.size() < N - 1 ? AText.size() : N - 1;
    AText.copy(ABuffer, n);
    for (size_t i = n; i < N; ++i) ABuffer[i] = 0;
}

// The text of a fixed buffer up to its first zero byte.
template <size_t N>
std::string FixedText(const char (&ABuffer)[N]) {
    size_t n = 0;
    while (n < N && ABuffer[n]) ++n;
    return std::string(ABuffer, n);
}

// Splits the extra-options text into (name, value) pairs in text order.
std::vector<std::pair<std::string, std::string>> ParseExtraOptions(const std::string& AText);
// Hands every pair of the extra-options text to the engine's dispatcher.
void ApplyExtraOptions(TCustomFFmpeg& AEngine, const std::string& AText);

// Hook ranges in ms ("0-5000, 10000-15000") to engine ranges in µs, sorted
// by their end; unreadable or empty items are dropped.
std::vector<THookRange> ParseHookRanges(const std::string& AText);

// The platform's standard time-zone bias in minutes (UTC = local + bias);
// daylight saving is not applied.
int StandardTimeZoneBias();
// A date-time (days since 1899-12-30, local) to seconds since 1970 UTC,
// given the bias in minutes.
int64_t DateTimeToUnix(double ADateTime, int ABiasMinutes);
// The value the timestamp setting gets for a Timestamp field (>= 0): the
// current time for 0, the converted date-time otherwise.
int64_t TimestampSeconds(double ATimestamp, int ABiasMinutes, time_t ANow);

// Resolves a colour with the top bit set to the RGB of that system colour
// (classic default palette); other values are returned unchanged.
TColor ResolveSystemColor(TColor AColor);

// The input translation, up to (not including) opening the input.
void ApplyInputOptions(TCustomFFmpeg& AEngine, TInputOptions& AOptions, const std::string& AFileName);
// The output translation of the fields and the target preset. Hooks are
// attached by the component, the output is created by the caller.
void ApplyOutputOptions(TCustomFFmpeg& AEngine, TOutputOptions& AOptions, const std::string& AFileName);
