#include "signin/DSWebRequest.h"

#include "platform/dispatch/QueueContract.h"
#include "platform/net/URLError.h"
#include "platform/ns/Format.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSAuthenticationSettings.h"
#include "signin/DSHelpers.h"
#include "signin/DSLogger.h"
#include "signin/DSRequestContext.h"
#include "signin/DSTelemetry.h"
#include "signin/DSTelemetryHttpEvent.h"
#include "signin/DSURLProtocol.h"

namespace {

constexpr const char* kHttpRequestEvent = "http_request";

uint32_t configuredTimeout() {
    const int32_t seconds = DSAuthenticationSettings::sharedInstance().requestTimeOut();
    return seconds <= 0 ? DSWebRequest::kDefaultTimeout : static_cast<uint32_t>(seconds);
}

}  // namespace

// Forwards the session's events to the request and keeps it alive while the load runs.
class DSWebRequest::SessionDelegate : public net::URLSessionDelegate {
public:
    explicit SessionDelegate(std::shared_ptr<DSWebRequest> request)
        : request_(std::move(request)) {}

    void willPerformHTTPRedirection(net::URLSession&, net::URLSessionTask&,
                                    std::shared_ptr<const net::URLResponse> response,
                                    net::URLRequest newRequest,
                                    const RedirectionHandler& handler) override {
        request_->willRedirect(std::move(response), std::move(newRequest), handler);
    }
    void didReceiveResponse(net::URLSession&, net::URLSessionTask& task,
                            std::shared_ptr<const net::URLResponse> response) override {
        request_->didReceiveResponse(task, std::move(response));
    }
    void didReceiveData(net::URLSession&, net::URLSessionTask& task,
                        const ns::Data& data) override {
        request_->didReceiveData(task, data);
    }
    void didCompleteWithError(net::URLSession&, net::URLSessionTask&,
                              const std::optional<ns::Error>& error) override {
        request_->didComplete(error);
    }

private:
    std::shared_ptr<DSWebRequest> request_;
};

std::shared_ptr<DSWebRequest> DSWebRequest::initWithURL(const ns::URL& url,
                                                        const DSRequestContext& context) {
    return std::make_shared<DSWebRequest>(url, context);
}

DSWebRequest::DSWebRequest(const ns::URL& url, const DSRequestContext& context)
    : requestURL_(url),
      correlationId_(context.correlationId()),
      timeout_(configuredTimeout()),
      operationQueue_(dispatch::Queue::createSerial("signin.webrequest")),
      telemetryRequestId_(context.telemetryRequestId()) {}

void DSWebRequest::setBody(std::optional<ns::Data> body) {
    if (body) body_ = std::move(body);
}

void DSWebRequest::send(Completion completion) {
    completionHandler_ = std::move(completion);
    resend();
}

void DSWebRequest::resend() {
    response_.reset();
    responseData_ = ns::Data();
    refusal_.reset();
    redirections_ = 0;
    completed_ = false;
    sendSteps();
}

void DSWebRequest::sendSteps() {
    DSTelemetry::sharedInstance().startEvent(telemetryRequestId_, std::string(kHttpRequestEvent));

    // The library's identification wins over a caller's header of the same name.
    for (const auto& [key, value] : DSLogger::salId())
        net::setHeaderValue(headers_, key, value.stringValue());
    if (correlationId_) {
        net::setHeaderValue(headers_, "client-request-id", correlationId_->UUIDString());
        net::setHeaderValue(headers_, "return-client-request-id", "true");
    }
    if (body_) net::setHeaderValue(headers_, "Content-Length", std::to_string(body_->length()));

    const ns::URL url = DSHelpers::addClientVersionToURL(requestURL_).value_or(requestURL_);
    net::URLRequest request(url, net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                            static_cast<double>(timeout_));
    request.setHTTPMethod(isGetRequest_ ? "GET" : "POST");
    request.setAllHTTPHeaderFields(headers_);
    if (body_) request.setHTTPBody(*body_);
    DSURLProtocol::addCorrelationId(correlationId_, request);
    currentRequest_ = request;

    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForRequest(static_cast<double>(timeout_));
    // The session keeps its delegate, and so this request, until the task has completed; it
    // is only touched here, since the completion may already run on the queue meanwhile.
    auto session = net::URLSession::sessionWithConfiguration(
        std::move(configuration), std::make_shared<SessionDelegate>(shared_from_this()),
        operationQueue_);
    auto task = session->dataTask(std::move(request));
    session->finishTasksAndInvalidate();
    task->resume();
}

void DSWebRequest::willRedirect(std::shared_ptr<const net::URLResponse> /*response*/,
                                net::URLRequest proposed,
                                const net::URLSessionDelegate::RedirectionHandler& handler) {
    HYB_EXPECT_QUEUE(*operationQueue_);
    const bool fromHttps = currentRequest_ && currentRequest_->url().scheme() == "https";
    if (fromHttps && proposed.url().scheme() != "https") {
        // Tokens and codes must not travel in the clear: stop here and fail the request.
        DSAuthenticationError refused =
            DSAuthenticationError::errorFromNonHttpsRedirect(correlationId_);
        // Callers see a plain error: its description carries the details.
        refused.mutableUserInfo()[ns::kLocalizedDescriptionKey] =
            refused.errorDetails().value_or("");
        refusal_ = refused;
        handler(std::nullopt);
        return;
    }
    if (++redirections_ > kMaxRedirections) {
        refusal_ = net::makeURLError(net::kURLErrorHTTPTooManyRedirects, proposed.url());
        handler(std::nullopt);
        return;
    }
    // The platform's own rule decides what the next request is: after a POST, 301, 302 and
    // 303 become a GET without body (a one-time grant is never sent twice, nor to another
    // host), while 307 and 308 keep method and body. Our headers travel with it, less those
    // that described the body it no longer has.
    net::URLRequest next = std::move(proposed);
    if (!next.HTTPBody()) {
        next.setValue(std::nullopt, "Content-Length");
        next.setValue(std::nullopt, "Content-Type");
    }
    next.setURL(DSHelpers::addClientVersionToURL(next.url()).value_or(next.url()));
    next.mutableProtocolProperties() = {};
    DSURLProtocol::addCorrelationId(correlationId_, next);
    currentRequest_ = next;
    handler(std::move(next));
}

void DSWebRequest::didReceiveResponse(net::URLSessionTask& task,
                                      std::shared_ptr<const net::URLResponse> response) {
    HYB_EXPECT_QUEUE(*operationQueue_);
    response_ = std::move(response);
    responseData_ = ns::Data();
    if (response_ && response_->expectedContentLength() > static_cast<int64_t>(kMaxResponseBody)) {
        refusal_ = net::makeURLError(net::kURLErrorDataLengthExceedsMaximum, response_->url());
        task.cancel();
    }
}

void DSWebRequest::didReceiveData(net::URLSessionTask& task, const ns::Data& data) {
    HYB_EXPECT_QUEUE(*operationQueue_);
    if (refusal_) return;
    if (responseData_.length() + data.length() > kMaxResponseBody) {
        refusal_ = net::makeURLError(net::kURLErrorDataLengthExceedsMaximum, requestURL_);
        task.cancel();
        return;
    }
    responseData_.append(data.bytes(), data.length());
}

void DSWebRequest::didComplete(const std::optional<ns::Error>& error) {
    HYB_EXPECT_QUEUE(*operationQueue_);
    if (refusal_) {
        completeWithError(refusal_, nullptr);
    } else if (error) {
        completeWithError(error, nullptr);
    } else if (auto response = DSWebResponse::initWithResponse(response_, responseData_)) {
        completeWithError(std::nullopt, std::move(response));
    } else {
        completeWithError(net::makeURLError(net::kURLErrorBadServerResponse, requestURL_), nullptr);
    }
}

void DSWebRequest::completeWithError(std::optional<ns::Error> error,
                                     std::shared_ptr<DSWebResponse> response) {
    HYB_EXPECT_QUEUE(*operationQueue_);
    if (completed_) return;
    completed_ = true;
    response_.reset();
    responseData_ = ns::Data();

    auto event = std::make_shared<DSTelemetryHttpEvent>(std::string(kHttpRequestEvent),
                                                        telemetryRequestId_, correlationId_);
    event->setHttpMethod(isGetRequest_ ? "GET" : "POST");
    event->setHttpPath(ns::format("%@://%@/%@", requestURL_.scheme().value_or(""),
                                  requestURL_.host().value_or(""), requestURL_.path()));
    event->setHttpRequestIdHeader(
        response ? net::headerValue(response->headers(), "client-request-id") : std::nullopt);
    if (error) {
        event->setOAuthErrorCode(std::to_string(error->code()));
        event->setHttpErrorDomain(error->domain());
    } else if (response) {
        event->setHttpResponseCode(std::to_string(response->statusCode()));
    }
    DSTelemetry::sharedInstance().stopEvent(telemetryRequestId_, event);

    if (completionHandler_) completionHandler_(std::move(error), std::move(response));
}
