#include "sdk/core/NEBNetwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/net/BackgroundJobStore.h"
#include "platform/net/URLError.h"
#include "platform/net/URLProtocol.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/UUID.h"
#include "sdk/core/NEBNetworkConstants.h"
#include "tests/sdk/core/NetworkFixture.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

using peers::HttpResponse;
using sdktest::NetworkTest;
using sdktest::Outcome;
using sdktest::recordInto;

// Records what the client logs through its delegate.
class RecordingLogger : public NEBNetworkLoggerDelegate {
public:
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const std::vector<ns::Value>& contexts) override {
        std::string line = std::string(message);
        for (const auto& context : contexts) line += " | " + context.description();
        lines.push_back({level, line});
    }
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const ns::Value& context) override {
        nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{context});
    }
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) override {
        nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{});
    }
    std::vector<std::pair<NEBNetworkLogLevel, std::string>> lines;
};

class NEBNetworkTest : public NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        network_ = NEBNetwork::create("localhost");
        ASSERT_TRUE(network_);
    }
    void TearDown() override {
        network_.reset();
        NetworkTest::TearDown();
    }

    std::shared_ptr<Outcome> post(const std::string& path, const std::string& payload,
                                  bool background = false) {
        auto outcome = std::make_shared<Outcome>();
        network_->postURL(server_->url(path), ns::Data::fromString(payload), nullptr, background,
                          recordInto(outcome));
        EXPECT_TRUE(waitFor(outcome));
        return outcome;
    }

    static std::string gunzip(const std::string& body) {
        auto inflated = tbx_dataByInflatingData(ns::Data::fromString(body));
        return inflated ? std::string(inflated->chars()) : "(not gzip)";
    }

    std::shared_ptr<NEBNetwork> network_;
};

TEST_F(NEBNetworkTest, PostSendsAGzippedBodyWithItsHeaders) {
    server_->on("POST", "/upload", HttpResponse::text(200, "done"));
    auto outcome = std::make_shared<Outcome>();
    auto id = network_->postURL(server_->url("/upload?key=secret"), ns::Data::fromString("payload"),
                                nullptr, false, recordInto(outcome));
    ASSERT_TRUE(id);
    EXPECT_TRUE(id->starts_with("com.nebula.network.background-upload-"));
    EXPECT_TRUE(network_->hasUploadInProgress());
    ASSERT_TRUE(waitFor(outcome));
    EXPECT_FALSE(network_->hasUploadInProgress());

    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(outcome->status(), 200);
    EXPECT_FALSE(outcome->error);
    auto sent = server_->requests().at(0);
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(gunzip(sent.body), "payload");
    EXPECT_EQ(sent.header("Content-Length"), std::to_string(sent.body.size()));
    EXPECT_EQ(sent.header("Content-Encoding"), "gzip");
    EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(NEBNetworkTest, EmptyPayloadIsAnEmptyBody) {
    server_->on("POST", "/empty", HttpResponse::text(200, ""));
    auto outcome = post("/empty", "");
    EXPECT_EQ(outcome->status(), 200);
    auto sent = server_->requests().at(0);
    EXPECT_EQ(sent.header("Content-Length"), "0");
    EXPECT_EQ(sent.body, "");
}

TEST_F(NEBNetworkTest, RequestsThatCannotBeMadeAreReportedLater) {
    struct Case {
        std::optional<ns::URL> url;
        int64_t code;
    };
    for (const auto& c : {Case{std::nullopt, 1}, Case{ns::URL::parse("ftp://example.invalid/x"), 4},
                          Case{ns::URL::parse("relative/path"), 4}}) {
        auto outcome = std::make_shared<Outcome>();
        EXPECT_FALSE(network_->postURL(c.url, ns::Data::fromString("x"), nullptr, false,
                                       recordInto(outcome)));
        EXPECT_EQ(outcome->calls, 0);  // never before the call returns
        ASSERT_TRUE(waitFor(outcome));
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_EQ(outcome->error->domain(), "com.nebula.network.ErrorDomain");
        EXPECT_EQ(outcome->errorCode(), c.code);
        EXPECT_EQ(outcome->error->userInfo().at("Context"),
                  ns::Value("Failed to create network request"));
    }
    EXPECT_FALSE(network_->hasUploadInProgress());
}

// Serves "https://silent.test/": every load ends without an answer and without an error.
class SilentProtocol : public net::URLProtocol {
public:
    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const net::URLRequest& request) {
        return request.url().host() == std::optional<std::string>("silent.test");
    }
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request) {
        return request;
    }
    void startLoading() override { client()->didFinishLoading(*this); }
    void stopLoading() override {}
};

// A request that ends with neither an answer nor an error is no success: a POST or a GET
// completes once with the empty-response error.
TEST_F(NEBNetworkTest, AnExchangeEndingWithoutAnswerOrErrorIsAnEmptyResponse) {
    logs_.expect("<Nebula/Network/ERROR> Encounter network error. Code, error: 5");
    net::URLProtocol::registerClass<SilentProtocol>();
    for (bool post : {true, false}) {
        SCOPED_TRACE(post ? "POST" : "GET");
        auto outcome = std::make_shared<Outcome>();
        const auto url = ns::URL::parse("https://silent.test/x");
        if (post) {
            network_->postURL(url, ns::Data::fromString("x"), nullptr, false, recordInto(outcome));
        } else {
            network_->getURL(url, {}, nullptr, false, recordInto(outcome));
        }
        ASSERT_TRUE(waitFor(outcome));
        loop().runUntilIdle();
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_EQ(outcome->status(), 0);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain(), "com.nebula.network.ErrorDomain");
        EXPECT_EQ(outcome->errorCode(), 5);
        EXPECT_EQ(outcome->error->userInfo().at("Context"),
                  ns::Value("Network Error: Empty network response"));
    }
    net::URLProtocol::unregisterClass<SilentProtocol>();
}

TEST_F(NEBNetworkTest, CompletionRunsOnTheCallersQueue) {
    server_->on("GET", "/q", HttpResponse::text(200, "q"));
    auto queue = dispatch::Queue::createSerial("caller");
    auto outcome = std::make_shared<Outcome>();
    std::atomic<bool> onQueue{false};
    network_->getURL(server_->url("/q"), {}, queue, false,
                     [outcome, queue, &onQueue](auto response, auto data, auto error) {
                         onQueue = queue->isCurrent();
                         recordInto(outcome)(response, data, error);
                     });
    ASSERT_TRUE(waitFor(outcome));
    EXPECT_TRUE(onQueue);
}

TEST_F(NEBNetworkTest, GetCarriesTheCallersHeadersAndDeliversTheBody) {
    server_->on("GET", "/config", HttpResponse::text(200, "{\"ok\":true}"));
    auto outcome = std::make_shared<Outcome>();
    network_->getURL(server_->url("/config"), {{"X-Test-Header", "1"}, {"If-None-Match", "abc"}},
                     nullptr, false, recordInto(outcome));
    ASSERT_TRUE(waitFor(outcome));
    EXPECT_EQ(outcome->status(), 200);
    ASSERT_TRUE(outcome->data);
    EXPECT_EQ(outcome->data->chars(), "{\"ok\":true}");
    auto sent = server_->requests().at(0);
    EXPECT_EQ(sent.header("X-Test-Header"), "1");
    EXPECT_EQ(sent.header("If-None-Match"), "abc");
}

TEST_F(NEBNetworkTest, OversizedOrCutOffDownloadIsAnError) {
    logs_.expect("<Nebula/Network/ERROR> Encounter network error. Code, error: -1103");
    logs_.expect("<Nebula/Network/ERROR> Encounter network error. Code, error: -1005");
    // An answer that announces one byte more than a GET may hold.
    server_->on("GET", "/huge",
                HttpResponse::raw("HTTP/1.1 200 OK\r\nContent-Length: " +
                                  std::to_string((16 << 20) + 1) + "\r\n\r\nxxxx"));
    auto outcome = std::make_shared<Outcome>();
    network_->getURL(server_->url("/huge"), {}, nullptr, false, recordInto(outcome));
    ASSERT_TRUE(waitFor(outcome));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->errorCode(), net::kURLErrorDataLengthExceedsMaximum);
    EXPECT_FALSE(outcome->data);

    // An answer cut off before the length it announced is no success either.
    server_->on("GET", "/cut",
                HttpResponse::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"));
    auto cut = std::make_shared<Outcome>();
    network_->getURL(server_->url("/cut"), {}, nullptr, false, recordInto(cut));
    ASSERT_TRUE(waitFor(cut));
    EXPECT_EQ(cut->calls, 1);
    EXPECT_EQ(cut->errorCode(), net::kURLErrorNetworkConnectionLost);
}

TEST_F(NEBNetworkTest, RedirectsThatAreNotFollowed) {
    server_->on("POST", "/moved", HttpResponse::redirect(302, "/elsewhere"));
    server_->on("POST", "/see-other", HttpResponse::redirect(303, "/elsewhere"));
    server_->on("GET", "/elsewhere", HttpResponse::text(200, "landed"));
    server_->on("POST", "/downgrade", HttpResponse::redirect(303, "http://127.0.0.1:1/plain"));

    auto moved = post("/moved", "x");
    EXPECT_EQ(moved->status(), 302);
    EXPECT_FALSE(moved->error);
    auto seeOther = post("/see-other", "x");
    EXPECT_EQ(seeOther->status(), 200);
    auto downgrade = post("/downgrade", "x");
    EXPECT_EQ(downgrade->status(), 303);
    EXPECT_EQ(downgrade->calls, 1);
    EXPECT_EQ(server_->requestCount(), 4u);
}

// The GET that follows a 303 carries no body, so it declares neither its encoding nor its
// type, though the POST's fields were the session's own.
TEST_F(NEBNetworkTest, TheGetAfterASeeOtherDeclaresNoBody) {
    server_->on("POST", "/see-other", HttpResponse::redirect(303, "/elsewhere"));
    server_->on("GET", "/elsewhere", HttpResponse::text(200, "landed"));
    EXPECT_EQ(post("/see-other", "x")->status(), 200);
    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Content-Encoding"), "gzip");
    EXPECT_TRUE(requests[0].header("Content-Type"));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[1].header("Content-Encoding"), std::nullopt);
    EXPECT_EQ(requests[1].header("Content-Type"), std::nullopt);
}

// A POST whose connection the server closes after reading it whole may have been acted on:
// in a background session as in the foreground, it is sent once and its caller gets the lost
// connection, also when the network changes afterwards.
TEST_F(NEBNetworkTest, ServerErrorsAndDroppedConnectionsCompleteOnce) {
    logs_.expect("<Nebula/Network/ERROR> Encounter network error. Code, error: -1005");
    for (bool background : {false, true}) {
        SCOPED_TRACE(background ? "background" : "foreground");
        const std::string fail = background ? "/bg-fail" : "/fail";
        const std::string drop = background ? "/bg-drop" : "/drop";
        server_->on("POST", fail, HttpResponse::text(500, "no"));
        server_->on("POST", drop, HttpResponse::closeConnection());
        server_->on("POST", drop, HttpResponse::text(200, "a second copy"));
        const size_t before = server_->requestCount();
        auto failed = post(fail, "x", background);
        EXPECT_EQ(failed->status(), 500);
        EXPECT_FALSE(failed->error);
        auto dropped = post(drop, "x", background);
        EXPECT_EQ(dropped->status(), 0);
        ASSERT_TRUE(dropped->error);
        EXPECT_EQ(dropped->error->domain(), net::kURLErrorDomain);
        EXPECT_EQ(dropped->errorCode(), net::kURLErrorNetworkConnectionLost);
        setReachable(true);
        loop().runUntilIdle();
        EXPECT_EQ(failed->calls, 1);
        EXPECT_EQ(dropped->calls, 1);
        EXPECT_EQ(server_->requestCount(), before + 2);
        EXPECT_FALSE(network_->hasUploadInProgress());
        EXPECT_TRUE(net::BackgroundJobStore::load().empty());
    }
}

TEST_F(NEBNetworkTest, BackgroundUploadBodyLivesInAnExcludedFileUntilCompletion) {
    // Written by the server's thread while it answers.
    std::mutex seen;
    std::string bodyFile;
    std::optional<net::URLRequest> kept;
    server_->on("POST", "/bg", [&](const peers::HttpRequest&) {
        std::lock_guard lock(seen);
        for (const auto& job : net::BackgroundJobStore::load()) {
            bodyFile = job.bodyFile();
            kept = job.request();
        }
        return HttpResponse::text(200, "ok");
    });
    network_->setTimeoutInterval(0);  // stands for the default
    auto outcome = std::make_shared<Outcome>();
    auto id = network_->postURL(server_->url("/bg"), ns::Data::fromString("background body"),
                                nullptr, true, recordInto(outcome));
    ASSERT_TRUE(id);
    auto path = NEBNetworkURLSession::temporaryFilePathWithSessionID(*id);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(ns::FileManager::defaultManager().isExcludedFromBackup(path));
    ASSERT_TRUE(waitFor(outcome));
    EXPECT_EQ(outcome->status(), 200);
    std::lock_guard lock(seen);
    EXPECT_EQ(bodyFile, path);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->timeoutInterval(), 60.0);
    EXPECT_EQ(kept->cachePolicy(), net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
    EXPECT_EQ(kept->valueForHTTPHeaderField("Content-Encoding"), "gzip");
    EXPECT_EQ(gunzip(server_->requests().at(0).body), "background body");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(net::BackgroundJobStore::load().empty());
}

TEST_F(NEBNetworkTest, BackgroundUploadWithoutABodyFileRunsInTheForeground) {
    logs_.expect("<Nebula/Network/ERROR> Cannot create temporary directory.");
    server_->on("POST", "/fg", HttpResponse::text(200, "ok"));
    // A file where the temporary directory should be: no body file can be written.
    auto directory = NEBNetworkURLSession::networkDirectoryPath();
    std::filesystem::create_directories(std::filesystem::path(directory).parent_path());
    std::ofstream(directory) << "in the way";
    auto outcome = post("/fg", "still sent", true);
    EXPECT_EQ(outcome->status(), 200);
    EXPECT_EQ(gunzip(server_->requests().at(0).body), "still sent");
    EXPECT_TRUE(net::BackgroundJobStore::load().empty());
}

TEST_F(NEBNetworkTest, SweepSparesBodiesOfPendingBackgroundUploads) {
    namespace fs = std::filesystem;
    auto directory = NEBNetworkURLSession::networkDirectoryPath();
    fs::create_directories(directory);
    auto stale = directory + "/NEBUpload_temp_stale";
    auto pending = directory + "/NEBUpload_temp_pending";
    std::ofstream(stale) << "old";
    std::ofstream(pending) << "waiting for the next launch";
    // Both are hours away from the test's clock.
    net::URLRequest request(server_->url("/later"));
    request.setHTTPMethod("POST");
    ASSERT_TRUE(net::BackgroundJobStore::save(
                    net::BackgroundJob(ns::UUID().UUIDString(),
                                       "com.nebula.network.background-upload-X", request, pending))
                    .ok());
    server_->on("POST", "/now", HttpResponse::text(200, "ok"));
    post("/now", "x");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(pending));
}

TEST_F(NEBNetworkTest, ReachabilityChangesReachTheDelegate) {
    struct Watcher : NEBNetworkReachabilityDelegate {
        void reachabilityDidChange() override { ++changes; }
        int changes = 0;
    };
    auto watcher = std::make_shared<Watcher>();
    network_->setReachabilityDelegate(watcher);
    ASSERT_TRUE(waitUntil([&] { return network_->isNetworkConnected(); }));
    setReachable(false);
    ASSERT_TRUE(waitUntil([&] { return !network_->isNetworkConnected(); }));
    setReachable(true);
    ASSERT_TRUE(waitUntil([&] { return network_->isNetworkConnected(); }));
    EXPECT_EQ(watcher->changes, 3);
}

TEST_F(NEBNetworkTest, TheWatchedHostIsTheNameWithoutItsPort) {
    std::vector<std::string> watched;
    net::ReachabilityFlagSource::setFactory([&](const net::ReachabilityTarget& target) {
        watched.push_back(target.hostName.value_or(""));
        return std::make_shared<net::InjectedReachabilitySource>(target);
    });
    for (const char* host : {"127.0.0.1:8443", "[::1]:8443", "::1", "measure.example.invalid"})
        EXPECT_NE(NEBNetwork::create(host), nullptr);
    EXPECT_EQ(watched,
              (std::vector<std::string>{"127.0.0.1", "::1", "::1", "measure.example.invalid"}));
}

// Hands every call on to an injected source, counting the calls that the platform takes only
// on the main thread, and those of them that came from another thread.
class MainThreadCallsSource : public net::ReachabilityFlagSource {
public:
    explicit MainThreadCallsSource(std::shared_ptr<net::InjectedReachabilitySource> inner)
        : inner_(std::move(inner)) {}
    const net::ReachabilityTarget& target() const override { return inner_->target(); }
    std::optional<net::ReachabilityFlags> currentFlags() override { return inner_->currentFlags(); }
    bool setCallback(Callback callback) override {
        note();
        return inner_->setCallback(std::move(callback));
    }
    bool scheduleWithMainRunLoop() override {
        note();
        return inner_->scheduleWithMainRunLoop();
    }
    bool unscheduleFromMainRunLoop() override {
        note();
        return inner_->unscheduleFromMainRunLoop();
    }

    std::atomic<int> calls{0};
    std::atomic<int> callsOffTheMainThread{0};

private:
    void note() {
        ++calls;
        if (!dispatch::RunLoop::isMainThread()) ++callsOffTheMainThread;
    }
    std::shared_ptr<net::InjectedReachabilitySource> inner_;
};

TEST_F(NEBNetworkTest, TheWatchStartsAndStopsOnTheMainThreadWhereverTheClientIsMadeAndDropped) {
    auto injected = std::make_shared<net::InjectedReachabilitySource>(
        net::ReachabilityTarget::forHostName("localhost"));
    auto source = std::make_shared<MainThreadCallsSource>(injected);
    net::ReachabilityFlagSource::setFactory(
        [source](const net::ReachabilityTarget&) { return source; });
    struct Watcher : NEBNetworkReachabilityDelegate {
        void reachabilityDidChange() override { ++changes; }
        std::atomic<int> changes{0};
    };
    auto watcher = std::make_shared<Watcher>();

    // Made on another thread, as the measurement engine makes its client on its worker.
    std::shared_ptr<NEBNetwork> network;
    std::thread([&] {
        network = NEBNetwork::create("localhost");
        if (network) network->setReachabilityDelegate(watcher);
    }).join();
    ASSERT_TRUE(network);
    ASSERT_TRUE(waitUntil([&] { return network->isNetworkConnected(); }));
    EXPECT_EQ(watcher->changes, 1);

    // The last owner lets go on another thread while a change is due on the main thread.
    injected->setFlags(0);
    std::thread([&] { network.reset(); }).join();
    loop().runUntilIdle();

    EXPECT_FALSE(injected->isScheduled());
    EXPECT_FALSE(injected->hasCallback());
    EXPECT_EQ(watcher->changes, 1);  // nothing reached the client that was gone
    EXPECT_GE(source->calls, 4);     // callback and scheduling, both undone
    EXPECT_EQ(source->callsOffTheMainThread, 0);
}

TEST_F(NEBNetworkTest, NoClientWithoutAReachabilityWatch) {
    logs_.expect("<Nebula/Network/ERROR> Failed to start reachability handle");
    net::ReachabilityFlagSource::setFactory([](const net::ReachabilityTarget& target) {
        auto source = std::make_shared<net::InjectedReachabilitySource>(target);
        source->setSchedulingFails(true);
        return source;
    });
    EXPECT_EQ(NEBNetwork::create("localhost"), nullptr);
}

TEST_F(NEBNetworkTest, LogLinesGoToTheDelegateWithoutQueryStrings) {
    logs_.expect("<Nebula/Network/ERROR> Cannot set the network logger delegate");
    server_->on("POST", "/log", HttpResponse::text(200, "ok"));
    server_->on("POST", "/drop", HttpResponse::closeConnection());
    auto logger = std::make_shared<RecordingLogger>();
    network_->setLoggerDelegate(logger);
    network_->setLoggerDelegate(nullptr);  // refused: the delegate stays
    auto outcome = std::make_shared<Outcome>();
    network_->postURL(server_->url("/log?token=hunter2"), ns::Data::fromString("x"), nullptr, false,
                      recordInto(outcome));
    ASSERT_TRUE(waitFor(outcome));
    auto failed = std::make_shared<Outcome>();
    network_->postURL(server_->url("/drop?token=hunter2"), ns::Data::fromString("x"), nullptr,
                      false, recordInto(failed));
    ASSERT_TRUE(waitFor(failed));
    ASSERT_TRUE(failed->error);
    ASSERT_FALSE(logger->lines.empty());
    EXPECT_EQ(logger->lines[0].first, NEBNetworkLogLevel::Debug);
    EXPECT_EQ(logger->lines[0].second, "Uploading data. Host | " + server_->baseURL() + "/log");
    EXPECT_EQ(logger->lines.back().first, NEBNetworkLogLevel::Error);
    for (const auto& [level, line] : logger->lines) {
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
    }
    EXPECT_TRUE(logs().contains("<Nebula/Network/ERROR> Cannot set the network logger delegate"));
}

TEST_F(NEBNetworkTest, ConsoleLinesWithoutADelegate) {
    logs_.expect("<Nebula/Network/ERROR> Code, error: 2, (nil)");
    ASSERT_TRUE(waitUntil([&] { return network_->isNetworkConnected(); }));
    logs().clear();
    network_->nebNetwork_logWithLevel(NEBNetworkLogLevel::Debug, "quiet");
    network_->nebNetwork_logWithLevel(NEBNetworkLogLevel::Warning, "", ns::Value());
    network_->nebNetwork_logWithLevel(NEBNetworkLogLevel::Error, "Code, error",
                                      std::vector<ns::Value>{2, ns::Value()});
    network_->setIsDebugModeEnabled(true);
    network_->nebNetwork_logWithLevel(NEBNetworkLogLevel::Debug, "loud");
    auto texts = logs().texts();
    EXPECT_EQ(texts, (std::vector<std::string>{"<Nebula/Network/WARNING> (Message was empty)",
                                               "<Nebula/Network/ERROR> Code, error: 2, (nil)",
                                               "<Nebula/Network/DEBUG> loud"}));
}

TEST_F(NEBNetworkTest, BackgroundEventsOfOtherOwnersAreIgnored) {
    bool called = false;
    NEBNetwork::handleEventsForBackgroundURLSessionID("com.other.session", [&] { called = true; });
    // A session of ours with nothing left to take up is done at once.
    NEBNetwork::handleEventsForBackgroundURLSessionID("com.nebula.network.background-upload-NONE",
                                                      [&] { called = true; });
    loop().runUntilIdle();
    EXPECT_TRUE(called);
    EXPECT_FALSE(NEBNetworkURLSession::sessionIDToSystemCompletionHandlerDictionary().objectForKey(
        "com.other.session"));
}

using NEBNetworkURLSessionConcurrencyTest = sdktest::SdkCoreTest;

// Each read of the ID while another thread sets it gives one whole ID, the old or the new.
TEST_F(NEBNetworkURLSessionConcurrencyTest, TheIDReadsWholeWhileItIsSetElsewhere) {
    auto session = NEBNetworkURLSession::create({});
    const std::string prefix = std::string(kNEBNetworkBackgroundSessionConfigIDPrefix) + "-";
    const std::string ids[] = {prefix + "restored-first-session", prefix + "restored-second"};
    session->setSessionID(ids[0]);
    std::atomic<bool> done{false};
    std::thread setter([&] {
        for (int i = 0; i < 2000; ++i) session->setSessionID(ids[i % 2]);
        done = true;
    });
    int torn = 0;
    while (!done) {
        const std::string id = session->sessionID();
        const std::string path = session->uploadingFilePath();
        if (id != ids[0] && id != ids[1]) ++torn;
        if (!path.ends_with("restored-first-session") && !path.ends_with("restored-second")) ++torn;
    }
    setter.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
