#include "plugins/device_storage/UIDevice+ModelVersion.h"

#include "platform/sys/DeviceFacts.h"

std::string modelVersion(const ui::Device&) {
    return sys::DeviceFacts::current().machine();
}
