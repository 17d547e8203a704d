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
inline constexpr const char* kDebugDescriptionErrorKey = "NSDebugDescription";

// Error domains, and the codes of the general domain that the JSON and property-list readers
// and writers report.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr int64_t kPropertyListReadCorruptError = 3840;
inline constexpr int64_t kPropertyListWriteInvalidError = 3851;

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

// An error in kCocoaErrorDomain with the reason under kDebugDescriptionErrorKey; the read and
// write failures (3840, 3851) carry the platform's texts as their localized descriptions.
Error cocoaError(int64_t code, std::string debugDescription);

}  // namespace ns
