#pragma once

#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Result.h"
#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"

namespace sec {

class Keychain;

// The keychain items of one component (tokens, credentials, identifiers, hints), each addressed
// by the attributes that identify it, its value kept as its data. A write replaces the item
// whole in one transaction, so that a reader on another thread sees the old value or the new,
// never neither; failures are errors of the component's domain with the keychain's status as
// code (errSecItemNotFound for a missing item). Any thread.
class KeychainItems {
public:
    KeychainItems(std::string errorDomain, Keychain& keychain);

    // The data of the first item the query matches. A query read again and again may carry
    // kSecReturnData and kSecMatchLimitOne already, which spares a copy of it.
    ns::Result<ns::Data> data(const ns::Dictionary& query) const;
    // The items the attributes match give way to one made of them, with the data and the
    // accessibility, in one step.
    ns::Status replace(const ns::Dictionary& item, const ns::Data& data,
                       const std::string& accessibility) const;
    // Removes every item the query matches; nothing to remove counts as done.
    ns::Status remove(const ns::Dictionary& query) const;
    // The attributes of the first item the query matches, after adding one made of the query
    // and `added` when there is none; callers racing to add it all get the one item.
    ns::Result<ns::Dictionary> attributesAddingIfMissing(const ns::Dictionary& query,
                                                         const ns::Dictionary& added) const;

    ns::Error error(OSStatus status) const { return ns::Error(errorDomain_, status); }
    const std::string& errorDomain() const { return errorDomain_; }

private:
    std::string errorDomain_;
    Keychain& keychain_;
};

}  // namespace sec
