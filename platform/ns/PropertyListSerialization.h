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
// data, dates, arrays and dictionaries. Writing null is an error (code 3851); text that is not
// well-formed UTF-8 is written with U+FFFD in place of the bad bytes. Strings keep every
// character the format can carry: the binary form holds NUL and all else, XML refuses to write
// what XML cannot hold (see PropertyListXML). Dates are 64-bit seconds since 2001 throughout:
// the binary form keeps them exactly, XML to the whole second below. Integers that neither
// int64 nor uint64 holds are refused, never changed. A keyed-archive UID reads as the
// dictionary {"CF$UID": n}, as the XML form shows it, and the binary form writes that
// dictionary back as the UID.
//
// Reading detects the format; empty or malformed input, values out of range and input nested
// deeper than kMaxDepth arrays and dictionaries are errors (code 3840). Writing a value nested
// deeper than that is refused (code 3851), since no reader here would take it back.
class PropertyListSerialization {
public:
    enum class Format { XML, Binary };
    static constexpr size_t kMaxDepth = 512;

    static Result<Value> read(const Data& data, Format* format = nullptr);
    // Why a binary property list must not go to the property list library's parser (nested
    // too deeply, an object that contains itself, a dictionary key the parser cannot take, an
    // integer its nodes cannot hold as int64), or nothing when it may: for readers that walk
    // that parser's own nodes.
    static std::optional<std::string> binaryRefusal(const Data& data);
    static Result<Data> write(const Value& value, Format format);

    // read() of the file's contents; a file that cannot be read gives its POSIX error.
    static Result<Value> readFile(const std::string& path, Format* format = nullptr);
    // write() and then ns::writeFileAtomically().
    static Status writeFileAtomically(const std::string& path, const Value& value, Format format,
                                      mode_t mode = 0644);
};

}  // namespace ns
