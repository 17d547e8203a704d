#include "platform/dispatch/Queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Group.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/ns/Exception.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using dispatch::Queue;
using dispatch::seconds;

// Generous bound for hand-offs that must happen; only reached when the code under test is
// broken, so that a failure does not hang the suite.
const dispatch::Duration kHandOff = seconds(30);

class QueueTest : public testsupport::ManualRunLoop {};

TEST_F(QueueTest, SerialQueueRunsTasksOneAtATimeInOrder) {
    auto queue = Queue::createSerial("test.serial");
    EXPECT_EQ(queue->label(), "test.serial");
    EXPECT_TRUE(queue->isIdle());
    std::vector<int> order;
    std::atomic<int> inside{0};
    bool overlapped = false;
    for (int i = 0; i < 500; ++i) {
        queue->async([&, i] {
            if (++inside > 1) overlapped = true;
            EXPECT_TRUE(queue->isCurrent());
            order.push_back(i);
            --inside;
        });
    }
    loop().runUntilIdle();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(queue->isIdle());
    EXPECT_FALSE(queue->isCurrent());
}

TEST_F(QueueTest, SyncWaitsForEarlierTasksAndReturnsTheResult) {
    auto queue = Queue::createSerial("test.sync");
    std::vector<int> order;
    queue->async([&] { order.push_back(1); });
    int value = queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        order.push_back(2);
        return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("inside"); }), std::runtime_error);
    // The queue goes on after an exception left a sync.
    queue->async([&] { order.push_back(3); });
    loop().runUntilIdle();
    EXPECT_EQ(order.back(), 3);
}

TEST_F(QueueTest, ReentrantSyncThrowsInsteadOfDeadlocking) {
    auto a = Queue::createSerial("test.a");
    auto b = Queue::createSerial("test.b");
    std::string fromTask;
    a->async([&] {
        try {
            a->sync([] {});
        } catch (const ns::Exception& e) {
            fromTask = e.name();
        }
    });
    loop().runUntilIdle();
    EXPECT_EQ(fromTask, ns::kInternalInconsistencyException);

    // a -> b -> a: the outer sync still holds a.
    std::string nested;
    a->sync([&] {
        b->sync([&] {
            EXPECT_TRUE(a->isCurrent());
            EXPECT_TRUE(b->isCurrent());
            try {
                a->sync([] {});
            } catch (const ns::Exception& e) {
                nested = e.name();
            }
        });
    });
    EXPECT_EQ(nested, ns::kInternalInconsistencyException);
}

TEST_F(QueueTest, SyncOntoMainFromAWorkerRunsOnTheMainThread) {
    auto queue = Queue::createSerial("test.worker");
    int result = 0;
    bool onMain = false;
    std::string error;
    queue->async([&] {
        EXPECT_FALSE(dispatch::RunLoop::isMainThread());
        result = Queue::main().sync([&] {
            onMain = dispatch::RunLoop::isMainThread() && Queue::main().isCurrent();
            return 7;
        });
        try {
            Queue::main().sync([] { throw ns::Exception(ns::kRangeException, "out"); });
        } catch (const ns::Exception& e) {
            error = e.name();
        }
    });
    loop().runUntilIdle();
    EXPECT_EQ(result, 7);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(error, ns::kRangeException);

    // On the main thread itself it runs inline, with no turn of the loop.
    bool inline_ = false;
    Queue::main().sync([&] { inline_ = true; });
    EXPECT_TRUE(inline_);
}

TEST_F(QueueTest, MainQueueAsyncRunsOnALaterTurn) {
    bool ran = false;
    Queue::main().async([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(Queue::main().isIdle());
    loop().runUntilIdle();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(Queue::main().isIdle());
    EXPECT_EQ(Queue::main().label(), "main");
}

TEST_F(QueueTest, GlobalQueueRunsTasksConcurrently) {
    // Each task waits for the other: both finish only when they run at the same time.
    dispatch::Semaphore aArrived, bArrived;
    std::atomic<bool> aMet{false}, bMet{false};
    Queue::global().async([&] {
        aArrived.signal();
        aMet = bArrived.wait(kHandOff);
    });
    Queue::global().async([&] {
        bArrived.signal();
        bMet = aArrived.wait(kHandOff);
    });
    loop().runUntilIdle();
    EXPECT_TRUE(aMet);
    EXPECT_TRUE(bMet);
    EXPECT_TRUE(Queue::allIdle());
}

// The pool starts its workers as tasks arrive. Each round below runs tasks that wait for one
// another, so they finish only when all of them run at once: a round as large as the pool
// needs every worker, whether the workers from an earlier round wait idle or are still
// waking up for the tasks just posted.
TEST_F(QueueTest, GlobalQueueGrowsToRunAFullBurstAtOnce) {
    const int workers = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
    std::mutex mutex;
    std::condition_variable changed;
    auto round = [&](int tasks) {
        int arrived = 0, met = 0, left = 0;
        for (int i = 0; i < tasks; ++i) {
            Queue::global().async([&] {
                std::unique_lock lock(mutex);
                ++arrived;
                changed.notify_all();
                if (changed.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return arrived == tasks; }))
                    ++met;
                ++left;
                changed.notify_all();
            });
        }
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(60), [&] { return left == tasks; });
        return met;
    };
    EXPECT_EQ(round(workers / 2), workers / 2);
    EXPECT_EQ(round(workers), workers);
    EXPECT_EQ(round(workers), workers);
    loop().runUntilIdle();
    EXPECT_TRUE(Queue::allIdle());
}

TEST_F(QueueTest, RunUntilIdleWaitsForWorkersThatPostBackToMain) {
    auto serial = Queue::createSerial("test.chain");
    std::vector<std::string> steps;  // touched only on the main thread
    Queue::global().async([&] {
        Queue::main().async([&] {
            steps.push_back("main after global");
            serial->async(
                [&] { Queue::main().async([&] { steps.push_back("main after serial"); }); });
        });
    });
    loop().runUntilIdle();
    EXPECT_EQ(steps, (std::vector<std::string>{"main after global", "main after serial"}));
}

TEST_F(QueueTest, AsyncAfterFollowsTheManualClock) {
    auto serial = Queue::createSerial("test.delayed");
    std::atomic<int> serialRan{0}, globalRan{0};
    bool mainRan = false;
    serial->asyncAfter(seconds(2), [&] { ++serialRan; });
    Queue::global().asyncAfter(seconds(2), [&] { ++globalRan; });
    Queue::main().asyncAfter(seconds(2), [&] { mainRan = true; });
    loop().advanceBy(seconds(1.5));
    EXPECT_EQ(serialRan, 0);
    EXPECT_EQ(globalRan, 0);
    EXPECT_FALSE(mainRan);
    loop().advanceBy(seconds(0.5));
    EXPECT_EQ(serialRan, 1);
    EXPECT_EQ(globalRan, 1);
    EXPECT_TRUE(mainRan);
}

TEST_F(QueueTest, DestroyedFromItsOwnTaskTheQueueDropsWhatIsLeft) {
    auto queue = Queue::createSerial("test.doomed");
    std::weak_ptr<Queue> weak = queue;
    dispatch::Group group;
    std::atomic<bool> laterRan{false}, delayedRan{false};
    dispatch::Semaphore release;
    // Holds the only reference; the first task lets it go.
    auto holder = std::make_shared<std::shared_ptr<Queue>>(std::move(queue));
    (*holder)->async([holder, &release] {
        release.wait();
        holder->reset();
    });
    group.async(**holder, [&] { laterRan = true; });
    (*holder)->asyncAfter(seconds(1), [&] { delayedRan = true; });
    release.signal();
    loop().runUntilIdle();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(laterRan);
    // The dropped member left the group.
    EXPECT_TRUE(group.wait(dispatch::Duration::zero()));
    loop().advanceBy(seconds(2));
    EXPECT_FALSE(delayedRan);
}

TEST_F(QueueTest, DestroyedFromOutsideTheQueueWaitsForItsRunningTask) {
    auto queue = Queue::createSerial("test.outside");
    dispatch::Semaphore started, release;
    std::atomic<bool> finished{false};
    queue->async([&] {
        started.signal();
        release.wait();
        finished = true;
    });
    ASSERT_TRUE(started.wait(kHandOff));
    EXPECT_FALSE(queue->isIdle());
    release.signal();
    queue.reset();
    EXPECT_TRUE(finished);
}

}  // namespace
