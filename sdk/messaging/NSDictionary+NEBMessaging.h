#pragma once

#include <string>

#include "platform/ns/Value.h"

// The string pairs of a dictionary as "key:value|key:value"; "" when there are none. Pairs
// whose value is not a string are skipped.
std::string msg_string(const ns::Dictionary& dictionary);
// Whether some value is not a string (keys are always strings here).
bool msg_hasNonStringKeysOrValues(const ns::Dictionary& dictionary);
// Only the string pairs; each dropped pair is logged.
ns::Dictionary msg_trimNonStringValues(const ns::Dictionary& dictionary);
