// The in-app browser in the real web engine (WebKitGTK), against the engine's bare floor in
// the same run: the time from asking for a page of a loopback server to its load having
// finished (the browser loads web pages, not files).
//   browser  the page's open call on the in-app browser plug-in (options parsed, its screen
//            and a second web view made, then the page loaded and shown)
//   bare     a second web view made on the same web context that loads the same page, with
//            nothing else around it
// p50 of each over many openings, and the ratio of the p50s (goal: within 1.2x of the floor).
// It needs a display: without DISPLAY or WAYLAND_DISPLAY it starts itself again under
// xvfb-run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/CompositionRoot.h"
#include "bench/BenchDisplay.h"
#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/gtk/GLibDriver.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/Log.h"
#include "platform/ui/Application.h"
#include "platform/wk/NavigationDelegate.h"
#include "platform/wk/WebView.h"
#include "plugins/media_browser/HYBWKInAppBrowser.h"
#include "tests/e2e/LoopbackHTTPServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kOpenings = 20;
const fs::path kSourceRoot = HYB_SOURCE_DIR;

constexpr const char* kConfig = R"(<?xml version="1.0" encoding="utf-8"?>
<widget id="org.example.hybrid.bench" version="1.0.0">
    <content src="index.html" />
    <preference name="scheme" value="app" />
    <feature name="InAppBrowser"><param name="ios-package" value="HYBWKInAppBrowser" /></feature>
</widget>
)";

constexpr const char* kPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Local</title></head>
<body><h1>A local page</h1><p>Some text to lay out.</p></body></html>
)";

// Hears when the bare view's load has finished.
class FinishFlag : public wk::NavigationDelegate {
public:
    void didFinishNavigation(const std::shared_ptr<wk::WebView>&,
                             const std::shared_ptr<wk::Navigation>&) override {
        finished = true;
    }
    bool finished = false;
};

struct Host {
    static Host& shared() {
        static Host host;
        return host;
    }

    Host() {
        ns::Log::setStandardErrorEnabled(false);
        std::error_code ec;
        fs::create_directories(root / "bundle/www", ec);
        std::ofstream(root / "bundle/config.xml") << kConfig;
        std::ofstream(root / "bundle/www/index.html")
            << "<html><title>Main</title><script src=\"hybrid.js\"></script></html>";
        fs::copy_file(kSourceRoot / "examples/bundle/www/hybrid.js", root / "bundle/www/hybrid.js",
                      fs::copy_options::overwrite_existing, ec);
        server.setPage("/page.html", kPage);
        page = *ns::URL::parse(server.url("/page.html"));
        if (!wk::WebKitGtkEngine::install()) std::abort();
        driver.emplace();
        if (!CompositionRoot::prepare(
                {(root / "bundle").string(), (root / "sandbox").string(), false, {}})) {
            std::abort();
        }
        if (!CompositionRoot::launch()) std::abort();
        auto delegate =
            std::dynamic_pointer_cast<HYBAppDelegate>(ui::Application::shared().delegate());
        controller = delegate->viewController();
        auto main = controller->webViewEngine()->engineWebView();
        if (!driver->runUntil([&] { return !main->isLoading() && main->title() == "Main"; }, 30s)) {
            std::abort();
        }
        plugin = std::dynamic_pointer_cast<HYBWKInAppBrowser>(
            controller->getCommandInstance("InAppBrowser"));
        if (!plugin) std::abort();
    }
    ~Host() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    bool loaded(const std::shared_ptr<wk::WebView>& view) const {
        return view && !view->isLoading() && view->URL() == page;
    }

    // Milliseconds from the open call to the browser's page having loaded; the browser is
    // closed again afterwards, outside the time.
    std::optional<double> openBrowser() {
        const auto start = Clock::now();
        plugin->open(HYBInvokedUrlCommand({page.absoluteString(), "_blank", "hidden=yes"},
                                          "InAppBrowser1", "InAppBrowser", "open"));
        if (!driver->runUntil(
                [&] {
                    auto browser = plugin->inAppBrowserViewController();
                    return browser && loaded(browser->webView());
                },
                30s)) {
            return std::nullopt;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        plugin->close(HYBInvokedUrlCommand({}, "InAppBrowser2", "InAppBrowser", "close"));
        driver->runUntil([&] { return !plugin->inAppBrowserViewController(); }, 30s);
        return ms;
    }

    // The same page in a bare second view of the same web context.
    std::optional<double> openBare() {
        const auto start = Clock::now();
        auto view =
            wk::WebView::create(ui::Rect(0, 0, 390, 844), wk::WebViewConfiguration::create());
        auto flag = std::make_shared<FinishFlag>();
        view->setNavigationDelegate(flag);
        view->loadRequest(wk::URLRequest(page));
        if (!driver->runUntil([&] { return flag->finished && loaded(view); }, 30s)) {
            return std::nullopt;
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    fs::path root = fs::temp_directory_path() / ("hybrid-bench-iab-" + std::to_string(::getpid()));
    LoopbackHTTPServer server;
    ns::URL page = ns::URL::fileURLWithPath("/");
    std::optional<dispatch::GLibDriver> driver;
    std::shared_ptr<HYBViewController> controller;
    std::shared_ptr<HYBWKInAppBrowser> plugin;
};

double median(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(samples.size() / 2),
                     samples.end());
    return samples[samples.size() / 2];
}

void BM_OpenToLoaded(benchmark::State& state) {
    auto& host = Host::shared();
    std::vector<double> browser, bare;
    for (auto _ : state) {
        double total = 0;
        // Alternating, so that both sides see the engine in the same state.
        for (int i = 0; i < kOpenings; ++i) {
            auto b = host.openBrowser();
            auto f = host.openBare();
            if (!b || !f) {
                state.SkipWithError("a page did not load");
                return;
            }
            browser.push_back(*b);
            bare.push_back(*f);
            total += *b;
        }
        state.SetIterationTime(total / 1000 / kOpenings);
    }
    const double browserP50 = median(browser);
    const double bareP50 = median(bare);
    state.counters["browser_p50_ms"] = browserP50;
    state.counters["bare_p50_ms"] = bareP50;
    state.counters["ratio"] = bareP50 > 0 ? browserP50 / bareP50 : 0;
}

}  // namespace

BENCHMARK(BM_OpenToLoaded)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    if (const int failed = benchhost::ensureDisplay(argc, argv, "bench_browser_open: xvfb-run"))
        return failed;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ui::Application::shared().terminate();
    return 0;
}
