#include "common/MediaText.h"

#include <cerrno>
#include <cmath>
#include <ctime>

#include "common/Text.h"

extern "C" {
#include <libavutil/error.h>
}

std::string FormatFileSize(int64_t Size) {
    if (Size > 1073741824) return StrFormat("%.2f GB", Size / 1073741824.0);
    if (Size > 1048576) return StrFormat("%.2f MB", Size / 1048576.0);
    if (Size > 1024) return StrFormat("%.2f KB", Size / 1024.0);
    return StrFormat("%lld Byte", static_cast<long long>(Size));
}

std::string FormatDuration(int64_t Microseconds) {
    // The fraction shows milliseconds.
    int64_t Seconds = Microseconds / 1000000;
    return StrFormat("%.2lld:%.2lld:%.2lld.%.3lld", static_cast<long long>(Seconds / 3600),
                     static_cast<long long>((Seconds / 60) % 60), static_cast<long long>(Seconds % 60),
                     static_cast<long long>((Microseconds % 1000000) / 1000));
}

int StandardTimeBiasMinutes() {
    tzset();
    // POSIX timezone: seconds west of UTC, the standard-time offset.
    return static_cast<int>(timezone / 60);
}

TDateTime UnixTimeToLocal(int64_t Seconds) {
    return Seconds / 86400.0 + UnixEpochDays - StandardTimeBiasMinutes() / 1440.0;
}

std::string FormatDateTime(TDateTime Value) {
    // Work in whole seconds to avoid 23:59:60 from rounding.
    int64_t Total = std::llround((Value - UnixEpochDays) * 86400.0);
    time_t Time = static_cast<time_t>(Total);
    struct tm Parts {};
    gmtime_r(&Time, &Parts);
    return StrFormat("%04d-%02d-%02d %02d:%02d:%02d", Parts.tm_year + 1900, Parts.tm_mon + 1,
                     Parts.tm_mday, Parts.tm_hour, Parts.tm_min, Parts.tm_sec);
}

std::string ErrorCodeText(const std::string& Prefix, int Code) {
    const char* Pattern;
    switch (Code) {
        case AVERROR_DEMUXER_NOT_FOUND:
            Pattern = "%s: Unknown format";
            break;
        case AVERROR(EINVAL):
        case AVERROR(EDOM):
            Pattern =
                "%s: Incorrect image filename syntax.\r\n"
                "Use '%%d' to specify the image number:\r\n"
                "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
                "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
            break;
        case AVERROR_INVALIDDATA:
            Pattern = "%s: Error while parsing header";
            break;
        case AVERROR(ENOMEM):
            Pattern = "%s: memory allocation error occurred";
            break;
        case AVERROR(EIO):
            Pattern =
                "%s: I/O error occurred\r\n"
                "Usually that means that input file is truncated and/or corrupted.";
            break;
        case AVERROR(ENOENT):
            Pattern = "%s: no such file or directory";
            break;
        case AVERROR(ENAMETOOLONG):
            Pattern = "%s: file name too long";
            break;
        default:
            Pattern = "%s: Error while opening file";
            break;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return StrFormat(Pattern, Prefix.c_str());
#pragma GCC diagnostic pop
}
