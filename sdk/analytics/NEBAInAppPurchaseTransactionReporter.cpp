#include "sdk/analytics/NEBAInAppPurchaseTransactionReporter.h"

#include <cctype>
#include <limits>
#include <set>

#include "platform/dispatch/Queue.h"
#include "sdk/analytics/NEBAInAppPurchaseProductCache.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

using Int128 = __int128;
constexpr Int128 kInt64Max = std::numeric_limits<int64_t>::max();

// The queue that reports run on: a global one, as completions of the store do.
std::shared_ptr<dispatch::Queue> reportQueue() {
    static auto* queue = new std::shared_ptr<dispatch::Queue>(
        dispatch::Queue::createSerial("com.nebula.nmp.measurement.iap-report"));
    return *queue;
}

}  // namespace

NEBAInAppPurchaseTransactionReporter& NEBAInAppPurchaseTransactionReporter::sharedInstance() {
    return ns::SharedInstance<NEBAInAppPurchaseTransactionReporter>::get();
}

NEBAInAppPurchaseTransactionReporter::~NEBAInAppPurchaseTransactionReporter() {
    if (reportingEnabled_) svc::PaymentQueue::defaultQueue().removeTransactionObserver(this);
}

void NEBAInAppPurchaseTransactionReporter::enableReporting(std::shared_ptr<NEBAEventPort> events) {
    {
        dispatch::Lock lock(eventsMutex_);
        events_ = std::move(events);
    }
    if (reportingEnabled_.exchange(true)) return;
    svc::PaymentQueue::defaultQueue().addTransactionObserver(shared_from_this());
}

void NEBAInAppPurchaseTransactionReporter::disableReporting() {
    reportingWasDisabled_ = true;
    if (reportingEnabled_.exchange(false))
        svc::PaymentQueue::defaultQueue().removeTransactionObserver(this);
}

std::optional<int64_t> NEBAInAppPurchaseTransactionReporter::micros(const std::string& price,
                                                                    int64_t quantity) {
    // Exact decimal arithmetic: 0.99 x 2 must give 1980000, which doubles do not.
    Int128 mantissa = 0;
    int scale = 0;
    bool point = false;
    bool digits = false;
    for (char c : price) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits = true;
        if (mantissa > kInt64Max) return std::nullopt;  // beyond any 64-bit result
        mantissa = mantissa * 10 + (c - '0');
        if (point) ++scale;
        if (scale > 30) return std::nullopt;
    }
    if (!digits || quantity < 0) return std::nullopt;
    Int128 result = mantissa * quantity;
    for (int s = scale; s < 6; ++s) {
        if (result > kInt64Max) return std::nullopt;
        result *= 10;
    }
    for (int s = 6; s < scale; ++s) result /= 10;
    if (result > kInt64Max) return std::nullopt;
    return static_cast<int64_t>(result);
}

void NEBAInAppPurchaseTransactionReporter::paymentQueueUpdatedTransactions(
    svc::PaymentQueue&, const std::vector<svc::PaymentTransaction>& transactions) {
    std::vector<ns::Dictionary> purchases;
    std::set<std::string> missing;
    auto& cache = NEBAInAppPurchaseProductCache::sharedInstance();
    for (const auto& transaction : transactions) {
        if (transaction.transactionState != svc::PaymentTransactionState::Purchased) continue;
        const std::string& product = transaction.payment.productIdentifier;
        if (product.empty()) continue;
        purchases.push_back({{"product_id", ns::Value(product)},
                             {"quantity", ns::Value(transaction.payment.quantity)}});
        if (!cache.cachedProductForProductIdentifier(product)) missing.insert(product);
    }
    if (purchases.empty()) return;
    std::weak_ptr<NEBAInAppPurchaseTransactionReporter> weak = weak_from_this();
    auto report = [weak, purchases] {
        if (auto self = weak.lock()) self->reportTransactionsFromArray(purchases);
    };
    if (missing.empty()) {
        reportQueue()->async(report);
        return;
    }
    cache.requestProductsWithProductIdentifiers(std::move(missing), reportQueue(),
                                                [report](auto, auto, auto) { report(); });
}

void NEBAInAppPurchaseTransactionReporter::reportTransactionsFromArray(
    const std::vector<ns::Dictionary>& transactions) {
    auto& cache = NEBAInAppPurchaseProductCache::sharedInstance();
    for (const auto& transaction : transactions) {
        auto idIt = transaction.find("product_id");
        if (idIt == transaction.end() || !idIt->second.string()) continue;
        const std::string productID = *idIt->second.string();
        ns::Dictionary parameters = transaction;
        auto product = cache.cachedProductForProductIdentifier(productID);
        if (product && !product->price.empty()) {
            auto unit = micros(product->price);
            auto quantity = transaction.find("quantity");
            std::optional<int64_t> value;
            if (quantity != transaction.end())
                value = micros(product->price, quantity->second.longLongValue());
            if (!unit || (quantity != transaction.end() && !value)) {
                NEBAMonitor::error(
                    "Cannot report transaction with a price or value that is out of "
                    "bounds. Product ID, price",
                    {ns::Value(productID), ns::Value(product->price)});
                continue;
            }
            parameters.insert_or_assign("price", ns::Value(*unit));
            if (value) parameters.insert_or_assign("value", ns::Value(*value));
        }
        if (product && product->currencyCode && !product->currencyCode->empty())
            parameters.insert_or_assign("currency", ns::Value(*product->currencyCode));
        if (product && !product->localizedTitle.empty())
            parameters.insert_or_assign("product_name", ns::Value(product->localizedTitle));
        parameters.insert_or_assign("_c", ns::Value(1));
        bool complete = true;
        for (const char* key : {"price", "value", "currency", "product_id"})
            complete = complete && parameters.find(key) != parameters.end();
        if (!complete) continue;
        std::shared_ptr<NEBAEventPort> events;
        {
            dispatch::Lock lock(eventsMutex_);
            events = events_;
        }
        if (events) events->logInternalEvent("auto", "_iap", parameters);
    }
}
