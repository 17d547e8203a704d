#include "app/StorePurchases.h"

#include <utility>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Log.h"
#include "platform/svc/PaymentQueue.h"
#include "platform/svc/ProductsRequest.h"

namespace {

constexpr double kPollSeconds = 0.1;
constexpr size_t kMaxIdentifierLength = 255;

std::vector<std::string>& pending() {
    static std::vector<std::string> list;
    return list;
}

ns::Error identifierError(const std::string& problem) {
    return ns::Error("HybridHostErrorDomain", 1, {{ns::kLocalizedDescriptionKey, problem}});
}

bool isIdentifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

void completeAll() {
    auto& queue = svc::PaymentQueue::defaultQueue();
    for (const auto& identifier : std::exchange(pending(), {})) {
        ns::nslog("hybrid-host: a purchase of %@ completes", identifier);
        queue.completePurchase(identifier);
    }
}

void waitForObserver(double deadline) {
    const bool observed = svc::PaymentQueue::defaultQueue().observerCount() > 0;
    if (observed || dispatch::Clock::current().wallTime() >= deadline) {
        if (!observed)
            ns::nslog("hybrid-host: nothing observes the payment queue; completing anyway.");
        completeAll();
        return;
    }
    dispatch::Queue::main().asyncAfter(dispatch::seconds(kPollSeconds),
                                       [deadline] { waitForObserver(deadline); });
}

}  // namespace

ns::Status StorePurchases::checkProductIdentifier(const std::string& identifier) {
    if (identifier.empty()) return identifierError("an empty product identifier");
    if (identifier.size() > kMaxIdentifierLength)
        return identifierError("a product identifier of more than 255 characters");
    for (char c : identifier)
        if (!isIdentifierCharacter(c))
            return identifierError(
                "not a product identifier (letters, digits, '.', '_' and '-' only)");
    return {};
}

void StorePurchases::setPurchases(std::vector<std::string> productIdentifiers) {
    HYB_EXPECT_MAIN_THREAD();
    auto& catalog = svc::ProductCatalog::shared();
    for (const auto& identifier : productIdentifiers)
        catalog.addProduct({identifier, identifier, kPrice,
                            std::string("en_US@currency=") + kCurrency, std::string(kCurrency)});
    pending() = std::move(productIdentifiers);
}

void StorePurchases::completeWhenObserved() {
    HYB_EXPECT_MAIN_THREAD();
    if (pending().empty()) return;
    waitForObserver(dispatch::Clock::current().wallTime() + kObserverWaitSeconds);
}
