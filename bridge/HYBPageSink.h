#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Result.h"
#include "platform/ns/Value.h"

class HYBPluginResult;

// The page as the command queue and the command delegate reach it: scripts evaluated in it,
// functions called in it with values, and answers to its calls. Its owner forwards these to
// the web view engine (made after the queue, and replaceable) and to the command delegate.
// Main thread, but sendPluginResult from any thread.
class HYBPageSink {
public:
    // The value the script evaluated to, or the error the page reported.
    using EvaluationHandler = std::function<void(ns::Result<ns::Value>)>;

    virtual ~HYBPageSink() = default;

    // Evaluates the script in the page now; nothing happens while there is no page.
    virtual void evaluateJavaScript(std::string script, EvaluationHandler completion) = 0;
    // Calls `body` as the body of a function of the named arguments, which reach the page as
    // values rather than as text in a script.
    virtual void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                     EvaluationHandler completion) = 0;
    // Answers the page's call `callbackId` with the result, as a plug-in would.
    virtual void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                  const std::optional<std::string>& callbackId) = 0;
};
