// Options plists of any shape go through the typed accessors, the analytics switches and the
// application-ID checks without harm, and the switches keep their precedence.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ns/PropertyListSerialization.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto plist = ns::PropertyListSerialization::read(ns::Data(data, size));
    if (!plist || !plist->isDictionary()) return 0;
    auto options = NEBOptions::initInternalWithOptionsDictionary(*plist->dictionary());
    for (const auto& text :
         {options->APIKey(), options->clientID(), options->trackingID(), options->MSGSenderID(),
          options->mobileClientID(), options->databaseURL(), options->storageBucket(),
          options->bundleID()}) {
        if (text && text->size() > size) std::abort();  // came from somewhere else
    }
    (void)options->isAnalyticsEnabled();
    (void)options->isSignInEnabled();
    bool deactivated = options->isAnalyticsCollectionDeactivated();
    if (deactivated &&
        (options->isMeasurementEnabled() || options->isAnalyticsCollectionEnabled())) {
        std::abort();
    }
    if (auto appID = options->nebulaAppID()) {
        for (const char* version : {"1:", "2:"}) {
            (void)NEBApp::validateAppIDFormat(*appID, version);
        }
        (void)NEBApp::validateAppIDFingerprint(*appID, "1:");
    }
    auto copy = options->copy();
    if (copy->usingOptionsFromDefaultPlist() || copy->nebulaAppID() != options->nebulaAppID()) {
        std::abort();
    }
    return 0;
}
