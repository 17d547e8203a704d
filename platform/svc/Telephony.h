#pragma once

#include <optional>
#include <string>

#include "platform/dispatch/Mutex.h"

namespace svc {

// The radio access technologies a cellular modem reports (the texts are the values).
inline constexpr const char* kCTRadioAccessTechnologyGPRS = "CTRadioAccessTechnologyGPRS";
inline constexpr const char* kCTRadioAccessTechnologyEdge = "CTRadioAccessTechnologyEdge";
inline constexpr const char* kCTRadioAccessTechnologyWCDMA = "CTRadioAccessTechnologyWCDMA";
inline constexpr const char* kCTRadioAccessTechnologyHSDPA = "CTRadioAccessTechnologyHSDPA";
inline constexpr const char* kCTRadioAccessTechnologyHSUPA = "CTRadioAccessTechnologyHSUPA";
inline constexpr const char* kCTRadioAccessTechnologyCDMA1x = "CTRadioAccessTechnologyCDMA1x";
inline constexpr const char* kCTRadioAccessTechnologyCDMAEVDORev0 =
    "CTRadioAccessTechnologyCDMAEVDORev0";
inline constexpr const char* kCTRadioAccessTechnologyCDMAEVDORevA =
    "CTRadioAccessTechnologyCDMAEVDORevA";
inline constexpr const char* kCTRadioAccessTechnologyCDMAEVDORevB =
    "CTRadioAccessTechnologyCDMAEVDORevB";
inline constexpr const char* kCTRadioAccessTechnologyeHRPD = "CTRadioAccessTechnologyeHRPD";
inline constexpr const char* kCTRadioAccessTechnologyLTE = "CTRadioAccessTechnologyLTE";
inline constexpr const char* kCTRadioAccessTechnologyNR = "CTRadioAccessTechnologyNR";

// Posted on the default centre when the radio access technology changes; no object.
inline constexpr const char* kCTRadioAccessTechnologyDidChangeNotification =
    "CTRadioAccessTechnologyDidChangeNotification";

// The device's cellular radio. A Linux host has none, so the technology is absent unless the
// host or a test sets one; setting a different one announces the change. Any thread.
class Telephony {
public:
    static Telephony& shared();

    // The technology of the current cellular connection; nothing without one.
    std::optional<std::string> currentRadioAccessTechnology() const;
    // Posts kCTRadioAccessTechnologyDidChangeNotification on the calling thread when the
    // value differs from the current one.
    void setCurrentRadioAccessTechnology(std::optional<std::string> technology);

private:
    mutable dispatch::Mutex mutex_;
    std::optional<std::string> technology_ GUARDED_BY(mutex_);
};

}  // namespace svc
