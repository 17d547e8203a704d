#pragma once

#include <cstddef>
#include <string>

namespace peers {

// Base64 with the URL-safe alphabet and no padding, as the services write ids and tokens.
std::string encodeWebSafeUnpadded(const unsigned char* bytes, size_t length);

}  // namespace peers
