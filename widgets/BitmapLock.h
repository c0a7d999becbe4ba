// Holds a bitmap's lock for a scope: a conversion thread writes captured
// frames into the bitmap while the window's thread reads its rows in place.
#pragma once

#include "common/Bitmap.h"

class TBitmapLock {
public:
    explicit TBitmapLock(TBitmap& Bitmap) : FBitmap(Bitmap) { FBitmap.Lock(); }
    ~TBitmapLock() { FBitmap.Unlock(); }
    TBitmapLock(const TBitmapLock&) = delete;
    TBitmapLock& operator=(const TBitmapLock&) = delete;

private:
    TBitmap& FBitmap;
};
