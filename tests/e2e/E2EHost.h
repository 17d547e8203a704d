#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/GLibDriver.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "tests/support/TempDir.h"

class HYBViewController;

namespace net {
class InjectedReachabilitySource;
}  // namespace net

namespace wk {
class WebKitGtkEngine;
class WebView;
}  // namespace wk

// The host under test: the composition root's application on the WebKitGTK engine, launched
// once per process with the end-to-end bundle, and what the tests see of its pages. Pages
// report to the "e2e" message handler (www/e2e.js); every wait runs the GLib main loop until
// the page's own event arrives, with a generous cap, never a fixed sleep.
class E2EHost {
public:
    static constexpr std::chrono::milliseconds kCap{20000};

    struct Report {
        ns::Value body;
        std::weak_ptr<wk::WebView> webView;
    };

    static E2EHost& shared();

    // Builds the bundle and the sandbox in temporary folders, launches the application and
    // waits for its start page; an error says what failed.
    ns::Status start();
    // Terminates the application and lets its web views go.
    void stop();

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds cap = kCap);

    std::shared_ptr<HYBViewController> controller() const;
    std::shared_ptr<wk::WebView> webView() const;
    std::shared_ptr<wk::WebKitGtkEngine> engine() const;
    const std::filesystem::path& sandbox() const { return sandbox_; }

    // Runs a script in the main page and waits for its value.
    ns::Result<ns::Value> evaluate(const std::string& script);
    // Runs a script in the main page without waiting.
    void run(const std::string& script);

    // Reports so far; a test notes the count before it acts and looks only at what follows.
    size_t reportCount() const { return reports_.size(); }
    const std::vector<Report>& reports() const { return reports_; }
    // The first report after `from` for which `matches` holds, waiting for it.
    std::optional<Report> waitForReport(size_t from,
                                        const std::function<bool(const Report&)>& matches,
                                        std::chrono::milliseconds cap = kCap);
    // The first report after `from` of the document event `event` of the main web view.
    bool waitForEvent(size_t from, const std::string& event);

    // Calls the service through the page's bridge (e2e.call) and answers the reports of that
    // call once `count` have come: {"ok", "value", "n"} each.
    std::vector<ns::Value> call(const std::string& service, const std::string& action,
                                const std::string& argumentsJSON, size_t count = 1);

    // Loads the start page in the main web view and waits for its deviceready.
    bool loadStartPage();

    // The host watches the network through sources whose flags the tests set: the one made
    // last for the network in general (what the connection plug-in watches), if any.
    std::shared_ptr<net::InjectedReachabilitySource> networkReachability() const;

private:
    class ReportHandler;

    E2EHost() = default;

    std::optional<dispatch::GLibDriver> driver_;
    std::optional<testsupport::TempDir> root_;
    std::filesystem::path sandbox_;
    std::shared_ptr<wk::ScriptMessageHandler> handler_;
    std::vector<Report> reports_;
    int calls_ = 0;
    std::weak_ptr<net::InjectedReachabilitySource> networkReachability_;
};
