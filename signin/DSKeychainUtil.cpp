#include "signin/DSKeychainUtil.h"

#include "platform/ns/Format.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "signin/DSAuthenticationError.h"
#include "signin/DSLogger.h"

sec::KeychainItems DSKeychainUtil::items() {
    return sec::KeychainItems(DSKeychainErrorDomain, sec::Keychain::shared());
}

std::optional<std::string> DSKeychainUtil::retrieveTeamIDFromKeychain(DSErrorOut error) {
    // The hint item lands in the application's default access group, whose first part names
    // the team.
    auto hint = items().attributesAddingIfMissing(
        {{sec::kSecClass, sec::kSecClassGenericPassword},
         {sec::kSecAttrAccount, "teamIDHint"},
         {sec::kSecAttrService, ""}},
        {{sec::kSecAttrAccessible, sec::kSecAttrAccessibleAlways}});
    if (!hint) {
        dsSetError(error,
                   DSAuthenticationError::keychainErrorFromOperation(
                       "team ID", static_cast<sec::OSStatus>(hint.error().code()), std::nullopt));
        return std::nullopt;
    }
    const auto group = hint->find(sec::kSecAttrAccessGroup);
    const std::string* text = group != hint->end() ? group->second.string() : nullptr;
    if (!text || text->empty() || text->front() == '.') return std::nullopt;
    return text->substr(0, text->find('.'));
}

std::optional<std::string> DSKeychainUtil::keychainTeamId(DSErrorOut error) {
    struct Found {
        std::optional<std::string> team;
        std::optional<DSAuthenticationError> error;
    };
    static const Found* found = [] {  // once per process, never destroyed
        auto* f = new Found;
        f->team = retrieveTeamIDFromKeychain(&f->error);
        DSLogger::log(DS_LOG_LEVEL_INFO, nullptr,
                      ns::format("Using \"%@\" Team ID for Keychain.",
                                 f->team ? ns::FormatArg(*f->team) : ns::FormatArg(nullptr)),
                      DS_ERROR_SUCCEEDED, std::nullopt, std::nullopt);
        return f;
    }();
    if (!found->team && error && found->error) *error = found->error;
    return found->team;
}
