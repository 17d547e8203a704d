#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

// Property lists (XML and binary) to and from ns::Value.
//
// Every kind but null has a form: booleans, integers (int64 and uint64), doubles, strings,
// data, dates, arrays and dictionaries. Writing null, or a string holding a NUL character
// (which the format's C-string based writer would cut short), is an error (code 3851); text
// that is not well-formed UTF-8 is written with U+FFFD in place of the bad bytes. Dates keep
// microseconds in the binary format (but whole seconds within the second before 2001) and whole
// seconds, cut towards 2001, in XML; they range from 1933 to 2069 (32-bit seconds since 2001),
// and dates outside that span are written as its nearest end. A keyed-archive UID reads as the
// dictionary {"CF$UID": n}, as the XML form shows it.
//
// Reading detects the format; empty or malformed input and input nested deeper than kMaxDepth
// arrays and dictionaries are errors (code 3840), checked before the parser sees them.
class PropertyListSerialization {
public:
    enum class Format { XML, Binary };
    static constexpr size_t kMaxDepth = 512;

    static Result<Value> read(const Data& data, Format* format = nullptr);
    // Why a binary property list must not go to the parser (nested too deeply, an object that
    // contains itself, a dictionary key the parser cannot take), or nothing when it may: for
    // readers that walk the parser's own nodes.
    static std::optional<std::string> binaryRefusal(const Data& data);
    static Result<Data> write(const Value& value, Format format);

    // read() of the file's contents; a file that cannot be read gives its POSIX error.
    static Result<Value> readFile(const std::string& path, Format* format = nullptr);
    // write() and then ns::writeFileAtomically().
    static Status writeFileAtomically(const std::string& path, const Value& value, Format format,
                                      mode_t mode = 0644);
};

}  // namespace ns
