#pragma once

// The on-demand JSON reader, for input read once and in order: a page call, a batch of
// commands, a plug-in's large arguments. It checks the text's structure and encoding up
// front, then reads each value only when asked, straight from the text, so a caller can act
// on a statement of a long batch before the next one is read, and nothing it does not ask for
// is built. The reader's namespace is reached through `ns::ondemand` only.

#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

namespace ondemand = simdjson::ondemand;
using JSONError = simdjson::error_code;
inline constexpr JSONError kJSONSuccess = simdjson::SUCCESS;

// One reading of a JSON slice, with a parser lent by the calling thread for as long as it
// lives (readings may nest). Stays on the thread that made it.
class JSONReader {
public:
    // How deep its readers may enter arrays and objects: a value at this depth (the root
    // being at 1) is not entered, and its checks leave it to the tree reader.
    static constexpr size_t kMaxDepth = simdjson::DEFAULT_MAX_DEPTH;

    explicit JSONReader(const JSONSlice& slice);
    ~JSONReader();
    JSONReader(const JSONReader&) = delete;
    JSONReader& operator=(const JSONReader&) = delete;

    // The document (a leading byte order mark skipped); an error when the text is not
    // well-formed UTF-8, its brackets do not match, or it nests too deeply. Read it once,
    // front to back.
    simdjson::simdjson_result<ondemand::document>& document() { return document_; }
    const JSONSlice& slice() const { return slice_; }
    // The SIMD kernel the reader's on-demand code was compiled for ("westmere", "haswell"
    // ...), or "fallback" for the library's portable one.
    static std::string kernel();
    // Where the reading stands: the first byte of the next token; past the last one, the end
    // of the text.
    const char* position();
    // Whether nothing but white space is left.
    bool atEnd();

private:
    struct Parsers;
    JSONSlice slice_;
    std::unique_ptr<ondemand::parser> parser_;
    simdjson::simdjson_result<ondemand::document> document_;
};

// Values read from the on-demand reader by the rules of JSONSerialization::read: integers
// that fit 64 bits stay integers, and so on. A value the reader cannot take as it is (a number
// beyond 64 bits, a lone surrogate) is read again from its text by the tree reader, so both
// readers always agree.
namespace json {

// A string value; with `loneSurrogatesReplaced`, an escaped lone surrogate reads as U+FFFD.
Result<std::string> string(ondemand::value& value, bool loneSurrogatesReplaced = false);
// A string value that holds no escape, where it stands in the text (taken, as get_string takes
// it); nothing, and the value left as it was, for any other value.
std::optional<std::string_view> unescapedString(ondemand::value& value);
// A number as the tree reader reads it, without building a value: an integer that fits 64 bits
// signed, one beyond that which fits them unsigned, or a double.
struct Number {
    enum class Kind : uint8_t { Integer, Unsigned, Double };
    Kind kind = Kind::Integer;
    union {
        long long integer = 0;
        unsigned long long unsignedInteger;
        double real;
    };
};
Result<Number> numberOf(ondemand::value& value);
// The same as an Integer, Unsigned or Double value.
Result<Value> number(ondemand::value& value);
// Reads the value whole and keeps nothing: success exactly when the tree reader would read its
// text (with `depth` arrays and objects open around it).
// `depth` is the number of arrays and objects already open around it.
Result<void> check(ondemand::value value, const JSONReadOptions& options = {}, size_t depth = 0);
// Whether the whole text reads by JSONSerialization::read with these options, exactly, for text
// that is checked whole before any of it is acted on. The SIMD library's DOM parse, with a
// parser kept by the calling thread, answers for most text at its own speed, building nothing
// of ours; what it refuses and the tree reader may still take (a number beyond 64 bits, an
// escaped lone surrogate, a byte order mark, nesting at the very limit) goes to the slower
// readers, the tree reader last.
Result<void> checkWhole(const JSONSlice& text, const JSONReadOptions& options = {});
// The same, handing `parsed` the text's root while the DOM parse holds it, when that parse is
// the one that took the text: for building its values without reading the text again. The
// root lives only for the call.
using DomParsed = std::function<void(simdjson::dom::element)>;
Result<void> checkWhole(const JSONSlice& text, const JSONReadOptions& options,
                        const DomParsed& parsed);
// A value of a DOM parse that checkWhole took, as JSONSerialization::read reads its text;
// nothing when its text might read otherwise (a zero with a minus sign: "-0" reads as an
// integer, "-0.0" as a double, and the parse does not tell them apart), or when it holds more
// than `budget` values and string bytes together (taken off `budget` as they are built).
std::optional<Value> valueOfDomElement(simdjson::dom::element element, size_t& budget);
// The length of the text of the value that starts `text` (at its first byte), in text that
// has been checked as JSON: found without reading the value.
size_t valueLength(std::string_view text);
// The texts of the elements of the array that starts `text` (at its '['), in text that has
// been checked as JSON, when each element is an array or an object: found by one pass over the
// brackets outside strings, without reading the elements. Nothing when an element is of
// another kind, which valueLength then finds.
std::optional<std::vector<std::string_view>> containerElements(std::string_view text);
// The text of a value (an array or object whole, without the white space around it), without
// reading it; for keeping a part to read later or on another thread. An error for a container
// nested deeper than JSONReader::kMaxDepth.
Result<std::string_view> rawText(ondemand::value& value);
// Whether the text of one value nests no deeper than `maxDepth` arrays and objects (with
// `depth` already open around it), for text whose structure the reader has checked: for text
// that is known to be JSON, the one way a read of it can still fail. One pass over the bytes.
bool nestsWithin(std::string_view text, size_t maxDepth, size_t depth = 0);
// The array or object that starts `text` (at its first byte), in text whose structure the
// reader has checked: the length of its text through its closing bracket, found without
// reading its values; nothing when it does not close in the text, or nests deeper than
// `maxDepth` (with `depth` already open around it: `tooDeep` then). One pass over the bytes.
struct ContainerExtent {
    std::optional<size_t> length;
    bool tooDeep = false;
};
ContainerExtent containerExtent(std::string_view text, size_t maxDepth, size_t depth = 0);

}  // namespace json

}  // namespace ns
