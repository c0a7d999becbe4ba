// The option dispatcher, the generic option lookup over today's option
// tables, and the direct setters of the component.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <string_view>
#include <unordered_map>

#include "common/Files.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "engine/FFmpeg.h"

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

}  // namespace

std::string TCustomFFmpeg::ResolveOptionName(const std::string& AName, void* ADefaults, int AFlags) {
    if (const AVOption* Option = av::av_opt_find(ADefaults, AName.c_str(), nullptr, 0, 0))
        if ((EffectiveFlags(AName, Option) & AFlags) == AFlags) return AName;
    // Old names with a type letter in front ("ab", "vb", "abt") live in the
    // default context of that type under the plain name.
    if (AName.size() > 1) {
        void* Typed = AName[0] == 'a'   ? OptionCodecContexts[1]
                      : AName[0] == 'v' ? OptionCodecContexts[0]
                      : AName[0] == 's' ? OptionCodecContexts[3]
                                        : nullptr;
        if (Typed && Typed == ADefaults)
            if (const AVOption* Option = av::av_opt_find(ADefaults, AName.c_str() + 1, nullptr, 0, 0))
                if ((Option->flags & AFlags) == AFlags) return AName.substr(1);
    }
    return "";
}

bool TCustomFFmpeg::SetGenericOption(const std::string& AName, const std::string& AValue) {
    std::string Name = Trim(AName), Value = Trim(AValue);
    if (Name.empty() || Value.empty() || !OptionCodecContexts[0]) return false;
    if (Name == "gop") Name = "g";
    // Muxer options of the old tables that are private to the mpeg muxers
    // today; OpenOutputFile hands them to the next output file.
    if (Name == "muxrate" || Name == "preload") {
        av::av_dict_set(&PrivateOptions.Muxer, Name.c_str(), Value.c_str(), 0);
        return true;
    }

    // An option that the encoder named so far declares itself is that
    // encoder's, even where a generic option has the same name: x264's
    // "profile" takes names ("main") that the generic field refuses, with
    // errors in the log, and its "level" takes "1.3", which the generic
    // field would cut to 1.
    if (SetEncoderOption(Name, Value)) return true;

    static const int TypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM,
                                     0};
    bool Found = false;
    for (int Type = 0; Type < 5; ++Type) {
        const AVOption* Option = av::av_opt_find(OptionCodecContexts[0], Name.c_str(), nullptr, TypeFlags[Type], 0);
        if (!Option || !OptionCodecContexts[Type]) continue;
        if (TypeFlags[Type] && !(EffectiveFlags(Name, Option) & TypeFlags[Type])) continue;
        if (av::av_opt_set(OptionCodecContexts[Type], Name.c_str(), Value.c_str(), 0) >= 0) Found = true;
    }
    for (void* Context : {static_cast<void*>(OptionFormatContext), static_cast<void*>(OptionScalerContext)}) {
        if (Found || !Context) continue;
        if (av::av_opt_find(Context, Name.c_str(), nullptr, 0, 0) &&
            av::av_opt_set(Context, Name.c_str(), Value.c_str(), 0) >= 0)
            Found = true;
    }
    if (!Found && Name.size() > 1) {
        void* Typed = Name[0] == 'a'   ? OptionCodecContexts[1]
                      : Name[0] == 'v' ? OptionCodecContexts[0]
                      : Name[0] == 's' ? OptionCodecContexts[3]
                                       : nullptr;
        if (Typed && av::av_opt_find(Typed, Name.c_str() + 1, nullptr, 0, 0) &&
            av::av_opt_set(Typed, Name.c_str() + 1, Value.c_str(), 0) >= 0)
            Found = true;
    }
    if (!Found) return false;

    if (std::find(Settings.OptionNames.begin(), Settings.OptionNames.end(), Name) == Settings.OptionNames.end())
        Settings.OptionNames.push_back(Name);
    int64_t CodecDebug = 0, FormatDebug = 0;
    av::av_opt_get_int(OptionCodecContexts[0], "debug", 0, &CodecDebug);
    if (OptionFormatContext) av::av_opt_get_int(OptionFormatContext, "fdebug", 0, &FormatDebug);
    if (CodecDebug || FormatDebug) {
        Settings.v = 2;
        av::av_log_set_level(LibraryLogLevel(2));
        LibraryLogFilterLevel = 2;
    }
    return true;
}

bool TCustomFFmpeg::SetEncoderOption(const std::string& AName, const std::string& AValue) {
    // A private option of the encoder named so far (x264's "preset",
    // "profile", ...) waits for the next stream of that kind.
    auto Encoder = [](const std::string& ACodec) {
        return ACodec.empty() ? nullptr
                              : av::avcodec_find_encoder_by_name(ACodec == "libfaac" ? "aac" : ACodec.c_str());
    };
    if (KnownPrivateOption(Encoder(Settings.vcodec), AName)) {
        av::av_dict_set(&PrivateOptions.VideoEncoder, AName.c_str(), AValue.c_str(), 0);
        return true;
    }
    if (KnownPrivateOption(Encoder(Settings.acodec), AName)) {
        av::av_dict_set(&PrivateOptions.AudioEncoder, AName.c_str(), AValue.c_str(), 0);
        return true;
    }
    return false;
}

bool TCustomFFmpeg::SetGenericOption(const std::string& AName, int AValue) {
    return SetGenericOption(AName, std::to_string(AValue));
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

void TCustomFFmpeg::SetCrop(int& ASetting, int& AFrameSize, int AValue, const char* AOddMessage,
                            const char* ARangeMessage) {
    if (AValue < 0) return;
    if (AValue % 2 != 0) Refuse(AOddMessage);
    if (AValue >= AFrameSize) Refuse(ARangeMessage);
    ASetting = AValue;
    AFrameSize -= AValue;
}

void TCustomFFmpeg::SetPadColor(int ARgb) {
    static const int YR = Coefficient(0.299), YG = Coefficient(0.587), YB = Coefficient(0.114);
    static const int UR = Coefficient(0.16874), UG = Coefficient(0.33126), UB = Coefficient(0.5);
    static const int VG = Coefficient(0.41869), VB = Coefficient(0.08131);
    int R = ARgb & 0xFF, G = (ARgb >> 8) & 0xFF, B = (ARgb >> 16) & 0xFF;
    // >> on a negative int rounds toward minus infinity (C++20).
    Settings.padcolor[0] = (YR * R + YG * G + YB * B + 512) >> 10;
    Settings.padcolor[1] = ((-UR * R - UG * G + UB * B + 511) >> 10) + 128;
    Settings.padcolor[2] = ((UB * R - VG * G - VB * B + 511) >> 10) + 128;
}

void TCustomFFmpeg::ParseMatrix(std::vector<uint16_t>& AMatrix, const std::string& AValue) {
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

void TCustomFFmpeg::AddBitstreamFilter(std::vector<AVBSFContext*>& AChain, const std::string& AValue) {
    if (AValue.empty() || AValue[0] == '=') return;
    std::string Rest = AValue;
    std::string Name = Trim(SplitHead(Rest, "=", false));
    const AVBitStreamFilter* Filter = av::av_bsf_get_by_name(Name.c_str());
    AVBSFContext* Context = nullptr;
    if (!Filter || av::av_bsf_alloc(Filter, &Context) < 0)
        Refuse(StrFormat("Unknown bitstream filter %s", Trim(AValue).c_str()));
    AChain.push_back(Context);
}

void TCustomFFmpeg::AddHookOption(const std::string& AValue) {
    // Words at "|" when there is one, else at blanks; runs count as one.
    char Separator = AValue.find('|') != std::string::npos ? '|' : ' ';
    std::vector<char*> Argv;
    for (const std::string& Word : SplitText(AValue, Separator)) {
        if (Word.empty()) continue;
        if (Argv.size() == 64) break;  // the old word list held 64 entries
        // Plug-ins may keep their arguments: they live until the chain is released.
        HookArguments.push_back(Word);
        Argv.push_back(HookArguments.back().data());
    }
    Argv.push_back(nullptr);
    if (AddFrameHook(HookChain, static_cast<int>(Argv.size()) - 1, Argv.data()) != 0)
        Refuse("Failed to add video hook function: " + AValue);
    Settings.UsingHooks = true;
}

void TCustomFFmpeg::ListFormats(bool APixelFormats) {
    if (!OnLog) return;
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
        if (Line) Log(1, Trim(Line));
    }
}

void TCustomFFmpeg::SetOption(const std::string& AName, const std::string& AValue) {
    using THandler = void (*)(TCustomFFmpeg& E, const std::string& N, const std::string& V);
    static const std::unordered_map<std::string_view, THandler> Handlers = [] {
        std::unordered_map<std::string_view, THandler> H;
        // Accepted without effect.
        for (const char* Name : {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"})
            H[Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string&) {
                E.Log(1, "Do nothing: option - " + N);
            };
        H["threads"] = [](TCustomFFmpeg&, const std::string& N, const std::string&) { Refuse("TODO: option - " + N); };

        // Switches.
        H["dump"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.dump = 1; };
        H["hex"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.hex = 1; };
        H["re"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.re = 1; };
        H["loop_input"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.loop_input = 1; };
        H["copyts"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.copyts = true; };
        H["shortest"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.shortest = 1; };
        H["xerror"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.xerror = true; };
        H["intra"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.intra = 1; };
        H["vn"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.vn = 1; };
        H["sameq"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.sameq = 1; };
        H["deinterlace"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.deinterlace = 1; };
        H["psnr"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.psnr = 1; };
        H["qphist"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.qphist = 1; };
        H["an"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.an = 1; };
        H["sn"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.sn = 1; };
        H["isync"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) { E.Settings.isync = 1; };

        // Integers.
        H["dframes"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.dframes = StrToInt(V); };
        H["vframes"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vframes = StrToInt(V); };
        H["aframes"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.aframes = StrToInt(V); };
        H["loop_output"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.loop_output = StrToInt(V);
        };
        H["vsync"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vsync = StrToInt(V); };
        H["async"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.async = StrToInt(V); };
        H["vglobal"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vglobal = StrToInt(V); };
        H["programid"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.programid = StrToInt(V);
        };
        H["vdt"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vdt = StrToInt(V); };
        H["me_threshold"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.me_threshold = StrToInt(V);
        };
        H["top"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.top = StrToInt(V); };
        H["dc"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.dc = StrToInt(V); };
        H["vol"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vol = StrToInt(V); };
        H["vc"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vc = StrToInt(V); };
        H["fs"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.fs = StrToInt64(V); };

        // Decimals.
        H["adrift_threshold"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.adrift_threshold = static_cast<float>(StrToFloat(V));
        };
        H["dts_delta_threshold"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.dts_delta_threshold = static_cast<float>(StrToFloat(V));
        };
        H["aq"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.aq = static_cast<float>(StrToFloat(V));
        };
        H["muxdelay"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.muxdelay = static_cast<float>(StrToFloat(V));
        };
        H["muxpreload"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.muxpreload = static_cast<float>(StrToFloat(V));
        };

        // Texts.
        H["passlogfile"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.passlogfile = V; };
        H["alang"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.alang = V; };
        H["slang"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.slang = V; };
        H["title"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.title = V;
        };
        H["author"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.author = V;
        };
        H["copyright"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.copyright = V;
        };
        H["comment"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.comment = V;
        };
        H["genre"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.genre = V;
        };
        H["album"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.album = V;
        };
        H["vfilters"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (!V.empty()) E.Settings.vfilters = V;
        };
        H["rc_override"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.rc_override = V; };
        H["tvstd"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.tvstd = V; };
        H["vstats_file"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.Settings.vstats = V; };

        // Options with rules of their own.
        H["f"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            std::string Name = V;
            if (Name == "pgmyuv") {
                E.Log(1, "pgmyuv format is deprecated, use image2");
                Name = "image2";
                E.Settings.ForcePgmYuv = true;
            }
            const AVInputFormat* In = av::av_find_input_format(Name.c_str());
            const AVOutputFormat* Out = av::av_guess_format(Name.c_str(), nullptr, nullptr);
            if (!In && !Out) Refuse(StrFormat("Unknown input or output format: %s", V.c_str()));
            E.Settings.InputFormat = In;
            E.Settings.OutputFormat = Out;
        };
        H["map"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (E.StreamMapCount >= MAX_STREAM_MAPS)
                Refuse(StrFormat("Too many stream mappings (at most %d)", MAX_STREAM_MAPS));
            TStreamMap Map;
            const char* P = V.c_str();
            Map.FileIndex = ReadMapNumber(P);
            Map.StreamIndex = ReadMapNumber(P);
            if (*P) {
                Map.SyncFileIndex = ReadMapNumber(P);
                Map.SyncStreamIndex = ReadMapNumber(P);
            } else {
                Map.SyncFileIndex = Map.FileIndex;
                Map.SyncStreamIndex = Map.StreamIndex;
            }
            E.StreamMaps[E.StreamMapCount++] = Map;
        };
        H["map_meta_data"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (E.MetaDataMapCount >= MAX_META_DATA_MAPS)
                Refuse(StrFormat("Too many metadata mappings (at most %d)", MAX_META_DATA_MAPS));
            TMetaDataMap Map;
            const char* P = V.c_str();
            Map.OutFile = ReadMapNumber(P);
            Map.InFile = ReadMapNumber(P);
            E.MetaDataMaps[E.MetaDataMapCount++] = Map;
        };
        H["t"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            int64_t Milliseconds = E.ParseTime(N, V, true) / 1000;
            if (Milliseconds > 0) E.SetDurationMs(Milliseconds);
        };
        H["ss"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            E.Settings.ss = E.ParseTime(N, V, true);
        };
        H["itsoffset"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            E.Settings.itsoffset = E.ParseTime(N, V, true);
        };
        H["itsscale"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            const char* P = V.c_str();
            int Stream = ReadMapNumber(P);
            double Factor = ReadPointDecimal(P);
            if (Stream < 0 || Stream >= MAX_STREAMS) Refuse(StrFormat("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
            if (E.InputFileCount >= MAX_FILES) Refuse(StrFormat("Too many input files (at most %d)", MAX_FILES));
            E.InputTsScale[E.InputFileCount][Stream] = Factor;
        };
        H["timestamp"] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
            E.Settings.timestamp = std::llround(double(E.ParseTime(N, V, false)) / 1000000.0);
        };
        H["target"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            std::string Type = Trim(V), Norm;
            for (const char* Prefix : {"pal-", "ntsc-", "film-"})
                if (StartsWith(Type, Prefix)) {
                    Norm = std::string(Prefix, std::strlen(Prefix) - 1);
                    Type.erase(0, std::strlen(Prefix));
                    break;
                }
            E.ApplyTarget(Type, Norm, "ntsc");
        };
        H["v"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.Settings.v = StrToInt(V);
            av::av_log_set_level(LibraryLogLevel(E.Settings.v));
            LibraryLogFilterLevel = E.Settings.v;
        };
        for (const char* Name : {"b", "vb", "ab"})
            H[Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
                if (!E.SetGenericOption(N, V) || !E.OnLog) return;
                int64_t BitRate = 0;
                av::av_opt_get_int(E.OptionCodecContexts[N == "ab" ? 1 : 0], "b", 0, &BitRate);
                if (BitRate < 1000)
                    E.Log(1,
                          "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
            };
        H["r"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            // The NTSC rates written as decimals mean their exact fractions.
            static const std::pair<const char*, AVRational> Ntsc[] = {
                {"29.97", {30000, 1001}}, {"23.976", {24000, 1001}}, {"14.985", {15000, 1001}},
                {"59.94", {60000, 1001}}, {"11.988", {12000, 1001}}, {"47.952", {48000, 1001}}};
            for (const auto& [Text, Exact] : Ntsc)
                if (V == Text) {
                    E.Settings.r = Exact;
                    return;
                }
            AVRational Rate;
            if (av::av_parse_video_rate(&Rate, V.c_str()) < 0) Refuse("Incorrect frame rate");
            E.Settings.r = Rate;
        };
        H["s"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            int Width, Height;
            if (av::av_parse_video_size(&Width, &Height, V.c_str()) < 0) Refuse("Incorrect frame size");
            E.Settings.FrameWidth = Width;
            E.Settings.FrameHeight = Height;
            if (Width % 2 != 0 || Height % 2 != 0) Refuse("Frame size must be a multiple of 2");
        };
        H["aspect"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            double Ratio = 0.0;
            if (size_t Colon = V.find(':'); Colon != std::string::npos) {
                int64_t Before = 0, After = 0;
                if (!TryStrToInt64(V.substr(0, Colon), Before)) Before = 0;
                if (!TryStrToInt64(V.substr(Colon + 1), After)) After = 0;
                Ratio = After > 0 ? double(Before) / double(After) : 0.0;
            } else if (!TryStrToFloat(V, Ratio)) {
                Ratio = 0.0;
            }
            if (Ratio == 0.0) Refuse("Incorrect aspect ratio specification.");
            E.Settings.aspect = static_cast<float>(Ratio);
        };
        H["pix_fmt"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V == "list") return E.ListFormats(true);
            E.Settings.pix_fmt = av::av_get_pix_fmt(V.c_str());
        };
        H["sample_fmt"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V == "list") return E.ListFormats(false);
            E.Settings.sample_fmt = av::av_get_sample_fmt(V.c_str());
        };
        H["croptop"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.SetCrop(E.Settings.croptop, E.Settings.FrameHeight, StrToInt(V), "Top crop size must be a multiple of 2",
                      VerticalCropMessage);
        };
        H["cropbottom"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.SetCrop(E.Settings.cropbottom, E.Settings.FrameHeight, StrToInt(V),
                      "Bottom crop size must be a multiple of 2", VerticalCropMessage);
        };
        H["cropleft"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.SetCrop(E.Settings.cropleft, E.Settings.FrameWidth, StrToInt(V), "Left crop size must be a multiple of 2",
                      HorizontalCropMessage);
        };
        H["cropright"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.SetCrop(E.Settings.cropright, E.Settings.FrameWidth, StrToInt(V), "Right crop size must be a multiple of 2",
                      HorizontalCropMessage);
        };
        struct TPad {
            const char* Name;
            int TEngineSettings::*Field;
            const char* Message;
        };
        static const TPad Pads[4] = {{"padtop", &TEngineSettings::padtop, "Top pad size must be a multiple of 2"},
                                     {"padbottom", &TEngineSettings::padbottom, "Bottom pad size must be a multiple of 2"},
                                     {"padleft", &TEngineSettings::padleft, "Left pad size must be a multiple of 2"},
                                     {"padright", &TEngineSettings::padright, "Right pad size must be a multiple of 2"}};
        for (const TPad& Pad : Pads)
            H[Pad.Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
                int Value = StrToInt(V);
                for (const TPad& P : Pads)
                    if (N == P.Name) {
                        if (Value < 0) return;
                        if (Value % 2 != 0) Refuse(P.Message);
                        E.Settings.*P.Field = Value;
                    }
            };
        H["padcolor"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.SetPadColor(StrToInt(V)); };
        H["qscale"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            double Value = StrToFloat(V);
            if (!(Value > 0.0 && Value <= 255.0)) Refuse("qscale must be > 0.0 and <= 255");
            E.Settings.qscale = static_cast<float>(Value);
        };
        struct TCodecName {
            const char* Name;
            std::string TEngineSettings::*Codec;
            bool TEngineSettings::*Copy;
        };
        static const TCodecName CodecNames[3] = {{"vcodec", &TEngineSettings::vcodec, &TEngineSettings::vcodec_copy},
                                                 {"acodec", &TEngineSettings::acodec, &TEngineSettings::acodec_copy},
                                                 {"scodec", &TEngineSettings::scodec, &TEngineSettings::scodec_copy}};
        for (const TCodecName& Codec : CodecNames)
            H[Codec.Name] = [](TCustomFFmpeg& E, const std::string& N, const std::string& V) {
                if (V.empty()) return;
                for (const TCodecName& C : CodecNames)
                    if (N == C.Name) {
                        (E.Settings.*C.Codec).clear();
                        if (V == "copy")
                            E.Settings.*C.Copy = true;
                        else
                            E.Settings.*C.Codec = V;
                    }
            };
        H["pass"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            int Pass = StrToInt(V);
            if (Pass != 1 && Pass != 2) Refuse("pass number can be only 1 or 2");
            E.Settings.pass = Pass;
        };
        H["vstats"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            time_t Now = time(nullptr);
            struct tm Local;
            char Clock[16] = "000000";
            if (localtime_r(&Now, &Local)) strftime(Clock, sizeof Clock, "%H%M%S", &Local);
            E.Settings.vstats = StrFormat("%svstats_%s.log", ExecutableFolder().c_str(), Clock);
        };
        H["vhook"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) { E.AddHookOption(V); };
        H["intra_matrix"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.ParseMatrix(E.Settings.intra_matrix, V);
        };
        H["inter_matrix"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.ParseMatrix(E.Settings.inter_matrix, V);
        };
        H["vtag"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            if (V.size() != 4) throw EAssertionFailed("video tag parameter must be 4 chars");
            E.Settings.vtag = MKTAG(V[0], V[1], V[2], V[3]);
        };
        H["atag"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (V.empty()) return;
            if (V.size() != 4) throw EAssertionFailed("audio tag parameter must be 4 chars");
            E.Settings.atag = MKTAG(V[0], V[1], V[2], V[3]);
        };
        H["ar"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (int Value = StrToInt(V); Value > 0) E.Settings.ar = Value;
        };
        H["ac"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            if (int Value = StrToInt(V); Value > 0) E.Settings.ac = Value;
        };
        H["newvideo"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            E.NewVideoStream(E.LastOutputFile());
        };
        H["newaudio"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            E.NewAudioStream(E.LastOutputFile());
        };
        H["newsubtitle"] = [](TCustomFFmpeg& E, const std::string&, const std::string&) {
            E.NewSubtitleStream(E.LastOutputFile());
        };
        H["absf"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.AddBitstreamFilter(E.Settings.absf, V);
        };
        H["vbsf"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.AddBitstreamFilter(E.Settings.vbsf, V);
        };
        H["sbsf"] = [](TCustomFFmpeg& E, const std::string&, const std::string& V) {
            E.AddBitstreamFilter(E.Settings.sbsf, V);
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

AVFormatContext* TCustomFFmpeg::LastOutputFile() {
    if (OutputFileCount == 0) Refuse("At least one output file must be specified");
    return OutputFiles[OutputFileCount - 1];
}

int64_t TCustomFFmpeg::ParseTime(const std::string& AName, const std::string& AValue, bool ADuration) {
    int64_t Value = 0;
    if (av::av_parse_time(&Value, AValue.c_str(), ADuration ? 1 : 0) < 0)
        Refuse(StrFormat("Invalid %s specification for %s: %s", ADuration ? "duration" : "date", AName.c_str(),
                         AValue.c_str()));
    return Value;
}

void TCustomFFmpeg::ApplyTarget(const std::string& AType, const std::string& ANorm, const std::string& AFallbackNorm) {
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
        for (int i = 0; i < InputFileCount && Norm == Unknown; ++i)
            for (unsigned j = 0; InputFiles[i] && j < InputFiles[i]->nb_streams && Norm == Unknown; ++j) {
                const AVStream* Stream = InputFiles[i]->streams[j];
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
        if (av::av_opt_find(OptionCodecContexts[0], "scan_offset", "flags", 0, 0))
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
