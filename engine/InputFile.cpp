// Opening input files: forced formats and decoders, stream probing, the seek
// to the start position, and the input's properties written back into the
// settings for the output that follows.
#include <cmath>

#include "binding/LocalFile.h"
#include "common/Files.h"
#include "common/MediaText.h"
#include "common/Text.h"
#include "engine/EngineState.h"

namespace {

// The decoder a stream is decoded with: the one forced for its type, else
// the library's decoder for its codec id.
const AVCodec* StreamDecoder(const AVFormatContext* AContext, const AVStream* AStream) {
    const AVCodecParameters* Par = AStream->codecpar;
    const AVCodec* Forced = nullptr;
    if (Par->codec_type == AVMEDIA_TYPE_VIDEO)
        Forced = AContext->video_codec;
    else if (Par->codec_type == AVMEDIA_TYPE_AUDIO)
        Forced = AContext->audio_codec;
    else if (Par->codec_type == AVMEDIA_TYPE_SUBTITLE)
        Forced = AContext->subtitle_codec;
    if (Forced && Forced->id == Par->codec_id) return Forced;
    return av::avcodec_find_decoder(Par->codec_id);
}

bool KnownMediaType(int AType) {
    return AType >= AVMEDIA_TYPE_UNKNOWN && AType < AVMEDIA_TYPE_NB;
}

// Today's avformat_open_input reports a file that no demuxer recognises as
// invalid data, like a recognised file with a broken header. A second probe
// by content alone (no file name, so no guess from the extension) tells the
// two apart; it runs on this failure path only.
bool RecognisedByContent(const std::string& AFileName, const AVIOInterruptCB& AInterrupt) {
    AVIOContext* IO = nullptr;
    AVDictionary* Options = nullptr;
    AddLocalFileOptions(&Options, false);
    const int Opened =
        av::avio_open2(&IO, LocalFileUrl(AFileName).c_str(), AVIO_FLAG_READ, &AInterrupt, &Options);
    av::av_dict_free(&Options);
    if (Opened < 0) return true;
    const AVInputFormat* Format = nullptr;
    int Score = av::av_probe_input_buffer2(IO, &Format, nullptr, nullptr, 0, 0);
    av::avio_closep(&IO);
    return Score >= 0 && Format;
}

// The rate of the old "codec time base": today's decoders no longer derive
// a time base from the bitstream, but a decoder that counts fields reports
// ticks_per_frame 2 (H.264, MPEG-2), which doubled the old rate. The
// decoder is opened briefly to learn it.
AVRational CodecFrameRate(const AVStream* AStream, const AVCodec* ADecoder) {
    AVRational Rate = AStream->r_frame_rate.num ? AStream->r_frame_rate : AStream->avg_frame_rate;
    if (!ADecoder || Rate.num <= 0 || Rate.den <= 0) return Rate;
    AVCodecContext* Probe = av::avcodec_alloc_context3(ADecoder);
    if (!Probe) return Rate;
    int Ticks = 1;
    if (av::avcodec_parameters_to_context(Probe, AStream->codecpar) >= 0) {
        std::lock_guard<std::recursive_mutex> Guard(CodecLock());
        if (av::avcodec_open2(Probe, ADecoder, nullptr) >= 0) {
            if (Probe->framerate.num > 0 && Probe->framerate.den > 0) Rate = Probe->framerate;
            Ticks = std::max(1, Probe->ticks_per_frame);
        }
    }
    av::avcodec_free_context(&Probe);
    AVRational Result;
    av::av_reduce(&Result.num, &Result.den, int64_t(Rate.num) * Ticks, Rate.den, INT32_MAX);
    return Result;
}

// What an input consumes of the settings, also when it fails to open.
void ResetPerInputSettings(TEngineSettings& Settings) {
    Settings.InputFormat = nullptr;
    Settings.OutputFormat = nullptr;
    Settings.ForcePgmYuv = false;
    Settings.vc = 0;
    Settings.re = 0;
    Settings.vcodec.clear();
    Settings.acodec.clear();
    Settings.scodec.clear();
}

}  // namespace

bool FindCodec(TCustomFFmpeg& E, const std::string& AName, AVMediaType AType, bool AEncoder, AVCodecID& AId) {
    AId = AV_CODEC_ID_NONE;
    if (AName.empty()) return true;
    // The old AAC encoder's name; today's native encoder takes its place.
    std::string Name = AName == "libfaac" ? "aac" : AName;
    const AVCodec* Codec =
        AEncoder ? av::avcodec_find_encoder_by_name(Name.c_str()) : av::avcodec_find_decoder_by_name(Name.c_str());
    const char* Kind = AEncoder ? "encoder" : "decoder";
    if (!Codec) {
        E.ErrorText = StrFormat("Unknown %s '%s'", Kind, AName.c_str());
        return false;
    }
    if (Codec->type != AType) {
        E.ErrorText = StrFormat("Invalid %s type '%s'", Kind, AName.c_str());
        return false;
    }
    AId = Codec->id;
    return true;
}

void ApplyOptionNames(TCustomFFmpeg& E, void* AContext, void* ADefaults, int AFlags) {
    if (!AContext || !ADefaults) return;
    for (const std::string& Name : E.Settings.OptionNames) {
        std::string Actual = ResolveOptionName(E.State(), Name, ADefaults, AFlags);
        if (Actual.empty()) continue;
        if (ApplyFlagTexts(E.Settings, AContext, ADefaults, Name, Actual)) continue;
        uint8_t* Value = nullptr;
        if (av::av_opt_get(ADefaults, Actual.c_str(), 0, &Value) < 0 || !Value) continue;
        std::string Text(reinterpret_cast<const char*>(Value));
        av::av_free(Value);
        if (Text.size() > 255) Text.resize(255);  // the old 256-character buffer
        av::av_opt_set(AContext, Actual.c_str(), Text.c_str(), 0);
    }
}

namespace {

// Whether the demuxer has an option of one of the parameters' names: the
// size, rate and layout of raw streams, which the setup's open did not give.
bool DemuxerReads(const AVInputFormat* AFormat, const AVDictionary* AParameters) {
    const AVDictionaryEntry* Entry = nullptr;
    while ((Entry = av::av_dict_get(AParameters, "", Entry, AV_DICT_IGNORE_SUFFIX)))
        if (AFormat && AFormat->priv_class && av::av_opt_find(const_cast<const AVClass**>(&AFormat->priv_class),
                                                              Entry->key, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            return true;
    return false;
}

// Whether a generic option given to the engine applies to the demuxer.
bool FormatOptionsGiven(TCustomFFmpeg& E) {
    for (const std::string& Name : E.Settings.OptionNames)
        if (!ResolveOptionName(E.State(), Name, E.State().OptionFormatContext, AV_OPT_FLAG_DECODING_PARAM).empty())
            return true;
    return false;
}

}  // namespace

void TEngineState::CheckInputStreamTypes(bool& HasVideo, bool& HasAudio, bool& HasSubtitle) const {
    HasVideo = HasAudio = HasSubtitle = false;
    for (int i = 0; i < InputFileCount; ++i) {
        const AVFormatContext* Input = InputFiles[i];
        if (!Input) continue;
        for (unsigned j = 0; j < Input->nb_streams; ++j) {
            int Type = Input->streams[j]->codecpar->codec_type;
            if (!KnownMediaType(Type)) throw FFMpegException("invalid codec_type of input file");
            HasVideo |= Type == AVMEDIA_TYPE_VIDEO;
            HasAudio |= Type == AVMEDIA_TYPE_AUDIO;
            HasSubtitle |= Type == AVMEDIA_TYPE_SUBTITLE;
        }
    }
}

AVFormatContext* TCustomFFmpeg::InputFile(int AIndex) const {
    return AIndex >= 0 && AIndex < FState->InputFileCount ? FState->InputFiles[AIndex] : nullptr;
}

bool TCustomFFmpeg::OpenInputFile(const std::string& AFileName) {
    TEngineState& State = *FState;
    AVIOContext* Reader = InputReader;
    InputReader = nullptr;
    AVFormatContext* Context = nullptr;
    AVDictionary* Parameters = nullptr;
    std::vector<AVCodecContext*> Codecs;
    auto Fail = [&](const std::string& AMessage) {
        ErrorText = AMessage;
        for (AVCodecContext*& Codec : Codecs) av::avcodec_free_context(&Codec);
        if (Context) av::avformat_close_input(&Context);
        if (Parameters) av::av_dict_free(&Parameters);
        ResetPerInputSettings(Settings);
        return false;
    };

    if (State.InputFileCount >= MAX_FILES) return Fail(StrFormat("Too many input files (at most %d)", MAX_FILES));

    // 1. The demuxer parameters of the old API become format options that a
    // demuxer which does not know them leaves alone.
    Context = av::avformat_alloc_context();
    if (!Context) return Fail(ErrorCodeText(AFileName, AVERROR(ENOMEM)));
    Context->interrupt_callback = InterruptHandler(*this);
    TEngineSettings& S = Settings;
    if (S.ar > 0) av::av_dict_set_int(&Parameters, "sample_rate", S.ar, 0);
    if (S.ac > 0) av::av_dict_set_int(&Parameters, "channels", S.ac, 0);
    if (S.r.num > 0 && S.r.den > 0)
        av::av_dict_set(&Parameters, "framerate", StrFormat("%d/%d", S.r.num, S.r.den).c_str(), 0);
    int Width = S.FrameWidth + S.padleft + S.padright, Height = S.FrameHeight + S.padtop + S.padbottom;
    if (Width > 0 && Height > 0)
        av::av_dict_set(&Parameters, "video_size", StrFormat("%dx%d", Width, Height).c_str(), 0);
    if (S.pix_fmt >= 0)
        if (const char* Name = av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(S.pix_fmt)))
            av::av_dict_set(&Parameters, "pixel_format", Name, 0);
    if (S.vc) av::av_dict_set_int(&Parameters, "channel", S.vc, 0);
    if (!S.tvstd.empty()) av::av_dict_set(&Parameters, "standard", S.tvstd.c_str(), 0);

    AVCodecID VideoId, AudioId, SubtitleId;
    if (!FindCodec(*this, S.vcodec, AVMEDIA_TYPE_VIDEO, false, VideoId)) return Fail(ErrorText);
    if (!FindCodec(*this, S.acodec, AVMEDIA_TYPE_AUDIO, false, AudioId)) return Fail(ErrorText);

    // 2. Generic format options.
    ApplyOptionNames(*this, Context, State.OptionFormatContext, AV_OPT_FLAG_DECODING_PARAM);

    // 3. Forced decoders.
    if (!FindCodec(*this, S.scodec, AVMEDIA_TYPE_SUBTITLE, false, SubtitleId)) return Fail(ErrorText);
    if (S.ForcePgmYuv) VideoId = AV_CODEC_ID_PGMYUV;
    Context->video_codec_id = VideoId;
    Context->audio_codec_id = AudioId;
    Context->subtitle_codec_id = SubtitleId;
    if (!S.vcodec.empty()) Context->video_codec = av::avcodec_find_decoder_by_name(S.vcodec.c_str());
    if (!S.acodec.empty()) Context->audio_codec = av::avcodec_find_decoder_by_name(S.acodec.c_str());
    if (!S.scodec.empty()) Context->subtitle_codec = av::avcodec_find_decoder_by_name(S.scodec.c_str());

    // The setup's open serves when this one would do nothing else.
    AVFormatContext* Opened = OpenedInput;
    OpenedInput = nullptr;
    const bool TakeOver = Opened && !Reader && !DemuxerReads(Opened->iformat, Parameters) &&
                          VideoId == AV_CODEC_ID_NONE && AudioId == AV_CODEC_ID_NONE &&
                          SubtitleId == AV_CODEC_ID_NONE && (!S.InputFormat || S.InputFormat == Opened->iformat) &&
                          Opened->url && AFileName == Opened->url && !FormatOptionsGiven(*this);
    if (Opened && !TakeOver) av::avformat_close_input(&Opened);
    if (TakeOver) {
        av::avformat_free_context(Context);
        Context = Opened;
        Context->interrupt_callback = InterruptHandler(*this);
    }

    // 4. Open; the library frees the context when it fails. The name is a
    // local file, and a file that names other files is refused up front.
    if (TakeOver) {
        // Opened and checked by the setup.
    } else if (Reader) {
        Context->pb = Reader;
        Context->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (!S.InputFormat) {
        const std::string Playlist = PlaylistFormat(AFileName, &Context->interrupt_callback);
        if (!Playlist.empty()) return Fail(PlaylistRefusal(AFileName, Playlist));
    }
    AddLocalFileOptions(&Parameters);
    const std::string Url = Reader ? AFileName : LocalFileUrl(AFileName);
    int Code = TakeOver ? 0 : av::avformat_open_input(&Context, Url.c_str(), S.InputFormat, &Parameters);
    if (Code < 0) {
        Context = nullptr;
        if (Code == AVERROR_INVALIDDATA && !S.InputFormat && !Reader &&
            !RecognisedByContent(AFileName, InterruptHandler(*this)))
            Code = AVERROR_DEMUXER_NOT_FOUND;
        return Fail(ErrorCodeText(AFileName, Code));
    }
    av::av_dict_free(&Parameters);
    if (!Reader && !TakeOver) RestoreUserName(Context, AFileName);

    // 5. Keep one program only.
    if (S.programid)
        for (unsigned i = 0; i < Context->nb_programs; ++i)
            if (Context->programs[i]->id != S.programid) Context->programs[i]->discard = AVDISCARD_ALL;

    // 6. loop_input has no field in today's demuxer context; the transcode
    // reads the setting itself.

    // 7. Probe the streams.
    if (!TakeOver) {
        std::lock_guard<std::recursive_mutex> Guard(CodecLock());
        Code = av::avformat_find_stream_info(Context, nullptr);
    }
    if (Code < 0 && S.v >= 0) return Fail(StrFormat("%s: could not find codec parameters", AFileName.c_str()));

    // 8. Start position.
    int64_t Timestamp = S.ss;
    if (Context->start_time != AV_NOPTS_VALUE) Timestamp += Context->start_time;
    if (S.ss != 0) av::av_seek_frame(Context, -1, Timestamp, AVSEEK_FLAG_BACKWARD);
    const int64_t StartAsked = S.ss;
    S.ss = 0;

    // 9. Every stream gets its own decoder context; the input's properties
    // go back into the settings.
    for (unsigned i = 0; i < Context->nb_streams; ++i) {
        AVStream* Stream = Context->streams[i];
        AVCodecParameters* Par = Stream->codecpar;
        if (!KnownMediaType(Par->codec_type)) {
            ErrorText = "invalid codec_type";
            Fail(ErrorText);
            throw FFMpegException("invalid codec_type");
        }
        const AVCodec* Decoder = StreamDecoder(Context, Stream);
        AVCodecContext* Codec = av::avcodec_alloc_context3(Decoder);
        if (!Codec) return Fail(ErrorCodeText(AFileName, AVERROR(ENOMEM)));
        Codecs.push_back(Codec);
        if (av::avcodec_parameters_to_context(Codec, Par) < 0) return Fail(ErrorCodeText(AFileName, AVERROR(ENOMEM)));
        Codec->pkt_timebase = Stream->time_base;
        Codec->thread_count = S.ThreadCount;

        switch (Par->codec_type) {
            case AVMEDIA_TYPE_VIDEO: {
                ApplyOptionNames(*this, Codec, State.OptionCodecContexts[0],
                                 AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
                S.FrameHeight = Par->height;
                S.FrameWidth = Par->width;
                AVRational Sar = Stream->sample_aspect_ratio.num ? Stream->sample_aspect_ratio
                                                                  : Codec->sample_aspect_ratio;
                S.aspect = Sar.num && Sar.den ? float(Sar.num) / float(Sar.den) : 0.0f;
                if (Par->width != 0 && Par->height != 0)
                    S.aspect = S.aspect != 0.0f ? float(Par->width) * S.aspect / float(Par->height)
                                                : float(Par->width) / float(Par->height);
                else if (S.aspect == 0.0f)
                    S.aspect = 4.0f / 3.0f;
                // RealMedia decoders report no pixel format before decoding.
                std::string Ext = LowerCase(ExtractFileExt(AFileName));
                if (Codec->pix_fmt == AV_PIX_FMT_NONE && !Ext.empty() && StartsWith(".rmvb", Ext))
                    Codec->pix_fmt = AV_PIX_FMT_YUV420P;
                S.pix_fmt = Codec->pix_fmt;
                // lowres and me_threshold needed edge emulation and motion
                // vector export in the old decoders; today's need neither.
                AVRational Real = Stream->r_frame_rate;
                if (S.v > 0 && Real.num > 0 && Real.den > 0) {
                    AVRational CodecRate = CodecFrameRate(Stream, Decoder);
                    if (CodecRate.num > 0 && CodecRate.den > 0 && av_cmp_q(CodecRate, Real) != 0)
                        Log(1, StrFormat("Seems stream %d codec frame rate differs from container frame rate: "
                                         "%2.2f (%d/%d) -> %2.2f (%d/%d)",
                                         int(i), av_q2d(CodecRate), CodecRate.num, CodecRate.den, av_q2d(Real),
                                         Real.num, Real.den));
                }
                S.r = Real;
                // `re` stays a setting: the transcode emulates the rate.
                if (S.vn)
                    Stream->discard = AVDISCARD_ALL;
                else if (S.vdt)
                    Stream->discard = static_cast<AVDiscard>(S.vdt);
                break;
            }
            case AVMEDIA_TYPE_AUDIO:
                ApplyOptionNames(*this, Codec, State.OptionCodecContexts[1],
                                 AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
                S.ac = Par->ch_layout.nb_channels;
                S.ar = Par->sample_rate;
                S.sample_fmt = Par->format;
                if (S.an) Stream->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (S.sn) Stream->discard = AVDISCARD_ALL;
                break;
            default:
                break;
        }
    }

    // 10. The expected duration grows with a longer input.
    if (Context->duration != AV_NOPTS_VALUE && Context->duration / 1000 > TotalDuration)
        TotalDuration = static_cast<int>(Context->duration / 1000);

    // 11. Register.
    State.InputFiles[State.InputFileCount] = Context;
    State.InputCodecs[State.InputFileCount] = std::move(Codecs);
    State.InputRateEmulation[State.InputFileCount] = S.re != 0;
    State.InputTsOffset[State.InputFileCount] = S.copyts ? S.itsoffset : S.itsoffset - Timestamp;
    State.InputStart[State.InputFileCount] = StartAsked;

    // 12. Describe it in the library's log.
    if (S.v >= 0) av::av_dump_format(Context, State.InputFileCount, AFileName.c_str(), 0);

    // 13. The settings of one input are consumed; the copy flags stay.
    ++State.InputFileCount;
    ResetPerInputSettings(Settings);
    return true;
}
