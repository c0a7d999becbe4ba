#include <gtest/gtest.h>

#include "common/Geometry.h"

TEST(FitPicture, SameProportionsFillTheArea) {
    EXPECT_EQ(FitPicture(640, 480, 320, 240), (TRect{0, 0, 320, 240}));
}

TEST(FitPicture, WiderPictureGetsMarginsAboveAndBelow) {
    EXPECT_EQ(FitPicture(640, 360, 320, 240), (TRect{0, 30, 320, 210}));
}

TEST(FitPicture, TallerPictureGetsMarginsLeftAndRight) {
    EXPECT_EQ(FitPicture(50, 100, 100, 100), (TRect{25, 0, 75, 100}));
}

TEST(FitPicture, HalfPixelMarginsRoundToEven) {
    // m = 1.5 rounds to 2, m = 2.5 rounds to 2, m = 3.5 rounds to 4.
    EXPECT_EQ(FitPicture(100, 50, 100, 53), (TRect{0, 2, 100, 51}));
    EXPECT_EQ(FitPicture(100, 50, 100, 55), (TRect{0, 2, 100, 53}));
    EXPECT_EQ(FitPicture(100, 50, 100, 57), (TRect{0, 4, 100, 53}));
}

TEST(FitPicture, EmptyPictureOrAreaGivesNothing) {
    EXPECT_TRUE(FitPicture(0, 480, 320, 240).IsEmpty());
    EXPECT_TRUE(FitPicture(640, 0, 320, 240).IsEmpty());
    EXPECT_TRUE(FitPicture(640, 480, 0, 240).IsEmpty());
}
