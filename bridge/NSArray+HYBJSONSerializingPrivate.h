#pragma once

#include <optional>
#include <string>

#include "platform/ns/Value.h"

// Compact JSON text of the array (no white space); nothing, after the log line
// "NSArray JSONString error: ...", when a value in it has no JSON form.
std::optional<std::string> hyb_JSONString(const ns::Array& array);
