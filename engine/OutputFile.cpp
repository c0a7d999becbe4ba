// Creating output files and their streams from the pending settings.
//
// A stream's encoder context is kept in OutputStreams[file][stream].Codec;
// the muxer stream receives its parameters only when the transcode opens
// the encoder. The old feed path (format "ffm" over "http:", streams taken
// from a streaming server's feed) is not built: today's libraries have no
// "ffm" muxer, so no output can name it.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "common/Files.h"
#include "common/MediaText.h"
#include "common/Text.h"
#include "engine/EngineState.h"


namespace {

// Opens Url as the library asks, except the output's own name, which stands
// for the hidden file the output is written into.
int ReopenOwnOutput(AVFormatContext* AContext, AVIOContext** APb, const char* AUrl, int AFlags,
                    AVDictionary** AOptions) {
    std::string Url = AUrl ? AUrl : "";
    if (AContext->url && Url == AContext->url)
        Url = "file:/proc/self/fd/" + std::to_string(reinterpret_cast<intptr_t>(AContext->opaque));
    AVDictionary* Options = nullptr;
    if (AOptions) av::av_dict_copy(&Options, *AOptions, 0);
    av::av_dict_set(&Options, "protocol_whitelist", "file", 0);
    int Result = av::avio_open2(APb, Url.c_str(), AFlags, &AContext->interrupt_callback, &Options);
    av::av_dict_free(&Options);
    return Result;
}

}  // namespace

namespace {

// Frees an encoder context and its private options if they were not handed
// over; the stream makers raise after partial work.
struct TSetupGuard {
    TOutputStreamSetup Setup;
    bool Released = false;
    ~TSetupGuard() {
        if (Released) return;
        if (Setup.Codec) av::avcodec_free_context(&Setup.Codec);
        if (Setup.EncoderOptions) av::av_dict_free(&Setup.EncoderOptions);
    }
};

std::string TagText(unsigned ATag) {
    std::string Text;
    for (int i = 0; i < 4; ++i) {
        char C = static_cast<char>((ATag >> (8 * i)) & 0xFF);
        Text += std::isprint(static_cast<unsigned char>(C)) ? C : '?';
    }
    return Text;
}

// Whether the output format's muxer takes ATag for the codec, by the rule
// it checks when it writes the header: a tag its tables give that codec, or
// a tag and a codec that its tables know nothing about. For a copy, whose
// codec is not known yet, a tag the tables give any codec.
bool FormatAcceptsTag(const AVOutputFormat* AFormat, AVCodecID ACodec, unsigned ATag) {
    const AVCodecTag* const* Tables = AFormat->codec_tag;
    if (!Tables) return true;
    bool OtherCodec = false;
    for (int n = 0; Tables[n]; ++n) {
        const AVCodecTag* const One[2] = {Tables[n], nullptr};
        AVCodecID Id = av::av_codec_get_id(One, ATag);
        if (Id != AV_CODEC_ID_NONE && (Id == ACodec || ACodec == AV_CODEC_ID_NONE)) return true;
        OtherCodec |= Id != AV_CODEC_ID_NONE;
    }
    unsigned Own = 0;
    return ACodec != AV_CODEC_ID_NONE && !OtherCodec && !av::av_codec_get_tag2(Tables, ACodec, &Own);
}

// The listed rate nearest to ARate; the first of equally near ones.
AVRational NearestRate(const AVRational* AList, AVRational ARate) {
    AVRational Best = AList[0];
    // |a/b - c/d| compared exactly as |ad - cb| / bd.
    auto Distance = [&](AVRational Q, int64_t& Num, int64_t& Den) {
        Num = std::llabs(int64_t(Q.num) * ARate.den - int64_t(ARate.num) * Q.den);
        Den = int64_t(Q.den) * ARate.den;
    };
    int64_t BestNum, BestDen;
    Distance(Best, BestNum, BestDen);
    for (const AVRational* Q = AList + 1; Q->num || Q->den; ++Q) {
        int64_t Num, Den;
        Distance(*Q, Num, Den);
        if (static_cast<__int128>(Num) * BestDen < static_cast<__int128>(BestNum) * Den) {
            Best = *Q;
            BestNum = Num;
            BestDen = Den;
        }
    }
    return Best;
}

// One integer of an rc_override item: leading blanks, an optional sign,
// decimal digits. False when there are no digits.
bool ReadOverrideNumber(const char*& P, int& AValue) {
    while (*P == ' ') ++P;
    const char* Start = P;
    if (*P == '+' || *P == '-') ++P;
    if (!std::isdigit(static_cast<unsigned char>(*P))) {
        P = Start;
        return false;
    }
    char* End;
    AValue = static_cast<int>(std::strtol(Start, &End, 10));
    P = End;
    return true;
}

// The metadata texts of the old muxer context lived in fixed fields; a
// longer text is cut, on a character boundary.
std::string CutText(const std::string& AText, size_t AMax) {
    if (AText.size() <= AMax) return AText;
    size_t Length = AMax;
    while (Length > 0 && (static_cast<unsigned char>(AText[Length]) & 0xC0) == 0x80) --Length;
    return AText.substr(0, Length);
}

bool SamePath(const std::string& A, const std::string& B) {
    std::error_code Error;
    return std::filesystem::equivalent(A, B, Error) && !Error;
}

// Rate-control overrides: "start,end,q" items separated by "/".
void ParseRcOverride(AVCodecContext* AContext, const std::string& AText) {
    std::vector<RcOverride> Items;
    for (const std::string& Item : AText.empty() ? std::vector<std::string>() : SplitText(AText, '/')) {
        const char* P = Item.c_str();
        int Start, End, Q = 0;
        if (!ReadOverrideNumber(P, Start) || !*P++ || !ReadOverrideNumber(P, End) || !*P++)
            throw FFMpegException("error parsing rc_override");
        ReadOverrideNumber(P, Q);
        RcOverride Override{};
        Override.start_frame = Start;
        Override.end_frame = End;
        if (Q > 0) {
            Override.qscale = Q;
            Override.quality_factor = 1.0f;
        } else {
            Override.qscale = 0;
            Override.quality_factor = -float(Q) / 100.0f;
        }
        Items.push_back(Override);
    }
    if (AContext->rc_override) av::av_freep(&AContext->rc_override);
    AContext->rc_override_count = 0;
    if (Items.empty()) return;
    AContext->rc_override = static_cast<RcOverride*>(av::av_malloc(sizeof(RcOverride) * Items.size()));
    if (!AContext->rc_override) throw FFMpegException("error parsing rc_override");
    std::copy(Items.begin(), Items.end(), AContext->rc_override);
    AContext->rc_override_count = static_cast<int>(Items.size());
}

AVStream* AddOutputStream(AVFormatContext* AOutput) {
    if (AOutput->nb_streams >= MAX_STREAMS) return nullptr;
    AVStream* Stream = av::avformat_new_stream(AOutput, nullptr);
    if (Stream) Stream->id = static_cast<int>(AOutput->nb_streams) - 1;
    return Stream;
}

}  // namespace

int TEngineState::OutputFileIndex(const AVFormatContext* AOutput) const {
    for (int i = 0; i < OutputFileCount; ++i)
        if (OutputFiles[i] == AOutput) return i;
    return OutputFileCount;  // the file being created
}

AVFormatContext* TEngineState::LastOutputFile() const {
    if (OutputFileCount == 0) throw FFMpegException("At least one output file must be specified");
    return OutputFiles[OutputFileCount - 1];
}

void NewVideoStream(TCustomFFmpeg& E, AVFormatContext* AOutput) {
    TEngineSettings& S = E.Settings;
    TEngineState& State = E.State();
    const int File = State.OutputFileIndex(AOutput);
    auto Consume = [&] {
        S.vn = 0;
        S.vcodec.clear();
        S.vcodec_copy = false;
    };
    AVStream* Stream = File < MAX_FILES ? AddOutputStream(AOutput) : nullptr;
    if (!Stream) {
        S.vcodec.clear();
        throw FFMpegException("Could not alloc stream");
    }
    const int Index = Stream->index;

    // The encoder comes first: its defaults are part of a fresh context.
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    const AVCodec* Encoder = nullptr;
    if (!S.vcodec_copy) {
        if (!S.vcodec.empty()) {
            if (!FindCodec(E, S.vcodec, AVMEDIA_TYPE_VIDEO, true, CodecId)) {
                S.vcodec.clear();
                throw FFMpegException(E.ErrorText);
            }
            Encoder = av::avcodec_find_encoder_by_name(S.vcodec == "libfaac" ? "aac" : S.vcodec.c_str());
        } else {
            CodecId = av::av_guess_codec(AOutput->oformat, nullptr, AOutput->url, nullptr, AVMEDIA_TYPE_VIDEO);
            Encoder = av::avcodec_find_encoder(CodecId);
        }
    }
    TSetupGuard Guard;
    AVCodecContext* C = Guard.Setup.Codec = av::avcodec_alloc_context3(Encoder);
    if (!C) throw FFMpegException("Could not alloc stream");
    C->codec_type = AVMEDIA_TYPE_VIDEO;

    State.BitstreamFilters[File][Index] = std::move(S.vbsf);
    S.vbsf.clear();
    C->thread_count = S.ThreadCount;
    AVCodecContext* Defaults = State.OptionCodecContexts[0];
    if ((S.vglobal & 1) || (S.vglobal == 0 && (AOutput->oformat->flags & AVFMT_GLOBALHEADER))) {
        C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (Defaults) Defaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (S.vglobal & 2) {
        C->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (Defaults) Defaults->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (S.vcodec_copy) {
        Guard.Setup.StreamCopy = true;
        double Ratio = S.FrameWidth != 0 && S.FrameHeight != 0 ? double(S.aspect) * S.FrameHeight / S.FrameWidth
                                                               : double(S.aspect) * 3.0 / 4.0;
        Stream->sample_aspect_ratio = av::av_d2q(Ratio, 255);
        if (State.PrivateOptions.VideoEncoder) av::av_dict_free(&State.PrivateOptions.VideoEncoder);
    } else {
        AVRational Rate = S.r.num ? S.r : AVRational{25, 1};
        C->codec_id = CodecId;
        ApplyOptionNames(E, C, Defaults, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (Encoder && Encoder->supported_framerates && Rate.den)
            Rate = NearestRate(Encoder->supported_framerates, Rate);
        C->time_base = av_inv_q(Rate);
        C->framerate = Rate;
        C->width = S.FrameWidth + S.padleft + S.padright;
        C->height = S.FrameHeight + S.padtop + S.padbottom;
        double Ratio = C->width != 0 && C->height != 0 ? double(S.aspect) * C->height / C->width
                                                       : double(S.aspect) * 3.0 / 4.0;
        C->sample_aspect_ratio = Stream->sample_aspect_ratio = av::av_d2q(Ratio, 255);
        C->pix_fmt = static_cast<AVPixelFormat>(S.pix_fmt);
        if (Encoder && Encoder->pix_fmts) {
            bool Listed = false;
            for (const AVPixelFormat* F = Encoder->pix_fmts; *F != AV_PIX_FMT_NONE; ++F) Listed |= *F == C->pix_fmt;
            if (!Listed) C->pix_fmt = Encoder->pix_fmts[0];
        }
        if (S.intra) C->gop_size = 0;
        if (S.qscale != 0.0f || S.sameq) {
            C->flags |= AV_CODEC_FLAG_QSCALE;
            Guard.Setup.Quality = S.qscale * FF_QP2LAMBDA;
            C->global_quality = static_cast<int>(Guard.Setup.Quality);
        }
        for (auto [Matrix, Target] : {std::pair{&S.intra_matrix, &C->intra_matrix},
                                      std::pair{&S.inter_matrix, &C->inter_matrix}}) {
            if (Matrix->size() != 64) continue;
            if (*Target) av::av_freep(Target);
            *Target = static_cast<uint16_t*>(av::av_malloc(64 * sizeof(uint16_t)));
            if (*Target) std::copy(Matrix->begin(), Matrix->end(), *Target);
        }
        C->thread_count = S.ThreadCount;
        try {
            ParseRcOverride(C, S.rc_override);
        } catch (...) {
            S.vcodec.clear();
            throw;
        }
        if (C->rc_initial_buffer_occupancy == 0) C->rc_initial_buffer_occupancy = C->rc_buffer_size * 3 / 4;
        // me_threshold has no counterpart in today's encoders.
        C->intra_dc_precision = S.dc - 8;
        if (S.psnr) C->flags |= AV_CODEC_FLAG_PSNR;
        if (S.pass == 1) C->flags |= AV_CODEC_FLAG_PASS1;
        if (S.pass == 2) C->flags |= AV_CODEC_FLAG_PASS2;
        Guard.Setup.EncoderOptions = State.PrivateOptions.VideoEncoder;
        State.PrivateOptions.VideoEncoder = nullptr;
    }

    // A tag the output format does not accept for the codec would make the
    // muxer refuse the header (MP4 and "DIVX"): the muxer's own tag stays.
    // The MPEG-4 profiles ask for DIVX in every container, so it is a note
    // in the log rather than a warning.
    if (S.vtag) {
        if (FormatAcceptsTag(AOutput->oformat, C->codec_id, S.vtag))
            C->codec_tag = S.vtag;
        else
            E.Log(1, StrFormat("Video tag %s is not valid for this codec in format %s; the format's own tag is used",
                             TagText(S.vtag).c_str(), AOutput->oformat->name));
    }

    State.OutputStreams[File][Index] = Guard.Setup;
    Guard.Released = true;
    Consume();
}

void NewAudioStream(TCustomFFmpeg& E, AVFormatContext* AOutput) {
    TEngineSettings& S = E.Settings;
    TEngineState& State = E.State();
    const int File = State.OutputFileIndex(AOutput);
    AVStream* Stream = File < MAX_FILES ? AddOutputStream(AOutput) : nullptr;
    if (!Stream) {
        S.acodec.clear();
        throw FFMpegException("Could not alloc stream");
    }
    const int Index = Stream->index;

    AVCodecID CodecId = AV_CODEC_ID_NONE;
    const AVCodec* Encoder = nullptr;
    if (!S.acodec_copy) {
        CodecId = av::av_guess_codec(AOutput->oformat, nullptr, AOutput->url, nullptr, AVMEDIA_TYPE_AUDIO);
        if (!S.acodec.empty()) {
            if (!FindCodec(E, S.acodec, AVMEDIA_TYPE_AUDIO, true, CodecId)) {
                S.acodec.clear();
                throw FFMpegException(E.ErrorText);
            }
            Encoder = av::avcodec_find_encoder_by_name(S.acodec == "libfaac" ? "aac" : S.acodec.c_str());
        } else {
            Encoder = av::avcodec_find_encoder(CodecId);
        }
    }
    TSetupGuard Guard;
    AVCodecContext* C = Guard.Setup.Codec = av::avcodec_alloc_context3(Encoder);
    if (!C) throw FFMpegException("Could not alloc stream");
    C->codec_type = AVMEDIA_TYPE_AUDIO;

    State.BitstreamFilters[File][Index] = std::move(S.absf);
    S.absf.clear();
    C->thread_count = S.ThreadCount;
    if (S.atag) C->codec_tag = S.atag;
    if (AOutput->oformat->flags & AVFMT_GLOBALHEADER) {
        C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (State.OptionCodecContexts[1]) State.OptionCodecContexts[1]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    av::av_channel_layout_uninit(&C->ch_layout);
    av::av_channel_layout_default(&C->ch_layout, S.ac);
    if (S.acodec_copy) {
        Guard.Setup.StreamCopy = true;
        if (State.PrivateOptions.AudioEncoder) av::av_dict_free(&State.PrivateOptions.AudioEncoder);
    } else {
        C->codec_id = CodecId;
        ApplyOptionNames(E, C, State.OptionCodecContexts[1], AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (S.aq > -99999.0f) {
            C->flags |= AV_CODEC_FLAG_QSCALE;
            Guard.Setup.Quality = S.aq * FF_QP2LAMBDA;
            C->global_quality = static_cast<int>(Guard.Setup.Quality);
        }
        C->thread_count = S.ThreadCount;
        av::av_channel_layout_uninit(&C->ch_layout);
        av::av_channel_layout_default(&C->ch_layout, S.ac);
        C->sample_fmt = static_cast<AVSampleFormat>(S.sample_fmt);
        if (Encoder && Encoder->sample_fmts) {
            bool Listed = false;
            for (const AVSampleFormat* F = Encoder->sample_fmts; *F != AV_SAMPLE_FMT_NONE; ++F)
                Listed |= *F == C->sample_fmt;
            if (!Listed) C->sample_fmt = Encoder->sample_fmts[0];
        }
        Guard.Setup.EncoderOptions = State.PrivateOptions.AudioEncoder;
        State.PrivateOptions.AudioEncoder = nullptr;
    }
    C->sample_rate = S.ar;
    C->time_base = AVRational{1, S.ar};
    if (!S.alang.empty()) {
        Guard.Setup.Language = S.alang.substr(0, 3);
        S.alang.clear();
    }

    State.OutputStreams[File][Index] = Guard.Setup;
    Guard.Released = true;
    S.an = 0;
    S.acodec.clear();
    S.acodec_copy = false;
}

void NewSubtitleStream(TCustomFFmpeg& E, AVFormatContext* AOutput) {
    TEngineSettings& S = E.Settings;
    TEngineState& State = E.State();
    const int File = State.OutputFileIndex(AOutput);
    auto Cleanup = [&] {
        S.scodec.clear();
        S.slang.clear();
    };
    AVStream* Stream = File < MAX_FILES ? AddOutputStream(AOutput) : nullptr;
    if (!Stream) {
        Cleanup();
        throw FFMpegException("Could not alloc stream");
    }
    const int Index = Stream->index;

    AVCodecID CodecId = AV_CODEC_ID_NONE;
    const AVCodec* Encoder = nullptr;
    if (!S.scodec_copy) {
        if (!FindCodec(E, S.scodec, AVMEDIA_TYPE_SUBTITLE, true, CodecId)) {
            Cleanup();
            throw FFMpegException(E.ErrorText);
        }
        if (!S.scodec.empty()) Encoder = av::avcodec_find_encoder_by_name(S.scodec.c_str());
    }
    TSetupGuard Guard;
    AVCodecContext* C = Guard.Setup.Codec = av::avcodec_alloc_context3(Encoder);
    if (!C) {
        Cleanup();
        throw FFMpegException("Could not alloc stream");
    }
    C->codec_type = AVMEDIA_TYPE_SUBTITLE;
    State.BitstreamFilters[File][Index] = std::move(S.sbsf);
    S.sbsf.clear();
    if (S.scodec_copy) {
        Guard.Setup.StreamCopy = true;
    } else {
        ApplyOptionNames(E, C, State.OptionCodecContexts[3], AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        C->codec_id = CodecId;
    }
    if (!S.slang.empty()) {
        Guard.Setup.Language = S.slang.substr(0, 3);
        S.slang.clear();
    }

    State.OutputStreams[File][Index] = Guard.Setup;
    Guard.Released = true;
    S.sn = 0;
    S.scodec.clear();
    S.scodec_copy = false;
}

void TEngineState::ReleaseOutputSlot(int AFile) {
    for (TOutputStreamSetup& Setup : OutputStreams[AFile]) {
        if (Setup.Codec) av::avcodec_free_context(&Setup.Codec);
        if (Setup.EncoderOptions) av::av_dict_free(&Setup.EncoderOptions);
        Setup = TOutputStreamSetup();
    }
    for (auto& Chain : BitstreamFilters[AFile]) {
        for (AVBSFContext*& Filter : Chain) av::av_bsf_free(&Filter);
        Chain.clear();
    }
    if (MuxerOptions[AFile]) av::av_dict_free(&MuxerOptions[AFile]);
}

bool TCustomFFmpeg::OpenOutputFile(const std::string& AFileName) {
    TEngineState& State = *FState;
    TEngineSettings& S = Settings;
    AVFormatContext* Output = nullptr;
    const int File = State.OutputFileCount;
    auto Fail = [&](const std::string& AMessage) {
        ErrorText = AMessage;
        S.OutputFormat = nullptr;
        S.InputFormat = nullptr;
        if (File < MAX_FILES) State.ReleaseOutputSlot(File);
        if (Output) {
            if (Output->pb && !(Output->oformat->flags & AVFMT_NOFILE)) av::avio_closep(&Output->pb);
            av::avformat_free_context(Output);
        }
        // The hidden file this call created goes.
        if (File < MAX_FILES) DiscardOutputTarget(State.OutputTargets[File]);
        return false;
    };

    if (File >= MAX_FILES) return Fail(StrFormat("Too many output files (at most %d)", MAX_FILES));

    // 1.-3. Crop, pad and filters.
    if (!S.vfilters.empty() && S.croptop + S.cropbottom + S.cropleft + S.cropright != 0)
        return Fail("Cannot enable crop options and filters at the same time.");
    if (S.padtop + S.padbottom + S.padleft + S.padright != 0) {
        for (const std::string& Item : SplitText(LowerCase(S.vfilters), ',')) {
            std::string Rest = Item;
            std::string Name = Trim(SplitHead(Rest, "=", false));
            if (Name == "crop" || Name == "rotate" || Name == "scale" || Name == "transpose")
                return Fail(
                    "Cannot enable pad options and the filters which resize frame at the same time. "
                    "(crop, rotate, scale, transpose, etc.)");
        }
    }
    State.UsingFilters = !S.vfilters.empty();

    // Writing over a source would destroy it while it is being read.
    for (int i = 0; i < State.InputFileCount; ++i)
        if (State.InputFiles[i] && State.InputFiles[i]->url && SamePath(AFileName, State.InputFiles[i]->url))
            return Fail(StrFormat("Cannot overwrite the input file '%s'", AFileName.c_str()));

    // 4. The format.
    const AVOutputFormat* Format = S.OutputFormat;
    if (!Format) Format = av::av_guess_format(nullptr, AFileName.c_str(), nullptr);
    if (!Format) return Fail(StrFormat("Unable to find a suitable output format for '%s'", AFileName.c_str()));
    if (av::avformat_alloc_output_context2(&Output, Format, nullptr, AFileName.c_str()) < 0 || !Output) {
        Output = nullptr;
        return Fail(StrFormat("Unable to find a suitable output format for '%s'", AFileName.c_str()));
    }
    Output->interrupt_callback = InterruptHandler(*this);

    // 6. Which kinds of stream.
    bool WantVideo = S.vcodec_copy || Format->video_codec != AV_CODEC_ID_NONE || !S.vcodec.empty();
    bool WantAudio = S.acodec_copy || Format->audio_codec != AV_CODEC_ID_NONE || !S.acodec.empty();
    bool WantSubtitle = S.scodec_copy || Format->subtitle_codec != AV_CODEC_ID_NONE || !S.scodec.empty();
    if (State.InputFileCount > 0) {
        bool HasVideo, HasAudio, HasSubtitle;
        try {
            State.CheckInputStreamTypes(HasVideo, HasAudio, HasSubtitle);
        } catch (const std::exception& E) {
            return Fail(StrFormat("check_audio_video_sub_inputs fail: %s", E.what()));
        }
        WantVideo &= HasVideo;
        WantAudio &= HasAudio;
        WantSubtitle &= HasSubtitle;
    }

    // 7. The streams.
    struct TMaker {
        bool Wanted;
        int* Off;
        void (*Make)(TCustomFFmpeg&, AVFormatContext*);
        const char* Message;
    };
    if (!S.copystreams.empty() && State.InputFileCount > 0 && State.StreamMapCount == 0) {
        try {
            NewStreamsForEveryInput(*this, Output);
        } catch (const std::exception& E) {
            return Fail(StrFormat("new_stream fail: %s", E.what()));
        }
        WantVideo = WantAudio = WantSubtitle = false;
    }
    for (const TMaker& M : {TMaker{WantVideo, &S.vn, NewVideoStream, "new_video_stream fail: %s"},
                            TMaker{WantAudio, &S.an, NewAudioStream, "new_audio_stream fail: %s"},
                            TMaker{WantSubtitle, &S.sn, NewSubtitleStream, "new_subtitle_stream fail: %s"}}) {
        if (!M.Wanted || *M.Off) continue;
        try {
            M.Make(*this, Output);
        } catch (const std::exception& E) {
            return Fail(StrFormat(M.Message, E.what()));
        }
    }

    // 8. Metadata under the names today's muxers read.
    auto SetTag = [&](const char* AKey, const std::string& AValue, size_t AMax) {
        if (!AValue.empty()) av::av_dict_set(&Output->metadata, AKey, CutText(AValue, AMax).c_str(), 0);
    };
    if (S.timestamp != 0) {
        time_t Seconds = static_cast<time_t>(S.timestamp);
        struct tm Utc;
        char Text[64];
        if (gmtime_r(&Seconds, &Utc) && strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%S.000000Z", &Utc))
            av::av_dict_set(&Output->metadata, "creation_time", Text, 0);
    }
    SetTag("title", S.title, 511);
    SetTag("author", S.author, 511);
    SetTag("artist", S.author, 511);
    SetTag("copyright", S.copyright, 511);
    SetTag("comment", S.comment, 511);
    SetTag("album", S.album, 511);
    SetTag("genre", S.genre, 31);
    if (S.Year > 0) av::av_dict_set_int(&Output->metadata, "date", S.Year, 0);
    if (S.Track > 0) av::av_dict_set_int(&Output->metadata, "track", S.Track, 0);

    // 10. Image sequences need a frame number in the name.
    if ((Format->flags & AVFMT_NEEDNUMBER) && !av::av_filename_number_test(Output->url))
        return Fail(ErrorCodeText(Output->url, AVERROR(EINVAL)));

    // 11. The file. Nothing existing is written over: the output goes into
    // a hidden file of its own, created here, which takes its name when it
    // is complete. The library writes it through the descriptor's entry in
    // /proc, which is that very file whatever happens to the names in the
    // folder.
    if (!(Format->flags & AVFMT_NOFILE)) {
        TOutputTarget& Target = State.OutputTargets[File];
        if (!CreateOutputTarget(AFileName, Target))
            return Fail(StrFormat("Could not open '%s'", AFileName.c_str()));
        AVDictionary* Options = nullptr;
        av::av_dict_set(&Options, "protocol_whitelist", "file", 0);
        std::string Path = "file:/proc/self/fd/" + std::to_string(Target.Handle);
        // No interrupt: a stop must not cut off the flush that completes
        // the file, however slow the machine.
        int Opened = av::avio_open2(&Output->pb, Path.c_str(), AVIO_FLAG_WRITE, nullptr, &Options);
        av::av_dict_free(&Options);
        if (Opened < 0) {
            Output->pb = nullptr;
            return Fail(StrFormat("Could not open '%s'", AFileName.c_str()));
        }
        // The MP4 muxer reads its output again to put the index in front,
        // asking for it by the final name, which does not exist yet.
        Output->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(Target.Handle));
        Output->io_open = ReopenOwnOutput;
    }

    // 12.-13. Muxer parameters: the private options pending for the muxer,
    // the mpeg muxer's preload, the picture muxers' loop count.
    State.MuxerOptions[File] = State.PrivateOptions.Muxer;
    State.PrivateOptions.Muxer = nullptr;
    auto MuxerKnows = [&](const char* AName) {
        return Format->priv_class &&
               av::av_opt_find(const_cast<AVClass**>(&Format->priv_class), AName, nullptr, 0,
                               AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
    };
    if (MuxerKnows("preload"))
        av::av_dict_set_int(&State.MuxerOptions[File], "preload", static_cast<int64_t>(S.muxpreload * 1000000.0),
                            AV_DICT_DONT_OVERWRITE);
    if (MuxerKnows("loop"))
        av::av_dict_set_int(&State.MuxerOptions[File], "loop", S.loop_output, AV_DICT_DONT_OVERWRITE);
    Output->max_delay = static_cast<int>(S.muxdelay * 1000000.0);

    // 14. Generic format options.
    ApplyOptionNames(*this, Output, State.OptionFormatContext, AV_OPT_FLAG_ENCODING_PARAM);

    // 9. Register last, so that a failure leaves the table as it was.
    State.OutputFiles[File] = Output;
    ++State.OutputFileCount;
    OutputFileNames.resize(static_cast<size_t>(State.OutputFileCount));
    OutputFileNames[static_cast<size_t>(File)] = AFileName;
    S.OutputFormat = nullptr;
    S.InputFormat = nullptr;
    return true;
}
