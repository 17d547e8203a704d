#include "platform/wk/URLRequest.h"

#include "platform/wk/HeaderFields.h"

namespace wk {

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view name) const {
    return findHeaderField(headers_, name);
}

void URLRequest::setValueForHTTPHeaderField(std::string value, std::string_view name) {
    std::erase_if(headers_, [&](const auto& field) { return headerNameEquals(field.first, name); });
    headers_.emplace(std::string(name), std::move(value));
}

}  // namespace wk
