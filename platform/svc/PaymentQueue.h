#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Error.h"
#include "platform/ns/SharedInstance.h"

namespace svc {

// A request to buy a product of the application's store, so many times.
struct Payment {
    std::string productIdentifier;
    int64_t quantity = 1;
};

// The platform's values.
enum class PaymentTransactionState : int {
    Purchasing = 0,
    Purchased = 1,
    Failed = 2,
    Restored = 3,
    Deferred = 4,
};

struct PaymentTransaction {
    Payment payment;
    PaymentTransactionState transactionState = PaymentTransactionState::Purchasing;
    std::string transactionIdentifier;
    std::optional<ns::Error> error;  // for a failed one
};

class PaymentQueue;

// Told of transactions as they change.
class PaymentTransactionObserver {
public:
    virtual ~PaymentTransactionObserver() = default;
    virtual void paymentQueueUpdatedTransactions(
        PaymentQueue& queue, const std::vector<PaymentTransaction>& transactions) = 0;
};

// The store's payment queue. A desktop has no store: this stand-in keeps the observers and
// announces the transactions that its control surface makes (the host's command line and tests
// complete purchases with it). Observers are held weakly and told on the main queue, as the
// platform does. Any thread.
class PaymentQueue : public std::enable_shared_from_this<PaymentQueue> {
public:
    static PaymentQueue& defaultQueue();

    void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer);
    void removeTransactionObserver(const PaymentTransactionObserver* observer);
    size_t observerCount() const;

    // --- Control surface ---------------------------------------------------------------------
    // A purchase completes (or ends in another state): every observer hears of it on the main
    // queue. Answers the transaction as announced.
    PaymentTransaction completePurchase(
        const std::string& productIdentifier, int64_t quantity = 1,
        PaymentTransactionState state = PaymentTransactionState::Purchased);
    // Announces transactions as given.
    void updateTransactions(std::vector<PaymentTransaction> transactions);

private:
    friend class ns::SharedInstance<PaymentQueue>;
    PaymentQueue() = default;

    mutable dispatch::Mutex mutex_;
    std::vector<std::weak_ptr<PaymentTransactionObserver>> observers_ GUARDED_BY(mutex_);
    uint64_t lastTransaction_ GUARDED_BY(mutex_) = 0;
};

}  // namespace svc
