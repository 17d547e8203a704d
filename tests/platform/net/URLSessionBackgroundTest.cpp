#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/dispatch/Clock.h"
#include "platform/net/BackgroundJob.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/URLError.h"
#include "platform/net/URLProtocol.h"
#include "platform/net/URLSession.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/UUID.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "services/peers/HttpsServer.h"
#include "tests/platform/net/NetTestSupport.h"
#include "tests/platform/net/RecordingSessionDelegate.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using nettest::NetTest;
using nettest::RecordingSessionDelegate;
using peers::HttpResponse;

namespace fs = std::filesystem;

std::vector<fs::path> jobFiles(const fs::path& directory) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory, ec)) {
        if (entry.path().extension() == ".job") files.push_back(entry.path());
    }
    return files;
}

class URLSessionBackgroundTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        net::URLSession::setBackgroundJobsDirectory((jobs_ / "jobs").string());
        std::ofstream(jobs_ / "body.bin", std::ios::binary) << "queued measurements";
    }
    void TearDown() override {
        net::URLSession::setBackgroundJobsDirectory("");
        NetTest::TearDown();
    }
    fs::path jobsDirectory() const { return jobs_ / "jobs"; }
    net::URLRequest post(const std::string& path) const {
        net::URLRequest request(server_.url(path));
        request.setHTTPMethod("POST");
        return request;
    }
    static std::shared_ptr<net::URLSession> backgroundSession(
        std::shared_ptr<RecordingSessionDelegate> delegate, const std::string& identifier) {
        return mainSession(
            std::move(delegate),
            net::URLSessionConfiguration::backgroundSessionConfiguration(identifier));
    }
    ns::URL bodyFile() const { return ns::URL::fileURLWithPath((jobs_ / "body.bin").string()); }

    testsupport::TempDir jobs_;
    peers::HttpsServer server_{ca()};
};

TEST_F(URLSessionBackgroundTest, UploadIsKeptOnDiskAndTakenUpByTheNextLaunch) {
    // The first run never hears back: the upload is still pending when it "dies".
    server_.on("POST", "/upload", HttpResponse::hang());
    server_.on("POST", "/upload", HttpResponse::text(200, "stored"));
    auto first = std::make_shared<RecordingSessionDelegate>();
    auto session = backgroundSession(first, "bg.measurement");
    net::URLRequest request = post("/upload");
    request.setValue("gzip", "Content-Encoding");
    auto task = session->uploadTask(request, bodyFile());
    task->resume();
    ASSERT_TRUE(server_.waitForRequests(1));
    auto files = jobFiles(jobsDirectory());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::status(files[0]).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    auto kept = ns::readFile(files[0].string());
    ASSERT_TRUE(kept);
    EXPECT_EQ(net::URLSession::resumePendingBackgroundJobs([](auto&, auto) {}), 0u)
        << "a job that a session is running is not reported";

    // Cancelling removes the job; putting the file back stands in for a process that died
    // before its upload finished.
    task->cancel();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return first->completions > 0; }));
    EXPECT_TRUE(jobFiles(jobsDirectory()).empty());
    ASSERT_TRUE(ns::writeFileAtomically(files[0].string(), *kept, 0600));

    // The next launch.
    auto second = std::make_shared<RecordingSessionDelegate>();
    std::shared_ptr<net::URLSession> relaunched;
    std::vector<std::string> reported;
    size_t count = net::URLSession::resumePendingBackgroundJobs(
        [&](const std::string& identifier, std::function<void()> completion) {
            reported.push_back(identifier);
            relaunched = backgroundSession(second, identifier);
            completion();
        });
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(reported, std::vector<std::string>{"bg.measurement"});
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return second->finishedBackgroundEvents > 0; }));

    EXPECT_EQ(second->events, (std::vector<std::string>{"challenge", "response 200", "data",
                                                        "complete", "background events finished"}));
    EXPECT_EQ(second->received, "stored");
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, "queued measurements");
    EXPECT_EQ(requests[1].header("Content-Encoding"), "gzip");
    EXPECT_TRUE(jobFiles(jobsDirectory()).empty());
    EXPECT_EQ(net::URLSession::resumePendingBackgroundJobs([](auto&, auto) {}), 0u);
    session->finishTasksAndInvalidate();
    relaunched->finishTasksAndInvalidate();
}

// The server reads the whole upload and closes the connection without answering: it may have
// stored what it read, so the upload is not sent again by itself; its caller hears of the lost
// connection and decides.
TEST_F(URLSessionBackgroundTest, AnUploadTheServerMayHaveReadFailsToItsCallerAndGoesOnce) {
    std::shared_ptr<net::InjectedReachabilitySource> network;
    net::ReachabilityFlagSource::setFactory([&](const net::ReachabilityTarget& target) {
        network = std::make_shared<net::InjectedReachabilitySource>(target, 0);
        return network;
    });
    server_.on("POST", "/upload", HttpResponse::closeConnection());
    server_.on("POST", "/upload", HttpResponse::text(200, "stored"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = backgroundSession(delegate, "bg.cut");
    session->uploadTask(post("/upload"), bodyFile())->resume();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code(), net::kURLErrorNetworkConnectionLost);
    EXPECT_TRUE(jobFiles(jobsDirectory()).empty());
    if (network) network->setFlags(net::kReachabilityFlagsReachable);
    loop().runUntilIdle();
    EXPECT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(server_.requests().at(0).body, "queued measurements");
    EXPECT_EQ(delegate->completions, 1);
    session->finishTasksAndInvalidate();
    net::ReachabilityFlagSource::setFactory(nullptr);
}

// Serves "https://unsent.test/": the first load fails with `failure`, every later one answers
// 200. Counts the loads made for it.
class FailsOnceProtocol : public net::URLProtocol {
public:
    static inline std::atomic<int64_t> failure{0};
    static inline std::atomic<int> made{0};

    FailsOnceProtocol(net::URLRequest request, std::shared_ptr<net::URLProtocolClient> client)
        : URLProtocol(std::move(request), std::move(client)) {
        ++made;
    }
    static bool canInitWithRequest(const net::URLRequest& request) {
        return request.url().host() == std::optional<std::string>("unsent.test");
    }
    static net::URLRequest canonicalRequestForRequest(const net::URLRequest& request) {
        return request;
    }
    void startLoading() override {
        if (const int64_t code = failure.exchange(0)) {
            client()->didFailWithError(*this, net::makeURLError(code, request().url()));
            return;
        }
        client()->didReceiveResponse(*this,
                                     std::make_shared<net::HTTPURLResponse>(
                                         request().url(), 200, "HTTP/1.1", net::HTTPHeaderFields{}),
                                     net::URLCacheStoragePolicy::NotAllowed);
        client()->didFinishLoading(*this);
    }
    void stopLoading() override {}
};

// A failure before anything of the upload could leave is waited out, whatever the method: the
// upload goes when the network is back (not at a change that brings none). A connection lost or
// timed out is waited out only by a method that may go twice; a POST fails with it at once.
TEST_F(URLSessionBackgroundTest, AnUploadGoesAgainByItselfOnlyWhereSendingItTwiceIsHarmless) {
    struct Case {
        const char* method;
        int64_t failure;
        bool waits;
    };
    const Case cases[] = {
        {"POST", net::kURLErrorNotConnectedToInternet, true},
        {"POST", net::kURLErrorCannotFindHost, true},
        {"POST", net::kURLErrorNetworkConnectionLost, false},
        {"POST", net::kURLErrorTimedOut, false},
        {"POST", net::kURLErrorCannotConnectToHost, false},
        {"PATCH", net::kURLErrorNetworkConnectionLost, false},  // not known to be safe
        {"PUT", net::kURLErrorNetworkConnectionLost, true},
        {"PUT", net::kURLErrorTimedOut, true},
    };
    std::shared_ptr<net::InjectedReachabilitySource> network;
    net::ReachabilityFlagSource::setFactory([&](const net::ReachabilityTarget& target) {
        network = std::make_shared<net::InjectedReachabilitySource>(target, 0);
        return network;
    });
    net::URLProtocol::registerClass<FailsOnceProtocol>();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " after " + std::to_string(c.failure));
        network.reset();
        FailsOnceProtocol::made = 0;
        FailsOnceProtocol::failure = c.failure;
        auto delegate = std::make_shared<RecordingSessionDelegate>();
        auto session = backgroundSession(delegate, "bg.unsent");
        net::URLRequest request(*ns::URL::parse("https://unsent.test/upload"));
        request.setHTTPMethod(c.method);
        session->uploadTask(request, bodyFile())->resume();
        if (c.waits) {
            ASSERT_TRUE(peers::runMainLoopUntil([&] { return network && network->isScheduled(); }));
            network->announce();  // a change that brings no network
            loop().runUntilIdle();
            EXPECT_EQ(FailsOnceProtocol::made, 1);
            EXPECT_EQ(delegate->completions, 0);
            EXPECT_EQ(jobFiles(jobsDirectory()).size(), 1u);
            network->setFlags(net::kReachabilityFlagsReachable);
        }
        ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));
        EXPECT_EQ(FailsOnceProtocol::made, c.waits ? 2 : 1);
        if (c.waits) {
            EXPECT_FALSE(delegate->error);
            EXPECT_EQ(delegate->events.front(), "response 200");
        } else {
            ASSERT_TRUE(delegate->error);
            EXPECT_EQ(delegate->error->code(), c.failure);
        }
        EXPECT_TRUE(jobFiles(jobsDirectory()).empty());
        session->finishTasksAndInvalidate();
        loop().runUntilIdle();
    }
    net::URLProtocol::unregisterClass<FailsOnceProtocol>();
    net::ReachabilityFlagSource::setFactory(nullptr);
}

// A session takes up the jobs of its own identifier only: another session's job waits on disk
// for a session of that identifier.
TEST_F(URLSessionBackgroundTest, ASessionTakesUpOnlyTheJobsOfItsIdentifier) {
    server_.on("POST", "/mine", HttpResponse::text(200, "mine"));
    server_.on("POST", "/theirs", HttpResponse::text(200, "theirs"));
    for (const auto& [session, path] : {std::pair{"bg.mine", "/mine"}, {"bg.theirs", "/theirs"}}) {
        ASSERT_TRUE(
            net::BackgroundJobStore::save(
                net::BackgroundJob(ns::UUID().UUIDString(), session, post(path), bodyFile().path()))
                .ok());
    }
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = backgroundSession(delegate, "bg.mine");
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->finishedBackgroundEvents > 0; }));
    loop().runUntilIdle();
    EXPECT_EQ(delegate->completions, 1);
    ASSERT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(server_.requests().at(0).path, "/mine");
    std::vector<std::string> waiting;
    net::URLSession::resumePendingBackgroundJobs(
        [&](const std::string& identifier, auto) { waiting.push_back(identifier); });
    EXPECT_EQ(waiting, std::vector<std::string>{"bg.theirs"});
    session->finishTasksAndInvalidate();
}

// A launch drops the jobs that are a week old or whose body has gone, their bodies with them.
TEST_F(URLSessionBackgroundTest, JobsThatOutlivedTheirUseGoWithTheirBodies) {
    fs::create_directories(jobsDirectory());
    const double now = dispatch::Clock::current().wallTime();
    const auto keep = [&](const std::string& session, const fs::path& body, double age) {
        if (!body.empty() && body.filename() != "missing.bin") std::ofstream(body) << "b";
        net::BackgroundJob job(ns::UUID().UUIDString(), session, post("/u"), body.string());
        const auto path = jobsDirectory() / (job.identifier() + ".job");
        std::ofstream(path) << job.serialized();
        const timespec when{static_cast<time_t>(now - age), 0};
        const timespec times[2] = {when, when};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    };
    constexpr double kDay = 24 * 3600;
    keep("bg.fresh", jobs_ / "fresh.bin", 6 * kDay);
    keep("bg.old", jobs_ / "old.bin", 8 * kDay);
    keep("bg.bodiless", jobs_ / "missing.bin", kDay);
    std::vector<std::string> reported;
    EXPECT_EQ(net::URLSession::resumePendingBackgroundJobs(
                  [&](const std::string& identifier, auto) { reported.push_back(identifier); }),
              1u);
    EXPECT_EQ(reported, std::vector<std::string>{"bg.fresh"});
    EXPECT_EQ(jobFiles(jobsDirectory()).size(), 1u);
    EXPECT_TRUE(fs::exists(jobs_ / "fresh.bin"));
    EXPECT_FALSE(fs::exists(jobs_ / "old.bin"));
}

TEST_F(URLSessionBackgroundTest, JobsOfOtherSessionsAndUploadsFromDataStayOffDisk) {
    server_.on("POST", "/u", HttpResponse::text(200, "ok"));
    auto delegate = std::make_shared<RecordingSessionDelegate>();
    auto session = backgroundSession(delegate, "bg.other");
    session->uploadTask(post("/u"), ns::Data::fromString("in memory"))->resume();
    ASSERT_TRUE(peers::runMainLoopUntil([&] { return delegate->completions > 0; }));
    EXPECT_TRUE(jobFiles(jobsDirectory()).empty());
    EXPECT_EQ(server_.requests().at(0).body, "in memory");
    session->finishTasksAndInvalidate();
}

TEST_F(URLSessionBackgroundTest, UnreadableJobFilesAreSkippedWithALogLine) {
    fs::create_directories(jobsDirectory());
    std::string whole = net::BackgroundJob(ns::UUID().UUIDString(), "bg.torn", post("/u"),
                                           (jobs_ / "body.bin").string())
                            .serialized();
    auto torn = jobsDirectory() / (ns::UUID().UUIDString() + ".job");
    std::ofstream(torn) << whole.substr(0, whole.size() / 2);
    testsupport::LogCapture log;
    log.expect("Skipping background job file");

    bool called = false;
    EXPECT_EQ(net::URLSession::resumePendingBackgroundJobs([&](auto&, auto) { called = true; }),
              0u);
    EXPECT_FALSE(called);
    EXPECT_TRUE(log.contains("Skipping background job file"));
    EXPECT_FALSE(fs::exists(torn));
}

}  // namespace
