#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Value.h"
#include "platform/wk/FrameInfo.h"
#include "platform/wk/Navigation.h"
#include "platform/wk/NavigationAction.h"
#include "platform/wk/WindowFeatures.h"

namespace wk {

class URLSchemeTask;
class WebView;

// What an engine reports to the web view it works for (the web view implements it and hands
// the reports to its delegates, handlers and scheme handlers). Main thread only.
class EngineClient {
public:
    virtual ~EngineClient() = default;

    // A page posted to window.webkit.messageHandlers.NAME.
    // `bodyError` says why the body could not be converted in full (see ScriptMessage).
    virtual void scriptMessagePosted(const std::string& name, ns::Value body,
                                     const FrameInfo& frame,
                                     std::optional<ns::Error> bodyError = std::nullopt) = 0;
    // The same with the body as the JSON text (any JSON value) that the engine received.
    virtual void scriptMessagePostedAsJSON(const std::string& name, ns::JSONSlice body,
                                           const FrameInfo& frame) = 0;

    // Asks for the policy of a navigation; `decide` is called exactly once.
    virtual void navigationActionToDecide(const NavigationAction& action,
                                          std::function<void(NavigationActionPolicy)> decide) = 0;
    // The main frame's response; the default lets it show.
    virtual void navigationResponseToDecide(const NavigationResponse& /*response*/,
                                            std::function<void(NavigationResponsePolicy)> decide) {
        decide(NavigationResponsePolicy::Allow);
    }
    virtual void provisionalNavigationStarted(const std::shared_ptr<Navigation>& navigation) = 0;
    virtual void navigationCommitted(const std::shared_ptr<Navigation>& navigation) = 0;
    virtual void navigationFinished(const std::shared_ptr<Navigation>& navigation) = 0;
    virtual void provisionalNavigationFailed(const std::shared_ptr<Navigation>& navigation,
                                             const ns::Error& error) = 0;
    virtual void navigationFailed(const std::shared_ptr<Navigation>& navigation,
                                  const ns::Error& error) = 0;
    virtual void webContentProcessTerminated() = 0;

    // A request for a URL of a custom scheme; false when no handler serves that scheme.
    virtual bool schemeTaskStarted(const std::shared_ptr<URLSchemeTask>& task) = 0;
    virtual void schemeTaskStopped(const std::shared_ptr<URLSchemeTask>& task) = 0;

    // Dialogs; each answer is called exactly once.
    virtual void alertRequested(const std::string& message, const FrameInfo& frame,
                                std::function<void()> answer) = 0;
    virtual void confirmRequested(const std::string& message, const FrameInfo& frame,
                                  std::function<void(bool)> answer) = 0;
    virtual void promptRequested(const std::string& prompt,
                                 const std::optional<std::string>& defaultText,
                                 const FrameInfo& frame,
                                 std::function<void(std::optional<std::string>)> answer) = 0;

    // The page asks for a new window; answers the web view that shows it, or null.
    virtual std::shared_ptr<WebView> newWindowRequested(const NavigationAction& action,
                                                        const WindowFeatures& features) = 0;
    virtual void closeRequested() = 0;
};

}  // namespace wk
