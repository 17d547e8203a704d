#pragma once

#include <string>
#include <string_view>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLResponse.h"

namespace net {

// An HTTP answer: status code, version and header fields (names compared without regard to
// case). The MIME type and text encoding come from "Content-Type" (lower-cased, parameters
// other than the charset dropped), the expected length from "Content-Length" (-1 when absent
// or not a number).
class HTTPURLResponse final : public URLResponse {
public:
    HTTPURLResponse(ns::URL url, int statusCode, std::string HTTPVersion,
                    HTTPHeaderFields headerFields);

    int statusCode() const { return statusCode_; }
    const std::string& HTTPVersion() const { return version_; }
    const HTTPHeaderFields& allHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
        return headerValue(headers_, name);
    }

    const HTTPURLResponse* http() const override { return this; }

private:
    int statusCode_;
    std::string version_;
    HTTPHeaderFields headers_;
};

}  // namespace net
