// tarnconv end to end: the built program converts generated media, and the
// probe reads the results back.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TarnconvSupport.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using namespace tarnconv_test;

using Tarnconv = TTarnconvTest;

// What each profile's display name promises for a 640x480 source.
struct TExpected {
    const char* Ext;
    const char* Format;      // the probe's format name
    const char* VideoCodec;  // empty: no video
    int Width, Height;
    const char* AudioCodec;
    int SampleRate;
    int Level = 0;    // H.264 level, 0: not checked
    int Profile = 0;  // H.264 profile number
};

constexpr const char* Mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
constexpr int Baseline = 66, Main = 77;

const TExpected Expected[ClassicProfileCount] = {
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "h264", 320, 240, "aac", 44100, 13, Baseline},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 48000},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 480, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 480, 320, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 360, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 480, 320, "aac", 44100},
    {"mp4", Mp4, "mpeg4", 640, 360, "aac", 44100},
    {"mp4", Mp4, "h264", 320, 240, "aac", 44100, 13, Baseline},
    {"mp4", Mp4, "h264", 640, 480, "aac", 44100, 30, Baseline},
    {"mp4", Mp4, "h264", 1280, 720, "aac", 48000, 31, Main},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"avi", "avi", "mpeg4", 320, 240, "mp3", 44100},
    {"avi", "avi", "mpeg4", 320, 240, "mp3", 44100},
    {"avi", "avi", "mpeg4", 640, 480, "mp3", 44100},
    {"mp4", Mp4, "mpeg4", 720, 480, "aac", 48000},
    {"mp4", Mp4, "mpeg4", 720, 480, "aac", 48000},
    {"mp4", Mp4, "h264", 1280, 720, "aac", 48000, 31, Main},
    {"mp4", Mp4, "h264", 1920, 1080, "aac", 48000, 40, Main},
    {"mp4", Mp4, "mpeg4", 480, 272, "aac", 24000},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 24000},
    {"mp4", Mp4, "mpeg4", 320, 240, "aac", 24000},
    {"mp4", Mp4, "h264", 480, 272, "aac", 48000, 30, Main},
    {"mp4", Mp4, "h264", 720, 480, "aac", 48000, 30, Main},
    {"m4v", Mp4, "mpeg4", 640, 480, "aac", 44100},
    {"m4a", Mp4, "", 0, 0, "aac", 44100},
    {"mp3", "mp3", "", 0, 0, "mp3", 44100},
    {"aac", "aac", "", 0, 0, "aac", 44100},
};

}  // namespace

TEST_F(Tarnconv, EveryProfileConvertsAsItsNamePromises) {
    const std::string Source = MediaPath("clip.mp4");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(Source));
    TAVFileInfo SourceInfo;
    Probe.GetFileInfo(SourceInfo);
    Probe.CloseFile();

    // Two programs at a time, one codec thread each.
    const std::vector<int> Profiles = SweptProfiles(ClassicProfileCount);
    for (size_t N = 0; N < Profiles.size(); N += 2) {
        std::vector<std::unique_ptr<TRun>> Runs;
        for (size_t J = N; J < std::min(N + 2, Profiles.size()); ++J) {
            std::string K = std::to_string(Profiles[J]);
            Runs.push_back(std::make_unique<TRun>(
                Folder, "p" + K, Args({"-p", K, "-o", (Folder / K).string(), "--threads", "1", Source})));
        }
        for (size_t I = 0; I < Runs.size(); ++I)
            EXPECT_EQ(Runs[I]->Wait(), 0) << "profile " << Profiles[N + I] << ": " << Runs[I]->Err();
    }

    for (int N : Profiles) {
        const TExpected& E = Expected[N];
        SCOPED_TRACE(std::string(ProfileNames[N]));
        std::string Output = (Folder / std::to_string(N) / (std::string("clip_(new).") + E.Ext)).string();
        ASSERT_TRUE(Probe.OpenFile(Output)) << Probe.LastError();
        EXPECT_EQ(Probe.GetFormatName(), E.Format);

        TAVFileInfo Info;
        Probe.GetFileInfo(Info);
        EXPECT_NEAR(Info.Duration / 1e6, SourceInfo.Duration / 1e6, 0.2);

        if (*E.VideoCodec) {
            ASSERT_EQ(Probe.VideoStreamCount(), 1);
            TAVVideoStreamInfo Video;
            Probe.GetVideoStreamInfo(-1, Video);
            EXPECT_EQ(Video.CodecName, E.VideoCodec);
            EXPECT_EQ(Video.Width, E.Width);
            EXPECT_EQ(Video.Height, E.Height);
            AVCodecParameters* Par = Probe.Context()->streams[Probe.FirstVideoStream()]->codecpar;
            if (E.Level) {
                EXPECT_EQ(Par->level, E.Level);
                // Constrained Baseline carries the Baseline number plus a flag.
                EXPECT_EQ(Par->profile & 0xFF, E.Profile);
            }
            if (Video.CodecName == "mpeg4") {
                // The claimed Simple Profile level admits the picture: a
                // player may refuse a stream whose level is too low.
                const std::map<int, int> BlocksOfLevel = {{8, 99}, {1, 99},   {2, 396},  {3, 396},
                                                          {4, 1200}, {5, 1620}, {6, 3600}};
                EXPECT_EQ(Par->profile, FF_PROFILE_MPEG4_SIMPLE);
                ASSERT_TRUE(BlocksOfLevel.count(Par->level)) << "level " << Par->level;
                EXPECT_LE((E.Width + 15) / 16 * ((E.Height + 15) / 16), BlocksOfLevel.at(Par->level))
                    << "level " << Par->level;
            }
            if (std::string(E.Ext) == "avi" && Video.CodecName == "mpeg4" &&
                std::string(ProfileNames[N]).find("Xvid") == std::string::npos &&
                std::string(ProfileNames[N]).find("iRiver") == std::string::npos) {
                EXPECT_EQ(Par->codec_tag, MKTAG('D', 'I', 'V', 'X'));
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
        int AudioIndex = Probe.FirstAudioStream(), VideoIndex = Probe.FirstVideoStream();
        Probe.CloseFile();

        TScan Scan = ScanFile(Output);
        ASSERT_TRUE(Scan.Opened);
        EXPECT_EQ(Scan.DecodeErrors, 0);
        if (*E.VideoCodec) {
            EXPECT_GT(Scan.VideoFrames, 0);
            EXPECT_NEAR(Scan.EndUs[AudioIndex] / 1e6, Scan.EndUs[VideoIndex] / 1e6, 0.1);
        }
    }
}

TEST_F(Tarnconv, StoredProfileFolderAndDistinctNamesForOneBaseName) {
    fs::path Out = Folder / "stored";
    IniFile(Settings).WriteInteger("settings", "OutPutFormat", 34);
    IniFile(Settings).WriteString("settings", "OutPutDir", Out.string());
    std::string Stdout;
    ASSERT_EQ(RunToEnd(Folder, "stored", Args({"-j", "2", MediaPath("clip.avi"), MediaPath("clip.mp4")}), &Stdout),
              0);
    EXPECT_TRUE(fs::is_regular_file(Out / "clip_(new).mp3"));
    EXPECT_TRUE(fs::is_regular_file(Out / "clip_(new_1).mp3"));
    EXPECT_NE(Stdout.find("2 of 2 converted"), std::string::npos) << Stdout;
    EXPECT_NE(Stdout.find("done: " + (Out / "clip_(new_1).mp3").string()), std::string::npos) << Stdout;

    // Each file's last progress line, just above its "done", is whole and
    // has a speed.
    std::vector<std::string> Lines;
    std::istringstream In(Stdout);
    for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
    for (const char* Job : {"1", "2"}) {
        std::string Prefix = std::string("[") + Job + "/2] ";
        auto Done = std::find_if(Lines.begin(), Lines.end(),
                                 [&](const std::string& L) { return L.starts_with(Prefix + "done: "); });
        ASSERT_NE(Done, Lines.end()) << Stdout;
        auto Last = std::find_if(std::make_reverse_iterator(Done), Lines.rend(), [&](const std::string& L) {
            return L.starts_with(Prefix) && L.find('%') != std::string::npos;
        });
        ASSERT_NE(Last, Lines.rend()) << Stdout;
        const std::regex Whole(R"(\[\d/2\] 100% (\d\d:){2}\d\d / (\d\d:){2}\d\d  .+  \d+\.\dx  clip_\(new(_1)?\)\.mp3)");
        EXPECT_TRUE(std::regex_match(*Last, Whole)) << *Last;
    }
    EXPECT_EQ(Stdout.find("--x"), std::string::npos) << Stdout;
}

TEST_F(Tarnconv, TrimAndCrop) {
    std::string Stdout, Stderr;
    ASSERT_EQ(RunToEnd(Folder, "trim",
                       Args({"-p", "17", "-o", Folder.string(), "--start", "1000", "--length", "1500", "--crop",
                             "0,0,40,40", "--log-level", "quiet", MediaPath("clip.avi")}),
                       &Stdout, &Stderr),
              0)
        << Stderr;
    EXPECT_EQ(Stderr, "");  // nothing is logged at the quiet level
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile((Folder / "clip_(new).avi").string()));
    TAVFileInfo Info;
    Probe.GetFileInfo(Info);
    EXPECT_NEAR(Info.Duration / 1e6, 1.5, 0.2);
    TAVVideoStreamInfo Video;
    Probe.GetVideoStreamInfo(-1, Video);
    // At the source size the cut columns come back as black bars.
    EXPECT_EQ(Video.Width, 320);
    EXPECT_EQ(Video.Height, 240);
    TBitmap& Picture = Probe.DecodeFrame(-1);
    ASSERT_EQ(Picture.Width(), 320);
    auto Dark = [&](int X, int Y) {
        const uint8_t* P = Picture.ScanLine(Y) + 3 * X;
        return P[0] < 40 && P[1] < 40 && P[2] < 40;
    };
    for (int Y = 0; Y < 240; Y += 16)
        for (int X : {0, 20, 36, 283, 300, 319}) EXPECT_TRUE(Dark(X, Y)) << X << "," << Y;
    int Lit = 0;
    for (int Y = 0; Y < 240; Y += 16)
        for (int X = 60; X < 260; X += 20) Lit += !Dark(X, Y);
    EXPECT_GT(Lit, 20);
}

TEST_F(Tarnconv, FilesThatCannotBeOpenedFailWhileOthersConvert) {
    std::string Stdout, Stderr;
    EXPECT_EQ(RunToEnd(Folder, "missing", Args({"-o", Folder.string(), (Folder / "nothere.avi").string()}), &Stdout,
                       &Stderr),
              1);
    EXPECT_NE(Stderr.find("nothere.avi"), std::string::npos) << Stderr;

    EXPECT_EQ(RunToEnd(Folder, "mixed",
                       Args({"-p", "34", "-o", Folder.string(), MediaPath("random.bin"), MediaPath("empty.mp4"),
                             MediaPath("tone.wav")}),
                       &Stdout, &Stderr),
              1);
    EXPECT_NE(Stderr.find("random.bin"), std::string::npos) << Stderr;
    EXPECT_NE(Stderr.find("empty.mp4"), std::string::npos) << Stderr;
    EXPECT_TRUE(fs::is_regular_file(Folder / "tone_(new).mp3"));
    EXPECT_NE(Stdout.find("1 of 3 converted, 2 not opened"), std::string::npos) << Stdout;
    EXPECT_FALSE(fs::exists(Folder / "random_(new).mp3"));

    // The PSP's container needs picture and sound: a silent clip is refused
    // as its job starts, before anything is written, with a reason a user
    // can act on.
    EXPECT_EQ(RunToEnd(Folder, "psp", Args({"-p", "28", "-o", Folder.string(), MediaPath("long35.avi"),
                                            MediaPath("clip.mp4")}),
                       &Stdout, &Stderr),
              1);
    EXPECT_NE(Stderr.find("cannot convert " + MediaPath("long35.avi") +
                          ": The PSP plays only files with both picture and sound; this file has no sound."),
              std::string::npos)
        << Stderr;
    EXPECT_TRUE(fs::is_regular_file(Folder / "clip_(new).mp4"));
    EXPECT_FALSE(fs::exists(Folder / "long35_(new).mp4"));
    EXPECT_NE(Stdout.find("1 of 2 converted, 1 not suited to the profile"), std::string::npos) << Stdout;
}

TEST_F(Tarnconv, UsageErrorsListAndInformation) {
    for (std::vector<std::string> Bad : {std::vector<std::string>{"--bogus", "x.avi"}, {"-p", std::to_string(ProfileCount), "x.avi"}, {}}) {
        std::string Stderr;
        EXPECT_EQ(RunToEnd(Folder, "usage", Args(Bad), nullptr, &Stderr), 2) << Stderr;
        EXPECT_NE(Stderr.find("--help"), std::string::npos);
    }
    std::string Version;
    EXPECT_EQ(RunToEnd(Folder, "version", {"--version"}, &Version), 0);
    EXPECT_EQ(Version, "Tarn MP4 Video Converter 1.32\n");

    IniFile(Settings).WriteInteger("settings", "OutPutFormat", 99);
    EXPECT_EQ(RunToEnd(Folder, "stored99", Args({"-o", Folder.string(), MediaPath("clip.avi")})), 2);

    std::string Stdout;
    ASSERT_EQ(RunToEnd(Folder, "list", Args({"--list-profiles"}), &Stdout), 0);
    // Every profile once, under its heading, with the number -p takes.
    std::istringstream Lines(Stdout);
    std::string Line, Heading;
    std::map<int, std::string> Listed;
    while (std::getline(Lines, Line)) {
        if (Line.empty()) continue;
        if (Line[0] != ' ') {
            Heading = Line;
            continue;
        }
        int N = std::stoi(Line);
        EXPECT_TRUE(Listed.emplace(N, Heading).second) << Line;
        ASSERT_TRUE(N >= 0 && N < ProfileCount) << Line;
        EXPECT_NE(Line.find(ProfileNames[N]), std::string::npos) << Line;
    }
    ASSERT_EQ(Listed.size(), size_t(ProfileCount));
    EXPECT_EQ(Listed[0], "Players and consoles");
    EXPECT_EQ(Listed[35], "Players and consoles");
    EXPECT_EQ(Listed[36], "Phones, tablets and TVs");
    EXPECT_EQ(Listed[42], "Web and sharing");
    EXPECT_EQ(Listed[45], "Sound only");

    ASSERT_EQ(RunToEnd(Folder, "info", Args({"--info", MediaPath("clip.avi")}), &Stdout), 0);
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("clip.avi")));
    std::string Text = Probe.GetInfoText();
    Text.erase(std::remove(Text.begin(), Text.end(), '\r'), Text.end());
    EXPECT_EQ(Stdout.substr(0, Text.size()), Text);
    EXPECT_EQ(RunToEnd(Folder, "info_missing", Args({"--info", (Folder / "none.avi").string()})), 1);
}

