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
    ++State.HookFrameCounter;
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
                E.OnBeforeHook(&E, State.HookAction, Pts);
            } catch (const std::exception& Error) {
                if (E.OnLog) E.Log(0, std::string("Error occurs OnBeforeHook: ") + Error.what());
                State.HookAction = haStop;
            }
            if (State.HookAction == haStop) S.UsingHooks = false;
        } else if (State.HookRangeCount > 0) {
            State.HookAction = haIgnore;
            for (int i = State.HookRangeIndex; i < State.HookRangeCount; ++i) {
                const THookRange& Range = State.HookRanges[i];
                if (Range.RangeStart <= Pts && Pts <= Range.RangeEnd) {
                    State.HookRangeIndex = i;
                    State.HookAction = haContinue;
                    break;
                }
                if (i == State.HookRangeCount - 1 && Range.RangeEnd < Pts) {
                    State.HookAction = haStop;
                    S.UsingHooks = false;
                }
            }
        }
    }

    // 3. The work picture.
    TPicture Work = APicture;
    if (S.deinterlace || CustomDue || (!E.OnCustomHook && S.UsingHooks && State.HookAction == haContinue)) {
        if (!GrowPictureBuffer(State.HookBuffer, State.HookBufferSize, AFormat, AWidth, AHeight)) {
            if (E.OnLog) E.Log(0, "hook buf malloc error.");
            return;
        }
        av::av_image_fill_arrays(Work.data, Work.linesize, State.HookBuffer, AFormat, AWidth, AHeight, 1);
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
        if (State.HookBitmap && (State.HookBitmap->Width() != AWidth || State.HookBitmap->Height() != AHeight)) {
            delete State.HookBitmap;
            State.HookBitmap = nullptr;
        }
        if (!State.HookBitmap) State.HookBitmap = new TBitmap(AWidth, AHeight);
        TPicture Rgb = Work;
        if (State.HookRgbFormat != AFormat) {
            if (GrowPictureBuffer(State.RgbBuffer, State.RgbBufferSize, State.HookRgbFormat, AWidth, AHeight))
                av::av_image_fill_arrays(Rgb.data, Rgb.linesize, State.RgbBuffer, State.HookRgbFormat, AWidth, AHeight,
                                         1);
            State.ToRgbContext = av::sws_getCachedContext(State.ToRgbContext, AWidth, AHeight, AFormat, AWidth, AHeight,
                                                      State.HookRgbFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (State.ToRgbContext && State.RgbBuffer) {
                av::sws_scale(State.ToRgbContext, Work.data, Work.linesize, 0, AHeight, Rgb.data, Rgb.linesize);
            } else {
                E.Log(0, "Cannot initialize the toRGB conversion context");
                Stop = true;
            }
        }
        if (!Stop) {
            TBitmap& Bitmap = *State.HookBitmap;
            const size_t RowBytes = size_t(AWidth) * 3;
            for (int r = 0; r < AHeight; ++r)
                memcpy(Bitmap.ScanLine(r), Rgb.data[0] + ptrdiff_t(r) * Rgb.linesize[0], RowBytes);
            bool Update = true;
            Bitmap.Lock();
            try {
                TCustomHookEvent Handler = E.OnCustomHook;
                Handler(&E, &Bitmap, State.HookFrameCounter, Pts, Update, Stop);
            } catch (const std::exception& Error) {
                if (E.OnLog) E.Log(0, std::string("Error occurs OnCustomHook: ") + Error.what());
                Update = false;
            }
            Bitmap.Unlock();
            if (Update) {
                for (int r = 0; r < AHeight; ++r)
                    memcpy(Rgb.data[0] + ptrdiff_t(r) * Rgb.linesize[0], Bitmap.ScanLine(r), RowBytes);
                if (State.HookRgbFormat != AFormat) {
                    State.FromRgbContext =
                        av::sws_getCachedContext(State.FromRgbContext, AWidth, AHeight, State.HookRgbFormat, AWidth,
                                                 AHeight, AFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
                    if (State.FromRgbContext) {
                        av::sws_scale(State.FromRgbContext, Rgb.data, Rgb.linesize, 0, AHeight, Work.data,
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
            State.HookAction = haStop;
            S.UsingHooks = false;
        }
    } else if (!E.OnCustomHook && S.UsingHooks && State.HookAction == haContinue) {
        // 5. The plug-in chain.
        RunFrameHooks(State.HookChain, &Work, AFormat, AWidth, AHeight, Pts);
    }

    // 6. The caller goes on with the work picture.
    APicture = Work;
}
