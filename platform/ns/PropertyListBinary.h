#pragma once

#include <cstddef>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

// The binary property list format ("bplist00"): a header, the objects, a table of their
// offsets and a 32-byte trailer. Used by PropertyListSerialization, which documents the rules
// both formats share.
//
// Reading takes integers of 1 to 16 bytes (the 16-byte form as the signed 128-bit value it
// is, refused when neither int64 nor uint64 holds it), 32- and 64-bit reals, dates as the
// 64-bit seconds since 2001 that the format stores, UIDs of up to 64 bits, and strings with
// every character they hold, NUL included. Sets read as arrays. Structural faults (offsets
// or counts outside the file, an object that contains itself, a key that is no string,
// nesting deeper than `maxDepth` arrays and dictionaries, references that would expand the
// file beyond a multiple of its size) are errors, never partial values.
//
// Writing shares equal strings, numbers, data and dates, and never containers.
class PropertyListBinary {
public:
    static constexpr std::string_view kMagic = "bplist00";

    static Result<Value> read(std::string_view bytes, size_t maxDepth);
    static Result<Data> write(const Value& value, size_t maxDepth);
};

}  // namespace ns
