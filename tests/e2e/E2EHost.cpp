#include "tests/e2e/E2EHost.h"

#include "app/CompositionRoot.h"
#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/gtk/GtkViewPresenter.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/ui/Application.h"
#include "platform/wk/ScriptMessage.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebView.h"
#include "tests/e2e/E2EProbe.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot = fs::path(HYB_SOURCE_DIR);

ns::Error failure(const std::string& what) {
    return ns::Error("E2EHostErrorDomain", 1, {{ns::kLocalizedDescriptionKey, what}});
}

std::string jsonText(const ns::Value& value) {
    auto text = ns::JSONSerialization::write(value, {.fragmentsAllowed = true});
    return text ? *text : "null";
}

}  // namespace

// Keeps what the pages report, with the web view that reported it.
class E2EHost::ReportHandler : public wk::ScriptMessageHandler {
public:
    explicit ReportHandler(E2EHost& host) : host_(host) {}
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        host_.reports_.push_back({message.body, message.webView});
    }

private:
    E2EHost& host_;
};

E2EHost& E2EHost::shared() {
    static E2EHost host;
    return host;
}

ns::Status E2EHost::start() {
    root_.emplace();
    const fs::path bundle = root_->path() / "bundle";
    sandbox_ = root_->path() / "sandbox";
    std::error_code ec;
    fs::copy(kSourceRoot / "tests/fixtures/e2e_bundle", bundle, fs::copy_options::recursive, ec);
    if (!ec) {
        fs::copy_file(kSourceRoot / "examples/bundle/www/hybrid.js", bundle / "www/hybrid.js", ec);
    }
    // The example's page too, so that its own code can be run against this host.
    if (!ec) {
        fs::copy(kSourceRoot / "examples/bundle/www", bundle / "www/example",
                 fs::copy_options::recursive, ec);
    }
    if (!ec) {
        fs::copy(kSourceRoot / "examples/bundle/www/media", bundle / "www/media",
                 fs::copy_options::recursive, ec);
    }
    // The scanner's resources (its beep and torch picture), as the example ships them.
    if (!ec) {
        fs::copy(kSourceRoot / "examples/bundle/HYBBarcodeScanner.bundle",
                 bundle / "HYBBarcodeScanner.bundle", fs::copy_options::recursive, ec);
    }
    if (ec) return failure("cannot build the bundle: " + ec.message());

    driver_.emplace();
    wk::GtkViewPresenter::install();
    // Set before the launch: plug-ins that load with the application watch the network from
    // their start.
    net::ReachabilityFlagSource::setFactory([this](const net::ReachabilityTarget& target) {
        auto source = std::make_shared<net::InjectedReachabilitySource>(target);
        if (target.isNetworkInGeneral()) networkReachability_ = source;
        return source;
    });
    if (auto status =
            CompositionRoot::prepare({bundle.string(), sandbox_.string(), false, std::nullopt});
        !status) {
        return status;
    }
    // The suite starts no program outside itself; what would open is recorded.
    ui::Application::shared().setURLOpener([](const ns::URL&) { return true; });
    rt::ClassRegistry::shared().registerClass(E2EProbe::kClassName, "HYBPlugin",
                                              [] { return std::make_shared<E2EProbe>(); });
    if (!CompositionRoot::launch()) return failure("the application did not launch");
    if (!webView() || !engine()) return failure("the main web view is not on the WebKitGTK engine");

    // Reports come through a handler of the main view's content controller, which new
    // windows share; the start page is loaded again to pick it up.
    handler_ = std::make_shared<ReportHandler>(*this);
    webView()->configuration()->userContentController()->addScriptMessageHandler(handler_, "e2e");
    if (!loadStartPage()) return failure("the start page did not report deviceready");
    return {};
}

void E2EHost::stop() {
    auto& application = ui::Application::shared();
    if (application.isLaunched() && !application.isTerminated()) application.terminate();
    runUntil([] { return false; }, std::chrono::milliseconds(100));
    net::ReachabilityFlagSource::setFactory(nullptr);
}

bool E2EHost::runUntil(const std::function<bool()>& done, std::chrono::milliseconds cap) {
    return driver_->runUntil(done, cap);
}

std::shared_ptr<HYBViewController> E2EHost::controller() const {
    auto delegate = std::dynamic_pointer_cast<HYBAppDelegate>(ui::Application::shared().delegate());
    return delegate ? delegate->viewController() : nullptr;
}

std::shared_ptr<wk::WebView> E2EHost::webView() const {
    auto controller = this->controller();
    auto engine = controller ? controller->webViewEngine() : nullptr;
    return engine ? engine->engineWebView() : nullptr;
}

std::shared_ptr<wk::WebKitGtkEngine> E2EHost::engine() const {
    auto view = webView();
    return view ? std::dynamic_pointer_cast<wk::WebKitGtkEngine>(view->engine()) : nullptr;
}

ns::Result<ns::Value> E2EHost::evaluate(const std::string& script) {
    // Shared, so that an answer later than the cap has somewhere to go.
    auto answer = std::make_shared<std::optional<ns::Result<ns::Value>>>();
    engine()->evaluateJavaScript(
        script, [answer](ns::Result<ns::Value> result) { *answer = std::move(result); });
    if (!runUntil([&] { return answer->has_value(); })) return failure("no answer to " + script);
    return std::move(**answer);
}

void E2EHost::run(const std::string& script) {
    engine()->evaluateJavaScript(script, nullptr);
}

std::optional<E2EHost::Report> E2EHost::waitForReport(
    size_t from, const std::function<bool(const Report&)>& matches, std::chrono::milliseconds cap) {
    std::optional<Report> found;
    runUntil(
        [&] {
            for (size_t i = from; i < reports_.size() && !found; ++i) {
                if (matches(reports_[i])) found = reports_[i];
            }
            return found.has_value();
        },
        cap);
    return found;
}

bool E2EHost::waitForEvent(size_t from, const std::string& event) {
    auto main = webView();
    return waitForReport(from,
                         [&](const Report& report) {
                             return report.body["event"] == ns::Value(event) &&
                                    report.webView.lock() == main;
                         })
        .has_value();
}

std::vector<ns::Value> E2EHost::call(const std::string& service, const std::string& action,
                                     const std::string& argumentsJSON, size_t count) {
    const std::string id = "call" + std::to_string(++calls_);
    const size_t from = reportCount();
    run("e2e.call(" + jsonText(id) + ", " + jsonText(service) + ", " + jsonText(action) + ", " +
        argumentsJSON + ");");
    std::vector<ns::Value> answers;
    runUntil([&] {
        answers.clear();
        for (size_t i = from; i < reports_.size(); ++i) {
            if (reports_[i].body["call"] == ns::Value(id)) answers.push_back(reports_[i].body);
        }
        return answers.size() >= count;
    });
    return answers;
}

std::shared_ptr<net::InjectedReachabilitySource> E2EHost::networkReachability() const {
    return networkReachability_.lock();
}

bool E2EHost::loadStartPage() {
    const size_t from = reportCount();
    // The page's deviceready can come before the engine reports the load finished (that waits
    // for every resource); the host sends the page its life-cycle events only after the
    // latter, so a test starts once both have happened.
    auto main = webView();
    bool finished = false;
    auto& center = ns::NotificationCenter::defaultCenter();
    const auto token =
        center.addObserver(HYBPageDidLoadNotification, main,
                           [&finished](const ns::Notification&) { finished = true; });
    webView()->loadRequest(wk::URLRequest(*ns::URL::parse("app://localhost/index.html")));
    const bool ready = waitForEvent(from, "deviceready") && runUntil([&] { return finished; });
    center.removeObserver(token);
    return ready;
}
