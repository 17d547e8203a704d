#pragma once

#include <optional>
#include <string>

namespace ns {

// One name/value pair of a URL's query, percent-decoded. A piece without "=" has no value.
struct URLQueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const URLQueryItem&) const = default;
};

}  // namespace ns
