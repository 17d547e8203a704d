#include "signin/DSKeychainUtil.h"

#include <mutex>

#include "platform/ns/Format.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainItems.h"
#include "platform/sec/SecItem.h"
#include "signin/DSLogger.h"

std::optional<std::string> DSKeychainUtil::retrieveTeamIDFromKeychain(DSErrorOut error) {
    // The hint item lands in the application's default access group, whose first part names
    // the team.
    const sec::KeychainItems items("signin", sec::Keychain::shared());
    auto hint =
        items.attributesAddingIfMissing({{sec::kSecClass, sec::kSecClassGenericPassword},
                                         {sec::kSecAttrAccount, "teamIDHint"},
                                         {sec::kSecAttrService, ""}},
                                        {{sec::kSecAttrAccessible, sec::kSecAttrAccessibleAlways}});
    if (!hint) {
        dsSetError(error,
                   DSAuthenticationError::keychainErrorFromOperation(
                       "team ID", static_cast<sec::OSStatus>(hint.error().code()), std::nullopt));
        return std::nullopt;
    }
    const ns::Value* group =
        hint->contains(sec::kSecAttrAccessGroup) ? &hint->at(sec::kSecAttrAccessGroup) : nullptr;
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
