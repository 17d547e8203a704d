#include "platform/ns/JSONSerialization.h"

// The library's internal stacks start out as null pointers and compute "null + size" before
// their first allocation; harmless in practice, but the undefined-behaviour checker of the test
// build stops on it, so that one check is off for the library's own code.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/ns/Format.h"
#include "platform/ns/UTF8.h"

namespace ns {

namespace {

Error writeError(std::string reason) {
    return cocoaError(kPropertyListWriteInvalidError, std::move(reason));
}

Error readError(std::string reason) {
    return cocoaError(kPropertyListReadCorruptError, std::move(reason));
}

// ---------------------------------------------------------------------------------------------
// Writing

using Buffer = rapidjson::StringBuffer;

// How each byte of string content is written: copied, escaped, or checked as the start of a
// multi-byte UTF-8 sequence.
enum : uint8_t { kCopy = 0, kEscape = 1, kMultiByte = 2 };
constexpr auto kByteClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = kEscape;
    t['"'] = kEscape;
    t['\\'] = kEscape;
    for (int c = 0x80; c < 0x100; ++c) t[c] = kMultiByte;
    return t;
}();

// Text built by a caller of its own, taken as the writer's buffer is: Put() one byte, Push()
// room for n more.
struct StringSink {
    std::string& text;
    void Put(char c) { text.push_back(c); }
    char* Push(size_t n) {
        const size_t at = text.size();
        text.resize(at + n);
        return text.data() + at;
    }
};

template <class Sink>
void put(Sink& os, std::string_view text) {
    std::memcpy(os.Push(text.size()), text.data(), text.size());
}

template <class Sink>
void putEscape(Sink& os, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
        case '"':
            return put(os, "\\\"");
        case '\\':
            return put(os, "\\\\");
        case '\b':
            return put(os, "\\b");
        case '\f':
            return put(os, "\\f");
        case '\n':
            return put(os, "\\n");
        case '\r':
            return put(os, "\\r");
        case '\t':
            return put(os, "\\t");
        default: {
            const char text[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            return put(os, std::string_view(text, sizeof text));
        }
    }
}

// Eight bytes looked at together: the high bit of each byte that is below `n` (n <= 0x80;
// exact only for bytes below 0x80, which is all the callers need), or that equals `c`.
constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHigh = 0x8080808080808080u;
constexpr uint64_t bytesBelow(uint64_t w, uint8_t n) {
    return (w - kOnes * n) & ~w & kHigh;
}
constexpr uint64_t bytesEqual(uint64_t w, char c) {
    return bytesBelow(w ^ (kOnes * static_cast<uint8_t>(c)), 1);
}
uint64_t word(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Whether the eight bytes at `p` are all plain ASCII that a string literal takes as it is: no
// control character, quote, backslash or byte of a multi-byte sequence.
bool plainWord(const unsigned char* p) {
    const uint64_t w = word(p);
    return ((w & kHigh) | bytesBelow(w, 0x20) | bytesEqual(w, '"') | bytesEqual(w, '\\')) == 0;
}

// Writes a JSON string literal, copying long runs of plain text in one go.
template <class Sink>
void putString(Sink& os, std::string_view s) {
    os.Put('"');
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    const auto end = p + s.size();
    auto run = p;
    auto flush = [&] {
        if (p != run) std::memcpy(os.Push(static_cast<size_t>(p - run)), run, size_t(p - run));
    };
    while (p < end) {
        // Plain text: eight bytes at a time while it lasts, then byte by byte up to the next
        // byte that needs care.
        while (end - p >= 8 && plainWord(p)) p += 8;
        while (p < end && kByteClass[*p] == kCopy) ++p;
        if (p == end) break;
        if (kByteClass[*p] == kEscape) {
            flush();
            putEscape(os, *p);
            run = ++p;
        } else {
            const size_t n = utf8::sequenceLength(p, end);
            if (n == 3 && p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) {
                flush();
                put(os, p[2] == 0xA8 ? "\\u2028" : "\\u2029");
                run = p += 3;
            } else if (n == 0) {
                flush();
                put(os, utf8::kReplacement);
                run = p += utf8::illFormedLength(p, end);
            } else {
                p += n;
            }
        }
    }
    flush();
    os.Put('"');
}

// Structure (commas, colons, brackets) and integers come from the library's writer; strings and
// doubles follow our own rules and go straight into the same buffer.
class CompactWriter : public rapidjson::Writer<Buffer> {
public:
    explicit CompactWriter(Buffer& os) : Writer(os) {}
    void null() { Null(); }
    void boolean(bool b) { Bool(b); }
    void int64(int64_t i) { Int64(i); }
    void uint64(uint64_t u) { Uint64(u); }
    void number(std::string_view text) {
        Prefix(rapidjson::kNumberType);
        put(*os_, text);
    }
    void string(std::string_view s) {
        Prefix(rapidjson::kStringType);
        putString(*os_, s);
    }
    void key(std::string_view s) { string(s); }
    void json(std::string_view text) {
        Prefix(rapidjson::kObjectType);
        put(*os_, text);
    }
    void startArray() { StartArray(); }
    void endArray() { EndArray(); }
    void startObject() { StartObject(); }
    void endObject() { EndObject(); }
};

// Two spaces per level, members as "key" : value.
class PrettyWriter : public rapidjson::Writer<Buffer> {
public:
    explicit PrettyWriter(Buffer& os) : Writer(os) {}
    void null() {
        prefix();
        WriteNull();
    }
    void boolean(bool b) {
        prefix();
        WriteBool(b);
    }
    void int64(int64_t i) {
        prefix();
        WriteInt64(i);
    }
    void uint64(uint64_t u) {
        prefix();
        WriteUint64(u);
    }
    void number(std::string_view text) {
        prefix();
        put(*os_, text);
    }
    void string(std::string_view s) {
        prefix();
        putString(*os_, s);
    }
    void key(std::string_view s) {
        prefix(true);
        putString(*os_, s);
    }
    void startArray() { open('[', true); }
    void endArray() { close(']'); }
    void startObject() { open('{', false); }
    void endObject() { close('}'); }

private:
    struct Level {
        bool inArray;
        size_t count;
    };

    void newline() {
        os_->Put('\n');
        std::memset(os_->Push(levels_.size() * 2), ' ', levels_.size() * 2);
    }
    void prefix(bool isKey = false) {
        if (levels_.empty()) return;
        Level& level = levels_.back();
        if (level.inArray || isKey) {
            if (level.count++ > 0) os_->Put(',');
            newline();
        } else {
            put(*os_, " : ");
        }
    }
    void open(char bracket, bool inArray) {
        prefix();
        os_->Put(bracket);
        levels_.push_back({inArray, 0});
    }
    void close(char bracket) {
        const bool empty = levels_.back().count == 0;
        levels_.pop_back();
        if (empty) os_->Put('\n');
        newline();
        os_->Put(bracket);
    }

    std::vector<Level> levels_;
};

template <class W>
std::optional<Error> emit(W& w, const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            w.null();
            return std::nullopt;
        case Value::Type::Bool:
            w.boolean(*v.boolean());
            return std::nullopt;
        case Value::Type::Integer:
            w.int64(*v.int64());
            return std::nullopt;
        case Value::Type::Unsigned:
            w.uint64(*v.uint64());
            return std::nullopt;
        case Value::Type::Double: {
            const double d = *v.number();
            if (std::isnan(d)) return writeError("Invalid number value (NaN) in JSON write");
            if (std::isinf(d)) return writeError("Invalid number value (infinite) in JSON write");
            char text[kShortestDoubleCapacity];
            w.number(std::string_view(text, formatShortestDouble(d, text)));
            return std::nullopt;
        }
        case Value::Type::String:
            w.string(*v.string());
            return std::nullopt;
        case Value::Type::Data:
            return writeError("Invalid type in JSON write (NSData)");
        case Value::Type::Date:
            return writeError("Invalid type in JSON write (NSDate)");
        case Value::Type::Array:
            w.startArray();
            for (const Value& item : *v.array()) {
                if (auto error = emit(w, item)) return error;
            }
            w.endArray();
            return std::nullopt;
        case Value::Type::Dictionary:
            w.startObject();
            for (const auto& [key, item] : *v.dictionary()) {
                w.key(key);
                if (auto error = emit(w, item)) return error;
            }
            w.endObject();
            return std::nullopt;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Reading

// The value of a number that the parser has checked against the JSON grammar. Integers stay
// exact while they fit 64 bits; everything else is the nearest double. Magnitudes too small
// for a double become zero; too large ones have no value.
std::optional<Value> numberFromText(std::string_view text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.find_first_of(".eE") == std::string_view::npos) {
        if (text.front() == '-') {
            int64_t i = 0;
            if (std::from_chars(begin, end, i).ec == std::errc())
                return Value(static_cast<long long>(i));
        } else {
            uint64_t u = 0;
            if (std::from_chars(begin, end, u).ec == std::errc())
                return Value(static_cast<unsigned long long>(u));
        }
    }
    double d = 0;
    const auto result = std::from_chars(begin, end, d);
    if (result.ec == std::errc()) return Value(d);
    const size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos && text[e + 1] == '-')
        return Value(text.front() == '-' ? -0.0 : 0.0);
    return std::nullopt;
}

// Builds the ns::Value straight from the parser's events: each container is made in place in
// its parent, so that nothing parsed is copied or moved again. A new array starts with room for
// a few elements, which spares most small arrays their growth.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
public:
    // `unicodeEscapes`: whether the text may hold a \u escape (a backslash before a 'u').
    Builder(const JSONReadOptions& options, bool unicodeEscapes)
        : options_(options), unicodeEscapes_(unicodeEscapes) {}

    // Ready for another read, keeping what it has allocated.
    void reset(const JSONReadOptions& options, bool unicodeEscapes) {
        options_ = options;
        unicodeEscapes_ = unicodeEscapes;
        root_ = Value();
        open_.clear();
        refusal_.clear();
    }

    bool Null() { return scalar(nullptr); }
    bool Bool(bool b) { return scalar(b); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        // Most numbers are short integers: up to 18 digits always fit 64 bits.
        const bool negative = s[0] == '-';
        if (n - negative <= 18) {
            int64_t i = 0;
            const char* p = s + negative;
            for (; p != s + n && *p >= '0' && *p <= '9'; ++p) i = i * 10 + (*p - '0');
            if (p == s + n) return scalar(static_cast<long long>(negative ? -i : i));
        }
        std::optional<Value> number = numberFromText(std::string_view(s, n));
        if (!number) {
            refusal_ = "Number out of range";
            return false;
        }
        return scalar(std::move(*number));
    }
    // The input is validated as UTF-8, but a \u escape can still name a lone low surrogate
    // (the parser itself refuses lone high ones), which has no UTF-8 form: refuse it alike.
    bool String(const char* s, rapidjson::SizeType n, bool) {
        if (!wellFormed(std::string_view(s, n))) return false;
        return scalar(std::string_view(s, n));
    }
    bool Key(const char* s, rapidjson::SizeType n, bool) {
        if (!wellFormed(std::string_view(s, n))) return false;
        key_.assign(s, n);
        return true;
    }
    bool StartObject() { return open(ns::Dictionary()); }
    bool EndObject(rapidjson::SizeType) {
        open_.back()->dictionary()->finishAppending();
        return close();
    }
    bool StartArray() {
        ns::Array array;
        array.reserve(kInitialArrayCapacity);
        return open(std::move(array));
    }
    bool EndArray(rapidjson::SizeType) { return close(); }

    Value& root() { return root_; }
    const std::string& refusal() const { return refusal_; }

private:
    static constexpr size_t kInitialArrayCapacity = 4;

    bool wellFormed(std::string_view text) {
        // Only an escaped surrogate can leave the validated input ill-formed, and its UTF-8
        // form starts with 0xED. Input without any \u escape needs no look at its strings;
        // otherwise most strings are cleared by one memchr.
        if (!unicodeEscapes_ || !std::memchr(text.data(), 0xED, text.size()) || utf8::isValid(text))
            return true;
        refusal_ = "The surrogate in a unicode escape is invalid.";
        return false;
    }

    // Makes the next value in place: the root, the end of the open array, or the open
    // object's member under the last key (a repeated key keeps the last value).
    template <class T>
    Value* add(T&& v) {
        if (open_.empty()) {
            root_ = Value(std::forward<T>(v));
            return &root_;
        }
        if (ns::Array* a = open_.back()->array()) return &a->emplace_back(std::forward<T>(v));
        // Members go in as they come and are put in order when the object closes; a key seen
        // before keeps the last value then.
        return &open_.back()->dictionary()->appendUnsorted(std::move(key_),
                                                           Value(std::forward<T>(v)));
    }

    template <class T>
    bool scalar(T&& v) {
        if (open_.empty() && !options_.fragmentsAllowed) return refuseFragment();
        add(std::forward<T>(v));
        return true;
    }

    // The open containers never move: each sits at the end of its parent, which takes nothing
    // else until it closes.
    template <class Container>
    bool open(Container&& container) {
        if (open_.size() >= options_.maxDepth) {
            refusal_ = "Too many nested arrays or dictionaries";
            return false;
        }
        open_.push_back(add(std::move(container)));
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    bool refuseFragment() {
        refusal_ =
            "JSON text did not start with array or object and option to allow fragments not "
            "set.";
        return false;
    }

    JSONReadOptions options_;
    bool unicodeEscapes_;
    Value root_;
    std::vector<Value*> open_;
    std::string key_;
    std::string refusal_;
};

constexpr size_t kMaxRecursiveDepth = 1024;

// Text this short is read with a parser and a builder kept by the thread: making them (the
// parser's stack and its allocator, the builder's stack of open containers) costs more than
// reading a few small values, which is what most reads are (a call's arguments, one call of a
// batch after another). Longer text gets its own, so that a thread keeps no large stack.
constexpr size_t kReusedStateLength = 4096;

struct ReadState {
    rapidjson::Reader reader;
    Builder builder{JSONReadOptions(), false};
    bool inUse = false;
};

// What one pass over the text tells the reader: whether it is all well-formed UTF-8 (by the
// same rules as the parser's own check of strings), and whether it holds a backslash followed
// by 'u' anywhere (an escaped backslash before a 'u' counts too: that only costs the strings
// a look). Runs of plain ASCII go 32 bytes at a time.
struct TextScan {
    bool wellFormed = true;
    bool unicodeEscapes = false;
};

TextScan scanText(std::string_view text) {
    // Whether any of eight bytes is not ASCII or is a backslash.
    const auto special = [](uint64_t w) { return (w & kHigh) | bytesEqual(w, '\\'); };
    TextScan scan;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        if (end - p >= 32) {
            uint64_t w[4];
            std::memcpy(w, p, sizeof w);
            if ((special(w[0]) | special(w[1]) | special(w[2]) | special(w[3])) == 0) {
                p += 32;
                continue;
            }
        }
        // A block with something in it goes byte by byte (a sequence may end past it).
        for (const auto blockEnd = p + std::min<ptrdiff_t>(32, end - p); p < blockEnd;) {
            if (*p == '\\') {
                if (p + 1 < end && p[1] == 'u') scan.unicodeEscapes = true;
                ++p;
                continue;
            }
            const size_t n = utf8::sequenceLength(p, end);
            if (n == 0) {
                scan.wellFormed = false;
                // Escapes no longer matter: the parser checks every string of such text.
                scan.unicodeEscapes = true;
                return scan;
            }
            p += n;
        }
    }
    return scan;
}

std::string atCharacter(std::string reason, size_t offset) {
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    return reason + " around character " + std::to_string(offset) + ".";
}

std::optional<unsigned> surrogateEscapeAt(std::string_view text, size_t i) {
    // "\uD800" to "\uDFFF" at i.
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i + 2, text.data() + i + 6, value, 16);
    if (error != std::errc() || end != text.data() + i + 6) return std::nullopt;
    if (value < 0xD800 || value > 0xDFFF) return std::nullopt;
    return value;
}

// The text with each escaped lone surrogate written as \uFFFD; pairs and everything else as
// they were. Only escapes are looked at: a backslash always starts a two-character escape or
// a six-character \u one, so an escaped backslash before "u" is never taken for one.
std::optional<std::string> withLoneSurrogatesReplaced(std::string_view text) {
    std::string out;
    bool changed = false;
    size_t copied = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') continue;
        const auto unit = surrogateEscapeAt(text, i);
        if (!unit) {
            ++i;  // the escaped character
            continue;
        }
        if (*unit < 0xDC00) {
            const auto next = surrogateEscapeAt(text, i + 6);
            if (next && *next >= 0xDC00) {
                i += 11;
                continue;
            }
        }
        out.append(text.substr(copied, i - copied)).append("\\uFFFD");
        copied = i + 6;
        i += 5;
        changed = true;
    }
    if (!changed) return std::nullopt;
    out.append(text.substr(copied));
    return out;
}

}  // namespace

Result<std::string> JSONSerialization::write(const Value& value, WriteOptions options) {
    if (!options.fragmentsAllowed && !value.isArray() && !value.isDictionary())
        return writeError("Invalid top-level type in JSON write");
    Buffer buffer;
    std::optional<Error> error;
    if (options.prettyPrinted) {
        PrettyWriter writer(buffer);
        error = emit(writer, value);
    } else {
        CompactWriter writer(buffer);
        error = emit(writer, value);
    }
    if (error) return *error;
    return std::string(buffer.GetString(), buffer.GetSize());
}

struct JSONWriter::State {
    State() : writer(buffer) {}
    // One emit() for every value, so that numbers and strings follow write()'s rules.
    void emitValue(const Value& v) {
        if (error) return;
        error = emit(writer, v);
    }

    Buffer buffer;
    CompactWriter writer;
    std::optional<Error> error;
};

JSONWriter::JSONWriter() : state_(std::make_unique<State>()) {}
JSONWriter::~JSONWriter() = default;

void JSONWriter::startArray() {
    state_->writer.startArray();
}
void JSONWriter::endArray() {
    state_->writer.endArray();
}
void JSONWriter::startObject() {
    state_->writer.startObject();
}
void JSONWriter::endObject() {
    state_->writer.endObject();
}
void JSONWriter::key(std::string_view name) {
    state_->writer.key(name);
}
void JSONWriter::null() {
    state_->writer.null();
}
void JSONWriter::boolean(bool b) {
    state_->writer.boolean(b);
}
void JSONWriter::int64(int64_t i) {
    state_->writer.int64(i);
}
void JSONWriter::number(double d) {
    state_->emitValue(Value(d));
}
void JSONWriter::string(std::string_view s) {
    state_->writer.string(s);
}
void JSONWriter::value(const Value& v) {
    state_->emitValue(v);
}
void JSONWriter::json(std::string_view text) {
    state_->writer.json(text);
}

Result<std::string> JSONWriter::take() {
    Result<std::string> result = state_->error
                                     ? Result<std::string>(*state_->error)
                                     : Result<std::string>(std::string(state_->buffer.GetString(),
                                                                       state_->buffer.GetSize()));
    state_ = std::make_unique<State>();
    return result;
}

namespace json {

void appendString(std::string& out, std::string_view s) {
    StringSink sink{out};
    putString(sink, s);
}

bool appendNumber(std::string& out, double d) {
    if (!std::isfinite(d)) return false;
    char text[kShortestDoubleCapacity];
    out.append(text, formatShortestDouble(d, text));
    return true;
}

void appendInt64(std::string& out, int64_t i) {
    char text[24];
    out.append(text, static_cast<size_t>(std::to_chars(text, text + sizeof text, i).ptr - text));
}

}  // namespace json

Result<Value> JSONSerialization::read(std::string_view text, ReadOptions options) {
    size_t skipped = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") skipped = 3;
    text.remove_prefix(skipped);

    std::optional<std::string> replaced;
    if (options.loneSurrogatesReplaced && text.find("\\u") != std::string_view::npos) {
        replaced = withLoneSurrogatesReplaced(text);
        if (replaced) text = *replaced;
    }

    const TextScan scan = scanText(text);
    thread_local ReadState kept;
    std::optional<ReadState> own;
    ReadState* state = &kept;
    if (text.size() > kReusedStateLength || kept.inUse) {
        state = &own.emplace();
    }
    state->builder.reset(options, scan.unicodeEscapes);
    state->inUse = true;
    struct Release {
        ReadState& state;
        ~Release() { state.inUse = false; }
    } release{*state};
    Builder& builder = state->builder;
    rapidjson::Reader& reader = state->reader;
    rapidjson::MemoryStream stream(text.data(), text.size());
    // Numbers arrive as their text: the library's own conversion is not exact in its fast mode
    // and not free of undefined behaviour in its precise one.
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag;
    constexpr unsigned kValidate = rapidjson::kParseValidateEncodingFlag;
    // The recursive parser is the faster one; the builder stops it at maxDepth, which keeps
    // the recursion short. Deeper limits take the parser that keeps its own stack.
    // The parser's check of UTF-8, byte by byte inside each string, costs more than one pass
    // over the whole text: text that passes that pass has nothing left for it to find, and
    // text that fails it is parsed with the check, so that the error and its position stay.
    rapidjson::ParseResult result;
    if (options.maxDepth > kMaxRecursiveDepth) {
        result = reader.Parse<kFlags | kValidate | rapidjson::kParseIterativeFlag>(stream, builder);
    } else if (scan.wellFormed) {
        result = reader.Parse<kFlags>(stream, builder);
    } else {
        result = reader.Parse<kFlags | kValidate>(stream, builder);
    }
    if (result.IsError()) {
        std::string reason = builder.refusal();
        if (reason.empty()) reason = rapidjson::GetParseError_En(result.Code());
        return readError(atCharacter(std::move(reason), result.Offset() + skipped));
    }
    // The stream reads a NUL byte as the end of the input; anything after it is garbage.
    if (stream.Tell() != text.size())
        return readError(atCharacter("Garbage at end.", stream.Tell() + skipped));
    return std::move(builder.root());
}

}  // namespace ns
