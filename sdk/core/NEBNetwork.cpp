#include "sdk/core/NEBNetwork.h"

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/Application.h"
#include "sdk/core/NEBNetworkConstants.h"
#include "sdk/core/NEBServiceHosts.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

std::shared_ptr<dispatch::Queue> orMain(std::shared_ptr<dispatch::Queue> queue) {
    return queue ? std::move(queue) : dispatch::Queue::main().shared_from_this();
}

bool isHTTP(const ns::URL& url) {
    auto scheme = ns::asciiLowercased(url.scheme().value_or(""));
    return (scheme == "http" || scheme == "https") && url.host() && !url.host()->empty();
}

}  // namespace

std::shared_ptr<NEBNetwork> NEBNetwork::create(const std::string& reachabilityHost,
                                               const NEBRequestLimits& limits) {
    auto network = std::make_shared<NEBNetwork>();
    network->limits_ = limits;
    // The measurement host may carry a port (a local server's); a name is watched, never a
    // port.
    auto host = NEBServiceHosts::hostWithoutPort(
        reachabilityHost.empty() ? NEBServiceHosts::measurementUploadHost() : reachabilityHost);
    network->reachability_ = NEBReachabilityChecker::create(network, network, host);
    if (!network->reachability_) return nullptr;
    if (dispatch::RunLoop::isMainThread()) {
        if (!network->reachability_->start()) return nullptr;
    } else {
        // The watch belongs to the main thread. Started from there later, a failure is logged
        // by the checker and the client stays disconnected.
        dispatch::Queue::main().async([checker = network->reachability_] { checker->start(); });
    }
    return network;
}

NEBNetwork::~NEBNetwork() {
    if (!reachability_) return;
    if (dispatch::RunLoop::isMainThread()) {
        reachability_->stop();
        return;
    }
    // A report may be due on the main thread: the watch is stopped and let go there, never
    // torn down under it.
    dispatch::Queue::main().async([checker = std::move(reachability_)] { checker->stop(); });
}

std::optional<net::URLRequest> NEBNetwork::makeRequest(
    const std::optional<ns::URL>& url, const std::shared_ptr<dispatch::Queue>& queue,
    const CompletionHandler& handler) {
    if (!url || url->absoluteString().empty()) {
        handleErrorWithCode(kNEBErrorCodeNetworkInvalidURL, queue, handler);
        return std::nullopt;
    }
    if (!isHTTP(*url)) {
        handleErrorWithCode(kNEBErrorCodeNetworkRequestCreation, queue, handler);
        return std::nullopt;
    }
    double timeout = timeoutInterval();
    return net::URLRequest(*url, net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                           timeout > 0 ? timeout : kNEBNetworkTimeOutInterval);
}

std::optional<std::string> NEBNetwork::postURL(const std::optional<ns::URL>& url,
                                               const ns::Data& payload,
                                               std::shared_ptr<dispatch::Queue> queue,
                                               bool usingBackgroundSession,
                                               CompletionHandler handler) {
    auto request = makeRequest(url, queue, handler);
    if (!request) return std::nullopt;
    ns::Data body;
    if (auto compressed = tbx_dataByGzippingData(payload)) {
        body = std::move(*compressed);
    } else if (!payload.empty()) {
        handleErrorWithCode(kNEBErrorCodeNetworkPayloadCompression, queue, handler);
        return std::nullopt;
    }
    request->setValue(std::to_string(body.length()), "Content-Length");
    request->setHTTPBody(std::move(body));
    request->setHTTPMethod("POST");
    request->setValue("application/x-www-form-urlencoded", "Content-Type");
    request->setValue("gzip", "Content-Encoding");

    return start(*request, true, usingBackgroundSession, std::move(queue), std::move(handler));
}

std::optional<std::string> NEBNetwork::getURL(const std::optional<ns::URL>& url,
                                              const net::HTTPHeaderFields& headers,
                                              std::shared_ptr<dispatch::Queue> queue,
                                              bool usingBackgroundSession,
                                              CompletionHandler handler) {
    auto request = makeRequest(url, queue, handler);
    if (!request) return std::nullopt;
    request->setHTTPMethod("GET");
    request->setAllHTTPHeaderFields(headers);

    return start(*request, false, usingBackgroundSession, std::move(queue), std::move(handler));
}

std::optional<std::string> NEBNetwork::start(const net::URLRequest& request, bool post,
                                             bool usingBackgroundSession,
                                             std::shared_ptr<dispatch::Queue> queue,
                                             CompletionHandler handler) {
    auto fetcher = NEBNetworkURLSession::create(weak_from_this(), limits_);
    fetcher->setBackgroundNetworkEnabled(usingBackgroundSession);
    // The session object has already reported a start it could not make, so a missing ID
    // needs no second report.
    auto completion = completionOnQueue(std::move(queue), std::move(handler));
    // Registered before the request starts, so that it counts as in progress at once.
    requests_.setObject(fetcher, fetcher->sessionID());
    auto id = post ? fetcher->sessionIDFromAsyncPOSTRequest(request, completion)
                   : fetcher->sessionIDFromAsyncGETRequest(request, completion);
    if (id) {
        nebNetwork_logWithLevel(NEBNetworkLogLevel::Debug,
                                post ? "Uploading data. Host" : "Downloading data. Host",
                                ns::Value(NEBNetworkLoggableURL(request.url().absoluteString())));
    }
    return id;
}

NEBNetworkURLSession::CompletionHandler NEBNetwork::completionOnQueue(
    std::shared_ptr<dispatch::Queue> queue, CompletionHandler handler) {
    queue = orMain(std::move(queue));
    std::weak_ptr<NEBNetwork> weakSelf = weak_from_this();
    return [weakSelf, queue, handler = std::move(handler)](
               std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Data> data,
               const std::string& sessionID, std::optional<ns::Error> error) {
        auto self = weakSelf.lock();
        if (!self) return;
        queue->async(
            [self, handler, response, data = std::move(data), sessionID, error = std::move(error)] {
                if (!sessionID.empty()) self->requests_.removeObjectForKey(sessionID);
                if (handler) handler(response, data, error);
            });
    };
}

bool NEBNetwork::takeUpBackgroundUpload(const std::string& sessionID,
                                        std::shared_ptr<dispatch::Queue> queue,
                                        CompletionHandler handler) {
    auto fetcher = NEBNetworkURLSession::restoredUpload(sessionID);
    if (!fetcher) return false;
    // In progress before its completion can come.
    requests_.setObject(fetcher, sessionID);
    fetcher->adopt(completionOnQueue(std::move(queue), std::move(handler)));
    return true;
}

void NEBNetwork::handleErrorWithCode(int64_t code, std::shared_ptr<dispatch::Queue> queue,
                                     CompletionHandler handler) {
    ns::Error error(kNEBNetworkErrorDomain, code,
                    {{kNEBNetworkErrorContext, "Failed to create network request"}});
    nebNetwork_logWithLevel(NEBNetworkLogLevel::Warning,
                            "Failed to create network request. Code, error",
                            std::vector<ns::Value>{code, NEBNetworkLoggableError(error)});
    if (!handler) return;
    orMain(std::move(queue))->async([handler = std::move(handler), error] {
        handler(nullptr, std::nullopt, error);
    });
}

std::shared_ptr<NEBNetworkReachabilityDelegate> NEBNetwork::reachabilityDelegate() const {
    dispatch::Lock lock(mutex_);
    return reachabilityDelegate_.lock();
}

void NEBNetwork::setReachabilityDelegate(std::weak_ptr<NEBNetworkReachabilityDelegate> delegate) {
    dispatch::Lock lock(mutex_);
    reachabilityDelegate_ = std::move(delegate);
}

std::shared_ptr<NEBNetworkLoggerDelegate> NEBNetwork::loggerDelegate() const {
    dispatch::Lock lock(mutex_);
    return loggerDelegate_.lock();
}

void NEBNetwork::setLoggerDelegate(const std::shared_ptr<NEBNetworkLoggerDelegate>& delegate) {
    if (!delegate) {
        ns::nslog(
            "<Nebula/Network/ERROR> Cannot set the network logger delegate: delegate does not "
            "conform to the network logger protocol.");
        return;
    }
    dispatch::Lock lock(mutex_);
    loggerDelegate_ = delegate;
}

void NEBNetwork::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                       SystemCompletionHandler handler) {
    NEBNetworkURLSession::handleEventsForBackgroundURLSessionID(sessionID, std::move(handler));
}

void NEBNetwork::installBackgroundEventsHook(ui::Application& application) {
    application.installHook<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
        "NEBNetwork", [](ui::Application& app, const std::string& identifier,
                         const ui::CompletionHandler& completion,
                         const std::function<void(ui::Application&, const std::string&,
                                                  const ui::CompletionHandler&)>& next) {
            if (!identifier.starts_with(kNEBNetworkBackgroundSessionConfigIDPrefix)) {
                return next(app, identifier, completion);
            }
            handleEventsForBackgroundURLSessionID(identifier, completion);
        });
}

void NEBNetwork::reachability(NEBReachabilityChecker&, NEBReachabilityStatus status) {
    networkConnected_.store(status == NEBReachabilityStatus::ViaWifi ||
                            status == NEBReachabilityStatus::ViaCellular);
    if (auto delegate = reachabilityDelegate()) delegate->reachabilityDidChange();
}

void NEBNetwork::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                         const std::vector<ns::Value>& contexts) {
    if (auto delegate = loggerDelegate()) {
        delegate->nebNetwork_logWithLevel(level, message, contexts);
        return;
    }
    NEBNetworkWriteConsoleLog(level, message, contexts, isDebugModeEnabled());
}

void NEBNetwork::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                         const ns::Value& context) {
    if (auto delegate = loggerDelegate()) {
        delegate->nebNetwork_logWithLevel(level, message, context);
        return;
    }
    nebNetwork_logWithLevel(level, message,
                            context.isNull() ? std::vector<ns::Value>{} : std::vector{context});
}

void NEBNetwork::nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) {
    if (auto delegate = loggerDelegate()) {
        delegate->nebNetwork_logWithLevel(level, message);
        return;
    }
    nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{});
}
