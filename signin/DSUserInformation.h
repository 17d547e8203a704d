#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ns/Value.h"
#include "signin/DSArchiveValue.h"
#include "signin/DSAuthenticationError.h"

// The signed-in user behind a token, parsed from the id_token the token service returns.
// Immutable once made, so it is shared freely between threads and items.
class DSUserInformation {
public:
    // The parsed id_token, or nothing (with an error when the caller asked for it).
    static std::shared_ptr<const DSUserInformation> initWithIdToken(
        const std::optional<std::string>& idToken, DSErrorOut error = nullptr);
    // The same; an absent id_token is an argument error.
    static std::shared_ptr<const DSUserInformation> userInformationWithIdToken(
        const std::optional<std::string>& idToken, DSErrorOut error = nullptr);
    // Only a user identifier; raises the invalid-argument exception for a blank one.
    static std::shared_ptr<const DSUserInformation> initWithUserId(const std::string& userId);
    static DSAuthenticationError invalidIdTokenError();
    static std::optional<std::string> normalizeUserId(const std::optional<std::string>& userId);

    const std::optional<std::string>& userId() const { return userId_; }
    bool userIdDisplayable() const { return userIdDisplayable_; }
    const std::optional<std::string>& uniqueId() const { return uniqueId_; }
    const std::optional<std::string>& rawIdToken() const { return rawIdToken_; }
    const ns::Dictionary& allClaims() const { return allClaims_; }
    // Whether parsing the id_token warned of its type (missing, or not a JWT).
    bool warnedOfTokenType() const { return warnedOfTokenType_; }

    std::optional<std::string> givenName() const { return claim("given_name"); }
    std::optional<std::string> familyName() const { return claim("family_name"); }
    std::optional<std::string> subject() const { return claim("sub"); }
    std::optional<std::string> tenantId() const { return claim("tid"); }
    std::optional<std::string> upn() const { return claim("upn"); }
    std::optional<std::string> uniqueName() const { return claim("unique_name"); }
    std::optional<std::string> eMail() const { return claim("email"); }
    std::optional<std::string> identityProvider() const { return claim("idp"); }
    std::optional<std::string> userObjectId() const { return claim("oid"); }
    std::optional<std::string> guestId() const { return claim("altsecid"); }

    // Parsed again from the raw token: nothing for a user made from a bare identifier.
    std::shared_ptr<const DSUserInformation> copy() const;

    static constexpr const char* kClassName = "DSUserInformation";
    DSArchiveValue encode() const;
    // Rebuilt by parsing the stored raw token again.
    static std::shared_ptr<const DSUserInformation> decode(const DSArchiveValue& archived);

private:
    DSUserInformation() = default;
    // A claim that is text; other JSON values are not user identifiers.
    std::optional<std::string> claim(const char* name) const;

    std::optional<std::string> userId_;
    bool userIdDisplayable_ = false;
    std::optional<std::string> uniqueId_;
    std::optional<std::string> rawIdToken_;
    ns::Dictionary allClaims_;
    bool warnedOfTokenType_ = false;
};
