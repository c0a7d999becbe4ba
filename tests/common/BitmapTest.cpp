#include <gtest/gtest.h>

#include "common/Bitmap.h"

TEST(TBitmap, RowsArePaddedToFourBytes) {
    TBitmap B(5, 3);
    EXPECT_EQ(B.Stride(), 16);  // 15 bytes of pixels, padded
    EXPECT_EQ(B.ScanLine(2) - B.ScanLine(0), 32);
    TBitmap C(4, 1);
    EXPECT_EQ(C.Stride(), 12);
}

TEST(TBitmap, FillWritesBlueGreenRedOrder) {
    TBitmap B(2, 2);
    B.Fill(10, 20, 30);
    const uint8_t* P = B.ScanLine(1);
    EXPECT_EQ(P[0], 30);
    EXPECT_EQ(P[1], 20);
    EXPECT_EQ(P[2], 10);
    EXPECT_EQ(P[5], 10);
}

TEST(TBitmap, CopiesAreIndependentAndResizeBlanks) {
    TBitmap A(3, 3);
    A.Fill(255, 255, 255);
    TBitmap B = A;
    A.ScanLine(0)[0] = 7;
    EXPECT_EQ(B.ScanLine(0)[0], 255);
    B.SetSize(4, 2);
    EXPECT_EQ(B.Width(), 4);
    EXPECT_EQ(B.ScanLine(1)[11], 0);
    B.SetSize(0, 5);
    EXPECT_TRUE(B.Empty());
    EXPECT_EQ(B.Height(), 0);
}
