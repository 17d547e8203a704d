#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Data.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"

// Stateless helpers of the sign-in library.
class DSHelpers {
public:
    // Whether the authority's first path segment is "fds" (the text is lower-cased first).
    static bool isFDSInstance(const std::optional<std::string>& authority);
    static bool isFDSInstanceURL(const std::optional<ns::URL>& url);
    // The last path component of a URL with at least two, lower-cased.
    static std::optional<std::string> getEndpointName(const std::optional<std::string>& url);
    // Removes every entry whose value prints as "(null)".
    static void removeNullStringFrom(ns::Dictionary& dictionary);
    static std::string convertBase64UrlStringToBase64NSString(std::string_view text);
    static ns::Data convertBase64UrlStringToBase64NSData(std::string_view text);
    static std::optional<std::string> JSONFromDictionary(const ns::Dictionary& dictionary);

    // One 32-byte block of the counter-mode key derivation with HMAC-SHA256, label
    // "Directory-SecureConversation".
    static ns::Data computeKDFInCounterMode(const ns::Data& key, const ns::Data& context);
    static ns::Data KDFCounterMode(std::string_view key, std::string_view fixedInput);
    // The counter as four big-endian bytes followed by the fixed input.
    static ns::Data updateDataInput(uint8_t counter, std::string_view fixedInput);
    static std::string createSignedJWTUsingKeyDerivation(const ns::Dictionary& header,
                                                         const ns::Dictionary& payload,
                                                         std::string_view context,
                                                         const ns::Data& symmetricKey);

    // The URL with the library version query item, unless its query names it already.
    static std::optional<ns::URL> addClientVersionToURL(const std::optional<ns::URL>& url);
    static std::optional<std::string> addClientVersionToURLString(
        const std::optional<std::string>& url);
};
