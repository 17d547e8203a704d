// config.xml through the XML parser into the config parser: any bytes must end as a parse
// result or an error, with lower-cased keys only.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge/HYBConfigParser.h"
#include "bridge/HYBXMLParser.h"
#include "bridge/NSDictionary+HybridPreferences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HYBXMLParser parser(std::string(reinterpret_cast<const char*>(data), size));
    HYBConfigParser config;
    parser.setDelegate(&config);
    parser.parse();
    for (const auto& [key, value] : config.settings()) {
        if (key != hybridSettingKey(key)) std::abort();
        hybridBoolSettingForKey(config.settings(), key, false);
        hybridFloatSettingForKey(config.settings(), key, 0);
    }
    for (const auto& [service, className] : config.pluginsDict()) {
        if (service != hybridSettingKey(service)) std::abort();
    }
    return 0;
}
