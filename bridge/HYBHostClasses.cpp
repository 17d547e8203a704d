#include "bridge/HYBHostClasses.h"

#include <memory>

#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBGestureHandler.h"
#include "bridge/HYBHandleOpenURL.h"
#include "bridge/HYBIntentAndNavigationFilter.h"
#include "bridge/HYBLaunchScreen.h"
#include "bridge/HYBLogger.h"
#include "bridge/HYBWebViewEngine.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/ApplicationDelegate.h"

namespace {

template <class Plugin>
void registerPlugin(rt::ClassRegistry& registry, const char* name) {
    registry.registerClass(name, "HYBPlugin", [] { return std::make_shared<Plugin>(); });
}

}  // namespace

void HYBHostClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass("HYBPlugin", std::nullopt, nullptr);
    registerPlugin<HYBWebViewEngine>(registry, "HYBWebViewEngine");
    registerPlugin<HYBIntentAndNavigationFilter>(registry, "HYBIntentAndNavigationFilter");
    registerPlugin<HYBLogger>(registry, "HYBLogger");
    registerPlugin<HYBGestureHandler>(registry, "HYBGestureHandler");
    registerPlugin<HYBHandleOpenURL>(registry, "HYBHandleOpenURL");
    registerPlugin<HYBLaunchScreen>(registry, "HYBLaunchScreen");
    registry.registerClass("HYBAppDelegate", std::nullopt,
                           [] { return std::make_shared<HYBAppDelegate>(); },
                           {ui::selectorName(ui::DelegateOp::DidFinishLaunching),
                            ui::selectorName(ui::DelegateOp::OpenURL),
                            ui::selectorName(ui::DelegateOp::SupportedInterfaceOrientations)},
                           {ui::kApplicationDelegateProtocol});
}
