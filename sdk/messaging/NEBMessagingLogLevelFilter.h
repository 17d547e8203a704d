#pragma once

#include <cstdint>

#include "sdk/messaging/NEBMessagingLogFilter.h"

// Lets through info, error and assert messages at or above its level; debug messages never.
class NEBMessagingLogLevelFilter final : public NEBMessagingLogFilter {
public:
    explicit NEBMessagingLogLevelFilter(int8_t level = 0) : level_(level) {}
    int8_t level() const { return level_; }
    bool filterAllowsMessage(std::string_view message, int level) const override;

private:
    int8_t level_;
};
