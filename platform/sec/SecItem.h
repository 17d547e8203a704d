#pragma once

#include <memory>

#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"

namespace sec {

class Key;

// Keys and values of keychain queries and attribute dictionaries: the platform's key strings,
// so that stored items and callers' dictionaries read the same as there.
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecClassKey = "keys";

inline constexpr const char* kSecAttrService = "svce";
inline constexpr const char* kSecAttrAccount = "acct";
inline constexpr const char* kSecAttrAccessGroup = "agrp";
inline constexpr const char* kSecAttrGeneric = "gena";
inline constexpr const char* kSecAttrLabel = "labl";
inline constexpr const char* kSecAttrApplicationTag = "atag";
inline constexpr const char* kSecAttrKeyClass = "kcls";
inline constexpr const char* kSecAttrKeyClassPublic = "0";
inline constexpr const char* kSecAttrKeyClassPrivate = "1";
inline constexpr const char* kSecAttrKeyType = "type";
inline constexpr const char* kSecAttrKeyTypeRSA = "42";
inline constexpr const char* kSecAttrKeySizeInBits = "bsiz";
inline constexpr const char* kSecAttrIsPermanent = "perm";

inline constexpr const char* kSecAttrAccessible = "pdmn";
inline constexpr const char* kSecAttrAccessibleWhenUnlocked = "ak";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlock = "ck";
inline constexpr const char* kSecAttrAccessibleAlways = "dk";
inline constexpr const char* kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly = "akpu";
inline constexpr const char* kSecAttrAccessibleWhenUnlockedThisDeviceOnly = "aku";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
inline constexpr const char* kSecAttrAccessibleAlwaysThisDeviceOnly = "dku";

inline constexpr const char* kSecValueData = "v_Data";
inline constexpr const char* kSecReturnData = "r_Data";
inline constexpr const char* kSecReturnAttributes = "r_Attributes";
inline constexpr const char* kSecReturnRef = "r_Ref";
inline constexpr const char* kSecMatchLimit = "m_Limit";
inline constexpr const char* kSecMatchLimitOne = "m_LimitOne";
inline constexpr const char* kSecMatchLimitAll = "m_LimitAll";

// Parameters of key-pair generation: per-key attribute dictionaries.
inline constexpr const char* kSecPrivateKeyAttrs = "private";
inline constexpr const char* kSecPublicKeyAttrs = "public";

// The item operations on the process's keychain (Keychain::shared()).
//
// Add stores one item; asked for data or attributes (kSecReturnData/kSecReturnAttributes), it
// answers them of the new item as a copy with limit one would.
OSStatus SecItemAdd(const ns::Dictionary& attributes, ns::Value* result = nullptr);
// Answers data (ns::Data), attributes (ns::Dictionary, holding kSecValueData too when data is
// asked for as well), or, with kSecMatchLimitAll, an array of those, in the order items were
// added. Without a return kind only the status tells whether an item matches.
OSStatus SecItemCopyMatching(const ns::Dictionary& query, ns::Value* result);
// A key reference: the query asks for kSecReturnRef of a key item, limit one.
OSStatus SecItemCopyMatching(const ns::Dictionary& query, std::shared_ptr<Key>* key);
// Changes every matching item; errSecItemNotFound when none matches.
OSStatus SecItemUpdate(const ns::Dictionary& query, const ns::Dictionary& attributesToUpdate);
// Deletes every matching item; errSecItemNotFound when none matches.
OSStatus SecItemDelete(const ns::Dictionary& query);

}  // namespace sec
