#pragma once

#include <cstdint>

#include "platform/ns/Error.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

// Errors of the messaging library's domain.
inline ns::Error errorWithMsgErrorCode(int64_t code) {
    return ns::Error(kNEBMessagingDomain, code);
}
inline ns::Error msg_errorWithCode(int64_t code, ns::Dictionary userInfo) {
    return ns::Error(kNEBMessagingDomain, code, std::move(userInfo));
}
inline int64_t msgErrorCode(const ns::Error& error) {
    return error.code();
}
