// The profile settings dialog, driven through its controls: the lists it
// fills from the profile file, the keys OK writes, Cancel and Default, and
// conversions with the settings it writes, read back with the probe.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/GlobalUnit.h"
#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "common/IniFile.h"
#include "gui/ProfileList.h"
#include "gui/WinSettings.h"
#include "probe/AVProbe.h"
#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"
#include "widgets/Theme.h"

namespace fs = std::filesystem;
using namespace tarnconv_test;

namespace {

// Profile 0 offers every kind of item the mappings know and some they do
// not; profile 1 has "null" and empty lists; profile 2 has no video encoder
// and a volume that is not a number.
const char* const EdgeProfiles = R"([formatInfo0]
VideoSize=320x240,640x480
VideoBitRate=512,768
FrameRate=as source,25
VideoEncoder=MPEG-4,XviD,H264,Foo
AudioBitRate=96.5,128
SampleRate=44100,48000
AudioEncoder=AAC,MP3,pcm_mulaw ,Wma2,Ogg
Channel=as source,mono 1 channel,stereo 2 channels,Stereo 2 Channels
Volume=100%,125%,110%,400%
iVideoSize=1
iVideoBitRate=0
iFrameRate=1
iVideoEncoder=2
iAudioBitRate=1
iSampleRate=1
iAudioEncoder=1
iChannel=2
iVolume=1
paraMaxBitrate=900
paraLevel=21
paraCoder=0

[formatInfo1]
VideoSize=null
VideoBitRate=
FrameRate=25
VideoEncoder=MPEG-4
AudioBitRate=
SampleRate=null
AudioEncoder=AAC
Channel=null
Volume=null

[formatInfo2]
VideoSize=320x240
VideoEncoder=
AudioBitRate=128
SampleRate=44100
AudioEncoder=MP3
Channel=mono 1 channel
Volume=abc%,50%
)";

QStringList Catalogue() {
    QStringList Names;
    for (const char* Name : ProfileNames) Names << Name;
    return Names;
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = ScratchFolder(std::string("settings_") + Info->name());
        Files.SettingsIni = (Folder / "settings.ini").string();
        Files.FormatIni = (Folder / "format.ini").string();
        std::ofstream(Files.FormatIni) << EdgeProfiles;
        SetMessageFunction([this](const std::string& C, const std::string& T, TMessageKind K) {
            Messages.push_back({C, T, K});
        });
        ApplyTheme(0);
    }
    void TearDown() override {
        Dialog.reset();
        SetMessageFunction({});
    }

    // Opens the dialog on profile N as the main window would.
    TfrmSettings& Open(int N) {
        if (!Dialog) {
            Dialog = std::make_unique<TfrmSettings>(Files);
            Dialog->SetSelectProfile([this](int Index) { Selected.push_back(Index); });
        }
        Dialog->SetCatalogue(Catalogue(), N);
        Dialog->open();
        EXPECT_TRUE(Dialog->isVisible());
        return *Dialog;
    }
    void Choose(QComboBox* Combo, const char* Item) {
        const int Index = Combo->findText(Item);
        ASSERT_GE(Index, 0) << Item;
        Combo->setCurrentIndex(Index);
    }
    std::string Key(int N, const char* Name, const char* Default = "<none>") const {
        return IniFile(Files.SettingsIni).ReadString(ProfileSection(N), Name, Default);
    }
    static void Click(QPushButton* Button) { QTest::mouseClick(Button, Qt::LeftButton); }

    struct TMessage {
        std::string Caption, Text;
        TMessageKind Kind;
    };
    fs::path Folder;
    TProfileFiles Files;
    std::vector<TMessage> Messages;
    std::vector<int> Selected;
    std::unique_ptr<TfrmSettings> Dialog;
};

}  // namespace

TEST_F(SettingsDialog, ShowsCatalogueAndFillsListsFromBothFiles) {
    IniFile(Files.SettingsIni).WriteInteger(ProfileSection(0), "iVideoBitRate", 1);
    IniFile(Files.SettingsIni).WriteInteger(ProfileSection(0), "iChannel", 9);
    const std::string Stored = ReadFile(Files.SettingsIni);
    TfrmSettings& D = Open(2);
    EXPECT_EQ(D.windowTitle(), "Settings");
    EXPECT_EQ(D.size(), QSize(TfrmSettings::ShownWidth, TfrmSettings::ShownHeight));
    // Every profile and every heading, all in view at once.
    const int Rows = ProfileCount + static_cast<int>(ProfileGroups().size());
    EXPECT_EQ(D.cbOutputFormat->count(), Rows);
    EXPECT_EQ(D.cbOutputFormat->maxVisibleItems(), Rows);
    EXPECT_EQ(SelectedProfile(D.cbOutputFormat), 2);

    struct TList {
        int Profile;
        QComboBox* TfrmSettings::*Combo;
        int Count, Current;
        bool Enabled;
    };
    const TList Lists[] = {
        // Stored positions select, absent ones select the first, one past
        // the end selects nothing.
        {0, &TfrmSettings::cmbVideoBitRate, 2, 1, true},
        {0, &TfrmSettings::cmbVideoSize, 2, 0, true},
        {0, &TfrmSettings::cmbChannel, 4, -1, true},
        {0, &TfrmSettings::cmbAudioEncoder, 5, 0, true},
        // "null" disables, even among the video lists of a profile with an
        // encoder; an empty video list is one empty item, an empty audio
        // list nothing.
        {1, &TfrmSettings::cmbVideoSize, 0, -1, false},
        {1, &TfrmSettings::cmbVideoBitRate, 1, 0, true},
        {1, &TfrmSettings::cmbFrameRate, 1, 0, true},
        {1, &TfrmSettings::cmbAudioBitRate, 0, -1, false},
        {1, &TfrmSettings::cmbSamplerate, 0, -1, false},
        {1, &TfrmSettings::cmbVolume, 0, -1, false},
        // Without a video encoder list no video list applies.
        {2, &TfrmSettings::cmbVideoEncoder, 0, -1, false},
        {2, &TfrmSettings::cmbVideoSize, 1, 0, false},
        {2, &TfrmSettings::cmbSamplerate, 1, 0, true},
        // A profile the file does not describe offers nothing.
        {5, &TfrmSettings::cmbAudioEncoder, 0, -1, false},
    };
    for (const TList& L : Lists) {
        SelectProfile(D.cbOutputFormat, L.Profile);
        QComboBox* Combo = D.*L.Combo;
        SCOPED_TRACE(Combo->objectName().toStdString() + " of profile " + std::to_string(L.Profile));
        EXPECT_EQ(Combo->count(), L.Count);
        EXPECT_EQ(Combo->currentIndex(), L.Current);
        EXPECT_EQ(Combo->isEnabled(), L.Enabled);
        EXPECT_EQ(Combo->maxVisibleItems(), std::max(1, L.Count));
        EXPECT_FALSE(Combo->isEditable());
    }
    SelectProfile(D.cbOutputFormat, 0);
    EXPECT_EQ(D.cmbAudioEncoder->itemText(2), "pcm_mulaw ");  // blanks belong to the items
    D.reject();
    EXPECT_EQ(ReadFile(Files.SettingsIni), Stored);
    EXPECT_TRUE(Selected.empty());
}

TEST_F(SettingsDialog, OkMapsEachItemAndAnUnmatchedItemWritesNothing) {
    struct TCase {
        QComboBox* TfrmSettings::*Combo;
        const char* Item;
        const char* Key;
        const char* Written;  // nullptr: the key keeps its value
    };
    const TCase Cases[] = {
        {&TfrmSettings::cmbVideoEncoder, "MPEG-4", "paraVideoEncoder", "mpeg4"},
        {&TfrmSettings::cmbVideoEncoder, "XviD", "paraVideoEncoder", "libxvid"},
        {&TfrmSettings::cmbVideoEncoder, "H264", "paraVideoEncoder", "libx264"},
        {&TfrmSettings::cmbVideoEncoder, "Foo", "paraVideoEncoder", nullptr},
        {&TfrmSettings::cmbAudioEncoder, "AAC", "paraAudioEncoder", "libfaac"},
        {&TfrmSettings::cmbAudioEncoder, "MP3", "paraAudioEncoder", "libmp3lame"},
        {&TfrmSettings::cmbAudioEncoder, "pcm_mulaw ", "paraAudioEncoder", "pcm_mulaw"},
        {&TfrmSettings::cmbAudioEncoder, "Wma2", "paraAudioEncoder", "wmav2"},
        {&TfrmSettings::cmbAudioEncoder, "Ogg", "paraAudioEncoder", nullptr},
        {&TfrmSettings::cmbChannel, "as source", "paraChannel", "as source"},
        {&TfrmSettings::cmbChannel, "mono 1 channel", "paraChannel", "1"},
        {&TfrmSettings::cmbChannel, "stereo 2 channels", "paraChannel", "2"},
        {&TfrmSettings::cmbChannel, "Stereo 2 Channels", "paraChannel", nullptr},
        {&TfrmSettings::cmbVolume, "100%", "paraVolume", "256"},
        {&TfrmSettings::cmbVolume, "125%", "paraVolume", "320"},
        {&TfrmSettings::cmbVolume, "400%", "paraVolume", "1024"},
        {&TfrmSettings::cmbVolume, "110%", "paraVolume", nullptr},
        {&TfrmSettings::cmbAudioBitRate, "96.5", "paraAudioBitRate", "96.5"},
        {&TfrmSettings::cmbFrameRate, "as source", "paraFrameRate", "as source"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(std::string(C.Item) + " -> " + C.Key);
        IniFile(Files.SettingsIni).WriteString(ProfileSection(0), C.Key, "earlier");
        TfrmSettings& D = Open(0);
        // Every other list keeps a mapped item, so only this one is in question.
        Choose(D.cmbVideoEncoder, "MPEG-4");
        Choose(D.cmbAudioEncoder, "AAC");
        Choose(D.cmbChannel, "as source");
        Choose(D.cmbVolume, "100%");
        Choose(D.*C.Combo, C.Item);
        Click(D.btnOk);
        EXPECT_FALSE(D.isVisible());
        EXPECT_EQ(Key(0, C.Key), C.Written ? C.Written : "earlier");
    }
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(Selected, std::vector<int>(std::size(Cases), 0));
}

TEST_F(SettingsDialog, OkWritesEveryStepForTheDialogsProfileAndSelectsIt) {
    TfrmSettings& D = Open(3);
    SelectProfile(D.cbOutputFormat, 0);
    Choose(D.cmbVideoSize, "320x240");
    Choose(D.cmbVideoBitRate, "768");
    Choose(D.cmbFrameRate, "25");
    Choose(D.cmbVideoEncoder, "H264");
    Choose(D.cmbAudioBitRate, "128");
    Choose(D.cmbSamplerate, "48000");
    Choose(D.cmbAudioEncoder, "MP3");
    Choose(D.cmbChannel, "stereo 2 channels");
    Choose(D.cmbVolume, "125%");
    Click(D.btnOk);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(Selected, std::vector<int>{0});
    EXPECT_EQ(TAppSettings(Files.SettingsIni).OutputFormat(), 0);
    EXPECT_EQ(Key(0, "Description"), ProfileNames[0]);
    const std::pair<const char*, const char*> Expected[] = {
        {"iVideoSize", "0"},          {"iVideoBitRate", "1"},       {"iFrameRate", "1"},
        {"iVideoEncoder", "2"},       {"iAudioBitRate", "1"},       {"iSampleRate", "1"},
        {"iAudioEncoder", "1"},       {"iChannel", "2"},            {"iVolume", "1"},
        {"paraVideoSize", "320x240"}, {"paraVideoBitRate", "768"},  {"paraFrameRate", "25"},
        {"paraVideoEncoder", "libx264"}, {"paraSampleRate", "48000"}, {"paraAudioBitRate", "128"},
        {"paraChannel", "2"},         {"paraVolume", "320"},        {"paraAudioEncoder", "libmp3lame"},
        // The H.264 values: the profile's own, else the defaults.
        {"paraBitExact", "True"},     {"paraMaxBitrate", "900"},    {"paraBufferSize", "128"},
        {"paraLevel", "21"},          {"paraQscale", "25"},         {"paraGop", "250"},
        {"paraCoder", "0"},
    };
    for (const auto& [Name, Value] : Expected) EXPECT_EQ(Key(0, Name), Value) << Name;
    EXPECT_EQ(Key(3, "Description"), "<none>");
}

TEST_F(SettingsDialog, NullListsWriteMinusOneAndEmptyTextsAndNoMappedValue) {
    TfrmSettings& D = Open(1);
    Click(D.btnOk);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(Key(1, "iVideoSize"), "-1");
    EXPECT_EQ(Key(1, "paraVideoSize"), "");
    EXPECT_EQ(Key(1, "iSampleRate"), "-1");
    EXPECT_EQ(Key(1, "paraSampleRate"), "");
    EXPECT_EQ(Key(1, "iChannel"), "-1");
    EXPECT_EQ(Key(1, "paraChannel"), "<none>");
    EXPECT_EQ(Key(1, "iVolume"), "-1");
    EXPECT_EQ(Key(1, "paraVolume"), "<none>");
    EXPECT_EQ(Key(1, "paraVideoEncoder"), "mpeg4");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(SettingsDialog, CancelAndDefaultWriteNothing) {
    IniFile(Files.SettingsIni).WriteInteger("settings", "OutPutFormat", 2);
    IniFile(Files.SettingsIni).WriteInteger(ProfileSection(0), "iVideoEncoder", 0);
    const std::string Stored = ReadFile(Files.SettingsIni);

    TfrmSettings& D = Open(2);
    SelectProfile(D.cbOutputFormat, 0);
    EXPECT_EQ(D.cmbVideoEncoder->count(), 4);
    Choose(D.cmbVolume, "400%");
    Click(D.btnCancel);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(ReadFile(Files.SettingsIni), Stored);

    // Reopening shows the main window's profile again, with the stored
    // positions; Default selects the profile file's positions instead.
    Open(2);
    EXPECT_EQ(SelectedProfile(D.cbOutputFormat), 2);
    SelectProfile(D.cbOutputFormat, 0);
    EXPECT_EQ(D.cmbVideoEncoder->currentText(), "MPEG-4");
    EXPECT_EQ(D.cmbVolume->currentText(), "100%");
    Click(D.btnDefault);
    EXPECT_EQ(D.cmbVideoEncoder->currentText(), "H264");
    EXPECT_EQ(D.cmbVideoSize->currentText(), "640x480");
    EXPECT_EQ(D.cmbVolume->currentText(), "125%");
    EXPECT_EQ(D.cmbChannel->currentText(), "stereo 2 channels");
    Click(D.btnCancel);

    EXPECT_EQ(ReadFile(Files.SettingsIni), Stored);
    EXPECT_TRUE(Selected.empty());
}

TEST_F(SettingsDialog, VolumeThatIsNoNumberIsShownKeepsEarlierKeysAndStaysOpen) {
    IniFile(Files.SettingsIni).WriteString(ProfileSection(2), "paraAudioEncoder", "earlier");
    TfrmSettings& D = Open(2);
    Choose(D.cmbVolume, "abc%");
    Click(D.btnOk);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Tarn MP4 Video Converter");
    EXPECT_EQ(Messages[0].Text, "'abc' is not a valid integer value.");
    EXPECT_EQ(Messages[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(D.isVisible());
    EXPECT_TRUE(Selected.empty());
    EXPECT_EQ(Key(2, "paraChannel"), "1");                // written before the volume
    EXPECT_EQ(Key(2, "paraAudioEncoder"), "earlier");     // after it
    EXPECT_EQ(TAppSettings(Files.SettingsIni).OutputFormat(), 2);

    Choose(D.cmbVolume, "50%");
    Click(D.btnOk);
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(Key(2, "paraVolume"), "128");
    EXPECT_EQ(Key(2, "paraAudioEncoder"), "libmp3lame");
    EXPECT_EQ(Selected, std::vector<int>{2});
}

TEST_F(SettingsDialog, H264ValuesAreCopiedAndTheCoderKeptWhenZeroOrMore) {
    struct TCase {
        const char* Profile;   // lines of the profile file's section
        const char* Coder;     // written "paraCoder"
        const char* BitExact;  // written "paraBitExact", or nullptr for none
        const char* Level;     // written "paraLevel", or nullptr for none
    };
    const TCase Cases[] = {
        {"paraCoder=0", "0", "True", "13"},
        {"paraCoder=1\nparaBitExact=TRUE", "1", "TRUE", "13"},
        {"paraCoder=2\nparaLevel=31", "2", "True", "31"},
        {"paraCoder=-1\nparaBitExact=False", "1", nullptr, "13"},
        {"paraCoder=cavlc\nparaLevel=0", "1", "True", nullptr},
        {"paraLevel=x", "1", "True", nullptr},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Profile);
        fs::remove(Files.SettingsIni);
        std::ofstream(Files.FormatIni) << "[formatInfo1]\nVideoEncoder=H264\n" << C.Profile << "\n";
        TfrmSettings& D = Open(1);
        Click(D.btnOk);
        EXPECT_EQ(Key(1, "paraVideoEncoder"), "libx264");
        EXPECT_EQ(Key(1, "paraCoder"), C.Coder);
        EXPECT_EQ(Key(1, "paraBitExact"), C.BitExact ? C.BitExact : "<none>");
        EXPECT_EQ(Key(1, "paraLevel"), C.Level ? C.Level : "<none>");
        EXPECT_EQ(Key(1, "paraGop"), "250");
    }
}

// The conversions run the built tarnconv on the settings the dialog wrote.
class SettingsConversion : public SettingsDialog {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }
    void SetUp() override {
        SettingsDialog::SetUp();
        fs::copy_file(SOURCE_DIR "/data/tarnmp4format.ini", Files.FormatIni, fs::copy_options::overwrite_existing);
    }
    std::unique_ptr<TRun> Convert(int N) {
        return std::make_unique<TRun>(Folder, "p" + std::to_string(N),
                                      std::vector<std::string>{"--settings", Files.SettingsIni, "--profiles",
                                                               Files.FormatIni, "--log-level", "error", "-p",
                                                               std::to_string(N), "-o", Output(N), "--threads", "1",
                                                               MediaPath("clip.mp4")});
    }
    std::string Output(int N) const { return (Folder / std::to_string(N)).string(); }
    // Default then OK, as a user keeping a profile's own choices does.
    void DefaultThenOk(int N) {
        TfrmSettings& D = Open(N);
        Click(D.btnDefault);
        Click(D.btnOk);
        EXPECT_FALSE(D.isVisible());
    }
};

TEST_F(SettingsConversion, OkOnIPodH264KeepsBaselineProfile) {
    // A coder of 1 left by an earlier OK must not survive the next one.
    fs::copy_file(SOURCE_DIR "/data/tarnmp4videoconverter.ini", Files.SettingsIni);
    IniFile(Files.SettingsIni).WriteString(ProfileSection(1), "paraCoder", "1");
    DefaultThenOk(1);
    EXPECT_EQ(Key(1, "paraCoder"), "0");
    auto Run = Convert(1);
    ASSERT_EQ(Run->Wait(), 0) << Run->Err();

    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Output(1) + "/clip_(new).mp4")) << Probe.LastError();
    TAVVideoStreamInfo Video;
    Probe.GetVideoStreamInfo(-1, Video);
    EXPECT_EQ(Video.CodecName, "h264");
    const AVCodecParameters* Par = Probe.Context()->streams[Probe.FirstVideoStream()]->codecpar;
    // Constrained Baseline carries the Baseline number plus a flag.
    EXPECT_EQ(Par->profile & 0xFF, 66);
    EXPECT_EQ(Par->level, 13);
}

namespace {

// What each profile's display name promises for the 640x480 clip.
struct TExpected {
    const char* Ext;
    const char* Format;
    const char* VideoCodec;  // empty: no video
    int Width, Height;
    const char* AudioCodec;
    int SampleRate;
    int H264Profile = 0;  // 66 Baseline, 77 Main; 0: not checked
};

constexpr const char* Mp4 = "mov,mp4,m4a,3gp,3g2,mj2";

const TExpected Promised[ClassicProfileCount] = {
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},        {"mp4", Mp4, "h264", 320, 240, "aac", 44100, 66},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},        {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},        {"mp4", Mp4, "mpeg4", 640, 480, "aac", 48000},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},        {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},        {"mp4", Mp4, "mpeg4", 480, 320, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},        {"mp4", Mp4, "mpeg4", 640, 360, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 480, 320, "aac", 44100},        {"mp4", Mp4, "mpeg4", 640, 360, "aac", 44100},
    {"mp4", Mp4, "h264", 320, 240, "aac", 44100, 66},     {"mp4", Mp4, "h264", 640, 480, "aac", 44100, 66},
    {"mp4", Mp4, "h264", 1280, 720, "aac", 48000, 77},    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},      {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"avi", "avi", "mpeg4", 320, 240, "mp3", 44100},      {"avi", "avi", "mpeg4", 320, 240, "mp3", 44100},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},      {"mp4", Mp4, "mpeg4", 720, 480, "aac", 48000},
    {"mp4", Mp4, "mpeg4", 720, 480, "aac", 48000},        {"mp4", Mp4, "h264", 1280, 720, "aac", 48000, 77},
    {"mp4", Mp4, "h264", 1920, 1080, "aac", 48000, 77},   {"mp4", Mp4, "mpeg4", 480, 272, "aac", 24000},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 24000},        {"mp4", Mp4, "mpeg4", 320, 240, "aac", 24000},
    {"mp4", Mp4, "h264", 480, 272, "aac", 48000, 77},     {"mp4", Mp4, "h264", 720, 480, "aac", 48000, 77},
    {"m4v", Mp4, "mpeg4", 640, 480, "aac", 44100},        {"m4a", Mp4, "", 0, 0, "aac", 44100},
    {"mp3", "mp3", "", 0, 0, "mp3", 44100},               {"aac", "aac", "", 0, 0, "aac", 44100},
};

}  // namespace

TEST_F(SettingsConversion, EveryProfileKeepsItsPromiseAfterDefaultAndOk) {
    // No prepared sections: everything a conversion reads comes from the dialog.
    for (int N = 0; N < ProfileCount; ++N) DefaultThenOk(N);
    EXPECT_EQ(Selected.size(), size_t(ProfileCount));
    EXPECT_EQ(TAppSettings(Files.SettingsIni).OutputFormat(), ProfileCount - 1);
    EXPECT_TRUE(Messages.empty());

    const std::vector<int> Profiles = SweptProfiles(ClassicProfileCount);
    for (size_t N = 0; N < Profiles.size(); N += 2) {
        auto First = Convert(Profiles[N]);
        auto Second = N + 1 < Profiles.size() ? Convert(Profiles[N + 1]) : nullptr;
        EXPECT_EQ(First->Wait(), 0) << "profile " << Profiles[N] << ": " << First->Err();
        if (Second) {
            EXPECT_EQ(Second->Wait(), 0) << "profile " << Profiles[N + 1] << ": " << Second->Err();
        }
    }

    TAVProbe Probe;
    for (int N : Profiles) {
        const TExpected& E = Promised[N];
        SCOPED_TRACE(ProfileNames[N]);
        ASSERT_TRUE(Probe.OpenFile(Output(N) + "/clip_(new)." + E.Ext)) << Probe.LastError();
        EXPECT_EQ(Probe.GetFormatName(), E.Format);
        if (*E.VideoCodec) {
            ASSERT_EQ(Probe.VideoStreamCount(), 1);
            TAVVideoStreamInfo Video;
            Probe.GetVideoStreamInfo(-1, Video);
            EXPECT_EQ(Video.CodecName, E.VideoCodec);
            EXPECT_EQ(Video.Width, E.Width);
            EXPECT_EQ(Video.Height, E.Height);
            if (E.H264Profile) {
                EXPECT_EQ(Probe.Context()->streams[Probe.FirstVideoStream()]->codecpar->profile & 0xFF,
                          E.H264Profile);
            }
        } else {
            EXPECT_EQ(Probe.VideoStreamCount(), 0);
        }
        ASSERT_EQ(Probe.AudioStreamCount(), 1);
        TAVAudioStreamInfo Audio;
        Probe.GetAudioStreamInfo(-1, Audio);
        EXPECT_EQ(Audio.CodecName, E.AudioCodec);
        EXPECT_EQ(Audio.SampleRate, E.SampleRate);
        EXPECT_EQ(Audio.Channels, 2);
        Probe.CloseFile();
    }
}

TEST_F(SettingsDialog, CaptionsFitUnderEveryTheme) {
    fs::copy_file(SOURCE_DIR "/data/tarnmp4format.ini", Files.FormatIni, fs::copy_options::overwrite_existing);
    fs::copy_file(SOURCE_DIR "/data/tarnmp4videoconverter.ini", Files.SettingsIni);
    const char* Shots = std::getenv("TARN_SHOTS_DIR");
    for (int Theme : {0, 2, 5}) {
        ApplyTheme(Theme);
        TfrmSettings& D = Open(1);
        QTest::qWait(20);
        for (QWidget* W : D.findChildren<QWidget*>()) {
            if (!W->isVisible() || qobject_cast<QComboBox*>(W)) continue;
            EXPECT_GE(W->width(), W->minimumSizeHint().width()) << W->metaObject()->className() << " "
                                                                 << W->objectName().toStdString();
            EXPECT_GE(W->height(), W->minimumSizeHint().height()) << W->objectName().toStdString();
        }
        // The long list item fits the combo that shows it.
        Choose(D.cmbChannel, "stereo 2 channels");
        EXPECT_GE(D.cmbChannel->width(), D.cmbChannel->fontMetrics().horizontalAdvance("stereo 2 channels") + 24);
        EXPECT_EQ(D.palette().color(QPalette::Window), QApplication::palette().color(QPalette::Window));
        if (Shots)
            D.grab().save(QDir(Shots).filePath(QString("settings_%1.png").arg(ThemeName(Theme)).replace(' ', '_')));
        D.reject();
    }
    ApplyTheme(0);
}
