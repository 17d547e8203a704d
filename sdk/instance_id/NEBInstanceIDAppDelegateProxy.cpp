#include "sdk/instance_id/NEBInstanceIDAppDelegateProxy.h"

#include "platform/ns/Bundle.h"
#include "platform/ui/Application.h"
#include "sdk/instance_id/NEBInstanceID.h"

namespace {

constexpr const char* kHookOwner = "NEBInstanceID";

}  // namespace

bool NEBInstanceIDAppDelegateProxy::canSwizzleAppDelegate() {
    const auto& value = ns::Bundle::mainBundle()->objectForInfoDictionaryKey(
        kNEBInstanceIDAppDelegateProxyEnabledKey);
    if (value.isBool() || value.isNumber()) return value.boolValue();
    return true;
}

void NEBInstanceIDAppDelegateProxy::swizzleOriginalAppDelegate() {
    auto& application = ui::Application::shared();
    application.installHook<ui::DelegateOp::DidRegisterForRemoteNotifications>(
        kHookOwner, [](ui::Application& app, const ns::Data& token, const auto& next) {
            NEBInstanceID::instanceID()->setAutoFetchedAPNSToken(token, std::nullopt);
            next(app, token);
        });
    application.installHook<ui::DelegateOp::DidFailToRegisterForRemoteNotifications>(
        kHookOwner, [](ui::Application& app, const ns::Error& error, const auto& next) {
            NEBInstanceID::instanceID()->setAutoFetchedAPNSToken(std::nullopt, error);
            next(app, error);
        });
}
