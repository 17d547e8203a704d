#pragma once

#include <optional>
#include <string_view>

#include "platform/ns/Value.h"

// The array or object that the text holds; nothing, after the log line
// "NSString JSONObject error: ..., Malformed Data: <text>", for anything else.
std::optional<ns::Value> hyb_JSONObject(std::string_view text);
// Any JSON value at the top level, bare scalars included; nothing, after the log line
// "NSString JSONObject error: ...", when the text is not JSON.
std::optional<ns::Value> hyb_JSONFragment(std::string_view text);
