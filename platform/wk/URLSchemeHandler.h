#pragma once

#include <memory>

namespace wk {

class URLSchemeTask;
class WebView;

// Serves a web view's requests for one custom URL scheme.
class URLSchemeHandler {
public:
    virtual ~URLSchemeHandler() = default;
    // Answer through the task, now or later.
    virtual void startURLSchemeTask(const std::shared_ptr<WebView>& webView,
                                    const std::shared_ptr<URLSchemeTask>& task) = 0;
    // The web view no longer wants the answer; calls on the task are ignored from now on.
    virtual void stopURLSchemeTask(const std::shared_ptr<WebView>& webView,
                                   const std::shared_ptr<URLSchemeTask>& task) = 0;
};

}  // namespace wk
