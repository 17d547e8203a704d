// A notification's user info as the platform or the socket hands it over (JSON here): the
// receipt checks, the analytics parameters and the scheduled-notification fields are read from
// it without failing, and the scheduled notification never carries the scheduling keys.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Require.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/LocalTime.h"
#include "sdk/messaging/NEBMessaging.h"
#include "sdk/messaging/NEBMessagingAnalytics.h"
#include "sdk/messaging/NEBMessagingContextManagerService.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto read = ns::JSONSerialization::read(text);
    if (!read.ok() || !read.value().dictionary()) {
        ns::LocalTime::parse(text, "Europe/Berlin");
        return 0;
    }
    const ns::Dictionary& message = *read.value().dictionary();
    NEBMessaging::isAPNSSyncMessage(message);
    NEBMessagingSyncMessageManager::expirationTimeForSyncMessage(message);
    ns::Dictionary parameters = NEBMessagingAnalytics::parametersForNotification(message);
    fuzzing::require(parameters.contains("_nmid"));
    ns::Dictionary shown = NEBMessagingContextManagerService::parseDataFromMessage(message);
    for (const auto& [key, value] : shown) fuzzing::require(!key.starts_with("nebula.c.cm."));
    if (NEBMessagingContextManagerService::isContextManagerMessage(message)) {
        auto start = message.find(NEBMessagingContextManagerService::kLocalTimeStartKey);
        ns::LocalTime::parse(start->second.stringValue(), "Europe/Berlin");
    }
    return 0;
}
