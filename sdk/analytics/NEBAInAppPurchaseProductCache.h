#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/ns/SharedInstance.h"
#include "sdk/analytics/NEBAProductsRequest.h"

// The store's answers about products (price, price locale, title), so that a purchase can be
// reported with them. Its collections live on its own serial queue; at most 100 entries are
// kept, after which only the latest answer's stay.
class NEBAInAppPurchaseProductCache {
public:
    static constexpr const char* kLockQueueLabel = "com.nebula.nmp.measurement.iap-cache";
    static constexpr size_t kMaxEntries = 100;

    static NEBAInAppPurchaseProductCache& sharedInstance();

    std::optional<svc::Product> cachedProductForProductIdentifier(
        const std::string& productIdentifier);
    // Asks the store and keeps what it answers; the completion gets the answer as received, on
    // `queue`. Nothing happens without a queue and a completion.
    void requestProductsWithProductIdentifiers(std::set<std::string> productIdentifiers,
                                               std::shared_ptr<dispatch::Queue> queue,
                                               NEBAProductsRequest::Completion completion);
    size_t entryCount();

private:
    friend class ns::SharedInstance<NEBAInAppPurchaseProductCache>;
    NEBAInAppPurchaseProductCache();

    std::shared_ptr<dispatch::Queue> lockQueue_;
    std::map<std::string, svc::Product> validProducts_;
    std::set<std::string> invalidProductIdentifiers_;
};
