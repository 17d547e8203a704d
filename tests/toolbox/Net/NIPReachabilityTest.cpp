#include "toolbox/Net/NIPReachability.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <thread>

#include "platform/ns/Exception.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "tests/support/ManualRunLoop.h"
#include "toolbox/Foundation/NSDK_TBXLogger.h"

namespace {

using net::InjectedReachabilitySource;
using net::kReachabilityFlagsIsDirect;
using net::kReachabilityFlagsIsWWAN;
using net::kReachabilityFlagsReachable;

class LineRecorder : public ns::Object, public TBXLogWriter {
public:
    void logMessage(std::string_view message, TBXLogLevel) override { lines.emplace_back(message); }
    std::vector<std::string> lines;
};

// Every monitor gets an injected source; notifications and log lines are recorded.
class ReachabilityTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        net::ReachabilityFlagSource::setFactory([this](const net::ReachabilityTarget& target) {
            lastSource_ = std::make_shared<InjectedReachabilitySource>(target);
            return lastSource_;
        });
        log_ = std::make_shared<LineRecorder>();
        NSDK_TBXLogger::setSharedLogger(NSDK_TBXLogger::loggerWithWriter(log_, nullptr, nullptr));
        token_ = ns::NotificationCenter::defaultCenter().addObserver(
            kNIPReachabilityChangedNotification, nullptr,
            [this](const ns::Notification& n) { posted_.push_back(n); });
    }
    void TearDown() override {
        ns::NotificationCenter::defaultCenter().removeObserver(token_);
        NSDK_TBXLogger::setSharedLogger(nullptr);
        net::ReachabilityFlagSource::setFactory(nullptr);
        ManualRunLoop::TearDown();
    }

    std::shared_ptr<InjectedReachabilitySource> lastSource_;
    std::shared_ptr<LineRecorder> log_;
    std::vector<ns::Notification> posted_;
    ns::NotificationCenter::ObserverToken token_ = 0;
};

TEST_F(ReachabilityTest, MonitorTargets) {
    auto general = NIPReachability::initWithHostName(std::nullopt);
    EXPECT_EQ(general->hostName(), std::nullopt);
    const auto& target = lastSource_->target();
    EXPECT_TRUE(target.isNetworkInGeneral());
    EXPECT_EQ(target.addressLength, 16u);
    EXPECT_EQ(target.address.ss_family, AF_INET);

    auto host = NIPReachability::initWithHostName("msg.example");
    EXPECT_EQ(host->hostName(), "msg.example");
    EXPECT_EQ(lastSource_->target().hostName, "msg.example");

    net::ReachabilityFlagSource::setFactory([](const net::ReachabilityTarget&) { return nullptr; });
    try {
        NIPReachability::init();
        FAIL() << "no exception";
    } catch (const ns::Exception& e) {
        EXPECT_EQ(e.reason(), "Nil reachability ref.");
    }
}

TEST_F(ReachabilityTest, StartReadsInitialFlagsThenCallsTheHandler) {
    auto monitor = NIPReachability::init();
    lastSource_->setFlags(kReachabilityFlagsReachable | kReachabilityFlagsIsDirect);
    int handled = 0;
    monitor->startWithCompletionHandler([&] { ++handled; });
    EXPECT_TRUE(monitor->monitoring());
    EXPECT_EQ(handled, 0);
    loop().runUntilIdle();
    EXPECT_EQ(handled, 1);
    EXPECT_TRUE(monitor->isReachable());
    EXPECT_TRUE(monitor->isDirect());
    EXPECT_FALSE(monitor->isCellularNetwork());
    EXPECT_FALSE(monitor->isConnectionRequired());

    // A second start installs nothing more but still reads afresh and calls its handler.
    int reads = lastSource_->readCount();
    monitor->startWithCompletionHandler([&] { ++handled; });
    loop().runUntilIdle();
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(lastSource_->readCount(), reads + 1);
    EXPECT_EQ(lastSource_->callbackInstallCount(), 1);
    EXPECT_EQ(lastSource_->scheduleCount(), 1);
}

TEST_F(ReachabilityTest, FailedSchedulingStillCallsTheHandler) {
    auto monitor = NIPReachability::init();
    lastSource_->setSchedulingFails(true);
    bool handled = false;
    monitor->startWithCompletionHandler([&] { handled = true; });
    loop().runUntilIdle();
    EXPECT_TRUE(handled);
    EXPECT_FALSE(monitor->monitoring());
    EXPECT_FALSE(lastSource_->hasCallback());
    ASSERT_EQ(log_->lines.size(), 1u);
    EXPECT_EQ(log_->lines[0], "Unable to schedule reachability in runloop");

    lastSource_->setFlagsReadable(false);
    handled = false;
    monitor->startWithCompletionHandler([&] { handled = true; });
    loop().runUntilIdle();
    EXPECT_TRUE(handled);
    EXPECT_EQ(log_->lines.back(), "Unable to get initial reachability flags");

    monitor->start();
    EXPECT_EQ(log_->lines.back(), "Unable to get reachability flags");
}

TEST_F(ReachabilityTest, FirstCallbackAfterEachStartPostsEvenWhenUnchanged) {
    auto monitor = NIPReachability::init();
    monitor->start();
    loop().runUntilIdle();
    lastSource_->announce();
    loop().runUntilIdle();
    EXPECT_EQ(posted_.size(), 1u);
    lastSource_->announce();
    loop().runUntilIdle();
    EXPECT_EQ(posted_.size(), 1u);

    lastSource_->setFlags(0);
    loop().runUntilIdle();
    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(posted_[1].object, monitor);
    EXPECT_FALSE(monitor->isReachable());
    // The notification tells the old state; the monitor the new one.
    EXPECT_TRUE(NIPReachability::wasPreviouslyReachable(posted_[1]));
    lastSource_->setFlags(kReachabilityFlagsReachable);
    loop().runUntilIdle();
    ASSERT_EQ(posted_.size(), 3u);
    EXPECT_TRUE(monitor->isReachable());
    EXPECT_FALSE(NIPReachability::wasPreviouslyReachable(posted_[2]));

    monitor->stop();
    EXPECT_FALSE(lastSource_->isScheduled());
    lastSource_->setFlags(0);
    loop().runUntilIdle();
    EXPECT_EQ(posted_.size(), 3u);
    EXPECT_TRUE(monitor->isReachable());  // the last flags stay after stopping

    lastSource_->setFlags(kReachabilityFlagsReachable);
    monitor->start();
    loop().runUntilIdle();
    lastSource_->announce();
    loop().runUntilIdle();
    EXPECT_EQ(posted_.size(), 4u);
}

TEST_F(ReachabilityTest, ChangeBeforeTheInitialReadWins) {
    auto monitor = NIPReachability::init();  // the source reads as reachable
    monitor->startWithCompletionHandler(nullptr);
    monitor->callbackWithFlags(kReachabilityFlagsIsWWAN);
    loop().runUntilIdle();
    EXPECT_TRUE(monitor->isCellularNetwork());
    EXPECT_FALSE(monitor->isReachable());
}

TEST_F(ReachabilityTest, QueuedChangeNeverReachesAMonitorThatIsGone) {
    auto monitor = NIPReachability::init();
    auto source = lastSource_;
    monitor->start();
    loop().runUntilIdle();
    source->setFlags(0);  // queued for the next turn
    std::weak_ptr<NIPReachability> weak = monitor;
    monitor.reset();
    EXPECT_TRUE(weak.expired());
    loop().runUntilIdle();
    EXPECT_TRUE(posted_.empty());
    EXPECT_FALSE(source->isScheduled());
}

TEST_F(ReachabilityTest, OtherThreadsAreRefused) {
    auto monitor = NIPReachability::init();
    std::vector<std::string> reasons;
    std::thread other([&] {
        for (auto call : {+[](NIPReachability& m) { (void)m.isReachable(); },
                          +[](NIPReachability& m) { m.startWithCompletionHandler(nullptr); },
                          +[](NIPReachability& m) { m.stop(); }}) {
            try {
                call(*monitor);
            } catch (const ns::Exception& e) {
                reasons.push_back(e.reason());
            }
        }
    });
    other.join();
    EXPECT_EQ(reasons,
              std::vector<std::string>(3, "NIPReachability should be used from the main thread"));
}

}  // namespace
