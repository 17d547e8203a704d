#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

class HYBPlugin;

// Where the command queue and the command delegate find the plug-in of a service and what the
// plug-ins are configured with: the owner of the plug-ins, which reads config.xml and makes
// each plug-in on first use.
class HYBPluginDirectory {
public:
    virtual ~HYBPluginDirectory() = default;

    // The plug-in of a service (made on first use), or null. Main thread.
    virtual std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view pluginName) = 0;
    // The config.xml preferences keyed by lower-cased name. Any thread.
    virtual ns::Dictionary settings() const = 0;
    // The folder of the web content in the bundle; nothing until the settings are read.
    virtual const std::optional<std::string>& wwwFolderName() const = 0;
};
