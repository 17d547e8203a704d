#pragma once

#include <string>
#include <string_view>

namespace ns {

// Comparisons of UTF-8 text that ignore letter case, diacritics and character width, as the
// platform's case-, diacritic- and width-insensitive search options do.
class StringFolding {
public:
    // The text in a form where those differences are gone ("Éc\uFF41" and "eca" fold alike);
    // bytes that are not UTF-8 count as U+FFFD.
    static std::string fold(std::string_view text);
    static bool hasPrefix(std::string_view text, std::string_view prefix);
    static bool equal(std::string_view a, std::string_view b);
};

}  // namespace ns
