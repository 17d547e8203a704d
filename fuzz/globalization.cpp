// Page calls to the locale service: any action with any arguments, in several locales and time
// zones. The first byte picks the action, the second the locale and zone; the rest is the
// arguments as JSON when it is a JSON array, otherwise text put into every field of a request
// whose options are picked from the same bytes. Every call must answer exactly once, with a
// message that has a JSON form.
#include <unicode/ucal.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "plugins/device_storage/HYBGlobalization.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

class CountingDelegate : public HYBCommandDelegate {
public:
    std::optional<std::string> pathForResource(std::string_view) override { return {}; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>&) override {
        ++answers;
        require(result->status() == HYBResultStatusOK || result->status() == HYBResultStatusError);
        require(result->argumentsAsJSON() != "null");
    }
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override { block(); }
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return {}; }
    void setUrlTransformer(UrlTransformer) override {}

    int answers = 0;
};

constexpr const char* kActions[] = {
    "getPreferredLanguage", "getLocaleName",  "dateToString",          "stringToDate",
    "getDatePattern",       "getDateNames",   "isDayLightSavingsTime", "getFirstDayOfWeek",
    "numberToString",       "stringToNumber", "getNumberPattern",      "getCurrencyPattern",
};
constexpr const char* kLocales[] = {"en_US", "de_AT", "fr_FR", "ja_JP", "ar_EG"};
constexpr const char16_t* kZones[] = {u"America/New_York", u"Europe/Vienna", u"Asia/Tokyo"};
constexpr const char* kOptionWords[] = {"short",  "medium",        "long",    "full",     "date",
                                        "time",   "date and time", "decimal", "currency", "percent",
                                        "narrow", "wide",          "months",  "days"};

// One plug-in per locale, made once: the locale is taken when a plug-in starts.
std::shared_ptr<HYBGlobalization> pluginFor(size_t localeIndex,
                                            const std::shared_ptr<HYBCommandDelegate>& delegate) {
    static std::shared_ptr<HYBGlobalization> plugins[std::size(kLocales)];
    auto& plugin = plugins[localeIndex];
    if (!plugin) {
        setenv("LC_ALL", kLocales[localeIndex], 1);
        plugin = std::make_shared<HYBGlobalization>();
        plugin->initWithWebViewEngine(nullptr);
        plugin->setCommandDelegate(delegate);
        plugin->pluginInitialize();
    }
    return plugin;
}

// A request with the text in every field, and options chosen by the bytes.
ns::Value requestFrom(std::string_view bytes) {
    const std::string text(bytes);
    double number = 0;
    if (bytes.size() >= sizeof number) std::memcpy(&number, bytes.data(), sizeof number);
    if (!(number == number)) number = 0;  // JSON carries no NaN
    ns::Dictionary options;
    auto word = [&](size_t at) -> ns::Value {
        if (at >= bytes.size()) return ns::Value(text);
        const auto pick = static_cast<unsigned char>(bytes[at]);
        if (pick % 4 == 0) return ns::Value(static_cast<int>(pick));
        return ns::Value(kOptionWords[pick % std::size(kOptionWords)]);
    };
    options["formatLength"] = word(0);
    options["selector"] = word(1);
    options["type"] = word(2);
    options["item"] = word(3);
    return ns::Value(ns::Dictionary{{"date", number},
                                    {"number", number},
                                    {"dateString", text},
                                    {"numberString", text},
                                    {"currencyCode", text},
                                    {"options", ns::Value(std::move(options))}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (ns::Log::setStandardErrorEnabled(false), true);
    (void)quiet;
    if (size < 2) return 0;
    static auto delegate = std::make_shared<CountingDelegate>();
    const char* action = kActions[data[0] % std::size(kActions)];
    const size_t locale = data[1] % std::size(kLocales);
    const char16_t* zone = kZones[(data[1] / std::size(kLocales)) % std::size(kZones)];
    UErrorCode status = U_ZERO_ERROR;
    ucal_setDefaultTimeZone(zone, &status);

    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    ns::Array arguments;
    auto json = ns::JSONSerialization::read(rest, {.fragmentsAllowed = true});
    if (json && json.value().isArray()) {
        arguments = *json.value().array();
    } else {
        arguments.push_back(requestFrom(rest));
    }
    auto plugin = pluginFor(locale, delegate);
    delegate->answers = 0;
    require(plugin->performAction(action, HYBInvokedUrlCommand(arguments, "Fuzz1", "G", action)));
    require(delegate->answers == 1);
    return 0;
}
