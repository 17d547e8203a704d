#pragma once

#include <bitset>
#include <string_view>

namespace ns {

// A set of characters that percent-encoding leaves alone. URL text is ASCII, so the set
// names ASCII characters one by one; every non-ASCII character is either in the set or not,
// as a whole (only an inverted set holds them), so an encoder never splits a UTF-8 sequence.
class CharacterSet {
public:
    CharacterSet() = default;

    // The ASCII characters of `chars`; other bytes of the text are ignored.
    static CharacterSet characterSetWithCharactersInString(std::string_view chars);

    static const CharacterSet& alphanumericCharacterSet();  // A-Z a-z 0-9
    // The allowed sets of each URL component, as RFC 3986 defines the component.
    static const CharacterSet& URLUserAllowedCharacterSet();
    static const CharacterSet& URLPasswordAllowedCharacterSet();
    static const CharacterSet& URLHostAllowedCharacterSet();
    static const CharacterSet& URLPathAllowedCharacterSet();
    static const CharacterSet& URLQueryAllowedCharacterSet();
    static const CharacterSet& URLFragmentAllowedCharacterSet();
    // Every character that may stand somewhere in a URL, except "%": encoding with it escapes
    // only what is never legal in a URL (blanks, quotes, controls, non-ASCII, "%" itself) and
    // keeps the characters that structure a URL.
    static const CharacterSet& URLLegalCharacterSet();

    bool characterIsMember(unsigned char c) const { return c < 128 ? ascii_.test(c) : nonAscii_; }

    void addCharactersInString(std::string_view chars);
    void removeCharactersInString(std::string_view chars);
    void formUnionWithCharacterSet(const CharacterSet& other);
    void invert();
    CharacterSet invertedSet() const;
    CharacterSet setByRemovingCharactersInString(std::string_view chars) const;

    bool operator==(const CharacterSet&) const = default;

private:
    std::bitset<128> ascii_;
    bool nonAscii_ = false;
};

}  // namespace ns
