// The audio output path: synchronisation against the sync stream, resampling
// and sample-format conversion, the encoder FIFO and the encoder.
#include <cmath>
#include <cstring>

#include "common/Text.h"
#include "engine/Transcode.h"

namespace {

// The largest block that padding with silence may produce, in sample
// frames (131072 bytes of 16-bit stereo).
constexpr int MaxPaddedSamples = 32768;

}  // namespace

// How many of ACount new samples fit before the recording time ends.
int TTranscoder::KeptSamples(const TOutputStreamRecord& AOst, int ACount) const {
    if (S.t == INT64_MAX) return ACount;
    const int64_t Limit = av::av_rescale(S.t, AOst.Codec->sample_rate, 1000000);
    return int(std::clamp<int64_t>(Limit - AcceptedSamples(AOst), 0, ACount));
}

void TTranscoder::EnsureResampler(TOutputStreamRecord& AOst, TInputStreamRecord& AIst) {
    AVCodecContext* Enc = AOst.Codec;
    AVCodecContext* Dec = AIst.Codec;
    const AVSampleFormat DecFormat = av::av_get_packed_sample_fmt(Dec->sample_fmt);
    const bool Convert = DecFormat != Enc->sample_fmt;
    if (Enc->ch_layout.nb_channels != Dec->ch_layout.nb_channels) AOst.AudioResample = true;
    // A stream that changes its format midway gets a new converter.
    const int Input[3] = {DecFormat, Dec->sample_rate, Dec->ch_layout.nb_channels};
    if (AOst.Resampler && !std::equal(Input, Input + 3, AOst.ResamplerInput)) av::swr_free(&AOst.Resampler);
    if (AOst.Resampler || (!AOst.AudioResample && !Convert)) return;
    std::copy(Input, Input + 3, AOst.ResamplerInput);

    // A decoder layout of unknown order becomes the default one for its count.
    AVChannelLayout InLayout{};
    if (Dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av::av_channel_layout_default(&InLayout, Dec->ch_layout.nb_channels);
    else
        av::av_channel_layout_copy(&InLayout, &Dec->ch_layout);
    int Result = av::swr_alloc_set_opts2(&AOst.Resampler, &Enc->ch_layout, Enc->sample_fmt, Enc->sample_rate,
                                         &InLayout, DecFormat, Dec->sample_rate, 0, nullptr);
    av::av_channel_layout_uninit(&InLayout);
    if (Result >= 0) Result = av::swr_init(AOst.Resampler);
    if (Result < 0) {
        if (AOst.Resampler) av::swr_free(&AOst.Resampler);
        if (AOst.AudioResample)
            throw FFMpegException(StrFormat("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                            Dec->ch_layout.nb_channels, Dec->sample_rate, Enc->ch_layout.nb_channels,
                                            Enc->sample_rate));
        const char* From = av::av_get_sample_fmt_name(DecFormat);
        const char* To = av::av_get_sample_fmt_name(Enc->sample_fmt);
        throw FFMpegException(StrFormat("Cannot convert %s sample format to %s sample format", From ? From : "none",
                                        To ? To : "none"));
    }
}

// AVI places sound by its position alone: a first timestamp later than
// the start would be lost.
bool TTranscoder::PositionalAudio(const TOutputStreamRecord& AOst) {
    return std::strcmp(AOst.File->oformat->name, "avi") == 0;
}

// Sound that starts after the picture starts with silence in its place.
void TTranscoder::LeadWithSilence(TOutputStreamRecord& AOst) {
    AVCodecContext* Enc = AOst.Codec;
    constexpr int Chunk = 4096;
    const int Channels = Enc->ch_layout.nb_channels;
    const bool Planar = av::av_sample_fmt_is_planar(Enc->sample_fmt);
    const int Planes = Planar ? Channels : 1;
    const size_t PlaneSize = size_t(Chunk) * av::av_get_bytes_per_sample(Enc->sample_fmt) * (Planar ? 1 : Channels);
    std::vector<uint8_t> Buffer(PlaneSize * Planes);
    std::vector<uint8_t*> Silence(Planes);
    for (int p = 0; p < Planes; ++p) Silence[p] = Buffer.data() + PlaneSize * p;
    av::av_samples_set_silence(Silence.data(), 0, Chunk, Channels, Enc->sample_fmt);
    const int Late = int(std::min<int64_t>(AOst.SyncOpts, INT32_MAX));
    // The silence is the stream's start: the samples count from 0.
    AOst.SyncOpts = 0;
    int64_t Missing = KeptSamples(AOst, Late);
    if (S.v > 2) E.Log(1, StrFormat("adding %d audio samples of silence", int(Missing)));
    while (Missing > 0) {
        const int Count = int(std::min<int64_t>(Missing, Chunk));
        if (av::av_audio_fifo_write(AOst.Fifo, reinterpret_cast<void**>(Silence.data()), Count) < Count)
            throw FFMpegException("av_fifo_realloc2() failed");
        Missing -= Count;
        EncodeAudioFrames(AOst, false);
    }
}

int64_t TTranscoder::AcceptedSamples(const TOutputStreamRecord& AOst) {
    const int64_t Given = AOst.NextAudioPts != AV_NOPTS_VALUE ? AOst.NextAudioPts : std::max<int64_t>(AOst.SyncOpts, 0);
    return Given + av::av_audio_fifo_size(AOst.Fifo);
}

void TTranscoder::EncodeAudio(TOutputStreamRecord& AOst, TInputStreamRecord& AIst, uint8_t* AData, int ASize) {
    AVCodecContext* Enc = AOst.Codec;
    AVCodecContext* Dec = AIst.Codec;
    const AVSampleFormat DecFormat = av::av_get_packed_sample_fmt(Dec->sample_fmt);
    const int DecChannels = Dec->ch_layout.nb_channels;
    const int EncChannels = Enc->ch_layout.nb_channels;
    const int FrameBytes = av::av_get_bytes_per_sample(DecFormat) * DecChannels;  // one input sample frame
    if (FrameBytes <= 0 || EncChannels <= 0) return;

    EnsureResampler(AOst, AIst);

    // Synchronisation.
    const int64_t Queued = av::av_audio_fifo_size(AOst.Fifo);
    const double SyncTime = double(AOst.SyncStream->Pts - S.ss) / 1000000.0;
    if (S.async) {
        const double Delta = SyncTime * Enc->sample_rate - double(AOst.SyncOpts) - double(Queued);
        const double InputDelta = Delta * Dec->sample_rate / Enc->sample_rate;
        int64_t ByteDelta = int64_t(InputDelta) * FrameBytes;
        if (std::fabs(Delta) > 50) {
            if (AIst.IsStart || std::fabs(Delta) > S.adrift_threshold * Enc->sample_rate) {
                if (ByteDelta < 0) {
                    // Output ahead: cut the start of the block.
                    ByteDelta = std::max<int64_t>(ByteDelta, -ASize);
                    AData -= ByteDelta;
                    ASize += int(ByteDelta);
                    if (S.v > 2) E.Log(1, StrFormat("discarding %d audio samples", int(-Delta)));
                    if (ASize <= 0) return;
                    AIst.IsStart = false;
                } else {
                    // Output behind: silence before the block.
                    const int64_t Limit = int64_t(MaxPaddedSamples) * FrameBytes;
                    if (ASize + ByteDelta <= Limit)
                        AIst.IsStart = false;
                    else
                        ByteDelta = std::max<int64_t>(Limit - ASize, 0);
                    AOst.Padding.resize(size_t(ASize + ByteDelta));
                    memset(AOst.Padding.data(), DecFormat == AV_SAMPLE_FMT_U8 ? 0x80 : 0, size_t(ByteDelta));
                    memcpy(AOst.Padding.data() + ByteDelta, AData, size_t(ASize));
                    AData = AOst.Padding.data();
                    ASize += int(ByteDelta);
                    if (S.v > 2) E.Log(1, StrFormat("adding %d audio samples of silence", int(Delta)));
                }
            } else if (S.async > 1) {
                const int Compensation = std::clamp(int(Delta), -S.async, S.async);
                if (S.v > 2)
                    E.Log(1, StrFormat("compensating audio timestamp drift:%f compensation:%d in:%d", Delta,
                                       Compensation, Enc->sample_rate));
                if (AOst.Resampler) av::swr_set_compensation(AOst.Resampler, Compensation, Enc->sample_rate);
            }
        }
    } else {
        AOst.SyncOpts = std::llrint(SyncTime * Enc->sample_rate) - Queued;
        if (AOst.NextAudioPts == AV_NOPTS_VALUE && Queued == 0 && AOst.SyncOpts > 0 && PositionalAudio(AOst))
            LeadWithSilence(AOst);
    }

    // Resampling and conversion into the encoder's format, straight into
    // the FIFO.
    const int InSamples = ASize / FrameBytes;
    if (AOst.Resampler) {
        const int Capacity = av::swr_get_out_samples(AOst.Resampler, InSamples) + 256;
        const int OutBytes = av::av_get_bytes_per_sample(Enc->sample_fmt);
        const bool Planar = av::av_sample_fmt_is_planar(Enc->sample_fmt);
        const size_t PlaneSize = size_t(Capacity) * OutBytes * (Planar ? 1 : EncChannels);
        const int Planes = Planar ? EncChannels : 1;
        if (AOst.Converted.size() < PlaneSize * Planes) AOst.Converted.resize(PlaneSize * Planes);
        uint8_t* Out[AV_NUM_DATA_POINTERS * 8] = {};
        for (int p = 0; p < Planes && p < int(std::size(Out)); ++p) Out[p] = AOst.Converted.data() + PlaneSize * p;
        const uint8_t* In[1] = {AData};
        const int Produced = av::swr_convert(AOst.Resampler, Out, Capacity, In, InSamples);
        if (Produced < 0) {
            if (S.xerror) throw FFMpegException("av_audio_convert() failed");
            E.Log(0, "av_audio_convert() failed");
            return;
        }
        const int Kept = KeptSamples(AOst, Produced);
        if (Kept > 0 && av::av_audio_fifo_write(AOst.Fifo, reinterpret_cast<void**>(Out), Kept) < Kept)
            throw FFMpegException("av_fifo_realloc2() failed");
    } else {
        void* In[1] = {AData};
        const int Kept = KeptSamples(AOst, InSamples);
        if (Kept > 0 && av::av_audio_fifo_write(AOst.Fifo, In, Kept) < Kept)
            throw FFMpegException("av_fifo_realloc2() failed");
    }
    EncodeAudioFrames(AOst, false);
}

// Encodes what the FIFO holds: whole encoder frames, everything for
// sample-based encoders, and at the end the rest and the encoder's delay.
void TTranscoder::EncodeAudioFrames(TOutputStreamRecord& AOst, bool AFlush) {
    AVCodecContext* Enc = AOst.Codec;
    const bool Variable = (Enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || Enc->frame_size <= 1;
    const bool SmallLast = Enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    auto Encode = [&](int ACount) {
        AVFrame*& Frame = AOst.EncodeFrame;
        if (!Frame && !(Frame = av::av_frame_alloc())) throw FFMpegException("av_malloc failed");
        if (Frame->nb_samples != ACount || !Frame->buf[0]) {
            av::av_frame_unref(Frame);
            Frame->nb_samples = ACount;
            Frame->format = Enc->sample_fmt;
            Frame->sample_rate = Enc->sample_rate;
            av::av_channel_layout_copy(&Frame->ch_layout, &Enc->ch_layout);
            if (av::av_frame_get_buffer(Frame, 0) < 0) throw FFMpegException("av_malloc failed");
        } else if (av::av_frame_make_writable(Frame) < 0) {
            throw FFMpegException("av_malloc failed");
        }
        av::av_audio_fifo_read(AOst.Fifo, reinterpret_cast<void**>(Frame->extended_data), ACount);
        // The samples are contiguous: timestamps count them from the first.
        if (AOst.NextAudioPts == AV_NOPTS_VALUE) AOst.NextAudioPts = std::max<int64_t>(AOst.SyncOpts, 0);
        Frame->pts = AOst.NextAudioPts;
        AOst.NextAudioPts += ACount;
        AOst.SyncOpts += ACount;
        if (av::avcodec_send_frame(Enc, Frame) < 0) throw FFMpegException("Audio encoding failed");
        DrainEncoder(AOst);
    };

    if (Variable) {
        const int Count = av::av_audio_fifo_size(AOst.Fifo);
        if (Count > 0) Encode(Count);
    } else {
        while (av::av_audio_fifo_size(AOst.Fifo) >= Enc->frame_size) Encode(Enc->frame_size);
        if (AFlush && SmallLast && av::av_audio_fifo_size(AOst.Fifo) > 0) Encode(av::av_audio_fifo_size(AOst.Fifo));
    }
    if (AFlush && av::avcodec_send_frame(Enc, nullptr) >= 0) DrainEncoder(AOst);
}
