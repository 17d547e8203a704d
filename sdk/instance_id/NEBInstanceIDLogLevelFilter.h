#pragma once

#include "sdk/instance_id/NEBInstanceIDLogger.h"

// Passes info, error and assert lines at or above its level; debug lines never pass.
class NEBInstanceIDLogLevelFilter final
    : public NEBLogPipeline<NEBInstanceIDLogLevel>::LevelFilter {
public:
    using LevelFilter::LevelFilter;
};
