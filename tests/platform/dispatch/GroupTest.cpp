#include "platform/dispatch/Group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/Once.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/ns/Exception.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using dispatch::Queue;
using dispatch::seconds;

class GroupTest : public testsupport::ManualRunLoop {};

TEST_F(GroupTest, NotifyRunsOnceEveryMemberHasLeft) {
    dispatch::Group group;
    auto serial = Queue::createSerial("test.group");
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i) group.async(i % 2 ? Queue::global() : *serial, [&] { ++done; });
    group.enter();  // a member outside any queue, e.g. a network request
    int seenByNotify = -1;
    int notifications = 0;
    group.notify(Queue::main(), [&] {
        seenByNotify = done;
        ++notifications;
    });
    loop().runUntilIdle();
    EXPECT_EQ(notifications, 0);
    group.leave();
    loop().runUntilIdle();
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(seenByNotify, 20);
    EXPECT_TRUE(group.wait(dispatch::Duration::zero()));

    // An empty group notifies at once, on the queue.
    bool immediate = false;
    group.notify(Queue::main(), [&] { immediate = true; });
    EXPECT_FALSE(immediate);
    loop().runUntilIdle();
    EXPECT_TRUE(immediate);
}

TEST_F(GroupTest, WaitBlocksUntilTheLastMemberLeaves) {
    dispatch::Group group;
    dispatch::Semaphore release;
    std::atomic<int> done{0};
    for (int i = 0; i < 4; ++i) {
        group.async(Queue::global(), [&] {
            release.wait();
            ++done;
        });
    }
    EXPECT_FALSE(group.wait(dispatch::Duration::zero()));
    for (int i = 0; i < 4; ++i) release.signal();
    group.wait();
    EXPECT_EQ(done, 4);
}

TEST_F(GroupTest, UnbalancedLeaveThrows) {
    dispatch::Group group;
    group.enter();
    group.leave();
    EXPECT_THROW(group.leave(), ns::Exception);
}

TEST_F(GroupTest, NotificationForADestroyedQueueIsDropped) {
    dispatch::Group group;
    group.enter();
    auto serial = Queue::createSerial("test.gone");
    bool ran = false;
    group.notify(*serial, [&] { ran = true; });
    serial.reset();
    group.leave();
    loop().runUntilIdle();
    EXPECT_FALSE(ran);
}

TEST(Semaphore, CountsSignalsAndTimesOut) {
    dispatch::Semaphore sem(1);
    EXPECT_TRUE(sem.wait(dispatch::Duration::zero()));
    EXPECT_FALSE(sem.wait(dispatch::Duration::zero()));
    sem.signal();
    sem.signal();
    sem.wait();
    EXPECT_TRUE(sem.wait(dispatch::Duration::zero()));
    EXPECT_THROW(dispatch::Semaphore(-1), ns::Exception);
}

TEST(Semaphore, HandsOffBetweenThreads) {
    dispatch::Semaphore ready;
    int value = 0;
    std::thread producer([&] {
        value = 99;
        ready.signal();
    });
    ready.wait();
    EXPECT_EQ(value, 99);
    producer.join();
}

TEST(Once, RunsOnceUnderContention) {
    dispatch::Once once;
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            dispatch::once(once, [&] { ++calls; });
            // Every caller sees the work finished when once() returns.
            EXPECT_TRUE(once.done());
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls, 1);
}

TEST(Once, ThrowingFunctionIsTriedAgainAndRecursionThrows) {
    dispatch::Once once;
    EXPECT_THROW(dispatch::once(once, [] { throw std::runtime_error("first try"); }),
                 std::runtime_error);
    EXPECT_FALSE(once.done());
    std::string inner;
    dispatch::once(once, [&] {
        try {
            dispatch::once(once, [] {});
        } catch (const ns::Exception& e) {
            inner = e.name();
        }
    });
    EXPECT_EQ(inner, ns::kInternalInconsistencyException);
    EXPECT_TRUE(once.done());
}

}  // namespace
