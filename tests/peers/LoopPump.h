#pragma once

#include <chrono>
#include <functional>

namespace peers {

// Whether each turn also waits for the serial and global queues to go idle (as
// RunLoop::runUntilIdle does), or runs only what the main loop has ready: a queue held up on
// purpose (a store whose file the test holds) must not hold the main loop up with it.
enum class QueueWait { UntilIdle, No };

// Runs the main run loop until `done` answers true, waiting for its descriptors and wake-ups
// in between (never sleeping blindly). The limit is only a safety net against a hung peer;
// false when it was reached.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20),
                      QueueWait queues = QueueWait::UntilIdle);

}  // namespace peers
