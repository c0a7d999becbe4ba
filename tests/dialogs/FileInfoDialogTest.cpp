// The file information dialog on generated media: the fields it fills from
// the probes of its own converter component, and what it shows for files
// without video, without audio and that cannot be opened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QHeaderView>
#include <QTreeWidget>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>

#include "app/GlobalUnit.h"
#include "binding/LibAV.h"
#include "dialogs/WinFileInfo.h"
#include "tests/TestMedia.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;

namespace {

class FileInfoDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }
    void SetUp() override {
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind) {
            Messages.push_back(C + ": " + T);
        });
        ApplyTheme(0);
    }
    void TearDown() override {
        Dialog.reset();
        SetMessageFunction({});
    }
    TfrmFileInfo& Open(const std::string& Source) {
        if (!Dialog) Dialog = std::make_unique<TfrmFileInfo>();
        Dialog->SetSourceFile(Source);
        Dialog->open();
        EXPECT_TRUE(Dialog->isVisible());
        return *Dialog;
    }
    // The nine value fields, video then audio.
    std::vector<std::string> Fields() const {
        std::vector<std::string> Texts;
        for (QLineEdit* E : {Dialog->edtFormat, Dialog->edtResloution, Dialog->edtBitRate, Dialog->edtFrameRate,
                             Dialog->edtTotalFrame, Dialog->edtAudioForamt, Dialog->edtAudioBitRate,
                             Dialog->edtSampleRate, Dialog->edtChannel})
            Texts.push_back(E->text().toStdString());
        return Texts;
    }

    std::vector<std::string> Messages;
    std::unique_ptr<TfrmFileInfo> Dialog;
};

// A small file made with the libraries: ten grey pictures a stream, half a
// second of silence, one subtitle cue. Empty when it worked, else why not.
struct TSourceStream {
    AVMediaType Kind;
    const char* Codec;  // encoder; subtitles are mov_text
    const char* Language = nullptr;
    int Width = 0, Height = 0;
    AVRational Sar = {1, 1};
    int Channels = 2;
    double Turn = 0;  // given to av_display_rotation_set; 0: no matrix
};

std::string MakeSource(const std::string& Path, const std::vector<TSourceStream>& Streams,
                       const std::vector<std::pair<const char*, const char*>>& Tags = {}) {
    struct TQuiet {
        int Level = av::av_log_get_level();
        TQuiet() { av::av_log_set_level(AV_LOG_ERROR); }
        ~TQuiet() { av::av_log_set_level(Level); }
    } Quiet;
    AVFormatContext* Out = nullptr;
    if (av::avformat_alloc_output_context2(&Out, nullptr, nullptr, Path.c_str()) < 0) return "no muxer";
    for (const auto& [Key, Value] : Tags) av::av_dict_set(&Out->metadata, Key, Value, 0);
    std::vector<AVCodecContext*> Encoders;
    std::string Error;
    auto Fail = [&](const std::string& Why) {
        if (Error.empty()) Error = Why;
    };
    for (const TSourceStream& Wanted : Streams) {
        AVStream* S = av::avformat_new_stream(Out, nullptr);
        if (Wanted.Language) av::av_dict_set(&S->metadata, "language", Wanted.Language, 0);
        if (Wanted.Kind == AVMEDIA_TYPE_SUBTITLE) {
            S->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
            S->codecpar->codec_id = AV_CODEC_ID_MOV_TEXT;
            S->time_base = {1, 1000};
            Encoders.push_back(nullptr);
            continue;
        }
        const AVCodec* Codec = av::avcodec_find_encoder_by_name(Wanted.Codec);
        if (!Codec) {
            Fail(std::string("no encoder ") + Wanted.Codec);
            Encoders.push_back(nullptr);
            continue;
        }
        AVCodecContext* C = av::avcodec_alloc_context3(Codec);
        Encoders.push_back(C);
        if (Wanted.Kind == AVMEDIA_TYPE_VIDEO) {
            C->width = Wanted.Width;
            C->height = Wanted.Height;
            C->pix_fmt = AV_PIX_FMT_YUV420P;
            C->time_base = {1, 25};
            C->framerate = {25, 1};
            C->sample_aspect_ratio = S->sample_aspect_ratio = Wanted.Sar;
            C->gop_size = 5;
        } else {
            C->sample_rate = 44100;
            av::av_channel_layout_default(&C->ch_layout, Wanted.Channels);
            C->sample_fmt = Codec->sample_fmts[0];
            C->time_base = {1, C->sample_rate};
            C->bit_rate = 96000;
        }
        if (Out->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (av::avcodec_open2(C, Codec, nullptr) < 0) Fail(std::string("cannot open ") + Wanted.Codec);
        av::avcodec_parameters_from_context(S->codecpar, C);
        S->time_base = C->time_base;
        if (Wanted.Turn != 0) {
            // The binding has no entry for adding side data; the library
            // is loaded already.
            using TNewSideData = uint8_t* (*)(AVStream*, AVPacketSideDataType, size_t);
            void* Library = dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_NOLOAD);
            auto NewSideData = Library ? reinterpret_cast<TNewSideData>(dlsym(Library, "av_stream_new_side_data")) : nullptr;
            auto* Matrix = NewSideData ? reinterpret_cast<int32_t*>(
                                             NewSideData(S, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)))
                                       : nullptr;
            if (Matrix) av::av_display_rotation_set(Matrix, Wanted.Turn);
            else Fail("no display matrix");
            if (Library) dlclose(Library);
        }
    }
    if (Error.empty() && av::avio_open2(&Out->pb, Path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) Fail("cannot write");
    if (Error.empty() && av::avformat_write_header(Out, nullptr) < 0) Fail("no header");
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    auto Drain = [&](AVCodecContext* C, AVStream* S) {
        while (av::avcodec_receive_packet(C, Packet) == 0) {
            Packet->stream_index = S->index;
            av::av_packet_rescale_ts(Packet, C->time_base, S->time_base);
            if (av::av_interleaved_write_frame(Out, Packet) < 0) Fail("cannot write a packet");
        }
    };
    for (size_t i = 0; Error.empty() && i < Streams.size(); ++i) {
        AVCodecContext* C = Encoders[i];
        AVStream* S = Out->streams[i];
        if (!C) {
            // One cue: a mov_text sample is its length in two bytes, then the text.
            const char Text[] = "Hello";
            av::av_new_packet(Packet, 2 + 5);
            Packet->data[0] = 0;
            Packet->data[1] = 5;
            std::memcpy(Packet->data + 2, Text, 5);
            Packet->pts = Packet->dts = 0;
            Packet->duration = 300;
            Packet->stream_index = S->index;
            if (av::av_interleaved_write_frame(Out, Packet) < 0) Fail("cannot write the cue");
            continue;
        }
        const bool Video = C->codec_type == AVMEDIA_TYPE_VIDEO;
        const int Count = Video ? 10 : (C->sample_rate / 2) / std::max(C->frame_size, 1);
        for (int n = 0; n < Count; ++n) {
            av::av_frame_unref(Frame);
            if (Video) {
                Frame->format = C->pix_fmt;
                Frame->width = C->width;
                Frame->height = C->height;
                Frame->pts = n;
            } else {
                Frame->format = C->sample_fmt;
                Frame->nb_samples = C->frame_size > 0 ? C->frame_size : 1024;
                av::av_channel_layout_copy(&Frame->ch_layout, &C->ch_layout);
                Frame->sample_rate = C->sample_rate;
                Frame->pts = int64_t(n) * Frame->nb_samples;
            }
            av::av_frame_get_buffer(Frame, 0);
            if (Video) {
                for (int Plane = 0; Plane < 3; ++Plane)
                    for (int Row = 0; Row < (Plane ? C->height / 2 : C->height); ++Row)
                        std::memset(Frame->data[Plane] + Row * Frame->linesize[Plane], 128,
                                    size_t(Plane ? C->width / 2 : C->width));
            } else {
                av::av_samples_set_silence(Frame->data, 0, Frame->nb_samples, C->ch_layout.nb_channels, C->sample_fmt);
            }
            av::avcodec_send_frame(C, Frame);
            Drain(C, S);
        }
        av::avcodec_send_frame(C, nullptr);
        Drain(C, S);
    }
    if (Error.empty()) av::av_write_trailer(Out);
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    for (AVCodecContext*& C : Encoders) av::avcodec_free_context(&C);
    av::avio_closep(&Out->pb);
    av::avformat_free_context(Out);
    return Error;
}

}  // namespace

// Files as people have them: the dialog names each stream's codec (not the
// container's), its rate in kbit/s, the picture's shape and turn, the
// sound's layout, and every stream with its language. The expectations are
// read back with the libraries themselves.
TEST_F(FileInfoDialog, ShowsEveryStreamWithCodecRateShapeLayoutAndLanguage) {
    const fs::path Folder = ScratchFolder("FileInfoSources");
    struct TCase {
        const char* Name;
        std::vector<TSourceStream> Streams;
        std::vector<std::pair<const char*, const char*>> Tags;
        const char* Aspect;  // of the first video stream as shown
    };
    const TCase Cases[] = {
        {"song.mp3", {{AVMEDIA_TYPE_AUDIO, "libmp3lame"}}, {{"language", "deu"}}, ""},
        {"broadcast.mpg", {{AVMEDIA_TYPE_VIDEO, "mpeg2video", nullptr, 720, 576, {64, 45}}, {AVMEDIA_TYPE_AUDIO, "mp2"}},
         {}, "16:9"},
        {"film.mp4",
         {{AVMEDIA_TYPE_VIDEO, "libx264", nullptr, 320, 240},
          {AVMEDIA_TYPE_AUDIO, "aac", "eng"},
          {AVMEDIA_TYPE_AUDIO, "aac", "fra", 0, 0, {1, 1}, 1},
          {AVMEDIA_TYPE_SUBTITLE, "mov_text", "eng"}},
         {}, "4:3"},
        // A phone held upright: the library reads its matrix back as -90,
        // shown turned clockwise.
        {"phone.mp4", {{AVMEDIA_TYPE_VIDEO, "libx264", nullptr, 320, 180, {1, 1}, 2, 90}, {AVMEDIA_TYPE_AUDIO, "aac"}},
         {}, "9:16, turned 90\u00b0 clockwise"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Path = (Folder / C.Name).string();
        ASSERT_EQ(MakeSource(Path, C.Streams, C.Tags), "");
        TfrmFileInfo& D = Open(Path);

        AVFormatContext* Context = nullptr;
        ASSERT_EQ(av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
        ASSERT_EQ(D.lstStreams->topLevelItemCount(), static_cast<int>(Context->nb_streams));
        const AVDictionaryEntry* FileLanguage = av::av_dict_get(Context->metadata, "language", nullptr, 0);
        bool VideoSeen = false, AudioSeen = false;
        for (unsigned i = 0; i < Context->nb_streams; ++i) {
            const AVStream* S = Context->streams[i];
            const AVCodecDescriptor* Codec = av::avcodec_descriptor_get(S->codecpar->codec_id);
            ASSERT_NE(Codec, nullptr);
            const QTreeWidgetItem* Row = D.lstStreams->topLevelItem(int(i));
            EXPECT_EQ(Row->text(2).toStdString(), Codec->name);
            const AVDictionaryEntry* Language = av::av_dict_get(S->metadata, "language", nullptr, 0);
            if (!Language) Language = FileLanguage;
            EXPECT_EQ(Row->text(3).toStdString(), Language ? Language->value : "") << i;
            const AVCodecParameters* Par = S->codecpar;
            if (Par->codec_type == AVMEDIA_TYPE_VIDEO && !VideoSeen) {
                VideoSeen = true;
                EXPECT_EQ(D.edtFormat->text().section(' ', 0, 0).toStdString(), Codec->name);
                EXPECT_EQ(D.edtFormat->toolTip().toStdString(), Codec->long_name);
                EXPECT_EQ(D.edtResloution->text().toStdString(),
                          std::to_string(Par->width) + "x" + std::to_string(Par->height));
                EXPECT_EQ(D.edtAspect->text().toStdString(), C.Aspect);
                // The rate is the stream's own, else a share of the file's:
                // never 0 or unknown for a file that has a length.
                const QString Rate = D.edtBitRate->text();
                EXPECT_TRUE(Rate.endsWith(" kbit/s") && Rate.section(' ', 0, 0).toInt() > 0) << Rate.toStdString();
                if (Par->bit_rate > 0) {
                    EXPECT_EQ(Rate.toStdString(), std::to_string((Par->bit_rate + 500) / 1000) + " kbit/s");
                }
            }
            if (Par->codec_type == AVMEDIA_TYPE_AUDIO && !AudioSeen) {
                AudioSeen = true;
                EXPECT_EQ(D.edtAudioForamt->text().section(' ', 0, 0).toStdString(), Codec->name);
                EXPECT_EQ(D.edtAudioForamt->toolTip().toStdString(), Codec->long_name);
                ASSERT_GT(Par->bit_rate, 0);
                EXPECT_EQ(D.edtAudioBitRate->text().toStdString(),
                          std::to_string((Par->bit_rate + 500) / 1000) + " kbit/s");
                EXPECT_EQ(D.edtSampleRate->text().toStdString(), std::to_string(Par->sample_rate));
                char Layout[64];
                ASSERT_GT(av::av_channel_layout_describe(&Par->ch_layout, Layout, sizeof Layout), 0);
                EXPECT_EQ(D.edtChannel->text().toStdString(),
                          std::to_string(Par->ch_layout.nb_channels) + " (" + Layout + ")");
            }
        }
        // What the sources were made with reached the file.
        if (std::string(C.Name) == "song.mp3") {
            ASSERT_NE(FileLanguage, nullptr);
            EXPECT_STREQ(FileLanguage->value, "deu");
            EXPECT_TRUE(D.edtFormat->text().isEmpty() && D.edtAspect->text().isEmpty());
        }
        if (std::string(C.Name) == "phone.mp4") {
            const AVStream* S = Context->streams[0];
            const int32_t* Matrix = nullptr;
            for (int k = 0; k < S->nb_side_data; ++k)
                if (S->side_data[k].type == AV_PKT_DATA_DISPLAYMATRIX)
                    Matrix = reinterpret_cast<const int32_t*>(S->side_data[k].data);
            ASSERT_NE(Matrix, nullptr);
            EXPECT_NEAR(av::av_display_rotation_get(Matrix), -90, 0.01);
        }
        EXPECT_EQ(D.lstStreams->findItems("fra", Qt::MatchExactly, 3).size(), std::string(C.Name) == "film.mp4" ? 1 : 0);
        av::avformat_close_input(&Context);
        D.accept();
    }
}

TEST_F(FileInfoDialog, ShowsDurationAndTheFirstStreamsOfEachKind) {
    struct TCase {
        const char* File;
        const char* Length;  // lblFileLength
        // Video codec, resolution, frame rate, total frames, then the audio
        // codec, sample rate and channels.
        std::vector<std::string> Texts;
    };
    const TCase Cases[] = {
        {"clip.avi", "3.040 Second", {"mpeg4", "320x240", "25", "76", "mp3", "44100", "2 (stereo)"}},
        {"clip.mp4", "3.008 Second", {"h264", "640x480", "25", "75", "aac", "48000", "2 (stereo)"}},
        {"fps25.mp4", "2.021 Second", {"h264", "320x240", "25", "50", "aac", "44100", "2 (stereo)"}},
        // A layout without channel names is a count.
        {"late_audio.mkv", "2.000 Second", {"mpeg4", "320x240", "25", "50", "pcm_s16le", "44100", "2"}},
        // Video without sound: no audio fields.
        {"long35.avi", "35.000 Second", {"mpeg4", "160x120", "25", "875", "", "", ""}},
        // Sound without video: the sound's fields.
        {"tone.mp3", "3.030 Second", {"", "", "", "", "mp3", "44100", "2 (stereo)"}},
        {"tone.wav", "2.000 Second", {"", "", "", "", "pcm_s16le", "48000", "1"}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.File);
        const std::string Path = MediaPath(C.File);
        TfrmFileInfo& D = Open(Path);
        EXPECT_EQ(D.lblFileLength->text().toStdString(), C.Length);
        // The label may be cut where the checkout's path is long; the tooltip never is.
        EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), Path);
        const std::vector<std::string> F = Fields();
        // The codec fields start with the codec's short name.
        const std::vector<std::string> Shown = {F[0].substr(0, F[0].find(' ')), F[1], F[3], F[4],
                                                F[5].substr(0, F[5].find(' ')), F[7], F[8]};
        EXPECT_EQ(Shown, C.Texts);
        EXPECT_EQ(D.VxAVC.JobCount(), 1);
        D.accept();
    }
}

TEST_F(FileInfoDialog, StreamWithoutItsOwnBitRateShowsTheFilesLessTheOthers) {
    TfrmFileInfo& D = Open(MediaPath("jump.mkv"));
    EXPECT_EQ(D.edtResloution->text(), "320x240");
    // Matroska keeps no rate per stream; the file's own is size over length.
    AVFormatContext* Context = nullptr;
    ASSERT_EQ(av::avformat_open_input(&Context, MediaPath("jump.mkv").c_str(), nullptr, nullptr), 0);
    ASSERT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
    int64_t Rate = Context->bit_rate;
    for (unsigned i = 0; i < Context->nb_streams; ++i)
        if (Context->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) Rate -= Context->streams[i]->codecpar->bit_rate;
    av::avformat_close_input(&Context);
    ASSERT_GT(Rate, 0);
    EXPECT_EQ(D.edtBitRate->text().toStdString(), std::to_string((Rate + 500) / 1000) + " kbit/s");
    EXPECT_FALSE(D.edtBitRate->toolTip().isEmpty());
}

TEST_F(FileInfoDialog, PathsOfMoreThan45CharactersAreCut) {
    char Template[] = "/tmp/tfiXXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    const std::string Dir = Template;  // 14 characters
    struct TCase {
        size_t Length;
        bool Whole;
    };
    for (const TCase& C : {TCase{44, true}, TCase{45, true}, TCase{46, false}, TCase{80, false}}) {
        const std::string Path = Dir + "/" + std::string(C.Length - Dir.size() - 5, 'v') + ".avi";
        ASSERT_EQ(Path.size(), C.Length);
        fs::create_symlink(MediaPath("clip.avi"), Path);
        TfrmFileInfo& D = Open(Path);
        EXPECT_EQ(D.lblSourceName->text().toStdString(), C.Whole ? Path : Path.substr(0, 40) + "...avi  ")
            << C.Length;
        EXPECT_EQ(D.lblSourceName->toolTip().toStdString(), Path);
        EXPECT_EQ(D.lblSourceName->width(), TfrmFileInfo::SourceLabelWidth);
        D.accept();
    }
    // 45 wide letters are kept whole by the rule but are wider than the
    // label: it draws them elided in the middle, never cut off.
    const std::string Wide = Dir + "/" + std::string(45 - Dir.size() - 5, 'W') + ".avi";
    fs::create_symlink(MediaPath("clip.avi"), Wide);
    TfrmFileInfo& D = Open(Wide);
    auto* Label = dynamic_cast<TElidedLabel*>(D.lblSourceName);
    ASSERT_NE(Label, nullptr);
    EXPECT_EQ(Label->text().toStdString(), Wide);
    const QString Shown = Label->Shown();
    EXPECT_TRUE(Shown.startsWith("/tmp/") && Shown.endsWith("W.avi") && Shown.contains(QChar(0x2026)))
        << Shown.toStdString();
    EXPECT_LE(Label->fontMetrics().horizontalAdvance(Shown), Label->contentsRect().width());
    D.accept();
    fs::remove_all(Dir);
}

TEST_F(FileInfoDialog, FileThatCannotBeOpenedSaysWhyAndLeavesNoEarlierFields) {
    const std::string Missing = MediaPath("no-such-file.avi");
    for (const std::string& Bad : {MediaPath("random.bin"), MediaPath("empty.mp4"), Missing}) {
        SCOPED_TRACE(Bad);
        Messages.clear();
        Open(MediaPath("clip.avi")).accept();
        TfrmFileInfo& D = Open(Bad);
        EXPECT_TRUE(D.isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Messages.empty(); }, 2000));
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].rfind("Warning: " + Bad + ":", 0), 0u) << Messages[0];
        EXPECT_EQ(Fields(), std::vector<std::string>(9));
        EXPECT_TRUE(D.lblSourceName->text().isEmpty());
        D.accept();
    }
    // An empty list shows nothing and says nothing.
    Messages.clear();
    Open(MediaPath("clip.avi")).accept();
    Open("");
    QTest::qWait(20);
    EXPECT_EQ(Fields(), std::vector<std::string>(9));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FileInfoDialog, EveryWayOfClosingEmptiesTheJobList) {
    TfrmFileInfo& D = Open(MediaPath("clip.mp4"));
    EXPECT_EQ(D.windowTitle(), "File infomation");
    EXPECT_EQ(D.width(), TfrmFileInfo::ShownWidth);
    EXPECT_GE(D.height(), TfrmFileInfo::ShownHeight);
    EXPECT_EQ(D.VxAVC.JobCount(), 1);
    QTest::mouseClick(D.btn1, Qt::LeftButton);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
    Open(MediaPath("clip.mp4"));
    QTest::keyClick(&D, Qt::Key_Escape);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(D.VxAVC.JobCount(), 0);
}

TEST(FileInfoTexts, ShapeRateAndFrameRate) {
    struct TShape {
        int W, H, SarNum, SarDen, Rotation;
        bool Mirrored;
        const char* Text;
    };
    const TShape Shapes[] = {
        {720, 576, 64, 45, 0, false, "16:9"},
        {720, 576, 16, 15, 0, false, "4:3"},
        {720, 576, 0, 1, 0, false, "5:4"},  // unknown samples are square
        {1920, 1080, 1, 1, 270, false, "9:16, turned 90\u00b0 anticlockwise"},
        {1920, 1080, 1, 1, 180, true, "16:9, turned 180\u00b0, mirrored"},
        {1366, 767, 1, 1, 0, false, "1.78:1"},
        {0, 576, 1, 1, 0, false, ""},
    };
    for (const TShape& C : Shapes)
        EXPECT_EQ(TfrmFileInfo::AspectText(C.W, C.H, C.SarNum, C.SarDen, C.Rotation, C.Mirrored), C.Text) << C.Text;
    EXPECT_EQ(TfrmFileInfo::BitRateText(1150000), "1150 kbit/s");
    EXPECT_EQ(TfrmFileInfo::BitRateText(1499), "1 kbit/s");
    EXPECT_EQ(TfrmFileInfo::BitRateText(0), "unknown");
    EXPECT_EQ(TfrmFileInfo::ChannelText(6, "5.1(side)"), "6 (5.1(side))");
    EXPECT_EQ(TfrmFileInfo::ChannelText(3, "3 channels"), "3");
    EXPECT_EQ(TfrmFileInfo::ChannelText(0, ""), "");
    const std::tuple<int, int, const char*> Rates[] = {
        {25, 1, "25"}, {30000, 1001, "29.97"}, {24000, 1001, "23.976"}, {50, 2, "25"}, {0, 1, ""}, {25, 0, ""}};
    for (const auto& [Num, Den, Text] : Rates) EXPECT_EQ(TfrmFileInfo::FrameRateText(Num, Den), Text) << Num;
}

TEST_F(FileInfoDialog, CaptionsFitUnderTwoThemes) {
    const char* Shots = std::getenv("TARN_SHOTS_DIR");
    for (int Theme : {0, 3}) {
        ApplyTheme(Theme);
        TfrmFileInfo& D = Open(MediaPath("clip.mp4"));
        QTest::qWait(20);
        for (QWidget* W : D.findChildren<QWidget*>()) {
            if (!W->isVisible() || W->objectName().startsWith("qt_")) continue;
            // The stream list lays out its own header and scroll bars.
            if (W->parentWidget() == D.lstStreams) continue;
            EXPECT_GE(W->width(), W->minimumSizeHint().width()) << W->objectName().toStdString();
            EXPECT_GE(W->height(), W->minimumSizeHint().height()) << W->metaObject()->className() << " " << W->objectName().toStdString();
        }
        EXPECT_GE(D.lstStreams->header()->height(), D.lstStreams->header()->sizeHint().height());
        // Every value fits its field.
        for (QLineEdit* E : D.findChildren<QLineEdit*>())
            EXPECT_LT(E->fontMetrics().horizontalAdvance(E->text()), E->width() - 8) << E->objectName().toStdString();
        EXPECT_EQ(D.edtFormat->palette().color(QPalette::Base), QApplication::palette().color(QPalette::ToolTipBase));
        if (Shots)
            D.grab().save(QDir(Shots).filePath(QString("fileinfo_%1.png").arg(ThemeName(Theme)).replace(' ', '_')));
        D.accept();
    }
    ApplyTheme(0);
}
