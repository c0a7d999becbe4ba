// A 24-bit bitmap: rows of B,G,R bytes, each row padded to a multiple of 4
// bytes, row 0 at the top. Lock/Unlock guard the pixels while one thread
// draws and another reads them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int AWidth, int AHeight) { SetSize(AWidth, AHeight); }
    TBitmap(const TBitmap& Other) { Assign(Other); }
    TBitmap& operator=(const TBitmap& Other) {
        if (this != &Other) Assign(Other);
        return *this;
    }

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
    // Bytes from one row to the next.
    int Stride() const { return FStride; }
    static int StrideFor(int AWidth) { return (AWidth * 3 + 3) & ~3; }

    // Resizes; the pixels become black.
    void SetSize(int AWidth, int AHeight);
    void Clear() { SetSize(0, 0); }
    // Paints every pixel in one colour.
    void Fill(uint8_t R, uint8_t G, uint8_t B);
    // Copies size and pixels of Other.
    void Assign(const TBitmap& Other);

    uint8_t* ScanLine(int Row) { return FPixels.data() + static_cast<size_t>(Row) * FStride; }
    const uint8_t* ScanLine(int Row) const {
        return FPixels.data() + static_cast<size_t>(Row) * FStride;
    }
    uint8_t* Bits() { return FPixels.data(); }
    const uint8_t* Bits() const { return FPixels.data(); }

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

private:
    int FWidth = 0, FHeight = 0, FStride = 0;
    std::vector<uint8_t> FPixels;
    std::recursive_mutex FLock;
};
