#include "platform/sec/SecItem.h"

#include "platform/sec/Keychain.h"

namespace sec {

OSStatus SecItemAdd(const ns::Dictionary& attributes, ns::Value* result) {
    return Keychain::shared().add(attributes, result);
}

OSStatus SecItemCopyMatching(const ns::Dictionary& query, ns::Value* result) {
    return Keychain::shared().copyMatching(query, result);
}

OSStatus SecItemCopyMatching(const ns::Dictionary& query, std::shared_ptr<Key>* key) {
    return Keychain::shared().copyKey(query, key);
}

OSStatus SecItemUpdate(const ns::Dictionary& query, const ns::Dictionary& attributesToUpdate) {
    return Keychain::shared().update(query, attributesToUpdate);
}

OSStatus SecItemDelete(const ns::Dictionary& query) {
    return Keychain::shared().remove(query);
}

}  // namespace sec
