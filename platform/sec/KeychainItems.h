#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include "platform/dispatch/Mutex.h"

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
    // Passed between the look-up that found no item and the addition (see ns::passTestPoint).
    static constexpr const char* kAddingMissingPoint = "KeychainItems.addingMissing";

    // The data read as UTF-8 text, for items that hold a password or a token; an empty item
    // reads as nothing, without an error.
    ns::Result<std::optional<std::string>> text(const ns::Dictionary& query) const;

    ns::Error error(OSStatus status) const { return ns::Error(errorDomain_, status); }
    const std::string& errorDomain() const { return errorDomain_; }

private:
    std::string errorDomain_;
    Keychain& keychain_;
};

// Generic-password items that hold a password or a token as text, all carrying one generic
// attribute, each addressed by its literal service and account ("*" is a name like any other).
// An empty service or account is refused with `badParameter`, and so is an empty password,
// after the item it would have replaced is removed: an item of no data would read as none.
class PasswordItems {
public:
    PasswordItems(std::string errorDomain, Keychain& keychain, ns::Value generic,
                  OSStatus badParameter);

    static ns::Dictionary itemQuery(const ns::Value& generic, std::string_view service,
                                    std::string_view account);
    ns::Result<std::optional<std::string>> password(std::string_view service,
                                                    std::string_view account) const;
    ns::Status setPassword(std::string_view password, std::string_view service,
                           std::string_view account, const std::string& accessibility) const;
    ns::Status removePassword(std::string_view service, std::string_view account) const;
    const KeychainItems& items() const { return items_; }

private:
    // Token look-ups read one item again and again, and building its query costs a tenth of
    // the read: the query of the item read last is kept.
    struct ReadQuery {
        std::string service;
        std::string account;
        ns::Dictionary query;
    };
    std::shared_ptr<const ns::Dictionary> readQuery(std::string_view service,
                                                    std::string_view account) const;
    bool refused(std::string_view service, std::string_view account) const {
        return service.empty() || account.empty();
    }

    KeychainItems items_;
    ns::Value generic_;
    OSStatus badParameter_;
    mutable dispatch::Mutex readMutex_;
    mutable std::shared_ptr<const ReadQuery> lastRead_ GUARDED_BY(readMutex_);
};

}  // namespace sec
