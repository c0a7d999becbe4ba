#include "common/Bitmap.h"

#include <algorithm>

void TBitmap::SetSize(int AWidth, int AHeight) {
    if (AWidth <= 0 || AHeight <= 0) AWidth = AHeight = 0;
    FWidth = AWidth;
    FHeight = AHeight;
    FStride = StrideFor(AWidth);
    // The scaler's vector code writes up to a block past the last pixel of
    // a row; the last row has slack for it too.
    FPixels.assign(static_cast<size_t>(FStride) * FHeight + (FHeight ? 64 : 0), 0);
}

void TBitmap::Fill(uint8_t R, uint8_t G, uint8_t B) {
    for (int Row = 0; Row < FHeight; ++Row) {
        uint8_t* P = ScanLine(Row);
        for (int X = 0; X < FWidth; ++X, P += 3) {
            P[0] = B;
            P[1] = G;
            P[2] = R;
        }
    }
}

void TBitmap::Assign(const TBitmap& Other) {
    FWidth = Other.FWidth;
    FHeight = Other.FHeight;
    FStride = Other.FStride;
    FPixels = Other.FPixels;
}
