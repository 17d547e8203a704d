#include "signin/DSUserInformation.h"

#include "platform/ns/Exception.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/StringComponents.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

class UserInformationContext : public DSLogContext {};

}  // namespace

std::optional<std::string> DSUserInformation::claim(const char* name) const {
    auto it = allClaims_.find(name);
    if (it == allClaims_.end()) return std::nullopt;
    if (const std::string* text = it->second.string()) return *text;
    return std::nullopt;
}

std::optional<std::string> DSUserInformation::normalizeUserId(
    const std::optional<std::string>& userId) {
    if (!userId) return std::nullopt;
    std::string normalized = ns::asciiLowercased(dsTrimmedString(*userId));
    if (normalized.empty()) return std::nullopt;
    return normalized;
}

DSAuthenticationError DSUserInformation::invalidIdTokenError() {
    return DSAuthenticationError::errorFromAuthenticationError(
        DS_ERROR_SERVER_INVALID_ID_TOKEN, std::nullopt, "The id_token contents cannot be parsed.",
        std::nullopt);
}

std::shared_ptr<const DSUserInformation> DSUserInformation::initWithIdToken(
    const std::optional<std::string>& idToken, DSErrorOut error) {
    if (!idToken) return nullptr;
    if (dsIsStringNilOrBlank(idToken)) {
        dsSetError(error, invalidIdTokenError());
        return nullptr;
    }
    std::shared_ptr<DSUserInformation> info(new DSUserInformation());
    info->rawIdToken_ = *idToken;
    ns::Dictionary claims;
    std::optional<std::string> type;
    for (std::string_view segment : ns::componentsSeparatedByCharacter(*idToken, '.')) {
        const std::optional<std::string> decoded = adBase64UrlDecode(segment);
        if (dsIsStringNilOrBlank(decoded)) continue;
        ns::Result<ns::Value> json = ns::JSONSerialization::read(*decoded);
        if (!json) {
            dsSetError(error,
                       DSAuthenticationError::errorFromNSError(
                           json.error(),
                           ns::format("Failed to deserialize the id_token contents: %@", segment),
                           std::nullopt));
            return nullptr;
        }
        ns::Dictionary* object = json->dictionary();
        if (!object) {
            dsSetError(error, invalidIdTokenError());
            return nullptr;
        }
        if (!type) {
            if (auto typ = object->find("typ"); typ != object->end()) {
                type = typ->second.string() ? *typ->second.string() : ns::format("%@", typ->second);
                if (*type != "JWT") {
                    info->warnedOfTokenType_ = true;
                    DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, "Incompatible id_token type.", 0,
                                  *type, std::nullopt);
                }
            }
        }
        // The parsed members are not used again: they move into the claims.
        if (claims.empty()) {
            claims = std::move(*object);
        } else {
            for (auto& [name, value] : *object) claims.insert_or_assign(name, std::move(value));
        }
    }
    if (!type) {
        info->warnedOfTokenType_ = true;
        DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, "The id_token type is missing.", 0,
                      "Assuming JWT type.", std::nullopt);
    }
    info->allClaims_ = std::move(claims);

    struct Choice {
        const char* claim;
        bool displayable;
    };
    static constexpr Choice kOrder[] = {{"upn", true},  {"email", true},       {"sub", false},
                                        {"oid", false}, {"unique_name", true}, {"altsecid", false}};
    bool chosen = false;
    for (const Choice& choice : kOrder) {
        const std::optional<std::string> value = info->claim(choice.claim);
        if (dsIsStringNilOrBlank(value)) continue;
        info->userId_ = normalizeUserId(value);
        info->userIdDisplayable_ = choice.displayable;
        chosen = true;
        break;
    }
    if (!chosen) {
        dsSetError(error, invalidIdTokenError());
        return nullptr;
    }
    std::optional<std::string> unique = info->userObjectId();
    if (dsIsStringNilOrBlank(unique)) unique = info->subject();
    if (!dsIsStringNilOrBlank(unique)) info->uniqueId_ = normalizeUserId(unique);
    return info;
}

std::shared_ptr<const DSUserInformation> DSUserInformation::userInformationWithIdToken(
    const std::optional<std::string>& idToken, DSErrorOut error) {
    if (!idToken) {
        DSLogger::logInvalidArgument("InvalidArgumentError: idToken");
        dsSetError(error,
                   DSAuthenticationError::errorFromArgument(std::nullopt, "idToken", std::nullopt));
        return nullptr;
    }
    return initWithIdToken(idToken, error);
}

std::shared_ptr<const DSUserInformation> DSUserInformation::initWithUserId(
    const std::string& userId) {
    if (dsIsStringNilOrBlank(userId)) DSLogger::raiseInvalidArgument("userId");
    std::shared_ptr<DSUserInformation> info(new DSUserInformation());
    info->userId_ = normalizeUserId(userId);
    return info;
}

std::shared_ptr<const DSUserInformation> DSUserInformation::copy() const {
    return initWithIdToken(rawIdToken_);
}

DSArchiveValue DSUserInformation::encode() const {
    auto object = std::make_shared<DSArchiveObject>(kClassName);
    object->set("rawIdToken", DSArchiveValue::text(rawIdToken_));
    object->set("allClaims", DSArchiveValue::fromValue(ns::Value(allClaims_)));
    object->set("userId", DSArchiveValue::text(userId_));
    object->set("userIdDisplayable", DSArchiveValue::boolean(userIdDisplayable_));
    return DSArchiveValue::object(std::move(object));
}

std::shared_ptr<const DSUserInformation> DSUserInformation::decode(const DSArchiveValue& archived) {
    const DSArchiveObject* object = archived.objectOf(kClassName);
    if (!object) return nullptr;
    return initWithIdToken(object->text("rawIdToken"));
}
