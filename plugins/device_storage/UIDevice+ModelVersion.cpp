#include "plugins/device_storage/UIDevice+ModelVersion.h"

#include <sys/utsname.h>

std::string modelVersion(const ui::Device&) {
    utsname names{};
    if (uname(&names) != 0) return {};
    return names.machine;
}
