#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"

namespace ns {

class Value;
using Array = std::vector<Value>;
// Dictionaries enumerate their keys in ascending byte order of the UTF-8 key text; every
// writer (JSON, property lists, descriptions) follows that order, so output is deterministic.
using Dictionary = std::map<std::string, Value, std::less<>>;

// The one dynamic value: what the platform's object graphs of strings, numbers, data, dates,
// arrays and dictionaries hold. Booleans, integers and doubles are distinct kinds, because
// many rules of the system (JSON output, validation) depend on the difference.
class Value {
  public:
    enum class Type : uint8_t {
        Null,
        Bool,
        Integer,   // int64
        Unsigned,  // uint64 above INT64_MAX only; smaller unsigned values are Integer
        Double,
        String,  // UTF-8
        Data,
        Date,
        Array,
        Dictionary,
    };

    Value() noexcept = default;
    Value(std::nullptr_t) noexcept {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t{i}) {}
    Value(long i) : v_(int64_t{i}) {}
    Value(long long i) : v_(int64_t{i}) {}
    Value(unsigned i) : v_(int64_t{i}) {}
    Value(unsigned long u) { setUnsigned(u); }
    Value(unsigned long long u) { setUnsigned(u); }
    Value(double d) : v_(d) {}
    Value(float f) : v_(double{f}) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(ns::Data d) : v_(std::move(d)) {}
    Value(ns::Date d) : v_(d) {}
    Value(ns::Array a) : v_(std::move(a)) {}
    Value(ns::Dictionary d) : v_(std::move(d)) {}
    // Builds a dictionary: Value::dict({{"a", 1}, {"b", "x"}}).
    static Value dict(std::initializer_list<std::pair<const std::string, Value>> items) {
        return Value(ns::Dictionary(items));
    }
    static Value array(std::initializer_list<Value> items) { return Value(ns::Array(items)); }
    // A shared null returned by look-ups that find nothing.
    static const Value& null();

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer || type() == Type::Unsigned; }
    bool isDouble() const { return type() == Type::Double; }
    // A number in the JSON sense: integer or double, never a boolean.
    bool isNumber() const { return isInteger() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Exact accessors: the value when it is of that kind, otherwise nullopt / nullptr.
    std::optional<bool> boolean() const;
    std::optional<int64_t> int64() const;    // Integer, or Unsigned when it fits
    std::optional<uint64_t> uint64() const;  // non-negative Integer or Unsigned
    std::optional<double> number() const;    // any Integer, Unsigned or Double
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    std::string* string() { return std::get_if<std::string>(&v_); }
    const ns::Data* data() const { return std::get_if<ns::Data>(&v_); }
    const ns::Date* date() const { return std::get_if<ns::Date>(&v_); }
    const ns::Array* array() const { return std::get_if<ns::Array>(&v_); }
    ns::Array* array() { return std::get_if<ns::Array>(&v_); }
    const ns::Dictionary* dictionary() const { return std::get_if<ns::Dictionary>(&v_); }
    ns::Dictionary* dictionary() { return std::get_if<ns::Dictionary>(&v_); }

    // Look-ups that never fail: null when this is not a dictionary/array or nothing is there.
    const Value& operator[](std::string_view key) const;
    const Value& at(size_t index) const;
    // The value for a key, or nullptr when absent (or not a dictionary).
    const Value* find(std::string_view key) const;
    // Number of elements of an array or dictionary; 0 for every other kind.
    size_t count() const;

    // The platform's conversions of numbers and strings (other kinds give 0 / NO / empty):
    // strings skip leading white space, take an optional sign and the longest numeric prefix;
    // boolValue of a string is YES when that prefix starts with Y, y, T, t or a digit 1-9.
    bool boolValue() const;
    int intValue() const;
    int64_t integerValue() const;
    long long longLongValue() const { return integerValue(); }
    uint64_t unsignedLongLongValue() const;
    double doubleValue() const;
    // Strings as they are; numbers as the platform's number object prints them; else "".
    std::string stringValue() const;

    // The text that `%@` prints for this value (null prints "(null)").
    std::string description() const;

    bool operator==(const Value& other) const;

  private:
    void setUnsigned(unsigned long long u) {
        if (u <= static_cast<unsigned long long>(INT64_MAX)) {
            v_ = static_cast<int64_t>(u);
        } else {
            v_ = static_cast<uint64_t>(u);
        }
    }

    std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, ns::Data, ns::Date,
                 ns::Array, ns::Dictionary>
        v_;
};

}  // namespace ns
