#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/ns/Data.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"

namespace net {

// The platform's cache policies. This layer keeps no response cache, so every policy loads
// from the network; the value is kept for callers that read it back.
enum class URLRequestCachePolicy : int {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReturnCacheDataElseLoad = 2,
    ReturnCacheDataDontLoad = 3,
};

// One HTTP request: URL, method, header fields, a body (bytes or a file), cache policy and
// time-out. A plain value: copies are independent.
class URLRequest {
public:
    static constexpr double kDefaultTimeoutInterval = 60.0;

    explicit URLRequest(
        ns::URL url,
        URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy,
        double timeoutInterval = kDefaultTimeoutInterval);

    const ns::URL& url() const { return url_; }
    void setURL(ns::URL url) { url_ = std::move(url); }

    // "GET" until set.
    const std::string& HTTPMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }
    // Whether the method sends no body (GET and HEAD), whatever body the request holds.
    bool methodSendsNoBody() const { return method_ == "GET" || method_ == "HEAD"; }
    // Whether sending the request twice has the effect of sending it once (GET, HEAD, OPTIONS,
    // TRACE, PUT, DELETE), so that a transport may repeat it on its own.
    bool methodIsIdempotent() const;

    const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
    void setAllHTTPHeaderFields(HTTPHeaderFields fields) { headers_ = std::move(fields); }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
        return headerValue(headers_, name);
    }
    // Sets or, with nullopt, removes the field.
    void setValue(std::optional<std::string> value, std::string_view field);
    // Adds to the field's value after a comma, as a repeated field would.
    void addValue(std::string_view value, std::string_view field) {
        addHeaderValue(headers_, field, value);
    }

    // The body as bytes; setting it drops a body file.
    const std::optional<ns::Data>& HTTPBody() const { return body_; }
    void setHTTPBody(std::optional<ns::Data> body);
    // The body read from a file when the request is sent; setting it drops body bytes.
    const std::optional<std::string>& HTTPBodyFile() const { return bodyFile_; }
    void setHTTPBodyFile(std::optional<std::string> path);

    // The URL of the top-level document that the request belongs to (a web view's loads).
    const std::optional<ns::URL>& mainDocumentURL() const { return mainDocumentURL_; }
    void setMainDocumentURL(std::optional<ns::URL> url) { mainDocumentURL_ = std::move(url); }

    URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    // Seconds a transfer may go without any bytes moving before it fails with "timed out".
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

    // Values that URL-loading protocols attach to a request (see URLProtocol); they travel
    // with copies of the request and are never sent.
    const ns::Dictionary& protocolProperties() const { return properties_; }
    ns::Dictionary& mutableProtocolProperties() { return properties_; }

private:
    ns::URL url_;
    std::string method_ = "GET";
    HTTPHeaderFields headers_;
    std::optional<ns::Data> body_;
    std::optional<std::string> bodyFile_;
    std::optional<ns::URL> mainDocumentURL_;
    URLRequestCachePolicy cachePolicy_;
    double timeoutInterval_;
    ns::Dictionary properties_;
};

}  // namespace net
