#pragma once

#include <optional>
#include <string>
#include <string_view>

// The MD5 of the text's UTF-8 bytes as 32 lower-case hexadecimal digits; none for text that
// is not valid UTF-8.
std::optional<std::string> neba_MD5String(std::string_view text);
