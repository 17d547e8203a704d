#include "bridge/HYBConfigParser.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "bridge/HYBXMLParser.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/ns/Format.h"

std::optional<std::string> HYBConfigParser::problemReading(const std::string& path) {
    auto parser = HYBXMLParser::parserWithContentsOfFile(path);
    if (!parser) return path + ": cannot be read";
    if (parser->parse() || parser->readDocumentElement()) return std::nullopt;
    return ns::format("%@:%zu:%zu: %@", path, parser->lineNumber(), parser->columnNumber(),
                      parser->errorCause());
}

void HYBConfigParser::didStartElement(std::string_view elementName, const Attributes& attributes) {
    if (elementName == "preference") {
        addPreference(attributes);
    } else if (elementName == "feature") {
        const auto name = attributes.find("name");
        // A feature without a name has no service to register; its params are ignored.
        featureName_ = name ? std::optional(hybridSettingKey(*name)) : std::nullopt;
    } else if (elementName == "param" && featureName_) {
        addParam(attributes);
    } else if (elementName == "content") {
        if (const auto src = attributes.find("src")) startPage_ = *src;
    }
}

void HYBConfigParser::didEndElement(std::string_view elementName) {
    if (elementName == "feature") featureName_.reset();
}

void HYBConfigParser::addPreference(const Attributes& attributes) {
    const auto name = attributes.find("name");
    if (!name) return;
    const auto value = attributes.find("value");
    pendingSettings_.emplace_back(hybridSettingKey(*name),
                                  value ? std::optional<std::string>(*value) : std::nullopt);
}

const ns::Dictionary& HYBConfigParser::settings() const {
    if (pendingSettings_.empty()) return settings_;
    // The preferences by name, and under one name in the order read: the last of each run is
    // the last word on it. Sorting their places spares moving the strings.
    std::vector<uint32_t> order(pendingSettings_.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        return pendingSettings_[a].first < pendingSettings_[b].first;
    });
    // Merged with what was built before (already in order), the new word winning; a removal
    // leaves the name out.
    ns::Dictionary built;
    built.reserve(settings_.size() + order.size());
    auto earlier = settings_.begin();
    for (size_t i = 0; i < order.size(); ++i) {
        auto& [key, value] = pendingSettings_[order[i]];
        if (i + 1 < order.size() && pendingSettings_[order[i + 1]].first == key) continue;
        for (; earlier != settings_.end() && earlier->first <= key; ++earlier) {
            if (earlier->first != key)
                built.appendUnsorted(earlier->first, std::move(earlier->second));
        }
        if (value) built.appendUnsorted(std::move(key), ns::Value(std::move(*value)));
    }
    for (; earlier != settings_.end(); ++earlier) {
        built.appendUnsorted(earlier->first, std::move(earlier->second));
    }
    built.finishAppending();
    settings_ = std::move(built);
    pendingSettings_.clear();
    return settings_;
}

void HYBConfigParser::addParam(const Attributes& attributes) {
    const auto name = attributes.find("name");
    const auto value = attributes.find("value");
    const std::string paramName = name ? hybridSettingKey(*name) : std::string();
    if (paramName == "ios-package" && value) pluginsDict_.insert_or_assign(*featureName_, *value);
    if (paramName == "onload" && value && *value == "true") {
        startupPluginNames_.push_back(*featureName_);
    }
    const auto onload = attributes.find("onload");
    if (onload && hybridSettingKey(*onload) == "true") startupPluginNames_.push_back(*featureName_);
}
