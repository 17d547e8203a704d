#pragma once

#include <chrono>
#include <cstdint>

#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"

// The messaging library's settings: the lowest level its logger writes, and how long its store
// waits for a file another connection holds.
class NEBMessagingConfig {
public:
    explicit NEBMessagingConfig(int8_t logLevel,
                                std::chrono::milliseconds storeBusyTimeout =
                                    NEBMessagingRmq2PersistentStore::kDefaultBusyTimeout)
        : logLevel_(logLevel), storeBusyTimeout_(storeBusyTimeout) {}
    // Errors and asserts only.
    static NEBMessagingConfig defaultConfig() {
        return NEBMessagingConfig(static_cast<int8_t>(NEBMessagingLogLevel::Error));
    }
    int8_t logLevel() const { return logLevel_; }
    std::chrono::milliseconds storeBusyTimeout() const { return storeBusyTimeout_; }

private:
    int8_t logLevel_;
    std::chrono::milliseconds storeBusyTimeout_;
};
