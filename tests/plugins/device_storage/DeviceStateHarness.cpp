#include "tests/plugins/device_storage/DeviceStateHarness.h"

#include <unicode/ucal.h>

#include "platform/ns/Locale.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UTF16.h"
#include "platform/ns/UserDefaults.h"

namespace devicestate {

void RecordingDelegate::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                         const std::optional<std::string>& callbackId) {
    sent.push_back({result->status(), result->message(), result->keepCallback(), callbackId});
}

HYBInvokedUrlCommand pageCall(const std::string& action, ns::Array arguments,
                              const std::string& callbackId) {
    return HYBInvokedUrlCommand(std::move(arguments), callbackId, "Test", action);
}

void UserSettingsTest::SetUp() {
    ManualRunLoop::SetUp();
    ASSERT_TRUE(ns::Sandbox::configure((dir_ / "sandbox").string()).ok());
    ns::UserDefaults::resetStandardUserDefaults();
    std::u16string zone(128, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length =
        ucal_getDefaultTimeZone(zone.data(), static_cast<int32_t>(zone.size()), &status);
    zone.resize(U_SUCCESS(status) ? static_cast<size_t>(length) : 0);
    savedTimeZone_ = zone;
    delegate_ = std::make_shared<RecordingDelegate>();
}

void UserSettingsTest::TearDown() {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->removeObjectForKey(ns::kAppleLocaleKey);
    defaults->removeObjectForKey(ns::kAppleLanguagesKey);
    ns::UserDefaults::resetStandardUserDefaults();
    if (!savedTimeZone_.empty()) {
        UErrorCode status = U_ZERO_ERROR;
        ucal_setDefaultTimeZone(savedTimeZone_.c_str(), &status);
    }
    ManualRunLoop::TearDown();
}

void UserSettingsTest::useLocale(const std::string& locale, const std::string& timeZone,
                                 const std::vector<std::string>& languages) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObject(ns::kAppleLocaleKey, locale);
    ns::Array tags;
    for (const auto& language : languages) tags.emplace_back(language);
    if (tags.empty()) tags.emplace_back(ns::Locale::languageTag(locale));
    defaults->setObject(ns::kAppleLanguagesKey, ns::Value(tags));
    UErrorCode status = U_ZERO_ERROR;
    ucal_setDefaultTimeZone(ns::toUTF16(timeZone).c_str(), &status);
    ASSERT_TRUE(U_SUCCESS(status)) << timeZone;
}

}  // namespace devicestate
