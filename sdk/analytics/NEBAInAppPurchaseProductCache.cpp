#include "sdk/analytics/NEBAInAppPurchaseProductCache.h"

NEBAInAppPurchaseProductCache::NEBAInAppPurchaseProductCache()
    : lockQueue_(dispatch::Queue::createSerial(kLockQueueLabel)) {}

NEBAInAppPurchaseProductCache& NEBAInAppPurchaseProductCache::sharedInstance() {
    return ns::SharedInstance<NEBAInAppPurchaseProductCache>::get();
}

std::optional<svc::Product> NEBAInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& productIdentifier) {
    return lockQueue_->sync([&]() -> std::optional<svc::Product> {
        auto it = validProducts_.find(productIdentifier);
        if (it == validProducts_.end()) return std::nullopt;
        return it->second;
    });
}

size_t NEBAInAppPurchaseProductCache::entryCount() {
    return lockQueue_->sync(
        [&] { return validProducts_.size() + invalidProductIdentifiers_.size(); });
}

void NEBAInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    std::set<std::string> productIdentifiers, std::shared_ptr<dispatch::Queue> queue,
    NEBAProductsRequest::Completion completion) {
    if (!queue || !completion) return;
    NEBAProductsRequest::requestProductsWithProductIdentifiers(
        std::move(productIdentifiers), lockQueue_,
        [this, queue, completion](auto products, auto invalid, auto error) {
            // On the lock queue.
            if (products)
                for (const auto& [identifier, product] : *products)
                    validProducts_.insert_or_assign(identifier, product);
            if (invalid) {
                for (const auto& identifier : *invalid) validProducts_.erase(identifier);
                invalidProductIdentifiers_.insert(invalid->begin(), invalid->end());
            }
            if (products)
                for (const auto& [identifier, product] : *products)
                    invalidProductIdentifiers_.erase(identifier);
            if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
                validProducts_ = products.value_or(NEBAProductsRequest::Products{});
                invalidProductIdentifiers_ = invalid.value_or(std::set<std::string>{});
            }
            // The task holds its queue: a queue whose last holder goes drops what it has not
            // run yet.
            queue->async([queue, completion, products, invalid, error] {
                completion(products, invalid, error);
            });
        });
}
