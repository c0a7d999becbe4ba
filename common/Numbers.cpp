#include "common/Numbers.h"

#include <cmath>
#include <cstdlib>

#include "common/Text.h"

bool TryStrToInt64(const std::string& Text, int64_t& Value) {
    size_t I = 0;
    while (I < Text.size() && Text[I] == ' ') ++I;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) Negative = Text[I++] == '-';
    int Base = 10;
    if (I < Text.size() && Text[I] == '$') {
        Base = 16;
        ++I;
    } else if (I + 1 < Text.size() && Text[I] == '0' && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
        Base = 16;
        I += 2;
    }
    if (I >= Text.size()) return false;
    // One more than INT64_MAX is the magnitude of INT64_MIN.
    const unsigned __int128 Limit = static_cast<unsigned __int128>(INT64_MAX) + 1;
    unsigned __int128 Magnitude = 0;
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        const int Digit = C >= '0' && C <= '9'                 ? C - '0'
                          : Base == 16 && C >= 'a' && C <= 'f' ? C - 'a' + 10
                          : Base == 16 && C >= 'A' && C <= 'F' ? C - 'A' + 10
                                                               : -1;
        if (Digit < 0) return false;
        Magnitude = Magnitude * Base + Digit;
        if (Magnitude > Limit) return false;
    }
    if (!Negative && Magnitude == Limit) return false;
    Value = Negative ? static_cast<int64_t>(-static_cast<__int128>(Magnitude)) : static_cast<int64_t>(Magnitude);
    return true;
}

bool TryStrToInt(const std::string& Text, int& Value) {
    int64_t Wide = 0;
    if (!TryStrToInt64(Text, Wide) || Wide < INT32_MIN || Wide > INT32_MAX) return false;
    Value = static_cast<int>(Wide);
    return true;
}

namespace {

[[noreturn]] void RefuseInteger(const std::string& Text) {
    throw EConvertError(StrFormat("'%s' is not a valid integer value", Text.c_str()));
}

}  // namespace

int64_t StrToInt64(const std::string& Text) {
    int64_t Value = 0;
    if (!TryStrToInt64(Text, Value)) RefuseInteger(Text);
    return Value;
}

int StrToInt(const std::string& Text) {
    int Value = 0;
    if (!TryStrToInt(Text, Value)) RefuseInteger(Text);
    return Value;
}

bool TryStrToFloat(const std::string& Text, double& Value) {
    const std::string Number = Trim(Text);
    if (Number.empty()) return false;
    char* End = nullptr;
    const double Result = std::strtod(Number.c_str(), &End);
    if (End != Number.c_str() + Number.size() || !std::isfinite(Result)) return false;
    Value = Result;
    return true;
}

double StrToFloat(const std::string& Text) {
    double Value = 0.0;
    if (!TryStrToFloat(Text, Value))
        throw EConvertError(StrFormat("'%s' is not a valid floating point value", Text.c_str()));
    return Value;
}
