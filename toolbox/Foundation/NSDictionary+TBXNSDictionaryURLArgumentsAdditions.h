#pragma once

#include <string>
#include <string_view>

#include "platform/ns/Value.h"

// A query string ("a=1&b=2") as a dictionary: pieces split at "&", each at its first "=",
// key and value unescaped as URL arguments (one that does not unescape becomes ""); a piece
// without "=" is a key with the empty value, empty pieces are skipped, and of repeated keys
// the first in the string wins. Values are strings.
ns::Dictionary tbx_dictionaryWithHttpArgumentsString(std::string_view argumentsString);

// "key=value" pairs joined by "&", key and value (its description) escaped as URL arguments,
// in the dictionary's key order. "" for an empty dictionary.
std::string tbx_httpArgumentsString(const ns::Dictionary& dictionary);
