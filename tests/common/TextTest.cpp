#include <gtest/gtest.h>

#include "common/Files.h"
#include "common/Text.h"

TEST(SplitHead, TakesTheHeadAndOptionallyRemovesIt) {
    std::string Text = "a,b,c";
    EXPECT_EQ(SplitHead(Text, ",", false), "a");
    EXPECT_EQ(Text, "a,b,c");
    EXPECT_EQ(SplitHead(Text, ",", true), "a");
    EXPECT_EQ(Text, "b,c");
    EXPECT_EQ(SplitHead(Text, ",", true), "b");
    EXPECT_EQ(SplitHead(Text, ",", true), "c");
    EXPECT_EQ(Text, "");
}

TEST(SplitHead, WithoutSeparatorReturnsAllAndEmptiesOnRemove) {
    std::string Text = "no separator";
    EXPECT_EQ(SplitHead(Text, ";", false), "no separator");
    EXPECT_EQ(Text, "no separator");
    EXPECT_EQ(SplitHead(Text, ";", true), "no separator");
    EXPECT_EQ(Text, "");
}

TEST(SplitHead, SeparatorOfSeveralCharactersAndEmptyParts) {
    std::string Text = "key::value::more";
    EXPECT_EQ(SplitHead(Text, "::", true), "key");
    EXPECT_EQ(Text, "value::more");
    Text = ",tail";
    EXPECT_EQ(SplitHead(Text, ",", true), "");
    EXPECT_EQ(Text, "tail");
}

TEST(Text, TrimRemovesBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(" \t\r\n x y \n\x01"), "x y");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_TRUE(SameText("Settings", "sETTINGS"));
    EXPECT_FALSE(SameText("Settings", "Setting"));
}

TEST(Files, PathPartsAndSizes) {
    EXPECT_EQ(ExtractFilePath("/a/b/c.mp4"), "/a/b/");
    EXPECT_EQ(ExtractFileName("/a/b/c.mp4"), "c.mp4");
    EXPECT_EQ(ExtractFileExt("/a/b.d/c"), "");
    EXPECT_EQ(ExtractFileExt("/a/b/c.tar.gz"), ".gz");
    EXPECT_EQ(GetFileSizeOnDisk("/no/such/file"), -1);
    EXPECT_EQ(GetFileSizeOnDisk("/"), -1);  // a folder has no file size
    EXPECT_EQ(ExecutableFolder().back(), '/');
}
