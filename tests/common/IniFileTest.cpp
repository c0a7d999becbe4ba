#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/IniFile.h"
#include "tests/TestMedia.h"

namespace {

std::string ReadAll(const std::filesystem::path& Path) {
    std::ifstream In(Path);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

void WriteAll(const std::filesystem::path& Path, const std::string& Text) {
    std::ofstream(Path) << Text;
}

}  // namespace

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
    auto Folder = ScratchFolder("IniMissing");
    IniFile Ini((Folder / "none.ini").string());
    EXPECT_EQ(Ini.ReadString("settings", "key", "dflt"), "dflt");
    EXPECT_EQ(Ini.ReadInteger("settings", "key", 7), 7);
    EXPECT_FALSE(Ini.SectionExists("settings"));
    EXPECT_FALSE(std::filesystem::exists(Folder / "none.ini"));  // reading creates nothing
}

TEST(IniFile, SectionsAndKeysIgnoreCaseAndValuesKeepEqualsAndBlanks) {
    auto Folder = ScratchFolder("IniCase");
    auto Path = Folder / "a.ini";
    IniFile Ini(Path.string());
    ASSERT_TRUE(Ini.WriteString("Settings", "OutPutDir", "/home/u/my videos"));
    ASSERT_TRUE(Ini.WriteString("settings", "Extra", "vn=1 a=b"));
    ASSERT_TRUE(Ini.WriteInteger("SETTINGS", "snapOutPutDir", -42));
    EXPECT_EQ(Ini.ReadString("settings", "outputdir", ""), "/home/u/my videos");
    EXPECT_EQ(Ini.ReadString("SETTINGS", "EXTRA", ""), "vn=1 a=b");
    EXPECT_EQ(Ini.ReadInteger("Settings", "SnapOutPutDir", 0), -42);
    // One section, three keys: the later writes found the first section.
    EXPECT_EQ(Ini.ReadSections().size(), 1u);
    EXPECT_EQ(Ini.ReadSection("settings").size(), 3u);
    EXPECT_EQ(ReadAll(Path), "[Settings]\nOutPutDir=/home/u/my videos\nExtra=vn=1 a=b\nsnapOutPutDir=-42\n");
}

TEST(IniFile, WriteKeepsEveryOtherLineInItsPlace) {
    auto Folder = ScratchFolder("IniKeep");
    auto Path = Folder / "b.ini";
    WriteAll(Path,
             "; profile file\n"
             "[formatInfo0]\n"
             "FileExt=.mp4\n"
             "; the container\n"
             "Format = mp4\n"
             "\n"
             "[formatInfo1]\n"
             "FileExt=.avi\n");
    IniFile Ini(Path.string());
    EXPECT_EQ(Ini.ReadString("formatinfo0", "format", ""), "mp4");
    ASSERT_TRUE(Ini.WriteString("formatInfo0", "FORMAT", "ipod"));
    ASSERT_TRUE(Ini.WriteString("formatInfo0", "New", "1"));
    ASSERT_TRUE(Ini.WriteString("formatInfo2", "FileExt", ".m4a"));
    EXPECT_EQ(ReadAll(Path),
              "; profile file\n"
              "[formatInfo0]\n"
              "FileExt=.mp4\n"
              "; the container\n"
              "FORMAT=ipod\n"
              "New=1\n"
              "\n"
              "[formatInfo1]\n"
              "FileExt=.avi\n"
              "[formatInfo2]\n"
              "FileExt=.m4a\n");
}

TEST(IniFile, IntegersAndBadNumbers) {
    auto Folder = ScratchFolder("IniNumbers");
    auto Path = Folder / "c.ini";
    WriteAll(Path, "[s]\na= 12 \nb=12abc\nc=0x1F\nd=\ne=1.5\nq=\"quoted value\"\n");
    IniFile Ini(Path.string());
    EXPECT_EQ(Ini.ReadInteger("s", "a", -1), 12);
    EXPECT_EQ(Ini.ReadInteger("s", "b", -1), -1);
    EXPECT_EQ(Ini.ReadInteger("s", "c", -1), 31);
    EXPECT_EQ(Ini.ReadInteger("s", "d", -1), -1);
    EXPECT_DOUBLE_EQ(Ini.ReadFloat("s", "e", 0), 1.5);
    EXPECT_EQ(Ini.ReadString("s", "q", ""), "quoted value");
}

TEST(IniFile, CrLfFilesStayCrLf) {
    auto Folder = ScratchFolder("IniCrLf");
    auto Path = Folder / "d.ini";
    WriteAll(Path, "[s]\r\na=1\r\n");
    IniFile Ini(Path.string());
    EXPECT_EQ(Ini.ReadInteger("s", "a", 0), 1);
    ASSERT_TRUE(Ini.WriteInteger("s", "b", 2));
    EXPECT_EQ(ReadAll(Path), "[s]\r\na=1\r\nb=2\r\n");
}

TEST(IniFile, DeleteKey) {
    auto Folder = ScratchFolder("IniDelete");
    auto Path = Folder / "e.ini";
    WriteAll(Path, "[a]\nx=1\ny=2\n[b]\nz=3\n");
    IniFile Ini(Path.string());
    ASSERT_TRUE(Ini.DeleteKey("A", "X"));
    EXPECT_EQ(ReadAll(Path), "[a]\ny=2\n[b]\nz=3\n");
}

TEST(IniFile, WriteIntoMissingFolderFails) {
    auto Folder = ScratchFolder("IniNoFolder");
    IniFile Ini((Folder / "missing" / "g.ini").string());
    EXPECT_FALSE(Ini.WriteString("a", "x", "1"));
    EXPECT_FALSE(std::filesystem::exists(Folder / "missing"));
}

TEST(IniFile, ConcurrentSavesLoseNothingAndKeepLinksAndPermissions) {
    namespace fs = std::filesystem;
    struct Row {
        const char* Name;
        bool Link;   // the settings file is a symlink to a file in another folder
        mode_t Mode;
        int Writers;  // processes saving at once, each its own section and key
        int Saves;    // per process
    };
    const Row Rows[] = {
        {"two processes", false, 0644, 2, 200},
        {"three processes", false, 0644, 3, 20},
        {"private file", false, 0600, 2, 10},
        {"group readable", false, 0640, 1, 3},
        {"symlink", true, 0600, 2, 20},
    };
    // 36 sections of 12 keys, as the profile sections make them.
    std::string Original;
    for (int S = 0; S < 36; ++S) {
        Original += "[Profile" + std::to_string(S) + "]\n";
        for (int K = 0; K < 12; ++K) Original += "key" + std::to_string(K) + "=value " + std::to_string(S * K) + "\n";
    }
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Name);
        const fs::path Folder = ScratchFolder(std::string("IniConcurrent_") + R.Name);
        const fs::path Target = R.Link ? Folder / "real" / "settings.ini" : Folder / "settings.ini";
        const fs::path Name = Folder / "settings.ini";
        fs::create_directories(Target.parent_path());
        WriteAll(Target, Original);
        ASSERT_EQ(chmod(Target.c_str(), R.Mode), 0);
        if (R.Link) fs::create_symlink("real/settings.ini", Name);

        std::vector<pid_t> Children;
        for (int W = 0; W < R.Writers; ++W) {
            const pid_t Child = fork();
            ASSERT_GE(Child, 0);
            if (Child == 0) {
                IniFile Ini(Name.string());
                bool Ok = true;
                for (int I = 0; I < R.Saves; ++I) {
                    Ok = Ini.WriteString("Writer" + std::to_string(W), "Count", std::to_string(I)) && Ok;
                    Ok = Ini.WriteInteger("Profile" + std::to_string(W), "key" + std::to_string(W), I) && Ok;
                }
                _exit(Ok ? 0 : 1);
            }
            Children.push_back(Child);
        }
        for (pid_t Child : Children) {
            int Status = 0;
            ASSERT_EQ(waitpid(Child, &Status, 0), Child);
            EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << "a save failed";
        }

        IniFile Ini(Name.string());
        for (int S = 0; S < 36; ++S)
            for (int K = 0; K < 12; ++K) {
                const bool Written = S < R.Writers && K == S;
                EXPECT_EQ(Ini.ReadString("Profile" + std::to_string(S), "key" + std::to_string(K), "gone"),
                          Written ? std::to_string(R.Saves - 1) : "value " + std::to_string(S * K))
                    << "[Profile" << S << "] key" << K;
            }
        for (int W = 0; W < R.Writers; ++W)
            EXPECT_EQ(Ini.ReadString("Writer" + std::to_string(W), "Count", "gone"), std::to_string(R.Saves - 1));
        EXPECT_EQ(fs::is_symlink(Name), R.Link);
        struct stat Info;
        ASSERT_EQ(stat(Target.c_str(), &Info), 0);
        EXPECT_EQ(Info.st_mode & 07777, R.Mode);
        // Nothing but the file, its lock and the link's folder is left.
        for (const auto& Entry : fs::recursive_directory_iterator(Folder)) {
            const std::string File = Entry.path().filename().string();
            EXPECT_TRUE(File == "settings.ini" || File == "settings.ini.lock" || File == "real") << File;
        }
    }
}
