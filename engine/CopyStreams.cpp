// Outputs that carry every stream of their inputs, copied where the
// container can hold them ("copystreams"), and the chapters and tags that
// go with such a copy.
#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "engine/EngineState.h"

namespace {

std::string StreamName(int AFile, int AStream, const AVCodecParameters* APar) {
    const char* Kind = APar->codec_type == AVMEDIA_TYPE_VIDEO      ? "picture"
                       : APar->codec_type == AVMEDIA_TYPE_AUDIO    ? "sound"
                       : APar->codec_type == AVMEDIA_TYPE_SUBTITLE ? "subtitle"
                                                                   : "attachment";
    return StrFormat("Stream #%d.%d (%s %s)", AFile, AStream, av::avcodec_get_name(APar->codec_id), Kind);
}

// Whether the output may take the stream's packets as they are.
bool CopyAllowed(const TEngineSettings& S, const AVOutputFormat* AFormat, const AVCodecParameters* APar) {
    // Of today's muxers only Matroska keeps attachments, of any kind.
    if (APar->codec_type == AVMEDIA_TYPE_ATTACHMENT)
        return S.copystreams == "any" && std::strcmp(AFormat->name, "matroska") == 0;
    if (APar->codec_id == AV_CODEC_ID_NONE) return false;
    if (S.copystreams == "any") return av::avformat_query_codec(AFormat, APar->codec_id, FF_COMPLIANCE_NORMAL) == 1;
    const std::string Name = av::avcodec_get_name(APar->codec_id);
    for (const std::string& Item : SplitText(S.copystreams, ','))
        if (Trim(Item) == Name) return true;
    return false;
}

bool TextSubtitle(AVCodecID AId) {
    const AVCodecDescriptor* Descriptor = av::avcodec_descriptor_get(AId);
    return Descriptor && (Descriptor->props & AV_CODEC_PROP_TEXT_SUB);
}

// An attachment (a font, a cover of a Matroska file) travels in the
// stream's parameters; it has no packets.
void NewAttachmentStream(TEngineState& AState, int AFile, AVFormatContext* AOutput) {
    if (AOutput->nb_streams >= MAX_STREAMS) throw FFMpegException("Could not alloc stream");
    AVStream* Stream = av::avformat_new_stream(AOutput, nullptr);
    if (!Stream) throw FFMpegException("Could not alloc stream");
    Stream->id = Stream->index;
    TOutputStreamSetup Setup;
    Setup.Codec = av::avcodec_alloc_context3(nullptr);
    if (!Setup.Codec) throw FFMpegException("Could not alloc stream");
    Setup.Codec->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    Setup.StreamCopy = true;
    AState.OutputStreams[AFile][Stream->index] = Setup;
}

}  // namespace

void NewStreamsForEveryInput(TCustomFFmpeg& E, AVFormatContext* AOutput) {
    TEngineSettings& S = E.Settings;
    TEngineState& State = E.State();
    const int File = State.OutputFileIndex(AOutput);
    const AVOutputFormat* Format = AOutput->oformat;
    State.StreamNotes.clear();

    // The makers consume the pending codecs and encoder options; every
    // stream that is encoded gets them again.
    const std::string Codecs[3] = {S.vcodec, S.acodec, S.scodec};
    AVDictionary* VideoOptions = State.PrivateOptions.VideoEncoder;
    AVDictionary* AudioOptions = State.PrivateOptions.AudioEncoder;
    State.PrivateOptions.VideoEncoder = State.PrivateOptions.AudioEncoder = nullptr;
    const int FrameWidth = S.FrameWidth, FrameHeight = S.FrameHeight, Channels = S.ac, Rate = S.ar;
    const float Aspect = S.aspect;
    const AVRational FrameRate = S.r;
    struct TRestore {
        AVDictionary*& Video;
        AVDictionary*& Audio;
        ~TRestore() {
            av::av_dict_free(&Video);
            av::av_dict_free(&Audio);
        }
    } Restore{VideoOptions, AudioOptions};

    for (int f = 0; f < State.InputFileCount; ++f) {
        const AVFormatContext* In = State.InputFiles[f];
        for (unsigned j = 0; j < In->nb_streams; ++j) {
            const AVStream* Source = In->streams[j];
            const AVCodecParameters* Par = Source->codecpar;
            const AVMediaType Type = Par->codec_type;
            const std::string Name = StreamName(f, int(j), Par);
            if (Type != AVMEDIA_TYPE_VIDEO && Type != AVMEDIA_TYPE_AUDIO && Type != AVMEDIA_TYPE_SUBTITLE &&
                Type != AVMEDIA_TYPE_ATTACHMENT) {
                State.StreamNotes.push_back(StrFormat(
                    "Stream #%d.%d is left out: it is neither picture, sound, subtitle nor attachment", f, int(j)));
                continue;
            }
            if ((Type == AVMEDIA_TYPE_VIDEO && S.vn) || (Type == AVMEDIA_TYPE_AUDIO && S.an) ||
                (Type == AVMEDIA_TYPE_SUBTITLE && S.sn))
                continue;
            if (State.StreamMapCount >= MAX_STREAM_MAPS || AOutput->nb_streams >= MAX_STREAMS) {
                State.StreamNotes.push_back(Name + " is left out: the output holds at most " +
                                            std::to_string(MAX_STREAMS) + " streams");
                continue;
            }
            const bool Copy = CopyAllowed(S, Format, Par);
            if (Type == AVMEDIA_TYPE_ATTACHMENT) {
                if (!Copy) {
                    State.StreamNotes.push_back(
                        StrFormat("%s is left out: %s files cannot hold it", Name.c_str(), Format->name));
                    continue;
                }
                NewAttachmentStream(State, File, AOutput);
            } else {
                const int Kind = Type == AVMEDIA_TYPE_VIDEO ? 0 : Type == AVMEDIA_TYPE_AUDIO ? 1 : 2;
                std::string Encoder = Codecs[Kind];
                if (Encoder.empty()) {
                    const AVCodecID Own = Kind == 0   ? Format->video_codec
                                          : Kind == 1 ? Format->audio_codec
                                                      : Format->subtitle_codec;
                    if (Own != AV_CODEC_ID_NONE) Encoder = av::avcodec_get_name(Own);
                }
                // Pictures of subtitles cannot become text.
                if (!Copy && (Encoder.empty() || (Kind == 2 && !TextSubtitle(Par->codec_id)))) {
                    State.StreamNotes.push_back(StrFormat(
                        "%s is left out: %s files cannot hold it and it cannot be converted", Name.c_str(), Format->name));
                    continue;
                }
                if (!Copy) {
                    const AVCodec* Named = av::avcodec_find_encoder_by_name(Encoder == "libfaac" ? "aac" : Encoder.c_str());
                    State.StreamNotes.push_back(StrFormat("%s is converted to %s: %s files cannot hold it as it is",
                                                          Name.c_str(), Named ? Named->name : Encoder.c_str(),
                                                          Format->name));
                }
                S.vcodec = S.acodec = S.scodec = "";
                S.vcodec_copy = S.acodec_copy = S.scodec_copy = false;
                if (Kind == 0) {
                    S.vcodec_copy = Copy;
                    if (!Copy) S.vcodec = Encoder;
                    // An encoded picture keeps its own stream's size, shape and rate.
                    S.FrameWidth = Par->width > 0 ? Par->width : FrameWidth;
                    S.FrameHeight = Par->height > 0 ? Par->height : FrameHeight;
                    const AVRational Sar = Source->sample_aspect_ratio.num ? Source->sample_aspect_ratio
                                                                           : Par->sample_aspect_ratio;
                    S.aspect = Par->width > 0 && Par->height > 0
                                   ? float(Par->width) * (Sar.num && Sar.den ? float(av_q2d(Sar)) : 1.0f) /
                                         float(Par->height)
                                   : Aspect;
                    S.r = Source->r_frame_rate.num ? Source->r_frame_rate : FrameRate;
                    if (!Copy && VideoOptions) av::av_dict_copy(&State.PrivateOptions.VideoEncoder, VideoOptions, 0);
                    NewVideoStream(E, AOutput);
                } else if (Kind == 1) {
                    S.acodec_copy = Copy;
                    if (!Copy) S.acodec = Encoder;
                    S.ac = Par->ch_layout.nb_channels > 0 ? Par->ch_layout.nb_channels : Channels;
                    S.ar = Par->sample_rate > 0 ? Par->sample_rate : Rate;
                    if (!Copy && AudioOptions) av::av_dict_copy(&State.PrivateOptions.AudioEncoder, AudioOptions, 0);
                    NewAudioStream(E, AOutput);
                } else {
                    S.scodec_copy = Copy;
                    if (!Copy) S.scodec = Encoder;
                    NewSubtitleStream(E, AOutput);
                }
            }
            TStreamMap& Map = State.StreamMaps[State.StreamMapCount++];
            Map.FileIndex = Map.SyncFileIndex = f;
            Map.StreamIndex = Map.SyncStreamIndex = int(j);
        }
    }
    S.FrameWidth = FrameWidth;
    S.FrameHeight = FrameHeight;
    S.aspect = Aspect;
    S.r = FrameRate;
    S.ac = Channels;
    S.ar = Rate;
    S.vcodec.clear();
    S.acodec.clear();
    S.scodec.clear();
    S.vcodec_copy = S.acodec_copy = S.scodec_copy = false;
}

void CopyAllTags(const TEngineSettings& S, const TEngineState& AState, AVFormatContext* AOutput,
                 const std::vector<std::pair<AVStream*, const AVStream*>>& AStreams) {
    if (AState.InputFileCount == 0) return;
    const AVFormatContext* In = AState.InputFiles[0];
    // The job's own tags (title, date...) go before the source's.
    av::av_dict_copy(&AOutput->metadata, In->metadata, AV_DICT_DONT_OVERWRITE);
    for (const auto& [Out, Source] : AStreams) {
        av::av_dict_copy(&Out->metadata, Source->metadata, AV_DICT_DONT_OVERWRITE);
        // The source's encoder is not the one that made an encoded stream.
        if (Out->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) av::av_dict_set(&Out->metadata, "encoder", nullptr, 0);
    }

    // Chapters move with the start of a trim and end with its length.
    if (In->nb_chapters == 0 || AOutput->nb_chapters > 0) return;
    const int64_t Start = AState.InputStart[0];
    const int64_t End = S.t == INT64_MAX ? INT64_MAX : Start + S.t;
    std::vector<AVChapter*> Kept;
    for (unsigned i = 0; i < In->nb_chapters; ++i) {
        const AVChapter* C = In->chapters[i];
        const int64_t Base = In->start_time != AV_NOPTS_VALUE ? In->start_time : 0;
        const int64_t From = av::av_rescale_q(C->start, C->time_base, AVRational{1, 1000000}) - Base;
        const int64_t To = av::av_rescale_q(C->end, C->time_base, AVRational{1, 1000000}) - Base;
        if (To <= Start || From >= End) continue;
        auto* Copy = static_cast<AVChapter*>(av::av_mallocz(sizeof(AVChapter)));
        if (!Copy) break;
        Copy->id = C->id;
        Copy->time_base = AVRational{1, 1000};
        Copy->start = (std::max(From, Start) - Start) / 1000;
        Copy->end = (std::min(To, End) - Start) / 1000;
        av::av_dict_copy(&Copy->metadata, C->metadata, 0);
        Kept.push_back(Copy);
    }
    if (Kept.empty()) return;
    auto** Table = static_cast<AVChapter**>(av::av_mallocz(Kept.size() * sizeof(AVChapter*)));
    if (!Table) {
        for (AVChapter*& C : Kept) {
            av::av_dict_free(&C->metadata);
            av::av_freep(&C);
        }
        return;
    }
    std::copy(Kept.begin(), Kept.end(), Table);
    AOutput->chapters = Table;
    AOutput->nb_chapters = static_cast<unsigned>(Kept.size());
}

// The first picture of a copy comes from the key frame at or before the
// start of the trim: the log says where it is.
void NoteCopyStart(TCustomFFmpeg& E, int AInputFile, int AInput, int AOutputFile, int AOutputStream,
                   int64_t APacketTime) {
    const int64_t Start = E.State().InputStart[AInputFile];
    if (Start <= 0) return;
    const double Lead = -double(APacketTime) / 1e6;
    const double At = double(Start) / 1e6 - Lead;
    std::string Where = Lead > 0.0005   ? StrFormat("%.3f s before the start of the trim", Lead)
                        : Lead < -0.0005 ? StrFormat("%.3f s after the start of the trim", -Lead)
                                         : std::string("at the start of the trim");
    E.Log(1, StrFormat("Stream #%d.%d -> #%d.%d is copied from its key frame at %.3f s, %s (a copy can only start at "
                       "a key frame)",
                       AInputFile, AInput, AOutputFile, AOutputStream, At, Where.c_str()));
}
