#pragma once

#include "sdk/messaging/NEBMessagingLogger.h"

// Lets through info, error and assert messages at or above its level; debug messages never.
class NEBMessagingLogLevelFilter final : public NEBLogPipeline<NEBMessagingLogLevel>::LevelFilter {
public:
    using LevelFilter::LevelFilter;
};
