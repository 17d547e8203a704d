#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/wk/Navigation.h"
#include "platform/wk/URLRequest.h"

namespace wk {

// What renders one web view's pages: the operations the web view passes on. An engine
// reports back through the EngineClient it was made with, never synchronously from inside one
// of these calls (loads, scripts and dialogs answer on a later turn of the main run loop).
// The configuration it was made with tells it the user content controller (message handler
// names, user scripts), the schemes that have handlers, the preferences and the data store.
// Main thread only.
class Engine {
public:
    virtual ~Engine() = default;

    // Each load answers the navigation that its delegate events will name, or null when there
    // is nothing to load.
    virtual std::shared_ptr<Navigation> loadRequest(const URLRequest& request) = 0;
    virtual std::shared_ptr<Navigation> loadFileURL(const ns::URL& url,
                                                    const ns::URL& readAccessURL) = 0;
    virtual std::shared_ptr<Navigation> loadHTMLString(const std::string& html,
                                                       const std::optional<ns::URL>& baseURL) = 0;
    virtual std::shared_ptr<Navigation> reload() = 0;
    virtual void stopLoading() = 0;
    virtual std::shared_ptr<Navigation> goBack() = 0;
    virtual std::shared_ptr<Navigation> goForward() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;

    // The committed page's URL and title; nothing before the first commit.
    virtual std::optional<ns::URL> url() const = 0;
    virtual std::optional<std::string> title() const = 0;
    virtual bool isLoading() const = 0;
    virtual double estimatedProgress() const = 0;

    // Runs the script in the main frame; the completion gets the value of its last statement
    // (null for undefined) or the error it raised. The script is handed over: callback scripts
    // can carry many megabytes.
    virtual void evaluateJavaScript(std::string script,
                                    std::function<void(ns::Result<ns::Value>)> completion) = 0;
    // Calls `body` as the body of a function whose parameters are the arguments' names (in
    // the dictionary's order), in the main frame, handing the arguments over as values: a
    // string travels as it is and is never written into a script, so an answer of many
    // megabytes costs neither escaping nor compiling. Strings, numbers and booleans only. The
    // completion gets the function's value (awaited when it is a promise) or the error it
    // raised. By default, the same as evaluating functionCallScript().
    virtual void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                     std::function<void(ns::Result<ns::Value>)> completion);
    // "(function(name, ...){body})(value, ...)" with each value written as JSON.
    static std::string functionCallScript(std::string_view body, const ns::Dictionary& arguments);
    // The whole user agent, or nothing for the engine's own with the configuration's
    // application name appended.
    virtual void setCustomUserAgent(const std::optional<std::string>& userAgent) = 0;
};

}  // namespace wk
