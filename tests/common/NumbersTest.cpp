#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/Numbers.h"

namespace {

// What the strict conversion gives for a text: its value, or the message
// of its conversion error.
template <typename T, typename F>
std::string Outcome(F Convert, const std::string& Text) {
    try {
        return "= " + std::to_string(static_cast<T>(Convert(Text)));
    } catch (const EConvertError& E) {
        return E.what();
    }
}

}  // namespace

TEST(Numbers, IntegersReadTheWholeTextInDecimalOrHexadecimal) {
    struct TCase {
        const char* Text;
        std::optional<int64_t> Wide;  // none = refused
        std::optional<int> Narrow;
    };
    const TCase Cases[] = {
        {"42", 42, 42},
        {"-7", -7, -7},
        {"+7", 7, 7},
        {" 5", 5, 5},
        {"$10", 16, 16},
        {"0x1f", 31, 31},
        {"0XFF", 255, 255},
        {"-$10", -16, -16},
        {"010", 10, 10},  // a leading 0 is not octal
        {"2147483647", INT32_MAX, INT32_MAX},
        {"-2147483648", INT32_MIN, INT32_MIN},
        {"2147483648", int64_t(INT32_MAX) + 1, std::nullopt},
        {"3000000000", 3000000000LL, std::nullopt},
        {"9223372036854775807", INT64_MAX, std::nullopt},
        {"-9223372036854775808", INT64_MIN, std::nullopt},
        {"9223372036854775808", std::nullopt, std::nullopt},
        {"99999999999999999999999999999999999999999", std::nullopt, std::nullopt},
        {"5 ", std::nullopt, std::nullopt},
        {"\t5", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {" ", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"$", std::nullopt, std::nullopt},
        {"0x", std::nullopt, std::nullopt},
        {"12x", std::nullopt, std::nullopt},
        {"1.0", std::nullopt, std::nullopt},
        {"1f", std::nullopt, std::nullopt},
        {"x1", std::nullopt, std::nullopt},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Text);
        // A refused text leaves the variable alone.
        int64_t Wide = -99;
        int Narrow = -99;
        EXPECT_EQ(TryStrToInt64(C.Text, Wide), C.Wide.has_value());
        EXPECT_EQ(Wide, C.Wide.value_or(-99));
        EXPECT_EQ(TryStrToInt(C.Text, Narrow), C.Narrow.has_value());
        EXPECT_EQ(Narrow, C.Narrow.value_or(-99));

        const std::string Refused = "'" + std::string(C.Text) + "' is not a valid integer value";
        EXPECT_EQ(Outcome<int64_t>(StrToInt64, C.Text), C.Wide ? "= " + std::to_string(*C.Wide) : Refused);
        EXPECT_EQ(Outcome<int>(StrToInt, C.Text), C.Narrow ? "= " + std::to_string(*C.Narrow) : Refused);
    }
}

TEST(Numbers, DecimalsAllowBlanksAroundAndRefuseInfinities) {
    struct TCase {
        const char* Text;
        std::optional<double> Value;
    };
    const TCase Cases[] = {
        {"96.5", 96.5}, {" 2 ", 2.0},       {"\t-0.25\n", -0.25},    {"1e3", 1000.0},
        {"7", 7.0},     {"1,5", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt},
        {"1e999", std::nullopt}, {"", std::nullopt}, {"  ", std::nullopt}, {"2.5x", std::nullopt},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Text);
        double Value = -99.0;
        EXPECT_EQ(TryStrToFloat(C.Text, Value), C.Value.has_value());
        EXPECT_DOUBLE_EQ(Value, C.Value.value_or(-99.0));
        if (C.Value) {
            EXPECT_DOUBLE_EQ(StrToFloat(C.Text), *C.Value);
        } else {
            try {
                StrToFloat(C.Text);
                ADD_FAILURE();
            } catch (const EConvertError& E) {
                EXPECT_EQ(E.what(), "'" + std::string(C.Text) + "' is not a valid floating point value");
            }
        }
    }
}
