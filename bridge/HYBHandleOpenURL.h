#pragma once

#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "platform/ns/URL.h"

// Hands a URL that the application was asked to open to the page's global function
// handleOpenURL, once the page has loaded (a URL that comes earlier waits; a later one
// replaces it).
class HYBHandleOpenURL : public HYBPlugin {
public:
    void pluginInitialize() override;

    void applicationLaunchedWithUrl(const ns::Notification& notification);
    void applicationPageDidLoad(const ns::Notification& notification);
    // The URL reaches the page as a string literal, whatever characters it holds.
    void processOpenUrl(const ns::URL& url, bool pageLoaded);
    // The script that hands the URL to the page's handleOpenURL once the page is ready.
    static std::string openURLScript(const ns::URL& url);

    bool pageLoaded() const { return pageLoaded_; }
    void setPageLoaded(bool loaded) { pageLoaded_ = loaded; }
    const std::optional<ns::URL>& url() const { return url_; }
    void setUrl(std::optional<ns::URL> url) { url_ = std::move(url); }

private:
    bool pageLoaded_ = false;
    std::optional<ns::URL> url_;
};
