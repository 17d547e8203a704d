#include "platform/ns/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/Queue.h"
#include "platform/ns/NotificationQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using ns::Notification;
using ns::NotificationCenter;
using ns::NotificationQueue;

class NotificationCenterTest : public testsupport::ManualRunLoop {
protected:
    NotificationCenter center;
    std::vector<std::string> calls;

    NotificationCenter::Observer record(const std::string& tag) {
        return [this, tag](const Notification& n) { calls.push_back(tag + ":" + n.name); };
    }
};

TEST_F(NotificationCenterTest, DeliversInRegistrationOrderByNameOrToAll) {
    center.addObserver("A", nullptr, record("1"));
    center.addObserver("", nullptr, record("all"));
    center.addObserver("A", nullptr, record("2"));
    center.addObserver("B", nullptr, record("3"));
    center.post("A");
    center.post("B", nullptr, {{"k", 1}});
    EXPECT_EQ(calls, (std::vector<std::string>{"1:A", "all:A", "2:A", "all:B", "3:B"}));
}

TEST_F(NotificationCenterTest, SenderFilterComparesIdentity) {
    auto sender = std::make_shared<ns::Box<int>>(7);
    auto twin = std::make_shared<ns::Box<int>>(7);
    center.addObserver("N", sender, record("filtered"));
    center.post("N", twin);
    center.post("N");
    center.post("N", sender);
    EXPECT_EQ(calls, (std::vector<std::string>{"filtered:N"}));

    std::weak_ptr<ns::Object> gone = sender;
    sender.reset();
    EXPECT_TRUE(gone.expired());
    center.post("N", twin);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(NotificationCenterTest, ObserversAddedOrRemovedDuringAPostTakeEffectAtOnce) {
    NotificationCenter::ObserverToken second = 0, self = 0;
    center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
        center.addObserver("N", nullptr, record("added"));
    });
    self = center.addObserver("N", nullptr, [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);
    });
    second = center.addObserver("N", nullptr, record("second"));
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self"}));
    calls.clear();
    center.post("N");
    // The first observer adds another each time; the one it added last time now hears.
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "added:N"}));
}

TEST_F(NotificationCenterTest, AThrowingObserverIsLoggedAndTheOthersStillHear) {
    testsupport::LogCapture log;
    log.expect("An observer of N threw");
    center.addObserver("N", nullptr, [](const Notification&) { throw std::runtime_error("boom"); });
    center.addObserver("N", nullptr, [](const Notification&) { throw 42; });
    center.addObserver("N", nullptr, record("after"));
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"after:N"}));
    EXPECT_TRUE(log.contains("boom"));
    EXPECT_EQ(log.count("An observer of N threw"), 2u);
}

TEST_F(NotificationCenterTest, RemovesByOwnerNameAndSender) {
    int owner = 0, other = 0;
    auto sender = std::make_shared<ns::Box<int>>(1);
    center.addObserver(&owner, "A", nullptr, record("owner-A"));
    center.addObserver(&owner, "B", nullptr, record("owner-B"));
    center.addObserver(&owner, "B", sender, record("owner-B-sender"));
    center.addObserver(&other, "A", nullptr, record("other-A"));

    center.removeObserver(&owner, "B", sender.get());
    center.post("B", sender);
    EXPECT_EQ(calls, (std::vector<std::string>{"owner-B:B"}));
    calls.clear();
    center.removeObserver(&owner, "A", nullptr);
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls, (std::vector<std::string>{"other-A:A", "owner-B:B"}));
    calls.clear();
    center.removeObserver(&owner);
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls, (std::vector<std::string>{"other-A:A"}));
}

TEST_F(NotificationCenterTest, QueueObserversHearLaterOnTheirQueue) {
    auto serial = dispatch::Queue::createSerial("test.observer");
    std::atomic<int> onSerial{0};
    center.addObserver("N", nullptr, record("main"), dispatch::Queue::main().shared_from_this());
    center.addObserver(
        "N", nullptr,
        [&](const Notification&) {
            if (serial->isCurrent()) ++onSerial;
        },
        serial);
    auto removed = center.addObserver("N", nullptr, record("removed"),
                                      dispatch::Queue::main().shared_from_this());
    center.post("N");
    EXPECT_TRUE(calls.empty());
    center.removeObserver(removed);
    loop().runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"main:N"}));
    EXPECT_EQ(onSerial.load(), 1);
}

TEST_F(NotificationCenterTest, PostsAndRegistrationsFromManyThreads) {
    std::atomic<int> heard{0};
    center.addObserver("N", nullptr, [&](const Notification&) { ++heard; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto token = center.addObserver("other", nullptr, [](const Notification&) {});
                center.post("N");
                center.removeObserver(token);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(heard.load(), 800);
}

// ---- NotificationQueue ----

class NotificationQueueTest : public NotificationCenterTest {
protected:
    NotificationQueue queue{center};
    std::shared_ptr<ns::Object> s1 = std::make_shared<ns::Box<int>>(1);
    std::shared_ptr<ns::Object> s2 = std::make_shared<ns::Box<int>>(2);

    void SetUp() override {
        NotificationCenterTest::SetUp();
        center.addObserver("", nullptr, [this](const Notification& n) {
            calls.push_back(n.name + (n.object == s1 ? "/s1" : n.object == s2 ? "/s2" : "/-"));
        });
    }
};

TEST_F(NotificationQueueTest, CoalescesByNameSenderBothOrNothing) {
    struct Case {
        unsigned mask;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {NotificationQueue::CoalescingNone, {"A/s1", "A/s2", "A/s1", "B/s1"}},
        {NotificationQueue::CoalescingOnName, {"A/s1", "B/s1"}},
        {NotificationQueue::CoalescingOnSender, {"A/s1", "A/s2"}},
        {NotificationQueue::CoalescingOnName | NotificationQueue::CoalescingOnSender,
         {"A/s1", "A/s2", "B/s1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        calls.clear();
        std::vector<std::pair<std::string, std::shared_ptr<ns::Object>>> sequence = {
            {"A", s1}, {"A", s2}, {"A", s1}, {"B", s1}};
        for (const auto& [name, sender] : sequence) {
            queue.enqueue({name, sender, {}}, NotificationQueue::PostingStyle::ASAP, c.mask);
        }
        EXPECT_TRUE(calls.empty());
        loop().runUntilIdle();
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(NotificationQueueTest, AsSoonAsPossibleMeansAtTheEndOfTheCurrentTurn) {
    loop().post([&] {
        loop().post([&] { calls.push_back("next turn"); });
        queue.enqueue({"asap", nullptr, {}}, NotificationQueue::PostingStyle::ASAP);
        queue.enqueue({"idle", nullptr, {}}, NotificationQueue::PostingStyle::WhenIdle);
        calls.push_back("task");
    });
    loop().runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"task", "asap/-", "next turn", "idle/-"}));
}

TEST_F(NotificationQueueTest, NowPostsAtOnceAndDropsWaitingRepeats) {
    queue.enqueue({"A", s1, {}}, NotificationQueue::PostingStyle::ASAP);
    queue.enqueue({"B", s1, {}}, NotificationQueue::PostingStyle::ASAP);
    queue.enqueue({"A", s1, {}}, NotificationQueue::PostingStyle::Now);
    EXPECT_EQ(calls, (std::vector<std::string>{"A/s1"}));
    queue.dequeueNotificationsMatching({"B", nullptr, {}}, NotificationQueue::CoalescingOnName);
    loop().runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"A/s1"}));
}

TEST_F(NotificationQueueTest, AGoneQueuePostsNothing) {
    auto local = std::make_unique<NotificationQueue>(center);
    local->enqueue({"A", nullptr, {}}, NotificationQueue::PostingStyle::ASAP);
    local.reset();
    loop().runUntilIdle();
    EXPECT_TRUE(calls.empty());
}

}  // namespace
