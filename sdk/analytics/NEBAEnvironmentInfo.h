#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ns/SharedInstance.h"

// Facts about the machine that every bundle carries. Any thread.
class NEBAAppEnvironmentUtil {
public:
    // The hardware model identifier (the kernel's machine, unless the host set one); none when
    // it cannot be read.
    static std::optional<std::string> deviceModel();
    // Whether the host stands in for the platform's simulator.
    static bool isSimulator();
};

class NEBAEnvironmentInfo {
public:
    static NEBAEnvironmentInfo& sharedInstance();

    // Read once; an empty model is logged.
    std::string deviceModel();
    std::string deviceOSVersion() const;
    // The first preferred language, lower-cased ("en-us"); none (logged) without any.
    std::optional<std::string> userDefaultLanguage() const;
    // The device time zone's offset from GMT now, daylight saving included, in whole minutes.
    int32_t timeZoneOffsetMinutes() const;

private:
    friend class ns::SharedInstance<NEBAEnvironmentInfo>;
    NEBAEnvironmentInfo() = default;

    std::once_flag modelOnce_;
    std::string deviceModel_;
};
