#pragma once

#include <optional>
#include <string>

#include "platform/ns/Value.h"

// Pretty-printed JSON text of the dictionary; nothing, after the log line
// "NSDictionary JSONString error: ...", when a value in it has no JSON form.
std::optional<std::string> hyb_JSONString(const ns::Dictionary& dictionary);
