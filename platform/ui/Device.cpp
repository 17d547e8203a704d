#include "platform/ui/Device.h"

namespace ui {

Device& Device::current() {
    static Device device;
    return device;
}

void Device::reset() {
    *this = Device();
    sys::DeviceFacts::current().reset();
}

}  // namespace ui
