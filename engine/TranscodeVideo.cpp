// The video output path: frame-rate synchronisation, crop, scale and pad,
// and one encode per written copy.
#include <cmath>
#include <cstring>

#include "common/Text.h"
#include "engine/Transcode.h"

bool CropPictureView(TPicture& AView, const TPicture& APicture, AVPixelFormat AFormat, int ATop, int ALeft) {
    const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AFormat);
    if (!Desc || (Desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))) return false;
    int Step[4] = {};
    for (int c = 0; c < Desc->nb_components; ++c) {
        const AVComponentDescriptor& Comp = Desc->comp[c];
        if (!Step[Comp.plane]) Step[Comp.plane] = Comp.step;
    }
    for (int p = 0; p < 4; ++p) {
        AView.linesize[p] = APicture.linesize[p];
        if (!APicture.data[p]) {
            AView.data[p] = nullptr;
            continue;
        }
        const bool Chroma = p == 1 || p == 2;
        const int Top = Chroma ? ATop >> Desc->log2_chroma_h : ATop;
        const int Left = Chroma ? ALeft >> Desc->log2_chroma_w : ALeft;
        AView.data[p] = APicture.data[p] + ptrdiff_t(Top) * APicture.linesize[p] + ptrdiff_t(Left) * Step[p];
    }
    return true;
}

bool PaintPictureBorders(TPicture& APicture, AVPixelFormat AFormat, int AWidth, int AHeight, int ATop, int ABottom,
                         int ALeft, int ARight, const int AColor[3]) {
    const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AFormat);
    if (!Desc || !(Desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (Desc->flags & AV_PIX_FMT_FLAG_RGB) ||
        Desc->comp[0].depth != 8 || Desc->nb_components < 3)
        return false;
    for (int p = 0; p < 3; ++p) {
        const int ShiftW = p ? Desc->log2_chroma_w : 0, ShiftH = p ? Desc->log2_chroma_h : 0;
        const int W = AV_CEIL_RSHIFT(AWidth, ShiftW), H = AV_CEIL_RSHIFT(AHeight, ShiftH);
        const int Top = ATop >> ShiftH, Bottom = ABottom >> ShiftH;
        const int Left = ALeft >> ShiftW, Right = ARight >> ShiftW;
        const uint8_t Value = static_cast<uint8_t>(AColor[p]);
        for (int y = 0; y < H; ++y) {
            uint8_t* Row = APicture.data[p] + ptrdiff_t(y) * APicture.linesize[p];
            if (y < Top || y >= H - Bottom) {
                memset(Row, Value, size_t(W));
            } else {
                memset(Row, Value, size_t(std::min(Left, W)));
                if (Right > 0) memset(Row + W - std::min(Right, W), Value, size_t(std::min(Right, W)));
            }
        }
    }
    return true;
}

// Start codes cannot occur inside MPEG-4 picture data, so a match is a header.
void SetMpeg4ProfileLevel(uint8_t* AData, int ASize, int AProfileLevel) {
    if (!AData) return;
    for (int i = 0; i + 4 < ASize; ++i)
        if (AData[i] == 0 && AData[i + 1] == 0 && AData[i + 2] == 1 && AData[i + 3] == 0xB0)
            AData[i + 4] = uint8_t(AProfileLevel);
}

// Paints the borders around what the scaler or the copy put inside.
void TTranscoder::PadPicture(TOutputStreamRecord& AOst, AVFrame* AFinal) {
    TPicture Final;
    for (int i = 0; i < 4; ++i) {
        Final.data[i] = AFinal->data[i];
        Final.linesize[i] = AFinal->linesize[i];
    }
    PaintPictureBorders(Final, static_cast<AVPixelFormat>(AFinal->format), AFinal->width, AFinal->height,
                        AOst.PadTop, AOst.PadBottom, AOst.PadLeft, AOst.PadRight, S.padcolor);
}

void TTranscoder::MatchScaler(TOutputStreamRecord& AOst, int AWidth, int AHeight, AVPixelFormat AFormat) {
    AVCodecContext* Enc = AOst.Codec;
    const int SourceW = AWidth - S.cropleft - S.cropright, SourceH = AHeight - S.croptop - S.cropbottom;
    const int InnerW = Enc->width - AOst.PadLeft - AOst.PadRight, InnerH = Enc->height - AOst.PadTop - AOst.PadBottom;
    const TScalerSource Source{SourceW, SourceH, AFormat};
    if (AOst.ScalerContext ? Source == AOst.ScalerSource
                           : SourceW == InnerW && SourceH == InnerH && AFormat == Enc->pix_fmt)
        return;
    // The scaler library aborts the process on a format it has no
    // description of.
    if (SourceW <= 0 || SourceH <= 0 || !av::av_pix_fmt_desc_get(AFormat) || !av::av_pix_fmt_desc_get(Enc->pix_fmt))
        throw FFMpegException("Cannot get resampling context");
    AOst.ScalerContext = av::sws_getCachedContext(AOst.ScalerContext, SourceW, SourceH, AFormat, InnerW, InnerH,
                                                  Enc->pix_fmt, S.ScalerFlags, nullptr, nullptr, nullptr);
    if (!AOst.ScalerContext) throw FFMpegException("Cannot get resampling context");
    AOst.ScalerSource = Source;
    AOst.ScaleHeight = SourceH;
    AOst.VideoResample = true;
    if (!AOst.TempPicture) {
        AOst.TempPicture = av::av_frame_alloc();
        if (!AOst.TempPicture) throw FFMpegException("Cannot allocate temp picture, check pix fmt");
        AOst.TempPicture->format = Enc->pix_fmt;
        AOst.TempPicture->width = Enc->width;
        AOst.TempPicture->height = Enc->height;
        if (av::av_frame_get_buffer(AOst.TempPicture, 0) < 0)
            throw FFMpegException("Cannot allocate temp picture, check pix fmt");
    }
}

void TTranscoder::EncodeVideo(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, TPicture& APicture,
                              const AVFrame* AFrame, int& ASize) {
    AVCodecContext* Enc = AOst.Codec;
    AVCodecContext* Dec = AIst.Codec;
    ASize = 0;
    int Copies = 1;

    // 2. Frame-rate synchronisation.
    const double SyncTime = double(AOst.SyncStream->Pts - S.ss) / 1000000.0;
    const double TimeBase = av_q2d(Enc->time_base);
    if (S.vsync > 0 || (S.vsync != 0 && TimeBase > 0.001)) {
        const double Delta = SyncTime / TimeBase - double(AOst.SyncOpts);
        if (Delta < -1.1)
            Copies = 0;
        else if (S.vsync == 2)
            AOst.SyncOpts = std::llrint(SyncTime / TimeBase);
        else if (Delta > 1.1)
            Copies = int(std::nearbyint(Delta));
        if (Copies == 0) {
            ++State.FramesDropped;
            if (S.v > 2) E.Log(1, "*** drop!");
        } else if (Copies > 1) {
            State.FramesDuplicated += Copies - 1;
            if (S.v > 2) E.Log(1, StrFormat("*** %d dup!", Copies - 1));
        }
    } else {
        AOst.SyncOpts = std::llrint(SyncTime / TimeBase);
    }

    // 3.
    Copies = int(std::min<int64_t>(Copies, int64_t(S.vframes) - AOst.FrameNumber));
    if (Copies <= 0) return;

    // A stream that changes size or format midway is scaled from then on:
    // the encoder's size stays, and nothing reads past the picture.
    const AVPixelFormat InFormat = AFrame ? static_cast<AVPixelFormat>(AFrame->format) : Dec->pix_fmt;
    if (S.vfilters.empty() && AFrame) MatchScaler(AOst, AFrame->width, AFrame->height, InFormat);

    // 4. Crop: a view of the picture.
    TPicture Formatted = APicture;
    if (S.vfilters.empty() && AOst.VideoCrop &&
        !CropPictureView(Formatted, APicture, InFormat, AOst.CropTop, AOst.CropLeft)) {
        if (S.xerror) throw FFMpegException("error cropping picture");
        E.Log(0, "error cropping picture");
        return;
    }

    // 5. Scale and pad into the temporary picture.
    TPicture Final = Formatted;
    bool UseTemp = false;
    if (AOst.VideoPad || AOst.VideoResample) {
        if (av::av_frame_make_writable(AOst.TempPicture) < 0) throw FFMpegException("Video encoding failed");
        UseTemp = true;
        TPicture Temp;
        for (int i = 0; i < 4; ++i) {
            Temp.data[i] = AOst.TempPicture->data[i];
            Temp.linesize[i] = AOst.TempPicture->linesize[i];
        }
        TPicture ScaleTarget = Temp;
        if (AOst.VideoPad &&
            !CropPictureView(ScaleTarget, Temp, Enc->pix_fmt, AOst.PadTop, AOst.PadLeft)) {
            if (S.xerror) throw FFMpegException("error padding picture");
            E.Log(0, "error padding picture");
            return;
        }
        if (S.vfilters.empty() && AOst.VideoResample) {
            av::sws_scale(AOst.ScalerContext, Formatted.data, Formatted.linesize, 0, AOst.ScaleHeight,
                          ScaleTarget.data, ScaleTarget.linesize);
        } else {
            // No scaler (or the graph scaled): the picture goes into the inner area.
            const int InnerW = Enc->width - AOst.PadLeft - AOst.PadRight;
            const int InnerH = Enc->height - AOst.PadTop - AOst.PadBottom;
            av::av_image_copy(ScaleTarget.data, ScaleTarget.linesize, const_cast<const uint8_t**>(Formatted.data),
                              Formatted.linesize, Enc->pix_fmt, InnerW, InnerH);
        }
        if (AOst.VideoPad) PadPicture(AOst, AOst.TempPicture);
        Final = Temp;
    }

    // 6. One encode per copy; none beyond the recording time.
    for (int Copy = 0; Copy < Copies && !E.StopRequested; ++Copy) {
        if (Copy > 0) E.WaitWhilePaused();
        if (S.t != INT64_MAX && double(AOst.SyncOpts) * TimeBase >= double(S.t) / 1000000.0 - 1e-9) return;
        AVFrame*& Frame = AOst.EncodeFrame;
        if (!Frame && !(Frame = av::av_frame_alloc())) throw FFMpegException("Video encoding failed");
        av::av_frame_unref(Frame);
        if (UseTemp) {
            // The encoder may keep the picture: it gets its own reference.
            if (av::av_frame_ref(Frame, AOst.TempPicture) < 0) throw FFMpegException("Video encoding failed");
        } else {
            // Not reference counted: the encoder copies what it keeps.
            Frame->format = Enc->pix_fmt;
            Frame->width = Enc->width;
            Frame->height = Enc->height;
            for (int i = 0; i < 4; ++i) {
                Frame->data[i] = Final.data[i];
                Frame->linesize[i] = Final.linesize[i];
            }
        }
        Frame->interlaced_frame = AFrame ? AFrame->interlaced_frame : 0;
        const AVCodecContext* Options = State.OptionCodecContexts[0];
        if (Options && (Options->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)))
            Frame->top_field_first = S.top == -1 ? (AFrame ? AFrame->top_field_first : 0) : S.top;
        Frame->quality = int(std::lrint(S.sameq ? double(AIst.Quality) : double(AOst.Setup->Quality)));
        if (S.me_threshold == 0) Frame->pict_type = AV_PICTURE_TYPE_NONE;
        Frame->pts = AOst.SyncOpts;
        Frame->sample_aspect_ratio = Enc->sample_aspect_ratio;
        // Timestamps must increase: a picture pulled back by the clock is dropped.
        if (AOst.LastVideoPts != AV_NOPTS_VALUE && Frame->pts <= AOst.LastVideoPts) {
            ++State.FramesDropped;
            av::av_frame_unref(Frame);
            return;
        }
        AOst.LastVideoPts = Frame->pts;
        const int64_t Before = State.VideoSize;
        int Result = av::avcodec_send_frame(Enc, Frame);
        av::av_frame_unref(Frame);
        if (Result < 0) throw FFMpegException("Video encoding failed");
        DrainEncoder(AOst);
        if (State.VideoSize > Before) ASize = int(State.VideoSize - Before);
        ++AOst.SyncOpts;
        ++AOst.FrameNumber;
    }
}

void TTranscoder::RepeatStills(int64_t AUntil) {
    for (size_t i = 0; i < Inputs.size(); ++i) {
        TInputStreamRecord& Ist = *Inputs[i];
        if (!Ist.Still || AUntil <= Ist.Pts) continue;
        // Only when a whole picture is due: every push writes at least one.
        bool Due = false;
        for (auto& Ost : Outputs)
            if (Ost->SourceIndex == int(i) && Ost->EncodingNeeded && Ost->SyncStream == &Ist)
                Due |= double(AUntil - S.ss) / 1000000.0 / av_q2d(Ost->Codec->time_base) - double(Ost->SyncOpts) >= 1.0;
        if (!Due) continue;
        Ist.Pts = AUntil;
        PushPicture(Ist, int(i), Ist.Still);
    }
}
