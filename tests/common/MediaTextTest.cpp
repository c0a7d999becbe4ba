#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "common/MediaText.h"

extern "C" {
#include <libavutil/error.h>
}

TEST(FormatFileSize, UnitsStartAboveEachBoundary) {
    EXPECT_EQ(FormatFileSize(0), "0 Byte");
    EXPECT_EQ(FormatFileSize(1024), "1024 Byte");
    EXPECT_EQ(FormatFileSize(1025), "1.00 KB");
    EXPECT_EQ(FormatFileSize(1048576), "1024.00 KB");
    EXPECT_EQ(FormatFileSize(1048577), "1.00 MB");
    EXPECT_EQ(FormatFileSize(1073741825), "1.00 GB");
    EXPECT_EQ(FormatFileSize(5LL * 1073741824 + 536870912), "5.50 GB");
}

TEST(FormatDuration, HoursAreNotReducedAndTheFractionShowsMilliseconds) {
    EXPECT_EQ(FormatDuration(0), "00:00:00.000");
    EXPECT_EQ(FormatDuration(1500000), "00:00:01.500");
    EXPECT_EQ(FormatDuration(3661250000LL), "01:01:01.250");
    EXPECT_EQ(FormatDuration(100LL * 3600 * 1000000), "100:00:00.000");
    EXPECT_EQ(FormatDuration(999999), "00:00:00.999");
}

class TimeZone : public ::testing::Test {
protected:
    void SetZone(const char* Zone) {
        setenv("TZ", Zone, 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
};

TEST_F(TimeZone, UnixTimeToLocalCountsDaysFrom1899) {
    SetZone("UTC0");
    EXPECT_DOUBLE_EQ(UnixTimeToLocal(0), 25569.0);
    EXPECT_DOUBLE_EQ(UnixTimeToLocal(86400 + 43200), 25570.5);
    EXPECT_EQ(FormatDateTime(UnixTimeToLocal(1700000000)), "2023-11-14 22:13:20");
}

TEST_F(TimeZone, UnixTimeToLocalAppliesStandardOffsetOnly) {
    // New York: five hours west in winter and summer alike.
    SetZone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(StandardTimeBiasMinutes(), 300);
    EXPECT_DOUBLE_EQ(UnixTimeToLocal(0), 25569.0 - 5.0 / 24);
    EXPECT_EQ(FormatDateTime(UnixTimeToLocal(1689422400)), "2023-07-15 07:00:00");  // 12:00 UTC
}

TEST(ErrorCodeText, TodaysCodesGiveTheOpenMessages) {
    EXPECT_EQ(ErrorCodeText("a.avi", AVERROR(ENOENT)), "a.avi: no such file or directory");
    EXPECT_EQ(ErrorCodeText("a.avi", AVERROR_INVALIDDATA), "a.avi: Error while parsing header");
    EXPECT_EQ(ErrorCodeText("a.avi", AVERROR_DEMUXER_NOT_FOUND), "a.avi: Unknown format");
    EXPECT_EQ(ErrorCodeText("a.avi", AVERROR(ENOMEM)), "a.avi: memory allocation error occurred");
    EXPECT_EQ(ErrorCodeText("a.avi", AVERROR(EIO)),
              "a.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.");
    EXPECT_EQ(ErrorCodeText("a.avi", -123456), "a.avi: Error while opening file");
}

TEST(ErrorCodeText, ImageSyntaxMessageShowsSinglePercentSigns) {
    std::string Text = ErrorCodeText("img.jpg", AVERROR(EINVAL));
    EXPECT_EQ(Text.rfind("img.jpg: Incorrect image filename syntax.\r\n", 0), 0u);
    EXPECT_NE(Text.find("use 'img%d.jpg';"), std::string::npos);
    EXPECT_NE(Text.find("use 'img%03d.jpg'."), std::string::npos);
}

TEST(ErrorCodeText, PercentSignsInTheFileNameStayLiteral) {
    EXPECT_EQ(ErrorCodeText("100%s.avi", AVERROR(ENOENT)), "100%s.avi: no such file or directory");
}
