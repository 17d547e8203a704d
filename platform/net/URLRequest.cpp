#include "platform/net/URLRequest.h"

#include <algorithm>

namespace net {

URLRequest::URLRequest(ns::URL url, URLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

void URLRequest::setValue(std::optional<std::string> value, std::string_view field) {
    if (value) {
        setHeaderValue(headers_, field, std::move(*value));
    } else if (auto it = headers_.find(field); it != headers_.end()) {
        headers_.erase(it);
    }
}

void URLRequest::setHTTPBody(std::optional<ns::Data> body) {
    body_ = std::move(body);
    if (body_) bodyFile_.reset();
}

void URLRequest::setHTTPBodyFile(std::optional<std::string> path) {
    bodyFile_ = std::move(path);
    if (bodyFile_) body_.reset();
}

bool URLRequest::methodIsIdempotent() const {
    static constexpr std::string_view kIdempotent[] = {"GET",   "HEAD", "OPTIONS",
                                                       "TRACE", "PUT",  "DELETE"};
    return std::find(std::begin(kIdempotent), std::end(kIdempotent), method_) !=
           std::end(kIdempotent);
}

}  // namespace net
