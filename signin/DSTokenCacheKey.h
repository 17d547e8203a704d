#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "signin/DSArchiveValue.h"
#include "signin/DSAuthenticationError.h"

// The key of a cached token: canonical authority, resource (none for a multi-resource refresh
// token) and client id. Immutable.
class DSTokenCacheKey {
public:
    // Normalises the three texts; nothing, with an argument error, for an unusable authority or
    // a blank client id.
    static std::shared_ptr<const DSTokenCacheKey> keyWithAuthority(
        const std::optional<std::string>& authority, const std::optional<std::string>& resource,
        const std::optional<std::string>& clientId, DSErrorOut error = nullptr);
    // Holds the texts as given.
    DSTokenCacheKey(std::string authority, std::optional<std::string> resource,
                    std::string clientId);

    const std::string& authority() const { return authority_; }
    const std::optional<std::string>& resource() const { return resource_; }
    const std::string& clientId() const { return clientId_; }
    uint64_t hash() const { return hash_; }
    bool isEqual(const DSTokenCacheKey& other) const;
    bool operator==(const DSTokenCacheKey& other) const { return isEqual(other); }

    static constexpr const char* kClassName = "DSTokenCacheKey";
    DSArchiveValue encode() const;
    // Nothing unless the archived object is a key whose fields are texts.
    static std::shared_ptr<const DSTokenCacheKey> decode(const DSArchiveValue& archived);

private:
    std::string authority_;
    std::optional<std::string> resource_;
    std::string clientId_;
    uint64_t hash_ = 0;
};

struct DSTokenCacheKeyHash {
    size_t operator()(const DSTokenCacheKey& key) const { return key.hash(); }
};
