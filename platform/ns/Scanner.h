#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ns {

// Reads through a string, as the platform's scanner does: the location counts UTF-16 code
// units, and scanning operations pass over the characters to be skipped before they read.
class Scanner {
public:
    using CharacterSet = std::function<bool(char16_t)>;

    explicit Scanner(std::string_view string);

    // White space and line separators of every kind: the default characters to be skipped.
    static bool isWhitespaceOrNewline(char16_t unit);

    // The scanned text as UTF-16 code units.
    const std::u16string& units() const { return units_; }

    size_t scanLocation() const { return location_; }
    // Throws ns::Exception (range) beyond the end of the string.
    void setScanLocation(size_t location);

    // An empty set skips nothing.
    void setCharactersToBeSkipped(CharacterSet set) { skipped_ = std::move(set); }
    bool skips(char16_t unit) const { return skipped_ && skipped_(unit); }

private:
    std::u16string units_;
    size_t location_ = 0;
    CharacterSet skipped_ = isWhitespaceOrNewline;
};

}  // namespace ns
