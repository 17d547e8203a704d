#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/SharedInstance.h"
#include "platform/ns/Value.h"
#include "platform/svc/PaymentQueue.h"
#include "sdk/analytics/NEBAEventPort.h"

// Reports completed store purchases as "_iap" events without any call from the application:
// it observes the default payment queue, completes what it knows of each product from the
// product cache (asking the store for those it lacks), and logs an event only when price, value,
// currency and product are all known.
class NEBAInAppPurchaseTransactionReporter
    : public svc::PaymentTransactionObserver,
      public std::enable_shared_from_this<NEBAInAppPurchaseTransactionReporter> {
public:
    static NEBAInAppPurchaseTransactionReporter& sharedInstance();
    ~NEBAInAppPurchaseTransactionReporter() override;

    // Observes the default payment queue (once); its events go to the port.
    void enableReporting(std::shared_ptr<NEBAEventPort> events);
    // Stops observing for good: the engine does not enable it again.
    void disableReporting();
    bool reportingWasDisabled() const { return reportingWasDisabled_; }
    bool isReportingEnabled() const { return reportingEnabled_; }

    void paymentQueueUpdatedTransactions(
        svc::PaymentQueue& queue,
        const std::vector<svc::PaymentTransaction>& transactions) override;
    // Each dictionary holds "product_id" and "quantity".
    void reportTransactionsFromArray(const std::vector<ns::Dictionary>& transactions);

    // Millionths of the currency unit of a decimal price text times a quantity, truncated
    // toward zero; none when the text is no plain non-negative decimal or the result does not
    // fit 64 bits.
    static std::optional<int64_t> micros(const std::string& decimalPrice, int64_t quantity = 1);

private:
    friend class ns::SharedInstance<NEBAInAppPurchaseTransactionReporter>;
    NEBAInAppPurchaseTransactionReporter() = default;

    dispatch::Mutex eventsMutex_;
    std::shared_ptr<NEBAEventPort> events_ GUARDED_BY(eventsMutex_);
    std::atomic<bool> reportingEnabled_{false};
    std::atomic<bool> reportingWasDisabled_{false};
};
