#include "bridge/HYBConfigParser.h"

#include <unordered_map>

#include "bridge/HYBXMLParser.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/ns/Format.h"

namespace {

const std::string* attribute(const HYBXMLParserDelegate::Attributes& attributes,
                             std::string_view name) {
    auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::string> HYBConfigParser::problemReading(const std::string& path) {
    auto parser = HYBXMLParser::parserWithContentsOfFile(path);
    if (!parser) return path + ": cannot be read";
    if (parser->parse() || parser->readDocumentElement()) return std::nullopt;
    return ns::format("%@:%zu:%zu: %@", path, parser->lineNumber(), parser->columnNumber(),
                      parser->errorCause());
}

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
    pendingSettings_.emplace_back(hybridSettingKey(*name),
                                  value ? std::optional(*value) : std::nullopt);
}

const ns::Dictionary& HYBConfigParser::settings() const {
    if (pendingSettings_.empty()) return settings_;
    // The last word on each name wins; a removal leaves the name out.
    std::unordered_map<std::string_view, size_t> last;
    for (size_t i = 0; i < pendingSettings_.size(); ++i) last[pendingSettings_[i].first] = i;
    ns::Dictionary built;
    for (const auto& [key, value] : settings_) {
        if (!last.count(key)) built.appendUnsorted(key, value);
    }
    for (size_t i = 0; i < pendingSettings_.size(); ++i) {
        auto& [key, value] = pendingSettings_[i];
        if (last[key] == i && value) built.appendUnsorted(key, ns::Value(std::move(*value)));
    }
    built.finishAppending();
    settings_ = std::move(built);
    pendingSettings_.clear();
    return settings_;
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
