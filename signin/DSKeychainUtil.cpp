#include "signin/DSKeychainUtil.h"

#include <mutex>

#include "platform/ns/Format.h"
#include "platform/sec/SecItem.h"
#include "signin/DSLogger.h"

std::optional<std::string> DSKeychainUtil::retrieveTeamIDFromKeychain(DSErrorOut error) {
    ns::Dictionary query{{sec::kSecClass, sec::kSecClassGenericPassword},
                         {sec::kSecAttrAccount, "teamIDHint"},
                         {sec::kSecAttrService, ""},
                         {sec::kSecReturnAttributes, true}};
    ns::Value result;
    sec::OSStatus status = sec::SecItemCopyMatching(query, &result);
    if (status == sec::errSecItemNotFound) {
        ns::Dictionary add = query;
        add[sec::kSecAttrAccessible] = sec::kSecAttrAccessibleAlways;
        status = sec::SecItemAdd(add, &result);
    }
    if (status != sec::errSecSuccess) {
        dsSetError(error, DSAuthenticationError::keychainErrorFromOperation("team ID", status,
                                                                            std::nullopt));
        return std::nullopt;
    }
    const ns::Value* group = result.find(sec::kSecAttrAccessGroup);
    if (!group || !group->string()) return std::nullopt;
    const std::string team = group->string()->substr(0, group->string()->find('.'));
    if (team.empty()) return std::nullopt;
    return team;
}

std::optional<std::string> DSKeychainUtil::keychainTeamId(DSErrorOut error) {
    static std::once_flag once;
    static std::optional<std::string>* teamId = nullptr;
    static std::optional<DSAuthenticationError>* teamError = nullptr;
    std::call_once(once, [] {
        teamId = new std::optional<std::string>();
        teamError = new std::optional<DSAuthenticationError>();
        *teamId = retrieveTeamIDFromKeychain(teamError);
        DSLogger::log(
            DS_LOG_LEVEL_INFO, nullptr,
            ns::format("Using \"%@\" Team ID for Keychain.",
                       teamId->has_value() ? ns::FormatArg(**teamId) : ns::FormatArg(nullptr)),
            0, std::nullopt, std::nullopt);
    });
    if (!*teamId && error && *teamError) *error = *teamError;
    return *teamId;
}
