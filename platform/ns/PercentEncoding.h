#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/CharacterSet.h"

namespace ns {

// Every byte of the UTF-8 text that `allowed` does not hold becomes "%XX" (upper-case hex).
std::string percentEncode(std::string_view text, const CharacterSet& allowed);

// What a form value keeps as it stands: the unreserved characters, ASCII letters, digits and
// "-", ".", "_", "~". Every other byte of a form value is percent-encoded.
const CharacterSet& formUnreservedCharacterSet();

// Resolves every "%XX" escape. Nothing when an escape is not "%" and two hex digits, or when
// the result is not valid UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

// percentDecode's result, or the text as it stands when it does not decode: what accessors
// that show a decoded component give for a component that cannot be shown decoded.
std::string percentDecodeOrKeep(std::string_view text);

// Resolves escapes into raw bytes, whatever they spell; nothing for a malformed escape.
std::optional<std::string> percentDecodeBytes(std::string_view text);

}  // namespace ns
