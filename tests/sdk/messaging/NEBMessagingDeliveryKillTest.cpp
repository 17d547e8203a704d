// A program killed at any moment while messages are being handed to its page loses none that
// it acknowledged: each id the next login reports as received reaches the page, in this run
// or the next, and reaches it twice only when the kill fell between the page having it and
// that being recorded (which happens for a few at a time).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "sdk/messaging/NEBMessaging.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr int8_t kDataTag = 8;

// The page: it has each message a turn of the run loop after the library hands it over, as a
// web page does (the script runs in the page, the answer comes back later), tells the parent,
// then confirms it.
class DeferringPage : public NEBMessagingDelegate {
public:
    DeferringPage(int out, std::weak_ptr<NEBMessaging> messaging)
        : out_(out), messaging_(std::move(messaging)) {}
    bool respondsToApplicationReceivedRemoteMessage() const override { return true; }
    bool confirmsDelivery() const override { return true; }
    void applicationReceivedRemoteMessage(const NEBMessagingRemoteMessage& message) override {
        dispatch::Queue::main().async([out = out_, messaging = messaging_, id = message.messageID] {
            const std::string line = "D " + id + "\n";
            if (::write(out, line.data(), line.size()) < 0) ::_exit(2);
            if (auto held = messaging.lock()) held->didDeliverRemoteMessage(id);
        });
    }

private:
    int out_;
    std::weak_ptr<NEBMessaging> messaging_;
};

// The program: the library on the sandbox args[0], trusting the authority in args[1], signed
// in to the server at args[2], its page as above. It tells the parent "L" once signed in.
[[noreturn]] void receiveUntilKilled(int out, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(3);
    net::TLSSettings::setExtraCAFile(args.at(1));
    ::setenv(NEBServiceHosts::kMessagingServerVariable, args.at(2).c_str(), 1);
    NEBMessagingCheckinPreferences preferences;
    preferences.deviceID = "4242";
    preferences.secretToken = "secret-4242";
    preferences.lastCheckinTimestampMillis =
        static_cast<int64_t>(dispatch::Clock::current().wallTime() * 1000);
    auto network =
        std::make_shared<NIPReachability>(std::make_shared<net::InjectedReachabilitySource>(
            net::ReachabilityTarget::forNetworkInGeneral()));
    network->callbackWithFlags(net::kReachabilityFlagsReachable);
    auto messaging = messagingtest::startedMessaging(
        [preferences] { return std::optional<NEBMessagingCheckinPreferences>(preferences); },
        [network] { return network; });
    // The library holds its delegate weakly.
    auto page = std::make_shared<DeferringPage>(out, messaging);
    messaging->setRemoteMessageDelegate(page);
    messaging->connectWithCompletion([out](const std::optional<ns::Error>& error) {
        if (!error && ::write(out, "L\n", 2) < 0) ::_exit(2);
    });
    dispatch::RunLoop::main().run();
    ::_exit(0);
}

const testsupport::ChildRegistration kReceiver("NEBMessagingDeliveryKillTest.receiveUntilKilled",
                                               &receiveUntilKilled);

class NEBMessagingDeliveryKillTest : public messagingtest::MessagingTest {
protected:
    // One run of the program, and what it tells the parent, read as it comes.
    class Run {
    public:
        explicit Run(const std::vector<std::string>& args) {
            int fds[2];
            if (::pipe(fds) != 0) return;
            pid_ = testsupport::startChild("NEBMessagingDeliveryKillTest.receiveUntilKilled",
                                           fds[1], args);
            ::close(fds[1]);
            fd_ = fds[0];
        }
        ~Run() {
            kill();
            if (fd_ >= 0) ::close(fd_);
        }
        bool started() const { return pid_ > 0 && fd_ >= 0; }
        // The next line ("L", or "D <id>"); empty at the end, or when none comes for a while.
        std::string next(std::chrono::seconds cap = std::chrono::seconds(30)) {
            const auto deadline = std::chrono::steady_clock::now() + cap;
            for (;;) {
                if (auto end = pending_.find('\n'); end != std::string::npos) {
                    std::string line = pending_.substr(0, end);
                    pending_.erase(0, end + 1);
                    return line;
                }
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd wait{fd_, POLLIN, 0};
                if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                    return {};
                char buffer[4096];
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n <= 0) return {};
                pending_.append(buffer, static_cast<size_t>(n));
            }
        }
        void kill() {
            if (pid_ <= 0) return;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        bool killed() const { return pid_ < 0; }

    private:
        pid_t pid_ = -1;
        int fd_ = -1;
        std::string pending_;
    };

    std::vector<std::string> args() const {
        return {ns::Sandbox::root(), ca().caFile(), "127.0.0.1:" + std::to_string(server_.port())};
    }
    // Every id that a login so far reported as received.
    std::set<std::string> reported() const {
        std::set<std::string> ids;
        for (const auto& login : server_.loginRequests())
            ids.insert(login.received_persistent_id().begin(),
                       login.received_persistent_id().end());
        return ids;
    }

    peers::MessagingServer server_{{.identity = &ca().localhost(),
                                    .expectedUser = "4242",
                                    .expectedToken = "secret-4242",
                                    .lifetime = std::chrono::seconds(120)}};
};

TEST_F(NEBMessagingDeliveryKillTest, EveryAcknowledgedMessageReachesThePage) {
    // Each run gets a batch, and is killed after the page has had this many messages (the
    // later runs first get what the earlier left undelivered).
    const int killAfter[] = {7, 31, 2, 120};
    std::map<std::string, int> delivered;
    int kills = 0;
    for (size_t round = 0; round <= std::size(killAfter); ++round) {
        SCOPED_TRACE("run " + std::to_string(round));
        Run run(args());
        ASSERT_TRUE(run.started());
        if (round == std::size(killAfter)) {
            // The last run is left to deliver what is still kept.
            auto missing = [&] {
                for (const auto& id : reported())
                    if (!delivered.count(id)) return true;
                return false;
            };
            bool signedIn = false;
            while (!signedIn || missing()) {
                std::string line = run.next(std::chrono::seconds(10));
                ASSERT_FALSE(line.empty()) << "the last run went quiet";
                if (line == "L") signedIn = true;
                if (line.rfind("D ", 0) == 0) ++delivered[line.substr(2)];
            }
            break;
        }
        int seen = 0;
        for (std::string line = run.next(); !line.empty(); line = run.next()) {
            if (line == "L") {
                for (int i = 0; i < 200; ++i) {
                    const std::string id = "r" + std::to_string(round) + "-" + std::to_string(i);
                    server_.sendFrame(kDataTag, messagingtest::topicMessage(id, id));
                }
            } else if (line.rfind("D ", 0) == 0) {
                ++delivered[line.substr(2)];
                ++seen;
            }
            // What it wrote before it died is still read.
            if (!run.killed() && seen >= killAfter[round]) {
                run.kill();
                ++kills;
            }
        }
        ASSERT_TRUE(run.killed()) << "the run ended before its kill";
    }
    const auto acknowledged = reported();
    EXPECT_GT(acknowledged.size(), 100u);
    for (const auto& id : acknowledged) EXPECT_TRUE(delivered.count(id)) << "lost " << id;
    // Each kill falls after at most one batch of confirmations that was not recorded yet.
    size_t again = 0;
    for (const auto& [id, times] : delivered) again += static_cast<size_t>(times - 1);
    EXPECT_LE(again, static_cast<size_t>(kills) * NEBMessaging::kUnrecordedDeliveriesLimit);
}

}  // namespace
