// A background upload that a killed process left unfinished is taken up by the next launch.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "platform/net/BackgroundJobStore.h"
#include "platform/net/URLSession.h"
#include "platform/ui/Application.h"
#include "tests/sdk/core/NetworkFixture.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

extern char** environ;

namespace {

using peers::HttpResponse;
using sdktest::Outcome;
using sdktest::recordInto;

constexpr const char* kSandboxVariable = "NEB_TEST_FIRST_LAUNCH_SANDBOX";
constexpr const char* kURLVariable = "NEB_TEST_FIRST_LAUNCH_URL";
constexpr const char* kCAVariable = "NEB_TEST_FIRST_LAUNCH_CA";
constexpr const char* kPayload = "records that must survive the process";

// The first launch, run in a child process by the test below: it starts a background upload
// and keeps running until it is killed.
TEST(NEBNetworkFirstLaunch, DISABLED_StartsABackgroundUploadAndWaits) {
    const char* sandbox = std::getenv(kSandboxVariable);
    if (!sandbox) GTEST_SKIP() << "runs only as the child of the relaunch test";
    ASSERT_TRUE(ns::Sandbox::configure(sandbox).ok());
    net::TLSSettings::setExtraCAFile(std::getenv(kCAVariable));
    net::ReachabilityFlagSource::setFactory([](const net::ReachabilityTarget& target) {
        return std::make_shared<net::InjectedReachabilitySource>(target);
    });
    auto network = NEBNetwork::create("localhost");
    ASSERT_TRUE(network);
    auto id = network->postURL(ns::URL::parse(std::getenv(kURLVariable)),
                               ns::Data::fromString(kPayload), nullptr, true,
                               [](auto, auto, auto) { std::_Exit(4); });  // must not finish
    ASSERT_TRUE(id);
    peers::runMainLoopUntil([] { return false; }, std::chrono::minutes(2));
}

class NEBNetworkRelaunchTest : public sdktest::NetworkTest {
protected:
    pid_t spawnFirstLaunch(const std::string& path = "/bg") {
        ::setenv(kSandboxVariable, ns::Sandbox::root().c_str(), 1);
        ::setenv(kURLVariable, server_->url(path).absoluteString().c_str(), 1);
        ::setenv(kCAVariable, ca_->caFile().c_str(), 1);
        std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string filter = "--gtest_filter=NEBNetworkFirstLaunch.*";
        std::string disabled = "--gtest_also_run_disabled_tests";
        char* argv[] = {exe.data(), filter.data(), disabled.data(), nullptr};
        pid_t child = -1;
        int spawned = ::posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv, environ);
        ::unsetenv(kSandboxVariable);
        ::unsetenv(kURLVariable);
        ::unsetenv(kCAVariable);
        return spawned == 0 ? child : -1;
    }
};

TEST_F(NEBNetworkRelaunchTest, TheNextLaunchSendsTheUploadAgainAndFinishesTheEvents) {
    server_->on("POST", "/bg", HttpResponse::hang());  // the first launch never hears back
    server_->on("POST", "/bg", HttpResponse::text(200, ""));
    pid_t child = spawnFirstLaunch();
    ASSERT_GT(child, 0);
    bool arrived = server_->waitForRequests(1, std::chrono::seconds(60));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(arrived);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the first launch ended by itself: " << status;

    auto jobs = net::BackgroundJobStore::load();
    ASSERT_EQ(jobs.size(), 1u);
    auto bodyFile = jobs[0].bodyFile();
    ASSERT_TRUE(std::filesystem::exists(bodyFile));

    // The second launch: the host tells the application of the unfinished session, and the
    // client's hook on the application takes it up.
    ui::Application application;
    NEBNetwork::installBackgroundEventsHook(application);
    EXPECT_EQ(net::URLSession::resumePendingBackgroundJobs(
                  [&application](const std::string& identifier, std::function<void()> done) {
                      application.deliver<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
                          identifier, ui::CompletionHandler(std::move(done)));
                  }),
              1u);
    ASSERT_TRUE(waitUntil([&] { return net::BackgroundJobStore::load().empty(); }));

    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, requests[0].body);
    EXPECT_EQ(requests[1].header("Content-Encoding"), "gzip");
    auto inflated = tbx_dataByInflatingData(ns::Data::fromString(requests[1].body));
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated->chars(), kPayload);
    EXPECT_FALSE(std::filesystem::exists(bodyFile));
    EXPECT_TRUE(net::BackgroundJobStore::load().empty());
}

// The caller of the killed run takes its upload up in the next one, whether the host told the
// application of it first (and the answer came already) or not yet: the answer that run never
// heard comes to it, once; then nothing of it is left.
TEST_F(NEBNetworkRelaunchTest, TheNextLaunchHandsTheAnswerToTheCallerThatTakesTheUploadUp) {
    for (bool hostFirst : {true, false}) {
        const std::string path = hostFirst ? "/host-first" : "/caller-first";
        server_->on("POST", path, HttpResponse::hang());
        server_->on("POST", path, HttpResponse::text(204, ""));
        const size_t before = server_->requestCount();
        pid_t child = spawnFirstLaunch(path);
        ASSERT_GT(child, 0);
        bool arrived = server_->waitForRequests(before + 1, std::chrono::seconds(60));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(arrived);
        auto jobs = net::BackgroundJobStore::load();
        ASSERT_EQ(jobs.size(), 1u);
        const std::string sessionID = jobs[0].sessionIdentifier();

        ui::Application application;
        NEBNetwork::installBackgroundEventsHook(application);
        auto resume = [&application] {
            return net::URLSession::resumePendingBackgroundJobs(
                [&application](const std::string& identifier, std::function<void()> done) {
                    application.deliver<ui::DelegateOp::HandleEventsForBackgroundURLSession>(
                        identifier, ui::CompletionHandler(std::move(done)));
                });
        };
        if (hostFirst) {
            EXPECT_EQ(resume(), 1u);
            ASSERT_TRUE(waitUntil([&] { return net::BackgroundJobStore::load().empty(); }));
        }
        auto network = NEBNetwork::create("localhost");
        auto outcome = std::make_shared<Outcome>();
        ASSERT_TRUE(network->takeUpBackgroundUpload(sessionID, nullptr, recordInto(outcome)));
        EXPECT_TRUE(network->hasUploadInProgress());
        if (!hostFirst) EXPECT_EQ(resume(), 0u) << "the upload was taken up already";
        ASSERT_TRUE(waitFor(outcome));
        EXPECT_EQ(outcome->status(), 204) << (hostFirst ? "host first" : "caller first");
        EXPECT_FALSE(outcome->error);
        EXPECT_FALSE(network->hasUploadInProgress());
        EXPECT_EQ(server_->requestCount(), before + 2);

        EXPECT_FALSE(network->takeUpBackgroundUpload(sessionID, nullptr, recordInto(outcome)));
        loop().runUntilIdle();
        EXPECT_EQ(outcome->calls, 1);
    }
}

}  // namespace
