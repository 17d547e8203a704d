#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ns {

// Strings are UTF-8 std::string; the platform measures and indexes them in UTF-16 code units.
// These helpers bridge the two. Malformed UTF-8 reads as U+FFFD, one per maximal ill-formed
// subsequence, so every function here agrees with the length of toUTF16().

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character that starts at `index` and moves `index` past it; malformed input
// yields U+FFFD, sets `*malformed` (when given) and moves past the ill-formed bytes only.
// `index` must be below utf8.size().
char32_t nextCodePoint(std::string_view utf8, size_t& index, bool* malformed = nullptr);
// Appends the UTF-8 form of a code point; surrogates and values above U+10FFFF append U+FFFD.
void appendUTF8(std::string& out, char32_t codePoint);

// Whether the bytes are well-formed UTF-8 (no surrogates, nothing above U+10FFFF).
bool isValidUTF8(std::string_view utf8);

size_t utf16Length(std::string_view utf8);
std::u16string toUTF16(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string fromUTF16(std::u16string_view utf16);

// The UTF-8 byte offset of a UTF-16 unit offset. An offset between the halves of a surrogate
// pair rounds down to the start of that character; offsets past the end give utf8.size().
size_t utf8OffsetForUTF16Offset(std::string_view utf8, size_t utf16Offset);
// The UTF-16 unit offset of a UTF-8 byte offset. An offset inside a character rounds down to
// the start of that character; offsets past the end give utf16Length(utf8).
size_t utf16OffsetForUTF8Offset(std::string_view utf8, size_t utf8Offset);

// The text of the UTF-16 range [location, location + length), clamped to the string. A range
// edge that splits a surrogate pair leaves a lone half, which reads as U+FFFD.
std::string utf16Substring(std::string_view utf8, size_t location, size_t length);

}  // namespace ns
