#pragma once

#include <cstdint>

// The messaging library's settings: the lowest level its logger writes.
class NEBMessagingConfig {
public:
    explicit NEBMessagingConfig(int8_t logLevel) : logLevel_(logLevel) {}
    // Errors and asserts only.
    static NEBMessagingConfig defaultConfig() { return NEBMessagingConfig(2); }
    int8_t logLevel() const { return logLevel_; }

private:
    int8_t logLevel_;
};
