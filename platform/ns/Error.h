#pragma once

#include <cstdint>
#include <string>

#include "platform/ns/Value.h"

namespace ns {

// User-info keys the platform's error objects use.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kFilePathErrorKey = "NSFilePath";

// An error object: a domain, a numeric code and details.
class Error {
public:
    Error() = default;
    Error(std::string domain, int64_t code, Dictionary userInfo = {})
        : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

    const std::string& domain() const { return domain_; }
    int64_t code() const { return code_; }
    const Dictionary& userInfo() const { return userInfo_; }
    Dictionary& mutableUserInfo() { return userInfo_; }

    // The user info's localized description, or
    // "The operation couldn’t be completed. (DOMAIN error CODE.)".
    std::string localizedDescription() const;
    // "Error Domain=D Code=N \"description\" UserInfo={...}", what `%@` prints.
    std::string description() const;

    bool operator==(const Error&) const = default;

private:
    std::string domain_;
    int64_t code_ = 0;
    Dictionary userInfo_;
};

}  // namespace ns
