#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

// key=value pairs joined with "&", in the dictionary's order; keys and values are their text
// with what is never legal in a URL escaped, and "&", "=", "+" and "#" as well, so that
// neba_dictionaryWithHttpArgumentsString reads the same pairs back.
std::string neba_queryString(const ns::Dictionary& dictionary);
// Splits at "&" and "=", unescaping each side; the first occurrence of a key wins; a piece
// without "=" is a key with an empty value; pieces that do not unescape are left out.
ns::Dictionary neba_dictionaryWithHttpArgumentsString(std::string_view arguments);
// "+" as a blank, then percent-escapes as UTF-8; none for a malformed escape.
std::optional<std::string> neba_stringByUnescapingFromURLArgument(std::string_view argument);
