#pragma once

#include <cstdint>

#include "sdk/messaging/NEBMessagingLogger.h"

// The messaging library's settings: the lowest level its logger writes.
class NEBMessagingConfig {
public:
    explicit NEBMessagingConfig(int8_t logLevel) : logLevel_(logLevel) {}
    // Errors and asserts only.
    static NEBMessagingConfig defaultConfig() {
        return NEBMessagingConfig(static_cast<int8_t>(NEBMessagingLogLevel::Error));
    }
    int8_t logLevel() const { return logLevel_; }

private:
    int8_t logLevel_;
};
