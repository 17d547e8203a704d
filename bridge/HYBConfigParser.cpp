#include "bridge/HYBConfigParser.h"

#include "bridge/NSDictionary+HybridPreferences.h"

namespace {

const std::string* attribute(const HYBXMLParserDelegate::Attributes& attributes,
                             std::string_view name) {
    auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : &it->second;
}

}  // namespace

void HYBConfigParser::didStartElement(const std::string& elementName,
                                      const Attributes& attributes) {
    if (elementName == "preference") {
        addPreference(attributes);
    } else if (elementName == "feature") {
        const std::string* name = attribute(attributes, "name");
        // A feature without a name has no service to register; its params are ignored.
        featureName_ = name ? std::optional(hybridSettingKey(*name)) : std::nullopt;
    } else if (elementName == "param" && featureName_) {
        addParam(attributes);
    } else if (elementName == "content") {
        if (const std::string* src = attribute(attributes, "src")) startPage_ = *src;
    }
}

void HYBConfigParser::didEndElement(const std::string& elementName) {
    if (elementName == "feature") featureName_.reset();
}

void HYBConfigParser::addPreference(const Attributes& attributes) {
    const std::string* name = attribute(attributes, "name");
    if (!name) return;
    const std::string* value = attribute(attributes, "value");
    if (value) {
        setHybridSetting(settings_, *value, *name);
    } else {
        settings_.erase(hybridSettingKey(*name));
    }
}

void HYBConfigParser::addParam(const Attributes& attributes) {
    const std::string* name = attribute(attributes, "name");
    const std::string* value = attribute(attributes, "value");
    const std::string paramName = name ? hybridSettingKey(*name) : std::string();
    if (paramName == "ios-package" && value) pluginsDict_.insert_or_assign(*featureName_, *value);
    if (paramName == "onload" && value && *value == "true") {
        startupPluginNames_.push_back(*featureName_);
    }
    const std::string* onload = attribute(attributes, "onload");
    if (onload && hybridSettingKey(*onload) == "true") startupPluginNames_.push_back(*featureName_);
}
