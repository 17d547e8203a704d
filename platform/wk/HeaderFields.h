#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace wk {

// HTTP header names compare without regard to ASCII letter case.
bool headerNameEquals(std::string_view a, std::string_view b);
std::optional<std::string> findHeaderField(const std::map<std::string, std::string>& fields,
                                           std::string_view name);

}  // namespace wk
