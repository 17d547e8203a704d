#include "platform/ns/CharacterSet.h"

namespace ns {

namespace {

constexpr std::string_view kUnreservedMarks = "-._~";
constexpr std::string_view kSubDelims = "!$&'()*+,;=";
constexpr std::string_view kGenDelims = ":/?#[]@";

CharacterSet unreservedPlus(std::string_view extra) {
    CharacterSet set = CharacterSet::alphanumericCharacterSet();
    set.addCharactersInString(kUnreservedMarks);
    set.addCharactersInString(extra);
    return set;
}

std::string concat(std::string_view a, std::string_view b) {
    std::string s(a);
    s.append(b);
    return s;
}

}  // namespace

CharacterSet CharacterSet::characterSetWithCharactersInString(std::string_view chars) {
    CharacterSet set;
    set.addCharactersInString(chars);
    return set;
}

const CharacterSet& CharacterSet::alphanumericCharacterSet() {
    static const CharacterSet set = characterSetWithCharactersInString(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    return set;
}

// userinfo = unreserved / pct-encoded / sub-delims / ":"; the colon separates the user from
// the password, so neither part may hold one unescaped.
const CharacterSet& CharacterSet::URLUserAllowedCharacterSet() {
    static const CharacterSet set = unreservedPlus(kSubDelims);
    return set;
}

const CharacterSet& CharacterSet::URLPasswordAllowedCharacterSet() {
    return URLUserAllowedCharacterSet();
}

// reg-name plus what an IP literal with a port needs.
const CharacterSet& CharacterSet::URLHostAllowedCharacterSet() {
    static const CharacterSet set = unreservedPlus(concat(kSubDelims, ":[]"));
    return set;
}

// pchar and "/".
const CharacterSet& CharacterSet::URLPathAllowedCharacterSet() {
    static const CharacterSet set = unreservedPlus(concat(kSubDelims, ":@/"));
    return set;
}

// pchar, "/" and "?".
const CharacterSet& CharacterSet::URLQueryAllowedCharacterSet() {
    static const CharacterSet set = unreservedPlus(concat(kSubDelims, ":@/?"));
    return set;
}

const CharacterSet& CharacterSet::URLFragmentAllowedCharacterSet() {
    return URLQueryAllowedCharacterSet();
}

const CharacterSet& CharacterSet::URLLegalCharacterSet() {
    static const CharacterSet set = unreservedPlus(concat(kSubDelims, kGenDelims));
    return set;
}

void CharacterSet::addCharactersInString(std::string_view chars) {
    for (unsigned char c : chars)
        if (c < 128) ascii_.set(c);
}

void CharacterSet::removeCharactersInString(std::string_view chars) {
    for (unsigned char c : chars)
        if (c < 128) ascii_.reset(c);
}

void CharacterSet::formUnionWithCharacterSet(const CharacterSet& other) {
    ascii_ |= other.ascii_;
    nonAscii_ = nonAscii_ || other.nonAscii_;
}

void CharacterSet::invert() {
    ascii_.flip();
    nonAscii_ = !nonAscii_;
}

CharacterSet CharacterSet::invertedSet() const {
    CharacterSet set = *this;
    set.invert();
    return set;
}

CharacterSet CharacterSet::setByRemovingCharactersInString(std::string_view chars) const {
    CharacterSet set = *this;
    set.removeCharactersInString(chars);
    return set;
}

}  // namespace ns
