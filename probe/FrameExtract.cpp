// Seeking and single-picture decoding of the probe.
#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "probe/AVProbe.h"

TBitmap& TAVProbe::FrameBitmap() {
    if (!FFrameBitmap) FFrameBitmap = std::make_unique<TBitmap>();
    return *FFrameBitmap;
}

TBitmap& TAVProbe::LastFrame() {
    if (!FLastFrame) FLastFrame = std::make_unique<TBitmap>();
    KeepLastFrame();
    return *FLastFrame;
}

void TAVProbe::KeepLastFrame() {
    if (!FLastFramePending) return;
    FLastFramePending = false;
    if (!FLastFrame) FLastFrame = std::make_unique<TBitmap>();
    *FLastFrame = *FFrameBitmap;
}

void TAVProbe::KeepPictureBeforeChange(const void* Owner, std::function<void()> Keep) {
    FKeeperOwner = Owner;
    FPictureKeeper = std::move(Keep);
}

void TAVProbe::ForgetPictureKeeper(const void* Owner) {
    if (FKeeperOwner != Owner) return;
    FKeeperOwner = nullptr;
    FPictureKeeper = nullptr;
}

void TAVProbe::KeepPictureNow(const void* Owner) {
    if (FKeeperOwner == Owner) RunPictureKeeper();
}

void TAVProbe::RunPictureKeeper() {
    if (!FPictureKeeper) return;
    // Cleared first: the keeper may read the probe, never wait on it twice.
    std::function<void()> Keep = std::move(FPictureKeeper);
    FPictureKeeper = nullptr;
    FKeeperOwner = nullptr;
    Keep();
}

bool TAVProbe::Seek(int StreamIndex, int64_t Position, TSeekMode Mode) {
    if (!FContext) {
        Log(1, "file not loaded.\n");
        FLastError = "file not loaded.";
        return false;
    }
    if (!FOwnsContext) {
        Log(1, "file cannot be seeked, handle is readonly.\n");
        FLastError = "file cannot be seeked, handle is readonly.";
        throw EAVProbeError(FLastError);
    }
    if (IsStillImage()) {
        Log(1, "\"image2\" format cannot to be seeked.\n");
        return true;
    }

    int64_t Wanted = std::max<int64_t>(Position, 0);
    int Index = StreamIndex;
    if (Index < 0) {
        Index = FFirstVideoStream >= 0   ? FFirstVideoStream
                : FFirstAudioStream >= 0 ? FFirstAudioStream
                                         : FFirstSubtitleStream;
    } else if (Index >= FStreamCount) {
        Log(0, StrFormat("stream index #%d is invalid.\n", Index));
        return false;
    }

    int64_t Target, Base, Shown = 0;
    if (Index < 0) {
        Target = Wanted;
        if (Target > FContext->duration && FContext->duration > 0) Target = FContext->duration;
        Base = FContext->start_time;
    } else {
        const AVStream* Stream = FContext->streams[Index];
        // The picture shown at a time is the one that began at or before it.
        Shown = av::av_rescale_q_rnd(Wanted, MicrosecondBase, Stream->time_base, AV_ROUND_DOWN);
        Target = Shown;
        if (Target > Stream->duration && Stream->duration > 0) Target = Stream->duration;
        Base = Stream->start_time;
    }
    if (Base != AV_NOPTS_VALUE) {
        Target += Base;
        Shown += Base;
    }

    if (FDecoder) av::avcodec_flush_buffers(FDecoder);
    FDraining = false;
    FContextMoved = true;
    ForgetTarget();

    int Result;
    if (Position > 0) {
        // The key frame at or before the target: the picture shown at the
        // target is decoded forward from there. A target before the first
        // key frame takes the first one.
        Result = av::av_seek_frame(FContext, Index, Target, AVSEEK_FLAG_BACKWARD);
        if (Result < 0) Result = av::av_seek_frame(FContext, Index, Target, 0);
        if (Result >= 0 && Mode == smExact && Index >= 0) {
            FTargetTs = Shown;
            FTargetStream = Index;
            FSoughtTs = Target;
        }
    } else {
        Result = av::av_seek_frame(FContext, Index, 0, AVSEEK_FLAG_BACKWARD);
        // Timestamp 0 lies before the first key frame of a stream that
        // starts late (an FLV whose video begins at 50 ms, say), where
        // demuxers find nothing to go back to: its own start serves.
        if (Result < 0 && Base != AV_NOPTS_VALUE && Base != 0)
            Result = av::av_seek_frame(FContext, Index, Target, AVSEEK_FLAG_BACKWARD);
    }
    if (Result < 0) Log(0, StrFormat("could not seek to position %0.3f\n", Position / 1000000.0));
    return true;
}

void TAVProbe::CloseDecoder() {
    if (FDecoder) av::avcodec_free_context(&FDecoder);
    FDecoderStream = -1;
    FDraining = false;
}

void TAVProbe::ForgetTarget() {
    FTargetTs = AV_NOPTS_VALUE;
    FTargetStream = -1;
    FSoughtTs = AV_NOPTS_VALUE;
    FSeekRetries = 0;
    FPictureSinceSeek = false;
    if (FPassed) av::av_frame_unref(FPassed);
}

bool TAVProbe::BeforeTarget(const AVFrame* Picture) const {
    const int64_t Ts = Picture->best_effort_timestamp;
    if (Ts == AV_NOPTS_VALUE) return false;
    int64_t Duration = Picture->pkt_duration;
    if (Duration <= 0) {
        // Containers without packet durations: one picture at the stream's rate.
        const AVStream* Stream = FContext->streams[FTargetStream];
        AVRational Rate = Stream->avg_frame_rate.num > 0 ? Stream->avg_frame_rate : Stream->r_frame_rate;
        Duration = Rate.num > 0 && Rate.den > 0 ? av::av_rescale_q(1, av_inv_q(Rate), Stream->time_base) : 1;
        if (Duration <= 0) Duration = 1;
    }
    return Ts + Duration <= FTargetTs;
}

bool TAVProbe::SeekedTooLate(const AVFrame* Picture) {
    // Steps back 1, 4, then 16 seconds from the target.
    constexpr int MaxRetries = 3;
    const int64_t Ts = Picture ? Picture->best_effort_timestamp : AV_NOPTS_VALUE;
    if (FPictureSinceSeek || FSeekRetries >= MaxRetries) return false;
    if (Picture && (Ts == AV_NOPTS_VALUE || Ts <= FTargetTs)) return false;
    const AVStream* Stream = FContext->streams[FTargetStream];
    const int64_t Start = Stream->start_time != AV_NOPTS_VALUE ? Stream->start_time : 0;
    if (FSoughtTs <= Start) return false;
    const int64_t Back = av::av_rescale_q(int64_t(1000000) << (2 * FSeekRetries), MicrosecondBase, Stream->time_base);
    const int64_t Earlier = std::max(Start, FSoughtTs - Back);
    // The start itself is found by a backward seek to timestamp 0, as Seek does.
    if (av::av_seek_frame(FContext, FTargetStream, Earlier > Start ? Earlier : 0, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    av::avcodec_flush_buffers(FDecoder);
    FDraining = false;
    FSoughtTs = Earlier;
    ++FSeekRetries;
    return true;
}

void TAVProbe::OpenDecoder(int StreamIndex) {
    CloseDecoder();
    const AVStream* Stream = FContext->streams[StreamIndex];
    const AVCodec* Codec = av::avcodec_find_decoder(Stream->codecpar->codec_id);
    if (!Codec)
        throw EAVProbeError(StrFormat("Unsupported codec (id=%d) for input file stream #%d",
                                      static_cast<int>(Stream->codecpar->codec_id), StreamIndex));
    AVCodecContext* Decoder = av::avcodec_alloc_context3(Codec);
    bool Opened = false;
    if (Decoder && av::avcodec_parameters_to_context(Decoder, Stream->codecpar) >= 0) {
        Decoder->pkt_timebase = Stream->time_base;
        Opened = av::avcodec_open2(Decoder, Codec, nullptr) >= 0;
    }
    if (!Opened) {
        av::avcodec_free_context(&Decoder);
        throw EAVProbeError(StrFormat("Error while opening codec for input file stream #%d", StreamIndex));
    }
    ++FDecodersOpened;
    if (!FPicture) FPicture = av::av_frame_alloc();
    if (!FPacket) FPacket = av::av_packet_alloc();
    if (!FPicture || !FPacket) {
        av::avcodec_free_context(&Decoder);
        throw EAVProbeError(StrFormat("Error while opening codec for input file stream #%d", StreamIndex));
    }
    FDecoder = Decoder;
    FDecoderStream = StreamIndex;
}

TBitmap& TAVProbe::DecodeFrame(int StreamIndex) {
    if (FContext && !FOwnsContext) {
        Log(1, "frame cannot be read, handle is readonly.\n");
        FLastError = "frame cannot be read, handle is readonly.";
        throw EAVProbeError(FLastError);
    }
    RunPictureKeeper();
    TBitmap& Bitmap = FrameBitmap();
    auto NoPicture = [&]() -> TBitmap& {
        KeepLastFrame();
        Bitmap.Clear();
        return Bitmap;
    };
    if (!FContext) {
        Log(0, "file not loaded.\n");
        return NoPicture();
    }
    int Index = StreamIndex;
    if (Index < 0) {
        Index = FFirstVideoStream;
        if (Index < 0) {
            Log(0, "no video stream.\n");
            return NoPicture();
        }
    }
    if (Index >= FStreamCount) {
        Log(0, StrFormat("stream index #%d is invalid.\n", Index));
        return NoPicture();
    }
    const AVCodecParameters* Par = FContext->streams[Index]->codecpar;
    if (Par->codec_type != AVMEDIA_TYPE_VIDEO) {
        Log(0, StrFormat("stream #%d is not video stream.\n", Index));
        return NoPicture();
    }
    // A still picture is decoded once; later calls keep it.
    if (FStillImage && IsStillImage()) return Bitmap;
    if (Par->width <= 0 || Par->height <= 0) return NoPicture();
    bool NewStream = !FDecoder || FDecoderStream != Index;
    if (NewStream) OpenDecoder(Index);
    // The stream's declared size serves until a picture arrives; after that
    // the bitmap keeps the size of the latest picture, which may differ
    // when the size changes inside the stream, so that the black picture
    // at the end has the previous picture's size and a picture of that
    // size needs no new bitmap. A declared size beyond any real picture's
    // is not taken on trust: a broken 1 KB file that claims 14393 x 11538
    // would cost half a gigabyte and seconds before its first packet fails.
    if ((NewStream || Bitmap.Empty()) && (Bitmap.Width() != Par->width || Bitmap.Height() != Par->height)) {
        KeepLastFrame();
        if (int64_t(Par->width) * Par->height <= MaxDeclaredPixels)
            Bitmap.SetSize(Par->width, Par->height);
        else
            Bitmap.Clear();
    }
    ReceivePicture(Index);
    return Bitmap;
}

bool TAVProbe::ReceivePicture(int StreamIndex) {
    TBitmap& Bitmap = *FFrameBitmap;
    for (;;) {
        // One packet may hold several pictures and the decoder may hold
        // pictures back, so pending output comes first.
        int Result = av::avcodec_receive_frame(FDecoder, FPicture);
        if (Result >= 0 && FTargetStream == StreamIndex) {
            // Demuxers without an index land anywhere: what the decoder
            // gives before the first key frame is not a whole picture.
            if ((!FPictureSinceSeek && !FPicture->key_frame && FSeekRetries < 3) || SeekedTooLate(FPicture)) {
                av::av_frame_unref(FPicture);
                continue;
            }
            FPictureSinceSeek = true;
            if (BeforeTarget(FPicture)) {
                // Referenced, not copied: most pictures are passed over.
                if (!FPassed) FPassed = av::av_frame_alloc();
                if (FPassed) {
                    av::av_frame_unref(FPassed);
                    av::av_frame_ref(FPassed, FPicture);
                }
                av::av_frame_unref(FPicture);
                continue;
            }
            ForgetTarget();
        }
        if (Result >= 0) {
            bool Converted = ConvertPicture(FPicture);
            av::av_frame_unref(FPicture);
            if (!Converted) {
                KeepLastFrame();
                Bitmap.Fill(0, 0, 0);
                return false;
            }
            FLastFramePending = true;
            FStillImage = IsStillImage();
            return true;
        }
        if (Result == AVERROR_EOF || FDraining) {
            // The file ended before a whole picture came: the seek landed
            // inside the last group of pictures.
            if (FTargetStream == StreamIndex && SeekedTooLate(nullptr)) continue;
            // A target past the last picture: the last one is shown there.
            if (FTargetStream == StreamIndex && FPassed && FPassed->buf[0]) {
                const bool Converted = ConvertPicture(FPassed);
                ForgetTarget();
                if (Converted) {
                    FLastFramePending = true;
                    FStillImage = IsStillImage();
                    return true;
                }
            }
            break;
        }

        FContextMoved = true;
        Result = av::av_read_frame(FContext, FPacket);
        if (Result < 0) {
            // End of file or a read error: the decoder gives up the pictures
            // it still holds, then reports its end.
            FDraining = true;
            av::avcodec_send_packet(FDecoder, nullptr);
            continue;
        }
        if (FPacket->stream_index == StreamIndex) av::avcodec_send_packet(FDecoder, FPacket);
        av::av_packet_unref(FPacket);
    }
    Log(2, "stream eof reached.\n");
    KeepLastFrame();
    Bitmap.Fill(0, 0, 0);
    return false;
}

bool TAVProbe::ConvertPicture(const AVFrame* Picture) {
    TBitmap& Bitmap = *FFrameBitmap;
    int Width = Picture->width, Height = Picture->height;
    if (Width <= 0 || Height <= 0) return false;
    // The decoded size wins over the stream's declared one, so that a size
    // change inside the stream never writes past the bitmap.
    if (Bitmap.Width() != Width || Bitmap.Height() != Height) {
        KeepLastFrame();
        Bitmap.SetSize(Width, Height);
    }

    if (Picture->format == AV_PIX_FMT_BGR24) {
        const size_t RowBytes = static_cast<size_t>(Width) * 3;
        for (int Row = 0; Row < Height; ++Row)
            std::memcpy(Bitmap.ScanLine(Row), Picture->data[0] + static_cast<ptrdiff_t>(Row) * Picture->linesize[0],
                        RowBytes);
        return true;
    }
    FScaler = av::sws_getCachedContext(FScaler, Width, Height, static_cast<AVPixelFormat>(Picture->format), Width,
                                       Height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!FScaler) {
        Log(0, "Cannot initialize the toRGB conversion context\n");
        return false;
    }
    // Straight into the bitmap's rows: a preview step has no time for a
    // second copy of the picture.
    uint8_t* Planes[4] = {Bitmap.Bits(), nullptr, nullptr, nullptr};
    int Strides[4] = {Bitmap.Stride(), 0, 0, 0};
    av::sws_scale(FScaler, Picture->data, Picture->linesize, 0, Height, Planes, Strides);
    return true;
}
