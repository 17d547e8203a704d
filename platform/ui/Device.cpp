#include "platform/ui/Device.h"

#include "platform/ns/SharedInstance.h"

namespace ui {

Device& Device::current() {
    return ns::SharedInstance<Device>::get();
}

}  // namespace ui
