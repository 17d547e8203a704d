#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"

namespace ns {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Reader of localized string tables (.strings files).
//
// The text form is a list of `"key" = "value";` entries (or `"key";`, whose value is the key),
// with /* */ and // comments, the escapes \" \\ \n \t \r \uXXXX (also \U) and unquoted simple
// keys and values. Text may be UTF-8 (with or without byte order mark) or UTF-16 with a byte
// order mark. A table may also be an XML or binary property list of strings. Later duplicates
// win. Malformed input is an error, never a crash.
class StringsFile {
public:
    static Result<StringsTable> parseText(std::string_view utf8);
    static Result<StringsTable> parse(const Data& data);
    // The table in the file: empty when the file is missing, and empty with a log line when it
    // is malformed.
    static StringsTable load(const std::string& path);
};

}  // namespace ns
