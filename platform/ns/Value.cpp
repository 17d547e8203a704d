#include "platform/ns/Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/ns/Format.h"

namespace ns {

// ---------------------------------------------------------------------------------------------
// Dictionary

Value& Dictionary::at(std::string_view key) {
    const size_t i = findIndex(key);
    if (i == members_.size()) throw std::out_of_range("no member for the key");
    return members_[i].second;
}

const Value& Dictionary::at(std::string_view key) const {
    const size_t i = findIndex(key);
    if (i == members_.size()) throw std::out_of_range("no member for the key");
    return members_[i].second;
}

Value& Dictionary::operator[](std::string_view key) {
    return try_emplace(key).first->second;
}

size_t Dictionary::erase(std::string_view key) {
    const size_t i = findIndex(key);
    if (i == members_.size()) return 0;
    members_.erase(members_.begin() + static_cast<ptrdiff_t>(i));
    return 1;
}

// Most dictionaries get a few members one by one: room for four at the first spares them
// growing block by block.
constexpr size_t kFirstCapacity = 4;

Dictionary::iterator Dictionary::insertAt(size_t at, std::string key, Value value) {
    if (members_.capacity() == 0) members_.reserve(kFirstCapacity);
    return members_.emplace(members_.begin() + static_cast<ptrdiff_t>(at), std::move(key),
                            std::move(value));
}

Value& Dictionary::appendUnsorted(std::string key, Value value) {
    if (members_.capacity() == 0) members_.reserve(kFirstCapacity);
    return members_.emplace_back(std::move(key), std::move(value)).second;
}

size_t Dictionary::lowerIndex(std::string_view key) const {
    // Small dictionaries are the rule; a straight look is quicker than halving for them.
    if (members_.size() <= 8) {
        size_t i = 0;
        while (i < members_.size() && std::string_view(members_[i].first) < key) ++i;
        return i;
    }
    auto it = std::lower_bound(members_.begin(), members_.end(), key,
                               [](const value_type& m, std::string_view k) { return m.first < k; });
    return static_cast<size_t>(it - members_.begin());
}

size_t Dictionary::placeFor(std::string_view key, bool& found) const {
    // Members added in order go to the end without a search.
    if (members_.empty() || std::string_view(members_.back().first) < key) {
        found = false;
        return members_.size();
    }
    const size_t i = lowerIndex(key);
    found = members_[i].first == key;
    return i;
}

size_t Dictionary::placeFor(const_iterator hint, std::string_view key, bool& found) const {
    const auto at = static_cast<size_t>(hint - members_.begin());
    const bool afterPrevious = at == 0 || std::string_view(members_[at - 1].first) < key;
    const bool beforeNext = at == members_.size() || key < std::string_view(members_[at].first);
    if (afterPrevious && beforeNext) {
        found = false;
        return at;
    }
    return placeFor(key, found);
}

void Dictionary::sortMembers(Repeated repeated) {
    const auto byKey = [](const value_type& a, const value_type& b) { return a.first < b.first; };
    const auto outOfOrder = [](const value_type& a, const value_type& b) {
        return !(a.first < b.first);
    };
    if (std::adjacent_find(members_.begin(), members_.end(), outOfOrder) == members_.end()) {
        return;  // in order with no key repeated: the usual case
    }
    if (members_.size() <= 16) {
        // A few members: sorted in place, sparing the merge sort its temporary block.
        for (auto it = members_.begin() + 1; it != members_.end(); ++it) {
            if (!byKey(*it, *(it - 1))) continue;
            value_type member = std::move(*it);
            auto to = it;
            for (; to != members_.begin() && byKey(member, *(to - 1)); --to)
                *to = std::move(*(to - 1));
            *to = std::move(member);
        }
    } else {
        std::stable_sort(members_.begin(), members_.end(), byKey);
    }
    // Of each run of one key, the first or the last member stays.
    size_t kept = 0;
    for (size_t i = 0; i < members_.size();) {
        size_t last = i;
        while (last + 1 < members_.size() && members_[last + 1].first == members_[i].first) ++last;
        const size_t keep = repeated == Repeated::KeepFirst ? i : last;
        if (kept != keep) members_[kept] = std::move(members_[keep]);
        ++kept;
        i = last + 1;
    }
    members_.erase(members_.begin() + static_cast<ptrdiff_t>(kept), members_.end());
}

// ---------------------------------------------------------------------------------------------
// Value

const Value& Value::null() {
    static const Value kNull;
    return kNull;
}

std::optional<bool> Value::boolean() const {
    if (type_ == Type::Bool) return b_;
    return std::nullopt;
}

std::optional<int64_t> Value::int64() const {
    if (type_ == Type::Integer) return i_;
    return std::nullopt;  // Unsigned values lie above INT64_MAX
}

std::optional<uint64_t> Value::uint64() const {
    if (type_ == Type::Integer) {
        if (i_ >= 0) return static_cast<uint64_t>(i_);
        return std::nullopt;
    }
    if (type_ == Type::Unsigned) return u_;
    return std::nullopt;
}

std::optional<double> Value::number() const {
    switch (type()) {
        case Type::Integer:
            return static_cast<double>(i_);
        case Type::Unsigned:
            return static_cast<double>(u_);
        case Type::Double:
            return d_;
        default:
            return std::nullopt;
    }
}

const Value& Value::operator[](std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : null();
}

const Value& Value::at(size_t index) const {
    const ns::Array* a = array();
    return a && index < a->size() ? (*a)[index] : null();
}

const Value* Value::find(std::string_view key) const {
    const ns::Dictionary* d = dictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

size_t Value::count() const {
    if (const ns::Array* a = array()) return a->size();
    if (const ns::Dictionary* d = dictionary()) return d->size();
    return 0;
}

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Leading white space and an optional sign, as the platform's string-to-number conversions
// skip them. Returns the rest of the text and whether a minus sign was there.
std::string_view afterSign(std::string_view s, bool& negative) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    return s.substr(i);
}

// The magnitude of the leading decimal digits, saturating at UINT64_MAX.
uint64_t leadingDigits(std::string_view s, bool& overflow) {
    uint64_t v = 0;
    overflow = false;
    for (char c : s) {
        if (!isDigit(c)) break;
        const auto d = static_cast<uint64_t>(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) {
            overflow = true;
            v = std::numeric_limits<uint64_t>::max();
        } else if (!overflow) {
            v = v * 10 + d;
        }
    }
    return v;
}

// The integer that the longest numeric prefix of the string names, saturating at the int64
// limits.
int64_t stringToInt64(std::string_view s) {
    bool negative = false, overflow = false;
    const uint64_t magnitude = leadingDigits(afterSign(s, negative), overflow);
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > kMax) return std::numeric_limits<int64_t>::min();
        return -static_cast<int64_t>(magnitude);
    }
    return magnitude > kMax ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

uint64_t stringToUInt64(std::string_view s) {
    bool negative = false, overflow = false;
    const std::string_view rest = afterSign(s, negative);
    if (negative) return static_cast<uint64_t>(stringToInt64(s));
    return leadingDigits(rest, overflow);
}

// The longest prefix of the form digits[.digits][(e|E)[sign]digits], parsed without regard to
// the process's locale; out-of-range values become infinity or zero as strtod makes them.
double leadingDoubleOf(std::string_view s) {
    bool negative = false;
    const std::string_view rest = afterSign(s, negative);
    size_t i = 0;
    size_t firstSignificant = std::string_view::npos;
    long magnitude = 0;  // decimal position of the first significant digit
    while (i < rest.size() && isDigit(rest[i])) {
        if (firstSignificant == std::string_view::npos && rest[i] != '0') firstSignificant = i;
        ++i;
    }
    const size_t intEnd = i;
    if (firstSignificant != std::string_view::npos)
        magnitude = static_cast<long>(intEnd - firstSignificant);
    if (i < rest.size() && rest[i] == '.') {
        ++i;
        while (i < rest.size() && isDigit(rest[i])) {
            if (firstSignificant == std::string_view::npos && rest[i] != '0') {
                firstSignificant = i;
                magnitude = -static_cast<long>(i - intEnd - 1);
            }
            ++i;
        }
    }
    if (i == 0 || (i == 1 && rest[0] == '.')) return 0;
    size_t end = i;
    long exponent = 0;
    if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < rest.size() && (rest[j] == '+' || rest[j] == '-')) expNegative = rest[j++] == '-';
        if (j < rest.size() && isDigit(rest[j])) {
            while (j < rest.size() && isDigit(rest[j])) {
                exponent = std::min(exponent * 10 + (rest[j] - '0'), 100000L);
                ++j;
            }
            if (expNegative) exponent = -exponent;
            end = j;
        }
    }
    double v = 0;
    const auto res = std::from_chars(rest.data(), rest.data() + end, v);
    if (res.ec == std::errc::result_out_of_range) {
        const bool overflow =
            firstSignificant != std::string_view::npos && magnitude + exponent > 0;
        v = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -v : v;
}

// The platform's boolean reading of text: YES when, after white space, an optional sign and
// leading zeros, the first character is Y, y, T, t or a digit 1-9.
bool stringToBool(std::string_view s) {
    bool negative = false;
    std::string_view rest = afterSign(s, negative);
    size_t i = 0;
    while (i < rest.size() && rest[i] == '0') ++i;
    if (i == rest.size()) return false;
    const char c = rest[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

template <class Int>
Int saturatingFromDouble(double d) {
    if (std::isnan(d)) return 0;
    constexpr auto lo = std::numeric_limits<Int>::min();
    constexpr auto hi = std::numeric_limits<Int>::max();
    if (d <= static_cast<double>(lo)) return lo;
    // (double)hi may round up to hi + 1, which is itself out of range.
    if (d >= static_cast<double>(hi)) return hi;
    return static_cast<Int>(d);
}

}  // namespace

bool Value::boolValue() const {
    switch (type()) {
        case Type::Bool:
            return b_;
        case Type::Integer:
            return i_ != 0;
        case Type::Unsigned:
            return true;
        case Type::Double: {
            const double d = d_;
            return d != 0 && !std::isnan(d);
        }
        case Type::String:
            return stringToBool(s_);
        default:
            return false;
    }
}

int Value::intValue() const {
    switch (type()) {
        case Type::Bool:
            return b_ ? 1 : 0;
        case Type::Integer:
            return static_cast<int>(i_);  // the low 32 bits, as a C cast
        case Type::Unsigned:
            return static_cast<int>(u_);
        case Type::Double:
            return saturatingFromDouble<int>(d_);
        case Type::String: {
            const int64_t v = stringToInt64(s_);
            return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max()));
        }
        default:
            return 0;
    }
}

int64_t Value::integerValue() const {
    switch (type()) {
        case Type::Bool:
            return b_ ? 1 : 0;
        case Type::Integer:
            return i_;
        case Type::Unsigned:
            return static_cast<int64_t>(u_);
        case Type::Double:
            return saturatingFromDouble<int64_t>(d_);
        case Type::String:
            return stringToInt64(s_);
        default:
            return 0;
    }
}

uint64_t Value::unsignedLongLongValue() const {
    switch (type()) {
        case Type::Bool:
            return b_ ? 1 : 0;
        case Type::Integer:
            return static_cast<uint64_t>(i_);
        case Type::Unsigned:
            return u_;
        case Type::Double: {
            const double d = d_;
            if (d < 0) return static_cast<uint64_t>(saturatingFromDouble<int64_t>(d));
            return saturatingFromDouble<uint64_t>(d);
        }
        case Type::String:
            return stringToUInt64(s_);
        default:
            return 0;
    }
}

double Value::doubleValue() const {
    switch (type()) {
        case Type::Bool:
            return b_ ? 1.0 : 0.0;
        case Type::Integer:
        case Type::Unsigned:
        case Type::Double:
            return *number();
        case Type::String:
            return leadingDoubleOf(s_);
        default:
            return 0;
    }
}

std::string Value::stringValue() const {
    switch (type()) {
        case Type::Bool:
            return b_ ? "1" : "0";
        case Type::Integer:
            return std::to_string(i_);
        case Type::Unsigned:
            return std::to_string(u_);
        case Type::Double:
            return shortestDoubleText(d_);
        case Type::String:
            return s_;
        default:
            return {};
    }
}

namespace {

// Strings inside collections print bare when they consist only of these characters, and
// quoted otherwise (the empty string included), so that the layout stays readable.
bool printsBare(std::string_view s) {
    if (s.empty()) return false;
    for (unsigned char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) ||
                        c == '_' || c == '.' || c == '$' || c == '/';
        if (!ok) return false;
    }
    return true;
}

void appendQuoted(std::string& out, std::string_view s) {
    if (printsBare(s)) {
        out.append(s);
        return;
    }
    out.push_back('"');
    for (char c : s) {
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                out.push_back(c);
        }
    }
    out.push_back('"');
}

void appendIndent(std::string& out, int level) {
    out.append(static_cast<size_t>(level) * 4, ' ');
}

void describeCollection(std::string& out, const Value& v, int level);

// A value as it appears inside a collection at `level`. Nested collections start with their
// own indentation, which follows the parent's, as the platform lays them out.
void describeMember(std::string& out, const Value& v, int level) {
    if (v.isArray() || v.isDictionary()) {
        describeCollection(out, v, level + 1);
    } else if (v.isString()) {
        appendQuoted(out, *v.string());
    } else if (v.isNull()) {
        out.append("<null>");
    } else {
        out.append(v.description());
    }
}

void describeCollection(std::string& out, const Value& v, int level) {
    appendIndent(out, level);
    if (const Array* a = v.array()) {
        out.append("(\n");
        for (size_t i = 0; i < a->size(); ++i) {
            appendIndent(out, level + 1);
            describeMember(out, (*a)[i], level);
            out.append(i + 1 < a->size() ? ",\n" : "\n");
        }
        appendIndent(out, level);
        out.push_back(')');
        return;
    }
    out.append("{\n");
    for (const auto& [key, member] : *v.dictionary()) {
        appendIndent(out, level + 1);
        appendQuoted(out, key);
        out.append(" = ");
        describeMember(out, member, level);
        out.append(";\n");
    }
    appendIndent(out, level);
    out.push_back('}');
}

}  // namespace

std::string Value::description() const {
    switch (type()) {
        case Type::Null:
            return "(null)";
        case Type::Data:
            return data_.description();
        case Type::Date:
            return date_.description();
        case Type::Array:
        case Type::Dictionary: {
            std::string out;
            describeCollection(out, *this, 0);
            return out;
        }
        default:
            return stringValue();
    }
}

bool Value::operator==(const Value& other) const {
    if (type_ != other.type_) return false;
    switch (type_) {
        case Type::Null:
            return true;
        case Type::Bool:
            return b_ == other.b_;
        case Type::Integer:
            return i_ == other.i_;
        case Type::Unsigned:
            return u_ == other.u_;
        case Type::Double:
            return d_ == other.d_;
        case Type::String:
            return s_ == other.s_;
        case Type::Data:
            return data_ == other.data_;
        case Type::Date:
            return date_ == other.date_;
        case Type::Array:
            return a_ == other.a_;
        case Type::Dictionary:
            return dict_ == other.dict_;
    }
    return false;
}

void Value::constructFrom(const Value& other) {
    switch (type_) {
        case Type::String:
            new (&s_) std::string(other.s_);
            return;
        case Type::Data:
            new (&data_) ns::Data(other.data_);
            return;
        case Type::Array:
            new (&a_) ns::Array(other.a_);
            return;
        case Type::Dictionary:
            new (&dict_) ns::Dictionary(other.dict_);
            return;
        default:
            copyPlain(other);
            return;
    }
}

void Value::constructFrom(Value&& other) noexcept {
    switch (type_) {
        case Type::String:
            new (&s_) std::string(std::move(other.s_));
            return;
        case Type::Data:
            new (&data_) ns::Data(std::move(other.data_));
            return;
        case Type::Array:
            new (&a_) ns::Array(std::move(other.a_));
            return;
        case Type::Dictionary:
            new (&dict_) ns::Dictionary(std::move(other.dict_));
            return;
        default:
            copyPlain(other);
            return;
    }
}

void Value::destroy() noexcept {
    switch (type_) {
        case Type::String:
            s_.~basic_string();
            break;
        case Type::Data:
            data_.~Data();
            break;
        case Type::Array:
            a_.~vector();
            break;
        case Type::Dictionary:
            dict_.~Dictionary();
            break;
        default:
            break;
    }
    type_ = Type::Null;
}

}  // namespace ns
