#pragma once

#include <optional>
#include <string>

// The facts instance identity asks of push messaging without linking to it. Messaging
// registers a class named "NEBMessaging" whose operations include the two below and whose
// factory hands out an object implementing this interface; either part can be left out.
inline constexpr const char* kNEBMessagingClassName = "NEBMessaging";
inline constexpr const char* kNEBMessagingSDKVersionOperation = "NEBMessagingSDKVersion";
inline constexpr const char* kNEBMessagingSDKCurrentLocaleOperation =
    "NEBMessagingSDKCurrentLocale";

class NEBInstanceIDMessagingFacts {
public:
    virtual ~NEBInstanceIDMessagingFacts() = default;
    virtual std::optional<std::string> NEBMessagingSDKVersion() const = 0;
    virtual std::optional<std::string> NEBMessagingSDKCurrentLocale() const = 0;
};
