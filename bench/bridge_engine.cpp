// The command bridge in the real web engine (WebKitGTK), against the engine's bare floor in
// the same run. A page (built at start from the example bundle's hybrid.js) makes the calls:
//   bridge  the page calls a plug-in through hybrid/exec; the plug-in answers through the
//           command delegate; the page's callback runs
//   bare    the page posts to a handler of its own, which answers with one fixed script and
//           no bridge logic: the least a round trip through the engine costs
//   merged  as bare, but answers to messages that arrive before the main loop's next turn
//           share one evaluation, each shielded from the others, as the bridge merges its
//           callbacks: the floor of a burst
// BM_Sequential  one call after another, each made when the last one's callback ran; a round
//                trip is the time between two calls reaching the native side (the page's
//                clock is too coarse). p50/p99 of each, and the ratio of the p50s (goal:
//                within 1.2x of the bare floor)
// BM_Burst       kBurst calls posted in one turn: calls per second of each, and the ratio of
//                the merged floor's rate to the bridge rate (goal: within 1.2x)
// BM_LargeAnswer/N  a SELECT of N rows through the SQLite plug-in's executeSql: the time from
//                the call to its callback, against the time the page takes to parse the same
//                answer's JSON text itself (goal at 1M rows: within 2x)
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
#include <string_view>
#include <vector>

#include "app/CompositionRoot.h"
#include "bench/BenchDisplay.h"
#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/Queue.h"
#include "platform/gtk/GLibDriver.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/Log.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/wk/ScriptMessage.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebView.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kSequentialCalls = 200;
constexpr int kBurst = 2000;
const fs::path kSourceRoot = fs::path(HYB_SOURCE_DIR);

constexpr const char* kConfig = R"(<?xml version="1.0" encoding="utf-8"?>
<widget id="org.example.hybrid.bench" version="1.0.0">
    <content src="index.html" />
    <preference name="scheme" value="app" />
    <feature name="Bench"><param name="ios-package" value="BenchEcho" /></feature>
    <feature name="SQLitePlugin"><param name="ios-package" value="SQLitePlugin" /></feature>
</widget>
)";

constexpr const char* kPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Bench</title></head><body>
<script src="hybrid.js"></script>
<script>
var exec = hybrid.require('hybrid/exec');
var waiting = [];
window.bare = { cb: function () { waiting.shift()(); } };
var calls = {
    bridge: function (done) { exec(done, done, 'Bench', 'echo', ['x']); },
    bare: function (done) {
        waiting.push(done);
        window.webkit.messageHandlers.bare.postMessage(['Bare1', 'Bench', 'echo', ['x']]);
    },
    merged: function (done) {
        waiting.push(done);
        window.webkit.messageHandlers.merged.postMessage(['Bare1', 'Bench', 'echo', ['x']]);
    }
};
function report(times) { window.webkit.messageHandlers.result.postMessage(times); }
window.sequential = function (kind, count) {
    var times = [], call = calls[kind];
    (function next() {
        var start = performance.now();
        call(function () {
            times.push(performance.now() - start);
            if (times.length < count) next(); else report(times);
        });
    })();
};
window.burst = function (kind, count) {
    var call = calls[kind], left = count, start = performance.now();
    for (var i = 0; i < count; i++) {
        call(function () { if (--left === 0) report([performance.now() - start]); });
    }
};
window.largeAnswer = function (kind, count) {
    var db = { dbname: 'bench.db' };
    var fail = function (e) { report([-1]); };
    var select = function () {
        var start = performance.now();
        exec(function (answer) {
            var delivered = performance.now() - start;
            var text = JSON.stringify(answer);
            var parseStart = performance.now();
            JSON.parse(text);
            report([delivered, performance.now() - parseStart, text.length]);
        }, fail, 'SQLitePlugin', 'executeSql', [{ dbargs: db, ex: { sql: 'SELECT * FROM t' } }]);
    };
    var fill = function () {
        exec(select, fail, 'SQLitePlugin', 'backgroundExecuteSqlBatch', [{ dbargs: db, executes: [
            { sql: 'DROP TABLE IF EXISTS t' },
            { sql: 'CREATE TABLE t (n INTEGER, label TEXT, x REAL)' },
            { sql: 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT ?) ' +
                   "INSERT INTO t SELECT i, 'row ' || i, i * 0.5 FROM c", params: [count] }] }]);
    };
    // Opened once; a second open answers an error and the database stays open.
    exec(fill, fill, 'SQLitePlugin', 'open', [{ name: 'bench.db' }]);
};
</script></body></html>
)";

using Clock = std::chrono::steady_clock;

// When each call reached the native side.
std::vector<Clock::time_point> gArrivals;

class BenchEcho : public HYBPlugin {
public:
    BenchEcho() { registerAction("echo", &BenchEcho::echo); }
    void echo(const HYBInvokedUrlCommand& command) {
        gArrivals.push_back(Clock::now());
        commandDelegate()->sendPluginResult(
            std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
            command.callbackId());
    }
};

// The floor: one fixed script back for each message, nothing else.
class BareHandler : public wk::ScriptMessageHandler {
public:
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        gArrivals.push_back(Clock::now());
        if (auto view = message.webView.lock()) view->engine()->evaluateJavaScript("bare.cb()", {});
    }
};

// The burst's floor: the answers gathered until the main loop's next turn go in one script.
class MergedHandler : public wk::ScriptMessageHandler {
public:
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        gArrivals.push_back(Clock::now());
        view_ = message.webView;
        if (pending_++ > 0) return;
        dispatch::Queue::main().async([this] { answer(); });
    }

private:
    void answer() {
        static constexpr std::string_view kOne = "try{bare.cb()}catch(e){}";
        std::string script;
        script.reserve(pending_ * kOne.size());
        for (; pending_ > 0; --pending_) script += kOne;
        if (auto view = view_.lock()) view->engine()->evaluateJavaScript(std::move(script), {});
    }

    std::weak_ptr<wk::WebView> view_;
    size_t pending_ = 0;
};

class ResultHandler : public wk::ScriptMessageHandler {
public:
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        std::vector<double> times;
        if (const auto* array = message.body.array()) {
            for (const auto& t : *array) times.push_back(t.doubleValue());
        }
        result = std::move(times);
    }
    std::optional<std::vector<double>> result;
};

// The host with the bench page, launched once.
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
        std::ofstream(root / "bundle/www/index.html") << kPage;
        fs::copy_file(kSourceRoot / "examples/bundle/www/hybrid.js", root / "bundle/www/hybrid.js",
                      fs::copy_options::overwrite_existing, ec);
        if (!wk::WebKitGtkEngine::install()) std::abort();
        driver.emplace();
        if (!CompositionRoot::prepare(
                {(root / "bundle").string(), (root / "sandbox").string(), false, {}})) {
            std::abort();
        }
        rt::ClassRegistry::shared().registerClass("BenchEcho", "HYBPlugin",
                                                  [] { return std::make_shared<BenchEcho>(); });
        if (!CompositionRoot::launch()) std::abort();
        auto delegate =
            std::dynamic_pointer_cast<HYBAppDelegate>(ui::Application::shared().delegate());
        webView = delegate->viewController()->webViewEngine()->engineWebView();
        auto controller = webView->configuration()->userContentController();
        controller->addScriptMessageHandler(std::make_shared<BareHandler>(), "bare");
        controller->addScriptMessageHandler(std::make_shared<MergedHandler>(), "merged");
        controller->addScriptMessageHandler(results, "result");
        // Loaded again, so that the page has the two handlers.
        webView->loadRequest(wk::URLRequest(*ns::URL::parse("app://localhost/index.html")));
        if (!driver->runUntil([&] { return !webView->isLoading() && webView->title() == "Bench"; },
                              30s)) {
            std::abort();
        }
    }
    ~Host() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Runs window.<mode>(kind, count) in the page; the times it reports, in milliseconds.
    std::vector<double> run(const std::string& mode, const std::string& kind, int count,
                            std::chrono::seconds limit = 60s) {
        results->result.reset();
        gArrivals.clear();
        webView->evaluateJavaScript(mode + "('" + kind + "', " + std::to_string(count) + ")");
        driver->runUntil([&] { return results->result.has_value(); }, limit);
        return results->result.value_or(std::vector<double>{});
    }

    fs::path root = fs::temp_directory_path() / ("hybrid-bench-" + std::to_string(::getpid()));
    std::optional<dispatch::GLibDriver> driver;
    std::shared_ptr<wk::WebView> webView;
    std::shared_ptr<ResultHandler> results = std::make_shared<ResultHandler>();
};

double percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(index), samples.end());
    return samples[index];
}

// The round trips of one sequential run, in milliseconds.
std::vector<double> roundTrips(Host& host, const std::string& kind) {
    if (host.run("sequential", kind, kSequentialCalls).size() != kSequentialCalls ||
        gArrivals.size() != kSequentialCalls) {
        return {};
    }
    std::vector<double> times;
    for (size_t i = 1; i < gArrivals.size(); ++i) {
        times.push_back(
            std::chrono::duration<double, std::milli>(gArrivals[i] - gArrivals[i - 1]).count());
    }
    return times;
}

void BM_Sequential(benchmark::State& state) {
    auto& host = Host::shared();
    std::vector<double> bridge, bare;
    for (auto _ : state) {
        auto b = roundTrips(host, "bridge");
        auto f = roundTrips(host, "bare");
        if (b.empty() || f.empty()) {
            state.SkipWithError("the page did not finish its round trips");
            return;
        }
        double total = 0;
        for (double t : b) total += t;
        state.SetIterationTime(total / 1000 / static_cast<double>(b.size()));
        bridge.insert(bridge.end(), b.begin(), b.end());
        bare.insert(bare.end(), f.begin(), f.end());
    }
    const double bridgeP50 = percentile(bridge, 0.5);
    const double bareP50 = percentile(bare, 0.5);
    state.counters["bridge_p50_ms"] = bridgeP50;
    state.counters["bridge_p99_ms"] = percentile(bridge, 0.99);
    state.counters["bare_p50_ms"] = bareP50;
    state.counters["bare_p99_ms"] = percentile(bare, 0.99);
    state.counters["ratio"] = bareP50 > 0 ? bridgeP50 / bareP50 : 0;
}

void BM_Burst(benchmark::State& state) {
    auto& host = Host::shared();
    double bridgeMs = 0, mergedMs = 0, bareMs = 0;
    for (auto _ : state) {
        auto b = host.run("burst", "bridge", kBurst);
        auto m = host.run("burst", "merged", kBurst);
        auto f = host.run("burst", "bare", kBurst);
        if (b.size() != 1 || m.size() != 1 || f.size() != 1) {
            state.SkipWithError("the page did not finish its burst");
            return;
        }
        state.SetIterationTime(b[0] / 1000);
        bridgeMs += b[0];
        mergedMs += m[0];
        bareMs += f[0];
    }
    const double calls = 1000.0 * kBurst * static_cast<double>(state.iterations());
    auto rate = [&](double ms) { return ms > 0 ? calls / ms : 0; };
    state.counters["bridge_calls_per_s"] = rate(bridgeMs);
    state.counters["merged_calls_per_s"] = rate(mergedMs);
    state.counters["bare_calls_per_s"] = rate(bareMs);
    state.counters["ratio"] = bridgeMs > 0 && mergedMs > 0 ? bridgeMs / mergedMs : 0;
}

void BM_LargeAnswer(benchmark::State& state) {
    auto& host = Host::shared();
    double deliveredMs = 0, parseMs = 0, bytes = 0;
    for (auto _ : state) {
        auto r = host.run("largeAnswer", "sql", static_cast<int>(state.range(0)), 900s);
        if (r.size() != 3) {
            state.SkipWithError("the page got no answer");
            return;
        }
        state.SetIterationTime(r[0] / 1000);
        deliveredMs += r[0];
        parseMs += r[1];
        bytes = r[2];
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["delivered_ms"] = deliveredMs / iterations;
    state.counters["page_parse_ms"] = parseMs / iterations;
    state.counters["json_bytes"] = bytes;
    state.counters["ratio"] = parseMs > 0 ? deliveredMs / parseMs : 0;
}

}  // namespace

BENCHMARK(BM_Sequential)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(10);
BENCHMARK(BM_Burst)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_LargeAnswer)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    if (const int failed = benchhost::ensureDisplay(argc, argv, "bench_bridge_engine: xvfb-run")) {
        return failed;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ui::Application::shared().terminate();
    return 0;
}
