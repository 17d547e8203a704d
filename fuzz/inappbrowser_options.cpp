#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/Require.h"
#include "plugins/media_browser/HYBInAppBrowserOptions.h"
#include "plugins/media_browser/HYBWKInAppBrowserViewController.h"

using fuzzing::require;

namespace {

void requireFromInput(const std::optional<std::string>& value, std::string_view input) {
    if (value) require(input.find(*value) != std::string_view::npos);
}

void requireColor(const std::optional<std::string>& value) {
    if (!value) return;
    const ui::Color color = HYBWKInAppBrowserViewController::colorFromHexString(*value);
    require(color.red() >= 0 && color.red() <= 1 && color.green() >= 0 && color.green() <= 1 &&
            color.blue() >= 0 && color.blue() <= 1 && color.alpha() == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto options = HYBInAppBrowserOptions::parseOptions(input);

    // Text options hold text taken from the input, never made up.
    requireFromInput(options.closebuttoncaption, input);
    requireFromInput(options.presentationstyle, input);
    requireFromInput(options.transitionstyle, input);
    require(options.toolbarposition == "bottom" ||
            input.find(options.toolbarposition) != std::string_view::npos);
    require(options.beforeload.empty() || options.beforeload == "yes" ||
            input.find(options.beforeload) != std::string_view::npos);
    requireColor(options.closebuttoncolor);
    requireColor(options.toolbarcolor);
    requireColor(options.navigationbuttoncolor);

    // A later piece wins over whatever came before it.
    const auto overridden = HYBInAppBrowserOptions::parseOptions(std::string(input) + ",hidden=no");
    require(!overridden.hidden);
    return 0;
}
