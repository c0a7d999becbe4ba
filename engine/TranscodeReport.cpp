// The status line, OnProgress, the final byte totals and the video
// statistics file.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "common/Text.h"
#include "engine/Transcode.h"

namespace {

// The quantiser histogram of the `qphist` line accumulates over every job of
// the process.
std::atomic<int> QpHistogram[52];

double Psnr(double AError) { return -10.0 * std::log(AError) / std::log(10.0); }

}  // namespace

void TTranscoder::ReportProgress(bool AIsLast) {
    AVIOContext* Pb = State.OutputFiles[0]->pb;
    // The file on disk lags behind: the I/O buffer holds the last 32 KB and
    // the muxer's interleaving queue may hold seconds of packets. What the
    // encoders have handed over counts as written.
    int64_t TotalSize = Pb ? std::max(av::avio_size(Pb), av::avio_seek(Pb, 0, SEEK_CUR)) : 0;
    TotalSize = std::max(TotalSize, State.VideoSize + State.AudioSize + State.ExtraSize);

    std::string Text;
    double Time = 1e10;
    int FrameNumber = -1, Fps = -1;
    float Q = -1.0f;
    bool VideoSeen = false;
    for (auto& Ost : Outputs) {
        AVCodecContext* Enc = Ost->Codec;
        const bool Video = Enc->codec_type == AVMEDIA_TYPE_VIDEO;
        const float StreamQ = Ost->EncodingNeeded ? float(Ost->CodedQuality) / FF_QP2LAMBDA : -1.0f;
        if (VideoSeen && Video) Text += StrFormat("q=%2.1f ", StreamQ);
        if (!VideoSeen && Video) {
            const float T = float(av::av_gettime() - State.TimerStart) / 1000000.0f;
            FrameNumber = Ost->FrameNumber;
            if (FrameNumber < 1) return;
            Fps = T > 1 ? int(FrameNumber / T + 0.5f) : 0;
            Q = StreamQ;
            Text += StrFormat("frame=%5d fps=%3d q=%3.1f ", FrameNumber, Fps, Q);
            if (AIsLast) Text += "L";
            if (S.qphist) {
                const int Qp = int(std::lrint(double(Ost->CodedQuality) / FF_QP2LAMBDA));
                if (Qp >= 0 && Qp < 52) ++QpHistogram[Qp];
                for (int j = 0; j < 32; ++j)
                    Text += StrFormat("%X", int(std::lrint(std::log2(double(QpHistogram[j]) + 1))));
            }
            if (Ost->EncodingNeeded && (Enc->flags & AV_CODEC_FLAG_PSNR)) {
                double ErrorSum = 0, ScaleSum = 0;
                Text += "PSNR=";
                for (int j = 0; j < 3; ++j) {
                    const double Error = AIsLast ? double(Enc->error[j]) : double(Ost->CodedError[j]);
                    double Scale = double(Enc->width) * Enc->height * 255.0 * 255.0;
                    if (AIsLast) Scale *= FrameNumber;
                    if (j) Scale /= 4;
                    ErrorSum += Error;
                    ScaleSum += Scale;
                    Text += StrFormat("%c:%2.2f ", "YUV"[j], Psnr(Error / Scale));
                }
                Text += StrFormat("*:%2.2f ", Psnr(ErrorSum / ScaleSum));
            }
            VideoSeen = true;
        }
        const double StreamTime = double(Ost->MuxEnd) * av_q2d(Ost->Stream->time_base);
        if (StreamTime > 0 && StreamTime < Time) Time = StreamTime;
    }
    if (Time < 0.01) Time = 0.01;
    if (AIsLast && Time < 1e9) State.OutputSeconds = Time;

    if (E.OnProgress || S.v > 0 || AIsLast) {
        const double BitRate = double(TotalSize) * 8 / Time / 1000;
        Text += StrFormat("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(TotalSize) / 1024, Time, BitRate);
        if (S.v > 1) Text += StrFormat(" dup=%d drop=%d", State.FramesDuplicated, State.FramesDropped);
        if (E.OnProgress) {
            // Before any stream has a time the duration says 0, not 1e10 s.
            int Milliseconds = Time >= 1e9 ? 0 : int(Time * 1000);
            // Two passes share one bar: the first fills its first half.
            if (E.FitPass > 0 && E.TotalDuration > 0)
                Milliseconds = (E.FitPass == 1 ? 0 : E.TotalDuration / 2) + std::min(Milliseconds, E.TotalDuration) / 2;
            E.OnProgress(&E, FrameNumber, Fps, Milliseconds, Q, float(BitRate), TotalSize, E.TotalDuration);
        } else if (S.v >= 0 && E.OnLog) {
            E.Log(1, Text);
        }
    }
    if (AIsLast && S.v >= 0 && E.OnLog) {
        const double Raw = double(State.VideoSize + State.AudioSize + State.ExtraSize);
        E.Log(1, StrFormat("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                           double(State.VideoSize) / 1024, double(State.AudioSize) / 1024,
                           double(State.ExtraSize) / 1024, (double(TotalSize) - Raw) * 100 / Raw));
    }
}

void TTranscoder::WriteVideoStats(TOutputStreamRecord& AOst, int AFrameSize) {
    if (!State.VStatsFile) {
        State.VStatsFile = fopen(S.vstats.c_str(), "w");
        if (!State.VStatsFile) throw FFMpegException("fopen fail: " + S.vstats);
    }
    AVCodecContext* Enc = AOst.Codec;
    if (Enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    FILE* F = State.VStatsFile;
    fprintf(F, "frame= %5d q= %2.1f ", AOst.FrameNumber, double(AOst.CodedQuality) / FF_QP2LAMBDA);
    if (Enc->flags & AV_CODEC_FLAG_PSNR)
        fprintf(F, "PSNR= %6.2f ", Psnr(double(AOst.CodedError[0]) / (double(Enc->width) * Enc->height * 255.0 * 255.0)));
    fprintf(F, "f_size= %6d ", AFrameSize);
    double Time = double(AOst.SyncOpts) * av_q2d(Enc->time_base);
    if (Time < 0.01) Time = 0.01;
    const double BitRate = AFrameSize * 8 / av_q2d(Enc->time_base) / 1000;
    const double Average = double(State.VideoSize) * 8 / Time / 1000;
    fprintf(F, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", double(State.VideoSize) / 1024,
            Time, BitRate, Average);
    fprintf(F, "type= %c\n", av::av_get_picture_type_char(static_cast<AVPictureType>(AOst.CodedPictType)));
}
