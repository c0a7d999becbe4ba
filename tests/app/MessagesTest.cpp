// What tarnconv says when a file, a profile value or the stored folder
// cannot be used: each message names the thing, and nothing reaches the
// terminal raw.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/Profiles.h"
#include "common/IniFile.h"
#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"

using namespace tarnconv_test;

namespace {

size_t Count(const std::string& Text, const std::string& Part) {
    size_t N = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) ++N;
    return N;
}

class TarnconvMessages : public TTarnconvTest {};

}  // namespace

TEST_F(TarnconvMessages, NameTheFileSectionOrKeyAndStayOnTheirLine) {
    const std::string Section = ProfileSection(0);
    const std::string LongName = std::string(251, 'a') + ".avi";      // 255 bytes: exists, its output cannot
    const std::string TooLong = std::string(252, 'b') + ".avi";       // 256 bytes: cannot even exist
    const std::string Control = std::string("x\ny\x01z\x1b[2J.avi");  // line feed, SOH, an escape sequence
    struct TRow {
        const char* Name;
        std::function<std::vector<std::string>()> Prepare;  // the files to convert
        int Exit;
        std::vector<std::string> Said;  // parts of stdout + stderr
        std::vector<std::string> NotSaid;
        std::vector<std::pair<std::string, size_t>> Counted;  // part, times said
    };
    const std::vector<TRow> Rows = {
        {"frame rate 0",
         [&] {
             IniFile(Settings).WriteString(Section, "paraFrameRate", "0");
             return std::vector<std::string>{MediaPath("short.avi")};
         },
         1,
         {"'0' is not a valid frame rate for paraFrameRate in section [" + Section + "] of the file " + Settings},
         {"Incorrect frame rate"},
         {}},
        {"bit rate NaN",
         [&] {
             IniFile(Settings).WriteString(Section, "paraVideoBitRate", "NaN");
             return std::vector<std::string>{MediaPath("short.avi")};
         },
         1,
         {"'NaN' is not a valid integer value for paraVideoBitRate in section [" + Section + "] of the file " +
          Settings},
         {},
         {}},
        {"255-byte name",
         [&] {
             fs::copy_file(MediaPath("short.avi"), Folder / LongName);
             return std::vector<std::string>{(Folder / LongName).string()};
         },
         1,
         {"_(new).mp4: file name too long"},
         {"Could not open", "Error while opening"},
         {}},
        {"256-byte name",
         [&] { return std::vector<std::string>{(Folder / TooLong).string()}; },
         1,
         {TooLong + ": file name too long"},
         {"Error while opening"},
         {}},
        // The same run shows the MP4 muxer's remark on the extension once.
        {"control characters",
         [&] {
             fs::copy_file(MediaPath("short.avi"), Folder / Control);
             return std::vector<std::string>{(Folder / Control).string()};
         },
         0,
         {"x\\ny\\x01z\\x1B[2J.avi -> ", "done: " + (Folder / "out").string() + "/x\\ny\\x01z\\x1B[2J_(new).mp4"},
         {"x\ny", "\x01", "\x1b"},
         {{"extension is not .m4a nor .m4v", 1}}},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings,
                      fs::copy_options::overwrite_existing);
        std::vector<std::string> Files = Row.Prepare();
        std::vector<std::string> A = Args({"-p", "0", "-q", "--length", "400", "-o", (Folder / "out").string()});
        A.insert(A.end(), Files.begin(), Files.end());
        std::string Out, Err;
        EXPECT_EQ(RunToEnd(Folder, "run", A, &Out, &Err), Row.Exit) << Out << Err;
        const std::string All = Out + Err;
        for (const std::string& Part : Row.Said) EXPECT_NE(All.find(Part), std::string::npos) << Part << "\n" << All;
        for (const std::string& Part : Row.NotSaid) EXPECT_EQ(All.find(Part), std::string::npos) << Part << "\n" << All;
        for (const auto& [Part, Times] : Row.Counted) EXPECT_EQ(Count(All, Part), Times) << Part << "\n" << All;
    }
    // The converted file is there under its real name, control characters and all.
    EXPECT_TRUE(fs::exists(Folder / "out" / "x\ny\x01z\x1b[2J_(new).mp4"));
}

// A stored folder that cannot be made (a disk that is not plugged in) stops
// the run with the reason; no other folder takes its place and the setting
// stays as it was.
TEST_F(TarnconvMessages, StoredFolderThatCannotBeMadeStopsTheRun) {
    std::ofstream(Folder / "plain_file") << "x";
    const std::string Bad = (Folder / "plain_file" / "out").string();
    IniFile(Settings).WriteString("settings", "OutPutDir", Bad);
    const std::string Before = ReadFile(Settings);
    // The default folder would be made in this home.
    const char* Home = std::getenv("HOME");
    const std::string OldHome = Home ? Home : "";
    setenv("HOME", Folder.c_str(), 1);
    std::string Out, Err;
    EXPECT_EQ(RunToEnd(Folder, "run", Args({"-p", "0", MediaPath("short.avi")}), &Out, &Err), 1);
    if (Home)
        setenv("HOME", OldHome.c_str(), 1);
    else
        unsetenv("HOME");
    EXPECT_NE(Err.find("cannot create the stored output directory " + Bad + ": " + std::strerror(ENOTDIR)),
              std::string::npos)
        << Err;
    EXPECT_EQ(ReadFile(Settings), Before);
    EXPECT_FALSE(fs::exists(Folder / "videoconverter"));
}
