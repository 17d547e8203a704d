#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace ns {

class Value;
class Error;

// Room that formatShortestDouble needs: sign, 17 digits, point, exponent and terminator.
inline constexpr size_t kShortestDoubleCapacity = 32;

// The shortest decimal text that reads back as exactly `value`, laid out the way "%g" lays out
// numbers: fixed notation for decimal exponents from -5 to 16 ("0.1", "1", "-0",
// "10000000000000000"), scientific beyond with at least two exponent digits ("1e+17",
// "1e-07"). Non-finite values give "nan", "inf" and "-inf". Returns the length written
// (without a terminator) to `out`, which holds kShortestDoubleCapacity bytes.
size_t formatShortestDouble(double value, char* out);
std::string shortestDoubleText(double value);

// One argument of ns::format, type-erased. It refers to the caller's objects, so it lives only
// for the duration of the call that formats it.
class FormatArg {
public:
    enum class Kind : uint8_t {
        Signed,     // every signed integer width, bool, char, enums
        Unsigned,   // every unsigned integer width
        Double,     // float, double
        CString,    // const char*, possibly null
        Text,       // std::string, std::string_view
        Value,      // ns::Value
        Described,  // any object with description(), e.g. ns::Error, ns::Data, ns::Date
        Pointer,    // any other pointer; %p prints it, %@ of a null pointer prints "(null)"
    };

    FormatArg(bool b) : kind_(Kind::Signed), i_(b ? 1 : 0) {}
    template <class T>
    requires(std::is_integral_v<T>&& std::is_signed_v<T>) FormatArg(T i)
        : kind_(Kind::Signed), i_(static_cast<int64_t>(i)) {}
    template <class T>
    requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
        FormatArg(T u)
        : kind_(Kind::Unsigned), u_(static_cast<uint64_t>(u)) {}
    template <class T>
    requires std::is_enum_v<T> FormatArg(T e)
        : FormatArg(static_cast<std::underlying_type_t<T>>(e)) {}
    FormatArg(double d) : kind_(Kind::Double), d_(d) {}
    FormatArg(float f) : kind_(Kind::Double), d_(f) {}
    FormatArg(const char* s) : kind_(Kind::CString), s_(s) {}
    FormatArg(const std::string& s) : kind_(Kind::Text), text_(s) {}
    FormatArg(std::string_view s) : kind_(Kind::Text), text_(s) {}
    FormatArg(const ns::Value& v) : kind_(Kind::Value), value_(&v) {}
    FormatArg(std::nullptr_t) : kind_(Kind::Pointer), p_(nullptr) {}
    template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char>) FormatArg(T* p)
        : kind_(Kind::Pointer), p_(p) {}
    template <class T>
    requires requires(const T& t) {
        { t.description() } -> std::convertible_to<std::string>;
    }
    FormatArg(const T& object)
        : kind_(Kind::Described), object_(&object), describe_(&describeObject<T>) {}
    // Shared objects print as the object they point to, or "(null)".
    template <class T>
    FormatArg(const std::shared_ptr<T>& p) : FormatArg(p.get()) {}
    template <class T>
    requires requires(const T& t) {
        { t.description() } -> std::convertible_to<std::string>;
    }
    FormatArg(const std::shared_ptr<T>& p) {
        if (p) {
            *this = FormatArg(*p);
        } else {
            kind_ = Kind::Pointer;
            p_ = nullptr;
        }
    }

    Kind kind() const { return kind_; }
    int64_t signedValue() const { return i_; }
    uint64_t unsignedValue() const { return u_; }
    double doubleValue() const { return d_; }
    std::string_view text() const { return text_; }
    const ns::Value& value() const { return *value_; }
    const void* pointer() const { return p_; }
    // What `%@` prints for this argument.
    std::string description() const;

private:
    template <class T>
    static std::string describeObject(const void* object) {
        return static_cast<const T*>(object)->description();
    }

    Kind kind_ = Kind::Pointer;
    union {
        int64_t i_;
        uint64_t u_;
        double d_;
        const char* s_;
        const ns::Value* value_;
        const void* object_;
        const void* p_ = nullptr;
    };
    std::string_view text_;
    std::string (*describe_)(const void*) = nullptr;
};

// Renders a printf-style format string as the platform does, with `%@` for objects.
//
// The format is always program text: text that comes from a page, a file or the network is an
// argument, never the format.
//
// Conversions: %@ (the argument's description; a null object prints "(null)"), %d %i %u %o %x
// %X %c %C %s %p %f %F %e %E %g %G %a %A %n %%, with the flags - + space # 0, widths and
// precisions given as digits or "*", and the length modifiers hh h l ll q z j t L. Integer
// conversions take the width that the length modifier names, as printf does (%d prints the
// low 32 bits). Numbers always use "." as the decimal point, whatever the process's locale.
//
// A conversion never reads an argument of another kind: an integer given to %f prints as a
// double, a double given to %d as its truncated integer, anything else given to a numeric
// conversion or to %s prints its description; a missing argument prints nothing; %n writes
// nothing; an unknown conversion is copied as it stands.
std::string vformat(std::string_view fmt, std::span<const FormatArg> args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return vformat(fmt, list);
}

}  // namespace ns
