#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A decimal number of up to 38 significant digits (mantissa x 10^exponent, the exponent from
// -128 to 127), exact where a double would round: audience filters compare the numbers of
// their definitions with it.
class NEBADecimal {
public:
    static constexpr int kMaxDigits = 38;

    // Whether the text is an optionally signed run of digits with at most one point and at
    // least one digit: "5", "-5.", ".5", "+0.25"; not "", "1e5", "1,5", "..5".
    static bool isDecimalString(std::string_view text);
    // None (logged) for text that is no decimal or that would lose digits.
    static std::optional<NEBADecimal> decimalFromString(std::string_view text);

    NEBADecimal() = default;
    explicit NEBADecimal(int64_t value);

    // The shortest text: no exponent, no trailing fractional zeros ("0.5", "-12", "100").
    std::string text() const;
    // -1, 0 or 1.
    int compare(const NEBADecimal& other) const;
    bool operator==(const NEBADecimal& other) const { return compare(other) == 0; }
    bool operator<(const NEBADecimal& other) const { return compare(other) < 0; }

private:
    // Digits without leading or trailing zeros ("" for zero), the power of ten of the last
    // digit, and the sign.
    std::string digits_;
    int32_t exponent_ = 0;
    bool negative_ = false;
};

// The numbers a number filter compares with, parsed once.
struct NEBAAudienceComparisonValues {
    bool isValid = false;
    NEBADecimal comparisonValue;
    NEBADecimal minComparisonValue;
    NEBADecimal maxComparisonValue;
};
