#include "plugins/media_browser/HYBMediaBrowserClasses.h"

#include "platform/rt/ClassRegistry.h"
#include "plugins/media_browser/HYBWKInAppBrowser.h"

void HYBMediaBrowserClasses::registerClasses(rt::ClassRegistry& registry) {
    HYBPlugin::registerPluginClass<HYBWKInAppBrowser>(registry, HYBWKInAppBrowser::kClassName);
}
