#include "probe/AVProbe.h"
#include "binding/LocalFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "common/Files.h"
#include "common/MediaText.h"
#include "common/Text.h"

namespace {

std::string Tag(const AVDictionary* Dict, const char* Key) {
    const AVDictionaryEntry* Entry = av::av_dict_get(Dict, Key, nullptr, 0);
    return Entry && Entry->value ? Entry->value : "";
}

// The first of several keys that is present: today's muxers name some old
// tags differently ("artist" for "author", "date" for "year").
std::string Tag(const AVDictionary* Dict, const char* Key, const char* OtherKey) {
    std::string Value = Tag(Dict, Key);
    return Value.empty() ? Tag(Dict, OtherKey) : Value;
}

// The leading integer of a tag such as "2009-05-01" or "3/12"; 0 without one.
int LeadingInt(const std::string& Text) { return static_cast<int>(std::strtol(Text.c_str(), nullptr, 10)); }

// "s.uuuuuu" of a time in microseconds; the sign stands before the seconds.
std::string SecondsText(int64_t Us) {
    const char* Sign = Us < 0 ? "-" : "";
    uint64_t Magnitude = Us < 0 ? 0 - static_cast<uint64_t>(Us) : static_cast<uint64_t>(Us);
    return StrFormat("%s%llu.%.6llu", Sign, static_cast<unsigned long long>(Magnitude / 1000000),
                     static_cast<unsigned long long>(Magnitude % 1000000));
}

std::string ProgramLine(const AVProgram* Program) {
    return StrFormat("Program %d %s@%s", Program->id, Tag(Program->metadata, "service_name").c_str(),
                     Tag(Program->metadata, "service_provider").c_str());
}

std::string CodecLongName(AVCodecID Id) {
    const AVCodecDescriptor* Descriptor = av::avcodec_descriptor_get(Id);
    return Descriptor && Descriptor->long_name ? Descriptor->long_name : "";
}

// Fields shared by the video and the audio record.
template <typename TInfo>
void FillCommon(const AVStream* Stream, TInfo& Info) {
    Info.Language = Tag(Stream->metadata, "language");
    Info.CodecName = av::avcodec_get_name(Stream->codecpar->codec_id);
    Info.CodecLongName = CodecLongName(Stream->codecpar->codec_id);
    Info.StartTimeRaw = Stream->start_time;
    if (Stream->start_time != AV_NOPTS_VALUE)
        Info.StartTimeUs = av::av_rescale_q(Stream->start_time, Stream->time_base, TAVProbe::MicrosecondBase);
    Info.DurationRaw = Stream->duration;
    if (Stream->duration != AV_NOPTS_VALUE)
        Info.DurationUs = av::av_rescale_q(Stream->duration, Stream->time_base, TAVProbe::MicrosecondBase);
    Info.BitRate = Stream->codecpar->bit_rate;
}

}  // namespace

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe() {
    CloseFile();
    if (FPicture) av::av_frame_free(&FPicture);
    if (FPassed) av::av_frame_free(&FPassed);
    if (FPacket) av::av_packet_free(&FPacket);
}

void TAVProbe::Log(int Level, const std::string& Text) {
    int LibraryLevel = Level <= 0 ? AV_LOG_ERROR : Level == 1 ? AV_LOG_INFO : AV_LOG_DEBUG;
    if (av::av_log) av::av_log(nullptr, LibraryLevel, "%s", Text.c_str());
}

void TAVProbe::CheckLibraries() const {
    if (!LibraryResolved(LibAVLibrary::Codec)) throw EAVProbeError("LibAVCodec not loaded.");
    if (!LibraryResolved(LibAVLibrary::Format)) throw EAVProbeError("LibAVFormat not loaded.");
    if (!LibraryResolved(LibAVLibrary::Util)) throw EAVProbeError("LibAVUtil not loaded.");
    if (!LibraryResolved(LibAVLibrary::Scale)) throw EAVProbeError("LibSwScale not loaded.");
}

bool TAVProbe::FileLoaded(int Level) const {
    if (FContext) return true;
    Log(Level, "file not loaded.\n");
    return false;
}

int TAVProbe::MapOpenError(const std::string& FileName, int Code, AVIOContext* Reader) const {
    // The open call reports "no format recognised" as invalid data; a
    // second look at the bytes tells the two apart. The look goes by content
    // alone, as the engine's does: with the name, an extension such as
    // ".avi" would vouch for random bytes or an empty file.
    if (Code != AVERROR_INVALIDDATA) return Code;
    AVIOContext* IO = Reader;
    if (Reader) {
        if (av::avio_seek(Reader, 0, SEEK_SET) < 0) return Code;
    } else {
        AVDictionary* Options = nullptr;
        AddLocalFileOptions(&Options, false);
        const int Opened = av::avio_open2(&IO, LocalFileUrl(FileName).c_str(), AVIO_FLAG_READ, nullptr, &Options);
        av::av_dict_free(&Options);
        if (Opened < 0) return Code;
    }
    const AVInputFormat* Format = nullptr;
    int Score = av::av_probe_input_buffer2(IO, &Format, nullptr, nullptr, 0, 0);
    if (!Reader) av::avio_closep(&IO);
    return Score < 0 || !Format ? AVERROR_DEMUXER_NOT_FOUND : Code;
}

bool TAVProbe::OpenFile(const std::string& FileName, const std::string& FormatName) {
    return Open(FileName, FormatName, nullptr);
}

bool TAVProbe::OpenStream(AVIOContext* Reader, const std::string& Name, const std::string& FormatName) {
    return Open(Name, FormatName, Reader);
}

bool TAVProbe::Open(const std::string& FileName, const std::string& FormatName, AVIOContext* Reader) {
    CheckLibraries();
    CloseFile();

    const AVInputFormat* Format = nullptr;
    if (!FormatName.empty()) {
        Format = av::av_find_input_format(FormatName.c_str());
        if (!Format) {
            FLastError = StrFormat("Unknown input format: %s", FormatName.c_str());
            return false;
        }
    }

    AVFormatContext* Context = av::avformat_alloc_context();
    if (!Context) {
        FLastError = ErrorCodeText(FileName, AVERROR(ENOMEM));
        return false;
    }
    // The name is a local file, and a file that names other files is
    // refused up front.
    if (Reader) {
        Context->pb = Reader;
        Context->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (!Format) {
        const std::string Playlist = PlaylistFormat(FileName, nullptr);
        if (!Playlist.empty()) {
            FLastError = PlaylistRefusal(FileName, Playlist);
            av::avformat_free_context(Context);
            return false;
        }
    }
    AVDictionary* Options = nullptr;
    AddLocalFileOptions(&Options);
    const std::string Url = Reader ? FileName : LocalFileUrl(FileName);
    // On failure the open call frees the context and clears the pointer.
    int Result = av::avformat_open_input(&Context, Url.c_str(), Format, &Options);
    av::av_dict_free(&Options);
    if (Result < 0) {
        FLastError = ErrorCodeText(FileName, Format ? Result : MapOpenError(FileName, Result, Reader));
        CloseFile();
        return false;
    }
    if (!Reader) RestoreUserName(Context, FileName);
    FContext = Context;
    FOwnsContext = true;

    if (av::avformat_find_stream_info(FContext, nullptr) < 0) {
        FLastError = StrFormat("%s: could not find codec parameters", FileName.c_str());
        CloseFile();
        return false;
    }
    CountStreams();
    FForcedFormat = FormatName;
    return true;
}

AVFormatContext* TAVProbe::TakeContext() {
    AVFormatContext* Taken = nullptr;
    if (FContext && FOwnsContext && !FContextMoved) {
        Taken = FContext;
        FContext = nullptr;
    }
    CloseFile();
    return Taken;
}

void TAVProbe::AttachContext(AVFormatContext* Context) {
    CheckLibraries();
    CloseFile();
    FOwnsContext = false;
    FContext = Context;
    CountStreams();
}

void TAVProbe::CloseFile() {
    FForcedFormat.clear();
    FStillImage = false;
    if (FFrameBitmap) {
        RunPictureKeeper();
        KeepLastFrame();
        FFrameBitmap->Clear();
    }
    if (FScaler) {
        av::sws_freeContext(FScaler);
        FScaler = nullptr;
    }
    CloseDecoder();
    ForgetTarget();
    if (FContext) {
        if (FOwnsContext) av::avformat_close_input(&FContext);
        FContext = nullptr;
    }
    FOwnsContext = false;
    FContextMoved = false;
    CountStreams();
}

void TAVProbe::CountStreams() {
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = -1;
    FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
    if (!FContext) return;
    FStreamCount = static_cast<int>(FContext->nb_streams);
    FProgramCount = static_cast<int>(FContext->nb_programs);
    FAudioStreamCount = FVideoStreamCount = 0;
    for (int i = 0; i < FStreamCount; ++i) {
        switch (FContext->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                ++FVideoStreamCount;
                if (FFirstVideoStream < 0) FFirstVideoStream = i;
                break;
            case AVMEDIA_TYPE_AUDIO:
                ++FAudioStreamCount;
                if (FFirstAudioStream < 0) FFirstAudioStream = i;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (FFirstSubtitleStream < 0) FFirstSubtitleStream = i;
                break;
            default:
                break;
        }
    }
}

void TAVProbe::GetFileInfo(TAVFileInfo& Info) {
    Info = TAVFileInfo();
    if (!FileLoaded()) return;
    Info.StartTime = FContext->start_time;
    Info.Duration = FContext->duration;
    Info.BitRate = FContext->bit_rate;
    Info.TimeStamp = 0;
    std::string Created = Tag(FContext->metadata, "creation_time");
    int64_t CreatedUs = 0;
    if (!Created.empty() && av::av_parse_time(&CreatedUs, Created.c_str(), 0) >= 0)
        Info.TimeStamp = CreatedUs / 1000000;
    const AVDictionary* Meta = FContext->metadata;
    Info.Title = Tag(Meta, "title");
    Info.Author = Tag(Meta, "author", "artist");
    Info.Copyright = Tag(Meta, "copyright");
    Info.Comment = Tag(Meta, "comment");
    Info.Album = Tag(Meta, "album");
    Info.Year = LeadingInt(Tag(Meta, "year", "date"));
    Info.Track = LeadingInt(Tag(Meta, "track"));
    Info.Genre = Tag(Meta, "genre");
}

const AVStream* TAVProbe::StreamOfKind(int Index, int First, int Kind, const char* KindName) const {
    if (Index < 0) {
        Index = First;
        if (Index < 0) {
            Log(0, StrFormat("no %s stream.\n", KindName));
            return nullptr;
        }
    }
    if (Index >= FStreamCount) {
        Log(0, StrFormat("stream index #%d is invalid.\n", Index));
        return nullptr;
    }
    const AVStream* Stream = FContext->streams[Index];
    if (Stream->codecpar->codec_type != Kind) {
        Log(0, StrFormat("stream #%d is not %s stream.\n", Index, KindName));
        return nullptr;
    }
    return Stream;
}

void TAVProbe::GetVideoStreamInfo(int StreamIndex, TAVVideoStreamInfo& Info) {
    Info = TAVVideoStreamInfo();
    if (!FileLoaded()) return;
    const AVStream* Stream = StreamOfKind(StreamIndex, FFirstVideoStream, AVMEDIA_TYPE_VIDEO, "video");
    if (!Stream) return;
    const AVCodecParameters* Par = Stream->codecpar;
    FillCommon(Stream, Info);
    Info.Height = Par->height;
    Info.Width = Par->width;
    // An unknown sample aspect ratio (0/1) means square pixels, not a
    // display ratio of 0.
    AVRational Sar = Par->sample_aspect_ratio;
    if (Sar.num <= 0 || Sar.den <= 0) Sar = Stream->sample_aspect_ratio;
    if (Sar.num <= 0 || Sar.den <= 0) Sar = {1, 1};
    if (Par->height > 0) Info.AspectRatio = static_cast<float>(av_q2d(Sar) * Par->width / Par->height);
    Info.PixelFormat = Par->format;
    Info.FrameRateNum = Stream->r_frame_rate.num;
    Info.FrameRateDen = Stream->r_frame_rate.den;
    AVRational Stored = Stream->sample_aspect_ratio;
    if (Stored.num <= 0 || Stored.den <= 0) Stored = Par->sample_aspect_ratio;
    if (Stored.num > 0 && Stored.den > 0) {
        Info.SarNum = Stored.num;
        Info.SarDen = Stored.den;
    }
    for (int i = 0; i < Stream->nb_side_data; ++i) {
        const AVPacketSideData& Data = Stream->side_data[i];
        if (Data.type != AV_PKT_DATA_DISPLAYMATRIX || Data.size < 9 * static_cast<int>(sizeof(int32_t))) continue;
        const TDisplayOrientation Shown = DisplayOrientation(reinterpret_cast<const int32_t*>(Data.data));
        Info.Rotation = Shown.Rotation;
        Info.Mirrored = Shown.Mirrored;
    }
    Info.Interlaced = Par->field_order == AV_FIELD_TT || Par->field_order == AV_FIELD_BB ||
                      Par->field_order == AV_FIELD_TB || Par->field_order == AV_FIELD_BT;
    Info.AttachedPicture = (Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

TDisplayOrientation DisplayOrientation(const int32_t* Matrix) {
    TDisplayOrientation Result;
    int32_t Turn[9];
    std::copy(Matrix, Matrix + 9, Turn);
    // A negative determinant is a turn followed by a mirror of the
    // displayed x axis: undo the mirror to read the turn alone.
    const double Det = double(Matrix[0]) * Matrix[4] - double(Matrix[1]) * Matrix[3];
    if (Det < 0) {
        Result.Mirrored = true;
        for (int i : {0, 3, 6}) Turn[i] = -Turn[i];
    }
    const double CounterClockwise = av::av_display_rotation_get(Turn);
    if (std::isnan(CounterClockwise)) return Result;
    const int Degrees = static_cast<int>(std::lround(-CounterClockwise / 90.0)) * 90;
    Result.Rotation = ((Degrees % 360) + 360) % 360;
    return Result;
}

void TAVProbe::GetAudioStreamInfo(int StreamIndex, TAVAudioStreamInfo& Info) {
    Info = TAVAudioStreamInfo();
    if (!FileLoaded()) return;
    const AVStream* Stream = StreamOfKind(StreamIndex, FFirstAudioStream, AVMEDIA_TYPE_AUDIO, "audio");
    if (!Stream) return;
    const AVCodecParameters* Par = Stream->codecpar;
    FillCommon(Stream, Info);
    Info.Channels = Par->ch_layout.nb_channels;
    char Layout[128] = "";
    if (Par->ch_layout.nb_channels > 0 && av::av_channel_layout_describe(&Par->ch_layout, Layout, sizeof Layout) > 0)
        Info.ChannelLayout = Layout;
    Info.SampleRate = Par->sample_rate;
    Info.SampleFormat = Par->format;
}

std::vector<TAVStreamEntry> TAVProbe::GetStreams() {
    std::vector<TAVStreamEntry> Streams;
    if (!FileLoaded()) return Streams;
    const std::string FileLanguage = Tag(FContext->metadata, "language");
    for (int i = 0; i < FStreamCount; ++i) {
        const AVStream* Stream = FContext->streams[i];
        TAVStreamEntry Entry;
        Entry.Index = i;
        Entry.Kind = Stream->codecpar->codec_type;
        Entry.CodecName = av::avcodec_get_name(Stream->codecpar->codec_id);
        Entry.CodecLongName = CodecLongName(Stream->codecpar->codec_id);
        Entry.Language = Trim(Tag(Stream->metadata, "language"));
        if (Entry.Language.empty()) Entry.Language = Trim(FileLanguage);
        Entry.BitRate = std::max<int64_t>(Stream->codecpar->bit_rate, 0);
        Entry.AttachedPicture = (Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        Entry.Default = (Stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
        Streams.push_back(std::move(Entry));
    }
    return Streams;
}

std::string TAVProbe::GetFormatLongName() {
    if (!FileLoaded()) return "";
    if (!FContext->iformat) return "";
    return FContext->iformat->long_name ? FContext->iformat->long_name : FContext->iformat->name;
}

std::string TAVProbe::GetFileName() {
    if (!FileLoaded()) return "";
    return FContext->url ? FContext->url : "";
}

std::string TAVProbe::GetFormatName() {
    if (!FileLoaded()) return "";
    return FContext->iformat ? FContext->iformat->name : "";
}

int64_t TAVProbe::ContextFileSize() const {
    // Formats without a file of their own have no I/O context.
    return FContext->pb ? av::avio_size(FContext->pb) : 0;
}

int64_t TAVProbe::GetFileSize() {
    if (!FileLoaded()) return -1;
    int64_t Size = ContextFileSize();
    if (Size > 0) return Size;
    if (FContext->url && FileExists(FContext->url)) return GetFileSizeOnDisk(FContext->url);
    return Size;
}

bool TAVProbe::IsVideoStream(int StreamIndex) {
    if (!FileLoaded()) return false;
    if (StreamIndex < 0 || StreamIndex >= FStreamCount) {
        Log(0, StrFormat("stream index #%d is invalid.\n", StreamIndex));
        return false;
    }
    return FContext->streams[StreamIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

bool TAVProbe::IsAudioStream(int StreamIndex) {
    if (!FileLoaded()) return false;
    if (StreamIndex < 0 || StreamIndex >= FStreamCount) {
        Log(0, StrFormat("stream index #%d is invalid.\n", StreamIndex));
        return false;
    }
    return FContext->streams[StreamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TAVProbe::IsStillImage() const {
    if (!FContext || !FContext->iformat || !FContext->iformat->name) return false;
    std::string Name = FContext->iformat->name;
    return Name == "image2" || (Name.size() > 5 && Name.compare(Name.size() - 5, 5, "_pipe") == 0);
}

std::string TAVProbe::StreamLine(int Index) {
    const AVStream* Stream = FContext->streams[Index];
    std::string Line = StrFormat("Stream #%d", Index);
    if (FContext->iformat && (FContext->iformat->flags & AVFMT_SHOW_IDS)) Line += StrFormat("[0x%x]", Stream->id);
    std::string Language = Tag(Stream->metadata, "language");
    if (!Trim(Language).empty()) Line += "(" + Language + ")";

    int Num = Stream->time_base.num, Den = Stream->time_base.den;
    int Divisor = std::gcd(Num, Den);
    if (Divisor > 0) {
        Num /= Divisor;
        Den /= Divisor;
    }
    Line += StrFormat(", %d/%d", Num, Den);

    // The parameters lack the coded size and the codec time base that a
    // demuxer's codec context used to carry; the description shows both.
    char Description[256] = "";
    AVCodecContext* Codec = av::avcodec_alloc_context3(nullptr);
    if (Codec && av::avcodec_parameters_to_context(Codec, Stream->codecpar) >= 0) {
        Codec->coded_width = Codec->width;
        Codec->coded_height = Codec->height;
        AVRational Rate = Stream->avg_frame_rate.num > 0 ? Stream->avg_frame_rate : Stream->r_frame_rate;
        Codec->time_base = Rate.num > 0 && Rate.den > 0 ? av_inv_q(Rate) : Stream->time_base;
        av::avcodec_string(Description, sizeof Description, Codec, 0);
    }
    av::avcodec_free_context(&Codec);
    Line += std::string(": ") + Description;

    if (Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        // A codec context made from the parameters has no time base; the
        // stream's average frame rate stands for it.
        AVRational Real = Stream->r_frame_rate, Average = Stream->avg_frame_rate;
        if (Real.num != 0 && Real.den != 0)
            Line += StrFormat(", %5.2f tb(r)", av_q2d(Real));
        else if (Average.num != 0 && Average.den != 0)
            Line += StrFormat(", %5.2f tb(c)", av_q2d(Average));
    }
    if (Stream->start_time != AV_NOPTS_VALUE)
        Line += ", StartTime: " + SecondsText(av::av_rescale_q(Stream->start_time, Stream->time_base, TAVProbe::MicrosecondBase));
    if (Stream->duration != AV_NOPTS_VALUE)
        Line += ", Duration: " + FormatDuration(av::av_rescale_q(Stream->duration, Stream->time_base, TAVProbe::MicrosecondBase));
    else
        Line += ", Duration: N/A";
    return Line;
}

std::string TAVProbe::GetInfoText() {
    if (!FileLoaded()) return "";
    std::vector<std::string> Lines;
    const AVInputFormat* Format = FContext->iformat;
    Lines.push_back(StrFormat("File Name: %s", FContext->url ? FContext->url : ""));
    Lines.push_back(StrFormat("Format Name: %s", Format && Format->name ? Format->name : ""));
    Lines.push_back(StrFormat("Format Long Name: %s", Format && Format->long_name ? Format->long_name : ""));

    int64_t Size = ContextFileSize();
    if (Size <= 0 && FContext->url && FileExists(FContext->url)) Size = GetFileSizeOnDisk(FContext->url);
    Lines.push_back("File Size: " + FormatFileSize(Size));

    TAVFileInfo Info;
    GetFileInfo(Info);
    if (Info.StartTime != AV_NOPTS_VALUE) Lines.push_back("StartTime: " + SecondsText(Info.StartTime));
    if (Info.Duration != AV_NOPTS_VALUE)
        Lines.push_back("Duration: " + FormatDuration(Info.Duration));
    else
        Lines.push_back("Duration: N/A");
    if (Info.BitRate < 1)
        Lines.push_back("Bit Rate: N/A");
    else
        Lines.push_back(StrFormat("Bit Rate: %lld Kbps", static_cast<long long>(Info.BitRate / 1000)));
    if (Info.TimeStamp > 0) Lines.push_back("Time Stamp: " + FormatDateTime(UnixTimeToLocal(Info.TimeStamp)));

    const std::pair<const char*, const std::string*> Tags[] = {
        {"Title", &Info.Title},     {"Author", &Info.Author}, {"Copyright", &Info.Copyright},
        {"Comment", &Info.Comment}, {"Album", &Info.Album},   {"Genre", &Info.Genre},
    };
    for (const auto& [Name, Value] : Tags)
        if (!Value->empty()) Lines.push_back(std::string(Name) + ": " + *Value);
    if (Info.Year > 0) Lines.push_back(StrFormat("Year: %d", Info.Year));
    if (Info.Track > 0) Lines.push_back(StrFormat("Track: #%d", Info.Track));

    if (FContext->nb_programs == 0) {
        for (int i = 0; i < FStreamCount; ++i) Lines.push_back(StreamLine(i));
    } else {
        for (unsigned p = 0; p < FContext->nb_programs; ++p) {
            const AVProgram* Program = FContext->programs[p];
            Lines.push_back(ProgramLine(Program));
            for (unsigned k = 0; k < Program->nb_stream_indexes; ++k) {
                int Index = static_cast<int>(Program->stream_index[k]);
                if (Index < FStreamCount) Lines.push_back(StreamLine(Index));
            }
        }
    }

    std::string Text;
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (i > 0) Text += "\r\n";
        Text += Lines[i];
    }
    return Text;
}
