#include "sdk/analytics/NEBAASIdentifierManager.h"

#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/core/NEBServiceHosts.h"
#include "toolbox/Foundation/NSDKClassLookup.h"

namespace {

std::shared_ptr<svc::AdvertisingIdentifierManager> lookUpManager() {
    const auto* found =
        NSDKClassFromString(std::string(svc::kAdvertisingIdentifierManagerClassName));
    if (found && found->instancesRespondTo(svc::kAdvertisingSharedManagerOperation) &&
        found->instancesRespondTo(svc::kAdvertisingTrackingEnabledOperation) &&
        found->instancesRespondTo(svc::kAdvertisingIdentifierOperation)) {
        if (auto manager =
                std::dynamic_pointer_cast<svc::AdvertisingIdentifierManager>(found->create()))
            return manager;
    }
    NEBAMonitor::warning(
        "The AdSupport Framework is not currently linked. Some features will not "
        "function properly. Learn more at " +
        NEBServiceHosts::consoleURL());
    return nullptr;
}

}  // namespace

NEBAASIdentifierManager::NEBAASIdentifierManager() : manager_(lookUpManager()) {}

NEBAASIdentifierManager& NEBAASIdentifierManager::sharedInstance() {
    return ns::SharedInstance<NEBAASIdentifierManager>::get();
}

std::optional<std::string> NEBAASIdentifierManager::advertisingIdentifierString() const {
    if (!manager_) return std::nullopt;
    auto identifier = manager_->advertisingIdentifier();
    if (!identifier) return std::nullopt;
    return identifier->UUIDString();
}
