#include "signin/DSTokenCacheKey.h"

#include <functional>

#include "platform/ns/Format.h"
#include "platform/ns/StringComponents.h"
#include "signin/DSInstanceDiscovery.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

std::string orNullText(const std::optional<std::string>& text) {
    return text ? *text : "(null)";
}

}  // namespace

DSTokenCacheKey::DSTokenCacheKey(std::string authority, std::optional<std::string> resource,
                                 std::string clientId)
    : authority_(std::move(authority)),
      resource_(std::move(resource)),
      clientId_(std::move(clientId)),
      hash_(std::hash<std::string>()(
          ns::format("##%@##%@##%@##", authority_, orNullText(resource_), clientId_))) {}

std::shared_ptr<const DSTokenCacheKey> DSTokenCacheKey::keyWithAuthority(
    const std::optional<std::string>& authority, const std::optional<std::string>& resource,
    const std::optional<std::string>& clientId, DSErrorOut error) {
    DSLogger::logAPIEntry();
    const std::optional<std::string> canonical =
        DSInstanceDiscovery::canonicalizeAuthority(authority);
    std::optional<std::string> normalizedResource;
    if (resource) normalizedResource = ns::asciiLowercased(dsTrimmedString(*resource));
    std::optional<std::string> normalizedClient;
    if (clientId) normalizedClient = ns::asciiLowercased(dsTrimmedString(*clientId));
    if (!canonical) {
        DSLogger::logInvalidArgument("InvalidArgumentError: authority");
        dsSetError(error, DSAuthenticationError::errorFromArgument(std::nullopt, "authority",
                                                                   std::nullopt));
        return nullptr;
    }
    if (dsIsStringNilOrBlank(normalizedClient)) {
        DSLogger::logInvalidArgument("InvalidArgumentError: clientId");
        dsSetError(error, DSAuthenticationError::errorFromArgument(normalizedClient, "clientId",
                                                                   std::nullopt));
        return nullptr;
    }
    return std::make_shared<const DSTokenCacheKey>(*canonical, normalizedResource,
                                                   *normalizedClient);
}

bool DSTokenCacheKey::isEqual(const DSTokenCacheKey& other) const {
    return authority_ == other.authority_ && clientId_ == other.clientId_ &&
           resource_ == other.resource_;
}

DSArchiveValue DSTokenCacheKey::encode() const {
    auto object = std::make_shared<DSArchiveObject>(kClassName);
    object->set("authority", DSArchiveValue::text(authority_));
    object->set("resource", DSArchiveValue::text(resource_));
    object->set("clientId", DSArchiveValue::text(clientId_));
    return DSArchiveValue::object(std::move(object));
}

std::shared_ptr<const DSTokenCacheKey> DSTokenCacheKey::decode(const DSArchiveValue& archived) {
    const DSArchiveObject* object = archived.objectOf(kClassName);
    if (!object) return nullptr;
    const DSArchiveValue* resource = object->field("resource");
    std::optional<std::string> authority = object->text("authority");
    std::optional<std::string> clientId = object->text("clientId");
    if (!authority || !clientId || (resource && !resource->isNil() && !resource->string()))
        return nullptr;
    return std::make_shared<const DSTokenCacheKey>(*authority, object->text("resource"), *clientId);
}
