// The transcode's set-up: everything before the first packet is read.
#include <cstring>

#include "common/MediaText.h"
#include "common/Text.h"
#include "engine/Transcode.h"

TTranscoder::TTranscoder(TCustomFFmpeg& AEngine) : E(AEngine), S(AEngine.Settings), State(AEngine.State()) {}

// Frees every record and what hangs from it; the failure path and the end
// of the job both end here.
TTranscoder::~TTranscoder() {
    for (auto& Ost : Outputs) {
        if (Ost->LogFile) fclose(Ost->LogFile);
        if (Ost->Fifo) av::av_audio_fifo_free(Ost->Fifo);
        if (Ost->TempPicture) av::av_frame_free(&Ost->TempPicture);
        if (Ost->EncodeFrame) av::av_frame_free(&Ost->EncodeFrame);
        if (Ost->ScalerContext) av::sws_freeContext(Ost->ScalerContext);
        if (Ost->Resampler) av::swr_free(&Ost->Resampler);
    }
    for (auto& Ist : Inputs) {
        if (Ist->Graph) av::avfilter_graph_free(&Ist->Graph);
        if (Ist->Still) av::av_frame_free(&Ist->Still);
    }
    if (Decoded) av::av_frame_free(&Decoded);
    if (Filtered) av::av_frame_free(&Filtered);
    if (Packet) av::av_packet_free(&Packet);
    if (OutPacket) av::av_packet_free(&OutPacket);
}

void TTranscoder::Fail(const std::string& AMessage) { throw FFMpegException(AMessage); }

int TTranscoder::WriteError(int AFile, int AResult) const {
    const AVIOContext* Pb = State.OutputFiles[AFile]->pb;
    // A write cut off by a stop request is not the file system's doing.
    if (Pb && Pb->error < 0 && Pb->error != AVERROR_EXIT) return Pb->error;
    switch (AResult) {
        case AVERROR(ENOSPC):
        case AVERROR(EFBIG):
        case AVERROR(EDQUOT):
        case AVERROR(EROFS):
        case AVERROR(EIO):
            return AResult;
        default:
            return 0;
    }
}

void TTranscoder::FailWrite(int AFile, int ACode) {
    State.OutputBroken[AFile] = true;
    const char* Url = State.OutputFiles[AFile]->url;
    Fail(StrFormat("Could not write '%s': %s (the unfinished file is removed)", Url ? Url : "",
                   AVErrorString(ACode).c_str()));
}

void TTranscoder::Run() {
    Setup();
    ReadLoop();
    FinishJob();
}

void TTranscoder::Setup() {
    Decoded = av::av_frame_alloc();
    Filtered = av::av_frame_alloc();
    Packet = av::av_packet_alloc();
    OutPacket = av::av_packet_alloc();
    if (!Decoded || !Filtered || !Packet || !OutPacket) Fail("av_mallocz fail");

    // 1.-2. Input files and streams.
    Files.resize(State.InputFileCount);
    for (int i = 0; i < State.InputFileCount; ++i) {
        AVFormatContext* In = State.InputFiles[i];
        Files[i].FirstStream = static_cast<int>(Inputs.size());
        Files[i].StreamCount = static_cast<int>(In->nb_streams);
        for (unsigned j = 0; j < In->nb_streams; ++j) {
            auto Ist = std::make_unique<TInputStreamRecord>();
            Ist->FileIndex = i;
            Ist->StreamIndex = static_cast<int>(j);
            Ist->Stream = In->streams[j];
            Ist->Codec = j < State.InputCodecs[i].size() ? State.InputCodecs[i][j] : nullptr;
            if (!Ist->Codec) Fail("av_mallocz fail");
            Ist->RateEmulation = State.InputRateEmulation[i];
            if (Ist->RateEmulation) Ist->StartTime = av::av_gettime();
            Inputs.push_back(std::move(Ist));
        }
    }

    // 3.-5. Output streams and maps.
    int OutputCount = 0;
    for (int i = 0; i < State.OutputFileCount; ++i) {
        if (State.OutputFiles[i]->nb_streams == 0) Fail("Output file does not contain any stream");
        OutputCount += static_cast<int>(State.OutputFiles[i]->nb_streams);
    }
    if (State.StreamMapCount > 0 && State.StreamMapCount != OutputCount)
        Fail("Number of stream maps must match number of output streams");
    for (int i = 0; i < State.StreamMapCount; ++i) {
        const TStreamMap& M = State.StreamMaps[i];
        if (M.FileIndex < 0 || M.FileIndex > State.InputFileCount - 1 || M.StreamIndex < 0 ||
            M.StreamIndex > Files[M.FileIndex].StreamCount - 1)
            Fail(StrFormat("Could not find input stream #%d.%d", M.FileIndex, M.StreamIndex));
        if (M.SyncFileIndex < 0 || M.SyncFileIndex > State.InputFileCount - 1 || M.SyncStreamIndex < 0 ||
            M.SyncStreamIndex > Files[M.SyncFileIndex].StreamCount - 1)
            Fail(StrFormat("Could not find sync stream #%d.%d", M.SyncFileIndex, M.SyncStreamIndex));
    }

    // 6.-7.
    BindStreams();

    NoteLeftOut();
    for (const std::string& Note : State.StreamNotes) E.Log(1, Note);

    // 8. Codec parameters.
    for (size_t k = 0; k < Outputs.size(); ++k) {
        TOutputStreamRecord& Ost = *Outputs[k];
        TInputStreamRecord& Ist = *Inputs[Ost.SourceIndex];
        if (Ost.Setup->Language.empty()) {
            AVDictionaryEntry* Language = av::av_dict_get(Ist.Stream->metadata, "language", nullptr, 0);
            if (Language) av::av_dict_set(&Ost.Stream->metadata, "language", Language->value, 0);
        } else {
            av::av_dict_set(&Ost.Stream->metadata, "language", Ost.Setup->Language.c_str(), 0);
        }
        Ost.Stream->disposition = Ist.Stream->disposition;
        // A cover made into a video is a video: muxers store attached
        // pictures as a single image.
        if (!Ost.StreamCopy) Ost.Stream->disposition &= ~AV_DISPOSITION_ATTACHED_PIC;
        if (Ost.StreamCopy)
            SetUpCopy(Ost, Ist);
        else
            SetUpEncoding(Ost, Ist);
        if (Ost.EncodingNeeded) OpenPassLog(Ost, static_cast<int>(k));
        if (Ost.Codec->codec_type == AVMEDIA_TYPE_VIDEO)
            // In floating point: a copied stream's size is whatever its file claims.
            State.VideoBufferSize = static_cast<int>(std::clamp(4.0 * Ost.Codec->width * Ost.Codec->height,
                                                            double(State.VideoBufferSize), double(INT32_MAX)));
    }

    // 10.-11. Describe the outputs and the mapping; the streams to encode
    // show what their encoders are going to get.
    for (auto& Ost : Outputs)
        if (Ost->EncodingNeeded) av::avcodec_parameters_from_context(Ost->Stream->codecpar, Ost->Codec);
    for (int i = 0; i < State.OutputFileCount; ++i)
        av::av_dump_format(State.OutputFiles[i], i, State.OutputFiles[i]->url, 1);
    if (S.v >= 0 && E.OnLog) {
        E.Log(1, "Stream mapping:");
        for (auto& Ost : Outputs) {
            TInputStreamRecord& Ist = *Inputs[Ost->SourceIndex];
            E.Log(1, StrFormat("  Stream #%d.%d -> #%d.%d", Ist.FileIndex, Ist.StreamIndex, Ost->FileIndex,
                               Ost->StreamIndex));
            if (Ost->SyncStream != &Ist)
                E.Log(1, StrFormat(" [sync #%d.%d]", Ost->SyncStream->FileIndex, Ost->SyncStream->StreamIndex));
        }
    }

    // 12.-14.
    OpenEncoders();
    OpenDecoders();
    for (auto& Ist : Inputs) {
        Ist->Pts = 0;
        Ist->NextPts = AV_NOPTS_VALUE;
        Ist->IsStart = true;
    }

    // 15.-17.
    CopyMetadata();
    WriteHeaders();

    // 18.
    State.TimerStart = av::av_gettime();
    LastReport = State.TimerStart;
}

void TTranscoder::BindStreams() {
    int k = 0;
    for (int i = 0; i < State.OutputFileCount; ++i) {
        AVFormatContext* Out = State.OutputFiles[i];
        for (unsigned j = 0; j < Out->nb_streams; ++j, ++k) {
            auto Ost = std::make_unique<TOutputStreamRecord>();
            Ost->FileIndex = i;
            Ost->StreamIndex = static_cast<int>(j);
            Ost->File = Out;
            Ost->Stream = Out->streams[j];
            Ost->Setup = &State.OutputStreams[i][j];
            Ost->Codec = Ost->Setup->Codec;
            Ost->StreamCopy = Ost->Setup->StreamCopy;
            Ost->Filters = &State.BitstreamFilters[i][j];
            const AVMediaType Type = Ost->Codec->codec_type;
            auto DumpAndFail = [&](const std::string& AMessage) {
                av::av_dump_format(Out, i, Out->url, 1);
                Fail(AMessage);
            };

            int Source = -1;
            if (State.StreamMapCount > 0) {
                const TStreamMap& M = State.StreamMaps[k];
                Source = Files[M.FileIndex].FirstStream + M.StreamIndex;
                if (Inputs[Source]->Codec->codec_type != Type)
                    DumpAndFail(StrFormat("Codec type mismatch for mapping #%d.%d -> #%d.%d", M.FileIndex,
                                          M.StreamIndex, i, int(j)));
            } else if (S.programid != 0) {
                for (int f = 0; f < State.InputFileCount && Source < 0; ++f) {
                    AVFormatContext* In = State.InputFiles[f];
                    for (unsigned p = 0; p < In->nb_programs && Source < 0; ++p) {
                        if (In->programs[p]->id != S.programid) continue;
                        for (unsigned q = 0; q < In->programs[p]->nb_stream_indexes; ++q) {
                            int Candidate = Files[f].FirstStream + int(In->programs[p]->stream_index[q]);
                            if (Inputs[Candidate]->Discard && Inputs[Candidate]->Codec->codec_type == Type) {
                                Source = Candidate;
                                break;
                            }
                        }
                    }
                }
            } else {
                // A track flagged default goes before the others, a moving
                // picture before a cover.
                auto Rank = [&](size_t c) {
                    const int Disposition = Inputs[c]->Stream->disposition;
                    if (Type == AVMEDIA_TYPE_VIDEO) return (Disposition & AV_DISPOSITION_ATTACHED_PIC) ? 0 : 1;
                    return (Disposition & AV_DISPOSITION_DEFAULT) ? 1 : 0;
                };
                for (int Wanted = 1; Wanted >= 0 && Source < 0; --Wanted)
                    for (size_t c = 0; c < Inputs.size() && Source < 0; ++c)
                        if (Inputs[c]->Discard && Inputs[c]->Codec->codec_type == Type && Rank(c) == Wanted)
                            Source = int(c);
                // Nothing left: share the last stream of the type.
                for (size_t c = Inputs.size(); c-- > 0 && Source < 0;)
                    if (Inputs[c]->Codec->codec_type == Type) Source = int(c);
            }
            if (Source < 0)
                DumpAndFail(StrFormat("Could not find input stream matching output stream #%d.%d", i, int(j)));
            Ost->SourceIndex = Source;
            Inputs[Source]->Discard = false;
            if (State.StreamMapCount > 0) {
                const TStreamMap& M = State.StreamMaps[k];
                Ost->SyncStream = Inputs[Files[M.SyncFileIndex].FirstStream + M.SyncStreamIndex].get();
            } else {
                Ost->SyncStream = Inputs[Source].get();
            }
            Outputs.push_back(std::move(Ost));
        }
    }
}

// Says which of the input's sound tracks and subtitles no output carries.
void TTranscoder::NoteLeftOut() {
    int Sound = 0, SoundKept = 0, Subtitles = 0, SubtitlesKept = 0;
    for (const auto& Ist : Inputs) {
        const AVMediaType Type = Ist->Codec->codec_type;
        const bool Kept = !Ist->Discard;
        if (Type == AVMEDIA_TYPE_AUDIO) ++Sound, SoundKept += Kept;
        if (Type == AVMEDIA_TYPE_SUBTITLE) ++Subtitles, SubtitlesKept += Kept;
    }
    std::vector<std::string> Parts;
    // A job that leaves all sound out (an audio-free profile) asked for it.
    if (SoundKept > 0 && SoundKept < Sound)
        Parts.push_back(StrFormat("kept %d of %d sound tracks", SoundKept, Sound));
    if (Subtitles > 0 && SubtitlesKept == 0)
        Parts.push_back("subtitles not carried");
    else if (SubtitlesKept < Subtitles)
        Parts.push_back(StrFormat("kept %d of %d subtitle tracks", SubtitlesKept, Subtitles));
    std::string Note;
    for (const std::string& Part : Parts) Note += (Note.empty() ? "" : "; ") + Part;
    if (!Note.empty()) E.Log(1, Note);
}

void TTranscoder::SetUpCopy(TOutputStreamRecord& AOst, TInputStreamRecord& AIst) {
    AVCodecParameters* Par = AOst.Stream->codecpar;
    const AVCodecParameters* InPar = AIst.Stream->codecpar;
    const unsigned WantedTag = AOst.Codec->codec_tag;
    const AVMediaType Type = InPar->codec_type;
    if (Type == AVMEDIA_TYPE_AUDIO && S.vol != 256)
        Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
    if (Type == AVMEDIA_TYPE_VIDEO) {
        if (E.OnCustomHook) Fail("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (S.UsingHooks) Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
    }
    if (Type != AVMEDIA_TYPE_AUDIO && Type != AVMEDIA_TYPE_VIDEO && Type != AVMEDIA_TYPE_SUBTITLE &&
        !(Type == AVMEDIA_TYPE_ATTACHMENT && !S.copystreams.empty()))
        Fail("invalid codec_type of output stream");

    AVRational Sar = AOst.Stream->sample_aspect_ratio;
    if (av::avcodec_parameters_copy(Par, InPar) < 0) Fail("av_mallocz fail");
    Par->codec_tag = WantedTag;
    if (Par->codec_tag == 0) {
        const AVOutputFormat* Format = AOst.File->oformat;
        unsigned Tag = 0;
        if (!Format->codec_tag || av::av_codec_get_id(Format->codec_tag, InPar->codec_tag) != AV_CODEC_ID_NONE ||
            !av::av_codec_get_tag2(Format->codec_tag, InPar->codec_id, &Tag))
            Par->codec_tag = InPar->codec_tag;
    }
    AOst.Stream->time_base = AIst.Stream->time_base;
    if (Type == AVMEDIA_TYPE_AUDIO) {
        if ((Par->block_align == 1 && Par->codec_id == AV_CODEC_ID_MP3) || Par->codec_id == AV_CODEC_ID_AC3)
            Par->block_align = 0;
    } else if (Type == AVMEDIA_TYPE_VIDEO) {
        if (Sar.num) Par->sample_aspect_ratio = AOst.Stream->sample_aspect_ratio = Sar;
        AVRational Rate = AIst.Stream->avg_frame_rate.num ? AIst.Stream->avg_frame_rate : AIst.Stream->r_frame_rate;
        AOst.CodecTimeBase = Rate.num && Rate.den ? av_inv_q(Rate) : AVRational{1, 25};
        AOst.Stream->avg_frame_rate = AIst.Stream->avg_frame_rate;
    }
    // The copy's context describes what goes through the muxer, for the
    // bitstream filters and the reports.
    av::avcodec_parameters_to_context(AOst.Codec, Par);
    AOst.Codec->time_base = AOst.CodecTimeBase;
}

void TTranscoder::SetUpEncoding(TOutputStreamRecord& AOst, TInputStreamRecord& AIst) {
    AVCodecContext* Enc = AOst.Codec;
    AVCodecContext* Dec = AIst.Codec;
    switch (Enc->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            AOst.Fifo = av::av_audio_fifo_alloc(Enc->sample_fmt, Enc->ch_layout.nb_channels, 1024);
            if (!AOst.Fifo) Fail("av_fifo_init fail");
            AOst.AudioResample = Enc->sample_rate != Dec->sample_rate || S.async > 1;
            AIst.DecodingNeeded = true;
            AOst.EncodingNeeded = true;
            AOst.CodecTimeBase = Enc->time_base;
            break;
        case AVMEDIA_TYPE_VIDEO: {
            const int Crop = S.croptop + S.cropbottom + S.cropleft + S.cropright;
            const int Pad = S.padtop + S.padbottom + S.padleft + S.padright;
            AOst.VideoCrop = Crop != 0;
            AOst.VideoPad = Pad != 0;
            AOst.VideoResample = Enc->width != Dec->width - (S.cropleft + S.cropright) + (S.padleft + S.padright) ||
                                 Enc->height != Dec->height - (S.croptop + S.cropbottom) + (S.padtop + S.padbottom) ||
                                 Enc->pix_fmt != Dec->pix_fmt;
            if (AOst.VideoCrop) {
                AOst.CropTop = S.croptop;
                AOst.CropLeft = S.cropleft;
            }
            // A decoder that knows no picture format before its first
            // picture (a damaged stream header) gets its scaler when that
            // picture arrives: the scaler library aborts the process on a
            // format it has no description of.
            if (AOst.VideoResample && S.vfilters.empty() && !av::av_pix_fmt_desc_get(Dec->pix_fmt))
                AOst.VideoResample = false;
            auto NewTempPicture = [&](const char* AMessage) {
                AOst.TempPicture = av::av_frame_alloc();
                if (!AOst.TempPicture) Fail(AMessage);
                AOst.TempPicture->format = Enc->pix_fmt;
                AOst.TempPicture->width = Enc->width;
                AOst.TempPicture->height = Enc->height;
                if (av::av_frame_get_buffer(AOst.TempPicture, 0) < 0) Fail(AMessage);
            };
            if (AOst.VideoPad) {
                AOst.PadTop = S.padtop;
                AOst.PadBottom = S.padbottom;
                AOst.PadLeft = S.padleft;
                AOst.PadRight = S.padright;
                if (!AOst.VideoResample) NewTempPicture("avpicture_alloc fail");
            }
            if (AOst.VideoResample) {
                NewTempPicture("Cannot allocate temp picture, check pix fmt");
                int64_t Flags = S.ScalerFlags;
                if (State.OptionScalerContext) av::av_opt_get_int(State.OptionScalerContext, "sws_flags", 0, &Flags);
                S.ScalerFlags = static_cast<int>(Flags);
                if (S.vfilters.empty()) {
                    if (!av::av_pix_fmt_desc_get(Enc->pix_fmt)) Fail("Cannot get resampling context");
                    AOst.ScalerContext = av::sws_getContext(
                        Dec->width - S.cropleft - S.cropright, Dec->height - S.croptop - S.cropbottom, Dec->pix_fmt,
                        Enc->width - S.padleft - S.padright, Enc->height - S.padtop - S.padbottom, Enc->pix_fmt,
                        S.ScalerFlags, nullptr, nullptr, nullptr);
                    if (!AOst.ScalerContext) Fail("Cannot get resampling context");
                    AOst.ScalerSource = {Dec->width - S.cropleft - S.cropright, Dec->height - S.croptop - S.cropbottom,
                                         Dec->pix_fmt};
                }
                AOst.ScaleHeight = S.vfilters.empty() ? Dec->height - S.croptop - S.cropbottom : Dec->height;
            }
            AOst.EncodingNeeded = true;
            AIst.DecodingNeeded = true;
            E.ErrorText.clear();
            if (!S.vfilters.empty() && ConfigureFilters(AIst, AOst) != 0)
                Fail(E.ErrorText.empty() ? "Error opening filters!" : "Error opening filters: " + E.ErrorText);
            // The filter graph may have changed the size: the padder works
            // on what the encoder gets.
            if (!S.vfilters.empty() && AOst.TempPicture &&
                (AOst.TempPicture->width != Enc->width || AOst.TempPicture->height != Enc->height)) {
                av::av_frame_free(&AOst.TempPicture);
                NewTempPicture("avpicture_alloc fail");
            }
            AOst.CodecTimeBase = Enc->time_base;
            break;
        }
        case AVMEDIA_TYPE_SUBTITLE:
            // Without a named encoder the format's own subtitle codec is used,
            // so that a file with subtitles converts without extra options.
            if (Enc->codec_id == AV_CODEC_ID_NONE) Enc->codec_id = AOst.File->oformat->subtitle_codec;
            AIst.DecodingNeeded = true;
            AOst.EncodingNeeded = true;
            AOst.CodecTimeBase = AIst.Stream->time_base;
            if (!Enc->time_base.num) Enc->time_base = AVRational{1, 1000};
            break;
        default:
            Fail("invalid codec_type of output stream");
    }
}

void TTranscoder::OpenPassLog(TOutputStreamRecord& AOst, int AIndex) {
    AVCodecContext* Enc = AOst.Codec;
    if (!(Enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    std::string Name = (S.passlogfile.empty() ? std::string("ffmpeg2pass") : S.passlogfile) + "-" +
                       std::to_string(AIndex) + ".log";
    if (Name.size() > 1023) Name.resize(1023);
    if (Enc->flags & AV_CODEC_FLAG_PASS1) {
        AOst.LogFile = fopen(Name.c_str(), "w");
        if (!AOst.LogFile) Fail("creat file fail: " + Name);
        return;
    }
    FILE* In = fopen(Name.c_str(), "r");
    if (!In) Fail("creat open fail: " + Name);
    fseek(In, 0, SEEK_END);
    long Size = ftell(In);
    fseek(In, 0, SEEK_SET);
    char* Buffer = Size >= 0 ? static_cast<char*>(av::av_malloc(static_cast<size_t>(Size) + 1)) : nullptr;
    if (!Buffer) {
        fclose(In);
        Fail("Could not allocate log buffer");
    }
    size_t Read = fread(Buffer, 1, static_cast<size_t>(Size), In);
    fclose(In);
    Buffer[Read] = 0;
    if (Enc->stats_in) av::av_free(Enc->stats_in);
    Enc->stats_in = Buffer;
}

void TTranscoder::OpenEncoders() {
    for (auto& Ost : Outputs) {
        if (!Ost->EncodingNeeded) continue;
        AVCodecContext* Enc = Ost->Codec;
        const AVCodec* Codec = Enc->codec ? Enc->codec : av::avcodec_find_encoder(Enc->codec_id);
        if (!Codec)
            Fail(StrFormat("Unsupported codec for output stream #%d.%d", Ost->FileIndex, Ost->StreamIndex));
        // Text subtitle encoders take the decoder's style header.
        TInputStreamRecord& Ist = *Inputs[Ost->SourceIndex];
        if (Enc->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            OpenDecoder(Ist);
            if (Ist.Codec->subtitle_header && !Enc->subtitle_header) {
                Enc->subtitle_header = static_cast<uint8_t*>(av::av_mallocz(Ist.Codec->subtitle_header_size + 1));
                if (!Enc->subtitle_header) Fail("av_mallocz fail");
                memcpy(Enc->subtitle_header, Ist.Codec->subtitle_header, Ist.Codec->subtitle_header_size);
                Enc->subtitle_header_size = Ist.Codec->subtitle_header_size;
            }
        }
        AVDictionary* Options = nullptr;
        if (Ost->Setup->EncoderOptions) av::av_dict_copy(&Options, Ost->Setup->EncoderOptions, 0);
        // The count in force when the job starts: 0 is the codec's own choice.
        Enc->thread_count = S.ThreadCount;
        int Result;
        {
            std::lock_guard<std::recursive_mutex> Guard(CodecLock());
            Result = av::avcodec_open2(Enc, Codec, &Options);
        }
        // Names the encoder does not know are ignored.
        av::av_dict_free(&Options);
        if (Result < 0)
            Fail(StrFormat("Error while opening codec for output stream #%d.%d - maybe incorrect parameters such "
                           "as bit_rate, rate, width or height",
                           Ost->FileIndex, Ost->StreamIndex));
        // The Xvid encoder always claims Simple Profile level 3; the level
        // asked for (one that admits the picture size) goes into its headers.
        if (strcmp(Codec->name, "libxvid") == 0 && (Enc->profile == FF_PROFILE_MPEG4_SIMPLE ||
                                                    Enc->profile == FF_PROFILE_MPEG4_ADVANCED_SIMPLE) &&
            Enc->level > 0 && Enc->level <= 15) {
            Ost->ProfileLevel = Enc->profile << 4 | Enc->level;
            SetMpeg4ProfileLevel(Enc->extradata, Enc->extradata_size, Ost->ProfileLevel);
        }
        TCodecNode Node;
        Node.Codec = Enc;
        Node.Encoder = true;
        Node.StatsIn = Enc->stats_in;
        State.OpenEncoders.push_back(Node);
        State.ExtraSize += Enc->extradata_size;
        if (av::avcodec_parameters_from_context(Ost->Stream->codecpar, Enc) < 0) Fail("av_mallocz fail");
        Ost->Stream->time_base = Enc->time_base;
        if (Enc->codec_type == AVMEDIA_TYPE_VIDEO) Ost->Stream->avg_frame_rate = Enc->framerate;
        if (Enc->codec_type == AVMEDIA_TYPE_AUDIO && !(Codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) &&
            Enc->frame_size > 1)
            if (av::av_audio_fifo_realloc(Ost->Fifo, Enc->frame_size * 2) < 0) Fail("av_fifo_init fail");
    }
    for (auto& Ost : Outputs) InitBitstreamFilters(*Ost);
}

void TTranscoder::InitBitstreamFilters(TOutputStreamRecord& AOst) {
    const AVCodecParameters* Par = AOst.Stream->codecpar;
    AVRational TimeBase = AOst.Stream->time_base;
    for (AVBSFContext* Filter : *AOst.Filters) {
        if (av::avcodec_parameters_copy(Filter->par_in, Par) < 0) Fail("av_mallocz fail");
        Filter->time_base_in = TimeBase;
        int Result = av::av_bsf_init(Filter);
        if (Result < 0)
            Fail(ErrorCodeText(StrFormat("%s failed for stream %d, codec %s", Filter->filter->name,
                                         AOst.StreamIndex, AOst.EncodingNeeded ? AOst.Codec->codec->name : "copy"),
                               Result));
        Par = Filter->par_out;
        TimeBase = Filter->time_base_out;
    }
    // What leaves the last filter is what the muxer stores.
    if (!AOst.Filters->empty()) av::avcodec_parameters_copy(AOst.Stream->codecpar, Par);
}

void TTranscoder::OpenDecoder(TInputStreamRecord& AIst) {
    AVCodecContext* Dec = AIst.Codec;
    if (av::avcodec_is_open(Dec)) return;
    const AVCodec* Codec = av::avcodec_find_decoder(Dec->codec_id);
    if (!Codec)
        Fail(StrFormat("Unsupported codec (id=%d) for input stream #%d.%d", int(Dec->codec_id), AIst.FileIndex,
                       AIst.StreamIndex));
    Dec->thread_count = S.ThreadCount;
    int Result;
    {
        std::lock_guard<std::recursive_mutex> Guard(CodecLock());
        Result = av::avcodec_open2(Dec, Codec, nullptr);
    }
    if (Result < 0)
        Fail(StrFormat("Error while opening codec for input stream #%d.%d", AIst.FileIndex, AIst.StreamIndex));
    TCodecNode Node;
    Node.Codec = Dec;
    State.OpenDecoders.push_back(Node);
}

void TTranscoder::OpenDecoders() {
    for (auto& Ist : Inputs)
        if (Ist->DecodingNeeded) OpenDecoder(*Ist);
}

void TTranscoder::CopyMetadata() {
    // A copy of every stream keeps every tag and the chapters.
    if (!S.copystreams.empty() && State.OutputFileCount > 0) {
        std::vector<std::pair<AVStream*, const AVStream*>> Streams;
        for (auto& Ost : Outputs)
            if (Ost->FileIndex == 0) Streams.emplace_back(Ost->Stream, Inputs[Ost->SourceIndex]->Stream);
        CopyAllTags(S, State, State.OutputFiles[0], Streams);
    }
    // Without maps, each output gets the tags of the first input that it
    // has not been given already.
    if (State.MetaDataMapCount == 0 && State.InputFileCount > 0) {
        AVDictionary* From = State.InputFiles[0]->metadata;
        for (int i = 0; i < State.OutputFileCount; ++i) {
            AVDictionary*& To = State.OutputFiles[i]->metadata;
            for (const char* Key : {"title", "artist", "album_artist", "album", "date", "comment", "genre", "track",
                                    "copyright", "creation_time"}) {
                AVDictionaryEntry* Entry = av::av_dict_get(From, Key, nullptr, 0);
                if (Entry && !av::av_dict_get(To, Key, nullptr, 0)) av::av_dict_set(&To, Key, Entry->value, 0);
            }
        }
    }
    for (int i = 0; i < State.MetaDataMapCount; ++i) {
        const TMetaDataMap& M = State.MetaDataMaps[i];
        if (M.OutFile < 0 || M.OutFile >= State.OutputFileCount)
            Fail(StrFormat("Invalid output file index %d map_meta_data(%d,%d)", M.OutFile, M.OutFile, M.InFile));
        if (M.InFile < 0 || M.InFile >= State.InputFileCount)
            Fail(StrFormat("Invalid input file index %d map_meta_data(%d,%d)", M.InFile, M.OutFile, M.InFile));
        AVDictionary* From = State.InputFiles[M.InFile]->metadata;
        AVDictionary*& To = State.OutputFiles[M.OutFile]->metadata;
        for (const char* Key : {"title", "author", "artist", "copyright", "comment", "album", "date", "track",
                                "genre"}) {
            AVDictionaryEntry* Entry = av::av_dict_get(From, Key, nullptr, 0);
            if (!Entry) continue;
            std::string Value = Entry->value;
            Value.resize(std::min<size_t>(Value.size(), std::strcmp(Key, "genre") == 0 ? 31 : 511));
            av::av_dict_set(&To, Key, Value.c_str(), 0);
        }
    }
}

void TTranscoder::WriteHeaders() {
    bool AllRtp = State.OutputFileCount > 0;
    for (int i = 0; i < State.OutputFileCount; ++i) {
        AVDictionary* Options = nullptr;
        if (State.MuxerOptions[i]) av::av_dict_copy(&Options, State.MuxerOptions[i], 0);
        int Result = av::avformat_write_header(State.OutputFiles[i], &Options);
        av::av_dict_free(&Options);
        if (int Code = WriteError(i, Result); Code != 0) FailWrite(i, Code);
        if (Result < 0)
            Fail(StrFormat("Could not write header for output file #%d (incorrect codec parameters ?)", i));
        AllRtp &= std::strcmp(State.OutputFiles[i]->oformat->name, "rtp") == 0;
    }
    if (AllRtp && E.OnLog) {
        char Sdp[2048];
        if (av::av_sdp_create(State.OutputFiles, State.OutputFileCount, Sdp, sizeof Sdp) == 0) {
            std::string Text = Sdp;
            size_t First = 0, Last = Text.size();
            while (First < Last && static_cast<unsigned char>(Text[First]) <= ' ') ++First;
            while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= ' ') --Last;
            E.Log(1, "SDP: " + Text.substr(First, Last - First));
        }
    }
}

namespace {

bool InterlacedOrder(AVFieldOrder AOrder) {
    return AOrder == AV_FIELD_TT || AOrder == AV_FIELD_BB || AOrder == AV_FIELD_TB || AOrder == AV_FIELD_BT;
}

}  // namespace

// bwdif, motion adaptive: a picture the decoder marks interlaced is
// deinterlaced with its own field order; one that only the container calls
// interlaced, with the container's.
AVFilterContext* TTranscoder::NewDeinterlacer(TInputStreamRecord& AIst, const AVFrame* AFrame) {
    const AVFieldOrder Order = AIst.Stream->codecpar->field_order;
    const bool Marked = !AFrame || AFrame->interlaced_frame;
    const int Parity = Marked ? -1 : Order == AV_FIELD_TT || Order == AV_FIELD_TB ? 0 : 1;
    AVFilterContext* Filter = nullptr;
    const std::string Args =
        StrFormat("mode=send_frame:parity=%d:deint=%s", Parity, Marked && AFrame ? "interlaced" : "all");
    if (av::avfilter_graph_create_filter(&Filter, av::avfilter_get_by_name("bwdif"), "deinterlace", Args.c_str(),
                                         nullptr, AIst.Graph) < 0)
        return nullptr;
    return Filter;
}

void TTranscoder::CheckInterlace(TInputStreamRecord& AIst, int AIndex, const AVFrame* AFrame) {
    if (AIst.InterlaceChecked) return;
    AIst.InterlaceChecked = true;
    if (!S.autodeinterlace || S.deinterlace) return;
    if (!AFrame->interlaced_frame && !InterlacedOrder(AIst.Stream->codecpar->field_order)) return;
    AIst.Deinterlace = true;
    int Result = -1;
    if (S.vfilters.empty()) {
        Result = ConfigureDeinterlacer(AIst, AFrame);
    } else {
        for (auto& Ost : Outputs)
            if (Ost->SourceIndex == AIndex && Ost->EncodingNeeded) {
                Result = ConfigureFilters(AIst, *Ost);
                break;
            }
    }
    if (Result >= 0) return;
    // Interlaced pictures are still pictures: the job goes on without.
    E.Log(0, "Cannot deinterlace the video: it is converted as it is.");
    AIst.Deinterlace = false;
    if (S.vfilters.empty()) {
        av::avfilter_graph_free(&AIst.Graph);
        AIst.InFilter = AIst.OutFilter = nullptr;
    } else {
        for (auto& Ost : Outputs)
            if (Ost->SourceIndex == AIndex && Ost->EncodingNeeded) {
                if (ConfigureFilters(AIst, *Ost) != 0) Fail("Error opening filters!");
                break;
            }
    }
}

int TTranscoder::ConfigureDeinterlacer(TInputStreamRecord& AIst, const AVFrame* AFrame) {
    if (!LoadFilterLibrary(&E.ErrorText)) return -1;
    if (AIst.Graph) av::avfilter_graph_free(&AIst.Graph);
    AIst.InFilter = AIst.OutFilter = nullptr;
    AIst.Graph = av::avfilter_graph_alloc();
    if (!AIst.Graph) return -1;
    AVRational Sar = AFrame->sample_aspect_ratio.num ? AFrame->sample_aspect_ratio : AVRational{1, 1};
    std::string Args = StrFormat("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", AFrame->width,
                                 AFrame->height, AFrame->format, Sar.num, Sar.den);
    if (av::avfilter_graph_create_filter(&AIst.InFilter, av::avfilter_get_by_name("buffer"), "src", Args.c_str(),
                                         nullptr, AIst.Graph) < 0 ||
        av::avfilter_graph_create_filter(&AIst.OutFilter, av::avfilter_get_by_name("buffersink"), "out", nullptr,
                                         nullptr, AIst.Graph) < 0)
        return -1;
    AVFilterContext* Deinterlacer = NewDeinterlacer(AIst, AFrame);
    if (!Deinterlacer || av::avfilter_link(AIst.InFilter, 0, Deinterlacer, 0) < 0 ||
        av::avfilter_link(Deinterlacer, 0, AIst.OutFilter, 0) < 0 || av::avfilter_graph_config(AIst.Graph, nullptr) < 0)
        return -1;
    return 0;
}

int TTranscoder::ConfigureFilters(TInputStreamRecord& AIst, TOutputStreamRecord& AOst) {
    if (!LoadFilterLibrary(&E.ErrorText)) return -1;
    AVCodecContext* Dec = AIst.Codec;
    AVCodecContext* Enc = AOst.Codec;
    if (S.croptop + S.cropbottom + S.cropleft + S.cropright != 0) {
        E.ErrorText = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    // A stream feeding a second output gets a new graph.
    if (AIst.Graph) av::avfilter_graph_free(&AIst.Graph);
    AIst.Graph = av::avfilter_graph_alloc();
    if (!AIst.Graph) return -1;

    AVRational Sar = Dec->sample_aspect_ratio.num ? Dec->sample_aspect_ratio : AVRational{1, 1};
    std::string Args = StrFormat("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", Dec->width,
                                 Dec->height, int(Dec->pix_fmt), Sar.num, Sar.den);
    if (av::avfilter_graph_create_filter(&AIst.InFilter, av::avfilter_get_by_name("buffer"), "src", Args.c_str(),
                                         nullptr, AIst.Graph) < 0)
        return -1;
    if (av::avfilter_graph_create_filter(&AIst.OutFilter, av::avfilter_get_by_name("buffersink"), "out", nullptr,
                                         nullptr, AIst.Graph) < 0)
        return -1;
    AVPixelFormat Formats[] = {Enc->pix_fmt};
    if (av::av_opt_set_bin(AIst.OutFilter, "pix_fmts", reinterpret_cast<const uint8_t*>(Formats), sizeof Formats,
                           AV_OPT_SEARCH_CHILDREN) < 0)
        return -1;

    AVFilterContext* Current = AIst.InFilter;
    if (AIst.Deinterlace) {
        AVFilterContext* Deinterlacer = NewDeinterlacer(AIst, nullptr);
        if (!Deinterlacer || av::avfilter_link(Current, 0, Deinterlacer, 0) < 0) return -1;
        Current = Deinterlacer;
    }
    const int Width = Enc->width - S.padleft - S.padright;
    const int Height = Enc->height - S.padtop - S.padbottom;
    if (Enc->width != Dec->width + S.padleft + S.padright || Enc->height != Dec->height + S.padtop + S.padbottom) {
        AVFilterContext* Scale = nullptr;
        if (av::avfilter_graph_create_filter(&Scale, av::avfilter_get_by_name("scale"), nullptr,
                                             StrFormat("%d:%d", Width, Height).c_str(), nullptr, AIst.Graph) < 0 ||
            av::avfilter_link(Current, 0, Scale, 0) < 0)
            return -1;
        Current = Scale;
    }
    if (!S.vfilters.empty()) {
        AVFilterInOut* Outputs = av::avfilter_inout_alloc();
        AVFilterInOut* Inputs = av::avfilter_inout_alloc();
        if (!Outputs || !Inputs) {
            av::avfilter_inout_free(&Outputs);
            av::avfilter_inout_free(&Inputs);
            return -1;
        }
        Outputs->name = av::av_strdup("in");
        Outputs->filter_ctx = Current;
        Outputs->pad_idx = 0;
        Inputs->name = av::av_strdup("out");
        Inputs->filter_ctx = AIst.OutFilter;
        Inputs->pad_idx = 0;
        int Result = av::avfilter_graph_parse_ptr(AIst.Graph, S.vfilters.c_str(), &Inputs, &Outputs, nullptr);
        av::avfilter_inout_free(&Outputs);
        av::avfilter_inout_free(&Inputs);
        if (Result < 0) return -1;
    } else if (av::avfilter_link(Current, 0, AIst.OutFilter, 0) < 0) {
        return -1;
    }
    if (av::avfilter_graph_config(AIst.Graph, nullptr) < 0) return -1;

    const int W = av::av_buffersink_get_w(AIst.OutFilter), H = av::av_buffersink_get_h(AIst.OutFilter);
    if (S.padtop + S.padbottom + S.padleft + S.padright != 0 &&
        int64_t(W) * H != int64_t(S.FrameWidth) * S.FrameHeight) {
        E.ErrorText =
            "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
            "transpose, etc.)";
        return -1;
    }
    Enc->width = W + S.padleft + S.padright;
    Enc->height = H + S.padtop + S.padbottom;
    // The display aspect describes the picture the filters give, which may
    // be turned or resized.
    if (S.aspect > 0.0f && Enc->width > 0 && Enc->height > 0)
        Enc->sample_aspect_ratio = AOst.Stream->sample_aspect_ratio =
            av::av_d2q(double(S.aspect) * Enc->height / Enc->width, 255);
    return 0;
}
