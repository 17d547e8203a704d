#pragma once

#include <cstdint>
#include <memory>

#include "platform/net/HTTPURLResponse.h"
#include "platform/ns/Data.h"
#include "platform/ns/URL.h"

// What a finished web request hands back: status, header fields, body and URL.
class DSWebResponse {
public:
    // Nothing without a response (or with one that is not HTTP).
    static std::shared_ptr<DSWebResponse> initWithResponse(
        std::shared_ptr<const net::URLResponse> response, ns::Data data);

    const net::HTTPHeaderFields& headers() const { return response_->allHeaderFields(); }
    int64_t statusCode() const { return response_->statusCode(); }
    const ns::URL& URL() const { return response_->url(); }
    const ns::Data& body() const { return body_; }

    DSWebResponse(std::shared_ptr<const net::URLResponse> response,
                  const net::HTTPURLResponse* http, ns::Data data)
        : holder_(std::move(response)), response_(http), body_(std::move(data)) {}

private:
    std::shared_ptr<const net::URLResponse> holder_;
    const net::HTTPURLResponse* response_;
    ns::Data body_;
};
