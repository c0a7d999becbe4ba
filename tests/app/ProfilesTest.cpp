#include <gtest/gtest.h>

#include <set>

#include "app/Profiles.h"
#include "common/Numbers.h"
#include "common/Text.h"

namespace {
const IniFile ShippedFormats(APP_DATA_DIR "/tarnmp4format.ini");
const IniFile ShippedSettings(APP_DATA_DIR "/tarnmp4videoconverter.ini");
}  // namespace

TEST(Catalogue, ThirtySixNamesInOrder) {
    EXPECT_STREQ(ProfileNames[0], "iPod Video MPEG-4 (*.mp4)");
    EXPECT_STREQ(ProfileNames[1], "iPod Video H.264  (*.mp4)");
    EXPECT_STREQ(ProfileNames[16], "Apple H.264 720p (1280 x 720) (*.mp4)");
    EXPECT_STREQ(ProfileNames[35], "AAC Advenced Audio Codec (*.aac)");
    std::set<std::string> Unique(ProfileNames.begin(), ProfileNames.end());
    EXPECT_EQ(Unique.size(), size_t(ProfileCount));
    // The newer profiles follow the 36, each listed once under a heading.
    std::multiset<int> Listed;
    for (const TProfileGroup& Group : ProfileGroups()) Listed.insert(Group.Profiles.begin(), Group.Profiles.end());
    for (int N = 0; N < ProfileCount; ++N) EXPECT_EQ(Listed.count(N), 1u) << N;
    EXPECT_EQ(Listed.size(), size_t(ProfileCount));
    for (int N = 0; N < ClassicProfileCount; ++N) EXPECT_EQ(ProfileGroupOf(N), "Players and consoles");
    EXPECT_EQ(ProfileSection(0), "formatInfo0");
    EXPECT_EQ(ProfileSection(35), "formatInfo35");
}

TEST(ChoiceLists, SplitAtEveryComma) {
    EXPECT_TRUE(SplitChoiceList("null").empty());
    EXPECT_EQ(SplitChoiceList("as source,320x240"), (std::vector<std::string>{"as source", "320x240"}));
    EXPECT_EQ(SplitChoiceList("a, b,"), (std::vector<std::string>{"a", " b", ""}));
    EXPECT_EQ(SplitChoiceList("NULL"), (std::vector<std::string>{"NULL"}));
}

TEST(DialogMappings, EncodersChannelsAndVolumes) {
    EXPECT_EQ(VideoEncoderValue("XviD"), "libxvid");
    EXPECT_EQ(VideoEncoderValue("H264"), "libx264");
    EXPECT_EQ(VideoEncoderValue("MPEG-4"), "mpeg4");
    EXPECT_EQ(VideoEncoderValue("FLV"), "flv");
    EXPECT_EQ(VideoEncoderValue("DivX"), "");
    EXPECT_EQ(AudioEncoderValue("AAC"), "libfaac");
    EXPECT_EQ(AudioEncoderValue("Mp3"), "libmp3lame");
    EXPECT_EQ(AudioEncoderValue("AC-3"), "ac3");
    EXPECT_EQ(AudioEncoderValue("WMA2"), "wmav2");
    EXPECT_EQ(AudioEncoderValue("vorbis"), "");
    EXPECT_EQ(ChannelValue("stereo 2 channels"), "2");
    EXPECT_EQ(ChannelValue("mono 1 channel"), "1");
    EXPECT_EQ(ChannelValue("as source"), "as source");
    EXPECT_EQ(ChannelValue("Stereo 2 Channels"), "");
    EXPECT_EQ(VolumeValue("125%"), "320");
    EXPECT_EQ(VolumeValue("25%"), "64");
    EXPECT_EQ(VolumeValue("400%"), "1024");
    EXPECT_EQ(VolumeValue("110%"), "");
    EXPECT_THROW(VolumeValue("loud"), EConvertError);
}

// Every profile of the shipped files: its lists hold its default choices,
// and the prepared settings are what the settings dialog writes for those
// choices, so that a profile converts alike before and after the user
// confirms its defaults.
TEST(ShippedProfiles, SettingsMatchTheDefaultChoices) {
    for (int N = 0; N < ProfileCount; ++N) {
        SCOPED_TRACE(ProfileNames[N]);
        std::string S = ProfileSection(N);
        ASSERT_TRUE(ShippedFormats.SectionExists(S));
        ASSERT_TRUE(ShippedSettings.SectionExists(S));
        EXPECT_EQ(ShippedSettings.ReadString(S, "Description", ""), ProfileNames[N]);
        std::string Ext = ProfileFileExt(ShippedFormats, N);
        EXPECT_NE(std::string(ProfileNames[N]).find("(*." + Ext + ")"), std::string::npos) << Ext;

        for (const TProfileParameter& P : ProfileParameters) {
            SCOPED_TRACE(P.ListKey);
            std::vector<std::string> Items = SplitChoiceList(ShippedFormats.ReadString(S, P.ListKey, "null"));
            int Default = ShippedFormats.ReadInteger(S, P.IndexKey, 0);
            int Chosen = ShippedSettings.ReadInteger(S, P.IndexKey, 0);
            std::string Value = ShippedSettings.ReadString(S, P.ValueKey, "<absent>");
            if (Items.empty()) {
                EXPECT_EQ(Chosen, -1);
                continue;
            }
            ASSERT_GE(Default, 0);
            ASSERT_LT(Default, static_cast<int>(Items.size()));
            EXPECT_EQ(Chosen, Default);
            const std::string& Item = Items[static_cast<size_t>(Default)];
            std::string Key = P.ValueKey;
            std::string Expected = Key == "paraVideoEncoder" ? VideoEncoderValue(Item)
                                   : Key == "paraAudioEncoder" ? AudioEncoderValue(Item)
                                   : Key == "paraChannel"      ? ChannelValue(Item)
                                   : Key == "paraVolume"       ? VolumeValue(Item)
                                                               : Item;
            EXPECT_FALSE(Expected.empty()) << Item;
            EXPECT_EQ(Value, Expected);
        }

        bool Video = !ShippedSettings.ReadString(S, "paraVideoEncoder", "").empty();
        bool AudioOnly = Ext == "mp3" || Ext == "aac" || Ext == "m4a" || Ext == "opus" || Ext == "flac";
        EXPECT_EQ(Video, !AudioOnly);
        if (ShippedSettings.ReadString(S, "paraVideoEncoder", "") == "libx264") {
            for (const char* Key : {"paraBitExact", "paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale",
                                    "paraGop", "paraCoder"})
                EXPECT_EQ(ShippedSettings.ReadString(S, Key, "<absent>"), ShippedFormats.ReadString(S, Key, ""))
                    << Key;
        }
    }
    // The settings of a first start stay the program's defaults.
    EXPECT_FALSE(ShippedSettings.SectionExists("settings"));
}
