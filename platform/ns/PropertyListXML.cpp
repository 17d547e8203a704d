#include "platform/ns/PropertyListXML.h"

#include <expat.h>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <locale.h>

#include "platform/ns/Error.h"
#include "platform/ns/Format.h"
#include "platform/ns/UTF8.h"

namespace ns {

namespace {

constexpr const char* kTooDeep = "Too many nested arrays or dictionaries";

bool isXMLSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isXMLSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isXMLSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// ---------------------------------------------------------------------------------------------
// Element texts to values; nullopt when the text is not a value of its element.

struct Refusal {
    std::string what;  // "Malformed <date>", to which the reader adds the line
};

Value integerFrom(std::string_view raw) {
    std::string_view s = trimmed(raw);
    if (s.empty()) throw Refusal{"Empty <integer>"};
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (s.empty() || end != s.data() + s.size() || s.front() == '+' || s.front() == '-')
        throw Refusal{"Malformed <integer>"};
    if (ec == std::errc::result_out_of_range) throw Refusal{"<integer> out of range"};
    if (!negative) return Value(static_cast<unsigned long long>(magnitude));
    constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;
    if (magnitude > kMinMagnitude) throw Refusal{"<integer> out of range"};
    return Value(static_cast<long long>(0 - magnitude));
}

// strtod in the C locale, for magnitudes that from_chars reports out of range (they read as
// an infinity or zero, as every other reader of the format takes them).
double outOfRangeDouble(const std::string& s) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(s.c_str(), nullptr, c);
}

Value realFrom(std::string_view raw) {
    const std::string_view s = trimmed(raw);
    if (s.empty()) throw Refusal{"Empty <real>"};
    std::string lower;
    for (char c : s) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const double inf = std::numeric_limits<double>::infinity();
    if (lower == "nan") return Value(std::numeric_limits<double>::quiet_NaN());
    if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity")
        return Value(inf);
    if (lower == "-inf" || lower == "-infinity") return Value(-inf);
    // A decimal number; from_chars alone would also take "nan" and "inf" in other spellings.
    const std::string_view number = s.front() == '+' ? s.substr(1) : s;
    const std::string_view unsignedPart = number.starts_with('-') ? number.substr(1) : number;
    if (unsignedPart.empty() || !(isDigit(unsignedPart.front()) || unsignedPart.front() == '.'))
        throw Refusal{"Malformed <real>"};
    double d = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), d);
    if (end != number.data() + number.size()) throw Refusal{"Malformed <real>"};
    if (ec == std::errc::result_out_of_range) return Value(outOfRangeDouble(std::string(number)));
    if (ec != std::errc()) throw Refusal{"Malformed <real>"};
    return Value(d);
}

// "YYYY-MM-DDTHH:MM:SSZ", the only form the format writes.
Value dateFrom(std::string_view raw) {
    const std::string_view s = trimmed(raw);
    constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:ddZ";
    bool shaped = s.size() == kPattern.size();
    for (size_t i = 0; shaped && i < s.size(); ++i)
        shaped = kPattern[i] == 'd' ? isDigit(s[i]) : s[i] == kPattern[i];
    if (!shaped) throw Refusal{"Malformed <date>"};
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
        return v;
    };
    using namespace std::chrono;
    const year_month_day day{year{number(0, 4)}, month{unsigned(number(5, 2))},
                             std::chrono::day{unsigned(number(8, 2))}};
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!day.ok() || hour > 23 || minute > 59 || second > 59) throw Refusal{"Impossible <date>"};
    const auto since1970 =
        sys_days(day).time_since_epoch() + hours(hour) + minutes(minute) + seconds(second);
    return Value(
        Date::fromTimeIntervalSince1970(double(duration_cast<seconds>(since1970).count())));
}

Value dataFrom(std::string_view raw) {
    std::string compact;
    compact.reserve(raw.size());
    for (char c : raw) {
        if (!isXMLSpace(c)) compact += c;
    }
    std::optional<Data> data = Data::fromBase64(compact);
    if (!data) throw Refusal{"Malformed Base64 in <data>"};
    return Value(std::move(*data));
}

// ---------------------------------------------------------------------------------------------

class Reader {
public:
    explicit Reader(size_t maxDepth) : maxDepth_(maxDepth), parser_(XML_ParserCreate(nullptr)) {
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &Reader::onStart, &Reader::onEnd);
        XML_SetCharacterDataHandler(parser_.get(), &Reader::onText);
        XML_SetEntityDeclHandler(parser_.get(), &Reader::onEntityDeclaration);
        XML_SetSkippedEntityHandler(parser_.get(), &Reader::onSkippedEntity);
    }

    Result<Value> read(std::string_view text) {
        if (!parser_) return cocoaError(kPropertyListReadCorruptError, "Out of memory");
        // Fed in pieces that the parser's int lengths can take.
        constexpr size_t kPiece = size_t{1} << 30;
        bool ok = true;
        do {
            const size_t n = std::min(text.size(), kPiece);
            ok = XML_Parse(parser_.get(), text.data(), static_cast<int>(n),
                           n == text.size() ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
            text.remove_prefix(n);
        } while (ok && !text.empty());
        if (!error_.empty()) return cocoaError(kPropertyListReadCorruptError, error_);
        if (!ok) {
            return cocoaError(
                kPropertyListReadCorruptError,
                format("XML error on line %lu: %s",
                       static_cast<unsigned long>(XML_GetCurrentLineNumber(parser_.get())),
                       XML_ErrorString(XML_GetErrorCode(parser_.get()))));
        }
        if (!result_) return cocoaError(kPropertyListReadCorruptError, "No value in property list");
        return std::move(*result_);
    }

private:
    enum class Kind { Plist, Array, Dictionary, Key, Leaf };

    struct Frame {
        Kind kind;
        std::string tag;
        unsigned long line;
        std::string text;
        Array items;
        Dictionary members;
        std::optional<std::string> key;  // of a dictionary: the key awaiting its value
        std::optional<Value> value;      // of <plist>: its one value
    };

    struct ParserFree {
        void operator()(XML_Parser p) const { XML_ParserFree(p); }
    };

    unsigned long line() const {
        return static_cast<unsigned long>(XML_GetCurrentLineNumber(parser_.get()));
    }

    void fail(const std::string& what, unsigned long atLine) {
        if (error_.empty()) error_ = format("%s on line %lu", what.c_str(), atLine);
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    bool failed() const { return !error_.empty(); }

    static Reader& self(void* data) { return *static_cast<Reader*>(data); }

    static void onEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                    const XML_Char*, const XML_Char*, const XML_Char*,
                                    const XML_Char*) {
        Reader& r = self(data);
        r.fail("Entity declaration in property list", r.line());
    }

    static void onSkippedEntity(void* data, const XML_Char* name, int) {
        Reader& r = self(data);
        r.fail(format("Undeclared entity &%s;", name), r.line());
    }

    static void onStart(void* data, const XML_Char* name, const XML_Char**) {
        Reader& r = self(data);
        if (!r.failed()) r.start(name);
    }

    static void onEnd(void* data, const XML_Char*) {
        Reader& r = self(data);
        if (!r.failed()) r.end();
    }

    static void onText(void* data, const XML_Char* s, int length) {
        Reader& r = self(data);
        if (!r.failed()) r.text(std::string_view(s, static_cast<size_t>(length)));
    }

    void start(std::string_view tag) {
        const unsigned long at = line();
        if (result_) return fail("Content after the property list", at);
        if (!stack_.empty()) {
            Frame& parent = stack_.back();
            switch (parent.kind) {
                case Kind::Key:
                case Kind::Leaf:
                    return fail(format("Element <%s> inside <%s>", std::string(tag).c_str(),
                                       parent.tag.c_str()),
                                at);
                case Kind::Plist:
                    if (parent.value) return fail("More than one value in <plist>", at);
                    break;
                case Kind::Dictionary:
                    if (tag == "key" && parent.key) return fail("<key> without a value", at);
                    if (tag != "key" && !parent.key) return fail("Value without a <key>", at);
                    break;
                case Kind::Array:
                    if (tag == "key") return fail("<key> outside a dictionary", at);
                    break;
            }
        } else if (tag == "key") {
            return fail("<key> outside a dictionary", at);
        }
        Kind kind;
        if (tag == "plist") {
            if (!stack_.empty()) return fail("<plist> inside a value", at);
            kind = Kind::Plist;
        } else if (tag == "array" || tag == "dict") {
            if (++depth_ > maxDepth_) return fail(kTooDeep, at);
            kind = tag == "array" ? Kind::Array : Kind::Dictionary;
        } else if (tag == "key") {
            kind = Kind::Key;
        } else if (tag == "string" || tag == "integer" || tag == "real" || tag == "date" ||
                   tag == "data" || tag == "true" || tag == "false") {
            kind = Kind::Leaf;
        } else {
            return fail(format("Unknown element <%s>", std::string(tag).c_str()), at);
        }
        stack_.push_back(Frame{kind, std::string(tag), at, {}, {}, {}, {}, {}});
    }

    void text(std::string_view s) {
        if (stack_.empty()) return;  // the parser refuses text outside the root itself
        Frame& top = stack_.back();
        if (top.kind == Kind::Key || top.kind == Kind::Leaf) {
            top.text.append(s);
        } else if (!trimmed(s).empty()) {
            fail(format("Text inside <%s>", top.tag.c_str()), line());
        }
    }

    void end() {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        std::optional<Value> value;
        try {
            value = valueOf(frame);
        } catch (const Refusal& r) {
            return fail(r.what, frame.line);
        }
        if (failed()) return;
        if (stack_.empty()) {
            result_ = std::move(value);
            return;
        }
        Frame& parent = stack_.back();
        switch (parent.kind) {
            case Kind::Plist:
                parent.value = std::move(value);
                break;
            case Kind::Array:
                parent.items.push_back(std::move(*value));
                break;
            case Kind::Dictionary:
                if (frame.kind == Kind::Key) {
                    parent.key = std::move(frame.text);
                } else {
                    parent.members.appendUnsorted(std::move(*parent.key), std::move(*value));
                    parent.key.reset();
                }
                break;
            case Kind::Key:
            case Kind::Leaf:
                break;  // start() keeps elements out of these
        }
    }

    // The value of a closed element; for a <key>, its text as a string.
    std::optional<Value> valueOf(Frame& frame) {
        switch (frame.kind) {
            case Kind::Plist:
                if (!frame.value) throw Refusal{"Empty <plist>"};
                return std::move(frame.value);
            case Kind::Array:
                --depth_;
                return Value(std::move(frame.items));
            case Kind::Dictionary:
                --depth_;
                if (frame.key) throw Refusal{"<key> without a value"};
                frame.members.finishAppending();
                return Value(std::move(frame.members));
            case Kind::Key:
                return Value(frame.text);
            case Kind::Leaf:
                break;
        }
        const std::string& tag = frame.tag;
        if (tag == "string") return Value(std::move(frame.text));
        if (tag == "integer") return integerFrom(frame.text);
        if (tag == "real") return realFrom(frame.text);
        if (tag == "date") return dateFrom(frame.text);
        if (tag == "data") return dataFrom(frame.text);
        if (!trimmed(frame.text).empty()) throw Refusal{format("Text inside <%s/>", tag.c_str())};
        return Value(tag == "true");
    }

    size_t maxDepth_;
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser_;
    std::vector<Frame> stack_;
    size_t depth_ = 0;
    std::optional<Value> result_;
    std::string error_;
};

// ---------------------------------------------------------------------------------------------

struct Invalid {
    std::string reason;
};

class Writer {
public:
    explicit Writer(size_t maxDepth) : maxDepth_(maxDepth) {}

    std::string write(const Value& root) {
        out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
        value(root, 0);
        out_ += "</plist>\n";
        return std::move(out_);
    }

private:
    void indent(size_t depth) { out_.append(depth, '\t'); }

    void element(size_t depth, std::string_view tag, std::string_view body) {
        indent(depth);
        out_ += '<';
        out_ += tag;
        out_ += '>';
        out_ += body;
        out_ += "</";
        out_ += tag;
        out_ += ">\n";
    }

    // Escapes text for element content, refusing what XML 1.0 cannot hold at all.
    static std::string escaped(const std::string& raw) {
        const std::string s = utf8::isValid(raw) ? raw : utf8::repaired(raw);
        std::string out;
        out.reserve(s.size());
        for (size_t i = 0; i < s.size(); ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (c == '&') {
                out += "&amp;";
            } else if (c == '<') {
                out += "&lt;";
            } else if (c == '>') {
                out += "&gt;";
            } else if (c == '\r') {
                out += "&#13;";
            } else if (c == 0) {
                throw Invalid{
                    "Property list invalid for format (strings cannot contain NUL characters)"};
            } else if (c < 0x20 && c != '\t' && c != '\n') {
                throw Invalid{format(
                    "Property list invalid for format (XML cannot hold the character U+%04X)", c)};
            } else if (c == 0xEF && i + 2 < s.size() &&
                       static_cast<unsigned char>(s[i + 1]) == 0xBF &&
                       (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE) {
                throw Invalid{format(
                    "Property list invalid for format (XML cannot hold the character U+%04X)",
                    0xFFFE | (static_cast<unsigned char>(s[i + 2]) & 1))};
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    static std::string real(double d) {
        if (std::isnan(d)) return "nan";
        if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
        return std::string(buf, end);
    }

    static std::string date(const Date& date) {
        using namespace std::chrono;
        // The second below, taken before the shift to 1970, which is exact for whole seconds.
        const double t =
            std::floor(date.timeIntervalSinceReferenceDate()) + Date::kReferenceDateOffset;
        // Years 0000 to 9999: what four digits hold (the distant past is in year 0000).
        constexpr double kFirst = -62167219200.0, kLast = 253402300799.0;
        if (!(t >= kFirst && t <= kLast))
            throw Invalid{"Property list invalid for format (date outside the years 0 to 9999)"};
        const sys_seconds s{seconds(static_cast<int64_t>(t))};
        const sys_days day = floor<days>(s);
        const year_month_day ymd{day};
        const hh_mm_ss<seconds> time{s - day};
        return format("%04d-%02u-%02uT%02d:%02d:%02dZ", int(ymd.year()), unsigned(ymd.month()),
                      unsigned(ymd.day()), int(time.hours().count()), int(time.minutes().count()),
                      int(time.seconds().count()));
    }

    void value(const Value& v, size_t depth) {
        switch (v.type()) {
            case Value::Type::Null:
                throw Invalid{
                    "Property list invalid for format (property lists cannot contain null)"};
            case Value::Type::Bool:
                indent(depth);
                out_ += *v.boolean() ? "<true/>\n" : "<false/>\n";
                return;
            case Value::Type::Integer:
                return element(depth, "integer", std::to_string(*v.int64()));
            case Value::Type::Unsigned:
                return element(depth, "integer", std::to_string(*v.uint64()));
            case Value::Type::Double:
                return element(depth, "real", real(*v.number()));
            case Value::Type::String:
                return element(depth, "string", escaped(*v.string()));
            case Value::Type::Data:
                return element(depth, "data", v.data()->base64EncodedString());
            case Value::Type::Date:
                return element(depth, "date", date(*v.date()));
            case Value::Type::Array:
            case Value::Type::Dictionary:
                return container(v, depth);
        }
    }

    void container(const Value& v, size_t depth) {
        const bool isArray = v.type() == Value::Type::Array;
        const char* tag = isArray ? "array" : "dict";
        if (depth + 1 > maxDepth_) throw Invalid{kTooDeep};
        indent(depth);
        if (v.count() == 0) {
            out_ += format("<%s/>\n", tag);
            return;
        }
        out_ += format("<%s>\n", tag);
        if (isArray) {
            for (const Value& item : *v.array()) value(item, depth + 1);
        } else {
            for (const auto& [key, item] : *v.dictionary()) {
                element(depth + 1, "key", escaped(key));
                value(item, depth + 1);
            }
        }
        indent(depth);
        out_ += format("</%s>\n", tag);
    }

    size_t maxDepth_;
    std::string out_;
};

}  // namespace

Result<Value> PropertyListXML::read(std::string_view text, size_t maxDepth) {
    return Reader(maxDepth).read(text);
}

Result<Data> PropertyListXML::write(const Value& value, size_t maxDepth) {
    try {
        return Data::fromString(Writer(maxDepth).write(value));
    } catch (const Invalid& i) {
        return cocoaError(kPropertyListWriteInvalidError, i.reason);
    }
}

}  // namespace ns
