#pragma once

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// Passes info, error and assert lines at or above its level; debug lines never pass.
class NEBInstanceIDLogLevelFilter final : public NEBInstanceIDLogFilter {
public:
    NEBInstanceIDLogLevelFilter() = default;
    explicit NEBInstanceIDLogLevelFilter(int8_t level) : level_(level) {}
    int8_t level() const { return level_; }
    bool filterAllowsMessage(std::string_view line, NEBInstanceIDLogLevel level) const override;

private:
    int8_t level_ = 0;
};
