#include "sdk/instance_id/NEBInstanceIDAuthKeychain.h"

#include "sdk/instance_id/NEBInstanceIDErrors.h"

namespace {

bool names(std::string_view value) {
    return !value.empty() && value != "*";
}

}  // namespace

NEBInstanceIDAuthKeychain::NEBInstanceIDAuthKeychain(std::string identifier,
                                                     sec::Keychain& keychain)
    : generic_(std::move(identifier)),
      passwords_(kNEBInstanceIDDomain, keychain, ns::Data::fromString(generic_),
                 kNEBInstanceIDKeychainBadParameter) {}

ns::Dictionary NEBInstanceIDAuthKeychain::keychainQueryForService(std::string_view service,
                                                                  std::string_view account,
                                                                  std::string_view generic) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassGenericPassword}};
    if (names(generic)) query[sec::kSecAttrGeneric] = ns::Data::fromString(generic);
    if (names(account)) query[sec::kSecAttrAccount] = std::string(account);
    if (names(service)) query[sec::kSecAttrService] = std::string(service);
    return query;
}

ns::Status NEBInstanceIDAuthKeychain::removeItemsOfService(std::string_view service) {
    auto query = keychainQueryForService({}, {});
    query[sec::kSecAttrService] = std::string(service);
    return passwords_.items().remove(query);
}
