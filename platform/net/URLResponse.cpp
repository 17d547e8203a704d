#include "platform/net/URLResponse.h"

namespace net {

URLResponse::URLResponse(ns::URL url, std::optional<std::string> MIMEType,
                         int64_t expectedContentLength, std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(MIMEType)),
      expectedContentLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

}  // namespace net
