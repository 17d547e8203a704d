#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/Data.h"

// The sign-in library's small string operations, used throughout it.

// True for an absent text or one holding only white space (blanks, tabs, line breaks).
bool dsIsStringNilOrBlank(const std::optional<std::string>& text);
bool dsIsStringNilOrBlank(std::string_view text);
inline bool dsIsStringNilOrBlank(const std::string& text) {
    return dsIsStringNilOrBlank(std::string_view(text));
}
inline bool dsIsStringNilOrBlank(const char* text) {
    return !text || dsIsStringNilOrBlank(std::string_view(text));
}
// The text without leading and trailing white space.
std::string dsTrimmedString(std::string_view text);
// Base64url (URL-safe alphabet) of the text's UTF-8 bytes, without "=" padding. The form is
// part of the keychain attributes of stored tokens, so it must never change.
std::string adBase64UrlEncode(std::string_view text);
std::string adBase64UrlEncodeData(std::string_view bytes);
// The bytes a base64url text encodes (padding optional), as UTF-8 text; nothing when the text
// does not decode or the bytes are not UTF-8.
std::optional<std::string> adBase64UrlDecode(std::string_view text);
// Lower-case hexadecimal SHA-256 of the text's UTF-8 bytes.
std::string dsComputeSHA256(std::string_view text);
// Standard base64 with padding.
std::string Base64EncodeData(const ns::Data& data);
// name=value pairs joined by "&", both percent-encoded for form data.
std::string dsURLFormEncode(const std::map<std::string, std::string>& pairs);
using DSFormPairs = std::vector<std::pair<std::string, std::string>>;
std::string dsURLFormEncodePairs(const DSFormPairs& pairs);
// Form data (or a URL's query) read back: pairs in order, "+" as a blank, escapes decoded (an
// escape that does not decode to UTF-8 is kept as written), a piece without "=" has an empty
// value, empty pieces are skipped.
DSFormPairs dsURLFormDecode(std::string_view text);
// Two absent texts are the same; an absent and a present one are not.
bool dsSame(const std::optional<std::string>& a, const std::optional<std::string>& b);
// A URL text as it may be logged: any user information ("user:password@") before its host is
// taken out; the rest, and texts that are not URLs, stay as they are.
std::optional<std::string> dsWithoutUserInfo(const std::optional<std::string>& url);
// Lower case of ASCII letters (identifiers, hosts, GUIDs).
