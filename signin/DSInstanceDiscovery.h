#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/URL.h"
#include "platform/ns/UUID.h"
#include "signin/DSAuthenticationError.h"

class DSRequestParameters;
class DSWebResponse;

// Authority checks of the directory service: which sign-in hosts are known instances, asked
// of a trusted host and remembered for the life of the process.
class DSInstanceDiscovery {
public:
    using Completion =
        std::function<void(bool validated, const std::optional<DSAuthenticationError>& error)>;

    // The public-cloud sign-in hosts; the first is the trusted authority.
    static const std::vector<std::string>& defaultAuthorities();

    static DSInstanceDiscovery& sharedInstance();
    // The instance requests use: the shared one, unless a scope has put another in its place
    // (tests point validation at a loopback service this way).
    static DSInstanceDiscovery& current();
    class ScopedOverride {
    public:
        explicit ScopedOverride(DSInstanceDiscovery& replacement);
        ~ScopedOverride();
        ScopedOverride(const ScopedOverride&) = delete;
        ScopedOverride& operator=(const ScopedOverride&) = delete;

    private:
        DSInstanceDiscovery* previous_;
    };
    // An instance seeded with these authorities ("https://" + host, or + ":" + port for the
    // trusted one); the first is asked about every other.
    explicit DSInstanceDiscovery(std::vector<std::string> seededAuthorities);

    void validateAuthority(const std::optional<std::string>& authority,
                           const DSRequestParameters& requestParams, Completion completionBlock);

    // "https://" + host of an authority that can be validated.
    static std::optional<std::string> extractHost(const std::optional<std::string>& authority,
                                                  const std::optional<ns::UUID>& correlationId,
                                                  std::optional<DSAuthenticationError>& error);
    bool isAuthorityValidated(const std::optional<std::string>& host) const;
    bool addValidAuthority(const std::optional<std::string>& host);

    void requestValidationOfAuthority(const std::string& authority, const std::string& host,
                                      const std::string& trustedAuthority,
                                      const DSRequestParameters& requestParams,
                                      Completion completionBlock);
    // The error of a discovery answer, or nothing when it validates the host (which is then
    // added to the validated set).
    std::optional<DSAuthenticationError> processWebReponse(
        const DSWebResponse& response, const std::string& host,
        const std::optional<ns::UUID>& correlationId);
    // The error of a discovery answer's status and body alone (what the set is not needed
    // for); nothing when the body carries a discovery endpoint.
    static std::optional<DSAuthenticationError> errorOfDiscoveryAnswer(
        int64_t statusCode, std::string_view body, const std::optional<ns::UUID>& correlationId);

    static std::optional<std::string> canonicalizeAuthority(
        const std::optional<std::string>& authority);
    // An authority as a URL, lower-cased: https, a plain host name (no escapes), no user
    // information, nothing that is not printable ASCII. Nothing otherwise.
    static std::optional<ns::URL> parseAuthority(std::string_view authority);

    std::set<std::string> validatedAuthorities() const;
    const std::string& trustedAuthority() const { return trustedAuthority_; }

private:
    static std::optional<std::string> canonicalForm(const std::optional<std::string>& authority);

    const std::string trustedAuthority_;
    mutable dispatch::Mutex lock_;
    std::set<std::string> validatedAuthorities_ GUARDED_BY(lock_);
};
