#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"

namespace mediatest {

// A command delegate for one plug-in on its own: it keeps the results it is sent, hands out
// the plug-ins and web content files it is given, and runs background work at once.
class RecordingDelegate : public HYBCommandDelegate {
public:
    std::vector<std::shared_ptr<HYBPluginResult>> results;
    std::vector<std::string> callbackIds;  // beside each result ("" for none)
    std::vector<std::string> scripts;
    std::shared_ptr<HYBPlugin> file;
    std::string www;

    std::optional<std::string> pathForResource(std::string_view path) override;
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view name) override {
        return name == "File" ? file : nullptr;
    }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override {
        results.push_back(result);
        callbackIds.push_back(callbackId.value_or(""));
    }
    void evalJs(std::string js) override { scripts.push_back(std::move(js)); }
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override { block(); }
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return nullptr; }
    void setUrlTransformer(UrlTransformer) override {}
};

}  // namespace mediatest
