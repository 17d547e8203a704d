#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/svc/PaymentQueue.h"
#include "platform/svc/ProductsRequest.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "sdk/analytics/NEBAInAppPurchaseProductCache.h"
#include "sdk/analytics/NEBAInAppPurchaseTransactionReporter.h"
#include "sdk/analytics/NEBALifetimeValueRecorder.h"
#include "tests/sdk/analytics/EngineFixture.h"

namespace analyticstest {
namespace {

using State = svc::PaymentTransactionState;

svc::Product product(const std::string& id, const std::string& price,
                     std::optional<std::string> currency = "USD") {
    return {id, "Title of " + id, price, "en_US@currency=USD", std::move(currency)};
}

ns::Value parameter(const NEBAEvent& event, const std::string& name) {
    auto it = event.parameters().find(name);
    return it == event.parameters().end() ? ns::Value() : it->second.object();
}

class PurchasesTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        startEngine();
    }
    void TearDown() override {
        loop().runUntilIdle();
        EngineTest::TearDown();
    }

    std::optional<NEBAUserAttribute> property(const std::string& name) {
        return onWorker([&] { return engine_->database()->userAttributeWithName(name).value(); });
    }

    void log(const std::string& name, ns::Dictionary parameters) {
        auto event = NEBAEvent::initWithOrigin("app", name[0] != '_', name, clock().wallTime(), 0,
                                               parameters);
        ASSERT_TRUE(event);
        onWorker([&] { engine_->logEventOnWorkerQueue(*event); });
    }

    // Scopes entered before the engine starts, so that it registers with these.
    ns::ScopedSharedInstance<svc::PaymentQueue> payments_;
    ns::ScopedSharedInstance<svc::ProductCatalog> catalog_;
    ns::ScopedSharedInstance<NEBAInAppPurchaseProductCache> cache_;
    ns::ScopedSharedInstance<NEBAInAppPurchaseTransactionReporter> reporter_;
};

TEST_F(PurchasesTest, APurchaseIsReportedWithItsPriceInMillionthsAndCounted) {
    EXPECT_TRUE(reporter_->isReportingEnabled());
    catalog_->addProduct(product("coins", "0.99"));
    payments_->completePurchase("coins", 2);
    payments_->completePurchase("coins", 1, State::Restored);
    payments_->completePurchase("coins", 1, State::Failed);
    payments_->completePurchase("unknown", 1);
    loop().runUntilIdle();
    auto purchases = seenNamed("_iap");
    ASSERT_EQ(purchases.size(), 1u);
    const auto& event = purchases[0];
    EXPECT_EQ(parameter(event, "price"), ns::Value(int64_t{990000}));
    EXPECT_EQ(parameter(event, "value"), ns::Value(int64_t{1980000}));
    EXPECT_EQ(parameter(event, "quantity"), ns::Value(int64_t{2}));
    EXPECT_EQ(parameter(event, "currency"), ns::Value("USD"));
    EXPECT_EQ(parameter(event, "product_name"), ns::Value("Title of coins"));
    EXPECT_EQ(parameter(event, "_c"), ns::Value(int64_t{1}));
    EXPECT_EQ(storedEvents("_iap"), 1);
    EXPECT_EQ(property("_ltv_USD")->value().int64Value(), 1980000);
    // The store was asked once for the product it did not know; the unknown one stays refused.
    EXPECT_EQ(cache_->entryCount(), 2u);
}

TEST_F(PurchasesTest, PricesAreReadExactly) {
    using R = NEBAInAppPurchaseTransactionReporter;
    EXPECT_EQ(R::micros("0.99", 2), 1980000);
    EXPECT_EQ(R::micros("12.3456789"), 12345678);
    EXPECT_EQ(R::micros("3"), 3000000);
    EXPECT_EQ(R::micros("9223372036854.775807"), std::numeric_limits<int64_t>::max());
    for (const char* refused : {"", ".", "1e5", "-1", "abc", "1.2.3", "9223372036854.775808"})
        EXPECT_EQ(R::micros(refused), std::nullopt) << refused;
    EXPECT_EQ(R::micros("1000000", 10000000), std::nullopt);
}

TEST_F(PurchasesTest, LifetimeValueKeepsTheMostRecentCurrencies) {
    for (const char* code : {"usd", "eur", "jpy", "gbp"})
        log("ecommerce_purchase", {{"currency", ns::Value(code)}, {"value", ns::Value(1)}});
    clock().advanceSeconds(1);
    log("ecommerce_purchase", {{"currency", ns::Value("eur")}, {"value", ns::Value(12.3456789)}});
    clock().advanceSeconds(1);
    log("ecommerce_purchase", {{"currency", ns::Value("chf")}, {"value", ns::Value(2)}});
    EXPECT_EQ(property("_ltv_EUR")->value().int64Value(), 1000000 + 12345679);
    EXPECT_TRUE(property("_ltv_CHF"));
    // Four currencies are tracked by default: one of those not set since goes.
    int tracked = 0;
    for (const char* code : {"USD", "EUR", "JPY", "GBP", "CHF"})
        tracked += property(std::string("_ltv_") + code).has_value();
    EXPECT_EQ(tracked, 4);
    EXPECT_EQ(storedEvents("ecommerce_purchase"), 6);
}

TEST_F(PurchasesTest, CurrenciesAreThreeLettersAndAmountsMustFit) {
    for (const char* code : {"US", "EURO", "U$D", "1BC"})
        log("ecommerce_purchase", {{"currency", ns::Value(code)}, {"value", ns::Value(1)}});
    // Nothing recorded, but the events themselves are kept.
    EXPECT_EQ(storedEvents("ecommerce_purchase"), 4);
    EXPECT_TRUE(onWorker(
        [&] { return engine_->database()->allLifetimeValueUserAttributes().value().empty(); }));

    for (double value : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300})
        log("ecommerce_purchase", {{"currency", ns::Value("usd")}, {"value", ns::Value(value)}});
    log("ecommerce_purchase",
        {{"currency", ns::Value("usd")}, {"value", ns::Value(int64_t{1} << 60)}});
    EXPECT_EQ(storedEvents("ecommerce_purchase"), 4);

    // A total that would overflow stops at the largest one.
    log("_iap", {{"currency", ns::Value("usd")},
                 {"value", ns::Value(std::numeric_limits<int64_t>::max() - 1)}});
    log("_iap", {{"currency", ns::Value("usd")}, {"value", ns::Value(int64_t{5})}});
    EXPECT_EQ(property("_ltv_USD")->value().int64Value(), std::numeric_limits<int64_t>::max());
}

TEST_F(PurchasesTest, TrackedCurrenciesStayWithinTheUserPropertyTable) {
    applyConfig({{"measurement.lifetimevalue.max_currency_tracked", "100"}});
    for (int i = 0; i < 30; ++i) {
        std::string code = {'A', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26)};
        log("ecommerce_purchase", {{"currency", ns::Value(code)}, {"value", ns::Value(1)}});
        clock().advanceSeconds(1);
    }
    EXPECT_EQ(storedEvents("ecommerce_purchase"), 30);
    auto tracked = onWorker(
        [&] { return engine_->database()->allLifetimeValueUserAttributes().value().size(); });
    EXPECT_EQ(tracked, static_cast<size_t>(NEBALifetimeValueRecorder::kMaxTrackedCurrencies));
}

TEST_F(PurchasesTest, TheCacheKeepsOnlyTheLatestAnswerBeyondAHundredProducts) {
    std::set<std::string> first;
    for (int i = 0; i < 100; ++i) {
        catalog_->addProduct(product("p" + std::to_string(i), "1"));
        first.insert("p" + std::to_string(i));
    }
    auto answered = std::make_shared<int>(0);
    auto count = [answered](auto, auto, auto) { ++*answered; };
    cache_->requestProductsWithProductIdentifiers(first, dispatch::Queue::createSerial("t"), count);
    loop().runUntilIdle();
    EXPECT_EQ(cache_->entryCount(), 100u);
    cache_->requestProductsWithProductIdentifiers({"latest"}, dispatch::Queue::createSerial("t"),
                                                  count);
    loop().runUntilIdle();
    EXPECT_EQ(*answered, 2);
    EXPECT_EQ(cache_->entryCount(), 1u);
    EXPECT_FALSE(cache_->cachedProductForProductIdentifier("p0"));
}

TEST_F(PurchasesTest, DisabledReportingHearsNoMoreAndIsNotEnabledAgain) {
    catalog_->addProduct(product("coins", "1"));
    reporter_->disableReporting();
    EXPECT_EQ(payments_->observerCount(), 0u);
    restartEngine();
    EXPECT_FALSE(reporter_->isReportingEnabled());
    payments_->completePurchase("coins");
    loop().runUntilIdle();
    EXPECT_TRUE(seenNamed("_iap").empty());
}

}  // namespace
}  // namespace analyticstest
