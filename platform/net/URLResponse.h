#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ns/URL.h"

namespace net {

class HTTPURLResponse;

// What a load answered, before its body: the URL, the MIME type, the expected length and the
// text encoding. HTTP answers are HTTPURLResponse objects; http() tells them apart, as asking
// whether a response answers "allHeaderFields" does on the platform. Immutable.
class URLResponse {
public:
    // -1 for an unknown expected length.
    URLResponse(ns::URL url, std::optional<std::string> MIMEType, int64_t expectedContentLength,
                std::optional<std::string> textEncodingName);
    virtual ~URLResponse() = default;

    const ns::URL& url() const { return url_; }
    const std::optional<std::string>& MIMEType() const { return mimeType_; }
    int64_t expectedContentLength() const { return expectedContentLength_; }
    const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }

    // This response as an HTTP response, or nullptr.
    virtual const HTTPURLResponse* http() const { return nullptr; }

private:
    ns::URL url_;
    std::optional<std::string> mimeType_;
    int64_t expectedContentLength_;
    std::optional<std::string> textEncodingName_;
};

}  // namespace net
