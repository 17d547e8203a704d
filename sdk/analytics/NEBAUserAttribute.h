#pragma once

#include <optional>
#include <string>

#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBAValue.h"

// A user property: its internal name, its value and when it was last set.
class NEBAUserAttribute {
public:
    // None when the name or value fails the internal rules or the time is not a valid one.
    static std::optional<NEBAUserAttribute> initWithName(const std::string& name,
                                                         const NEBAValue& value,
                                                         double lastSetTimestamp);

    const std::string& name() const { return name_; }
    const NEBAValue& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }
    bool isPublic() const { return !name_.empty() && name_[0] != '_'; }

    NEB_MEASUREMENT::ACPUserAttribute protoUserAttribute() const;

private:
    NEBAUserAttribute(std::string name, NEBAValue value, double lastSetTimestamp)
        : name_(std::move(name)), value_(std::move(value)), lastSetTimestamp_(lastSetTimestamp) {}

    std::string name_;
    NEBAValue value_;
    double lastSetTimestamp_;
};
