#include "platform/gtk/WebKitGtkNavigationReporter.h"

#include <utility>

#include "platform/wk/WebKitError.h"

namespace wk {

WebKitGtkNavigationReporter::WebKitGtkNavigationReporter(std::weak_ptr<EngineClient> client)
    : client_(std::move(client)) {}

void WebKitGtkNavigationReporter::started(std::shared_ptr<Navigation> navigation, bool allowed) {
    const bool retry = retried_ && retried_ == navigation;
    if (retried_ && !retry) cancel(retriedURL_);
    retried_.reset();
    current_ = std::move(navigation);
    ended_ = false;
    startTold_ = retry;
    if (allowed) tellStart();
}

void WebKitGtkNavigationReporter::redirected() {
    tellStart();
}

void WebKitGtkNavigationReporter::committed() {
    tellStart();
    auto client = client_.lock();
    if (client && current_) client->navigationCommitted(current_);
}

void WebKitGtkNavigationReporter::finished() {
    if (std::exchange(attemptEnding_, false)) return;
    auto navigation = std::exchange(current_, nullptr);
    const bool ended = std::exchange(ended_, true);
    auto client = client_.lock();
    if (client && navigation && !ended) client->navigationFinished(navigation);
}

void WebKitGtkNavigationReporter::failed(bool afterCommit, const ns::Error& error) {
    if (!inProgress()) return;
    tellStart();
    ended_ = true;
    auto navigation = current_;
    auto client = client_.lock();
    if (!client) return;
    if (afterCommit) {
        client->navigationFailed(navigation, error);
    } else {
        client->provisionalNavigationFailed(navigation, error);
    }
}

void WebKitGtkNavigationReporter::heldBack(const std::string& url) {
    if (!inProgress()) return;
    if (startTold_) {
        cancel(url);
    } else {
        ended_ = true;
    }
}

std::shared_ptr<Navigation> WebKitGtkNavigationReporter::retrying(const std::string& url) {
    if (!inProgress()) return nullptr;
    // The navigation goes on: a start held until now is its.
    tellStart();
    retried_ = current_;
    retriedURL_ = url;
    attemptEnding_ = true;
    return current_;
}

void WebKitGtkNavigationReporter::processEnded() {
    current_.reset();
    retried_.reset();
    attemptEnding_ = false;
}

void WebKitGtkNavigationReporter::tellStart() {
    if (!current_ || startTold_) return;
    startTold_ = true;
    auto navigation = current_;
    if (auto client = client_.lock()) client->provisionalNavigationStarted(navigation);
}

// The navigation in progress ends as one stopped before its page came.
void WebKitGtkNavigationReporter::cancel(const std::string& url) {
    if (!inProgress()) return;
    ended_ = true;
    auto navigation = current_;
    if (auto client = client_.lock()) {
        client->provisionalNavigationFailed(
            navigation, ns::Error(kURLErrorDomain, kURLErrorCancelled,
                                  {{ns::kLocalizedDescriptionKey, std::string("cancelled")},
                                   {kURLErrorFailingURLStringErrorKey, url}}));
    }
}

}  // namespace wk
