#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Value.h"

class HYBPlugin;

// Where the command queue and the command delegate find the plug-in of a service, what the
// plug-ins are configured with and the files of the web content: the owner of the plug-ins,
// which reads config.xml and makes each plug-in on first use.
class HYBPluginDirectory {
public:
    virtual ~HYBPluginDirectory() = default;

    // The plug-in of a service (made on first use), or null. Main thread.
    virtual std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view pluginName) = 0;
    // The config.xml preferences keyed by lower-cased name. Any thread.
    virtual ns::Dictionary settings() const = 0;
    // The absolute path of a file inside the web content folder of the bundle, or nothing.
    virtual std::optional<std::string> pathForResource(std::string_view resourcepath) = 0;
};
