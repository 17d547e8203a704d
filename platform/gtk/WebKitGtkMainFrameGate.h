#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gtk/GObjectRef.h"

namespace wk {

// Holds back, inside the engine, the request of every main-frame page load of http(s) that no
// decision about the main frame let through.
//
// WebKitGTK asks for the policy of a navigation without saying which frame it is for, and for
// a navigation that a script, a meta refresh or a frame starts, nothing else tells either. The
// engine answers such a navigation as a frame's; should it be the main frame's, this gate stops
// its request in the web process before anything is sent (a load failure that isRefusal()
// recognises), and the engine asks again, now as the main frame's. A navigation the engine
// presents as the main frame's and its client allows is passed first: the rules in force let
// that one URL through, until the load has started (close()).
//
// The gate is a content rule list of the view's own user content manager: "block every
// top-frame http(s) document" and, while a load is passed, "except this URL". Rule lists are
// compiled asynchronously, so pass() answers when the rules are in place; the lists are kept
// for reuse. Until the first list is in place, no load is let through. Main thread only.
class WebKitGtkMainFrameGate {
public:
    explicit WebKitGtkMainFrameGate(WebKitUserContentManager* manager);
    ~WebKitGtkMainFrameGate();
    WebKitGtkMainFrameGate(const WebKitGtkMainFrameGate&) = delete;
    WebKitGtkMainFrameGate& operator=(const WebKitGtkMainFrameGate&) = delete;

    // Lets the main frame's next load of `url` through. `ready` gets true once the engine will
    // let it, false when it will not (the rules could not be made, or a later pass replaced
    // this one first). A URL that is not gated is ready at once.
    void pass(const std::string& url, std::function<void(bool)> ready);
    // Holds every gated main-frame load again.
    void close();
    // The rule list in place now (see rules()); nothing until the first is.
    const std::optional<std::string>& rulesInForce() const { return inForce_; }

    // Whether a main-frame load of the URL needs a pass (http and https).
    static bool isGated(std::string_view url);
    // Whether a load failed because the gate held its request back.
    static bool isRefusal(const GError* error);
    // The rule list: the block, and the exception for `passed` when there is one.
    static std::string rules(const std::optional<std::string>& passed);
    // The URL as a pattern of the rule language that matches it alone (and its fragments);
    // one longer than kLongestPattern characters matches what starts with its first ones.
    static std::string exactPattern(std::string_view url);
    static constexpr size_t kLongestPattern = 2048;

private:
    // Installs the list without exception.
    void hold();
    void install(const std::string& list, WebKitUserContentFilter* filter);
    void rulesInPlace();

    GObjectRef<WebKitUserContentManager> manager_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    uint64_t generation_ = 0;  // of the latest list asked for
    bool passing_ = false;
    bool installed_ = false;  // some list is in place
    std::optional<std::string> inForce_;
    // Passes of URLs that need none, waiting for the first list.
    std::vector<std::function<void(bool)>> waiting_;
};

}  // namespace wk
