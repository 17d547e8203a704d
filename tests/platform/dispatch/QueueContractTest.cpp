#include "platform/dispatch/QueueContract.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/Queue.h"

namespace {

void mainThreadEntry() {
    HYB_EXPECT_MAIN_THREAD();
}

void workerEntry(const dispatch::Queue& worker) {
    HYB_EXPECT_QUEUE(worker);
}

class QueueContractDeathTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef NDEBUG
        GTEST_SKIP() << "a release build reports a wrong queue without stopping";
#endif
        // The checks run on threads of their own; a forked child must start afresh.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(QueueContractDeathTest, MainThreadEntryStopsACallFromAnotherThread) {
    mainThreadEntry();  // the main thread passes
    EXPECT_DEATH(std::thread(mainThreadEntry).join(),
                 "mainThreadEntry.*called off the main thread");
}

TEST_F(QueueContractDeathTest, QueueEntryStopsACallFromOffItsQueue) {
    auto worker = dispatch::Queue::createSerial("test.contract.worker");
    worker->sync([&] { workerEntry(*worker); });  // its own queue passes
    EXPECT_DEATH(workerEntry(*worker),
                 "workerEntry.*called off the queue \"test.contract.worker\"");
    auto other = dispatch::Queue::createSerial("test.contract.other");
    EXPECT_DEATH(other->sync([&] { workerEntry(*worker); }),
                 "called off the queue \"test.contract.worker\"");
}

}  // namespace
