#include "sdk/core/NEBRequestSession.h"

#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/ns/StringComponents.h"

namespace {

bool isHTTPS(const ns::URL& url) {
    return ns::asciiLowercased(url.scheme().value_or("")) == "https";
}

// Answers each redirect of its session by the rule.
class RedirectRule final : public net::URLSessionDelegate {
public:
    explicit RedirectRule(NEBRequestLimits limits) : limits_(std::move(limits)) {}
    void willPerformHTTPRedirection(net::URLSession&, net::URLSessionTask& task,
                                    std::shared_ptr<const net::URLResponse> response,
                                    net::URLRequest newRequest,
                                    const RedirectionHandler& completionHandler) override {
        NEBRequestSession::answerRedirect(limits_, task, response, std::move(newRequest),
                                          completionHandler);
    }

private:
    const NEBRequestLimits limits_;
};

}  // namespace

NEBRequestSession::NEBRequestSession(NEBRequestLimits limits)
    : limits_(std::move(limits)), rule_(std::make_shared<RedirectRule>(limits_)) {}

NEBRequestSession::~NEBRequestSession() {
    cancel();
}

bool NEBRequestSession::followsRedirect(const NEBRequestLimits& limits, int status,
                                        const ns::URL& from, const ns::URL& to) {
    if (limits.unfollowedRedirects.contains(status)) return false;
    return !isHTTPS(from) || isHTTPS(to);
}

void NEBRequestSession::answerRedirect(
    const NEBRequestLimits& limits, const net::URLSessionTask& task,
    const std::shared_ptr<const net::URLResponse>& response, net::URLRequest proposed,
    const std::function<void(std::optional<net::URLRequest>)>& answer) {
    const int status = response && response->http() ? response->http()->statusCode() : 0;
    if (followsRedirect(limits, status, task.currentRequest().url(), proposed.url())) {
        answer(std::move(proposed));
    } else {
        answer(std::nullopt);
    }
}

net::URLSessionConfiguration NEBRequestSession::configured(
    net::URLSessionConfiguration configuration, const NEBRequestLimits& limits) {
    configuration.setTimeoutIntervalForRequest(limits.timeout);
    configuration.setTimeoutIntervalForResource(limits.timeout);
    configuration.setMaximumResponseSize(limits.maximumResponseSize);
    return configuration;
}

std::shared_ptr<net::URLSession> NEBRequestSession::makeSession(
    const NEBRequestLimits& limits, std::shared_ptr<net::URLSessionDelegate> rule) {
    return net::URLSession::sessionWithConfiguration(
        configured(net::URLSessionConfiguration::defaultSessionConfiguration(), limits),
        std::move(rule));
}

net::URLSessionTask::DataCompletion NEBRequestSession::dataCompletion(Completion completion) {
    return [completion = std::move(completion)](std::optional<ns::Data> data,
                                                std::shared_ptr<const net::URLResponse> response,
                                                std::optional<ns::Error> error) {
        if (error) return completion(std::move(*error));
        completion(NEBReply{std::move(response), std::move(data).value_or(ns::Data())});
    };
}

void NEBRequestSession::send(net::URLRequest request, Completion completion) {
    std::shared_ptr<net::URLSessionTask> task;
    {
        dispatch::Lock lock(mutex_);
        if (!session_) session_ = makeSession(limits_, rule_);
        task = session_->dataTask(std::move(request), dataCompletion(std::move(completion)));
        task_ = task;
    }
    task->resume();
}

bool NEBRequestSession::inProgress() const {
    dispatch::Lock lock(mutex_);
    return task_ && task_->state() == net::URLSessionTaskState::Running;
}

void NEBRequestSession::cancel() {
    std::shared_ptr<net::URLSession> session;
    {
        dispatch::Lock lock(mutex_);
        session = std::move(session_);
        task_.reset();
    }
    if (session) session->invalidateAndCancel();
}

void NEBRequestSession::sendOnce(const NEBRequestLimits& limits, net::URLRequest request,
                                 Completion completion) {
    // The session holds its delegate for as long as the exchange runs.
    auto session = makeSession(limits, std::make_shared<RedirectRule>(limits));
    session->dataTask(std::move(request), dataCompletion(std::move(completion)))->resume();
    session->finishTasksAndInvalidate();
}
