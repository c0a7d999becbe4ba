// BuildOutputOptions: the user's values of one output profile, one file's
// edit data and the size of its first picture become the job's two option
// records.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/FilesRecord.h"
#include "component/JobOptions.h"

class TAVProbe;

// What the builder needs to know about the source.
struct TSourcePicture {
    int Width = 0, Height = 0;     // coded size of the first picture; 0 x 0 without one
    int64_t VideoBitRate = -1;     // bit rate of the first video stream, -1 without one
    int SarNum = 0, SarDen = 0;    // sample aspect; 0 when unknown (taken as square)
    int Rotation = 0;              // clockwise degrees the picture is shown turned: 0, 90, 180, 270
    bool Mirrored = false;         // shown mirrored left to right after the turn
    int RateNum = 0, RateDen = 0;  // pictures per second; 0 when unknown
    bool Still = false;            // the picture is a cover, shown for the length of the sound
    int BitDepth = 8;              // bits of the first picture component
    int64_t DurationMs = -1;       // length of the file, -1 when unknown
    bool Sound = true;             // the file has a sound stream
};

// The frame rate "as source" becomes: halved until it is at most Cap pictures
// a second, as "num/den"; empty for an unknown rate or one within the cap.
std::string CappedSourceRate(int Num, int Den, int Cap = 30);

// The lowest H.264 level (times ten) of the High profile, or of the others
// when High is false, that admits the picture size, rate and peak rate;
// MaxRate and Buffer get the level's limits in bits. 0 when none does.
int H264LevelFor(int Width, int Height, double Fps, int PeakBits, bool High, int& MaxRate, int& Buffer);
// The same for H.265 Main tier (level times ten, as x265's level-idc).
int H265LevelFor(int Width, int Height, double Fps, int PeakBits, int& MaxRate, int& Buffer);

// The two INI files the builder reads.
struct TProfileFiles {
    std::string SettingsIni;
    std::string FormatIni;
    // A size to fit in MB for this run in place of the profile's own
    // ("paraFitSize"); 0 or less leaves the profile's.
    double FitSizeMB = 0;
};

// A size to fit that cannot be met or does not apply; the message says why.
class EFitSizeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sizes to fit are in decimal megabytes, as file managers and chat
// programs count them.
constexpr int64_t BytesPerMB = 1000000;

// The bytes of a "Fit in ... MB" text: 0 for an empty one. Raises
// EFitSizeError for a text that is not a positive number.
int64_t FitSizeBytes(const std::string& Text);

// The video bit rate that fills Bytes in LengthMs beside the sound at
// AudioBits a second, less an allowance for the container. Raises
// EFitSizeError, naming the length, the sound's rate and the size, when
// the sound alone does not leave room for a picture, and for an unknown
// length.
int64_t FitVideoBitRate(int64_t Bytes, int64_t LengthMs, int64_t AudioBits);

// Fills Output and Input, which the caller has reset and given the file
// names, crops, duration, format and start time. Raises EConvertError for
// a value that must be a number and is not, EFitSizeError for a size to
// fit that cannot be met.
void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, const TSourcePicture& Source, TInputOptions& Input);
// The same with the source taken from a probe whose first picture has been
// decoded (LastFrame).
void BuildOutputOptions(const TProfileFiles& Files, const TlvFilesRecord& Row, int ProfileIndex,
                        TOutputOptions& Output, TAVProbe& Probe, TInputOptions& Input);

// Whether profile N copies the streams as they are ("CopyStreams" of the
// profile file): it changes no picture, so it takes no crop or size.
bool ProfileCopiesStreams(const TProfileFiles& Files, int N);
// Why Row's edits cannot be made with profile N: empty when they can.
std::string CopyRefusal(const TProfileFiles& Files, int N, const TlvFilesRecord& Row);
// The reason a crop is refused with profile N, which copies.
std::string CopyCropReason(int N);

// The worst H.264 quantiser allowed for a quantiser step of the old 1..31
// scale ("paraQscale").
int H264QuantiserForQscale(int Qscale);
