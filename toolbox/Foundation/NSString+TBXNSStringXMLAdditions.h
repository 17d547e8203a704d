#pragma once

#include <string>
#include <string_view>

// Removes the characters that XML does not allow: controls other than tab, line feed and
// carriage return, characters beyond the basic plane, U+FFFE and U+FFFF.
std::string tbx_stringBySanitizingToXMLSpec(std::string_view string);
// As above, and the five XML special characters become their entities.
std::string tbx_stringBySanitizingAndEscapingForXML(std::string_view string);
