// Text of tarnconv's progress display.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Text safe to print on a terminal: control characters become "\n", "\r",
// "\t" or "\xNN" (DEL too), so a file name cannot move the cursor, clear
// the screen or fake a line of its own. With KeepLines, line feeds stay.
std::string TerminalText(const std::string& Text, bool KeepLines = false);

// "hh:mm:ss" of milliseconds; hours are not reduced.
std::string FormatClock(int64_t Milliseconds);

// Current x 100 div Total, within 0..100; -1 when the total is unknown.
int ProgressPercent(int64_t CurrentMs, int64_t TotalMs);

// Media time per wall-clock time, from the last sample before the media
// moved to the latest one.
class TSpeedMeter {
public:
    using TClock = std::chrono::steady_clock;
    void Sample(TClock::time_point At, int64_t MediaMs);
    // 0 until the media has moved for a second of samples.
    double Speed() const;
    // Milliseconds of wall-clock time left for RemainingMs of media; -1 unknown.
    int64_t TimeLeftMs(int64_t RemainingMs) const;

private:
    bool FHasFirst = false;
    TClock::time_point FFirstAt, FLastAt;
    int64_t FFirstMs = 0, FLastMs = 0;
};

struct TJobProgress {
    int Number = 0, Count = 0;   // 1-based job number of Count
    int64_t CurrentMs = 0, TotalMs = 0;
    int64_t Size = 0;            // bytes written
    double Speed = 0;            // media per wall-clock time; 0 unknown
    int64_t TimeLeftMs = -1;
    std::string Name;            // output file name without folder
    bool Finished = false;       // the file is complete: 100 %, whatever the last report said
};

// One line: job number, percentage, time, size, speed, time left, name;
// an unknown speed or time left is left out. Cut to Width characters when
// Width > 0.
std::string ProgressLine(const TJobProgress& Progress, size_t Width = 0);
