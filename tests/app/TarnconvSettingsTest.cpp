// tarnconv with damaged or unusable settings: what it falls back to, what
// it refuses and what it says.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "app/Profiles.h"
#include "binding/LibAV.h"
#include "common/IniFile.h"
#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"

using namespace tarnconv_test;

namespace {

class TarnconvSettings : public TTarnconvTest {
protected:
    // The settings file without the lines of [Section] that Drop accepts
    // (with the header too when Drop accepts "[Section]").
    void DropLines(const std::string& Section, const std::function<bool(const std::string&)>& Drop) {
        std::ifstream In(Settings);
        std::string Text, Line, Current;
        while (std::getline(In, Line)) {
            if (!Line.empty() && Line[0] == '[') Current = Line;
            if (Current == "[" + Section + "]" && Drop(Line)) continue;
            Text += Line + "\n";
        }
        In.close();
        std::ofstream(Settings) << Text;
    }
};

}  // namespace

TEST_F(TarnconvSettings, DamagedProfileFallsBackToTheShippedDefaultsWithAWarning) {
    struct TRow {
        int Profile;
        const char* Damage;  // "section", "encoder" or "" (intact)
        const char* Source;
        int Exit;
        const char* VideoCodec;  // of the output; "" for none, nullptr when no output
        bool Warned;
    };
    const TRow Rows[] = {
        {0, "section", "short.avi", 0, "mpeg4", true},
        {14, "encoder", "short.avi", 0, "h264", true},
        {18, "encoder", "short.avi", 0, "mpeg4", true},
        {27, "section", "short.avi", 0, "mpeg4", true},
        {27, "section", "tone.mp3", 1, nullptr, true},  // PSP needs a picture
        {34, "section", "short.avi", 0, "", true},
        {34, "encoder", "short.avi", 0, "", false},  // audio profiles have no encoder key
        {0, "", "short.avi", 0, "mpeg4", false},
    };
    int N = 0;
    for (const TRow& R : Rows) {
        const std::string Section = ProfileSection(R.Profile);
        SCOPED_TRACE(Section + " " + R.Damage + " " + R.Source);
        fs::remove(Settings);
        fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings);
        if (std::string(R.Damage) == "section")
            DropLines(Section, [](const std::string&) { return true; });
        else if (std::string(R.Damage) == "encoder")
            DropLines(Section, [](const std::string& L) { return L.rfind("paraVideoEncoder=", 0) == 0; });
        const fs::path Out = Folder / ("out" + std::to_string(++N));
        std::string Stdout, Stderr;
        const int Exit = RunToEnd(Folder, "run" + std::to_string(N),
                                  Args({"-p", std::to_string(R.Profile), "-o", Out.string(), MediaPath(R.Source)}),
                                  &Stdout, &Stderr);
        EXPECT_EQ(Exit, R.Exit) << Stdout << Stderr;
        const bool Warned = Stderr.find("warning: in the settings file " + Settings) != std::string::npos &&
                            Stderr.find("[" + Section + "]") != std::string::npos;
        EXPECT_EQ(Warned, R.Warned) << Stderr;
        std::vector<fs::path> Outputs;
        if (fs::exists(Out))
            for (const auto& E : fs::directory_iterator(Out)) Outputs.push_back(E.path());
        if (!R.VideoCodec) {
            EXPECT_TRUE(Outputs.empty());
            continue;
        }
        ASSERT_EQ(Outputs.size(), 1u) << Stdout << Stderr;
        AVFormatContext* Context = nullptr;
        ASSERT_GE(av::avformat_open_input(&Context, Outputs[0].c_str(), nullptr, nullptr), 0);
        ASSERT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
        std::string Video;
        for (unsigned I = 0; I < Context->nb_streams; ++I)
            if (Context->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                Video = av::avcodec_get_name(Context->streams[I]->codecpar->codec_id);
        av::avformat_close_input(&Context);
        EXPECT_EQ(Video, R.VideoCodec);
    }
    // A profile the program has no defaults for is refused with the reason.
    DropLines(ProfileSection(0), [](const std::string&) { return true; });
    EXPECT_THROW(ProfileSettings(Settings, ProfileCount), EProfileError);
}
