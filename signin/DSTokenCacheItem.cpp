#include "signin/DSTokenCacheItem.h"

#include <functional>
#include <set>

#include "platform/ns/Format.h"
#include "signin/DSAuthenticationSettings.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSStringHelpers.h"

namespace {

std::string orNullText(const std::optional<std::string>& text) {
    return text ? *text : "(null)";
}

DSArchiveValue dictionaryValue(const std::optional<ns::Dictionary>& dict) {
    return dict ? DSArchiveValue::fromValue(ns::Value(*dict)) : DSArchiveValue();
}

// A field that is absent or of the expected kind; anything else fails the whole item, as a
// secure decoder refuses a value of the wrong class.
bool textField(const DSArchiveObject& o, const char* key, std::optional<std::string>& out) {
    const DSArchiveValue* v = o.field(key);
    if (!v || v->isNil()) return true;
    if (!v->string()) return false;
    out = *v->string();
    return true;
}

bool dictionaryField(const DSArchiveObject& o, const char* key,
                     std::optional<ns::Dictionary>& out) {
    const DSArchiveValue* v = o.field(key);
    if (!v || v->isNil()) return true;
    if (!v->pairs()) return false;
    std::optional<ns::Value> value = v->toValue();
    if (!value || !value->dictionary()) return false;
    out = *value->dictionary();
    return true;
}

}  // namespace

void DSTokenCacheItem::calculateHash() {
    const std::optional<std::string> userId =
        userInformation_ ? userInformation_->userId() : std::nullopt;
    hash_ = std::hash<std::string>()(ns::format("%@%@%@%@", orNullText(resource_),
                                                orNullText(authority_), orNullText(clientId_),
                                                orNullText(userId)));
}

void DSTokenCacheItem::setResource(std::optional<std::string> resource) {
    if (resource == resource_) return;
    resource_ = std::move(resource);
    calculateHash();
}

void DSTokenCacheItem::setAuthority(std::optional<std::string> authority) {
    if (authority == authority_) return;
    authority_ = std::move(authority);
    calculateHash();
}

void DSTokenCacheItem::setClientId(std::optional<std::string> clientId) {
    if (clientId == clientId_) return;
    clientId_ = std::move(clientId);
    calculateHash();
}

void DSTokenCacheItem::setUserInformation(std::shared_ptr<const DSUserInformation> info) {
    if (info == userInformation_) return;
    userInformation_ = std::move(info);
    calculateHash();
}

std::string DSTokenCacheItem::storageUserId() const {
    if (userInformation_ && userInformation_->userId()) return *userInformation_->userId();
    return "";
}

bool DSTokenCacheItem::isEqual(const DSTokenCacheItem& other) const {
    if (resource_ && other.resource_ != resource_) return false;
    if (authority_ != other.authority_) return false;
    if (!clientId_ || clientId_ != other.clientId_) return false;
    return isSameUser(&other);
}

bool DSTokenCacheItem::isSameUser(const DSTokenCacheItem* other) const {
    if (!other) DSLogger::raiseInvalidArgument("other");
    if (!userInformation_) return !other->userInformation_;
    return other->userInformation_ &&
           userInformation_->userId() == other->userInformation_->userId();
}

bool DSTokenCacheItem::isExpired() const {
    if (!expiresOn_) return false;
    const double buffer = DSAuthenticationSettings::sharedInstance().expirationBuffer();
    return *expiresOn_ < ns::Date::now().dateByAddingTimeInterval(buffer);
}

bool DSTokenCacheItem::isMultiResourceRefreshToken() const {
    return dsIsStringNilOrBlank(resource_) && dsIsStringNilOrBlank(accessToken_) &&
           !dsIsStringNilOrBlank(refreshToken_);
}

std::shared_ptr<const DSTokenCacheKey> DSTokenCacheItem::extractKey(DSErrorOut error) const {
    return DSTokenCacheKey::keyWithAuthority(authority_, resource_, clientId_, error);
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheItem::copy() const {
    // Every field is a value, and the user information is immutable, so it is shared rather
    // than parsed again: a user made from a bare identifier survives the copy.
    auto item = std::make_shared<DSTokenCacheItem>(*this);
    item->calculateHash();
    return item;
}

std::string DSTokenCacheItem::description() const {
    auto hashed = [](const std::optional<std::string>& token) {
        return dsIsStringNilOrBlank(token) ? std::string("(nil)") : *DSLogger::getHash(token);
    };
    return ns::format(
        "(authority=%@ clientId=%@ accessToken=%@ accessTokenType=%@ refreshToken=%@ "
        "resource=%@)",
        orNullText(authority_), orNullText(clientId_), hashed(accessToken_),
        orNullText(accessTokenType_), hashed(refreshToken_), orNullText(resource_));
}

void DSTokenCacheItem::logMessage(const std::optional<std::string>& message, DSLogLevel level,
                                  const std::optional<ns::UUID>& correlationId) const {
    const std::string text = message ? ns::format("%@ %@", *message, description()) : description();
    DSLogger::log(level, nullptr, text, 0,
                  tombstone_ ? std::optional<std::string>("tombstone") : std::nullopt,
                  correlationId);
}

void DSTokenCacheItem::makeTombstone(const ns::Dictionary& details) {
    tombstone_ = details;
    accessToken_.reset();
    refreshToken_.reset();
    sessionKey_.reset();
}

DSArchiveValue DSTokenCacheItem::encode() const {
    auto object = std::make_shared<DSArchiveObject>(kClassName);
    object->set("resource", DSArchiveValue::text(resource_));
    object->set("authority", DSArchiveValue::text(authority_));
    object->set("clientId", DSArchiveValue::text(clientId_));
    object->set("familyId", DSArchiveValue::text(familyId_));
    object->set("accessToken", DSArchiveValue::text(accessToken_));
    object->set("accessTokenType", DSArchiveValue::text(accessTokenType_));
    object->set("refreshToken", DSArchiveValue::text(refreshToken_));
    object->set("sessionKey", DSArchiveValue::data(sessionKey_));
    object->set("expiresOn", DSArchiveValue::date(expiresOn_));
    object->set("userInformation",
                userInformation_ ? userInformation_->encode() : DSArchiveValue());
    object->set("tombstone", dictionaryValue(tombstone_));
    object->set("additionalClient", dictionaryValue(additionalClient_));
    object->set("additionalServer", dictionaryValue(additionalServer_));
    return DSArchiveValue::object(std::move(object));
}

std::shared_ptr<DSTokenCacheItem> DSTokenCacheItem::decode(const DSArchiveValue& archived) {
    const DSArchiveObject* o = archived.objectOf(kClassName);
    if (!o) return nullptr;
    auto item = std::make_shared<DSTokenCacheItem>();
    if (!textField(*o, "resource", item->resource_) ||
        !textField(*o, "authority", item->authority_) ||
        !textField(*o, "clientId", item->clientId_) ||
        !textField(*o, "familyId", item->familyId_) ||
        !textField(*o, "accessToken", item->accessToken_) ||
        !textField(*o, "accessTokenType", item->accessTokenType_) ||
        !textField(*o, "refreshToken", item->refreshToken_) ||
        !dictionaryField(*o, "tombstone", item->tombstone_) ||
        !dictionaryField(*o, "additionalClient", item->additionalClient_) ||
        !dictionaryField(*o, "additionalServer", item->additionalServer_))
        return nullptr;
    if (const DSArchiveValue* key = o->field("sessionKey"); key && !key->isNil()) {
        if (!key->dataValue()) return nullptr;
        item->sessionKey_ = *key->dataValue();
    }
    if (const DSArchiveValue* date = o->field("expiresOn"); date && !date->isNil()) {
        if (!date->dateValue()) return nullptr;
        item->expiresOn_ = date->dateValue();
    }
    if (const DSArchiveValue* user = o->field("userInformation"); user && !user->isNil()) {
        if (!user->objectOf(DSUserInformation::kClassName)) return nullptr;
        item->userInformation_ = DSUserInformation::decode(*user);
    }
    item->calculateHash();
    return item;
}

const std::set<std::string>& DSTokenCacheItem::archiveClasses() {
    static const std::set<std::string>* classes = [] {
        auto* set = new std::set<std::string>(DSKeyedUnarchiver::foundationClasses());
        set->insert(kClassName);
        set->insert(DSUserInformation::kClassName);
        return set;
    }();
    return *classes;
}
