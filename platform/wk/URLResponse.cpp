#include "platform/wk/URLResponse.h"

#include <cstdlib>

#include "platform/wk/HeaderFields.h"

namespace wk {
namespace {

std::string trim(std::string_view text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    size_t e = text.find_last_not_of(" \t");
    return std::string(text.substr(b, e - b + 1));
}

std::string lowerCase(std::string text) {
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

URLResponse URLResponse::http(ns::URL url, int statusCode, std::string httpVersion,
                              std::map<std::string, std::string> headerFields) {
    std::optional<std::string> mimeType;
    std::optional<std::string> encoding;
    if (auto contentType = findHeaderField(headerFields, "Content-Type")) {
        std::string_view rest(*contentType);
        size_t semicolon = rest.find(';');
        std::string type = lowerCase(trim(rest.substr(0, semicolon)));
        if (!type.empty()) mimeType = type;
        while (semicolon != std::string_view::npos) {
            rest = rest.substr(semicolon + 1);
            semicolon = rest.find(';');
            std::string param = trim(rest.substr(0, semicolon));
            if (lowerCase(param.substr(0, 8)) == "charset=") {
                std::string value = param.substr(8);
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                    value = value.substr(1, value.size() - 2);
                }
                if (!value.empty()) encoding = lowerCase(value);
            }
        }
    }
    int64_t length = -1;
    if (auto text = findHeaderField(headerFields, "Content-Length")) {
        char* end = nullptr;
        long long n = std::strtoll(text->c_str(), &end, 10);
        if (end != text->c_str() && *end == '\0' && n >= 0) length = n;
    }
    URLResponse response(std::move(url), std::move(mimeType), length, std::move(encoding));
    response.statusCode_ = statusCode;
    response.httpVersion_ = std::move(httpVersion);
    response.headers_ = std::move(headerFields);
    return response;
}

std::optional<std::string> URLResponse::valueForHTTPHeaderField(std::string_view name) const {
    return findHeaderField(headers_, name);
}

}  // namespace wk
