// The option dispatcher, the generic option lookup over today's option
// tables, and the direct setters of the component.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <locale.h>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "common/Files.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "engine/EngineState.h"

namespace {

const char* const VerticalCropMessage =
    "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
const char* const HorizontalCropMessage =
    "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";

[[noreturn]] void Refuse(const std::string& AMessage) { throw FFMpegException(AMessage); }

// Integers of map, map_meta_data and itsscale: strtol with base 0, then one
// separator character, whatever it is, is skipped.
int ReadMapNumber(const char*& P) {
    char* End;
    long Value = std::strtol(P, &End, 0);
    P = End;
    if (*P) ++P;
    return static_cast<int>(Value);
}

// A decimal with the point as separator, whatever the locale.
double ReadPointDecimal(const char* P) {
    static locale_t CLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return CLocale ? strtod_l(P, nullptr, CLocale) : std::strtod(P, nullptr);
}

// The pad colour coefficients: round(x × 1024 + 0.5), half to even.
int Coefficient(double AFactor) { return static_cast<int>(std::nearbyint(AFactor * 1024.0 + 0.5)); }

// Rate-control names that the old tables kept for video only; today they
// also carry the audio flag, which would hand a video bit rate to the audio
// encoder. Their audio forms are "ab", "abt" and so on.
bool VideoOnlyName(const std::string& AName) {
    return AName == "b" || AName == "bt" || AName == "maxrate" || AName == "minrate" || AName == "bufsize";
}

int EffectiveFlags(const std::string& AName, const AVOption* AOption) {
    return VideoOnlyName(AName) ? AOption->flags & ~AV_OPT_FLAG_AUDIO_PARAM : AOption->flags;
}

bool KnownPrivateOption(const AVCodec* ACodec, const std::string& AName) {
    return ACodec && ACodec->priv_class &&
           av::av_opt_find(const_cast<AVClass**>(&ACodec->priv_class), AName.c_str(), nullptr, 0,
                           AV_OPT_SEARCH_FAKE_OBJ);
}

void SetCrop(int& ASetting, int& AFrameSize, int AValue, const char* AOddMessage, const char* ARangeMessage) {
    if (AValue < 0) return;
    if (AValue % 2 != 0) Refuse(AOddMessage);
    if (AValue >= AFrameSize) Refuse(ARangeMessage);
    ASetting = AValue;
    AFrameSize -= AValue;
}

void SetPadColor(int (&APadColor)[3], int ARgb) {
    static const int YR = Coefficient(0.299), YG = Coefficient(0.587), YB = Coefficient(0.114);
    static const int UR = Coefficient(0.16874), UG = Coefficient(0.33126), UB = Coefficient(0.5);
    static const int VG = Coefficient(0.41869), VB = Coefficient(0.08131);
    int R = ARgb & 0xFF, G = (ARgb >> 8) & 0xFF, B = (ARgb >> 16) & 0xFF;
    // >> on a negative int rounds toward minus infinity (C++20).
    const int Y = (YR * R + YG * G + YB * B + 512) >> 10;
    const int U = ((-UR * R - UG * G + UB * B + 511) >> 10) + 128;
    const int V = ((UB * R - VG * G - VB * B + 511) >> 10) + 128;
    // The encoders take video-range pictures: black is 16, white 235.
    APadColor[0] = 16 + static_cast<int>(std::lround(Y * 219.0 / 255.0));
    APadColor[1] = 128 + static_cast<int>(std::lround((U - 128) * 224.0 / 255.0));
    APadColor[2] = 128 + static_cast<int>(std::lround((V - 128) * 224.0 / 255.0));
}

void ParseMatrix(std::vector<uint16_t>& AMatrix, const std::string& AValue) {
    std::vector<uint16_t> Matrix(64, 0);
    const char* P = AValue.c_str();
    for (int i = 0; i < 64; ++i) {
        // The encoders divide by every coefficient and store each in eight
        // bits: 0 would crash them and more than 255 would corrupt the stream.
        long Coefficient = std::strtol(P, nullptr, 10);
        if (Coefficient < 1 || Coefficient > 255)
            Refuse(StrFormat("Coefficient %d of matrix \"%s\" must be between 1 and 255", i, AValue.c_str()));
        Matrix[i] = static_cast<uint16_t>(Coefficient);
        if (i == 63) break;
        P = std::strchr(P, ',');
        if (!P) Refuse(StrFormat("Syntax error in matrix \"%s\" at coeff %d", AValue.c_str(), i));
        ++P;
    }
    AMatrix = std::move(Matrix);
}

void AddBitstreamFilter(std::vector<AVBSFContext*>& AChain, const std::string& AValue) {
    if (AValue.empty() || AValue[0] == '=') return;
    std::string Rest = AValue;
    std::string Name = Trim(SplitHead(Rest, "=", false));
    const AVBitStreamFilter* Filter = av::av_bsf_get_by_name(Name.c_str());
    AVBSFContext* Context = nullptr;
    if (!Filter || av::av_bsf_alloc(Filter, &Context) < 0)
        Refuse(StrFormat("Unknown bitstream filter %s", Trim(AValue).c_str()));
    AChain.push_back(Context);
}

void ListFormats(TCustomFFmpeg& E, bool APixelFormats) {
    if (!E.OnLog) return;
    // The library's own table lines: index -1 is the header, then every
    // format the library knows.
    char Buffer[128];
    const int Count = APixelFormats ? int(AV_PIX_FMT_NB) : int(AV_SAMPLE_FMT_NB);
    for (int i = -1; i < Count; ++i) {
        if (APixelFormats && i >= 0 && !av::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(i))) break;
        Buffer[0] = '\0';
        const char* Line =
            APixelFormats ? av::av_get_pix_fmt_string(Buffer, sizeof Buffer, static_cast<AVPixelFormat>(i))
                          : av::av_get_sample_fmt_string(Buffer, sizeof Buffer, static_cast<AVSampleFormat>(i));
        if (Line) E.Log(1, Trim(Line));
    }
}

int64_t ParseTime(const std::string& AName, const std::string& AValue, bool ADuration) {
    int64_t Value = 0;
    if (av::av_parse_time(&Value, AValue.c_str(), ADuration ? 1 : 0) < 0)
        Refuse(StrFormat("Invalid %s specification for %s: %s", ADuration ? "duration" : "date", AName.c_str(),
                         AValue.c_str()));
    return Value;
}

void SetFrameRate(AVRational& ARate, const std::string& AValue) {
    if (AValue.empty()) return;
    // The NTSC rates written as decimals mean their exact fractions.
    static const std::pair<const char*, AVRational> Ntsc[] = {
        {"29.97", {30000, 1001}}, {"23.976", {24000, 1001}}, {"14.985", {15000, 1001}},
        {"59.94", {60000, 1001}}, {"11.988", {12000, 1001}}, {"47.952", {48000, 1001}}};
    for (const auto& [Text, Exact] : Ntsc)
        if (AValue == Text) {
            ARate = Exact;
            return;
        }
    AVRational Rate;
    if (av::av_parse_video_rate(&Rate, AValue.c_str()) < 0) Refuse("Incorrect frame rate");
    ARate = Rate;
}

void SetAspect(float& AAspect, const std::string& AValue) {
    if (AValue.empty()) return;
    double Ratio = 0.0;
    if (size_t Colon = AValue.find(':'); Colon != std::string::npos) {
        int64_t Before = 0, After = 0;
        if (!TryStrToInt64(AValue.substr(0, Colon), Before)) Before = 0;
        if (!TryStrToInt64(AValue.substr(Colon + 1), After)) After = 0;
        Ratio = After > 0 ? double(Before) / double(After) : 0.0;
    } else if (!TryStrToFloat(AValue, Ratio)) {
        Ratio = 0.0;
    }
    if (Ratio == 0.0) Refuse("Incorrect aspect ratio specification.");
    AAspect = static_cast<float>(Ratio);
}

void SetFormat(TCustomFFmpeg& E, const std::string& AValue) {
    if (AValue.empty()) return;
    std::string Name = AValue;
    if (Name == "pgmyuv") {
        E.Log(1, "pgmyuv format is deprecated, use image2");
        Name = "image2";
        E.Settings.ForcePgmYuv = true;
    }
    const AVInputFormat* In = av::av_find_input_format(Name.c_str());
    const AVOutputFormat* Out = av::av_guess_format(Name.c_str(), nullptr, nullptr);
    if (!In && !Out) Refuse(StrFormat("Unknown input or output format: %s", AValue.c_str()));
    E.Settings.InputFormat = In;
    E.Settings.OutputFormat = Out;
}

// The next entry of a mapping table, emptied; refuses when the table is full.
template <typename T, int N>
T& NextMapEntry(T (&ATable)[N], int& ACount, const char* AKind) {
    if (ACount >= N) Refuse(StrFormat("Too many %s mappings (at most %d)", AKind, N));
    return ATable[ACount++] = T();
}

void AddStreamMap(TEngineState& AState, const std::string& AValue) {
    TStreamMap& Map = NextMapEntry(AState.StreamMaps, AState.StreamMapCount, "stream");
    const char* P = AValue.c_str();
    Map.FileIndex = ReadMapNumber(P);
    Map.StreamIndex = ReadMapNumber(P);
    if (*P) {
        Map.SyncFileIndex = ReadMapNumber(P);
        Map.SyncStreamIndex = ReadMapNumber(P);
    } else {
        Map.SyncFileIndex = Map.FileIndex;
        Map.SyncStreamIndex = Map.StreamIndex;
    }
}

void AddMetaDataMap(TEngineState& AState, const std::string& AValue) {
    TMetaDataMap& Map = NextMapEntry(AState.MetaDataMaps, AState.MetaDataMapCount, "metadata");
    const char* P = AValue.c_str();
    Map.OutFile = ReadMapNumber(P);
    Map.InFile = ReadMapNumber(P);
}

void SetFrameSize(TEngineSettings& ASettings, const std::string& AValue) {
    if (AValue.empty()) return;
    int Width, Height;
    if (av::av_parse_video_size(&Width, &Height, AValue.c_str()) < 0) Refuse("Incorrect frame size");
    ASettings.FrameWidth = Width;
    ASettings.FrameHeight = Height;
    if (Width % 2 != 0 || Height % 2 != 0) Refuse("Frame size must be a multiple of 2");
}

// The program folder, "vstats_", the local time as hhnnss and ".log".
std::string VStatsName() {
    time_t Now = time(nullptr);
    struct tm Local;
    char Clock[16] = "000000";
    if (localtime_r(&Now, &Local)) strftime(Clock, sizeof Clock, "%H%M%S", &Local);
    return StrFormat("%svstats_%s.log", ExecutableFolder().c_str(), Clock);
}

// A prefix "pal-", "ntsc-" or "film-" gives the norm, the rest the type.
void ApplyTargetOption(TCustomFFmpeg& E, const std::string& AValue) {
    std::string Type = Trim(AValue), Norm;
    for (const char* Prefix : {"pal-", "ntsc-", "film-"})
        if (StartsWith(Type, Prefix)) {
            Norm = std::string(Prefix, std::strlen(Prefix) - 1);
            Type.erase(0, std::strlen(Prefix));
            break;
        }
    E.ApplyTarget(Type, Norm, "ntsc");
}

using TOptionHandler = std::function<void(TCustomFFmpeg& E, const std::string& N, const std::string& V)>;
using TOptionHandlers = std::unordered_map<std::string_view, TOptionHandler>;

// Adds the options that differ only by the setting they write: AStore
// reads the value into it.
template <typename T>
void StoreOptions(TOptionHandlers& H, std::initializer_list<std::pair<const char*, T TEngineSettings::*>> AOptions,
                  void (*AStore)(T& ASetting, const std::string& AValue)) {
    // The bindings are captured by copy: clang 14 cannot capture them by name.
    for (auto [Name, Field] : AOptions)
        H[Name] = [Field = Field, AStore](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            AStore(E.Settings.*Field, V);
        };
}

bool SetEncoderOption(TCustomFFmpeg& E, const std::string& AName, const std::string& AValue) {
    // A private option of the encoder named so far (x264's "preset",
    // "profile", ...) waits for the next stream of that kind.
    auto Encoder = [](const std::string& ACodec) {
        return ACodec.empty() ? nullptr
                              : av::avcodec_find_encoder_by_name(ACodec == "libfaac" ? "aac" : ACodec.c_str());
    };
    TPrivateOptions& Pending = E.State().PrivateOptions;
    if (KnownPrivateOption(Encoder(E.Settings.vcodec), AName)) {
        av::av_dict_set(&Pending.VideoEncoder, AName.c_str(), AValue.c_str(), 0);
        return true;
    }
    if (KnownPrivateOption(Encoder(E.Settings.acodec), AName)) {
        av::av_dict_set(&Pending.AudioEncoder, AName.c_str(), AValue.c_str(), 0);
        return true;
    }
    return false;
}

void AddHookOption(TCustomFFmpeg& E, const std::string& AValue) {
    TEngineState& State = E.State();
    // Words at "|" when there is one, else at blanks; runs count as one.
    char Separator = AValue.find('|') != std::string::npos ? '|' : ' ';
    std::vector<char*> Argv;
    for (const std::string& Word : SplitText(AValue, Separator)) {
        if (Word.empty()) continue;
        if (Argv.size() == 64) break;  // the old word list held 64 entries
        // Plug-ins may keep their arguments: they live until the chain is released.
        State.HookArguments.push_back(Word);
        Argv.push_back(State.HookArguments.back().data());
    }
    Argv.push_back(nullptr);
    if (AddFrameHook(State.HookChain, static_cast<int>(Argv.size()) - 1, Argv.data()) != 0)
        Refuse("Failed to add video hook function: " + AValue);
    E.Settings.UsingHooks = true;
}

// Whether the generic lookup finds AName as a flag option in any default context.
bool IsFlagOption(const TEngineState& AState, const std::string& AName) {
    auto Flags = [&](void* AContext, const char* AOptionName) {
        const AVOption* Option = AContext ? av::av_opt_find(AContext, AOptionName, nullptr, 0, 0) : nullptr;
        return Option && Option->type == AV_OPT_TYPE_FLAGS;
    };
    if (Flags(AState.OptionCodecContexts[0], AName.c_str()) || Flags(AState.OptionFormatContext, AName.c_str()) ||
        Flags(AState.OptionScalerContext, AName.c_str()))
        return true;
    return AName.size() > 1 && Flags(AState.OptionCodecContexts[0], AName.c_str() + 1);
}

// "+x+y-z" as its items, each with its sign; a leading bare item has none.
std::vector<std::string> FlagItems(const std::string& AText) {
    std::vector<std::string> Items;
    for (char C : AText) {
        if (Items.empty() || C == '+' || C == '-') Items.emplace_back();
        Items.back() += C;
    }
    return Items;
}

}  // namespace

bool ApplyFlagTexts(const TEngineSettings& ASettings, void* AContext, void* ADefaults, const std::string& AName,
                    const std::string& AActual) {
    const AVOption* Option = av::av_opt_find(AContext, AActual.c_str(), nullptr, 0, 0);
    if (!Option || Option->type != AV_OPT_TYPE_FLAGS) return false;
    // A bare value replaces the bits the library sets by default, never the
    // ones a codec adds to its own defaults (x264's closed GOPs).
    const AVOption* Generic = ADefaults ? av::av_opt_find(ADefaults, AActual.c_str(), nullptr, 0, 0) : nullptr;
    const int64_t LibraryDefault = (Generic ? Generic : Option)->default_val.i64;
    const char* Name = AActual.c_str();
    bool Found = false;
    for (const auto& [Given, Text] : ASettings.FlagTexts) {
        if (Given != AName) continue;
        Found = true;
        for (const std::string& Item : FlagItems(Text)) {
            if (Item[0] == '+' || Item[0] == '-') {
                av::av_opt_set(AContext, Name, Item.c_str(), 0);
                continue;
            }
            int64_t Before = 0, Value = 0;
            if (av::av_opt_get_int(AContext, Name, 0, &Before) < 0) continue;
            av::av_opt_set_int(AContext, Name, 0, 0);
            if (av::av_opt_set(AContext, Name, Item.c_str(), 0) < 0 ||
                av::av_opt_get_int(AContext, Name, 0, &Value) < 0) {
                av::av_opt_set_int(AContext, Name, Before, 0);
                continue;
            }
            av::av_opt_set_int(AContext, Name, (Before & ~LibraryDefault) | Value, 0);
        }
    }
    return Found;
}

std::string ResolveOptionName(const TEngineState& AState, const std::string& AName, void* ADefaults, int AFlags) {
    if (const AVOption* Option = av::av_opt_find(ADefaults, AName.c_str(), nullptr, 0, 0))
        if ((EffectiveFlags(AName, Option) & AFlags) == AFlags) return AName;
    // Old names with a type letter in front ("ab", "vb", "abt") live in the
    // default context of that type under the plain name.
    if (AName.size() > 1) {
        void* Typed = AName[0] == 'a'   ? AState.OptionCodecContexts[1]
                      : AName[0] == 'v' ? AState.OptionCodecContexts[0]
                      : AName[0] == 's' ? AState.OptionCodecContexts[3]
                                        : nullptr;
        if (Typed && Typed == ADefaults)
            if (const AVOption* Option = av::av_opt_find(ADefaults, AName.c_str() + 1, nullptr, 0, 0))
                if ((Option->flags & AFlags) == AFlags) return AName.substr(1);
    }
    return "";
}

bool TCustomFFmpeg::SetGenericOption(const std::string& AName, const std::string& AValue) {
    TEngineState& State = *FState;
    std::string Name = Trim(AName), Value = Trim(AValue);
    if (Name.empty() || Value.empty() || !State.OptionCodecContexts[0]) return false;
    if (Name == "gop") Name = "g";
    // Muxer options of the old tables that are private to the mpeg muxers
    // today, and the MP4 muxer's flags (the index at the front);
    // OpenOutputFile hands them to the next output file.
    if (Name == "muxrate" || Name == "preload" || Name == "movflags") {
        av::av_dict_set(&State.PrivateOptions.Muxer, Name.c_str(), Value.c_str(), 0);
        return true;
    }

    // An option that the encoder named so far declares itself is that
    // encoder's, even where a generic option has the same name: x264's
    // "profile" takes names ("main") that the generic field refuses, with
    // errors in the log, and its "level" takes "1.3", which the generic
    // field would cut to 1.
    if (SetEncoderOption(*this, Name, Value)) return true;

    static const int TypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM,
                                     0};
    bool Found = false;
    for (int Type = 0; Type < 5; ++Type) {
        const AVOption* Option =
            av::av_opt_find(State.OptionCodecContexts[0], Name.c_str(), nullptr, TypeFlags[Type], 0);
        if (!Option || !State.OptionCodecContexts[Type]) continue;
        if (TypeFlags[Type] && !(EffectiveFlags(Name, Option) & TypeFlags[Type])) continue;
        if (av::av_opt_set(State.OptionCodecContexts[Type], Name.c_str(), Value.c_str(), 0) >= 0) Found = true;
    }
    for (void* Context :
         {static_cast<void*>(State.OptionFormatContext), static_cast<void*>(State.OptionScalerContext)}) {
        if (Found || !Context) continue;
        if (av::av_opt_find(Context, Name.c_str(), nullptr, 0, 0) &&
            av::av_opt_set(Context, Name.c_str(), Value.c_str(), 0) >= 0)
            Found = true;
    }
    if (!Found && Name.size() > 1) {
        void* Typed = Name[0] == 'a'   ? State.OptionCodecContexts[1]
                      : Name[0] == 'v' ? State.OptionCodecContexts[0]
                      : Name[0] == 's' ? State.OptionCodecContexts[3]
                                       : nullptr;
        if (Typed && av::av_opt_find(Typed, Name.c_str() + 1, nullptr, 0, 0) &&
            av::av_opt_set(Typed, Name.c_str() + 1, Value.c_str(), 0) >= 0)
            Found = true;
    }
    if (!Found) return false;

    if (std::find(Settings.OptionNames.begin(), Settings.OptionNames.end(), Name) == Settings.OptionNames.end())
        Settings.OptionNames.push_back(Name);
    if (IsFlagOption(State, Name)) Settings.FlagTexts.emplace_back(Name, Value);
    int64_t CodecDebug = 0, FormatDebug = 0;
    av::av_opt_get_int(State.OptionCodecContexts[0], "debug", 0, &CodecDebug);
    if (State.OptionFormatContext) av::av_opt_get_int(State.OptionFormatContext, "fdebug", 0, &FormatDebug);
    if (CodecDebug || FormatDebug) {
        Settings.v = 2;
        av::av_log_set_level(LibraryLogLevel(2));
        LibraryLogFilterLevel = 2;
    }
    return true;
}

void TCustomFFmpeg::SetInputFormat(const std::string& AName) {
    if (AName.empty()) return;
    std::string Name = AName;
    if (Name == "pgmyuv") {
        Log(1, "pgmyuv format is deprecated, use image2");
        Name = "image2";
        Settings.ForcePgmYuv = true;
    }
    const AVInputFormat* Format = av::av_find_input_format(Name.c_str());
    if (!Format) Refuse(StrFormat("Unknown input format: %s", AName.c_str()));
    Settings.InputFormat = Format;
}

void TCustomFFmpeg::SetOutputFormat(const std::string& AName) {
    if (AName.empty()) return;
    const AVOutputFormat* Format = av::av_guess_format(AName == "pgmyuv" ? "image2" : AName.c_str(), nullptr, nullptr);
    if (!Format) Refuse(StrFormat("Unknown output format: %s", AName.c_str()));
    Settings.OutputFormat = Format;
}

void TCustomFFmpeg::SetStartTimeMs(int64_t AMilliseconds) {
    if (AMilliseconds > 0) Settings.ss = AMilliseconds * 1000;
}

void TCustomFFmpeg::SetDurationMs(int64_t AMilliseconds) {
    if (AMilliseconds <= 0) return;
    Settings.t = AMilliseconds * 1000;
    TotalDuration = static_cast<int>(std::min<int64_t>(AMilliseconds, INT32_MAX));
}

void TCustomFFmpeg::SetProgramId(int AValue) {
    if (AValue >= 0) Settings.programid = AValue;
}

void TCustomFFmpeg::SetOption(const std::string& AName, const std::string& AValue) {
    using S = TEngineSettings;
    static const TOptionHandlers Handlers = [] {
        TOptionHandlers H;
        // Accepted without effect.
        for (const char* Name : {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"})
            H[Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string&) {
                E.Log(1, "Do nothing: option - " + N);
            };
        H["threads"] = [](TCustomFFmpeg&, const std::string& N, const std::string&) { Refuse("TODO: option - " + N); };

        // Options that store their value in the setting named after them.
        StoreOptions<int>(H,
                          {{"dump", &S::dump}, {"hex", &S::hex}, {"re", &S::re}, {"loop_input", &S::loop_input},
                           {"shortest", &S::shortest}, {"intra", &S::intra}, {"vn", &S::vn}, {"sameq", &S::sameq},
                           {"deinterlace", &S::deinterlace}, {"psnr", &S::psnr}, {"qphist", &S::qphist},
                           {"an", &S::an}, {"sn", &S::sn}, {"isync", &S::isync}},
                          [](int& ASetting, const std::string&) { ASetting = 1; });
        StoreOptions<bool>(H, {{"copyts", &S::copyts}, {"xerror", &S::xerror}},
                           [](bool& ASetting, const std::string&) { ASetting = true; });
        StoreOptions<int>(H,
                          {{"dframes", &S::dframes}, {"vframes", &S::vframes}, {"aframes", &S::aframes},
                           {"loop_output", &S::loop_output}, {"vsync", &S::vsync}, {"async", &S::async},
                           {"vglobal", &S::vglobal}, {"programid", &S::programid}, {"vdt", &S::vdt},
                           {"me_threshold", &S::me_threshold}, {"top", &S::top}, {"dc", &S::dc}, {"vol", &S::vol},
                           {"vc", &S::vc}, {"autodeinterlace", &S::autodeinterlace}},
                          [](int& ASetting, const std::string& V) { ASetting = StrToInt(V); });
        StoreOptions<int64_t>(H, {{"fs", &S::fs}, {"fitsize", &S::fitsize}},
                              [](int64_t& ASetting, const std::string& V) { ASetting = StrToInt64(V); });
        StoreOptions<float>(H,
                            {{"adrift_threshold", &S::adrift_threshold},
                             {"dts_delta_threshold", &S::dts_delta_threshold}, {"aq", &S::aq},
                             {"muxdelay", &S::muxdelay}, {"muxpreload", &S::muxpreload}},
                            [](float& ASetting, const std::string& V) { ASetting = float(StrToFloat(V)); });
        StoreOptions<std::string>(H,
                                  {{"passlogfile", &S::passlogfile}, {"alang", &S::alang}, {"slang", &S::slang},
                                   {"rc_override", &S::rc_override}, {"tvstd", &S::tvstd},
                                   {"vstats_file", &S::vstats}},
                                  [](std::string& ASetting, const std::string& V) { ASetting = V; });
        StoreOptions<std::string>(H,
                                  {{"title", &S::title}, {"author", &S::author}, {"copyright", &S::copyright},
                                   {"comment", &S::comment}, {"genre", &S::genre}, {"album", &S::album},
                                   {"vfilters", &S::vfilters}},
                                  [](std::string& ASetting, const std::string& V) {
                                      if (!V.empty()) ASetting = V;
                                  });
        StoreOptions<int>(H, {{"ar", &S::ar}, {"ac", &S::ac}}, [](int& ASetting, const std::string& V) {
            if (int Value = StrToInt(V); Value > 0) ASetting = Value;
        });
        StoreOptions<std::vector<uint16_t>>(
            H, {{"intra_matrix", &S::intra_matrix}, {"inter_matrix", &S::inter_matrix}}, ParseMatrix);
        StoreOptions<std::vector<AVBSFContext*>>(H, {{"absf", &S::absf}, {"vbsf", &S::vbsf}, {"sbsf", &S::sbsf}},
                                                 AddBitstreamFilter);

        // Options with rules of their own.
        H["f"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { SetFormat(E, V); };
        H["map"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { AddStreamMap(E.State(), V); };
        H["map_meta_data"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            AddMetaDataMap(E.State(), V);
        };
        H["t"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            int64_t Milliseconds = ParseTime(N, V, true) / 1000;
            if (Milliseconds > 0) E.SetDurationMs(Milliseconds);
        };
        for (auto [Name, Field] : {std::pair{"ss", &S::ss}, std::pair{"itsoffset", &S::itsoffset}})
            H[Name] = [Field = Field](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
                E.Settings.*Field = ParseTime(N, V, true);
            };
        H["itsscale"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            const char* P = V.c_str();
            int Stream = ReadMapNumber(P);
            double Factor = ReadPointDecimal(P);
            if (Stream < 0 || Stream >= MAX_STREAMS)
                Refuse(StrFormat("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
            TEngineState& State = E.State();
            if (State.InputFileCount >= MAX_FILES) Refuse(StrFormat("Too many input files (at most %d)", MAX_FILES));
            State.InputTsScale[State.InputFileCount][Stream] = Factor;
        };
        H["timestamp"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            E.Settings.timestamp = std::llround(double(ParseTime(N, V, false)) / 1000000.0);
        };
        H["target"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { ApplyTargetOption(E, V); };
        H["v"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.v = StrToInt(V);
            av::av_log_set_level(LibraryLogLevel(E.Settings.v));
            LibraryLogFilterLevel = E.Settings.v;
        };
        for (const char* Name : {"b", "vb", "ab"})
            H[Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
                if (!E.SetGenericOption(N, V) || !E.OnLog) return;
                int64_t BitRate = 0;
                av::av_opt_get_int(E.State().OptionCodecContexts[N == "ab" ? 1 : 0], "b", 0, &BitRate);
                if (BitRate < 1000)
                    E.Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
            };
        H["r"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { SetFrameRate(E.Settings.r, V); };
        H["s"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { SetFrameSize(E.Settings, V); };
        H["aspect"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            SetAspect(E.Settings.aspect, V);
        };
        H["pix_fmt"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V == "list") return ListFormats(E, true);
            E.Settings.pix_fmt = av::av_get_pix_fmt(V.c_str());
        };
        H["sample_fmt"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V == "list") return ListFormats(E, false);
            E.Settings.sample_fmt = av::av_get_sample_fmt(V.c_str());
        };
        struct TCrop {
            const char* Name;
            int S::*Field;
            int S::*FrameSize;
            const char* OddMessage;
            const char* RangeMessage;
        };
        for (const TCrop& Crop : {TCrop{"croptop", &S::croptop, &S::FrameHeight,
                                        "Top crop size must be a multiple of 2", VerticalCropMessage},
                                  TCrop{"cropbottom", &S::cropbottom, &S::FrameHeight,
                                        "Bottom crop size must be a multiple of 2", VerticalCropMessage},
                                  TCrop{"cropleft", &S::cropleft, &S::FrameWidth,
                                        "Left crop size must be a multiple of 2", HorizontalCropMessage},
                                  TCrop{"cropright", &S::cropright, &S::FrameWidth,
                                        "Right crop size must be a multiple of 2", HorizontalCropMessage}})
            H[Crop.Name] = [Crop](TCustomFFmpeg& E, const std::string&, const std::string& V) {
                SetCrop(E.Settings.*Crop.Field, E.Settings.*Crop.FrameSize, StrToInt(V), Crop.OddMessage,
                        Crop.RangeMessage);
            };
        for (auto [Name, Field, Message] :
             {std::tuple{"padtop", &S::padtop, "Top pad size must be a multiple of 2"},
              std::tuple{"padbottom", &S::padbottom, "Bottom pad size must be a multiple of 2"},
              std::tuple{"padleft", &S::padleft, "Left pad size must be a multiple of 2"},
              std::tuple{"padright", &S::padright, "Right pad size must be a multiple of 2"}})
            H[Name] = [Field = Field, Message = Message](TCustomFFmpeg& E, const std::string&, const std::string& V) {
                int Value = StrToInt(V);
                if (Value < 0) return;
                if (Value % 2 != 0) Refuse(Message);
                E.Settings.*Field = Value;
            };
        H["padcolor"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            SetPadColor(E.Settings.padcolor, StrToInt(V));
        };
        H["qscale"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            double Value = StrToFloat(V);
            if (!(Value > 0.0 && Value <= 255.0)) Refuse("qscale must be > 0.0 and <= 255");
            E.Settings.qscale = static_cast<float>(Value);
        };
        for (auto [Name, Codec, Copy] : {std::tuple{"vcodec", &S::vcodec, &S::vcodec_copy},
                                         std::tuple{"acodec", &S::acodec, &S::acodec_copy},
                                         std::tuple{"scodec", &S::scodec, &S::scodec_copy}})
            H[Name] = [Codec = Codec, Copy = Copy](TCustomFFmpeg& E, const std::string&, const std::string& V) {
                if (V.empty()) return;
                (E.Settings.*Codec).clear();
                if (V == "copy")
                    E.Settings.*Copy = true;
                else
                    E.Settings.*Codec = V;
            };
        H["pass"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            int Pass = StrToInt(V);
            if (Pass != 1 && Pass != 2) Refuse("pass number can be only 1 or 2");
            E.Settings.pass = Pass;
        };
        H["vstats"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            E.Settings.vstats = VStatsName();
        };
        H["vhook"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { AddHookOption(E, V); };
        for (auto [Name, Field, Message] : {std::tuple{"vtag", &S::vtag, "video tag parameter must be 4 chars"},
                                            std::tuple{"atag", &S::atag, "audio tag parameter must be 4 chars"}})
            H[Name] = [Field = Field, Message = Message](TCustomFFmpeg& E, const std::string&, const std::string& V) {
                if (V.empty()) return;
                if (V.size() != 4) throw EAssertionFailed(Message);
                E.Settings.*Field = MKTAG(V[0], V[1], V[2], V[3]);
            };
        H["newvideo"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            NewVideoStream(E, E.State().LastOutputFile());
        };
        H["newaudio"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            NewAudioStream(E, E.State().LastOutputFile());
        };
        H["newsubtitle"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            NewSubtitleStream(E, E.State().LastOutputFile());
        };
        H["copystreams"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.copystreams = LowerCase(Trim(V));
        };
        return H;
    }();

    auto Handler = Handlers.find(AName);
    if (Handler == Handlers.end()) {
        SetGenericOption(AName, AValue);
        return;
    }
    Handler->second(*this, AName, AValue);
}

void TCustomFFmpeg::ApplyTarget(const std::string& AType, const std::string& ANorm, const std::string& AFallbackNorm) {
    TEngineState& State = *FState;
    enum { PAL, NTSC, FILM, Unknown } Norm = Unknown;
    if (ANorm == "pal")
        Norm = PAL;
    else if (ANorm == "ntsc")
        Norm = NTSC;
    else if (ANorm == "film")
        Norm = FILM;
    else {
        auto FromRate = [&](int64_t AMilliRate) {
            if (AMilliRate == 25000) Norm = PAL;
            if (AMilliRate == 29970 || AMilliRate == 23976) Norm = NTSC;
        };
        if (Settings.r.den == 0) Refuse("frame_rate is invalid.");
        FromRate(std::llrint(double(Settings.r.num) * 1000.0 / Settings.r.den));
        // The rate of an opened input's video stream.
        for (int i = 0; i < State.InputFileCount && Norm == Unknown; ++i)
            for (unsigned j = 0; State.InputFiles[i] && j < State.InputFiles[i]->nb_streams && Norm == Unknown;
                 ++j) {
                const AVStream* Stream = State.InputFiles[i]->streams[j];
                if (Stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
                AVRational Rate = Stream->avg_frame_rate.num ? Stream->avg_frame_rate : Stream->r_frame_rate;
                if (Rate.den) FromRate(std::llrint(double(Rate.num) * 1000.0 / Rate.den));
            }
        if (Norm == Unknown) Norm = AFallbackNorm == "film" ? FILM : AFallbackNorm == "ntsc" ? NTSC : PAL;
        if (Settings.v > 0) Log(1, StrFormat("Assuming %s for target.", Norm == PAL ? "PAL" : "NTSC"));
    }

    const bool Pal = Norm == PAL;
    const char* Rate = Norm == PAL ? "25" : Norm == NTSC ? "30000/1001" : "24000/1001";
    const char* Gop = Pal ? "15" : "18";
    auto Generic = [&](const char* AName, const char* AValue) { SetGenericOption(AName, AValue); };
    auto DefaultAspect = [&](const char* AValue) {
        if (Settings.aspect != 0.0f) return;
        Log(1, StrFormat("Assuming %s for aspect ratio", AValue));
        SetOption("aspect", AValue);
    };

    if (AType == "vcd") {
        SetOption("vcodec", "mpeg1video");
        SetOption("acodec", "mp2");
        SetOutputFormat("vcd");
        SetOption("s", Pal ? "352x288" : "352x240");
        SetOption("r", Rate);
        Generic("gop", Gop);
        Generic("b", "1150000");
        Generic("maxrate", "1150000");
        Generic("minrate", "1150000");
        Generic("bufsize", "327680");
        Generic("ab", "224000");
        Settings.ar = 44100;
        Settings.ac = 2;
        Generic("packetsize", "2324");
        Generic("muxrate", "1411200");
        Settings.muxpreload = 0.44f;
        DefaultAspect("4:3");
    } else if (AType == "svcd") {
        SetOption("vcodec", "mpeg2video");
        SetOption("acodec", "mp2");
        SetOutputFormat("svcd");
        SetOption("s", Pal ? "480x576" : "480x480");
        SetOption("r", Rate);
        Generic("gop", Gop);
        Generic("b", "2040000");
        Generic("maxrate", "2516000");
        Generic("minrate", "0");
        Generic("bufsize", "1835008");
        // The scan-offset flag is a private option of the MPEG-2 encoder today.
        if (av::av_opt_find(State.OptionCodecContexts[0], "scan_offset", "flags", 0, 0))
            Generic("flags", "+scan_offset");
        else
            Generic("scan_offset", "1");
        Generic("ab", "224000");
        Settings.ar = 44100;
        Generic("packetsize", "2324");
        if (Settings.ac == 1) Settings.ac = 2;
        DefaultAspect("4:3");
    } else if (AType == "dvd") {
        SetOption("vcodec", "mpeg2video");
        SetOption("acodec", "ac3");
        SetOutputFormat("dvd");
        SetOption("s", Pal ? "720x576" : "720x480");
        SetOption("r", Rate);
        Generic("gop", Gop);
        Generic("b", "6000000");
        Generic("maxrate", "9000000");
        Generic("minrate", "0");
        Generic("bufsize", "1835008");
        Generic("packetsize", "2048");
        Generic("muxrate", "10080000");
        Generic("ab", "448000");
        Settings.ar = 48000;
        if (Settings.ac == 1) Settings.ac = 2;
        DefaultAspect("16:9");
    } else if (AType == "dv" || AType == "dv50") {
        SetOutputFormat("dv");
        SetOption("s", Pal ? "720x576" : "720x480");
        SetOption("pix_fmt", AType == "dv50" ? "yuv422p" : Pal ? "yuv420p" : "yuv411p");
        SetOption("r", Rate);
        Settings.ar = 48000;
        Settings.ac = 2;
    } else {
        Refuse("Unknown target type");
    }
}
