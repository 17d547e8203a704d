#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

// The format's building blocks, for readers that walk its bytes themselves.
namespace bplist {

constexpr size_t kTrailerSize = 32;

// Object markers: the high nibble is the kind, the low one a size or a count.
enum Kind : uint8_t {
    kSimple = 0x0,  // 0x08 false, 0x09 true
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kASCII = 0x5,
    kUTF16 = 0x6,
    kUID = 0x8,
    kArray = 0xA,
    kOrderedSet = 0xB,
    kSet = 0xC,
    kDictionary = 0xD,
};
constexpr uint8_t kFalse = 0x08;
constexpr uint8_t kTrue = 0x09;
constexpr uint8_t kCountFollows = 0x0F;

// The unsigned big-endian number in the `n` (at most 8) bytes at `p`.
inline uint64_t bigEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// The 32 bytes that end the file: how wide its offsets and references are, how many objects
// it holds, which is the top one, and where the table of their offsets starts.
struct Trailer {
    uint8_t offsetSize = 0;
    uint8_t refSize = 0;
    uint64_t count = 0;
    uint64_t top = 0;
    uint64_t table = 0;

    // The trailer of the whole file, checked: widths of 1 to 8 bytes, at least one object and
    // the top one among them, the offset table between the header and the trailer and long
    // enough for every object, and references wide enough to name every object. Nothing when
    // the file is too short to hold one or breaks any of these.
    static std::optional<Trailer> of(std::string_view file);
    // Where the object `index` (below `count`) of `file` starts; nothing when that does not lie
    // among the objects, after the header and before the offset table.
    std::optional<uint64_t> offsetOf(const uint8_t* file, uint64_t index) const {
        const uint64_t at = bigEndian(file + table + index * offsetSize, offsetSize);
        if (at < kMagicSize || at >= table) return std::nullopt;
        return at;
    }

    static constexpr size_t kMagicSize = 8;  // "bplist00"
};

}  // namespace bplist

// The binary property list format ("bplist00"): a header, the objects, a table of their
// offsets and a 32-byte trailer. Used by PropertyListSerialization, which documents the rules
// both formats share.
//
// Reading takes integers of 1 to 16 bytes (the 16-byte form as the signed 128-bit value it
// is, refused when neither int64 nor uint64 holds it), 32- and 64-bit reals, dates as the
// 64-bit seconds since 2001 that the format stores, UIDs of up to 64 bits, and strings with
// every character they hold, NUL included. Sets read as arrays. A UID reads as the dictionary
// {"CF$UID": n}, and such a dictionary (its one member a non-negative integer) is written as
// the UID. Structural faults (offsets
// or counts outside the file, an object that contains itself, a key that is no string,
// nesting deeper than `maxDepth` arrays and dictionaries, references to shared objects that
// would build values beyond a multiple of the file's size) are errors, never partial values.
//
// Writing shares equal numbers, dates and short strings and data, and never containers, so
// that what it writes always reads back.
class PropertyListBinary {
public:
    static constexpr std::string_view kMagic = "bplist00";

    static Result<Value> read(std::string_view bytes, size_t maxDepth);
    static Result<Data> write(const Value& value, size_t maxDepth);
};

static_assert(bplist::Trailer::kMagicSize == PropertyListBinary::kMagic.size());

}  // namespace ns
