#include "platform/ns/StringFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "platform/ns/UTF8.h"

namespace ns {

std::string StringFolding::fold(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* decompose = icu::Normalizer2::getNFKDInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    std::string valid = utf8::repaired(text);
    icu::UnicodeString decomposed =
        decompose->normalize(icu::UnicodeString::fromUTF8(valid), status);
    if (U_FAILURE(status)) return valid;
    // Width differences go with the compatibility decomposition, diacritics with the
    // combining marks it splits off, case with folding.
    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) bare.append(c);
        i += U16_LENGTH(c);
    }
    bare.foldCase();
    std::string out;
    bare.toUTF8String(out);
    return out;
}

bool StringFolding::hasPrefix(std::string_view text, std::string_view prefix) {
    return fold(text).starts_with(fold(prefix));
}

bool StringFolding::equal(std::string_view a, std::string_view b) {
    return fold(a) == fold(b);
}

}  // namespace ns
