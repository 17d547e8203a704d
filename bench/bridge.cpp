// The command bridge against plain uses of the JSON library, in the same run:
//   BM_PageCall       a page call through the fake web engine, the queue and a no-op plug-in to
//                     the callback script; p50/p99 per call; library: parse the call and write
//                     the callback with the JSON library.
//   BM_Batch/N        a batch of N commands through enqueueCommandBatch and executePending
//                     (10k and 40k: the time per command should stay flat); library: parse it.
//   BM_ArrayBuffer    a 16 MiB binary result to its callback script; peak heap growth against
//                     the payload (goal: at most 3x) and against a plain Base64 encode.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench/BenchWebEngine.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Log.h"
#include "platform/testing/FakeEngine.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebView.h"
#include "platform/wk/WebViewConfiguration.h"

// ---- Heap accounting: every allocation of the program passes here. ----

namespace {

std::atomic<size_t> gHeapNow{0};
std::atomic<size_t> gHeapPeak{0};

void* counted(void* p) {
    if (!p) throw std::bad_alloc();
    const size_t now = gHeapNow.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t peak = gHeapPeak.load();
    while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void uncounted(void* p) {
    if (!p) return;
    gHeapNow.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

// Peak heap growth while `fn` runs, in bytes.
template <class F>
size_t peakGrowth(F&& fn) {
    const size_t base = gHeapNow.load();
    gHeapPeak.store(base);
    fn();
    return gHeapPeak.load() - base;
}

}  // namespace

void* operator new(size_t n) {
    return counted(std::malloc(n ? n : 1));
}
void* operator new[](size_t n) {
    return counted(std::malloc(n ? n : 1));
}
void* operator new(size_t n, std::align_val_t a) {
    return counted(std::aligned_alloc(
        static_cast<size_t>(a), (n + static_cast<size_t>(a) - 1) & ~(static_cast<size_t>(a) - 1)));
}
void operator delete(void* p) noexcept {
    uncounted(p);
}
void operator delete[](void* p) noexcept {
    uncounted(p);
}
void operator delete(void* p, size_t) noexcept {
    uncounted(p);
}
void operator delete[](void* p, size_t) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    uncounted(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    uncounted(p);
}

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class NoopPlugin : public HYBPlugin {
public:
    NoopPlugin() { registerAction("noop", &NoopPlugin::noop); }
    void noop(const HYBInvokedUrlCommand& command) {
        commandDelegate()->sendPluginResult(HYBPluginResult::resultWithStatus(HYBResultStatusOK),
                                            command.callbackId());
    }
};

// The engine of the page-call benchmark.
using benchhost::FakeWebEngine;

// The engine of the batch and memory benchmarks: keeps the last script it was handed, as a
// renderer that takes the text over would.
class RecordingEngine : public HYBPlugin, public HYBWebViewEngineProtocol {
public:
    void loadRequest(const wk::URLRequest&) override {}
    void loadHTMLString(const std::string&, const std::optional<ns::URL>&) override {}
    void evaluateJavaScript(std::string script, EvaluationHandler) override {
        ++count;
        last = std::move(script);
    }
    std::optional<ns::URL> URL() const override { return std::nullopt; }
    bool canLoadRequest(const wk::URLRequest&) override { return true; }
    void initWithFrame(const ui::Rect&) override {}
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return nullptr; }

    size_t count = 0;
    std::string last;
};

template <class Engine>
struct Host {
    Host() {
        ns::Log::setStandardErrorEnabled(false);
        controller = HYBViewController::create();
        engine = std::make_shared<Engine>();
        engine->initWithFrame({0, 0, 320, 480});
        controller->setWebViewEngine(engine);
        controller->registerPlugin(engine, "Engine");
        auto plugin = std::make_shared<NoopPlugin>();
        plugin->initWithWebViewEngine(engine);
        controller->registerPluginWithPluginName(plugin, "Noop");
    }
    ~Host() { dispatch::RunLoop::main().runUntilIdle(); }
    std::shared_ptr<HYBViewController> controller;
    std::shared_ptr<Engine> engine;
};

std::string batchText(int64_t commands) {
    std::string text = "[";
    for (int64_t i = 0; i < commands; ++i) {
        if (i) text += ',';
        text += "[\"Cb" + std::to_string(i) + "\",\"Noop\",\"noop\",[\"some text\",42,true]]";
    }
    return text + "]";
}

double percentile(std::vector<double>& samples, double p) {
    if (samples.empty()) return 0;
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(index), samples.end());
    return samples[index];
}

void libraryPageCall(const std::string& call) {
    rapidjson::Document document;
    document.Parse(call.data(), call.size());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.Null();
    std::string script = "hybrid.require('hybrid/exec').nativeCallback('";
    script += document[0].GetString();
    script += "',1,";
    script += buffer.GetString();
    script += ",0, 0)";
    benchmark::DoNotOptimize(script);
}

void BM_PageCall(benchmark::State& state) {
    Host<FakeWebEngine> host;
    host.engine->attach();
    auto& loop = dispatch::RunLoop::main();
    const std::string call = R"(["Cb1","Noop","noop",["some text",42,true,{"k":"v"}]])";
    std::vector<double> latencies;
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        host.engine->fake().postMessageJSON("hybrid", call);
        loop.runUntilIdle();
        const auto t1 = Clock::now();
        libraryPageCall(call);
        const auto t2 = Clock::now();
        if (host.engine->fake().evaluatedScripts().size() > 1024) {
            host.engine->fake().clearEvaluatedScripts();
        }
        latencies.push_back(seconds(t1 - t0) * 1e6);
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["calls_per_s"] =
        oursTotal > 0 ? static_cast<double>(state.iterations()) / oursTotal : 0;
    state.counters["p50_us"] = percentile(latencies, 0.50);
    state.counters["p99_us"] = percentile(latencies, 0.99);
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
}

void BM_Batch(benchmark::State& state) {
    Host<RecordingEngine> host;
    auto& loop = dispatch::RunLoop::main();
    const std::string text = batchText(state.range(0));
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        host.controller->commandQueue()->enqueueCommandBatch(text);
        host.controller->commandQueue()->executePending();
        loop.runUntilIdle();
        const auto t1 = Clock::now();
        rapidjson::Document document;
        document.Parse(text.data(), text.size());
        benchmark::DoNotOptimize(document.Size());
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    const double commands = static_cast<double>(state.iterations() * state.range(0));
    state.counters["ns_per_command"] = 1e9 * oursTotal / commands;
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
    if (host.engine->count != static_cast<size_t>(commands)) state.SkipWithError("lost results");
}

void BM_ArrayBuffer(benchmark::State& state) {
    Host<RecordingEngine> host;
    auto& loop = dispatch::RunLoop::main();
    const size_t payload = 16u << 20;
    ns::Data bytes(std::vector<uint8_t>(payload, 0xA5));
    std::shared_ptr<HYBCommandDelegate> delegate = host.controller->commandDelegate();
    size_t oursPeak = 0, libraryPeak = 0;
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        host.engine->last.clear();
        host.engine->last.shrink_to_fit();
        const auto t0 = Clock::now();
        oursPeak = std::max(
            oursPeak, peakGrowth([&] {
                delegate->sendPluginResult(
                    HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, bytes),
                    "Cb1");
                loop.runUntilIdle();
            }));
        const auto t1 = Clock::now();
        libraryPeak = std::max(libraryPeak, peakGrowth([&] {
                                   std::string base64 = bytes.base64EncodedString();
                                   benchmark::DoNotOptimize(base64);
                               }));
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["peak_x_payload"] = static_cast<double>(oursPeak) / payload;
    state.counters["base64_peak_x_payload"] = static_cast<double>(libraryPeak) / payload;
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
    state.counters["memory_ratio"] =
        libraryPeak > 0 ? static_cast<double>(oursPeak) / static_cast<double>(libraryPeak) : 0;
}

}  // namespace

BENCHMARK(BM_PageCall)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Batch)->Arg(10000)->Arg(40000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayBuffer)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
