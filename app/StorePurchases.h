#pragma once

#include <string>
#include <vector>

#include "platform/ns/Result.h"

// The host's command line playing the store, so that a user can watch a purchase reach the
// measurement service: the stand-in store sells each named product (at kPrice in kCurrency,
// titled with its identifier), and once the application observes the payment queue each
// purchase completes. Main thread.
class StorePurchases {
public:
    // A store product identifier: letters, digits, '.', '_' and '-', at most 255 of them. An
    // error says what is wrong.
    static ns::Status checkProductIdentifier(const std::string& identifier);

    // Kept for the launch that follows; the store offers these products from now on.
    static void setPurchases(std::vector<std::string> productIdentifiers);
    // Once something observes the payment queue (analytics registers when its engine has
    // started), or after kObserverWaitSeconds without that: each purchase completes, in order.
    static void completeWhenObserved();

    static constexpr const char* kPrice = "0.99";
    static constexpr const char* kCurrency = "USD";
    static constexpr double kObserverWaitSeconds = 15;
};
