#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/URL.h"

namespace wk {

// A request for a URL as a web view loads it or hands it to a scheme handler.
class URLRequest {
  public:
    enum class CachePolicy {
        UseProtocolCachePolicy = 0,
        ReloadIgnoringLocalCacheData = 1,
        ReturnCacheDataElseLoad = 2,
        ReturnCacheDataDontLoad = 3,
    };
    static constexpr double kDefaultTimeoutInterval = 60.0;

    explicit URLRequest(ns::URL url, CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy,
                        double timeoutInterval = kDefaultTimeoutInterval)
        : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

    const ns::URL& url() const { return url_; }
    void setURL(ns::URL url) { url_ = std::move(url); }
    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }
    // The URL of the top-level document that the request belongs to.
    const std::optional<ns::URL>& mainDocumentURL() const { return mainDocumentURL_; }
    void setMainDocumentURL(std::optional<ns::URL> url) { mainDocumentURL_ = std::move(url); }
    CachePolicy cachePolicy() const { return cachePolicy_; }
    double timeoutInterval() const { return timeoutInterval_; }
    const std::optional<ns::Data>& httpBody() const { return body_; }
    void setHTTPBody(std::optional<ns::Data> body) { body_ = std::move(body); }

    const std::map<std::string, std::string>& allHTTPHeaderFields() const { return headers_; }
    // Header names compare without regard to letter case; setting replaces any same-named one.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
    void setValueForHTTPHeaderField(std::string value, std::string_view name);

  private:
    ns::URL url_;
    std::string method_ = "GET";
    std::optional<ns::URL> mainDocumentURL_;
    CachePolicy cachePolicy_;
    double timeoutInterval_;
    std::optional<ns::Data> body_;
    std::map<std::string, std::string> headers_;
};

}  // namespace wk
