// The file list kept across a restart, as text, and the settings that hold
// it and the window's place.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/GlobalUnit.h"
#include "app/KeptList.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;

namespace {

TKeptRow Row(bool Checked, std::string Path, int Start = 0, int Length = 0, std::string Zoom = "lbox",
             int Top = 0, int Left = 0, int Bottom = 0, int Right = 0) {
    TKeptRow R;
    R.Checked = Checked;
    R.Record.SourceFile = std::move(Path);
    R.Record.TrimStart = Start;
    R.Record.TrimLength = Length;
    R.Record.ZoomMode = std::move(Zoom);
    R.Record.CropTop = Top;
    R.Record.CropLeft = Left;
    R.Record.CropBottom = Bottom;
    R.Record.CropRight = Right;
    return R;
}

bool SameRow(const TKeptRow& A, const TKeptRow& B) {
    const TlvFilesRecord &X = A.Record, &Y = B.Record;
    return A.Checked == B.Checked && X.SourceFile == Y.SourceFile && X.TrimStart == Y.TrimStart &&
           X.TrimLength == Y.TrimLength && X.ZoomMode == Y.ZoomMode && X.CropTop == Y.CropTop &&
           X.CropLeft == Y.CropLeft && X.CropBottom == Y.CropBottom && X.CropRight == Y.CropRight;
}

}  // namespace

// Every path a file can have comes back as it was, with its edits; the
// separators never show unescaped.
TEST(KeptList, RowsComeBackWithTheirPathsChecksTrimsAndCrops) {
    const std::vector<TKeptRow> Rows = {
        Row(true, "/home/me/Videos/holiday.avi"),
        Row(false, "/home/me/My Videos/a, b | c.mp4", 1000, 1500, "cent", 8, 2, 8, 2),
        Row(true, "/tmp/100% done\tnew\nline.mkv", 0, 0, "orig"),
        Row(true, "/tmp/caf\xC3\xA9 \xFF\xFE raw bytes.mp3", 20, 0, "full", 0, 0, 0, 0),
        Row(true, " leading and trailing blanks ", 0, 0),
    };
    const std::string Text = EncodeKeptList(Rows);
    EXPECT_EQ(Text.find('\n'), std::string::npos);
    EXPECT_EQ(Text.find('\t'), std::string::npos);
    EXPECT_NE(Text.front(), ' ');
    EXPECT_NE(Text.back(), ' ');
    EXPECT_EQ(std::count(Text.begin(), Text.end(), '|'), 4);
    const std::vector<TKeptRow> Back = DecodeKeptList(Text);
    ASSERT_EQ(Back.size(), Rows.size());
    for (size_t I = 0; I < Rows.size(); ++I) EXPECT_TRUE(SameRow(Back[I], Rows[I])) << Rows[I].Record.SourceFile;
    EXPECT_EQ(EncodeKeptList({}), "");
    EXPECT_TRUE(DecodeKeptList("").empty());
}

// A hand-edited or damaged line loses only its bad rows.
TEST(KeptList, RowsThatDoNotReadBackAreLeftOut) {
    const struct {
        const char* Name;
        const char* Text;
    } Bad[] = {
        {"too few fields", "1,0,0,lbox,0,0,0,/a.avi"},
        {"check not 0 or 1", "2,0,0,lbox,0,0,0,0,/a.avi"},
        {"number that is not one", "1,x,0,lbox,0,0,0,0,/a.avi"},
        {"negative crop", "1,0,0,lbox,-2,0,0,0,/a.avi"},
        {"unknown zoom", "1,0,0,wide,0,0,0,0,/a.avi"},
        {"empty path", "1,0,0,lbox,0,0,0,0,"},
        {"broken escape", "1,0,0,lbox,0,0,0,0,/a%2"},
        {"not hexadecimal", "1,0,0,lbox,0,0,0,0,/a%zz.avi"},
    };
    for (const auto& B : Bad) {
        const std::string Text = std::string(B.Text) + "|1,0,0,lbox,0,0,0,0,/good.avi";
        const std::vector<TKeptRow> Rows = DecodeKeptList(Text);
        ASSERT_EQ(Rows.size(), 1u) << B.Name;
        EXPECT_EQ(Rows[0].Record.SourceFile, "/good.avi") << B.Name;
    }
}

// The new keys of the settings file: the window's place, the list's
// columns, whether the list is kept and the list itself.
TEST(KeptList, SettingsKeysReadBackAndRefuseWhatIsNotTheirs) {
    const fs::path Folder = ScratchFolder("KeptListSettings");
    TAppSettings S((Folder / "settings.ini").string());
    TWindowPlace Place;
    EXPECT_FALSE(S.WindowPlace(Place));
    EXPECT_TRUE(S.ListColumns().empty());
    EXPECT_TRUE(S.KeepList()) << "kept unless turned off";
    EXPECT_EQ(S.KeptList(), "");

    S.SetWindowPlace({-20, 40, 1280, 800, true});
    ASSERT_TRUE(S.WindowPlace(Place));
    EXPECT_EQ(std::vector<int>({Place.Left, Place.Top, Place.Width, Place.Height}),
              std::vector<int>({-20, 40, 1280, 800}));
    EXPECT_TRUE(Place.Maximized);
    S.SetListColumns({300, 70, 109, 120, 69});
    EXPECT_EQ(S.ListColumns(), std::vector<int>({300, 70, 109, 120, 69}));
    S.SetKeepList(false);
    EXPECT_FALSE(S.KeepList());
    S.SetKeptList("1,0,0,lbox,0,0,0,0,/a.avi");
    EXPECT_EQ(S.KeptList(), "1,0,0,lbox,0,0,0,0,/a.avi");
    S.SetKeptList("");
    EXPECT_FALSE(S.Ini().ValueExists(SettingsKeys::Section, SettingsKeys::KeptList));

    const struct {
        const char* Place;
        const char* Columns;
    } Bad[] = {{"1,2,3,4", "1,2,x"}, {"1,2,0,600,0", "1,,3"}, {"a,b,c,d,e", ","}, {"1,2,800,-1,0", "7,"}};
    for (const auto& B : Bad) {
        S.Ini().WriteString(SettingsKeys::Section, SettingsKeys::WindowPlace, B.Place);
        S.Ini().WriteString(SettingsKeys::Section, SettingsKeys::ListColumns, B.Columns);
        EXPECT_FALSE(S.WindowPlace(Place)) << B.Place;
        EXPECT_TRUE(S.ListColumns().empty()) << B.Columns;
    }
}
