#include "platform/net/HTTPURLResponse.h"

#include <charconv>

#include "platform/ns/StringComponents.h"

namespace net {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<std::string> mimeTypeOf(const HTTPHeaderFields& headers) {
    auto type = headerValue(headers, "Content-Type");
    if (!type) return std::nullopt;
    auto media = trim(std::string_view(*type).substr(0, type->find(';')));
    if (media.empty()) return std::nullopt;
    return ns::asciiLowercased(media);
}

std::optional<std::string> charsetOf(const HTTPHeaderFields& headers) {
    auto type = headerValue(headers, "Content-Type");
    if (!type) return std::nullopt;
    std::string_view rest(*type);
    for (size_t semi = rest.find(';'); semi != std::string_view::npos; semi = rest.find(';')) {
        rest.remove_prefix(semi + 1);
        auto param = trim(rest.substr(0, rest.find(';')));
        auto eq = param.find('=');
        if (eq == std::string_view::npos ||
            ns::asciiLowercased(trim(param.substr(0, eq))) != "charset") {
            continue;
        }
        auto value = trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (!value.empty()) return ns::asciiLowercased(value);
    }
    return std::nullopt;
}

int64_t contentLengthOf(const HTTPHeaderFields& headers) {
    auto text = headerValue(headers, "Content-Length");
    if (!text) return -1;
    auto digits = trim(*text);
    int64_t length = -1;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (ec != std::errc() || end != digits.data() + digits.size() || length < 0) return -1;
    return length;
}

}  // namespace

HTTPURLResponse::HTTPURLResponse(ns::URL url, int statusCode, std::string HTTPVersion,
                                 HTTPHeaderFields headerFields)
    : URLResponse(std::move(url), mimeTypeOf(headerFields), contentLengthOf(headerFields),
                  charsetOf(headerFields)),
      statusCode_(statusCode),
      version_(std::move(HTTPVersion)),
      headers_(std::move(headerFields)) {}

}  // namespace net
