#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationResult.h"

class DSTokenCacheItem;

// The token endpoint's answer to one grant, read into a cache item or an error.
class DSTokenResponse {
public:
    // What the grant was made with; the item falls back on it where the answer is silent.
    struct Request {
        std::optional<std::string> authority;
        std::optional<std::string> resource;
        std::optional<std::string> clientId;
        std::optional<std::string> refreshToken;  // the one redeemed, kept when none comes back
        std::shared_ptr<const DSTokenCacheItem> previous;  // whose user is kept likewise
    };

    // Answers are small JSON objects; anything larger is refused before parsing.
    static constexpr size_t kMaxBody = 256 * 1024;

    // A result holding the new item (the multi-resource flag set when the answer names its
    // resource and carries a refresh token), or a failed one: "invalid_grant" is the
    // refresh-token-rejected error, other protocol errors the OAuth error, and an answer that
    // is neither the HTTP error.
    static std::shared_ptr<const DSAuthenticationResult> processTokenResponse(
        int64_t statusCode, std::string_view body, const Request& request,
        const std::optional<ns::UUID>& correlationId);
};
