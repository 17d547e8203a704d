#include "platform/wk/HeaderFields.h"

#include <algorithm>

namespace wk {

bool headerNameEquals(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
           });
}

std::optional<std::string> findHeaderField(const std::map<std::string, std::string>& fields,
                                           std::string_view name) {
    for (auto& [key, value] : fields) {
        if (headerNameEquals(key, name)) return value;
    }
    return std::nullopt;
}

}  // namespace wk
