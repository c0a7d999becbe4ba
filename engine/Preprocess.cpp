// Video pre-processing: deinterlacing, the custom hook with its 24-bit
// bitmap, and the plug-in chain with its frame selection.
#include <cstring>

#include "engine/Transcode.h"

bool DeinterlacePicture(TPicture& ATarget, const TPicture& ASource, AVPixelFormat AFormat, int AWidth, int AHeight) {
    const AVPixFmtDescriptor* Desc = av::av_pix_fmt_desc_get(AFormat);
    if (!Desc || !(Desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (Desc->flags & AV_PIX_FMT_FLAG_RGB) ||
        Desc->comp[0].depth != 8 || AHeight < 3)
        return false;
    for (int p = 0; p < Desc->nb_components && p < 4; ++p) {
        if (!ASource.data[p] || !ATarget.data[p]) continue;
        const int ShiftW = (p == 1 || p == 2) ? Desc->log2_chroma_w : 0;
        const int ShiftH = (p == 1 || p == 2) ? Desc->log2_chroma_h : 0;
        const int W = AV_CEIL_RSHIFT(AWidth, ShiftW), H = AV_CEIL_RSHIFT(AHeight, ShiftH);
        // Each row blends with its neighbours (1-2-1), which cancels the
        // comb of two fields without a frame of delay.
        for (int y = 0; y < H; ++y) {
            const uint8_t* Above = ASource.data[p] + ptrdiff_t(std::max(y - 1, 0)) * ASource.linesize[p];
            const uint8_t* Row = ASource.data[p] + ptrdiff_t(y) * ASource.linesize[p];
            const uint8_t* Below = ASource.data[p] + ptrdiff_t(std::min(y + 1, H - 1)) * ASource.linesize[p];
            uint8_t* Out = ATarget.data[p] + ptrdiff_t(y) * ATarget.linesize[p];
            for (int x = 0; x < W; ++x) Out[x] = uint8_t((Above[x] + 2 * Row[x] + Below[x] + 2) >> 2);
        }
    }
    return true;
}

namespace {

// Grows a buffer to hold a picture of the format and size; false when it
// cannot.
bool GrowPictureBuffer(uint8_t*& ABuffer, int& ASize, AVPixelFormat AFormat, int AWidth, int AHeight) {
    const int Needed = av::av_image_get_buffer_size(AFormat, AWidth, AHeight, 1);
    if (Needed <= 0) return false;
    if (!ABuffer || ASize < Needed) {
        if (ABuffer) av::av_free(ABuffer);
        ABuffer = static_cast<uint8_t*>(av::av_malloc(size_t(Needed)));
        ASize = ABuffer ? Needed : 0;
    }
    return ABuffer != nullptr;
}

}  // namespace

void TTranscoder::PreprocessVideoFrame(TInputStreamRecord& AIst, TPicture& APicture, AVPixelFormat AFormat,
                                       int AWidth, int AHeight) {
    ++E.HookFrameCounter;
    const int64_t Pts = AIst.Pts;

    // 2. Which frames the plug-in chain sees; with a custom hook, which
    // frames it sees, so that frames it would not use cost no conversion.
    bool CustomDue = E.OnCustomHook != nullptr;
    if (E.OnCustomHook && E.OnBeforeHook) {
        THookAction Action = haContinue;
        try {
            E.OnBeforeHook(&E, Action, Pts);
        } catch (const std::exception& Error) {
            if (E.OnLog) E.Log(0, std::string("Error occurs OnBeforeHook: ") + Error.what());
            Action = haStop;
        }
        if (Action == haStop) {
            E.OnBeforeHook = nullptr;
            E.OnCustomHook = nullptr;
        }
        CustomDue = Action == haContinue;
    } else if (!E.OnCustomHook && S.UsingHooks) {
        if (E.OnBeforeHook) {
            try {
                E.OnBeforeHook(&E, E.HookAction, Pts);
            } catch (const std::exception& Error) {
                if (E.OnLog) E.Log(0, std::string("Error occurs OnBeforeHook: ") + Error.what());
                E.HookAction = haStop;
            }
            if (E.HookAction == haStop) S.UsingHooks = false;
        } else if (E.HookRangeCount > 0) {
            E.HookAction = haIgnore;
            for (int i = E.HookRangeIndex; i < E.HookRangeCount; ++i) {
                const THookRange& Range = E.HookRanges[i];
                if (Range.RangeStart <= Pts && Pts <= Range.RangeEnd) {
                    E.HookRangeIndex = i;
                    E.HookAction = haContinue;
                    break;
                }
                if (i == E.HookRangeCount - 1 && Range.RangeEnd < Pts) {
                    E.HookAction = haStop;
                    S.UsingHooks = false;
                }
            }
        }
    }

    // 3. The work picture.
    TPicture Work = APicture;
    if (S.deinterlace || CustomDue || (!E.OnCustomHook && S.UsingHooks && E.HookAction == haContinue)) {
        if (!GrowPictureBuffer(E.HookBuffer, E.HookBufferSize, AFormat, AWidth, AHeight)) {
            if (E.OnLog) E.Log(0, "hook buf malloc error.");
            return;
        }
        av::av_image_fill_arrays(Work.data, Work.linesize, E.HookBuffer, AFormat, AWidth, AHeight, 1);
        if (S.deinterlace) {
            if (!DeinterlacePicture(Work, APicture, AFormat, AWidth, AHeight)) {
                E.Log(0, "Deinterlacing failed.");
                Work = APicture;
            }
        } else {
            av::av_image_copy(Work.data, Work.linesize, const_cast<const uint8_t**>(APicture.data), APicture.linesize,
                              AFormat, AWidth, AHeight);
        }
    }

    // 4. The custom hook.
    if (CustomDue) {
        bool Stop = false;
        if (E.HookBitmap && (E.HookBitmap->Width() != AWidth || E.HookBitmap->Height() != AHeight)) {
            delete E.HookBitmap;
            E.HookBitmap = nullptr;
        }
        if (!E.HookBitmap) E.HookBitmap = new TBitmap(AWidth, AHeight);
        TPicture Rgb = Work;
        if (E.HookRgbFormat != AFormat) {
            if (GrowPictureBuffer(E.RgbBuffer, E.RgbBufferSize, E.HookRgbFormat, AWidth, AHeight))
                av::av_image_fill_arrays(Rgb.data, Rgb.linesize, E.RgbBuffer, E.HookRgbFormat, AWidth, AHeight, 1);
            E.ToRgbContext = av::sws_getCachedContext(E.ToRgbContext, AWidth, AHeight, AFormat, AWidth, AHeight,
                                                      E.HookRgbFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (E.ToRgbContext && E.RgbBuffer) {
                av::sws_scale(E.ToRgbContext, Work.data, Work.linesize, 0, AHeight, Rgb.data, Rgb.linesize);
            } else {
                E.Log(0, "Cannot initialize the toRGB conversion context");
                Stop = true;
            }
        }
        if (!Stop) {
            TBitmap& Bitmap = *E.HookBitmap;
            const size_t RowBytes = size_t(AWidth) * 3;
            for (int r = 0; r < AHeight; ++r)
                memcpy(Bitmap.ScanLine(r), Rgb.data[0] + ptrdiff_t(r) * Rgb.linesize[0], RowBytes);
            bool Update = true;
            Bitmap.Lock();
            try {
                TCustomHookEvent Handler = E.OnCustomHook;
                Handler(&E, &Bitmap, E.HookFrameCounter, Pts, Update, Stop);
            } catch (const std::exception& Error) {
                if (E.OnLog) E.Log(0, std::string("Error occurs OnCustomHook: ") + Error.what());
                Update = false;
            }
            Bitmap.Unlock();
            if (Update) {
                for (int r = 0; r < AHeight; ++r)
                    memcpy(Rgb.data[0] + ptrdiff_t(r) * Rgb.linesize[0], Bitmap.ScanLine(r), RowBytes);
                if (E.HookRgbFormat != AFormat) {
                    E.FromRgbContext =
                        av::sws_getCachedContext(E.FromRgbContext, AWidth, AHeight, E.HookRgbFormat, AWidth, AHeight,
                                                 AFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
                    if (E.FromRgbContext) {
                        av::sws_scale(E.FromRgbContext, Rgb.data, Rgb.linesize, 0, AHeight, Work.data,
                                      Work.linesize);
                    } else {
                        E.Log(0, "Cannot initialize the fromRGB conversion context");
                        Stop = true;
                    }
                }
            }
        }
        if (Stop) {
            E.OnCustomHook = nullptr;
            E.HookAction = haStop;
            S.UsingHooks = false;
        }
    } else if (!E.OnCustomHook && S.UsingHooks && E.HookAction == haContinue) {
        // 5. The plug-in chain.
        RunFrameHooks(E.HookChain, &Work, AFormat, AWidth, AHeight, Pts);
    }

    // 6. The caller goes on with the work picture.
    APicture = Work;
}
