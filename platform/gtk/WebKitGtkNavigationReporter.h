#pragma once

#include <memory>
#include <string>

#include "platform/ns/Error.h"
#include "platform/wk/EngineClient.h"
#include "platform/wk/Navigation.h"

namespace wk {

// Tells a view's client about the main frame's loads as navigations: each navigation's start
// once and its end (finished, or failed at the address it failed at) once.
//
// WebKitGTK reports loads, and a navigation may take more than one. A load whose request the
// engine's gate held back ends at once, and its navigation is decided and loaded again; a load
// that failed on a certificate the engine then trusts is tried again. Their first attempt's end
// and the next attempt's start are not the navigation's. Kept apart from WebKit's types, so
// that its rules are tested without a display. Main thread only.
class WebKitGtkNavigationReporter {
public:
    explicit WebKitGtkNavigationReporter(std::weak_ptr<EngineClient> client);

    // A load of `navigation` started. When a decision about the main frame let it through its
    // start is told now; otherwise the start waits until anything else comes of the load (a
    // load held back at the gate ends without a word). A load that takes over from a retry not
    // yet started ends the retried navigation as cancelled first.
    void started(std::shared_ptr<Navigation> navigation, bool allowed);
    void redirected();
    void committed();
    void finished();
    // Whether a load is in progress whose end was not told yet.
    bool inProgress() const { return current_ && !ended_; }
    // The load failed, before its page was committed or after.
    void failed(bool afterCommit, const ns::Error& error);
    // The gate held back the load's request at `url`: the load ends, as cancelled when its
    // start was told.
    void heldBack(const std::string& url);
    // The load failed and is tried again at `url` as the same navigation, which is answered:
    // the failed attempt's end and the next attempt's start are not told.
    std::shared_ptr<Navigation> retrying(const std::string& url);
    // The web content process ended: nothing more comes of the load.
    void processEnded();

private:
    void tellStart();
    void cancel(const std::string& url);

    std::weak_ptr<EngineClient> client_;
    std::shared_ptr<Navigation> current_;
    bool startTold_ = false;
    bool ended_ = false;
    // A navigation tried again: its next load's start is its own, told already.
    std::shared_ptr<Navigation> retried_;
    std::string retriedURL_;
    bool attemptEnding_ = false;  // the failed attempt's end is still to come
};

}  // namespace wk
