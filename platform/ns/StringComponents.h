#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ns {

// The pieces of the text between occurrences of the separator, empty pieces included: "a,,b"
// gives "a", "", "b"; "" gives one empty piece (the platform's componentsSeparatedByString).
std::vector<std::string_view> componentsSeparatedByCharacter(std::string_view text, char separator);

// The text without the ASCII white space and line breaks (space, tab, LF, CR, VT, FF) at its
// ends.
std::string_view trimmedWhitespace(std::string_view text);

// The text with its ASCII letters lower-cased, whatever the process's locale; other bytes stay.
std::string asciiLowercased(std::string_view text);

// The value of an ASCII hexadecimal digit of either case; -1 for any other character. Inline:
// the percent decoder and the UUID reader call it for every digit.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace ns
