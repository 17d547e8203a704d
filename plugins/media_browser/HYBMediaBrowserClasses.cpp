#include "plugins/media_browser/HYBMediaBrowserClasses.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/media_browser/HYBWKInAppBrowser.h"

void HYBMediaBrowserClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass(HYBWKInAppBrowser::kClassName, "HYBPlugin",
                           [] { return std::make_shared<HYBWKInAppBrowser>(); });
}
