#pragma once

#include <cstddef>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

namespace ns {

// The XML property list format. Used by PropertyListSerialization, which documents the rules
// both formats share.
//
// Reading is strict, and every refusal names the line where the offending element starts:
// <integer> is decimal or "0x" hexadecimal with an optional sign, within int64 or uint64;
// <real> is a decimal number, "nan" or an infinity; <date> is exactly "YYYY-MM-DDTHH:MM:SSZ"
// naming a real day and time (years 0000 to 9999, no other time zone); <data> is Base64
// (white space allowed, padding required); <true/> and <false/> are empty. A UTF-8 byte-order
// mark is accepted, entity declarations and references to undeclared entities are not, nor is
// nesting deeper than `maxDepth` arrays and dictionaries.
//
// Writing keeps every double exactly (−0.0, NaN and the infinities included) and dates to the
// whole second below them. What XML 1.0 cannot carry is refused rather than written
// unreadable: strings holding NUL, other control characters than tab, line feed and carriage
// return, U+FFFE or U+FFFF, and dates outside the years 0000 to 9999. Carriage returns are
// written as "&#13;", which readers keep (a raw one would read as a line feed).
class PropertyListXML {
public:
    static Result<Value> read(std::string_view text, size_t maxDepth);
    static Result<Data> write(const Value& value, size_t maxDepth);
};

}  // namespace ns
