#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Error.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Value.h"
#include "platform/wk/FrameInfo.h"

namespace wk {

class WebView;

// A message that a page posted to window.webkit.messageHandlers.NAME.postMessage(body). The
// body is the posted value converted: objects to dictionaries, arrays, strings, numbers,
// booleans, dates, null.
struct ScriptMessage {
    std::string name;
    ns::Value body;
    std::weak_ptr<WebView> webView;
    FrameInfo frameInfo;
    // Set when the posted value could not be converted in full (nested too deeply, or holding
    // what has no such form): the body then holds what could be read of an array's top level,
    // with null in place of each element that could not.
    std::optional<ns::Error> bodyError;
    // For a handler that reads bodies as JSON text (ScriptMessageHandler::readsBodyAsJSON),
    // the posted value as the engine received it, JSON text; `body` is null then.
    std::optional<ns::JSONSlice> bodyJSON;
};

}  // namespace wk
