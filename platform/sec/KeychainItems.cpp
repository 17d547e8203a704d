#include "platform/sec/KeychainItems.h"

#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"

namespace sec {

KeychainItems::KeychainItems(std::string errorDomain, Keychain& keychain)
    : errorDomain_(std::move(errorDomain)), keychain_(keychain) {}

ns::Result<ns::Data> KeychainItems::data(const ns::Dictionary& query) const {
    ns::Value result;
    OSStatus status;
    if (query.contains(kSecReturnData) && query.contains(kSecMatchLimit)) {
        status = keychain_.copyMatching(query, &result);
    } else {
        ns::Dictionary read = query;
        read.insert_or_assign(kSecReturnData, true);
        read.insert_or_assign(kSecMatchLimit, kSecMatchLimitOne);
        status = keychain_.copyMatching(read, &result);
    }
    if (status != errSecSuccess) return error(status);
    const auto* data = result.data();
    return data ? *data : ns::Data();
}

ns::Status KeychainItems::replace(const ns::Dictionary& item, const ns::Data& data,
                                  const std::string& accessibility) const {
    const OSStatus status = keychain_.replace(
        item, ns::Dictionary{{kSecValueData, data}, {kSecAttrAccessible, accessibility}});
    if (status != errSecSuccess) return error(status);
    return {};
}

ns::Status KeychainItems::remove(const ns::Dictionary& query) const {
    const OSStatus status = keychain_.remove(query);
    if (status != errSecSuccess && status != errSecItemNotFound) return error(status);
    return {};
}

ns::Result<ns::Dictionary> KeychainItems::attributesAddingIfMissing(
    const ns::Dictionary& query, const ns::Dictionary& added) const {
    ns::Dictionary asked = query;
    asked.insert_or_assign(kSecReturnAttributes, true);
    ns::Value result;
    OSStatus status = keychain_.copyMatching(asked, &result);
    if (status == errSecItemNotFound) {
        ns::Dictionary item = asked;
        for (const auto& [key, value] : added) item.insert_or_assign(key, value);
        status = keychain_.add(item, &result);
        // Another caller added it in between: its item is the one.
        if (status == errSecDuplicateItem) status = keychain_.copyMatching(asked, &result);
    }
    if (status != errSecSuccess) return error(status);
    const auto* attributes = result.dictionary();
    return attributes ? *attributes : ns::Dictionary();
}

}  // namespace sec
