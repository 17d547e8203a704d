#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/ns/Value.h"

// The typed value of an event parameter or a user property: a double, a 64-bit integer or a
// string. Integers and doubles stay distinct: 1 and 1.0 are different values.
class NEBAValue {
public:
    enum ValueType : int64_t { kDouble = 0, kInt64 = 1, kString = 2 };

    explicit NEBAValue(double value) : value_(value) {}
    explicit NEBAValue(int64_t value) : value_(value) {}
    explicit NEBAValue(int value) : value_(static_cast<int64_t>(value)) {}
    explicit NEBAValue(std::string value) : value_(std::move(value)) {}
    explicit NEBAValue(const char* value) : value_(std::string(value)) {}

    // A string, or a number (a floating-point one becomes a double, any other, booleans
    // included, an int64); anything else logs and gives none.
    static std::optional<NEBAValue> valueFromObject(const ns::Value& object);
    // A string value; none (logged) for anything that is not text.
    static std::optional<NEBAValue> initWithString(const ns::Value& object);

    int64_t valueType() const { return static_cast<int64_t>(value_.index()); }
    bool isDouble() const { return value_.index() == kDouble; }
    bool isInt64() const { return value_.index() == kInt64; }
    bool isString() const { return value_.index() == kString; }
    double doubleValue() const { return isDouble() ? std::get<double>(value_) : 0.0; }
    int64_t int64Value() const { return isInt64() ? std::get<int64_t>(value_) : 0; }
    const std::string* stringValue() const { return std::get_if<std::string>(&value_); }

    // The wrapped value as a platform value (for records and log contexts).
    ns::Value object() const;
    std::string description() const;

    bool operator==(const NEBAValue& other) const { return value_ == other.value_; }
    size_t hash() const;

private:
    std::variant<double, int64_t, std::string> value_;
};

struct NEBAValueHash {
    size_t operator()(const NEBAValue& value) const { return value.hash(); }
};
