#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBXMLParserDelegate.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

// Collects from config.xml the preferences, the map from service names to plug-in classes,
// the services to create at start and the start page.
//
//   <preference name="N" value="V"/>     settings[lower(N)] = V (no value removes N)
//   <feature name="F">                    starts feature lower(F)
//     <param name="ios-package" value="C"/>   pluginsDict[F] = C
//     <param name="onload" value="true"/>     F is created at start
//     <param ... onload="true"/>              so is this (any case of the attribute value)
//   </feature>
//   <content src="S"/>                    startPage = S
//
// Elements without the attributes they need are skipped.
class HYBConfigParser : public ns::Object, public HYBXMLParserDelegate {
public:
    using PluginMap = std::map<std::string, std::string, std::less<>>;

    // Lower-cased service name to plug-in class name.
    const PluginMap& pluginsDict() const { return pluginsDict_; }
    // Lower-cased preference name to its value text.
    const ns::Dictionary& settings() const;
    // Lower-cased names of the features created at start, in document order, repeats kept.
    const std::vector<std::string>& startupPluginNames() const { return startupPluginNames_; }
    const std::optional<std::string>& startPage() const { return startPage_; }

    // What keeps config.xml at `path` from being read, or nothing when it can be. A file that
    // cannot be opened cannot, nor one whose XML breaks off before its document element ends:
    // the answer names the file, line and column ("PATH:LINE:COLUMN: what"). A mistake past
    // the document element leaves nothing of it unread and is only logged when it is read.
    static std::optional<std::string> problemReading(const std::string& path);

    void didStartElement(std::string_view elementName, const Attributes& attributes) override;
    void didEndElement(std::string_view elementName) override;

private:
    void addPreference(const Attributes& attributes);
    void addParam(const Attributes& attributes);

    std::optional<std::string> featureName_;
    PluginMap pluginsDict_;
    // Preferences as read, in document order (a missing value removes the name); put into
    // settings_ in one go when asked for, since a file may hold very many of them.
    mutable std::vector<std::pair<std::string, std::optional<std::string>>> pendingSettings_;
    mutable ns::Dictionary settings_;
    std::vector<std::string> startupPluginNames_;
    std::optional<std::string> startPage_;
};
