// Rectangles and fitting a picture into an area.
#pragma once

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};

// The largest rectangle of the picture's proportions centred in a DW x DH
// area: full width with margins above and below, or full height with margins
// left and right. Margins round to the nearest integer, ties to even. A
// picture or area without width or height gives an empty rectangle.
TRect FitPicture(int PW, int PH, int DW, int DH);
