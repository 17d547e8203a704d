#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The plug-ins for the device's locale, network connection and status bar, under the class
// names config.xml uses: HYBGlobalization, HYBConnection and HYBStatusBar.
class HYBDeviceStatePlugins {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
