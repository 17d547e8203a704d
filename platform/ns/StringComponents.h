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

// The value of an ASCII hexadecimal digit of either case; -1 for any other character.
int hexDigitValue(char c);

}  // namespace ns
