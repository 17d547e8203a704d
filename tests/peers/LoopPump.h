#pragma once

#include <chrono>
#include <functional>

namespace peers {

// Runs the main run loop until `done` answers true, waiting for its descriptors and wake-ups
// in between (never sleeping blindly). The limit is only a safety net against a hung peer;
// false when it was reached.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace peers
