#pragma once

#include <optional>
#include <string>

#include "platform/ns/Date.h"

namespace wk {

// A cookie of a website data store. Name, domain and path identify it.
struct HTTPCookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path = "/";
    std::optional<ns::Date> expiresDate;  // nothing: it lasts the session only
    bool isSecure = false;
    bool isHTTPOnly = false;

    bool isSessionOnly() const { return !expiresDate.has_value(); }
    bool sameIdentity(const HTTPCookie& other) const {
        return name == other.name && domain == other.domain && path == other.path;
    }
};

}  // namespace wk
