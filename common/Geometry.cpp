#include "common/Geometry.h"

#include <cmath>

TRect FitPicture(int PW, int PH, int DW, int DH) {
    if (PW <= 0 || PH <= 0 || DW <= 0 || DH <= 0) return {};
    double A = static_cast<double>(PW) / DW;
    double B = static_cast<double>(PH) / DH;
    if (A >= B) {
        // nearbyint rounds ties to even in the default rounding mode.
        int M = static_cast<int>(std::nearbyint((DH - PH / A) / 2));
        return {0, M, DW, DH - M};
    }
    int M = static_cast<int>(std::nearbyint((DW - PW / B) / 2));
    return {M, 0, DW - M, DH};
}
