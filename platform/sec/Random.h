#pragma once

#include <cstddef>

#include "platform/ns/Data.h"

namespace sec {

// `count` bytes from the cryptographically secure generator.
ns::Data randomBytes(size_t count);

}  // namespace sec
