// A pushed message from the socket's bytes to the page, against the bridge's own callback
// cost, in the same run:
//   BM_PushToPage   the data stanza's bytes parsed, sorted by the data message manager,
//                   delivered by the receiver to the host's application delegate and written
//                   into the page by the push plug-in (the road of a socket message in the
//                   host, its log lines included; the store's part is BM_ReceivedMessage
//                   of the messaging benchmark); baseline: the same bytes parsed, the same
//                   message built from them and sent to a page callback as a plug-in result
//                   through the command delegate (goal: ratio at most 1.3).
//   BM_Burst        3,000 messages sent at once by a loopback messaging server over TLS to the
//                   library, stored, acknowledged, handed to the page (whose script answers on
//                   a later turn, as a web page's does) and their delivery recorded; a plug-in
//                   call made once the burst's first 100 messages are on the page, while the
//                   rest still come. One round per iteration: "call_wait_ms", how
//                   long that call waits for its answer; "redelivered_at_kill", how many of the
//                   messages the page had when it had half of them a kill at that moment would
//                   hand it again (what the store still keeps of them); "burst_ms", the burst
//                   from the first frame sent to the last delivery recorded. Baseline, in the
//                   same round: the same ids and messages written with raw sqlite3, prepared
//                   statements in one transaction (the least the store's disk work can cost),
//                   then deleted in another: "raw_tx_ms", what a call queued behind that one
//                   transaction on the main thread would wait, "ratio_call_wait" and
//                   "ratio_burst" against it. "load1" is the machine's load average when the
//                   round ran. Run with --benchmark_repetitions for the median and range.
// The host's log is written as in the host, to /dev/null here. Run with
// --benchmark_repetitions to see the median and the range of the ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "app/AppDelegate.h"
#include "bench/BenchRounds.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "plugins/push/NCMPlugin.h"
#include "plugins/push/NCMPushPage.h"
#include "proto/mcs.pb.h"
#include "sdk/core/NEBServiceHosts.h"
#include "sdk/core/NEBServices.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingClient.h"
#include "sdk/messaging/NEBMessagingDataMessageManager.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingReceiver.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "services/peers/TestCA.h"
#include "services/peers/messaging/MessagingServer.h"
#include "tests/peers/LoopPump.h"
#include "toolbox/Net/NIPReachability.h"

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

// A page on a view controller whose engine is `Engine`, with the push plug-in, ready for
// pushes, over the messaging library given.
template <class Engine>
struct ReadyPage {
    explicit ReadyPage(std::shared_ptr<NEBMessaging> messaging) {
        controller->setWebViewEngine(engine);
        controller->registerPlugin(engine, "Engine");
        plugin = std::make_shared<NCMPlugin>(page, std::move(messaging), nullptr);
        plugin->initWithWebViewEngine(engine);
        controller->registerPluginWithPluginName(plugin, "NCMPlugin");
        plugin->ready(HYBInvokedUrlCommand({}, std::string("NCMPlugin0"), "NCMPlugin", "ready"));
    }
    std::shared_ptr<HYBViewController> controller = HYBViewController::create();
    std::shared_ptr<Engine> engine = std::make_shared<Engine>();
    std::shared_ptr<NCMPushPage> page = std::make_shared<NCMPushPage>();
    std::shared_ptr<NCMPlugin> plugin;
};

void BM_PushToPage(benchmark::State& state) {
    LogToNowhere log;
    ReadyPage<RecordingEngine> ready(nullptr);
    auto& [controller, engine, page, plugin] = ready;
    auto& loop = dispatch::RunLoop::main();
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

constexpr int kBurst = 3000;
// The page's plug-in call goes once this many messages of the burst are on the page.
constexpr int kCallAfter = 100;

// A page that takes each message as a web page does, its script's answer coming on a later
// turn of the main loop, and the answer to one plug-in call (the push plug-in's
// registerNotification).
class PageEngine : public HYBPlugin, public HYBWebViewEngineProtocol {
public:
    void loadRequest(const wk::URLRequest&) override {}
    void loadHTMLString(const std::string&, const std::optional<ns::URL>&) override {}
    void evaluateJavaScript(std::string script, EvaluationHandler) override {
        if (script.find(kCall) != std::string::npos) callAnswered = Clock::now();
    }
    void callAsyncJavaScript(std::string, ns::Dictionary, EvaluationHandler answer) override {
        ++messages;
        if (onMessage) onMessage();
        if (answer) {
            dispatch::Queue::main().async(
                [answer = std::move(answer)] { answer(ns::Value(true)); });
        }
    }
    std::optional<ns::URL> URL() const override { return std::nullopt; }
    bool canLoadRequest(const wk::URLRequest&) override { return true; }
    void initWithFrame(const ui::Rect&) override {}
    void updateWithInfo(const HYBWebViewEngineInfo&) override {}
    std::shared_ptr<wk::WebView> engineWebView() const override { return nullptr; }

    static constexpr const char* kCall = "BurstCall";
    int messages = 0;
    std::function<void()> onMessage;
    std::optional<Clock::time_point> callAnswered;
};

mcs::McsDataMessageStanza burstMessage(int round, int i) {
    mcs::McsDataMessageStanza stanza;
    stanza.set_from("/topics/news");
    stanza.set_category("com.example.hybrid");
    stanza.set_persistent_id("0:" + std::to_string(round) + "%" + std::to_string(i));
    stanza.set_immediate_ack(true);
    for (int k = 0; k < 4; ++k) {
        auto* pair = stanza.add_app_data();
        pair->set_key("key" + std::to_string(k));
        pair->set_value("a value of some length " + std::to_string(i * 7 + k));
    }
    return stanza;
}

// How many of these ids the store's file keeps, read through a connection of its own.
int keptAmong(const std::string& path, const std::set<std::string>& ids) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(db, "SELECT rmq_id FROM undeliveredS2dMessages", -1, &rows, nullptr);
    int kept = 0;
    while (rows && sqlite3_step(rows) == SQLITE_ROW) {
        kept += ids.count(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0))) ? 1 : 0;
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return kept;
}

// The baseline: the burst's ids and messages written with prepared statements in one
// transaction, then deleted in another; the seconds of each.
std::pair<double, double> rawBurst(const std::string& dir, int round) {
    sqlite3* db = nullptr;
    sqlite3_open((dir + "/raw.sqlite").c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE s2dRmqIds_1 (_id INTEGER PRIMARY KEY, rmq_id TEXT);"
                 "CREATE TABLE undeliveredS2dMessages (_id INTEGER PRIMARY KEY, rmq_id TEXT "
                 "UNIQUE, data BLOB, expiration_ts INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *id = nullptr, *keep = nullptr, *drop = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO s2dRmqIds_1 (rmq_id) VALUES (?)", -1, &id, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO undeliveredS2dMessages (rmq_id, data, expiration_ts) VALUES "
                       "(?, ?, ?)",
                       -1, &keep, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM undeliveredS2dMessages WHERE rmq_id = ?", -1, &drop,
                       nullptr);
    std::vector<std::pair<std::string, std::string>> messages;
    for (int i = 0; i < kBurst; ++i) {
        auto stanza = burstMessage(round, i);
        messages.emplace_back(stanza.persistent_id(), stanza.SerializeAsString());
    }
    auto step = [](sqlite3_stmt* s) {
        if (sqlite3_step(s) != SQLITE_DONE) std::abort();
        sqlite3_reset(s);
    };
    const auto t0 = Clock::now();
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (const auto& [rmqId, data] : messages) {
        sqlite3_bind_text(id, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_STATIC);
        step(id);
        sqlite3_bind_text(keep, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_STATIC);
        sqlite3_bind_blob(keep, 2, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
        sqlite3_bind_int64(keep, 3, 1700000000);
        step(keep);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const auto t1 = Clock::now();
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (const auto& [rmqId, data] : messages) {
        sqlite3_bind_text(drop, 1, rmqId.data(), static_cast<int>(rmqId.size()), SQLITE_STATIC);
        step(drop);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const auto t2 = Clock::now();
    for (auto* statement : {id, keep, drop}) sqlite3_finalize(statement);
    sqlite3_close(db);
    return {seconds(t1 - t0), seconds(t2 - t1)};
}

// The loopback server and its authority, for every round.
struct BurstPeers {
    BurstPeers() {
        net::TLSSettings::setExtraCAFile(ca.caFile());
        const std::string address = "127.0.0.1:" + std::to_string(server.port());
        ::setenv(NEBServiceHosts::kMessagingServerVariable, address.c_str(), 1);
    }
    peers::TestCA ca;
    peers::MessagingServer server{{.identity = &ca.localhost(),
                                   .expectedUser = "4242",
                                   .expectedToken = "secret-4242",
                                   .lifetime = std::chrono::seconds(3600)}};
};

void BM_Burst(benchmark::State& state) {
    LogToNowhere log;
    NEBMessagingSharedLogger().setFilter(std::make_shared<NEBMessagingLogLevelFilter>(4));
    static BurstPeers& peers = *new BurstPeers();
    static int round = 0;
    auto& loop = dispatch::RunLoop::main();
    for (auto _ : state) {
        ++round;
        std::string dir = (std::filesystem::temp_directory_path() / "bench-burst-XXXXXX").string();
        if (!mkdtemp(dir.data()) || !ns::Sandbox::configure(dir)) std::abort();
        std::filesystem::create_directories(ns::Sandbox::applicationSupportDirectory() +
                                            "/Nebula/NebulaMessaging");
        const std::string store = NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
        auto network =
            std::make_shared<NIPReachability>(std::make_shared<net::InjectedReachabilitySource>(
                net::ReachabilityTarget::forNetworkInGeneral()));
        network->callbackWithFlags(net::kReachabilityFlagsReachable);
        NEBMessagingCheckinPreferences credentials;
        credentials.deviceID = "4242";
        credentials.secretToken = "secret-4242";
        credentials.lastCheckinTimestampMillis =
            static_cast<int64_t>(dispatch::Clock::current().wallTime() * 1000);
        auto messaging = std::make_shared<NEBMessaging>(
            NEBServices::standard(),
            [credentials] { return std::optional<NEBMessagingCheckinPreferences>(credentials); },
            [network] { return network; });
        messaging->start();

        // The page, ready for pushes, and the application delegate between it and the library.
        ReadyPage<PageEngine> ready(messaging);
        const auto& controller = ready.controller;
        const auto& engine = ready.engine;
        auto delegate = std::make_shared<AppDelegate>(ready.page, messaging, nullptr);
        messaging->setRemoteMessageDelegate(delegate);
        messaging->connectWithCompletion([](const std::optional<ns::Error>&) {});
        if (!peers::runMainLoopUntil([&] { return messaging->client()->isConnectionActive(); })) {
            state.SkipWithError("no login");
            return;
        }
        loop.runUntilIdle();

        std::set<std::string> had;
        int keptAtKill = -1;
        // The page calls a plug-in once the burst is flowing (its first messages are on the
        // page), so that the call waits behind whatever the burst puts on the main thread.
        std::optional<Clock::time_point> called;
        engine->onMessage = [&] {
            had.insert(burstMessage(round, engine->messages - 1).persistent_id());
            if (engine->messages == kCallAfter) {
                called = Clock::now();
                dispatch::Queue::main().async([controller] {
                    controller->commandQueue()->executeCall(ns::Value::array(
                        {ns::Value(PageEngine::kCall), ns::Value("NCMPlugin"),
                         ns::Value("registerNotification"), ns::Value(ns::Array{})}));
                });
            }
            if (engine->messages == kBurst / 2) keptAtKill = keptAmong(store, had);
        };
        const double load = bench::load1();
        const auto t0 = Clock::now();
        for (int i = 0; i < kBurst; ++i) peers.server.sendFrame(8, burstMessage(round, i));
        auto& received = *messaging->rmq2Manager()->receivedMessages();
        const bool done = peers::runMainLoopUntil(
            [&] { return engine->messages == kBurst && received.unrecordedCount() == 0; },
            std::chrono::seconds(120));
        const auto t1 = Clock::now();
        if (!done || !called || !engine->callAnswered ||
            !messaging->rmq2Manager()->undeliveredS2dMessages().empty()) {
            state.SkipWithError("the burst did not all reach the page and get recorded");
            return;
        }
        const auto [rawStore, rawRecord] = rawBurst(dir, round);
        const double callWait = seconds(*engine->callAnswered - *called);
        state.SetIterationTime(seconds(t1 - t0));
        state.counters["call_wait_ms"] = 1e3 * callWait;
        state.counters["raw_tx_ms"] = 1e3 * rawStore;
        state.counters["ratio_call_wait"] = callWait / rawStore;
        state.counters["burst_ms"] = 1e3 * seconds(t1 - t0);
        state.counters["ratio_burst"] = seconds(t1 - t0) / (rawStore + rawRecord);
        state.counters["redelivered_at_kill"] = keptAtKill;
        state.counters["load1"] = load;

        messaging->teardown();
        messaging.reset();
        loop.runUntilIdle();
        std::filesystem::remove_all(dir);
    }
}
BENCHMARK(BM_Burst)
    ->Apply(bench::withRange)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
