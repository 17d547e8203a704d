#include "platform/net/HTTPHeaderFields.h"

#include <algorithm>

namespace net {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

bool headerNameEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name) {
    auto it = fields.find(name);
    if (it == fields.end()) return std::nullopt;
    return it->second;
}

void setHeaderValue(HTTPHeaderFields& fields, std::string_view name, std::string value) {
    auto it = fields.find(name);
    if (it == fields.end()) {
        fields.emplace(std::string(name), std::move(value));
    } else {
        it->second = std::move(value);
    }
}

void addHeaderValue(HTTPHeaderFields& fields, std::string_view name, std::string_view value) {
    auto it = fields.find(name);
    if (it == fields.end()) {
        fields.emplace(std::string(name), std::string(value));
    } else {
        it->second.append(", ").append(value);
    }
}

bool describesBody(std::string_view name) {
    constexpr std::string_view kPrefix = "Content-";
    return name.size() > kPrefix.size() &&
           !CaseInsensitiveLess{}(name.substr(0, kPrefix.size()), kPrefix) &&
           !CaseInsensitiveLess{}(kPrefix, name.substr(0, kPrefix.size()));
}

bool carriesCredentials(std::string_view name) {
    return headerNameEquals(name, "Authorization") || headerNameEquals(name, "Cookie") ||
           headerNameEquals(name, "Proxy-Authorization");
}

bool isHeaderFieldName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), isTokenChar);
}

bool isHeaderFieldValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace net
