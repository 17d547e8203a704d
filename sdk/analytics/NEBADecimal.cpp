#include "sdk/analytics/NEBADecimal.h"

#include <cstdlib>

#include "sdk/analytics/NEBAMonitor.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool NEBADecimal::isDecimalString(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i])) {
            ++digits;
        } else if (text[i] == '.' && points == 0) {
            ++points;
        } else {
            return false;
        }
    }
    return digits > 0;
}

NEBADecimal::NEBADecimal(int64_t value) {
    negative_ = value < 0;
    uint64_t magnitude =
        negative_ ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    digits_ = magnitude == 0 ? std::string() : std::to_string(magnitude);
    while (!digits_.empty() && digits_.back() == '0') {
        digits_.pop_back();
        ++exponent_;
    }
    if (digits_.empty()) {
        exponent_ = 0;
        negative_ = false;
    }
}

std::optional<NEBADecimal> NEBADecimal::decimalFromString(std::string_view text) {
    if (!isDecimalString(text)) {
        NEBAMonitor::error("String value does not represent a numeric value. Value",
                           {ns::Value(text)});
        return std::nullopt;
    }
    NEBADecimal decimal;
    size_t i = 0;
    if (text[i] == '+' || text[i] == '-') decimal.negative_ = text[i++] == '-';
    std::string digits;
    int64_t exponent = 0;
    bool afterPoint = false;
    for (; i < text.size(); ++i) {
        if (text[i] == '.') {
            afterPoint = true;
            continue;
        }
        if (digits.empty() && text[i] == '0') {
            if (afterPoint) --exponent;
            continue;
        }
        digits += text[i];
        if (afterPoint) --exponent;
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (digits.empty()) return NEBADecimal();
    if (static_cast<int>(digits.size()) > kMaxDigits) {
        NEBAMonitor::error(
            "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
            {ns::Value(text)});
        return std::nullopt;
    }
    if (exponent < -128 || exponent > 127) {
        NEBAMonitor::error("Unable to create a NSDecimalNumber from string value. Value",
                           {ns::Value(text)});
        return std::nullopt;
    }
    decimal.digits_ = std::move(digits);
    decimal.exponent_ = static_cast<int32_t>(exponent);
    // The digits must stand in the text as written ("." read as "0." where it leads).
    std::string written(text);
    if (written.starts_with(".") || written.starts_with("+.") || written.starts_with("-.")) {
        std::string replaced;
        for (char c : written) replaced += c == '.' ? std::string("0.") : std::string(1, c);
        written = replaced;
    }
    NEBADecimal magnitude = decimal;
    magnitude.negative_ = false;
    if (written.find(magnitude.text()) == std::string::npos) {
        NEBAMonitor::error(
            "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
            {ns::Value(written)});
        return std::nullopt;
    }
    return decimal;
}

std::string NEBADecimal::text() const {
    if (digits_.empty()) return "0";
    std::string out = negative_ ? "-" : "";
    if (exponent_ >= 0) return out + digits_ + std::string(static_cast<size_t>(exponent_), '0');
    auto fraction = static_cast<size_t>(-exponent_);
    if (digits_.size() > fraction) {
        return out + digits_.substr(0, digits_.size() - fraction) + "." +
               digits_.substr(digits_.size() - fraction);
    }
    return out + "0." + std::string(fraction - digits_.size(), '0') + digits_;
}

int NEBADecimal::compare(const NEBADecimal& other) const {
    int sign = digits_.empty() ? 0 : (negative_ ? -1 : 1);
    int otherSign = other.digits_.empty() ? 0 : (other.negative_ ? -1 : 1);
    if (sign != otherSign) return sign < otherSign ? -1 : 1;
    if (sign == 0) return 0;
    // Same sign: compare magnitudes by the power of ten of the leading digit, then digit by
    // digit.
    int64_t lead = static_cast<int64_t>(digits_.size()) + exponent_;
    int64_t otherLead = static_cast<int64_t>(other.digits_.size()) + other.exponent_;
    int magnitude = 0;
    if (lead != otherLead) {
        magnitude = lead < otherLead ? -1 : 1;
    } else {
        size_t n = std::max(digits_.size(), other.digits_.size());
        for (size_t i = 0; i < n && magnitude == 0; ++i) {
            char a = i < digits_.size() ? digits_[i] : '0';
            char b = i < other.digits_.size() ? other.digits_[i] : '0';
            if (a != b) magnitude = a < b ? -1 : 1;
        }
    }
    return sign * magnitude;
}
