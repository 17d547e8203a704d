// Argument strings of any content: every key and value decoded is valid UTF-8, and encoding
// the result leaves no character that is never legal in a URL and reads back as the same pairs.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/Require.h"
#include "platform/ns/UTF16.h"
#include "sdk/analytics/NEBNSDictionaryQuery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto arguments = neba_dictionaryWithHttpArgumentsString(text);
    for (const auto& [key, value] : arguments) {
        fuzzing::require(ns::isValidUTF8(key) && value.string() &&
                         ns::isValidUTF8(*value.string()));
    }
    const std::string query = neba_queryString(arguments);
    for (unsigned char c : query) {
        fuzzing::require(c > 0x20 && c < 0x7f && c != '"' && c != '<' && c != '>' && c != '\\');
    }
    // What is written reads back as the same pairs.
    fuzzing::require(neba_dictionaryWithHttpArgumentsString(query) == arguments);
    if (auto unescaped = neba_stringByUnescapingFromURLArgument(text))
        fuzzing::require(ns::isValidUTF8(*unescaped));
    return 0;
}
