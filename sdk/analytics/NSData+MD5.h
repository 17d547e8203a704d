#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ns/Data.h"

// The 16-byte MD5 digest of the bytes.
ns::Data neba_MD5Data(std::string_view bytes);
// The last eight bytes (all of them when shorter) as one big-endian signed integer.
int64_t neba_64LeastSignificantBits(std::string_view bytes);
// The last eight bytes of the MD5 digest as a big-endian signed integer: the fingerprint that
// keys shared event metadata.
int64_t neba_64LSBMD5(std::string_view bytes);
