#include "signin/DSAuthenticationSettings.h"

#include "signin/DSKeychainTokenCache.h"

DSAuthenticationSettings& DSAuthenticationSettings::sharedInstance() {
    static DSAuthenticationSettings* settings = new DSAuthenticationSettings();
    return *settings;
}

DSAuthenticationSettings::DSAuthenticationSettings()
    : requestTimeOut_(300), expirationBuffer_(300), enableFullScreen_(true) {}

std::string DSAuthenticationSettings::defaultKeychainGroup() const {
    return DSKeychainTokenCache::defaultKeychainGroup();
}

void DSAuthenticationSettings::setDefaultKeychainGroup(const std::optional<std::string>& group) {
    DSKeychainTokenCache::setDefaultKeychainGroup(group);
}
