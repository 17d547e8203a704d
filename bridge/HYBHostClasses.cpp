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

void HYBHostClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass("HYBPlugin", std::nullopt, nullptr);
    HYBPlugin::registerPluginClass<HYBWebViewEngine>(registry, "HYBWebViewEngine");
    HYBPlugin::registerPluginClass<HYBIntentAndNavigationFilter>(registry,
                                                                 "HYBIntentAndNavigationFilter");
    HYBPlugin::registerPluginClass<HYBLogger>(registry, "HYBLogger");
    HYBPlugin::registerPluginClass<HYBGestureHandler>(registry, "HYBGestureHandler");
    HYBPlugin::registerPluginClass<HYBHandleOpenURL>(registry, "HYBHandleOpenURL");
    HYBPlugin::registerPluginClass<HYBLaunchScreen>(registry, "HYBLaunchScreen");
    registry.registerClass("HYBAppDelegate", std::nullopt,
                           [] { return std::make_shared<HYBAppDelegate>(); },
                           {ui::selectorName(ui::DelegateOp::DidFinishLaunching),
                            ui::selectorName(ui::DelegateOp::OpenURL),
                            ui::selectorName(ui::DelegateOp::SupportedInterfaceOrientations)},
                           {ui::kApplicationDelegateProtocol});
}
