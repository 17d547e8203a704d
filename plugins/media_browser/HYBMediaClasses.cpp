#include "plugins/media_browser/HYBMediaClasses.h"

#include "platform/rt/ClassRegistry.h"
#include "plugins/media_browser/HYBCapture.h"
#include "plugins/media_browser/HYBVideoThumbnail.h"
#include "plugins/media_browser/ZIVPicker.h"

void HYBMediaClasses::registerClasses(rt::ClassRegistry& registry) {
    HYBPlugin::registerPluginClass<HYBVideoThumbnail>(registry, HYBVideoThumbnail::kClassName);
    HYBPlugin::registerPluginClass<HYBCapture>(registry, HYBCapture::kClassName);
    HYBPlugin::registerPluginClass<ZIVPicker>(registry, ZIVPicker::kClassName);
}
