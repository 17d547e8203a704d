#include "platform/svc/PaymentQueue.h"

#include <algorithm>

#include "platform/dispatch/Queue.h"

namespace svc {

PaymentQueue& PaymentQueue::defaultQueue() {
    return ns::SharedInstance<PaymentQueue>::get();
}

void PaymentQueue::addTransactionObserver(
    const std::shared_ptr<PaymentTransactionObserver>& observer) {
    if (!observer) return;
    dispatch::Lock lock(mutex_);
    for (const auto& known : observers_)
        if (known.lock() == observer) return;
    observers_.push_back(observer);
}

void PaymentQueue::removeTransactionObserver(const PaymentTransactionObserver* observer) {
    dispatch::Lock lock(mutex_);
    std::erase_if(observers_, [&](const auto& known) {
        auto alive = known.lock();
        return !alive || alive.get() == observer;
    });
}

size_t PaymentQueue::observerCount() const {
    dispatch::Lock lock(mutex_);
    return static_cast<size_t>(std::count_if(observers_.begin(), observers_.end(),
                                             [](const auto& known) { return !known.expired(); }));
}

PaymentTransaction PaymentQueue::completePurchase(const std::string& productIdentifier,
                                                  int64_t quantity, PaymentTransactionState state) {
    PaymentTransaction transaction;
    transaction.payment = {productIdentifier, quantity};
    transaction.transactionState = state;
    {
        dispatch::Lock lock(mutex_);
        transaction.transactionIdentifier = std::to_string(++lastTransaction_);
    }
    if (state == PaymentTransactionState::Failed)
        transaction.error = ns::Error("SKErrorDomain", 2);  // the payment was cancelled
    updateTransactions({transaction});
    return transaction;
}

void PaymentQueue::updateTransactions(std::vector<PaymentTransaction> transactions) {
    std::vector<std::weak_ptr<PaymentTransactionObserver>> observers;
    {
        dispatch::Lock lock(mutex_);
        observers = observers_;
    }
    dispatch::Queue::main().async(
        [queue = weak_from_this(), observers, transactions = std::move(transactions)] {
            auto self = queue.lock();
            if (!self) return;
            for (const auto& weak : observers)
                if (auto observer = weak.lock())
                    observer->paymentQueueUpdatedTransactions(*self, transactions);
        });
}

}  // namespace svc
