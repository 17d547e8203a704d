// A pushed message from the socket's bytes to the page, against the bridge's own callback
// cost, in the same run:
//   BM_PushToPage   the data stanza's bytes parsed, sorted by the data message manager,
//                   delivered by the receiver to the host's application delegate and written
//                   into the page by the push plug-in (the road of a socket message in the
//                   host, its log lines included; the store's part is BM_ReceivedMessage
//                   of the messaging benchmark); baseline: the same bytes parsed, the same
//                   message built from them and sent to a page callback as a plug-in result
//                   through the command delegate (goal: ratio at most 1.3).
// The host's log is written as in the host, to /dev/null here. Run with
// --benchmark_repetitions to see the median and the range of the ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Log.h"
#include "plugins/push/NCMPlugin.h"
#include "plugins/push/NCMPushPage.h"
#include "proto/mcs.pb.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingReceiver.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Keeps the last script, as a renderer that takes the text over would.
class RecordingEngine : public HYBPlugin, public HYBWebViewEngineProtocol {
public:
    void loadRequest(const wk::URLRequest&) override {}
    void loadHTMLString(const std::string&, const std::optional<ns::URL>&) override {}
    void evaluateJavaScript(std::string script, EvaluationHandler) override {
        ++count;
        last = std::move(script);
    }
    // The arguments are handed over as values, as WebKitGTK's engine does.
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             EvaluationHandler) override {
        ++count;
        last = std::move(body);
        for (auto& [name, value] : arguments) {
            if (std::string* text = value.string()) last += std::move(*text);
        }
    }
    std::optional<ns::URL> URL() const override { return std::nullopt; }
    bool canLoadRequest(const wk::URLRequest&) override { return true; }
    void initWithFrame(const ui::Rect&) override {}
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return nullptr; }

    size_t count = 0;
    std::string last;
};

// The log goes where the host's goes, only to /dev/null, for the life of the benchmark.
class LogToNowhere {
public:
    LogToNowhere() : saved_(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~LogToNowhere() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

std::string stanzaBytes() {
    mcs::McsDataMessageStanza stanza;
    stanza.set_from("/topics/news");
    stanza.set_category("com.example.hybrid");
    stanza.set_persistent_id("0:1700000000000000%abcdef");
    for (int i = 0; i < 8; ++i) {
        auto* pair = stanza.add_app_data();
        pair->set_key("key" + std::to_string(i));
        pair->set_value("a value of some length for field " + std::to_string(i));
    }
    return stanza.SerializeAsString();
}

// The bridge's own road for the same bytes: the message a plug-in would make of them.
ns::Dictionary messageOf(const mcs::McsDataMessageStanza& stanza) {
    ns::Dictionary message;
    message.insert_or_assign("from", ns::Value(stanza.from()));
    for (const auto& pair : stanza.app_data()) {
        message.insert_or_assign(pair.key(), ns::Value(pair.value()));
    }
    return message;
}

void BM_PushToPage(benchmark::State& state) {
    LogToNowhere log;
    auto controller = HYBViewController::create();
    auto engine = std::make_shared<RecordingEngine>();
    controller->setWebViewEngine(engine);
    controller->registerPlugin(engine, "Engine");
    auto page = std::make_shared<NCMPushPage>();
    auto plugin = std::make_shared<NCMPlugin>(page, nullptr, nullptr);
    plugin->initWithWebViewEngine(engine);
    controller->registerPluginWithPluginName(plugin, "NCMPlugin");
    auto& loop = dispatch::RunLoop::main();
    // The page is ready for pushes.
    plugin->ready(HYBInvokedUrlCommand({}, std::string("NCMPlugin0"), "NCMPlugin", "ready"));
    loop.runUntilIdle();
    auto delegate = std::make_shared<AppDelegate>(page, nullptr, nullptr);
    auto receiver = std::make_shared<NEBMessagingReceiver>();
    receiver->setRemoteMessagingDelegate(delegate);
    auto manager = std::make_shared<NEBMessagingDataMessageManager>(
        receiver, std::weak_ptr<NEBMessagingClient>(), std::weak_ptr<NEBMessagingRmqManager>(),
        std::weak_ptr<NEBMessagingSyncMessageManager>());
    const std::string bytes = stanzaBytes();
    auto commandDelegate = controller->commandDelegate();

    double oursTotal = 0, bridgeTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        {
            mcs::McsDataMessageStanza stanza;
            stanza.ParseFromString(bytes);
            manager->didReceiveDataMessageStanza(stanza);
            loop.runUntilIdle();
        }
        const auto t1 = Clock::now();
        {
            mcs::McsDataMessageStanza stanza;
            stanza.ParseFromString(bytes);
            commandDelegate->sendPluginResult(HYBPluginResult::resultWithStatusMessageAsDictionary(
                                                  HYBResultStatusOK, messageOf(stanza)),
                                              std::string("NCMPlugin1"));
            loop.runUntilIdle();
        }
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        bridgeTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    if (engine->count != 2 * static_cast<size_t>(state.iterations()) + 1)
        state.SkipWithError("a script went missing");
    benchmark::DoNotOptimize(engine->last);
    state.counters["messages_per_s"] =
        oursTotal > 0 ? static_cast<double>(state.iterations()) / oursTotal : 0;
    state.counters["ratio"] = bridgeTotal > 0 ? oursTotal / bridgeTotal : 0;
}
BENCHMARK(BM_PushToPage)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
