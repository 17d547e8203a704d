#include "platform/net/BackgroundJob.h"

#include <cmath>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF8.h"
#include "platform/ns/UUID.h"

namespace net {

namespace {

constexpr int64_t kFormatVersion = 1;

bool isWebScheme(const std::optional<std::string>& scheme) {
    if (!scheme) return false;
    const std::string s = ns::asciiLowercased(*scheme);
    return s == "http" || s == "https";
}

// Only well-formed UTF-8: anything else is not text this program wrote.
const std::string* stringField(const ns::Value& object, std::string_view key) {
    const ns::Value* value = object.find(key);
    const std::string* text = value ? value->string() : nullptr;
    return text && ns::utf8::isValid(*text) ? text : nullptr;
}

std::optional<HTTPHeaderFields> headersFrom(const ns::Value& value) {
    const ns::Dictionary* dict = value.dictionary();
    if (!dict) return std::nullopt;
    HTTPHeaderFields headers;
    for (const auto& [name, field] : *dict) {
        const std::string* text = field.string();
        if (!text || !ns::utf8::isValid(*text) || !isHeaderFieldName(name) ||
            !isHeaderFieldValue(*text)) {
            return std::nullopt;
        }
        setHeaderValue(headers, name, *text);
    }
    return headers;
}

}  // namespace

BackgroundJob::BackgroundJob(std::string identifier, std::string sessionIdentifier,
                             URLRequest request, std::string bodyFile)
    : identifier_(std::move(identifier)),
      sessionIdentifier_(std::move(sessionIdentifier)),
      request_(std::move(request)),
      bodyFile_(std::move(bodyFile)) {}

std::string BackgroundJob::serialized() const {
    ns::Dictionary headers;
    for (const auto& [name, value] : request_.allHTTPHeaderFields()) headers[name] = value;
    ns::Value object = ns::Value::dict({
        {"version", kFormatVersion},
        {"id", identifier_},
        {"session", sessionIdentifier_},
        {"url", request_.url().absoluteString()},
        {"method", request_.HTTPMethod()},
        {"headers", std::move(headers)},
        {"bodyFile", bodyFile_},
        {"timeout", request_.timeoutInterval()},
        {"cachePolicy", static_cast<int>(request_.cachePolicy())},
    });
    // Every field is a string, number or dictionary of strings: writing cannot fail.
    return ns::JSONSerialization::write(object).valueOr(std::string());
}

std::optional<BackgroundJob> BackgroundJob::parse(std::string_view text) {
    if (text.size() > kMaximumSerializedSize) return std::nullopt;
    ns::JSONReadOptions options;
    options.maxDepth = 4;
    auto parsed = ns::JSONSerialization::read(text, options);
    if (!parsed || !parsed->isDictionary()) return std::nullopt;
    const ns::Value& object = *parsed;

    if (object["version"].int64() != kFormatVersion) return std::nullopt;
    const std::string* id = stringField(object, "id");
    const std::string* session = stringField(object, "session");
    const std::string* urlText = stringField(object, "url");
    const std::string* method = stringField(object, "method");
    const std::string* bodyFile = stringField(object, "bodyFile");
    if (!id || !session || !urlText || !method || !bodyFile) return std::nullopt;
    if (!ns::UUID::fromString(*id) || session->empty() || !isHeaderFieldName(*method)) {
        return std::nullopt;
    }
    if (bodyFile->empty() || bodyFile->front() != '/') return std::nullopt;

    auto url = ns::URL::parse(*urlText);
    if (!url || !isWebScheme(url->scheme()) || !url->host() || url->host()->empty()) {
        return std::nullopt;
    }
    auto headers = headersFrom(object["headers"]);
    auto timeout = object["timeout"].number();
    auto policy = object["cachePolicy"].int64();
    if (!headers || !timeout || !std::isfinite(*timeout) || !policy || *policy < 0 || *policy > 3) {
        return std::nullopt;
    }

    URLRequest request(*url, static_cast<URLRequestCachePolicy>(*policy), *timeout);
    request.setHTTPMethod(*method);
    request.setAllHTTPHeaderFields(std::move(*headers));
    return BackgroundJob(*id, *session, std::move(request), *bodyFile);
}

}  // namespace net
