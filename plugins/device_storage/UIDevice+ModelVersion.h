#pragma once

#include <string>

namespace ui {
class Device;
}  // namespace ui

// The hardware model identifier of the machine the program runs on. Linux has no product
// identifier of the kind a phone reports, so this is the machine's hardware name from uname()
// ("x86_64", "aarch64"); empty when the system does not say.
std::string modelVersion(const ui::Device& device);
