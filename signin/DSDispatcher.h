#pragma once

#include <vector>

#include "signin/DSTelemetryProperty.h"

// The application's receiver of telemetry records.
class DSDispatcher {
public:
    virtual ~DSDispatcher() = default;
    virtual void dispatchEvent(const std::vector<DSTelemetryProperty>& event) = 0;
};
