#pragma once

#include <string>

// One name and value of a telemetry event.
struct DSTelemetryProperty {
    std::string name;
    std::string value;
    bool operator==(const DSTelemetryProperty&) const = default;
};
