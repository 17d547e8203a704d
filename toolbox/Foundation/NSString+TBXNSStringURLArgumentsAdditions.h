#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text percent-escaped (as UTF-8) for use as one URL argument: everything except ASCII
// letters, digits and "-._~" is escaped, including "!*'();:@&=+$,/?%#[]".
std::string tbx_stringByEscapingForURLArgument(std::string_view text);

// Every "+" read as a space, then the percent escapes resolved as UTF-8; nothing when an
// escape is malformed or its bytes are not UTF-8.
std::optional<std::string> tbx_stringByUnescapingFromURLArgument(std::string_view text);
