#include "platform/ns/JSONReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ns/Error.h"

namespace ns {

namespace {

// A parser keeps buffers the size of the largest text it has read; one that grew past this
// is let go after use rather than kept by its thread.
constexpr size_t kKeptParserCapacity = size_t{1} << 20;

constexpr std::string_view kWhiteSpace = " \t\n\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trimmed(std::string_view token) {
    const size_t end = token.find_last_not_of(kWhiteSpace);
    return end == std::string_view::npos ? std::string_view() : token.substr(0, end + 1);
}

Error readerError(JSONError error) {
    return cocoaError(kPropertyListReadCorruptError, simdjson::error_message(error));
}

// Number text this short has few enough digits for the reader's own conversion to be exact.
constexpr size_t kShortNumberText = 18;

// What a number's text holds, read in one pass: the common short integer or short decimal
// fraction with its value, or whether a fraction or an exponent stands in it.
struct NumberText {
    // A plain integer of at most kShortNumberText digits (which always fits 64 bits), leading
    // zeros excluded: the most common number of a page's call.
    std::optional<long long> shortInteger;
    // Digits, a point and digits, as short, whose digits make an integer that a double holds
    // exactly: the quotient of two exact doubles, which one division rounds correctly.
    std::optional<double> shortDecimal;
    bool fraction = false;
    bool exponent = false;
};

// Powers of ten that doubles hold exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The largest integer below which every integer is a double.
constexpr uint64_t kExactDoubleIntegers = uint64_t{1} << 53;

// Appends the digits from `at` to `mantissa` (wrapping past 64 bits); where they end.
const char* takeDigits(const char* at, const char* end, uint64_t& mantissa) {
    for (; at < end && static_cast<unsigned>(*at - '0') < 10; ++at) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
    }
    return at;
}

NumberText numberText(std::string_view token) {
    NumberText read;
    const char* at = token.data();
    const char* const end = at + token.size();
    const bool negative = at < end && *at == '-';
    at += negative ? 1 : 0;
    const char* const digits = at;
    uint64_t mantissa = 0;
    at = takeDigits(at, end, mantissa);
    const size_t whole = static_cast<size_t>(at - digits);
    const char* point = nullptr;
    if (at < end && *at == '.') {
        point = at;
        read.fraction = true;
        at = takeDigits(at + 1, end, mantissa);
    }
    if (at < end) {
        // Anything else (an exponent, a second point, text that is no number) is only
        // classified, for the slower readers.
        for (; at < end; ++at) {
            read.fraction |= *at == '.';
            read.exponent |= *at == 'e' || *at == 'E';
        }
        return read;
    }
    // Plain: short, and a zero before the point only alone.
    const size_t length = static_cast<size_t>(end - digits);
    if (whole == 0 || length > kShortNumberText || (*digits == '0' && whole > 1)) return read;
    if (!point) {
        const auto value = static_cast<long long>(mantissa);
        read.shortInteger = negative ? -value : value;
        return read;
    }
    const auto fractionDigits = static_cast<size_t>(end - point - 1);
    if (fractionDigits > 0 && mantissa <= kExactDoubleIntegers) {
        const double value = static_cast<double>(mantissa) / kExactPowersOfTen[fractionDigits];
        read.shortDecimal = negative ? -value : value;
    }
    return read;
}

bool hasExponent(std::string_view token) {
    return std::any_of(token.begin(), token.end(), [](char c) { return c == 'e' || c == 'E'; });
}

// A scalar that the on-demand reader could not take as it is (a number beyond 64 bits, an
// escaped lone surrogate): its text read again by the tree reader, which decides.
Result<Value> scalarFromToken(std::string_view token, bool loneSurrogatesReplaced) {
    JSONReadOptions options;
    options.fragmentsAllowed = true;
    options.loneSurrogatesReplaced = loneSurrogatesReplaced;
    return JSONSerialization::read(trimmed(token), options);
}

}  // namespace

// Parsers lent by this thread, the latest given back first.
struct JSONReader::Parsers {
    static std::vector<std::unique_ptr<ondemand::parser>>& mine() {
        thread_local std::vector<std::unique_ptr<ondemand::parser>> parsers;
        return parsers;
    }
};

std::string JSONReader::kernel() {
    // The kernel this file was compiled for, which the reader's inline code runs. (The
    // library's own builtin_implementation() answers for the library's compile instead, and
    // its first pass over a text picks a kernel of its own at run time.)
    return SIMDJSON_STRINGIFY(SIMDJSON_BUILTIN_IMPLEMENTATION);
}

JSONReader::JSONReader(const JSONSlice& slice) : slice_(slice) {
    auto& parsers = Parsers::mine();
    if (parsers.empty()) {
        parser_ = std::make_unique<ondemand::parser>();
    } else {
        parser_ = std::move(parsers.back());
        parsers.pop_back();
    }
    std::string_view text = slice_.text();
    size_t readable = slice_.readableBytes();
    // A byte order mark is skipped, as the tree reader skips it.
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
        readable -= kByteOrderMark.size();
    }
    document_ = parser_->iterate(text.data(), text.size(), readable);
}

const char* JSONReader::position() {
    const char* at = nullptr;
    if (document_.error() || document_.value_unsafe().current_location().get(at)) {
        return slice_.text().data() + slice_.text().size();
    }
    return at;
}

bool JSONReader::atEnd() {
    const char* at = nullptr;
    return !document_.error() &&
           document_.value_unsafe().current_location().get(at) == simdjson::OUT_OF_BOUNDS;
}

JSONReader::~JSONReader() {
    if (parser_->capacity() <= kKeptParserCapacity) Parsers::mine().push_back(std::move(parser_));
}

namespace json {

std::optional<std::string_view> unescapedString(ondemand::value& value) {
    // Text without a backslash is its own value (the reader has checked its encoding and that
    // no control character stands in it).
    const std::string_view quoted = trimmed(value.raw_json_token());
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return std::nullopt;
    const std::string_view inside = quoted.substr(1, quoted.size() - 2);
    ondemand::raw_json_string raw;
    if (std::memchr(inside.data(), '\\', inside.size()) ||
        value.get_raw_json_string().get(raw) != kJSONSuccess) {
        return std::nullopt;
    }
    return inside;
}

Result<std::string> string(ondemand::value& value, bool loneSurrogatesReplaced) {
    const std::string_view token = value.raw_json_token();
    // Copied once, from where it stands.
    if (const auto inside = unescapedString(value)) return std::string(*inside);
    std::string_view text;
    const JSONError error = value.get_string().get(text);
    if (!error) return std::string(text);
    if (error == simdjson::INCORRECT_TYPE) return readerError(error);
    auto read = scalarFromToken(token, loneSurrogatesReplaced);
    if (!read) return read.error();
    if (!read->isString()) return readerError(simdjson::INCORRECT_TYPE);
    return std::move(*read->string());
}

namespace {

Number integerNumber(long long value) {
    Number number;
    number.integer = value;
    return number;
}

// As a value keeps it: an integer that fits 64 bits signed is one.
Number unsignedNumber(unsigned long long value) {
    if (value <= static_cast<unsigned long long>(INT64_MAX)) {
        return integerNumber(static_cast<long long>(value));
    }
    Number number;
    number.kind = Number::Kind::Unsigned;
    number.unsignedInteger = value;
    return number;
}

Number doubleNumber(double value) {
    Number number;
    number.kind = Number::Kind::Double;
    number.real = value;
    return number;
}

// The token without the white space the reader's token runs on with.
std::string_view numberToken(ondemand::value& value) {
    std::string_view token = value.raw_json_token();
    while (!token.empty() && (token.back() == ' ' || token.back() == '\n' || token.back() == '\r' ||
                              token.back() == '\t')) {
        token.remove_suffix(1);
    }
    return token;
}

}  // namespace

Result<Number> numberOf(ondemand::value& value) {
    const std::string_view token = numberToken(value);
    const NumberText text = numberText(token);
    if (text.shortInteger) return integerNumber(*text.shortInteger);
    if (text.shortDecimal) return doubleNumber(*text.shortDecimal);
    // Read by the kind its text has; the reader's own classification is not used, as it
    // misreads long mantissas. A failed read leaves the value where it was. Exponents are
    // rare in a page's numbers, and the tree reader has rules of its own for large ones.
    if (text.exponent) {
        // Decided below.
    } else if (text.fraction) {
        double d = 0;
        if (value.get_double().get(d) == kJSONSuccess) {
            if (token.size() <= kShortNumberText) return doubleNumber(d);
            // Checked as JSON, but converted again: the reader's conversion of a long mantissa
            // is not to be trusted.
            const auto converted = std::from_chars(token.data(), token.data() + token.size(), d);
            if (converted.ec == std::errc() && converted.ptr == token.data() + token.size()) {
                return doubleNumber(d);
            }
        }
    } else if (!token.empty() && token.front() == '-') {
        int64_t i = 0;
        if (value.get_int64().get(i) == kJSONSuccess) {
            return integerNumber(static_cast<long long>(i));
        }
    } else {
        uint64_t u = 0;
        if (value.get_uint64().get(u) == kJSONSuccess) {
            return unsignedNumber(static_cast<unsigned long long>(u));
        }
    }
    // An exponent, an integer beyond 64 bits, text that is no number: the tree reader decides.
    auto read = scalarFromToken(token, false);
    if (!read) return read.error();
    if (const auto integer = read->int64()) return integerNumber(*integer);
    if (read->type() == Value::Type::Unsigned) return unsignedNumber(*read->uint64());
    if (const auto real = read->number()) return doubleNumber(*real);
    return readerError(simdjson::NUMBER_ERROR);
}

Result<Value> number(ondemand::value& value) {
    auto read = numberOf(value);
    if (!read) return read.error();
    switch (read->kind) {
        case Number::Kind::Integer:
            return Value(read->integer);
        case Number::Kind::Unsigned:
            return Value(read->unsignedInteger);
        case Number::Kind::Double:
            break;
    }
    return Value(read->real);
}

namespace {

// Whether the reader may enter the array or object that `value` is: its parser keeps the place
// of each open container up to a fixed depth, and one nested deeper is left to the slower
// readers (the library does not check it in optimised builds).
bool enterable(ondemand::value& value) {
    return static_cast<size_t>(value.current_depth()) < JSONReader::kMaxDepth;
}

// Whether the value reads as the tree reader would read it, building nothing: each scalar read once
// by the reader; only what it cannot take as it is goes to the slower readers that decide.
bool reads(ondemand::value value, const JSONReadOptions& options, size_t depth) {
    ondemand::json_type type;
    if (value.type().get(type)) return false;
    switch (type) {
        case ondemand::json_type::array: {
            if (depth >= options.maxDepth || !enterable(value)) return false;
            ondemand::array array;
            if (value.get_array().get(array)) return false;
            for (auto element : array) {
                ondemand::value item;
                if (element.get(item) || !reads(item, options, depth + 1)) return false;
            }
            return true;
        }
        case ondemand::json_type::object: {
            if (depth >= options.maxDepth || !enterable(value)) return false;
            ondemand::object object;
            if (value.get_object().get(object)) return false;
            for (auto field : object) {
                std::string_view key;
                ondemand::value member;
                if (field.unescaped_key().get(key) || field.value().get(member) ||
                    !reads(member, options, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        case ondemand::json_type::number: {
            const std::string_view token = trimmed(value.raw_json_token());
            if (!hasExponent(token) && token.size() <= kShortNumberText) {
                double d = 0;
                if (value.get_double().get(d) == kJSONSuccess) return true;
            }
            return json::numberOf(value).ok();
        }
        case ondemand::json_type::string: {
            std::string_view text;
            if (value.get_string().get(text) == kJSONSuccess) return true;
            return json::string(value, options.loneSurrogatesReplaced).ok();
        }
        case ondemand::json_type::boolean: {
            bool b = false;
            return value.get_bool().get(b) == kJSONSuccess;
        }
        case ondemand::json_type::null: {
            bool isNull = false;
            return value.is_null().get(isNull) == kJSONSuccess && isNull;
        }
    }
    return false;
}

}  // namespace

Result<void> check(ondemand::value value, const JSONReadOptions& options, size_t depth) {
    if (reads(value, options, depth)) return {};
    return readerError(simdjson::TAPE_ERROR);
}

namespace {

// Takes one byte of a pass over JSON text that follows strings byte by byte: true when the byte
// stands outside every string (and is no quote), where it may be structure.
bool outsideStrings(unsigned char c, bool& inString, bool& escaped) {
    if (inString) {
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            inString = false;
        }
        return false;
    }
    if (c == '"') {
        inString = true;
        return false;
    }
    return true;
}

// Where a pass over the structure of JSON text stopped: at the end of the container it started
// with (the byte past its closing bracket), at the end of the text, or where it nested too deep.
struct StructureScan {
    size_t end = std::string_view::npos;
    bool tooDeep = false;
};

// One 64-byte step of a pass over JSON text: a bit for each byte of each kind.
struct Block {
    uint64_t quotes = 0;
    uint64_t backslashes = 0;
    uint64_t opening = 0;  // '[' and '{'
    uint64_t closing = 0;  // ']' and '}'
};

Block classify(const unsigned char* bytes) {
    Block block;
#if defined(__SSE2__)
    // '[' and '{' differ only in the bit 0x20, as do ']' and '}'.
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
    for (unsigned part = 0; part < 4; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
        const __m128i folded = _mm_or_si128(v, caseBit);
        const auto bits = [part](__m128i matches) {
            return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(matches)))
                   << (16 * part);
        };
        block.quotes |= bits(_mm_cmpeq_epi8(v, quote));
        block.backslashes |= bits(_mm_cmpeq_epi8(v, backslash));
        block.opening |= bits(_mm_cmpeq_epi8(folded, open));
        block.closing |= bits(_mm_cmpeq_epi8(folded, close));
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned char c = bytes[i];
        const uint64_t bit = uint64_t{1} << i;
        if (c == '"') block.quotes |= bit;
        if (c == '\\') block.backslashes |= bit;
        if (c == '[' || c == '{') block.opening |= bit;
        if (c == ']' || c == '}') block.closing |= bit;
    }
#endif
    return block;
}

// Each bit set from a quote up to the next one (the first included): the bytes inside strings,
// for a step whose quotes are all real ones.
uint64_t insideStrings(uint64_t quotes) {
    uint64_t x = quotes;
    for (unsigned shift = 1; shift < 64; shift <<= 1) x ^= x << shift;
    return x;
}

// Strings longer than this are passed over by a search for their closing quote; shorter ones,
// the common case, cost less looked at step by step.
constexpr size_t kLongString = 48;

// Walks the brackets of the text outside its strings, counting how deep they nest (with
// `depth` open around it); with `toClose`, stops where the container that starts the text
// closes. Sixty-four bytes are looked at at once: most bytes of a large call are inside strings
// or between brackets, only quotes, backslashes and brackets change anything, and a step
// without a backslash has its strings found from its quotes alone. A step with one is followed
// byte by byte.
StructureScan scanStructure(std::string_view text, size_t maxDepth, size_t depth, bool toClose) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    const size_t outer = depth;
    bool inString = false;
    bool escaped = false;  // the next byte is escaped by a backslash
    size_t stringStart = 0;
    StructureScan result;
    // One bracket outside strings at `at`; true when the scan is over.
    const auto bracket = [&](size_t at) {
        const unsigned char c = bytes[at];
        if (c == '[' || c == '{') {
            if (depth >= maxDepth) {
                result.tooDeep = true;
                return true;
            }
            ++depth;
            return false;
        }
        --depth;
        if (toClose && depth == outer) {
            result.end = at + 1;
            return true;
        }
        return false;
    };
    unsigned char tail[64];
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(64, size - at);
        const unsigned char* step = bytes + at;
        if (length < 64) {
            // The last step, filled out with white space.
            std::memset(tail, ' ', sizeof tail);
            std::memcpy(tail, step, length);
            step = tail;
        }
        const Block block = classify(step);
        if (block.backslashes == 0 && !escaped) {
            if (inString && block.quotes == 0 && length == 64 && at - stringStart >= kLongString) {
                // A long string (a large argument): its end found at once. The quote that ends
                // it is the first one after an even run of backslashes; this step has none.
                const size_t from = at + 64;
                const auto* quoteAt =
                    static_cast<const unsigned char*>(std::memchr(bytes + from, '"', size - from));
                if (!quoteAt) return result;
                size_t run = 0;
                for (const unsigned char* b = quoteAt; b > bytes + from && b[-1] == '\\'; --b) {
                    ++run;
                }
                inString = run % 2 == 1;
                at = static_cast<size_t>(quoteAt - bytes) + 1;
                continue;
            }
            const uint64_t inside = insideStrings(block.quotes) ^ (inString ? ~uint64_t{0} : 0);
            for (uint64_t pending = (block.opening | block.closing) & ~inside; pending;
                 pending &= pending - 1) {
                if (bracket(at + static_cast<size_t>(__builtin_ctzll(pending)))) return result;
            }
            inString = (inside >> 63) != 0;
            // A string left open began at the step's last quote.
            if (inString && block.quotes) {
                stringStart = at + 63 - static_cast<size_t>(__builtin_clzll(block.quotes));
            }
            at += length;
            continue;
        }
        for (size_t i = 0; i < length; ++i) {
            const unsigned char c = step[i];
            const bool wasInString = inString;
            if (!outsideStrings(c, inString, escaped)) {
                if (!wasInString) stringStart = at + i;
                continue;
            }
            if ((c == '[' || c == ']' || c == '{' || c == '}') && bracket(at + i)) return result;
        }
        at += length;
    }
    return result;
}

}  // namespace

bool nestsWithin(std::string_view text, size_t maxDepth, size_t depth) {
    return !scanStructure(text, maxDepth, depth, false).tooDeep;
}

ContainerExtent containerExtent(std::string_view text, size_t maxDepth, size_t depth) {
    ContainerExtent extent;
    if (text.empty() || (text.front() != '[' && text.front() != '{')) return extent;
    const StructureScan scan = scanStructure(text, maxDepth, depth, true);
    extent.tooDeep = scan.tooDeep;
    if (!scan.tooDeep && scan.end != std::string_view::npos) extent.length = scan.end;
    return extent;
}

namespace {

// The DOM parser is asked to stop at this depth at most: deeper limits go to the readers that
// decide, which are rarely needed so deep.
constexpr size_t kDomMaxDepth = 1024;

// A DOM parser kept by this thread, or let go when it grew too large to keep.
std::unique_ptr<simdjson::dom::parser>& keptDomParser() {
    thread_local std::unique_ptr<simdjson::dom::parser> parser;
    return parser;
}

// Whether a number the DOM parse reads as zero and the tree reader refuses may stand in the
// text: a zero before an exponent far beyond the range of doubles ("0e400"), or a fraction
// too small for a double written without an exponent (hundreds of zeros). Looked for as a
// zero before an 'e' and as sixteen zeros in a row: a false alarm ("10e5" in a string, a long
// run of zeros) only costs a slower check.
bool mayHoldZeroTheTreeRefuses(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    uint64_t zeroBefore = 0;  // whether the byte before the step is a zero
    size_t at = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_set1_epi8('0'), e = _mm_set1_epi8('e'), caseBit = _mm_set1_epi8(0x20);
    for (; at + 64 <= size; at += 64) {
        uint64_t zeros = 0, es = 0;
        for (unsigned part = 0; part < 4; ++part) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 16 * part));
            const auto bits = [part](__m128i matches) {
                return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(matches)))
                       << (16 * part);
            };
            zeros |= bits(_mm_cmpeq_epi8(v, zero));
            es |= bits(_mm_cmpeq_epi8(_mm_or_si128(v, caseBit), e));
        }
        // Sixteen zeros in a row inside the step: a fraction too small for a double has
        // hundreds, so some step is all of them.
        uint64_t run = zeros & (zeros >> 1);
        run &= run >> 2;
        run &= run >> 4;
        run &= run >> 8;
        if ((es & ((zeros << 1) | zeroBefore)) || run) return true;
        zeroBefore = zeros >> 63;
    }
#endif
    size_t zeros = 0;
    for (; at < size; ++at) {
        if ((bytes[at] | 0x20) == 'e' && (at ? bytes[at - 1] == '0' : zeroBefore != 0)) return true;
        zeros = bytes[at] == '0' ? zeros + 1 : 0;
        if (zeros >= 16) return true;
    }
    return false;
}

// Whether the DOM parse accepts the text (its byte order mark already skipped). What it
// accepts, the tree reader accepts too: both hold to the grammar and to UTF-8, and the DOM
// parse refuses every number the tree reader refuses but some that it reads as zero, which
// are looked for apart. Its depth limit counts an empty innermost container one deeper than
// others, so asking for `maxDepth` keeps it within it.
bool domAccepts(std::string_view text, size_t readable, const JSONReadOptions& options,
                const DomParsed* whenParsed) {
    if (text.empty() || readable < text.size() + simdjson::SIMDJSON_PADDING) return false;
    std::unique_ptr<simdjson::dom::parser>& parser = keptDomParser();
    if (!parser) parser = std::make_unique<simdjson::dom::parser>();
    const size_t depth = std::min(options.maxDepth, kDomMaxDepth);
    if (depth == 0) return false;
    if (parser->max_depth() != depth || parser->capacity() < text.size()) {
        if (parser->allocate(std::max(parser->capacity(), text.size()), depth)) {
            parser.reset();
            return false;
        }
    }
    simdjson::dom::element root;
    const bool parsed =
        parser->parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false)
            .get(root) == simdjson::SUCCESS;
    const bool accepted = parsed &&
                          (options.fragmentsAllowed || root.is_array() || root.is_object()) &&
                          !mayHoldZeroTheTreeRefuses(text);
    if (accepted && whenParsed && *whenParsed) (*whenParsed)(root);
    if (parser->capacity() > kKeptParserCapacity) parser.reset();
    return accepted;
}

// Whether the on-demand reader, value by value, finds the whole text (an array or object)
// readable. What it accepts, the tree reader accepts too.
bool readerAccepts(const JSONSlice& slice, const JSONReadOptions& options) {
    JSONReader reader(slice);
    ondemand::json_type type;
    if (reader.document().type().get(type) ||
        (type != ondemand::json_type::array && type != ondemand::json_type::object)) {
        return false;
    }
    ondemand::value root;
    return !reader.document().get_value().get(root) && check(root, options, 0).ok() &&
           reader.atEnd();
}

}  // namespace

Result<void> checkWhole(const JSONSlice& slice, const JSONReadOptions& options) {
    return checkWhole(slice, options, nullptr);
}

Result<void> checkWhole(const JSONSlice& slice, const JSONReadOptions& options,
                        const DomParsed& parsed) {
    std::string_view text = slice.text();
    size_t readable = slice.readableBytes();
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
        readable -= kByteOrderMark.size();
    }
    if (domAccepts(text, readable, options, &parsed) || readerAccepts(slice, options)) return {};
    // Both refuse a little that the tree reader takes (a lone surrogate in a key): it decides.
    auto read = JSONSerialization::read(slice.text(), options);
    if (!read) return read.error();
    return {};
}

std::optional<Value> valueOfDomElement(simdjson::dom::element element, size_t& budget) {
    if (budget == 0) return std::nullopt;
    --budget;
    switch (element.type()) {
        case simdjson::dom::element_type::ARRAY: {
            const simdjson::dom::array elements(element);
            Array values;
            values.reserve(elements.size());
            for (simdjson::dom::element item : elements) {
                auto value = valueOfDomElement(item, budget);
                if (!value) return std::nullopt;
                values.push_back(std::move(*value));
            }
            return Value(std::move(values));
        }
        case simdjson::dom::element_type::OBJECT: {
            const simdjson::dom::object object(element);
            Dictionary members;
            members.reserve(object.size());
            // A repeated key keeps its last value, as when the text is read.
            for (const simdjson::dom::key_value_pair member : object) {
                if (member.key.size() > budget) return std::nullopt;
                budget -= member.key.size();
                auto value = valueOfDomElement(member.value, budget);
                if (!value) return std::nullopt;
                members.appendUnsorted(std::string(member.key), std::move(*value));
            }
            members.finishAppending();
            return Value(std::move(members));
        }
        case simdjson::dom::element_type::INT64:
            return Value(static_cast<long long>(int64_t(element)));
        case simdjson::dom::element_type::UINT64:
            return Value(static_cast<unsigned long long>(uint64_t(element)));
        case simdjson::dom::element_type::DOUBLE: {
            const double d = double(element);
            // "-0" reads as the integer 0 and "-0.0" as a double: the parse keeps no trace of
            // which it was.
            if (d == 0 && std::signbit(d)) return std::nullopt;
            return Value(d);
        }
        case simdjson::dom::element_type::STRING: {
            const std::string_view string(element);
            if (string.size() > budget) return std::nullopt;
            budget -= string.size();
            return Value(string);
        }
        case simdjson::dom::element_type::BOOL:
            return Value(bool(element));
        case simdjson::dom::element_type::NULL_VALUE:
            return Value();
    }
    return std::nullopt;
}

size_t valueLength(std::string_view text) {
    if (text.empty()) return 0;
    switch (text.front()) {
        case '[':
        case '{':
            return containerExtent(text, std::numeric_limits<size_t>::max())
                .length.value_or(text.size());
        case '"':
            // The closing quote is the first one after an even run of backslashes.
            for (size_t at = 1; at < text.size();) {
                const void* quote = std::memchr(text.data() + at, '"', text.size() - at);
                if (!quote) break;
                const size_t end =
                    static_cast<size_t>(static_cast<const char*>(quote) - text.data());
                size_t run = 0;
                while (end - run > at && text[end - run - 1] == '\\') ++run;
                if (run % 2 == 0) return end + 1;
                at = end + 1;
            }
            return text.size();
        default:
            return std::min(text.find_first_of(",]}: \t\n\r"), text.size());
    }
}

namespace {

bool onlyWhiteSpace(std::string_view text) {
    return text.find_first_not_of(kWhiteSpace) == std::string_view::npos;
}

// Follows the brackets of the top-level array and collects its elements, each from the
// bracket that opens it to the one that closes it.
class ElementCollector {
public:
    enum class Step { kGoOn, kDone, kFailed };

    explicit ElementCollector(std::string_view text) : text_(text) {}

    [[gnu::always_inline]] Step opening(size_t at) {
        if (depth_++ != 1) return Step::kGoOn;
        // Between two elements stands a comma alone, as the page's script writes it, or with
        // white space; anything else is an element without brackets.
        if (!(at == end_ + 1 && text_[end_] == ',') && !onlyGap(at)) return Step::kFailed;
        start_ = at;
        return Step::kGoOn;
    }
    [[gnu::always_inline]] Step closing(size_t at) {
        if (--depth_ == 1) {
            elements_.push_back(text_.substr(start_, at + 1 - start_));
            end_ = at + 1;
            return Step::kGoOn;
        }
        if (depth_ != 0) return Step::kGoOn;
        return onlyWhiteSpace(text_.substr(end_, at - end_)) ? Step::kDone : Step::kFailed;
    }
    std::vector<std::string_view>& elements() { return elements_; }

private:
    bool onlyGap(size_t at) const {
        std::string_view gap = text_.substr(end_, at - end_);
        if (!elements_.empty()) {
            const size_t comma = gap.find(',');
            if (comma == std::string_view::npos || !onlyWhiteSpace(gap.substr(0, comma))) {
                return false;
            }
            gap.remove_prefix(comma + 1);
        }
        return onlyWhiteSpace(gap);
    }

    std::string_view text_;
    size_t depth_ = 0;
    size_t start_ = 0;
    size_t end_ = 1;  // past the last element, or the array's '['
    std::vector<std::string_view> elements_;
};

}  // namespace

std::optional<std::vector<std::string_view>> containerElements(std::string_view text) {
    using Step = ElementCollector::Step;
    if (text.empty() || text.front() != '[') return std::nullopt;
    ElementCollector collector(text);
    const auto finish = [&collector](Step step) -> std::optional<std::vector<std::string_view>> {
        if (step == Step::kFailed) return std::nullopt;
        return std::move(collector.elements());
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    bool inString = false;
    bool escaped = false;  // the next byte is escaped by a backslash
    unsigned char tail[64];
    for (size_t at = 0; at < text.size(); at += 64) {
        const unsigned char* step = bytes + at;
        if (text.size() - at < 64) {
            // The last step, filled out with white space.
            std::memset(tail, ' ', sizeof tail);
            std::memcpy(tail, step, text.size() - at);
            step = tail;
        }
        const Block block = classify(step);
        if (block.backslashes == 0 && !escaped) {
            const uint64_t inside = insideStrings(block.quotes) ^ (inString ? ~uint64_t{0} : 0);
            inString = (inside >> 63) != 0;
            for (uint64_t pending = (block.opening | block.closing) & ~inside; pending;
                 pending &= pending - 1) {
                const unsigned index = static_cast<unsigned>(__builtin_ctzll(pending));
                const Step next = (block.opening >> index) & 1 ? collector.opening(at + index)
                                                               : collector.closing(at + index);
                if (next != Step::kGoOn) return finish(next);
            }
            continue;
        }
        // A step with escapes, byte by byte.
        for (unsigned i = 0; i < 64; ++i) {
            const unsigned char c = step[i];
            if (!outsideStrings(c, inString, escaped)) continue;
            Step next = Step::kGoOn;
            if (c == '[' || c == '{') {
                next = collector.opening(at + i);
            } else if (c == ']' || c == '}') {
                next = collector.closing(at + i);
            }
            if (next != Step::kGoOn) return finish(next);
        }
    }
    return std::nullopt;
}

Result<std::string_view> rawText(ondemand::value& value) {
    ondemand::json_type type;
    if (auto error = value.type().get(type)) return readerError(error);
    std::string_view text;
    JSONError error = kJSONSuccess;
    const bool container =
        type == ondemand::json_type::array || type == ondemand::json_type::object;
    if (container && !enterable(value)) return readerError(simdjson::DEPTH_ERROR);
    switch (type) {
        case ondemand::json_type::array: {
            ondemand::array array;
            error = value.get_array().get(array);
            if (!error) error = array.raw_json().get(text);
            break;
        }
        case ondemand::json_type::object: {
            ondemand::object object;
            error = value.get_object().get(object);
            if (!error) error = object.raw_json().get(text);
            break;
        }
        default:
            text = value.raw_json_token();
            break;
    }
    if (error) return readerError(error);
    // The reader's text of a value runs on to the next token, over the white space after it.
    return trimmed(text);
}

}  // namespace json

// --- The whole slice ---------------------------------------------------------------------------

// Read whole, the tree reader is the faster: the on-demand reader pays for each value it hands
// out, and is for reading a few values of a large text.
Result<Value> JSONSlice::read(JSONReadOptions options) const {
    return JSONSerialization::read(part_, options);
}

}  // namespace ns
