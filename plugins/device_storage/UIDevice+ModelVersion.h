#pragma once

#include <string>

namespace ui {
class Device;
}  // namespace ui

// The hardware model identifier of the machine the program runs on. Linux has no product
// identifier of the kind a phone reports, so this is the device facts' machine: the hardware
// name from uname() ("x86_64", "aarch64") unless the host set another.
std::string modelVersion(const ui::Device& device);
