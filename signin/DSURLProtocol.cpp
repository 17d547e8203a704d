#include "signin/DSURLProtocol.h"

#include <map>

#include "platform/dispatch/Mutex.h"
#include "platform/net/URLError.h"
#include "platform/net/URLProtectionSpace.h"
#include "platform/ns/Format.h"
#include "platform/ns/StringComponents.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSCustomHeaderHandler.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSTelemetryUIEvent.h"

namespace {

// The user-cancelled code of the platform's own errors, with which the old load of a followed
// redirect ends.
constexpr int64_t kUserCancelledError = 3072;

struct ClassState {
    dispatch::Mutex mutex;
    std::map<std::string, std::shared_ptr<const DSURLProtocol::Handler>> handlers GUARDED_BY(mutex);
    std::optional<std::string> endURL GUARDED_BY(mutex);
    std::shared_ptr<DSTelemetryUIEvent> telemetryEvent GUARDED_BY(mutex);
};

ClassState& classState() {
    static ClassState* state = new ClassState();  // asked from the loading system's threads
    return *state;
}

std::optional<ns::UUID> correlationIdOf(const net::URLRequest& request) {
    const ns::Value* tag =
        net::URLProtocol::propertyForKey(DSURLProtocol::kCorrelationIdKey, request);
    if (!tag || !tag->string()) return std::nullopt;
    return ns::UUID::fromString(*tag->string());
}

void logHost(const char* message, const net::URLRequest& request) {
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, message, DS_ERROR_SUCCEEDED,
                        correlationIdOf(request), nullptr, "host: %@",
                        request.url().host().value_or("(null)"));
}

}  // namespace

// The inner load's events, forwarded to the protocol object while it lives.
class DSURLProtocol::Connection : public net::URLSessionDelegate {
public:
    explicit Connection(std::weak_ptr<DSURLProtocol> protocol) : protocol_(std::move(protocol)) {}

    void willPerformHTTPRedirection(net::URLSession&, net::URLSessionTask& task,
                                    std::shared_ptr<const net::URLResponse> response,
                                    net::URLRequest newRequest,
                                    const RedirectionHandler& handler) override {
        if (auto p = protocol_.lock()) {
            p->willRedirect(task, std::move(response), std::move(newRequest), handler);
        } else {
            handler(std::nullopt);
        }
    }
    void didReceiveChallenge(net::URLSession&, net::URLSessionTask&,
                             const net::URLAuthenticationChallenge& challenge,
                             const ChallengeHandler& completion) override {
        if (auto p = protocol_.lock()) {
            p->didReceiveChallenge(challenge, completion);
        } else {
            completion(net::URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge,
                       nullptr);
        }
    }
    void didReceiveResponse(net::URLSession&, net::URLSessionTask&,
                            std::shared_ptr<const net::URLResponse> response) override {
        if (auto p = protocol_.lock()) {
            p->client()->didReceiveResponse(*p, std::move(response),
                                            net::URLCacheStoragePolicy::NotAllowed);
        }
    }
    void didReceiveData(net::URLSession&, net::URLSessionTask&, const ns::Data& data) override {
        if (auto p = protocol_.lock()) p->client()->didLoadData(*p, data);
    }
    void didCompleteWithError(net::URLSession&, net::URLSessionTask&,
                              const std::optional<ns::Error>& error) override {
        if (auto p = protocol_.lock()) p->didComplete(error);
    }

private:
    std::weak_ptr<DSURLProtocol> protocol_;
};

void DSURLProtocol::registerHandler(std::shared_ptr<const Handler> handler,
                                    const std::optional<std::string>& authMethod) {
    if (!handler || !authMethod) return;
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    state.handlers[ns::asciiLowercased(*authMethod)] = std::move(handler);
}

bool DSURLProtocol::registerProtocol(const std::string& endURL,
                                     std::shared_ptr<DSTelemetryUIEvent> telemetryEvent) {
    interceptSignInPage(endURL, std::move(telemetryEvent));
    return net::URLProtocol::registerClass<DSURLProtocol>();
}

void DSURLProtocol::unregisterProtocol() {
    net::URLProtocol::unregisterClass<DSURLProtocol>();
    stopIntercepting();
}

void DSURLProtocol::interceptSignInPage(const std::string& endURL,
                                        std::shared_ptr<DSTelemetryUIEvent> telemetryEvent) {
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    state.endURL = ns::asciiLowercased(endURL);
    state.telemetryEvent = std::move(telemetryEvent);
}

void DSURLProtocol::stopIntercepting() {
    std::vector<std::shared_ptr<const Handler>> handlers;
    {
        ClassState& state = classState();
        dispatch::Lock lock(state.mutex);
        state.endURL.reset();
        state.telemetryEvent.reset();
        for (const auto& [method, handler] : state.handlers) handlers.push_back(handler);
    }
    // Told outside the lock: a handler may register itself again.
    for (const auto& handler : handlers)
        if (handler->resetHandler) handler->resetHandler();
}

std::optional<std::string> DSURLProtocol::endURL() {
    ClassState& state = classState();
    dispatch::Lock lock(state.mutex);
    return state.endURL;
}

void DSURLProtocol::addCorrelationId(const std::optional<ns::UUID>& correlationId,
                                     net::URLRequest& request) {
    if (!correlationId) return;
    net::URLProtocol::setProperty(correlationId->UUIDString(), kCorrelationIdKey, request);
}

bool DSURLProtocol::canInitWithRequest(const net::URLRequest& request) {
    if (propertyForKey(kProtocolMark, request)) return false;
    if (ns::asciiLowercased(request.url().scheme().value_or("")) == "https") {
        logHost("+[DSURLProtocol canInitWithRequest:] handling host", request);
        return true;
    }
    logHost("+[DSURLProtocol canInitWithRequest:] ignoring handling of host", request);
    return false;
}

net::URLRequest DSURLProtocol::canonicalRequestForRequest(const net::URLRequest& request) {
    logHost("+[DSURLProtocol canonicalRequestForRequest:]", request);
    return request;
}

DSURLProtocol::Interception DSURLProtocol::interceptionOf(const ns::URL& url) {
    const std::optional<std::string> end = endURL();
    if (end && !end->empty() && ns::asciiLowercased(url.absoluteString()).starts_with(*end))
        return Interception::End;
    return url.scheme() == "http" ? Interception::Stop : Interception::Load;
}

DSURLProtocol::DSURLProtocol(net::URLRequest request,
                             std::shared_ptr<net::URLProtocolClient> client)
    : net::URLProtocol(std::move(request), std::move(client)) {}

DSURLProtocol::~DSURLProtocol() {
    if (connection_) connection_->cancel();
}

std::string DSURLProtocol::host() const {
    return request().url().host().value_or("(null)");
}

void DSURLProtocol::startLoading() {
    if (auto id = correlationIdOf(request())) correlationId_ = id;
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "-[DSURLProtocol startLoading]",
                        DS_ERROR_SUCCEEDED, correlationId_, nullptr, "host: %@", host());
    net::URLRequest marked = request();
    net::URLProtocol::setProperty(true, kProtocolMark, marked);

    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForRequest(marked.timeoutInterval());
    auto self = std::static_pointer_cast<DSURLProtocol>(shared_from_this());
    auto session = net::URLSession::sessionWithConfiguration(
        std::move(configuration), std::make_shared<Connection>(self),
        dispatch::Queue::createSerial("signin.urlprotocol"));
    connection_ = session->dataTask(std::move(marked));
    session->finishTasksAndInvalidate();
    connection_->resume();
}

void DSURLProtocol::stopLoading() {
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "-[DSURLProtocol stopLoading]",
                        DS_ERROR_SUCCEEDED, correlationId_, nullptr, "host: %@", host());
    cancelled_ = true;
    if (connection_) connection_->cancel();
    connection_.reset();
}

void DSURLProtocol::didComplete(const std::optional<ns::Error>& error) {
    if (cancelled_) return;
    if (!error) {
        client()->didFinishLoading(*this);
        return;
    }
    DSLogger::logFormat(DS_LOG_LEVEL_ERROR, nullptr,
                        "-[DSURLProtocol connection:didFailedWithError:]", error->code(),
                        correlationId_, nullptr, "error: %@", error->description());
    client()->didFailWithError(*this, *error);
}

void DSURLProtocol::didReceiveChallenge(
    const net::URLAuthenticationChallenge& challenge,
    const net::URLSessionDelegate::ChallengeHandler& completion) {
    const std::string method =
        ns::asciiLowercased(challenge.protectionSpace().authenticationMethod());
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr,
                        "connection:willSendRequestForAuthenticationChallenge:", DS_ERROR_SUCCEEDED,
                        correlationId_, nullptr, "%@. Previous challenge failure count: %ld",
                        method, static_cast<long>(challenge.previousFailureCount()));
    std::shared_ptr<const Handler> handler;
    std::shared_ptr<DSTelemetryUIEvent> event;
    {
        ClassState& state = classState();
        dispatch::Lock lock(state.mutex);
        if (auto it = state.handlers.find(method); it != state.handlers.end()) handler = it->second;
        event = state.telemetryEvent;
    }
    if (handler && handler->handleChallenge &&
        handler->handleChallenge(challenge, completion, *this)) {
        if (event && method == ns::asciiLowercased(net::kURLAuthenticationMethodNTLM))
            event->setNtlm("yes");
        return;
    }
    completion(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, nullptr);
}

void DSURLProtocol::willRedirect(net::URLSessionTask& task,
                                 std::shared_ptr<const net::URLResponse> response,
                                 net::URLRequest newRequest,
                                 const net::URLSessionDelegate::RedirectionHandler& handler) {
    const ns::URL& next = newRequest.url();
    DSLogger::logFormat(
        DS_LOG_LEVEL_VERBOSE, nullptr, "-[DSURLProtocol connection:willSendRequest:]",
        DS_ERROR_SUCCEEDED, correlationId_, nullptr, "Redirect response: %@. New request:%@",
        response ? response->url().absoluteString() : std::string("(null)"), next.absoluteString());
    if (next.scheme() == "http") {
        const std::optional<std::string> end = endURL();
        if (end && ns::asciiLowercased(next.absoluteString()).starts_with(*end)) {
            // The sign-in has reached its end: whoever watches the load reads the outcome
            // from the failing URL.
            cancelled_ = true;
            task.cancel();
            client()->didFailWithError(*this,
                                       net::makeURLError(net::kURLErrorCannotFindHost, next));
        }
        handler(std::nullopt);
        return;
    }
    net::URLRequest copy = std::move(newRequest);
    DSCustomHeaderHandler::applyCustomHeadersTo(copy);
    addCorrelationId(correlationId_, copy);
    // Without the mark, the protocol takes the new request again when the client loads it.
    net::URLProtocol::removePropertyForKey(kProtocolMark, copy);
    client()->wasRedirectedToRequest(*this, copy, std::move(response));
    cancelled_ = true;
    task.cancel();
    client()->didFailWithError(
        *this, ns::Error(ns::kCocoaErrorDomain, kUserCancelledError, ns::Dictionary{}));
    handler(std::nullopt);
}
