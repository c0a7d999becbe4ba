// The fuzz targets' entry functions in the plain suite: every input kept in
// regressions/ replays without a crash (and, in the sanitizer build, without
// a report), and the entries do real work on the generated media.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestMedia.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fs = std::filesystem;

namespace {

using TEntry = std::function<TFuzzOutcome(const uint8_t*, size_t)>;

const std::map<std::string, TEntry> Entries = {
    {"probe", FuzzProbe}, {"engine", FuzzEngine}, {"settings", FuzzSettings}};

std::string ReadBytes(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
}

TFuzzOutcome Replay(const std::string& Target, const std::string& Bytes) {
    return Entries.at(Target)(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
}

// The shipped settings of one profile as a settings input: the three
// leading bytes, then the body of its section.
std::string SettingsInput(int Profile, const std::string& Body) {
    std::string Input;
    Input += static_cast<char>(Profile);
    Input += '\0';  // a 640x480 source
    Input += '\0';  // letterbox, no crops
    return Input + Body;
}

}  // namespace

TEST(FuzzReplay, EveryKeptInputReplaysThroughItsTarget) {
    ASSERT_TRUE(FuzzSetUp());
    int Replayed = 0;
    for (const auto& [Target, Entry] : Entries) {
        fs::path Folder = fs::path(FUZZ_REGRESSIONS_DIR) / Target;
        if (!fs::is_directory(Folder)) continue;
        for (const auto& File : fs::directory_iterator(Folder)) {
            if (!File.is_regular_file() || File.path().extension() == ".md") continue;
            SCOPED_TRACE(Target + "/" + File.path().filename().string());
            Replay(Target, ReadBytes(File.path()));
            ++Replayed;
        }
    }
    std::printf("replayed %d kept inputs\n", Replayed);
    EXPECT_GT(Replayed, 0) << "no kept inputs in " << FUZZ_REGRESSIONS_DIR;
}

TEST(FuzzReplay, EntriesDoRealWorkOnGoodInputsAndRefuseBadOnes) {
    ASSERT_TRUE(FuzzSetUp());
    struct TCase {
        const char* Target;
        std::string Input;
        bool Opened, Decoded, Converted;
    };
    const std::string Profile1 =
        "paraVideoSize=320x240\nparaVideoBitRate=768\nparaFrameRate=as source\nparaVideoEncoder=libx264\n"
        "paraLevel=13\nparaCoder=0\nparaSampleRate=44100\nparaAudioBitRate=128\nparaChannel=2\n"
        "paraAudioEncoder=libfaac\n";
    const TCase Cases[] = {
        {"probe", ReadBytes(MediaPath("clip.avi")), true, true, false},
        {"probe", ReadBytes(MediaPath("still.png")), true, true, false},
        {"probe", ReadBytes(MediaPath("tone.mp3")), true, false, false},
        {"probe", ReadBytes(MediaPath("random.bin")), false, false, false},
        {"probe", std::string(), false, false, false},
        {"engine", ReadBytes(MediaPath("short.avi")), true, false, true},
        {"engine", ReadBytes(MediaPath("late_video.flv")), true, false, true},
        {"engine", ReadBytes(MediaPath("random.bin")), false, false, false},
        {"settings", SettingsInput(1, Profile1), true, false, true},
        {"settings", SettingsInput(17, "paraVideoEncoder=mpeg4\nparaVideoBitRate=abc\n"), false, false, false},
        {"settings", SettingsInput(34, "paraAudioEncoder=libmp3lame\nparaAudioBitRate=192\n"), true, false, true},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(std::string(C.Target) + " input of " + std::to_string(C.Input.size()) + " bytes");
        TFuzzOutcome Outcome = Replay(C.Target, C.Input);
        EXPECT_EQ(Outcome.Opened, C.Opened);
        EXPECT_EQ(Outcome.Decoded, C.Decoded);
        EXPECT_EQ(Outcome.Converted, C.Converted);
    }
}
