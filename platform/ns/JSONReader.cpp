#include "platform/ns/JSONReader.h"

#include <charconv>
#include <cstring>
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

bool hasExponent(std::string_view token) {
    return token.find_first_of("eE") != std::string_view::npos;
}

bool hasFraction(std::string_view token) {
    return token.find('.') != std::string_view::npos;
}

// A plain integer of at most kShortNumberText digits (which always fits 64 bits), in one pass:
// the most common number of a page's call. Nothing for any other text, leading zeros included.
std::optional<long long> shortInteger(std::string_view token) {
    const bool negative = !token.empty() && token.front() == '-';
    const std::string_view digits = token.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > kShortNumberText) return std::nullopt;
    if (digits.front() == '0' && digits.size() > 1) return std::nullopt;
    long long read = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        read = read * 10 + (c - '0');
    }
    return negative ? -read : read;
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

std::string_view JSONReader::textSince(const char* start) {
    return trimmed(std::string_view(start, static_cast<size_t>(position() - start)));
}

JSONReader::~JSONReader() {
    if (parser_->capacity() <= kKeptParserCapacity) Parsers::mine().push_back(std::move(parser_));
}

namespace json {

Result<std::string> string(ondemand::value value, bool loneSurrogatesReplaced) {
    const std::string_view token = value.raw_json_token();
    // Text without a backslash is its own value: copied once, from where it stands (the
    // reader has checked its encoding and that no control character stands in it).
    const std::string_view quoted = trimmed(token);
    if (quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"') {
        const std::string_view inside = quoted.substr(1, quoted.size() - 2);
        ondemand::raw_json_string raw;
        if (!std::memchr(inside.data(), '\\', inside.size()) &&
            value.get_raw_json_string().get(raw) == kJSONSuccess) {
            return std::string(inside);
        }
    }
    std::string_view text;
    const JSONError error = value.get_string().get(text);
    if (!error) return std::string(text);
    if (error == simdjson::INCORRECT_TYPE) return readerError(error);
    auto read = scalarFromToken(token, loneSurrogatesReplaced);
    if (!read) return read.error();
    if (!read->isString()) return readerError(simdjson::INCORRECT_TYPE);
    return std::move(*read->string());
}

Result<Value> number(ondemand::value value) {
    const std::string_view token = trimmed(value.raw_json_token());
    if (const auto integer = shortInteger(token)) return Value(*integer);
    // Read by the kind its text has; the reader's own classification is not used, as it
    // misreads long mantissas. A failed read leaves the value where it was. Exponents are
    // rare in a page's numbers, and the tree reader has rules of its own for large ones.
    if (hasExponent(token)) {
        // Decided below.
    } else if (hasFraction(token)) {
        double d = 0;
        if (value.get_double().get(d) == kJSONSuccess) {
            if (token.size() <= kShortNumberText) return Value(d);
            // Checked as JSON, but converted again: the reader's conversion of a long mantissa
            // is not to be trusted.
            const auto converted = std::from_chars(token.data(), token.data() + token.size(), d);
            if (converted.ec == std::errc() && converted.ptr == token.data() + token.size()) {
                return Value(d);
            }
        }
    } else if (!token.empty() && token.front() == '-') {
        int64_t i = 0;
        if (value.get_int64().get(i) == kJSONSuccess) return Value(static_cast<long long>(i));
    } else {
        uint64_t u = 0;
        if (value.get_uint64().get(u) == kJSONSuccess) {
            return Value(static_cast<unsigned long long>(u));
        }
    }
    // An exponent, an integer beyond 64 bits, text that is no number: the tree reader decides.
    auto read = scalarFromToken(token, false);
    if (!read) return read.error();
    if (!read->isNumber()) return readerError(simdjson::NUMBER_ERROR);
    return std::move(read).value();
}

namespace {

// Whether the value reads as the tree reader would read it, building nothing: each scalar read once
// by the reader; only what it cannot take as it is goes to the slower readers that decide.
bool reads(ondemand::value value, const JSONReadOptions& options, size_t depth) {
    ondemand::json_type type;
    if (value.type().get(type)) return false;
    switch (type) {
        case ondemand::json_type::array: {
            if (depth >= options.maxDepth) return false;
            ondemand::array array;
            if (value.get_array().get(array)) return false;
            for (auto element : array) {
                ondemand::value item;
                if (element.get(item) || !reads(item, options, depth + 1)) return false;
            }
            return true;
        }
        case ondemand::json_type::object: {
            if (depth >= options.maxDepth) return false;
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
            return json::number(value).ok();
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

// Where a pass over the structure of JSON text stopped: at the end of the container it started
// with (the byte past its closing bracket), at the end of the text, or where it nested too deep.
struct StructureScan {
    size_t end = std::string_view::npos;
    bool tooDeep = false;
};

// Walks the brackets of the text outside its strings, counting how deep they nest (with
// `depth` open around it); with `toClose`, stops where the container that starts the text
// closes. Sixteen bytes are looked at at once where the processor allows it: most bytes of a
// large call are inside strings or between brackets, and only quotes, backslashes and brackets
// change anything.
// Strings longer than this are passed over by a search for their closing quote; shorter ones,
// the common case, cost less looked at block by block.
constexpr size_t kLongString = 48;

StructureScan scanStructure(std::string_view text, size_t maxDepth, size_t depth, bool toClose) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    const size_t outer = depth;
    bool inString = false;
    bool escaped = false;  // the next byte is escaped by a backslash
    size_t stringStart = 0;
    // One byte of interest at `at`; true when the scan is over.
    StructureScan result;
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
    size_t at = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    const __m128i openArray = _mm_set1_epi8('['), closeArray = _mm_set1_epi8(']');
    const __m128i openObject = _mm_set1_epi8('{'), closeObject = _mm_set1_epi8('}');
    for (; at + 16 <= size; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const auto maskOf = [&block](__m128i wanted) {
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
        };
        const unsigned quotes = maskOf(quote), backslashes = maskOf(backslash);
        const unsigned brackets = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(block, openArray), _mm_cmpeq_epi8(block, closeArray)),
            _mm_or_si128(_mm_cmpeq_epi8(block, openObject), _mm_cmpeq_epi8(block, closeObject)))));
        unsigned pending = quotes | backslashes | brackets;
        if (escaped) {
            pending &= ~1u;
            escaped = false;
        }
        if (inString && pending == 0 && at - stringStart >= kLongString) {
            // A long string (a large argument): its end found at once. The quote that ends it
            // is the first one after an even run of backslashes; this block has none.
            const size_t from = at + 16;
            const auto* quoteAt =
                static_cast<const unsigned char*>(std::memchr(bytes + from, '"', size - from));
            if (!quoteAt) return result;
            size_t run = 0;
            for (const unsigned char* b = quoteAt; b > bytes + from && b[-1] == '\\'; --b) ++run;
            inString = run % 2 == 1;
            // Past the quote, where the next step starts.
            at = static_cast<size_t>(quoteAt - bytes) + 1 - 16;
            continue;
        }
        while (pending) {
            const unsigned index = static_cast<unsigned>(__builtin_ctz(pending));
            const unsigned bit = 1u << index;
            pending &= pending - 1;
            if (inString) {
                if (backslashes & bit) {
                    // The escaped byte is passed over, in this block or at the next one's start.
                    if (index == 15) {
                        escaped = true;
                    } else {
                        pending &= ~(bit << 1);
                    }
                } else if (quotes & bit) {
                    inString = false;
                }
            } else if (quotes & bit) {
                inString = true;
                stringStart = at + index;
            } else if ((brackets & bit) && bracket(at + index)) {
                return result;
            }
        }
    }
#endif
    for (; at < size; ++at) {
        const unsigned char c = bytes[at];
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if ((c == '[' || c == ']' || c == '{' || c == '}') && bracket(at)) {
            return result;
        }
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

Result<std::string_view> rawText(ondemand::value value) {
    ondemand::json_type type;
    if (auto error = value.type().get(type)) return readerError(error);
    std::string_view text;
    JSONError error = kJSONSuccess;
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
            text = trimmed(value.raw_json_token());
            break;
    }
    if (error) return readerError(error);
    return text;
}

}  // namespace json

// --- The whole slice ---------------------------------------------------------------------------

// Read whole, the tree reader is the faster: the on-demand reader pays for each value it hands
// out, and is for reading a few values of a large text.
Result<Value> JSONSlice::read(JSONReadOptions options) const {
    return JSONSerialization::read(part_, options);
}

}  // namespace ns
