#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"
#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/URL.h"
#include "platform/ns/UUID.h"
#include "signin/DSWebResponse.h"

class DSRequestContext;

// One HTTP request to the identity service. It adds the library's identification and
// correlation headers, follows redirections itself (by the platform's rule for method and
// body, keeping its headers, never from https down to http), bounds the answer's size and
// reports on a serial queue of its own, never on the caller's thread.
class DSWebRequest : public std::enable_shared_from_this<DSWebRequest> {
public:
    using Completion =
        std::function<void(std::optional<ns::Error>, std::shared_ptr<DSWebResponse>)>;

    // A time-out of zero or less in the settings means this one.
    static constexpr uint32_t kDefaultTimeout = 300;
    // Identity service answers are small; a larger body is refused rather than held.
    static constexpr size_t kMaxResponseBody = 1024 * 1024;
    static constexpr int kMaxRedirections = 10;

    static std::shared_ptr<DSWebRequest> initWithURL(const ns::URL& url,
                                                     const DSRequestContext& context);

    // Completes exactly once, on the request's queue, with an error or a response.
    void send(Completion completion);
    void resend();

    net::HTTPHeaderFields& headers() { return headers_; }
    void setHeaders(net::HTTPHeaderFields headers) { headers_ = std::move(headers); }
    const std::optional<ns::Data>& body() const { return body_; }
    void setBody(std::optional<ns::Data> body);
    uint32_t timeout() const { return timeout_; }
    void setTimeout(uint32_t seconds) { timeout_ = seconds == 0 ? kDefaultTimeout : seconds; }
    bool isGetRequest() const { return isGetRequest_; }
    void setIsGetRequest(bool get) { isGetRequest_ = get; }
    const ns::URL& URL() const { return requestURL_; }
    const std::optional<ns::UUID>& correlationId() const { return correlationId_; }
    const std::shared_ptr<dispatch::Queue>& operationQueue() const { return operationQueue_; }

    DSWebRequest(const ns::URL& url, const DSRequestContext& context);

private:
    class SessionDelegate;
    friend class SessionDelegate;

    void sendSteps();
    void willRedirect(std::shared_ptr<const net::URLResponse> response, net::URLRequest proposed,
                      const net::URLSessionDelegate::RedirectionHandler& handler);
    void didReceiveResponse(net::URLSessionTask& task,
                            std::shared_ptr<const net::URLResponse> response);
    void didReceiveData(net::URLSessionTask& task, const ns::Data& data);
    void didComplete(const std::optional<ns::Error>& error);
    void completeWithError(std::optional<ns::Error> error, std::shared_ptr<DSWebResponse> response);

    const ns::URL requestURL_;
    net::HTTPHeaderFields headers_;
    std::optional<ns::Data> body_;
    std::optional<ns::UUID> correlationId_;
    uint32_t timeout_;
    std::shared_ptr<dispatch::Queue> operationQueue_;
    bool isGetRequest_ = false;
    std::optional<std::string> telemetryRequestId_;
    Completion completionHandler_;

    // State of the load in flight; touched only on the operation queue once sent.
    std::optional<net::URLRequest> currentRequest_;
    std::shared_ptr<const net::URLResponse> response_;
    ns::Data responseData_;
    std::optional<ns::Error> refusal_;  // why the load was stopped, when we stopped it
    int redirections_ = 0;
    bool completed_ = false;
};
