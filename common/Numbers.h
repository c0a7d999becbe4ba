// Whole-text number conversions with the platform's conversion errors: the
// option values of the engine and the numbers of the profile and settings
// files are read alike.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// A text that does not convert to the number wanted.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Integers: blanks before, an optional sign, decimal digits or hexadecimal
// after "0x" or "$"; nothing after. A failed conversion leaves Value as it
// was.
bool TryStrToInt64(const std::string& Text, int64_t& Value);
bool TryStrToInt(const std::string& Text, int& Value);
// Raise EConvertError "'%s' is not a valid integer value".
int64_t StrToInt64(const std::string& Text);
int StrToInt(const std::string& Text);

// Decimals in the C library's current locale, blanks allowed around;
// infinities and NaN are refused.
bool TryStrToFloat(const std::string& Text, double& Value);
// Raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& Text);
