#include "plugins/media_browser/HYBMediaClasses.h"

#include <memory>

#include "platform/rt/ClassRegistry.h"
#include "plugins/media_browser/HYBCapture.h"
#include "plugins/media_browser/HYBVideoThumbnail.h"
#include "plugins/media_browser/ZIVPicker.h"

void HYBMediaClasses::registerClasses(rt::ClassRegistry& registry) {
    registry.registerClass(HYBVideoThumbnail::kClassName, "HYBPlugin",
                           [] { return std::make_shared<HYBVideoThumbnail>(); });
    registry.registerClass(HYBCapture::kClassName, "HYBPlugin",
                           [] { return std::make_shared<HYBCapture>(); });
    registry.registerClass(ZIVPicker::kClassName, "HYBPlugin",
                           [] { return std::make_shared<ZIVPicker>(); });
}
