// Text forms of sizes, durations, dates and library error codes.
#pragma once

#include <cstdint>
#include <string>

// Days since 1899-12-30 00:00 local time; the fraction is the time of day.
using TDateTime = double;
constexpr double UnixEpochDays = 25569.0;  // 1970-01-01 as a TDateTime

// "1.00 GB" / "1.00 MB" / "1.00 KB" above each unit, "%d Byte" up to 1024.
std::string FormatFileSize(int64_t Size);
// "hh:mm:ss.mmm" of a duration in microseconds; hours are not reduced.
std::string FormatDuration(int64_t Microseconds);
// Seconds since 1970 UTC to a local TDateTime with the standard-time offset
// of the time zone; daylight saving is not applied.
TDateTime UnixTimeToLocal(int64_t Seconds);
// The standard-time bias in minutes (UTC = local time + bias).
int StandardTimeBiasMinutes();
// "yyyy-mm-dd hh:nn:ss" of a TDateTime.
std::string FormatDateTime(TDateTime Value);

// The message for an error code of opening a file, with Prefix (the file
// name) in place of "%s".
std::string ErrorCodeText(const std::string& Prefix, int Code);
