#include <gtest/gtest.h>

#include <set>

#include "app/FilesRecord.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;

TEST(OutputName, FirstFreeNewName) {
    fs::path Folder = ScratchFolder("OutputNameFree");
    std::string F = Folder.string() + "/";
    EXPECT_EQ(MakeOutputFileNameIn(F, "/clips/holiday.avi", ".mp4"), F + "holiday_(new).mp4");
    EXPECT_EQ(MakeOutputFileNameIn(F, "/clips/holiday.avi", "_ipod.mp4"), F + "holiday_(new)_ipod.mp4");
    EXPECT_EQ(MakeOutputFileNameIn(F, "/clips/no_extension", ".mp4"), F + "no_extension_(new).mp4");
    EXPECT_EQ(MakeOutputFileNameIn(F, "/clips/two.dots.avi", ".mp4"), F + "two.dots_(new).mp4");

    WriteText(Folder / "a_(new).mp4", "");
    WriteText(Folder / "a_(new_1).mp4", "");
    EXPECT_EQ(MakeOutputFileNameIn(F, "/x/a.avi", ".mp4"), F + "a_(new_2).mp4");
    // Another suffix is another name.
    EXPECT_EQ(MakeOutputFileNameIn(F, "/x/a.avi", ".avi"), F + "a_(new).avi");
    // A folder of that name is taken too.
    fs::create_directories(Folder / "b_(new).mp4");
    EXPECT_EQ(MakeOutputFileNameIn(F, "/x/b.avi", ".mp4"), F + "b_(new_1).mp4");
}

TEST(OutputName, NamesHandedOutInTheSameBatchAreTaken) {
    fs::path Folder = ScratchFolder("OutputNameBatch");
    std::string F = Folder.string() + "/";
    std::set<std::string> Given;
    auto Taken = [&](const std::string& N) { return Given.count(N) > 0; };
    for (const char* Source : {"/one/clip.avi", "/two/clip.mp4", "/three/clip.mkv"})
        Given.insert(MakeOutputFileNameIn(F, Source, ".mp4", Taken));
    EXPECT_EQ(Given, (std::set<std::string>{F + "clip_(new).mp4", F + "clip_(new_1).mp4", F + "clip_(new_2).mp4"}));
}

TEST(OutputName, UsesTheStoredOutputFolder) {
    fs::path Folder = ScratchFolder("OutputNameStored");
    std::string Ini = WriteText(Folder / "s.ini", "[settings]\nOutPutDir=" + (Folder / "out").string() + "\n");
    TMessageCatcher Catcher;
    EXPECT_EQ(MakeOutputFileName(Ini, "/x/y.avi", ".mp4"), (Folder / "out" / "y_(new).mp4").string());
    EXPECT_TRUE(fs::is_directory(Folder / "out"));
    EXPECT_TRUE(Catcher.Messages.empty());
}
