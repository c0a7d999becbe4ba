// The read loop, packet processing, subtitles, the packet writer and the end
// of the job.
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "common/MediaText.h"
#include "common/Text.h"
#include "engine/Transcode.h"

namespace {

constexpr AVRational Microseconds = {1, AV_TIME_BASE};

// Little-endian fields of the encoder's quality statistics.
uint32_t ReadLE32(const uint8_t* P) { return P[0] | P[1] << 8 | P[2] << 16 | uint32_t(P[3]) << 24; }
uint64_t ReadLE64(const uint8_t* P) { return ReadLE32(P) | uint64_t(ReadLE32(P + 4)) << 32; }

}  // namespace

// Encoded audio reaches the muxer only after the encoder's delay: its
// output time is what the encoder has been given, as for video.
double TTranscoder::OutputTime(const TOutputStreamRecord& AOst) const {
    if (AOst.Codec->codec_type == AVMEDIA_TYPE_VIDEO) return double(AOst.SyncOpts) * av_q2d(AOst.CodecTimeBase);
    if (AOst.Codec->codec_type == AVMEDIA_TYPE_AUDIO && AOst.EncodingNeeded)
        return double(AcceptedSamples(AOst)) / AOst.Codec->sample_rate;
    return double(AOst.MuxEnd) * av_q2d(AOst.Stream->time_base);
}

void TTranscoder::ReadLoop() {
    const int Limits[] = {S.vframes, S.aframes, S.dframes};
    auto Sparse = [](const TOutputStreamRecord& AOst) {
        const AVMediaType Type = AOst.Codec->codec_type;
        return Type == AVMEDIA_TYPE_SUBTITLE || Type == AVMEDIA_TYPE_ATTACHMENT;
    };
    bool HasDense = false;
    for (auto& Ost : Outputs) HasDense |= !Sparse(*Ost);
    while (!E.StopRequested) {
        E.WaitWhilePaused();
        if (E.StopRequested) break;

        // 1.-2. The file to read: the one whose stream is furthest behind.
        int FileIndex = -1;
        double InputMin = 1e100, OutputMin = 1e100;
        bool LimitReached = false;
        for (auto& Ost : Outputs) {
            // Subtitles come now and then and attachments never: beside
            // pictures or sound they do not decide what is read next or
            // when the job's length is reached.
            if (Sparse(*Ost) && HasDense) continue;
            TInputStreamRecord& Ist = *Inputs[Ost->SourceIndex];
            const double OutTime = OutputTime(*Ost);
            const double InTime = double(Ist.Pts);
            if (!Files[Ist.FileIndex].EofReached) {
                if (InTime < InputMin) {
                    InputMin = InTime;
                    if (S.isync) FileIndex = Ist.FileIndex;
                }
                if (OutTime < OutputMin) {
                    OutputMin = OutTime;
                    if (!S.isync) FileIndex = Ist.FileIndex;
                }
            }
            const int Type = Ost->Codec->codec_type;
            if (Type >= 0 && Type <= AVMEDIA_TYPE_DATA && Ost->FrameNumber >= Limits[Type]) {
                LimitReached = true;
                break;
            }
        }
        if (LimitReached || FileIndex < 0) break;
        // 3.-4. Recording time and size limits.
        if (OutputMin >= double(S.t) / 1000000.0) break;
        AVIOContext* FirstPb = State.OutputFiles[0]->pb;
        if (S.fs != 0 && FirstPb && S.fs < av::avio_seek(FirstPb, 0, SEEK_CUR)) break;

        // 5. Read.
        AVFormatContext* In = State.InputFiles[FileIndex];
        State.ReadInProgress = true;
        int Result = av::av_read_frame(In, Packet);
        State.ReadInProgress = false;
        if (Result < 0) {
            Files[FileIndex].EofReached = true;
            if (S.shortest) break;
            continue;
        }
        if (S.dump) av::av_pkt_dump_log2(nullptr, AV_LOG_INFO, Packet, S.hex, In->streams[Packet->stream_index]);

        // 7.
        const TInputFileRecord& File = Files[FileIndex];
        if (Packet->stream_index < File.StreamCount && !Inputs[File.FirstStream + Packet->stream_index]->Discard) {
            const int Index = File.FirstStream + Packet->stream_index;
            TInputStreamRecord& Ist = *Inputs[Index];
            const AVRational TimeBase = Ist.Stream->time_base;
            // 8. Offset.
            const int64_t Offset = av::av_rescale_q(State.InputTsOffset[FileIndex], Microseconds, TimeBase);
            if (Packet->dts != AV_NOPTS_VALUE) Packet->dts += Offset;
            if (Packet->pts != AV_NOPTS_VALUE) Packet->pts += Offset;
            // 9. Scale.
            const double Scale =
                Packet->stream_index < MAX_STREAMS ? State.InputTsScale[FileIndex][Packet->stream_index] : 0.0;
            if (Scale != 0.0) {
                if (Packet->pts != AV_NOPTS_VALUE) Packet->pts = std::llrint(double(Packet->pts) * Scale);
                if (Packet->dts != AV_NOPTS_VALUE) Packet->dts = std::llrint(double(Packet->dts) * Scale);
            }
            // 10. Discontinuity.
            if (Packet->dts != AV_NOPTS_VALUE && Ist.NextPts != AV_NOPTS_VALUE && !S.copyts) {
                const int64_t Dts = av::av_rescale_q(Packet->dts, TimeBase, Microseconds);
                const int64_t Delta = Dts - Ist.NextPts;
                if (std::fabs(double(Delta)) > double(S.dts_delta_threshold) * 1000000.0 || Dts + 1 < Ist.Pts) {
                    State.InputTsOffset[FileIndex] -= Delta;
                    if (S.v > 2)
                        E.Log(1, StrFormat("timestamp discontinuity %lld, new offset= %lld", (long long)Delta,
                                           (long long)State.InputTsOffset[FileIndex]));
                    const int64_t Shift = av::av_rescale_q(Delta, Microseconds, TimeBase);
                    Packet->dts -= Shift;
                    if (Packet->pts != AV_NOPTS_VALUE) Packet->pts -= Shift;
                }
            }
            // 11.
            if (ProcessPacket(Ist, Index, Packet) < 0) {
                const std::string Text =
                    StrFormat("Error while decoding stream #%d.%d", Ist.FileIndex, Ist.StreamIndex);
                if (S.xerror) throw FFMpegException(Text);
                if (S.v >= 0) E.Log(1, Text);
                av::av_packet_unref(Packet);
                continue;
            }
        }
        // 12.
        av::av_packet_unref(Packet);
        const int64_t Now = av::av_gettime();
        if (Now - LastReport > E.ProgressInterval) {
            LastReport = Now;
            ReportProgress(false);
        }
    }
}

void TTranscoder::FinishJob() {
    // The cover stays on screen to the end of the sound.
    int64_t SoundEnd = 0;
    for (auto& Ist : Inputs)
        if (Ist->DecodingNeeded && Ist->Codec->codec_type == AVMEDIA_TYPE_AUDIO && Ist->NextPts != AV_NOPTS_VALUE)
            SoundEnd = std::max(SoundEnd, Ist->NextPts);
    RepeatStills(SoundEnd);
    for (size_t i = 0; i < Inputs.size(); ++i)
        if (Inputs[i]->DecodingNeeded) ProcessPacket(*Inputs[i], int(i), nullptr);
    // Every file gets its trailer; a file whose trailer the file system
    // refused is not finished, whatever else the job did.
    int Refused = -1, Code = 0;
    for (int i = 0; i < State.OutputFileCount; ++i) {
        int Result = av::av_write_trailer(State.OutputFiles[i]);
        State.OutputComplete[i] = Result >= 0;
        int Written = WriteError(i, Result);
        if (Written != 0 && Refused < 0) {
            Refused = i;
            Code = Written;
        }
    }
    ReportProgress(true);
    State.CloseOpenCodecs();
    if (Refused >= 0) FailWrite(Refused, Code);
    E.Finished = !E.StopRequested;
}

bool TTranscoder::PastStart(const TInputStreamRecord& AIst) const { return S.ss == 0 || AIst.Pts >= S.ss; }

void TTranscoder::EmulateRate(TInputStreamRecord& AIst) {
    if (!AIst.RateEmulation) return;
    // The stream's own clock paces the reading.
    const int64_t Target = AIst.Pts;
    const int64_t Now = av::av_gettime() - AIst.StartTime;
    if (Target - Now > 50000) std::this_thread::sleep_for(std::chrono::milliseconds((Target - Now) / 1000));
    ++AIst.FrameCount;
}

int TTranscoder::ProcessPacket(TInputStreamRecord& AIst, int AIndex, AVPacket* APacket) {
    AVCodecContext* Dec = AIst.Codec;
    if (AIst.NextPts == AV_NOPTS_VALUE) {
        // A stream whose first packet has only a presentation time (a
        // Matroska file read from a seek) starts its clock there, not at 0.
        AIst.NextPts = AIst.Pts;
        if (APacket && APacket->dts == AV_NOPTS_VALUE && APacket->pts != AV_NOPTS_VALUE)
            AIst.Pts = AIst.NextPts = av::av_rescale_q(APacket->pts, AIst.Stream->time_base, Microseconds);
    }
    if (APacket && APacket->dts != AV_NOPTS_VALUE)
        AIst.Pts = AIst.NextPts = av::av_rescale_q(APacket->dts, AIst.Stream->time_base, Microseconds);

    if (!AIst.DecodingNeeded) {
        if (!APacket) return 0;
        AIst.Pts = AIst.NextPts;
        const AVCodecParameters* Par = AIst.Stream->codecpar;
        if (APacket->duration > 0)
            AIst.NextPts += av::av_rescale_q(APacket->duration, AIst.Stream->time_base, Microseconds);
        else if (Par->codec_type == AVMEDIA_TYPE_AUDIO && Par->sample_rate > 0)
            AIst.NextPts += int64_t(1000000) * Par->frame_size / Par->sample_rate;
        else if (Par->codec_type == AVMEDIA_TYPE_VIDEO && AIst.Stream->avg_frame_rate.num)
            AIst.NextPts += av::av_rescale_q(1, av_inv_q(AIst.Stream->avg_frame_rate), Microseconds);
        EmulateRate(AIst);
        if (PastStart(AIst))
            for (auto& Ost : Outputs)
                if (Ost->SourceIndex == AIndex && !Ost->EncodingNeeded) CopyPacket(*Ost, AIst, APacket);
        return 0;
    }

    if (Dec->codec_type == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitle(AIst, AIndex, APacket);
    if (Dec->codec_type != AVMEDIA_TYPE_AUDIO && Dec->codec_type != AVMEDIA_TYPE_VIDEO) return -1;

    int Result = av::avcodec_send_packet(Dec, APacket);
    if (Result < 0 && Result != AVERROR_EOF && Result != AVERROR(EAGAIN)) return -1;
    // Outputs that copy this stream while others re-encode it get the packet as it is.
    if (APacket && PastStart(AIst))
        for (auto& Ost : Outputs)
            if (Ost->SourceIndex == AIndex && !Ost->EncodingNeeded) CopyPacket(*Ost, AIst, APacket);
    int Frames = 0;
    while (true) {
        Result = av::avcodec_receive_frame(Dec, Decoded);
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) break;
        if (Result < 0) return -1;
        if (Frames++ > 0 && APacket && S.v > 0 && E.OnLog)
            E.Log(0, StrFormat("Multiple frames in a packet from stream %d", APacket->stream_index));
        AIst.Pts = AIst.NextPts;
        if (Dec->codec_type == AVMEDIA_TYPE_AUDIO)
            HandleAudio(AIst, AIndex, Decoded);
        else
            HandleVideo(AIst, AIndex, Decoded);
        av::av_frame_unref(Decoded);
    }
    if (!APacket) {
        // The deinterlacer holds a picture back until it sees the next.
        if (Dec->codec_type == AVMEDIA_TYPE_VIDEO && AIst.Deinterlace) DrainGraph(AIst, AIndex, true);
        FlushEncoders(AIndex);
        av::avcodec_flush_buffers(Dec);
    }
    return 0;
}

void TTranscoder::HandleAudio(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame) {
    const AVSampleFormat Format = static_cast<AVSampleFormat>(AFrame->format);
    const AVSampleFormat Packed = av::av_get_packed_sample_fmt(Format);
    const int Channels = AFrame->ch_layout.nb_channels;
    const int Bytes = av::av_get_bytes_per_sample(Packed);
    const int Size = AFrame->nb_samples * Channels * Bytes;
    if (Size <= 0 || AFrame->sample_rate <= 0) return;
    AIst.NextPts += int64_t(1000000) * AFrame->nb_samples / AFrame->sample_rate;

    // The audio path works on the packed form of the decoder's format.
    if (Samples.size() < size_t(Size)) Samples.resize(std::max<size_t>(Size, 192000));
    uint8_t* Data = AFrame->extended_data[0];
    if (av::av_sample_fmt_is_planar(Format) && Channels > 1) {
        uint8_t* Out = Samples.data();
        for (int n = 0; n < AFrame->nb_samples; ++n)
            for (int c = 0; c < Channels; ++c, Out += Bytes)
                memcpy(Out, AFrame->extended_data[c] + size_t(n) * Bytes, Bytes);
    } else {
        memcpy(Samples.data(), Data, size_t(Size));
    }
    if (S.vol != 256) ApplyVolume(Packed, Samples.data(), Size);

    EmulateRate(AIst);
    if (!PastStart(AIst)) return;
    for (auto& Ost : Outputs)
        if (Ost->SourceIndex == AIndex && Ost->EncodingNeeded) EncodeAudio(*Ost, AIst, Samples.data(), Size);
    RepeatStills(AIst.NextPts);
}

void TTranscoder::ApplyVolume(AVSampleFormat AFormat, uint8_t* AData, int ASize) {
    const int Volume = S.vol;
    auto Scale = [&](auto* ASamples, int ACount, int64_t AMin, int64_t AMax) {
        for (int i = 0; i < ACount; ++i) {
            int64_t V = (int64_t(ASamples[i]) * Volume + 128) >> 8;
            ASamples[i] = static_cast<std::remove_reference_t<decltype(ASamples[i])>>(std::clamp(V, AMin, AMax));
        }
    };
    switch (AFormat) {
        case AV_SAMPLE_FMT_U8:
            for (int i = 0; i < ASize; ++i) {
                int V = (((int(AData[i]) - 128) * Volume + 128) >> 8) + 128;
                AData[i] = static_cast<uint8_t>(std::clamp(V, 0, 255));
            }
            break;
        case AV_SAMPLE_FMT_S16:
            Scale(reinterpret_cast<int16_t*>(AData), ASize / 2, -32768, 32767);
            break;
        case AV_SAMPLE_FMT_S32:
            Scale(reinterpret_cast<int32_t*>(AData), ASize / 4, INT32_MIN, INT32_MAX);
            break;
        case AV_SAMPLE_FMT_FLT: {
            float* P = reinterpret_cast<float*>(AData);
            for (int i = 0; i < ASize / 4; ++i) P[i] = std::clamp(P[i] * float(Volume) / 256.0f, -1.0f, 1.0f);
            break;
        }
        case AV_SAMPLE_FMT_DBL: {
            double* P = reinterpret_cast<double*>(AData);
            for (int i = 0; i < ASize / 8; ++i) P[i] = std::clamp(P[i] * Volume / 256.0, -1.0, 1.0);
            break;
        }
        default:
            break;
    }
}

void TTranscoder::HandleVideo(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame) {
    // The picture's own timestamp is its presentation time; decoders with
    // frame threads hand pictures out later than their packets.
    if (AFrame->best_effort_timestamp != AV_NOPTS_VALUE)
        AIst.Pts = av::av_rescale_q(AFrame->best_effort_timestamp, AIst.Stream->time_base, Microseconds);
    int64_t Duration = 0;
    if (AFrame->pkt_duration > 0)
        Duration = av::av_rescale_q(AFrame->pkt_duration, AIst.Stream->time_base, Microseconds);
    else if (AIst.Stream->avg_frame_rate.num)
        Duration = av::av_rescale_q(1, av_inv_q(AIst.Stream->avg_frame_rate), Microseconds);
    else if (AIst.Stream->r_frame_rate.num)
        Duration = av::av_rescale_q(1, av_inv_q(AIst.Stream->r_frame_rate), Microseconds);
    AIst.NextPts = AIst.Pts + Duration;
    AIst.Quality = AFrame->quality;
    // A cover picture comes once; it is shown again as the sound goes on.
    if ((AIst.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && !AIst.Still) AIst.Still = av::av_frame_clone(AFrame);
    PushPicture(AIst, AIndex, AFrame);
}

void TTranscoder::PushPicture(TInputStreamRecord& AIst, int AIndex, AVFrame* AFrame) {
    if (!AIst.Still) CheckInterlace(AIst, AIndex, AFrame);
    TPicture Picture;
    for (int i = 0; i < 4; ++i) {
        Picture.data[i] = AFrame->data[i];
        Picture.linesize[i] = AFrame->linesize[i];
    }
    PreprocessVideoFrame(AIst, Picture, static_cast<AVPixelFormat>(AFrame->format), AFrame->width, AFrame->height);
    EmulateRate(AIst);
    if (!PastStart(AIst)) return;

    if (AIst.OutFilter) {
        // The graph takes the (pre-processed) picture; what comes out of it
        // goes to the outputs.
        AVFrame* In = av::av_frame_alloc();
        if (!In) return;
        In->format = AFrame->format;
        In->width = AFrame->width;
        In->height = AFrame->height;
        In->sample_aspect_ratio = AFrame->sample_aspect_ratio;
        In->interlaced_frame = AFrame->interlaced_frame;
        In->top_field_first = AFrame->top_field_first;
        In->pts = AIst.Pts;
        for (int i = 0; i < 4; ++i) {
            In->data[i] = Picture.data[i];
            In->linesize[i] = Picture.linesize[i];
        }
        // Not reference counted: the source copies it.
        int Result = av::av_buffersrc_add_frame_flags(AIst.InFilter, In, AV_BUFFERSRC_FLAG_KEEP_REF);
        av::av_frame_free(&In);
        if (Result < 0) return;
        DrainGraph(AIst, AIndex, false);
        return;
    }
    FanOut(AIst, AIndex, Picture, AFrame);
}

void TTranscoder::FanOut(TInputStreamRecord& AIst, int AIndex, TPicture& APicture, const AVFrame* AFrame) {
    for (auto& Ost : Outputs) {
        if (Ost->SourceIndex != AIndex || !Ost->EncodingNeeded) continue;
        int Size = 0;
        EncodeVideo(*Ost, AIst, APicture, AFrame, Size);
        if (!S.vstats.empty() && Size) WriteVideoStats(*Ost, Size);
    }
}

void TTranscoder::DrainGraph(TInputStreamRecord& AIst, int AIndex, bool AFlush) {
    if (!AIst.OutFilter) return;
    if (AFlush && av::av_buffersrc_add_frame_flags(AIst.InFilter, nullptr, 0) < 0) return;
    while (av::av_buffersink_get_frame(AIst.OutFilter, Filtered) >= 0) {
        if (Filtered->pts != AV_NOPTS_VALUE)
            AIst.Pts = av::av_rescale_q(Filtered->pts, av::av_buffersink_get_time_base(AIst.OutFilter), Microseconds);
        TPicture Out;
        for (int i = 0; i < 4; ++i) {
            Out.data[i] = Filtered->data[i];
            Out.linesize[i] = Filtered->linesize[i];
        }
        FanOut(AIst, AIndex, Out, Filtered);
        av::av_frame_unref(Filtered);
    }
}

int TTranscoder::DecodeSubtitle(TInputStreamRecord& AIst, int AIndex, AVPacket* APacket) {
    if (!APacket) {
        FlushEncoders(AIndex);
        return 0;
    }
    AVSubtitle Subtitle;
    int Got = 0;
    AIst.Pts = AIst.NextPts;
    if (av::avcodec_decode_subtitle2(AIst.Codec, &Subtitle, &Got, APacket) < 0) return -1;
    if (!Got) return 0;
    if (PastStart(AIst))
        for (auto& Ost : Outputs)
            if (Ost->SourceIndex == AIndex && Ost->EncodingNeeded)
                EncodeSubtitle(*Ost, AIst, &Subtitle, APacket->pts);
    av::avsubtitle_free(&Subtitle);
    return 0;
}

void TTranscoder::CopyPacket(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, AVPacket* APacket) {
    // Copies start at a key packet.
    if (AOst.FrameNumber == 0 && !(APacket->flags & AV_PKT_FLAG_KEY)) return;
    const AVMediaType Type = AOst.Codec->codec_type;
    if (AOst.FrameNumber == 0 && Type == AVMEDIA_TYPE_VIDEO) {
        const int64_t Time = APacket->pts != AV_NOPTS_VALUE ? APacket->pts : APacket->dts;
        if (Time != AV_NOPTS_VALUE)
            NoteCopyStart(E, AIst.FileIndex, AIst.StreamIndex, AOst.FileIndex, AOst.StreamIndex,
                          av::av_rescale_q(Time, AIst.Stream->time_base, Microseconds));
    }
    if (Type == AVMEDIA_TYPE_AUDIO) State.AudioSize += APacket->size;
    if (Type == AVMEDIA_TYPE_VIDEO) {
        State.VideoSize += APacket->size;
        ++AOst.SyncOpts;
    }
    if (av::av_packet_ref(OutPacket, APacket) < 0) throw FFMpegException("av_malloc fail");
    const AVRational From = AIst.Stream->time_base, To = AOst.Stream->time_base;
    OutPacket->stream_index = AOst.StreamIndex;
    OutPacket->pts = APacket->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av::av_rescale_q(APacket->pts, From, To);
    OutPacket->dts = APacket->dts == AV_NOPTS_VALUE ? av::av_rescale_q(AIst.Pts, Microseconds, To)
                                                    : av::av_rescale_q(APacket->dts, From, To);
    OutPacket->duration = av::av_rescale_q(APacket->duration, From, To);
    WritePacket(AOst, OutPacket);
    ++AOst.FrameNumber;
}

void TTranscoder::FlushEncoders(int AIndex) {
    for (auto& Ost : Outputs) {
        if (Ost->SourceIndex != AIndex || !Ost->EncodingNeeded) continue;
        switch (Ost->Codec->codec_type) {
            case AVMEDIA_TYPE_AUDIO:
                EncodeAudioFrames(*Ost, true);
                break;
            case AVMEDIA_TYPE_VIDEO:
                if (av::avcodec_send_frame(Ost->Codec, nullptr) >= 0) DrainEncoder(*Ost);
                break;
            default:
                break;
        }
    }
}

// Takes every packet the encoder has ready and writes it.
void TTranscoder::DrainEncoder(TOutputStreamRecord& AOst) {
    AVCodecContext* Enc = AOst.Codec;
    const bool Video = Enc->codec_type == AVMEDIA_TYPE_VIDEO;
    while (true) {
        int Result = av::avcodec_receive_packet(Enc, OutPacket);
        // Some encoders (VP8, VP9) hand their first-pass statistics over
        // only once they are flushed, with no packet at all.
        if (Result == AVERROR_EOF && AOst.LogFile && Enc->stats_out && AOst.LoggedStats != Enc->stats_out) {
            fprintf(AOst.LogFile, "%s", Enc->stats_out);
            AOst.LoggedStats = Enc->stats_out;
        }
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) return;
        if (Result < 0) throw FFMpegException(Video ? "Video encoding failed" : "Audio encoding failed");
        if (Video) {
            State.VideoSize += OutPacket->size;
            size_t StatsSize = 0;
            const uint8_t* Stats = av::av_packet_get_side_data(OutPacket, AV_PKT_DATA_QUALITY_STATS, &StatsSize);
            if (Stats && StatsSize >= 5) {
                AOst.CodedQuality = int(ReadLE32(Stats));
                AOst.CodedPictType = Stats[4];
                const int Errors = std::min<int>(Stats[5], 4);
                for (int i = 0; i < Errors && StatsSize >= size_t(8 + 8 * (i + 1)); ++i)
                    AOst.CodedError[i] = int64_t(ReadLE64(Stats + 8 + 8 * i));
            }
            if (AOst.LogFile && Enc->stats_out) {
                fprintf(AOst.LogFile, "%s", Enc->stats_out);
                AOst.LoggedStats = Enc->stats_out;
            }
            if (AOst.ProfileLevel >= 0 && (OutPacket->flags & AV_PKT_FLAG_KEY)) {
                if (av::av_packet_make_writable(OutPacket) < 0) throw FFMpegException("Video encoding failed");
                SetMpeg4ProfileLevel(OutPacket->data, OutPacket->size, AOst.ProfileLevel);
            }
        } else {
            State.AudioSize += OutPacket->size;
        }
        OutPacket->stream_index = AOst.StreamIndex;
        av::av_packet_rescale_ts(OutPacket, Enc->time_base, AOst.Stream->time_base);
        WritePacket(AOst, OutPacket);
    }
}

void TTranscoder::EncodeSubtitle(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, AVSubtitle* ASubtitle,
                                 int64_t APts) {
    if (APts == AV_NOPTS_VALUE) {
        if (S.xerror) throw FFMpegException("Subtitle packets must have a pts");
        E.Log(0, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleBuffer.empty()) SubtitleBuffer.resize(65536);
    const bool Dvb = AOst.Codec->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const AVRational From = AIst.Stream->time_base, To = AOst.Stream->time_base;
    // Encoders want the subtitle's own clock in microseconds.
    ASubtitle->pts = av::av_rescale_q(APts, From, Microseconds);
    for (int i = 0; i < (Dvb ? 2 : 1); ++i) {
        // The second DVB packet clears the picture.
        if (Dvb && i == 1) ASubtitle->num_rects = 0;
        int Size = av::avcodec_encode_subtitle(AOst.Codec, SubtitleBuffer.data(), int(SubtitleBuffer.size()),
                                               ASubtitle);
        if (Size < 0) throw FFMpegException("Subtitle encoding failed");
        if (av::av_new_packet(OutPacket, Size) < 0) throw FFMpegException("av_malloc fail");
        memcpy(OutPacket->data, SubtitleBuffer.data(), size_t(Size));
        OutPacket->stream_index = AOst.StreamIndex;
        OutPacket->pts = av::av_rescale_q(APts, From, To);
        if (Dvb) OutPacket->pts += av::av_rescale_q(90 * (i == 0 ? ASubtitle->start_display_time
                                                                  : ASubtitle->end_display_time),
                                                    AVRational{1, 90000}, To);
        OutPacket->dts = OutPacket->pts;
        OutPacket->duration =
            av::av_rescale_q(ASubtitle->end_display_time - ASubtitle->start_display_time, AVRational{1, 1000}, To);
        WritePacket(AOst, OutPacket);
    }
}

void TTranscoder::WritePacket(TOutputStreamRecord& AOst, AVPacket* APacket) {
    for (AVBSFContext* Filter : *AOst.Filters) {
        AVPacket* Copy = av::av_packet_clone(APacket);
        int Result = Copy ? av::av_bsf_send_packet(Filter, Copy) : AVERROR(ENOMEM);
        if (Result >= 0) Result = av::av_bsf_receive_packet(Filter, Copy);
        if (Result >= 0) {
            av::av_packet_unref(APacket);
            av::av_packet_move_ref(APacket, Copy);
        } else if (Result == AVERROR(EAGAIN)) {
            // The filter holds the packet back; it comes out with a later one.
            av::av_packet_free(&Copy);
            av::av_packet_unref(APacket);
            return;
        } else {
            std::string Text = ErrorCodeText(StrFormat("%s failed for stream %d, codec %s", Filter->filter->name,
                                                       APacket->stream_index,
                                                       AOst.EncodingNeeded && AOst.Codec->codec
                                                           ? AOst.Codec->codec->name
                                                           : "copy"),
                                             Result);
            av::av_packet_free(&Copy);
            if (S.xerror) {
                av::av_packet_unref(APacket);
                throw FFMpegException(Text);
            }
            E.Log(0, Text);
        }
        av::av_packet_free(&Copy);
    }
    int64_t End = APacket->dts != AV_NOPTS_VALUE ? APacket->dts : APacket->pts;
    if (End != AV_NOPTS_VALUE) AOst.MuxEnd = std::max(AOst.MuxEnd, End + std::max<int64_t>(APacket->duration, 0));
    int Result = av::av_interleaved_write_frame(AOst.File, APacket);
    av::av_packet_unref(APacket);
    if (int Code = WriteError(AOst.FileIndex, Result); Code != 0) FailWrite(AOst.FileIndex, Code);
    if (Result < 0) throw FFMpegException(ErrorCodeText("av_interleaved_write_frame()", Result));
}
