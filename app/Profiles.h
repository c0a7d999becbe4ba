// The catalogue of output profiles and the keys that describe them in the
// profile file (read-only) and the settings file (the user's choices).
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/IniFile.h"

// The first 36 are the players of the original catalogue; stored settings
// refer to every profile by its number, so new ones only ever follow.
constexpr int ClassicProfileCount = 36;
constexpr int ProfileCount = 51;

// Display names in catalogue order; the position is the profile number.
extern const std::array<const char*, ProfileCount> ProfileNames;

// The headings of the Output Format list, in the order the list shows them,
// each with its profiles in their list order.
struct TProfileGroup {
    const char* Heading;
    std::vector<int> Profiles;
};
const std::vector<TProfileGroup>& ProfileGroups();
// The heading profile N is listed under.
std::string ProfileGroupOf(int N);

// The constant-quality scale of a video encoder: the range of its quality
// value (lower is better), the usual default, a hint for the user and its
// speed presets from fastest to slowest. Null for encoders without one.
struct TQualityScale {
    const char* Encoder;
    int Min, Max, Default;
    const char* Hint;
    const char* Speeds;  // comma-separated
    const char* DefaultSpeed;
};
const TQualityScale* QualityScaleFor(const std::string& Encoder);

// "formatInfo" followed by N.
std::string ProfileSection(int N);

// "FileExt" of profile N in the profile file, without the dot ("mp4" when
// absent).
std::string ProfileFileExt(const IniFile& FormatIni, int N);
// "Format" of profile N ("null" when absent).
std::string ProfileFormat(const IniFile& FormatIni, int N);

// The items of a choice list: split at every comma, blanks kept, an empty
// last item after a trailing comma. "null" (the parameter does not apply)
// gives no items.
std::vector<std::string> SplitChoiceList(const std::string& Value);

// The nine parameters: list key of the profile file, index key of both
// files and value key of the settings file.
struct TProfileParameter {
    const char* ListKey;
    const char* IndexKey;
    const char* ValueKey;
};
extern const std::array<TProfileParameter, 9> ProfileParameters;

// Values the settings dialog writes for a chosen item; empty when the item
// matches no row of the mapping (the key then keeps its value).
std::string VideoEncoderValue(const std::string& Item);  // "MPEG-4" -> "mpeg4", "H264" -> "libx264", "H265", "AV1", "VP9"...
std::string AudioEncoderValue(const std::string& Item);  // "AAC" -> "libfaac", "MP3" -> "libmp3lame", "Opus", ...
std::string ChannelValue(const std::string& Item);       // exact: "stereo 2 channels" -> "2"
// A number followed by one character, as a volume in 1/256 units for the
// twelve listed percentages; raises EConvertError when the number is not
// an integer.
std::string VolumeValue(const std::string& Item);


// The settings file as it shipped with the program.
extern const char* const ShippedSettingsText;

// The settings profile N is built from: the settings file, or the shipped
// defaults of the profile when the file lacks the profile's section or the
// video encoder key that the shipped section has. Warning then names the
// section and the file. Raises EProfileError when the shipped defaults lack
// the section too.
struct TProfileSettings {
    IniFile Settings;
    std::string Warning;
};
TProfileSettings ProfileSettings(const std::string& SettingsIni, int N);

class EProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
