// Shared helpers of the probe tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "binding/LibAV.h"
#include "common/Text.h"
#include "probe/AVProbe.h"
#include "tests/TestMedia.h"

// The library's log lines (level, text) of the running test.
inline std::vector<std::pair<int, std::string>> LogLines;

inline bool Logged(int Level, const std::string& Text) {
    for (const auto& Line : LogLines)
        if (Line.first == Level && Line.second == Text) return true;
    return false;
}

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
        LogLines.clear();
        av::av_log_set_level(AV_LOG_TRACE);
        av::av_log_set_callback([](void*, int Level, const char* Format, va_list Args) {
            char Buffer[1024];
            vsnprintf(Buffer, sizeof Buffer, Format, Args);
            LogLines.emplace_back(Level, Buffer);
        });
    }
    void TearDown() override { av::av_log_set_callback(av::av_log_default_callback); }
};

// A demuxer context opened the way an engine job opens its input.
inline AVFormatContext* OpenContext(const std::string& FileName) {
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, FileName.c_str(), nullptr, nullptr) < 0) return nullptr;
    if (av::avformat_find_stream_info(Context, nullptr) < 0) av::avformat_close_input(&Context);
    return Context;
}

inline std::vector<std::string> InfoLines(TAVProbe& Probe) {
    std::vector<std::string> Lines;
    std::string Text = Probe.GetInfoText();
    for (size_t Start = 0;;) {
        size_t End = Text.find("\r\n", Start);
        Lines.push_back(Text.substr(Start, End - Start));
        if (End == std::string::npos) return Lines;
        Start = End + 2;
    }
}

inline bool HasLine(const std::vector<std::string>& Lines, const std::string& Line) {
    for (const std::string& L : Lines)
        if (L == Line) return true;
    return false;
}

inline void WriteFile(const std::filesystem::path& Path, const std::string& Bytes) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

// Little-endian fields of hand-made file headers.
inline std::string LE(uint32_t Value, int Size) {
    std::string Bytes;
    for (int i = 0; i < Size; ++i) Bytes.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
    return Bytes;
}

// A WAV file of 8-bit mono PCM at 8 kHz, FileSize bytes long in all.
inline void WriteWav(const std::filesystem::path& Path, uint32_t FileSize) {
    std::string Header = "RIFF" + LE(FileSize - 8, 4) + "WAVEfmt " + LE(16, 4) + LE(1, 2) + LE(1, 2) +
                         LE(8000, 4) + LE(8000, 4) + LE(1, 2) + LE(8, 2) + "data" + LE(FileSize - 44, 4);
    WriteFile(Path, Header + std::string(FileSize - 44, static_cast<char>(0x80)));
}

inline bool AllBlack(const TBitmap& Bitmap) {
    for (int Row = 0; Row < Bitmap.Height(); ++Row)
        for (int X = 0; X < Bitmap.Width() * 3; ++X)
            if (Bitmap.ScanLine(Row)[X] != 0) return false;
    return true;
}

inline bool SamePixels(const TBitmap& A, const TBitmap& B) {
    return A.Width() == B.Width() && A.Height() == B.Height() &&
           std::memcmp(A.Bits(), B.Bits(), static_cast<size_t>(A.Stride()) * A.Height()) == 0;
}
