#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/URL.h"

namespace wk {

// What a scheme handler answers before the body: a plain response (URL, MIME type, length,
// text encoding) or an HTTP one (status code, version and header fields as well).
class URLResponse {
  public:
    // A plain, non-HTTP response; a length of -1 means unknown.
    URLResponse(ns::URL url, std::optional<std::string> mimeType, int64_t expectedContentLength,
                std::optional<std::string> textEncodingName)
        : url_(std::move(url)),
          mimeType_(std::move(mimeType)),
          expectedContentLength_(expectedContentLength),
          textEncodingName_(std::move(textEncodingName)) {}
    // An HTTP response. The MIME type and text encoding come from "Content-Type", the expected
    // length from "Content-Length" (-1 without it).
    static URLResponse http(ns::URL url, int statusCode, std::string httpVersion,
                            std::map<std::string, std::string> headerFields);

    const ns::URL& url() const { return url_; }
    const std::optional<std::string>& mimeType() const { return mimeType_; }
    int64_t expectedContentLength() const { return expectedContentLength_; }
    const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }

    bool isHTTP() const { return statusCode_.has_value(); }
    // Nothing for a plain response.
    const std::optional<int>& statusCode() const { return statusCode_; }
    const std::string& httpVersion() const { return httpVersion_; }
    const std::map<std::string, std::string>& allHeaderFields() const { return headers_; }
    // Names compare without regard to letter case.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;

  private:
    ns::URL url_;
    std::optional<std::string> mimeType_;
    int64_t expectedContentLength_;
    std::optional<std::string> textEncodingName_;
    std::optional<int> statusCode_;
    std::string httpVersion_;
    std::map<std::string, std::string> headers_;
};

}  // namespace wk
