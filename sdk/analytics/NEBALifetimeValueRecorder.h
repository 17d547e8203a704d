#pragma once

#include "sdk/analytics/NEBADatabase.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBARemoteConfig.h"

// What the user has spent, per currency: the internal user property "_ltv_" + the currency
// code, a total in millionths of the currency unit. Runs inside the caller's transaction.
class NEBALifetimeValueRecorder {
public:
    // However many currencies the configuration allows, the user properties' table holds 50
    // rows, half of them for public properties: the rest must stay open to the SDK's own.
    static constexpr int32_t kMaxTrackedCurrencies = 20;

    // "_iap" and "ecommerce_purchase".
    static bool isPurchaseEvent(const NEBAEvent& event);
    // False when the store failed or the amount cannot be held: the caller then drops the
    // event. A currency or value that cannot be recorded is logged and recorded as nothing.
    static bool recordLifetimeValueToDatabase(NEBADatabase& database, const NEBAEvent& event,
                                              NEBARemoteConfig& remoteConfig);
};
