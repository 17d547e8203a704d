#pragma once

#include <memory>
#include <string>

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
};

}  // namespace wk
