#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wk/Preferences.h"
#include "platform/wk/ProcessPool.h"
#include "platform/wk/URLSchemeHandler.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebpagePreferences.h"
#include "platform/wk/WebsiteDataStore.h"

namespace wk {

// Media whose playback needs a user action.
enum AudiovisualMediaTypes : unsigned {
    kAudiovisualMediaTypeNone = 0,
    kAudiovisualMediaTypeAudio = 1,
    kAudiovisualMediaTypeVideo = 2,
    kAudiovisualMediaTypeAll = ~0u,
};

// How a web view is built. A web view takes a copy when it is made; the copy shares the
// preferences, user content controller, process pool, data store and scheme handlers, so
// changes to those reach the web view, while changes to the other settings do not.
class WebViewConfiguration {
public:
    // Fresh preferences, user content controller and process pool; the default data store.
    WebViewConfiguration();
    static std::shared_ptr<WebViewConfiguration> create() {
        return std::make_shared<WebViewConfiguration>();
    }
    std::shared_ptr<WebViewConfiguration> copy() const {
        return std::make_shared<WebViewConfiguration>(*this);
    }

    const std::shared_ptr<Preferences>& preferences() const { return preferences_; }
    const std::shared_ptr<WebpagePreferences>& defaultWebpagePreferences() const {
        return webpagePreferences_;
    }
    const std::shared_ptr<UserContentController>& userContentController() const {
        return userContentController_;
    }
    void setUserContentController(std::shared_ptr<UserContentController> c) {
        userContentController_ = std::move(c);
    }
    const std::shared_ptr<ProcessPool>& processPool() const { return processPool_; }
    void setProcessPool(std::shared_ptr<ProcessPool> pool) { processPool_ = std::move(pool); }
    const std::shared_ptr<WebsiteDataStore>& websiteDataStore() const { return dataStore_; }

    // Appended to the engine's user agent ("Mobile/15E148" by default).
    static constexpr const char* kDefaultApplicationNameForUserAgent = "Mobile/15E148";
    const std::optional<std::string>& applicationNameForUserAgent() const { return appName_; }
    void setApplicationNameForUserAgent(std::optional<std::string> n) { appName_ = std::move(n); }

    bool allowsInlineMediaPlayback() const { return inlineMedia_; }
    void setAllowsInlineMediaPlayback(bool on) { inlineMedia_ = on; }
    unsigned mediaTypesRequiringUserActionForPlayback() const { return mediaNeedingAction_; }
    void setMediaTypesRequiringUserActionForPlayback(unsigned types) {
        mediaNeedingAction_ = types;
    }
    // The older, all-or-nothing form of the setting above (systems before 10.0): the same
    // setting, so that an engine that reads the media types honours it.
    bool mediaPlaybackRequiresUserAction() const {
        return mediaNeedingAction_ != kAudiovisualMediaTypeNone;
    }
    void setMediaPlaybackRequiresUserAction(bool on) {
        mediaNeedingAction_ = on ? kAudiovisualMediaTypeAll : kAudiovisualMediaTypeNone;
    }
    bool suppressesIncrementalRendering() const { return suppressesIncremental_; }
    void setSuppressesIncrementalRendering(bool on) { suppressesIncremental_ = on; }
    bool allowsAirPlayForMediaPlayback() const { return airPlay_; }
    void setAllowsAirPlayForMediaPlayback(bool on) { airPlay_ = on; }
    bool ignoresViewportScaleLimits() const { return ignoresViewportScale_; }
    void setIgnoresViewportScaleLimits(bool on) { ignoresViewportScale_ = on; }

    // Serves the scheme's URLs. Throws (as the platform raises) for a scheme that the web
    // view handles itself or one that already has a handler. Schemes ignore letter case.
    void setURLSchemeHandler(std::shared_ptr<URLSchemeHandler> handler, std::string_view scheme);
    std::shared_ptr<URLSchemeHandler> urlSchemeHandler(std::string_view scheme) const;
    // The schemes that have handlers, lower-cased: an engine registers them before it loads.
    std::vector<std::string> urlSchemesWithHandlers() const {
        std::vector<std::string> schemes;
        for (const auto& [scheme, handler] : schemeHandlers_) schemes.push_back(scheme);
        return schemes;
    }

private:
    std::shared_ptr<Preferences> preferences_;
    std::shared_ptr<WebpagePreferences> webpagePreferences_;
    std::shared_ptr<UserContentController> userContentController_;
    std::shared_ptr<ProcessPool> processPool_;
    std::shared_ptr<WebsiteDataStore> dataStore_;
    std::optional<std::string> appName_ = std::string(kDefaultApplicationNameForUserAgent);
    bool inlineMedia_ = false;
    unsigned mediaNeedingAction_ = kAudiovisualMediaTypeAll;
    bool suppressesIncremental_ = false;
    bool airPlay_ = true;
    bool ignoresViewportScale_ = false;
    std::map<std::string, std::shared_ptr<URLSchemeHandler>> schemeHandlers_;
};

}  // namespace wk
