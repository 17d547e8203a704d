#include "platform/ns/Format.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/ns/Value.h"

namespace ns {

size_t formatShortestDouble(double value, char* out) {
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return 3;
    }
    if (std::isinf(value)) {
        const char* text = value < 0 ? "-inf" : "inf";
        const size_t n = std::strlen(text);
        std::memcpy(out, text, n);
        return n;
    }
    // The shortest round-trip digits in scientific form, e.g. "-1.2345e+02".
    char sci[kShortestDoubleCapacity];
    const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    const char* p = sci;
    char* o = out;
    if (*p == '-') *o++ = *p++;
    char digits[20];
    size_t count = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, exponent);

    if (exponent < -4 || exponent >= 17) {
        *o++ = digits[0];
        if (count > 1) {
            *o++ = '.';
            std::memcpy(o, digits + 1, count - 1);
            o += count - 1;
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *o++ = '0';
        o = std::to_chars(o, out + kShortestDoubleCapacity, magnitude).ptr;
    } else if (exponent < 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > exponent; --i) *o++ = '0';
        std::memcpy(o, digits, count);
        o += count;
    } else {
        const auto intDigits = static_cast<size_t>(exponent) + 1;
        for (size_t i = 0; i < intDigits; ++i) *o++ = i < count ? digits[i] : '0';
        if (count > intDigits) {
            *o++ = '.';
            std::memcpy(o, digits + intDigits, count - intDigits);
            o += count - intDigits;
        }
    }
    return static_cast<size_t>(o - out);
}

std::string shortestDoubleText(double value) {
    char buf[kShortestDoubleCapacity];
    return std::string(buf, formatShortestDouble(value, buf));
}

std::string FormatArg::description() const {
    switch (kind_) {
        case Kind::Signed:
            return std::to_string(i_);
        case Kind::Unsigned:
            return std::to_string(u_);
        case Kind::Double:
            return shortestDoubleText(d_);
        case Kind::CString:
            return s_ ? std::string(s_) : std::string("(null)");
        case Kind::Text:
            return std::string(text_);
        case Kind::Value:
            return value_->description();
        case Kind::Described:
            return describe_(object_);
        case Kind::Pointer:
            if (!p_) return "(null)";
            return format("%p", p_);
    }
    return {};
}

namespace {

// One conversion as written in the format string.
struct Spec {
    bool minus = false, plus = false, space = false, hash = false, zero = false;
    int width = -1;      // -1: none
    int precision = -1;  // -1: none
    enum class Length { None, Char, Short, Long } length = Length::None;
    char conversion = 0;
};

// Widths and precisions beyond this come only from mistakes; they must not allocate without end.
constexpr int kMaxWidth = 1 << 16;

class Formatter {
public:
    Formatter(std::string_view fmt, std::span<const FormatArg> args) : fmt_(fmt), args_(args) {}

    std::string run() {
        size_t i = 0;
        while (i < fmt_.size()) {
            const size_t pct = fmt_.find('%', i);
            if (pct == std::string_view::npos) {
                out_.append(fmt_.substr(i));
                break;
            }
            out_.append(fmt_.substr(i, pct - i));
            i = conversion(pct);
        }
        return std::move(out_);
    }

private:
    const FormatArg* nextArg() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

    // Reads a width or precision given as "*"; nullopt when the argument is missing.
    std::optional<int> starArg() {
        const FormatArg* a = nextArg();
        if (!a) return std::nullopt;
        int64_t v = 0;
        if (a->kind() == FormatArg::Kind::Signed) v = a->signedValue();
        if (a->kind() == FormatArg::Kind::Unsigned)
            v = static_cast<int64_t>(std::min<uint64_t>(a->unsignedValue(), kMaxWidth));
        return static_cast<int>(std::clamp<int64_t>(v, -kMaxWidth, kMaxWidth));
    }

    int digits(size_t& i) {
        int v = 0;
        while (i < fmt_.size() && fmt_[i] >= '0' && fmt_[i] <= '9') {
            v = std::min(v * 10 + (fmt_[i] - '0'), kMaxWidth);
            ++i;
        }
        return v;
    }

    // Formats the conversion that starts at fmt_[start] == '%'; returns the index after it.
    size_t conversion(size_t start) {
        size_t i = start + 1;
        Spec spec;
        for (; i < fmt_.size(); ++i) {
            const char c = fmt_[i];
            if (c == '-')
                spec.minus = true;
            else if (c == '+')
                spec.plus = true;
            else if (c == ' ')
                spec.space = true;
            else if (c == '#')
                spec.hash = true;
            else if (c == '0')
                spec.zero = true;
            else
                break;
        }
        if (i < fmt_.size() && fmt_[i] == '*') {
            ++i;
            // A negative width given as an argument means left alignment.
            if (const std::optional<int> w = starArg()) {
                spec.minus = spec.minus || *w < 0;
                spec.width = *w < 0 ? -*w : *w;
            }
        } else if (i < fmt_.size() && fmt_[i] >= '1' && fmt_[i] <= '9') {
            spec.width = digits(i);
        }
        if (i < fmt_.size() && fmt_[i] == '.') {
            ++i;
            if (i < fmt_.size() && fmt_[i] == '*') {
                ++i;
                spec.precision = std::max(starArg().value_or(-1), -1);
            } else {
                spec.precision = digits(i);
            }
        }
        i = lengthModifier(i, spec);
        if (i >= fmt_.size()) {
            out_.append(fmt_.substr(start));
            return fmt_.size();
        }
        spec.conversion = fmt_[i++];
        if (!convert(spec)) out_.append(fmt_.substr(start, i - start));
        return i;
    }

    size_t lengthModifier(size_t i, Spec& spec) {
        auto at = [&](size_t k) { return i + k < fmt_.size() ? fmt_[i + k] : '\0'; };
        switch (at(0)) {
            case 'h':
                if (at(1) == 'h') {
                    spec.length = Spec::Length::Char;
                    return i + 2;
                }
                spec.length = Spec::Length::Short;
                return i + 1;
            case 'l':
                spec.length = Spec::Length::Long;
                return at(1) == 'l' ? i + 2 : i + 1;
            case 'q':
            case 'z':
            case 'j':
            case 't':
                spec.length = Spec::Length::Long;
                return i + 1;
            case 'L':
                return i + 1;  // long double: our doubles are all double
            default:
                return i;
        }
    }

    // Returns false for an unknown conversion, which is then copied as written.
    bool convert(const Spec& spec) {
        switch (spec.conversion) {
            case '%':
                out_.push_back('%');
                return true;
            case 'n':
                nextArg();
                return true;
            case '@':
                if (const FormatArg* a = nextArg()) padded(spec, a->description());
                return true;
            case 's':
                if (const FormatArg* a = nextArg()) padded(spec, textOf(*a));
                return true;
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X':
            case 'c':
            case 'C':
                if (const FormatArg* a = nextArg()) integer(spec, *a);
                return true;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (const FormatArg* a = nextArg()) floating(spec, *a);
                return true;
            case 'p':
                if (const FormatArg* a = nextArg()) pointer(spec, *a);
                return true;
            default:
                return false;
        }
    }

    static std::string textOf(const FormatArg& a) {
        if (a.kind() == FormatArg::Kind::Value) {
            if (const std::string* s = a.value().string()) return *s;
        }
        return a.description();
    }

    // Pads text to the width, honouring precision as a maximum length in bytes.
    void padded(const Spec& spec, std::string_view text) {
        if (spec.precision >= 0 && text.size() > static_cast<size_t>(spec.precision))
            text = text.substr(0, static_cast<size_t>(spec.precision));
        const size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
        const size_t pad = width > text.size() ? width - text.size() : 0;
        if (!spec.minus) out_.append(pad, ' ');
        out_.append(text);
        if (spec.minus) out_.append(pad, ' ');
    }

    // The argument as a number when it is one (an ns::Value number or boolean included).
    struct Number {
        enum { None, Signed, Unsigned, Double } kind = None;
        int64_t i = 0;
        uint64_t u = 0;
        double d = 0;
    };
    static Number numberOf(const FormatArg& a) {
        Number n;
        switch (a.kind()) {
            case FormatArg::Kind::Signed:
                n.kind = Number::Signed;
                n.i = a.signedValue();
                break;
            case FormatArg::Kind::Unsigned:
                n.kind = Number::Unsigned;
                n.u = a.unsignedValue();
                break;
            case FormatArg::Kind::Double:
                n.kind = Number::Double;
                n.d = a.doubleValue();
                break;
            case FormatArg::Kind::Pointer:
                n.kind = Number::Unsigned;
                n.u = reinterpret_cast<uintptr_t>(a.pointer());
                break;
            case FormatArg::Kind::Value: {
                const Value& v = a.value();
                if (v.isBool() || v.type() == Value::Type::Integer) {
                    n.kind = Number::Signed;
                    n.i = v.integerValue();
                } else if (v.type() == Value::Type::Unsigned) {
                    n.kind = Number::Unsigned;
                    n.u = v.unsignedLongLongValue();
                } else if (v.isDouble()) {
                    n.kind = Number::Double;
                    n.d = v.doubleValue();
                }
                break;
            }
            default:
                break;
        }
        return n;
    }

    static int64_t truncated(double d) {
        if (std::isnan(d)) return 0;
        if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
        if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d);
    }

    void integer(const Spec& spec, const FormatArg& a) {
        const Number n = numberOf(a);
        if (n.kind == Number::None) return padded(spec, a.description());
        uint64_t bits = n.kind == Number::Signed     ? static_cast<uint64_t>(n.i)
                        : n.kind == Number::Unsigned ? n.u
                                                     : static_cast<uint64_t>(truncated(n.d));
        if (spec.conversion == 'c' || spec.conversion == 'C') return character(spec, bits);

        // Narrow to the width that the length modifier names, as the platform does.
        const bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
        switch (spec.length) {
            case Spec::Length::Char:
                bits = isSigned ? static_cast<uint64_t>(static_cast<int8_t>(bits)) : uint8_t(bits);
                break;
            case Spec::Length::Short:
                bits =
                    isSigned ? static_cast<uint64_t>(static_cast<int16_t>(bits)) : uint16_t(bits);
                break;
            case Spec::Length::None:
                bits =
                    isSigned ? static_cast<uint64_t>(static_cast<int32_t>(bits)) : uint32_t(bits);
                break;
            case Spec::Length::Long:
                break;
        }
        std::string cspec = "%";
        if (spec.minus) cspec += '-';
        if (isSigned && spec.plus) cspec += '+';
        if (isSigned && spec.space) cspec += ' ';
        if (!isSigned && spec.conversion != 'u' && spec.hash) cspec += '#';
        if (spec.zero) cspec += '0';
        appendWidthAndPrecision(cspec, spec);
        cspec += "ll";
        cspec += spec.conversion;
        if (isSigned) {
            printf(cspec.c_str(), static_cast<long long>(static_cast<int64_t>(bits)));
        } else {
            printf(cspec.c_str(), static_cast<unsigned long long>(bits));
        }
    }

    void character(const Spec& spec, uint64_t code) {
        std::string text;
        if (spec.conversion == 'c') {
            const char c = static_cast<char>(static_cast<unsigned char>(code));
            if (c != '\0') text.push_back(c);
        } else {
            text = utf8Of(static_cast<uint16_t>(code));
        }
        Spec plain = spec;
        plain.precision = -1;
        padded(plain, text);
    }

    static std::string utf8Of(uint16_t unit) {
        std::string s;
        if (unit == 0) return s;
        if (unit >= 0xD800 && unit <= 0xDFFF) return "\xEF\xBF\xBD";  // a lone surrogate
        if (unit < 0x80) {
            s.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            s.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            s.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            s.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            s.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            s.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
        return s;
    }

    void floating(const Spec& spec, const FormatArg& a) {
        const Number n = numberOf(a);
        if (n.kind == Number::None) return padded(spec, a.description());
        const double d = n.kind == Number::Signed     ? static_cast<double>(n.i)
                         : n.kind == Number::Unsigned ? static_cast<double>(n.u)
                                                      : n.d;
        std::string cspec = "%";
        if (spec.minus) cspec += '-';
        if (spec.plus) cspec += '+';
        if (spec.space) cspec += ' ';
        if (spec.hash) cspec += '#';
        if (spec.zero) cspec += '0';
        appendWidthAndPrecision(cspec, spec);
        cspec += spec.conversion;
        printf(cspec.c_str(), d);
    }

    void pointer(const Spec& spec, const FormatArg& a) {
        const Number n = numberOf(a);
        if (n.kind != Number::Unsigned && n.kind != Number::Signed)
            return padded(spec, a.description());
        const uint64_t address = n.kind == Number::Unsigned ? n.u : static_cast<uint64_t>(n.i);
        char buf[24];
        const int len =
            std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(address));
        Spec plain = spec;
        plain.precision = -1;
        padded(plain, std::string_view(buf, static_cast<size_t>(len)));
    }

    static void appendWidthAndPrecision(std::string& cspec, const Spec& spec) {
        if (spec.width > 0) cspec += std::to_string(spec.width);
        if (spec.precision >= 0) {
            cspec += '.';
            cspec += std::to_string(spec.precision);
        }
    }

    // Runs one sanitised single conversion through snprintf, always with "." as the decimal
    // point: the host may have switched the process locale for its toolkit.
    template <class T>
    void printf(const char* cspec, T value) {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const locale_t previous = cLocale ? uselocale(cLocale) : locale_t(nullptr);
        char small[128];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
        const int len = std::snprintf(small, sizeof small, cspec, value);
        if (len >= 0 && static_cast<size_t>(len) < sizeof small) {
            out_.append(small, static_cast<size_t>(len));
        } else if (len > 0) {
            std::string big(static_cast<size_t>(len) + 1, '\0');
            std::snprintf(big.data(), big.size(), cspec, value);
            big.resize(static_cast<size_t>(len));
            out_.append(big);
        }
#pragma clang diagnostic pop
        if (previous) uselocale(previous);
    }

    std::string_view fmt_;
    std::span<const FormatArg> args_;
    size_t next_ = 0;
    std::string out_;
};

}  // namespace

std::string vformat(std::string_view fmt, std::span<const FormatArg> args) {
    return Formatter(fmt, args).run();
}

}  // namespace ns
