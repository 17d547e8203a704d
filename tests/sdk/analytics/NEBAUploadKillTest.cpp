// A process killed while it uploads, and started again on the same files, loses no event: the
// measurement server receives every one, copies only of the batch that was in flight, which it
// tells apart by app instance ID and bundle index.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <set>
#include <thread>

#include "platform/dispatch/Clock.h"
#include "platform/net/BackgroundJobStore.h"
#include "platform/net/ReachabilityFlagSource.h"
#include "platform/net/TLSSettings.h"
#include "platform/net/URLSession.h"
#include "platform/sec/Keychain.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAnalytics.h"
#include "sdk/core/NEBServiceHosts.h"
#include "services/peers/MeasurementPeer.h"
#include "tests/peers/LoopPump.h"
#include "tests/sdk/analytics/AnalyticsFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;

class Quiet : public NEBALogging {
public:
    void logMessage(const std::string&, int64_t) override {}
};

constexpr const char* kAppID = "1:42:ios:kill";

// In the parent's sandbox (args[0]), against the server at args[1] trusted through args[2]:
// logs events "e" with "i" = args[4] ... args[4] + args[5] - 1 when args[3] is "log", then
// uploads for ever; with "drain", uploads until nothing is left and ends with 0; with
// "resume", first takes up the background uploads an earlier run left, as the host does at a
// launch, then drains.
[[noreturn]] void uploadUntilKilled(int signalFd, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(2);
    sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
    net::TLSSettings::setExtraCAFile(args.at(2));
    net::ReachabilityFlagSource::setFactory([](const net::ReachabilityTarget& target) {
        return std::make_shared<net::InjectedReachabilitySource>(target,
                                                                 net::kReachabilityFlagsReachable);
    });
    NEBServiceHosts::setMeasurementUploadHost(args.at(1));
    ui::Application application;
    if (args.at(3) == "resume") {
        NEBNetwork::installBackgroundEventsHook(application);
        net::URLSession::resumePendingBackgroundJobs(
            [&application](const std::string& identifier, std::function<void()> done) {
                application.deliver<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
                    identifier, ui::CompletionHandler(std::move(done)));
            });
    }
    auto monitor = std::make_shared<NEBAMonitor>(-1, std::make_shared<Quiet>(), 3403);
    NEBAMonitor::setShared(monitor);
    NEBAIdentity::ScopedInstanceIDSource instanceID(
        [] { return ns::Result<std::string>(std::string("iid")); });
    auto options =
        std::make_shared<NEBOptions>(std::make_shared<const ns::Dictionary>(ns::Dictionary{
            {kNEBNebulaAppID, ns::Value(kAppID)}, {kNEBBundleID, ns::Value("com.example.kill")}}));
    auto engine = NEBAMeasurement::initWithDatabaseName(
        NEBADatabase::kDatabaseName, NEBAPersistedConfig::kSuiteName,
        std::make_shared<NEBAScheduler>("kill.measurement.worker"), options,
        NEBAMeasurement::Context{NEBServices::standard(), monitor, NEBAnalytics::eventPort()},
        NEBNetwork::create("localhost"));
    if (!engine) ::_exit(3);
    auto& worker = *engine->scheduler()->workerQueue();
    if (!peers::runMainLoopUntil([&] { return worker.sync([&] { return engine->database(); }); }))
        ::_exit(4);
    if (args.at(3) == "log") {
        const int first = std::stoi(args.at(4));
        const int count = std::stoi(args.at(5));
        for (int i = first; i < first + count; ++i) {
            auto event = NEBAEvent::initWithOrigin(
                "app", true, "e", dispatch::Clock::current().wallTime(), 0, {{"i", ns::Value(i)}});
            worker.sync([&] { engine->logEventOnWorkerQueue(*event); });
        }
    }
    char logged = 'l';
    if (::write(signalFd, &logged, 1) != 1) ::_exit(5);
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (args.at(3) != "log" && !worker.sync([&] { return engine->hasDataToUpload(); }))
            ::_exit(0);
        worker.sync([&] { engine->uploadData(); });
        peers::runMainLoopUntil(
            [&] { return !worker.sync([&] { return engine->isNetworkRequestPending(); }); });
    }
    ::_exit(6);
}
const testsupport::ChildRegistration kUploader("NEBAUploadKillTest.uploadUntilKilled",
                                               &uploadUntilKilled);

class NEBAUploadKillTest : public analyticstest::AnalyticsTest {
protected:
    void SetUp() override {
        AnalyticsTest::SetUp();
        server_ = std::make_unique<peers::HttpsServer>(ca_);
        peer_ = std::make_unique<peers::MeasurementPeer>(*server_);
    }
    void TearDown() override {
        server_->stop();
        AnalyticsTest::TearDown();
    }

    pid_t start(const char* phase, int first, int count, int& fd) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_t pid = testsupport::startChild("NEBAUploadKillTest.uploadUntilKilled", fds[1],
                                            {ns::Sandbox::root(), peer_->host(), ca_.caFile(),
                                             phase, std::to_string(first), std::to_string(count)});
        ::close(fds[1]);
        fd = fds[0];
        pollfd ready{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 60000), 1) << phase;
        char logged;
        EXPECT_EQ(::read(fd, &logged, 1), 1) << phase;
        return pid;
    }

    static bool eventually(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    void kill(pid_t pid, int fd) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status)) << status;
        ::close(fd);
    }

    void drain(const char* phase = "drain") {
        int fd = -1;
        pid_t pid = start(phase, 0, 0, fd);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ::close(fd);
    }

    // The "i" of every "e" in the bundles the server tells apart.
    std::multiset<int64_t> received() const {
        std::multiset<int64_t> found;
        for (const auto& bundle : peer_->distinctBundles())
            for (const auto& event : bundle.events())
                for (const auto& param : event.params())
                    if (param.name() == "i") found.insert(param.int_value());
        return found;
    }

    static std::multiset<int64_t> range(int count) {
        std::multiset<int64_t> all;
        for (int i = 0; i < count; ++i) all.insert(i);
        return all;
    }

    peers::TestCA ca_;
    std::unique_ptr<peers::HttpsServer> server_;
    std::unique_ptr<peers::MeasurementPeer> peer_;
};

TEST_F(NEBAUploadKillTest, KilledWhileTheServerHoldsOrHasJustTakenABatchLosesNothing) {
    peer_->answerConfig(kAppID, 404);
    // Killed while the server holds its answer to the first upload.
    peer_->answerUpload(peers::HttpResponse::hang());
    peer_->answerUpload(200);
    int fd = -1;
    pid_t pid = start("log", 0, 300, fd);
    ASSERT_TRUE(eventually([&] { return peer_->uploadCount() >= 1; }));
    kill(pid, fd);
    drain();
    EXPECT_EQ(received(), range(300));

    // Killed as soon as the server has taken a batch, before or after its bundles were deleted.
    const size_t batches = peer_->batches().size();
    pid = start("log", 300, 300, fd);
    ASSERT_TRUE(eventually([&] { return peer_->batches().size() > batches; }));
    kill(pid, fd);
    drain();
    EXPECT_EQ(received(), range(600));
}

// A batch that went in a background session, whose answer the killed process never heard, is
// sent again by the next launch, which takes the upload up: the server's acceptance deletes
// its bundles there, and they are not sent a third time.
TEST_F(NEBAUploadKillTest, AnAcceptedBackgroundUploadTakenUpAtTheNextLaunchDeletesItsBundles) {
    peer_->answerConfig(
        kAppID, 200,
        analyticstest::configWith(kAppID, {{"measurement.network.background_session_enabled", "1"}})
            .SerializeAsString());
    peer_->answerUpload(peers::HttpResponse::hang());
    peer_->answerUpload(204);
    int fd = -1;
    pid_t pid = start("log", 0, 20, fd);
    ASSERT_TRUE(eventually([&] { return peer_->uploadCount() >= 1; }));
    kill(pid, fd);
    ASSERT_EQ(net::BackgroundJobStore::load().size(), 1u);

    drain("resume");
    EXPECT_EQ(peer_->uploadCount(), 2u);
    std::vector<std::string> uploads;
    for (const auto& request : server_->requests())
        if (request.path == "/a") uploads.push_back(request.body);
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1], uploads[0]);
    EXPECT_EQ(received(), range(20));
    EXPECT_TRUE(net::BackgroundJobStore::load().empty());
}

}  // namespace
