#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/ns/Value.h"
#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBAValue.h"

// One logged event: who logged it, its internal name, when, when the same event happened
// before, and its normalised parameters (always including the origin as "_o").
class NEBAEvent {
public:
    using Parameters = std::map<std::string, NEBAValue>;

    // None when the origin or name fails validation, or when a timestamp is not a finite time
    // that milliseconds since 1970 can hold.
    static std::optional<NEBAEvent> initWithOrigin(const std::string& origin, bool isPublic,
                                                   const std::string& name, double timestamp,
                                                   double previousTimestamp,
                                                   const ns::Dictionary& parameters);
    // Drops what is invalid, records the first problem in "_err", "_ev" and "_el", and keeps at
    // most 25 public parameters. None for an empty map.
    static std::optional<Parameters> normalizedParametersForParameters(
        const ns::Dictionary& parameters, bool isPublicEvent);
    // Whether a time in seconds since 1970 is finite and its milliseconds fit 64 bits.
    static bool isValidTimestamp(double seconds);

    std::optional<NEBAEvent> copyWithPreviousTimestamp(double previousTimestamp) const;
    std::optional<NEBAEvent> copyWithParameters(const Parameters& parameters) const;

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const Parameters& parameters() const { return parameters_; }
    Parameters& mutableParameters() { return parameters_; }

    bool isConversion() const { return flag("_c"); }
    void setIsConversion(bool conversion);
    bool isRealtime() const { return flag("_r"); }
    void setIsRealtime(bool realtime) { setFlag("_r", realtime); }
    bool isDebug() const { return flag("_dbg"); }
    void setIsDebug(bool debug) { setFlag("_dbg", debug); }

    NEB_MEASUREMENT::ACPEvent protoEvent() const;

    static ns::Dictionary dictionaryFromParameters(const Parameters& parameters);

private:
    NEBAEvent() = default;
    bool flag(const char* name) const;
    void setFlag(const char* name, bool set);

    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    Parameters parameters_;
};
