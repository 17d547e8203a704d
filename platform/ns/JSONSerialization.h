#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

struct JSONWriteOptions {
    // Line breaks and two spaces of indentation per level; object members as "key" : value;
    // an empty container as "[\n\n]" or "{\n\n}" with the closing bracket indented.
    bool prettyPrinted = false;
    // Allows a string, number, boolean or null at the top level.
    bool fragmentsAllowed = false;
};

struct JSONReadOptions {
    // Accepts any value at the top level; without it only an array or an object.
    bool fragmentsAllowed = false;
    // Deepest nesting of arrays and objects accepted; deeper input is an error.
    size_t maxDepth = 512;
    // Reads a \u escape of a lone UTF-16 surrogate (text cut inside a pair) as U+FFFD instead
    // of refusing the text, as the writer does with ill-formed bytes.
    bool loneSurrogatesReplaced = false;
};

// JSON text to and from ns::Value.
//
// Writing: compact output has no white space; object keys come in ascending byte order;
// integers are exact (int64 and uint64); doubles take the shortest text that reads back
// exactly, so integral doubles below 1e17 have no fraction (1.0 writes 1); NaN, infinities,
// data and dates are refused with an error (code 3851). Strings escape '"', '\', the control
// characters, U+2028 and U+2029 (which end a JavaScript string literal), but not '/'; bytes
// that are not well-formed UTF-8 are written as U+FFFD. Scalars inside containers are always
// written, which lets callers write any value by wrapping it in a one-element array.
//
// Reading: a UTF-8 byte order mark is skipped; trailing non-white-space text, ill-formed UTF-8,
// input nested deeper than maxDepth and non-containers at the top level (unless allowed) are
// errors (code 3840, with the reason under "NSDebugDescription"). Integers stay integers when
// they fit 64 bits (int64, or uint64 above INT64_MAX) and become doubles beyond; numbers with a
// fraction or exponent are doubles. A repeated object key keeps its last value.
class JSONSerialization {
public:
    using WriteOptions = JSONWriteOptions;
    using ReadOptions = JSONReadOptions;

    static Result<std::string> write(const Value& value, WriteOptions options = {});
    static Result<Value> read(std::string_view text, ReadOptions options = {});
};

// Compact JSON written piece by piece, by the rules of JSONSerialization::write, for answers
// too large to build as one value first. The caller keeps the structure well formed (keys only
// inside objects, each followed by one value, every container closed); the writer adds the
// commas and colons. A value that has no JSON form (a non-finite number, data, a date) spoils
// the text: take() answers the first such error instead.
class JSONWriter {
public:
    JSONWriter();
    ~JSONWriter();
    JSONWriter(const JSONWriter&) = delete;
    JSONWriter& operator=(const JSONWriter&) = delete;

    void startArray();
    void endArray();
    void startObject();
    void endObject();
    // Keys are written as given: inside one object the caller writes them in ascending byte
    // order and only once, as write() would.
    void key(std::string_view name);
    void null();
    void boolean(bool b);
    void int64(int64_t i);
    void number(double d);
    void string(std::string_view s);
    void value(const Value& v);
    // Text that is already one whole JSON value (from another writer), copied as it is.
    void json(std::string_view text);

    // The text so far, or the first error; the writer is empty afterwards.
    Result<std::string> take();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Pieces of JSON appended to text the caller builds itself, written exactly as the writers
// above write them: for large answers of a regular shape (the rows of one statement), where the
// caller writes the punctuation and keeps the text well formed.
namespace json {
void appendString(std::string& out, std::string_view s);
// A finite number; false, with nothing appended, for NaN and the infinities.
bool appendNumber(std::string& out, double d);
void appendInt64(std::string& out, int64_t i);
}  // namespace json

}  // namespace ns
