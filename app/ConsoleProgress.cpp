#include "app/ConsoleProgress.h"

#include <algorithm>

#include "common/MediaText.h"
#include "common/Text.h"

std::string FormatClock(int64_t Milliseconds) {
    int64_t S = std::max<int64_t>(Milliseconds, 0) / 1000;
    return StrFormat("%02lld:%02lld:%02lld", static_cast<long long>(S / 3600), static_cast<long long>(S / 60 % 60),
                     static_cast<long long>(S % 60));
}

int ProgressPercent(int64_t CurrentMs, int64_t TotalMs) {
    if (TotalMs <= 0) return -1;
    return static_cast<int>(std::clamp<int64_t>(std::max<int64_t>(CurrentMs, 0) * 100 / TotalMs, 0, 100));
}

void TSpeedMeter::Sample(TClock::time_point At, int64_t MediaMs) {
    // The clock starts once the media moves: opening, seeking to a trim
    // start and the encoder's look-ahead are not slow converting.
    if (!FHasFirst || MediaMs <= FFirstMs) {
        FHasFirst = true;
        FFirstAt = At;
        FFirstMs = MediaMs;
    }
    FLastAt = At;
    FLastMs = MediaMs;
}

double TSpeedMeter::Speed() const {
    if (!FHasFirst) return 0;
    double Wall = std::chrono::duration<double, std::milli>(FLastAt - FFirstAt).count();
    // Less than a second of moving media says little: the first packets
    // come in bursts as the encoders fill their pipelines.
    if (Wall < 1000 || FLastMs <= FFirstMs) return 0;
    return (FLastMs - FFirstMs) / Wall;
}

int64_t TSpeedMeter::TimeLeftMs(int64_t RemainingMs) const {
    double S = Speed();
    if (S <= 0) return -1;
    return static_cast<int64_t>(std::max<int64_t>(RemainingMs, 0) / S);
}

std::string TerminalText(const std::string& Text, bool KeepLines) {
    std::string Safe;
    Safe.reserve(Text.size());
    for (unsigned char C : Text) {
        if (C >= 0x20 && C != 0x7F) {
            Safe += static_cast<char>(C);
            continue;
        }
        switch (C) {
            case '\n': Safe += KeepLines ? "\n" : "\\n"; break;
            case '\r': Safe += "\\r"; break;
            case '\t': Safe += "\\t"; break;
            default: {
                static const char Digits[] = "0123456789ABCDEF";
                Safe += "\\x";
                Safe += Digits[C >> 4];
                Safe += Digits[C & 15];
            }
        }
    }
    return Safe;
}

std::string ProgressLine(const TJobProgress& P, size_t Width) {
    int64_t CurrentMs = P.CurrentMs, TotalMs = P.TotalMs;
    // The last report of a file comes a little before its end, and a file
    // of unknown length is as long as what was written.
    if (P.Finished) {
        CurrentMs = std::max(CurrentMs, TotalMs);
        if (TotalMs <= 0) TotalMs = CurrentMs;
    }
    int Percent = P.Finished ? 100 : ProgressPercent(CurrentMs, TotalMs);
    std::string Line = StrFormat("[%d/%d] %s %s", P.Number, P.Count,
                                 Percent < 0 ? " --%" : StrFormat("%3d%%", Percent).c_str(),
                                 FormatClock(CurrentMs).c_str());
    if (TotalMs > 0) Line += " / " + FormatClock(TotalMs);
    Line += "  " + FormatFileSize(P.Size);
    if (P.Speed > 0) Line += StrFormat("  %.1fx", P.Speed);
    if (P.TimeLeftMs >= 0 && Percent >= 0 && !P.Finished) Line += "  left " + FormatClock(P.TimeLeftMs);
    Line += "  " + P.Name;
    if (Width > 0 && Line.size() > Width) Line.resize(Width);
    return Line;
}
