#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/GlobalUnit.h"
#include "common/Files.h"
#include "engine/FFmpeg.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;

TEST(GlobalObject, SettersIgnoreTooShortValues) {
    TGlobalObject G;
    EXPECT_EQ(G.AppVersion(), " ver 1.32 ");
    EXPECT_EQ(G.SettingsIni(), ExecutableFolder() + "tarnmp4videoconverter.ini");
    G.SetSettingsIni("a.i");
    G.SetAppTitle("");
    EXPECT_EQ(G.SettingsIni(), ExecutableFolder() + "tarnmp4videoconverter.ini");
    EXPECT_EQ(G.AppTitle(), "Tarn MP4 Video Converter");
    G.SetSettingsIni("a.ini");
    G.SetAppTitle("T");
    EXPECT_EQ(G.SettingsIni(), "a.ini");
    EXPECT_EQ(G.AppTitle(), "T");
    EXPECT_EQ(TGlobalObject::RightPart("converter", 4), "rter");
    EXPECT_EQ(TGlobalObject::RightPart("abc", 10), "abc");
}

TEST(GlobalObject, FilesBesideAWritableProgramElseInTheUserConfiguration) {
    fs::path Folder = ScratchFolder("LocateFiles");
    fs::path Config = Folder / "config";
    fs::path UserSettings = Config / "tarnmp4videoconverter" / "tarnmp4videoconverter.ini";
    const char* Old = getenv("XDG_CONFIG_HOME");
    std::string Saved = Old ? Old : "";
    setenv("XDG_CONFIG_HOME", Config.c_str(), 1);

    // An installed program: its data under ../share, even in a writable prefix.
    fs::path Share = Folder / "usr" / "share" / "tarnmp4videoconverter";
    fs::create_directories(Share);
    fs::create_directories(Folder / "usr" / "bin");
    WriteText(Share / "tarnmp4format.ini", "[0]\n");
    WriteText(Share / "tarnmp4videoconverter.ini", "[Settings]\nOutPutFormat=7\n");

    struct {
        fs::path Exe;
        fs::path Settings, Formats, Data;
    } Cases[] = {
        {Folder, Folder / "tarnmp4videoconverter.ini", Folder / "tarnmp4format.ini", Folder},
        {Folder / "missing" / "bin", UserSettings, Folder / "missing" / "bin" / "tarnmp4format.ini",
         Folder / "missing" / "bin"},
        {Folder / "usr" / "bin", UserSettings, Share / "tarnmp4format.ini", Share},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Exe.string());
        TGlobalObject G;
        G.LocateFiles(C.Exe.string());
        EXPECT_EQ(G.SettingsIni(), C.Settings.string());
        EXPECT_EQ(G.FormatIni(), C.Formats.string());
        EXPECT_EQ(G.HelpPageURL(), "file://" + (C.Data / "help" / "index.html").string());
        EXPECT_EQ(G.SupportPageURL(), G.HelpPageURL() + "#support");
        EXPECT_EQ(DataFolderFor(C.Exe.string()), C.Data.string() + "/");
    }
    // The installed program seeded the user's settings from the shipped copy.
    EXPECT_EQ(IniFile(UserSettings.string()).ReadInteger("Settings", "OutPutFormat", 0), 7);
    if (Old)
        setenv("XDG_CONFIG_HOME", Saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(Settings, FirstStartDefaults) {
    fs::path Home = ScratchFolder("FirstStart");
    THomeFolder H(Home);
    TAppSettings S((Home / "none.ini").string());
    EXPECT_EQ(S.OutputFormat(), 0);
    EXPECT_EQ(S.OutputDir(), Home.string() + "/videoconverter");
    EXPECT_EQ(S.SnapOutputDir(), Home.string() + "/videoconverter");
    EXPECT_TRUE(S.SnapFullSize());
    EXPECT_TRUE(S.SnapSmallSize());
    EXPECT_TRUE(S.SnapBmp());
    EXPECT_TRUE(S.SnapJpg());
    EXPECT_EQ(S.JpgQuality(), 30);
    EXPECT_EQ(S.Priority(), 1);
    EXPECT_EQ(PriorityFromSetting(S.Priority(), tpLower), tpNormal);
    EXPECT_EQ(S.SkinIndex(), 0);
    EXPECT_FALSE(FileExists((Home / "none.ini").string()));  // reading creates nothing
}

TEST(Settings, KeysWrittenInOneCaseAreReadInTheOther) {
    fs::path Folder = ScratchFolder("KeyCase");
    std::string Ini = (Folder / "s.ini").string();
    TAppSettings S(Ini);
    S.SetSnapOutputDir("/tmp/snaps");
    S.SetPriority(3);
    S.SetSnapFlags(false, true, false, true);
    S.SetJpgQuality(0);  // ignored
    S.SetJpgQuality(75);
    IniFile Raw(Ini);
    EXPECT_TRUE(Raw.ValueExists("Settings", "SnapOutPutDir"));
    EXPECT_EQ(Raw.ReadString("settings", "snapOutPutDir", ""), "/tmp/snaps");
    EXPECT_EQ(S.SnapOutputDir(), "/tmp/snaps");
    EXPECT_EQ(S.Priority(), 3);
    EXPECT_EQ(PriorityFromSetting(S.Priority(), tpNormal), tpLowest);
    EXPECT_FALSE(S.SnapFullSize());
    EXPECT_TRUE(S.SnapSmallSize());
    EXPECT_FALSE(S.SnapBmp());
    EXPECT_EQ(S.JpgQuality(), 75);

    S.SetSnapOutputDir("");
    EXPECT_EQ(S.SnapOutputDir(), DefaultOutputFolder());
}

TEST(Settings, PriorityTable) {
    const TThreadPriority Expected[] = {tpIdle, tpNormal, tpLower, tpLowest};
    for (int V = 0; V < 4; ++V) EXPECT_EQ(PriorityFromSetting(V, tpNormal), Expected[V]);
    EXPECT_EQ(PriorityFromSetting(4, tpLower), tpLower);
    EXPECT_EQ(PriorityFromSetting(-1, tpIdle), tpIdle);
}

TEST(EnsureFolder, MakesTheStoredFolderWithItsParents) {
    fs::path Folder = ScratchFolder("EnsureMakes");
    TMessageCatcher Catcher;
    std::string Ini = (Folder / "s.ini").string();
    std::string Out = (Folder / "a" / "b" / "c").string();
    TAppSettings(Ini).SetOutputDir(Out);
    EXPECT_EQ(EnsureFolder(Ini, "OutPutDir"), Out + "/");
    EXPECT_TRUE(FolderExists(Out));
    TAppSettings(Ini).SetOutputDir(Out + "/");
    EXPECT_EQ(EnsureFolder(Ini, "OutPutDir"), Out + "/");  // no second slash
    EXPECT_TRUE(Catcher.Messages.empty());
}

TEST(EnsureFolder, FallsBackOnceWithTheReasonAndKeepsTheStoredChoice) {
    fs::path Folder = ScratchFolder("EnsureFallsBack");
    THomeFolder H(Folder / "home");
    fs::create_directories(Folder / "home");
    TMessageCatcher Catcher;
    std::vector<std::pair<std::string, std::string>> Told;
    SetFolderFallbackFunction([&](const std::string& Key, const std::string& Used) { Told.emplace_back(Key, Used); });
    std::string Ini = (Folder / "s.ini").string();
    // A plain file stands where a parent folder would have to be.
    WriteText(Folder / "blocker", "x");
    std::string Bad = (Folder / "blocker" / "out").string();
    TAppSettings(Ini).SetSnapOutputDir(Bad);

    std::string Default = (Folder / "home" / "videoconverter").string();
    EXPECT_EQ(EnsureFolder(Ini, "SnapOutPutDir"), Default + "/");
    ASSERT_EQ(Catcher.Messages.size(), 1u);
    EXPECT_EQ(Catcher.Messages[0].Caption, "Warning");
    EXPECT_EQ(Catcher.Messages[0].Text, "Cannot create output directory: " + Bad + " (" + std::strerror(ENOTDIR) +
                                            "). It will use the default directory " + Default +
                                            " for now; the chosen directory stays in the settings.");
    EXPECT_EQ(Catcher.Messages[0].Kind, TMessageKind::Warning);
    EXPECT_TRUE(FolderExists(Default));
    EXPECT_EQ(IniFile(Ini).ReadString("settings", "snapOutPutDir", ""), Bad);
    EXPECT_EQ(Told, (std::vector<std::pair<std::string, std::string>>{{"SnapOutPutDir", Default + "/"}}));

    // The next operation uses the default without a second warning; once
    // the folder can be made it is used again.
    EXPECT_EQ(EnsureFolder(Ini, "SnapOutPutDir"), Default + "/");
    EXPECT_EQ(Catcher.Messages.size(), 1u);
    fs::remove(Folder / "blocker");
    EXPECT_EQ(EnsureFolder(Ini, "SnapOutPutDir"), Bad + "/");
    EXPECT_EQ(Told.size(), 1u);
    SetFolderFallbackFunction({});
}

TEST(EnsureFolder, FirstStartUsesTheDefaultFolder) {
    fs::path Folder = ScratchFolder("EnsureFirstStart");
    THomeFolder H(Folder);
    TMessageCatcher Catcher;
    EXPECT_EQ(EnsureFolder((Folder / "none.ini").string(), "OutPutDir"), Folder.string() + "/videoconverter/");
    EXPECT_TRUE(FolderExists((Folder / "videoconverter").string()));
    EXPECT_TRUE(Catcher.Messages.empty());
}

TEST(ExceptionText, FullStopAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ExceptionText("Cannot open file"), "Cannot open file.");
    EXPECT_EQ(ExceptionText("Stop!"), "Stop!");
    EXPECT_EQ(ExceptionText("Done."), "Done.");
    EXPECT_EQ(ExceptionText("(see log)"), "(see log)");
    EXPECT_EQ(ExceptionText("code 42"), "code 42.");
    EXPECT_EQ(ExceptionText(""), "");
}

TEST(ExceptionText, EngineErrorsAreWarningsOthersErrors) {
    TMessageCatcher Catcher;
    ShowException(FFMpegException("Unknown encoder libfoo"), "Title");
    ShowException(std::runtime_error("List index out of bounds (3)"), "Title");
    ASSERT_EQ(Catcher.Messages.size(), 2u);
    EXPECT_EQ(Catcher.Messages[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Catcher.Messages[0].Text, "Unknown encoder libfoo.");
    EXPECT_EQ(Catcher.Messages[0].Caption, "Title");
    EXPECT_EQ(Catcher.Messages[1].Kind, TMessageKind::Error);
    EXPECT_EQ(Catcher.Messages[1].Text, "List index out of bounds (3)");  // ")" sorts before "."
}
