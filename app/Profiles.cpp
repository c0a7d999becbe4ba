#include "app/Profiles.h"

#include "common/Numbers.h"
#include "common/Text.h"

const std::array<const char*, ProfileCount> ProfileNames = {
    "iPod Video MPEG-4 (*.mp4)",
    "iPod Video H.264  (*.mp4)",
    "iPod (320 x 240) MPEG-4 Excellent (*.mp4)",
    "iPod (320 x 240) MPEG-4 Normal (*.mp4)",
    "iPod (320 x 240) MPEG-4 Mini (*.mp4)",
    "Apple TV MPEG-4 High 480P (640 x 480) (*.mp4)",
    "Apple TV MPEG-4 Low  480P (640 x 480) (*.mp4)",
    "Apple TV MPEG-4 Normal 480P (640 x 480) (*.mp4)",
    "iPod Touch MPEG-4 Excellent (*.mp4)",
    "iPod Touch MPEG-4 (480 x 320) (*.mp4)",
    "iPod Touch MPEG-4 (320 x 240) (*.mp4)",
    "iPod Touch MPEG-4 Wide Screen (*.mp4)",
    "iPhone MPEG-4 Extra Video (*.mp4)",
    "iPhone MPEG-4 Wide Screen (*.mp4)",
    "Apple H.264 (320 x 240) (*.mp4)",
    "Apple H.264 480P (640 x 480)  (*.mp4)",
    "Apple H.264 720p (1280 x 720) (*.mp4)",
    "AVI Audio-Video Interleaved (*.avi)",
    "DivX Movie (*.avi)",
    "Xvid Movie (*.avi)",
    "iRiver PMP Video (*.avi)",
    "Creative Zen Player Video (*.avi)",
    "Archos Player Video (*.avi)",
    "PS3 MPEG-4 Video (480P)(*.mp4)",
    "PS3 MPEG-4 Video (480P) Excellent(*.mp4)",
    "PS3 MPEG-4 Video (720P)(*.mp4)",
    "PS3 MPEG-4 Video (1080P)(*.mp4)",
    "PSP MPEG-4 Excellent Quality(*.mp4)",
    "PSP MPEG-4 Normal Quality(*.mp4)",
    "PSP MPEG-4 Mini Size(*.mp4)",
    "PSP H.264/AVC Video (*.mp4)",
    "PSP Video (480P)(*.mp4)",
    "M4V MPEG-4 Video (*.m4v)",
    "M4A MPEG-4 Audio (*.m4a)",
    "MP3 MPEG Layer-3 Audio (*.mp3)",
    "AAC Advenced Audio Codec (*.aac)",
    "H.264 High 1080p for phones, tablets and TVs (*.mp4)",
    "H.264 High 720p for phones and tablets (*.mp4)",
    "H.265 1080p (*.mp4)",
    "H.265 2160p 4K (*.mp4)",
    "AV1 1080p with AAC sound (*.mp4)",
    "AV1 1080p with Opus sound (*.mp4)",
    "VP9 + Opus WebM 1080p (*.webm)",
    "VP9 + Opus WebM 720p (*.webm)",
    "H.264 480p for e-mail and chat (*.mp4)",
    "Opus Audio (*.opus)",
    "FLAC Lossless Audio (*.flac)",
    "MP3 VBR High Quality (*.mp3)",
    "AAC 256 kbit/s Audio (*.m4a)",
    "MP4, streams copied (*.mp4)",
    "MKV, every stream copied (*.mkv)",
};

const std::vector<TProfileGroup>& ProfileGroups() {
    static const std::vector<TProfileGroup> Groups = [] {
        std::vector<TProfileGroup> G = {
            {"Phones, tablets and TVs", {36, 37, 38, 39, 40, 41}},
            {"Web and sharing", {42, 43, 44}},
            {"Copy without re-encoding", {49, 50}},
            {"Sound only", {45, 46, 47, 48}},
            {"Players and consoles", {}},
        };
        for (int N = 0; N < ClassicProfileCount; ++N) G.back().Profiles.push_back(N);
        return G;
    }();
    return Groups;
}

std::string ProfileGroupOf(int N) {
    for (const TProfileGroup& G : ProfileGroups())
        for (int P : G.Profiles)
            if (P == N) return G.Heading;
    return "";
}

const TQualityScale* QualityScaleFor(const std::string& Encoder) {
    static const char* const X26xPresets = "ultrafast,superfast,veryfast,faster,fast,medium,slow,slower,veryslow";
    static const TQualityScale Scales[] = {
        {"libx264", 0, 51, 23, "lower is better, 18\u201328 is usual", X26xPresets, "medium"},
        {"libx265", 0, 51, 28, "lower is better, 22\u201332 is usual", X26xPresets, "fast"},
        {"libsvtav1", 1, 63, 35, "lower is better, 25\u201345 is usual", "12,10,8,6,4,2", "8"},
        {"libvpx-vp9", 0, 63, 33, "lower is better, 15\u201340 is usual", "5,4,3,2,1,0", "4"},
    };
    for (const TQualityScale& S : Scales)
        if (Encoder == S.Encoder) return &S;
    return nullptr;
}

const std::array<TProfileParameter, 9> ProfileParameters = {{
    {"VideoSize", "iVideoSize", "paraVideoSize"},
    {"VideoBitRate", "iVideoBitRate", "paraVideoBitRate"},
    {"FrameRate", "iFrameRate", "paraFrameRate"},
    {"VideoEncoder", "iVideoEncoder", "paraVideoEncoder"},
    {"AudioBitRate", "iAudioBitRate", "paraAudioBitRate"},
    {"SampleRate", "iSampleRate", "paraSampleRate"},
    {"AudioEncoder", "iAudioEncoder", "paraAudioEncoder"},
    {"Channel", "iChannel", "paraChannel"},
    {"Volume", "iVolume", "paraVolume"},
}};

std::string ProfileSection(int N) { return "formatInfo" + std::to_string(N); }

std::string ProfileFileExt(const IniFile& FormatIni, int N) {
    return FormatIni.ReadString(ProfileSection(N), "FileExt", "mp4");
}

std::string ProfileFormat(const IniFile& FormatIni, int N) {
    return FormatIni.ReadString(ProfileSection(N), "Format", "null");
}

std::vector<std::string> SplitChoiceList(const std::string& Value) {
    if (Value == "null") return {};
    return SplitText(Value, ',');
}

std::string VideoEncoderValue(const std::string& Item) {
    std::string Name = LowerCase(Item);
    if (Name == "mpeg-4") return "mpeg4";
    if (Name == "xvid") return "libxvid";
    if (Name == "h264") return "libx264";
    if (Name == "h265") return "libx265";
    if (Name == "av1") return "libsvtav1";
    if (Name == "vp9") return "libvpx-vp9";
    static const char* const Same[] = {"3gp",        "3g2",        "mov",       "wmv1",    "wmv2",  "wmv3",
                                       "flv",        "swf",        "msmpeg4",   "msmpeg4v1", "msmpeg4v2",
                                       "mpeg1video", "mpeg2video", "h263",      "h263p",   "rawvideo",
                                       "rv10",       "rv20",       "dvvideo",   "huffyuv", "ljpeg", "mjpeg",
                                       "svq1",       "zlib"};
    for (const char* S : Same)
        if (Name == S) return Name;
    return "";
}

std::string AudioEncoderValue(const std::string& Item) {
    static const char* const Map[][2] = {
        {"mp3", "libmp3lame"},       {"mp2", "mp2"},
        {"aac", "libfaac"},          {"ac-3", "ac3"},
        {"flac", "flac"},            {"amr_nb", "libamr_nb"},
        {"pcm_s16", "pcm_s16le"},    {"pcm_u16", "pcm_u16le"},
        {"pcm_alaw", "pcm_alaw"},    {"pcm_mulaw ", "pcm_mulaw"},
        {"adpcm_ms", "adpcm_ms"},    {"adpcm_ima_wav", "adpcm_ima_wav"},
        {"wma1", "wmav1"},           {"wma2", "wmav2"},
        {"opus", "libopus"},
    };
    std::string Name = LowerCase(Item);
    for (const auto& Row : Map)
        if (Name == Row[0]) return Row[1];
    return "";
}

std::string ChannelValue(const std::string& Item) {
    if (Item == "as source") return "as source";
    if (Item == "mono 1 channel") return "1";
    if (Item == "stereo 2 channels") return "2";
    return "";
}

std::string VolumeValue(const std::string& Item) {
    std::string Number = Item.empty() ? Item : Item.substr(0, Item.size() - 1);
    int Percent = StrToInt(Number);
    static const int Listed[] = {25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400};
    for (int P : Listed)
        if (P == Percent) return std::to_string(P * 256 / 100);
    return "";
}

TProfileSettings ProfileSettings(const std::string& SettingsIni, int N) {
    const std::string Section = ProfileSection(N);
    IniFile User(SettingsIni);
    IniFile Shipped = IniFile::FromText(ShippedSettingsText);
    const bool HasSection = User.SectionExists(Section);
    const bool LacksEncoder = HasSection && !User.ValueExists(Section, "paraVideoEncoder") &&
                              !Trim(Shipped.ReadString(Section, "paraVideoEncoder", "")).empty();
    if (HasSection && !LacksEncoder) return {User, ""};
    if (!Shipped.SectionExists(Section))
        throw EProfileError("the settings file " + SettingsIni + " has no section [" + Section +
                            "] and the program has no defaults for it");
    const std::string What = HasSection ? "the section [" + Section + "] has no paraVideoEncoder key"
                                        : "the section [" + Section + "] is missing";
    return {Shipped, "warning: in the settings file " + SettingsIni + ", " + What +
                         "; the profile's shipped defaults are used"};
}
