#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using dispatch::Queue;

class DispatchStress : public testsupport::ManualRunLoop {};

// Several threads post to the main loop and to shared serial queues at once; every task must
// run exactly once, and the tasks of one poster on one serial queue in posting order.
TEST_F(DispatchStress, EveryTaskRunsOnceAndSerialOrderHolds) {
    constexpr int kPosters = 6, kQueues = 3, kPerPoster = 1500;
    std::vector<std::shared_ptr<Queue>> queues;
    for (int q = 0; q < kQueues; ++q)
        queues.push_back(Queue::createSerial("stress." + std::to_string(q)));

    // runs[poster][i]: times task i of the poster ran; lastSeen[queue][poster]: last index run.
    std::vector<std::vector<std::atomic<int>>> runs(kPosters);
    for (auto& r : runs) r = std::vector<std::atomic<int>>(kPerPoster * 2);
    std::vector<std::vector<int>> lastSeen(kQueues, std::vector<int>(kPosters, -1));
    std::atomic<bool> outOfOrder{false};
    std::atomic<int> syncsOnMain{0};

    auto post = [&](int poster) {
        for (int i = 0; i < kPerPoster; ++i) {
            int q = i % kQueues;
            queues[q]->async([&, poster, q, i] {
                if (lastSeen[q][poster] >= i) outOfOrder = true;
                lastSeen[q][poster] = i;
                ++runs[poster][i];
            });
            Queue::main().async([&, poster, i] { ++runs[poster][kPerPoster + i]; });
            if (i % 100 == 0) Queue::main().sync([&] { ++syncsOnMain; });
        }
    };

    // Half the posters are global-queue tasks (runUntilIdle waits for them), half plain
    // threads while the main thread keeps turning.
    dispatch::Group group;
    for (int p = 0; p < kPosters / 2; ++p) group.async(Queue::global(), [&, p] { post(p); });
    std::vector<std::thread> threads;
    std::atomic<int> threadsDone{0};
    for (int p = kPosters / 2; p < kPosters; ++p) {
        threads.emplace_back([&, p] {
            post(p);
            ++threadsDone;
        });
    }
    while (threadsDone < kPosters - kPosters / 2) loop().runUntilIdle();
    for (auto& t : threads) t.join();
    loop().runUntilIdle();

    EXPECT_FALSE(outOfOrder);
    EXPECT_EQ(syncsOnMain, kPosters * (kPerPoster / 100));
    for (int p = 0; p < kPosters; ++p) {
        for (int i = 0; i < kPerPoster * 2; ++i) {
            ASSERT_EQ(runs[p][i], 1) << "poster " << p << " task " << i;
        }
    }
    for (int q = 0; q < kQueues; ++q) EXPECT_TRUE(queues[q]->isIdle());
}

}  // namespace
