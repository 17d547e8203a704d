// The host's command line handing the SDK its debug switches, and playing the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/CompositionRoot.h"
#include "app/HostArguments.h"
#include "app/StorePurchases.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/UserDefaults.h"
#include "platform/svc/PaymentQueue.h"
#include "platform/svc/ProductsRequest.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Application.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "tests/app/FixtureBundle.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string kExecutable = (fs::path(HYB_SOURCE_DIR) / "tests/fixtures/hybrid-host").string();

TEST(HostLaunchOptions, SDKSwitchesArePassedOnInOrderAndTheHostsOwnOptionsAreNot) {
    const std::string bundle = (fs::path(HYB_SOURCE_DIR) / "tests/fixtures/bundle").string();
    auto options = HostArguments::parse(
        {"-NEBAnalyticsDebugEnabled", "--bundle", bundle, "--exit-after-load",
         "-noNEBAnalyticsDebugEnabled", "-NEBDebugDisabled", "--complete-purchase", "coins.100"},
        kExecutable);
    ASSERT_TRUE(options) << options.error().localizedDescription();
    EXPECT_EQ(options->launchArguments,
              (std::vector<std::string>{kExecutable, "-NEBAnalyticsDebugEnabled",
                                        "-noNEBAnalyticsDebugEnabled", "-NEBDebugDisabled"}));
    EXPECT_TRUE(options->exitAfterLoad);
    EXPECT_EQ(options->bundlePath, bundle);
    EXPECT_EQ(options->purchases, std::vector<std::string>{"coins.100"});

    // Near misses stay unknown; product identifiers are checked before anything starts.
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"-NEBAnalyticsDebugEnable"},
          {"--NEBAnalyticsDebugEnabled"},
          {"--complete-purchase"},
          {"--complete-purchase", ""},
          {"--complete-purchase", "a b"},
          {"--complete-purchase", "x');"},
          {"--complete-purchase", std::string(256, 'p')}}) {
        auto refused = HostArguments::parse(wrong, kExecutable);
        ASSERT_FALSE(refused) << wrong.front();
        EXPECT_NE(refused.error().localizedDescription().find(wrong.front()), std::string::npos);
    }
    const std::string help = HostArguments::helpText();
    for (const char* option :
         {"--complete-purchase", "-NEBAnalyticsDebugEnabled", "-noNEBAnalyticsDebugEnabled",
          "-NEBDebugEnabled", "-NEBDebugDisabled"}) {
        EXPECT_NE(help.find("\n  " + std::string(option) + " "), std::string::npos) << option;
        EXPECT_NE(HostArguments::usage().find(option), std::string::npos) << option;
    }
}

// Launches on one sandbox: the switch reaches the analytics monitor, which keeps debug mode on
// in later launches without it, until the opposite switch.
TEST(HostLaunchOptions, AnalyticsDebugModeFollowsTheSwitchesAcrossLaunches) {
    testsupport::TempDir sandbox;
    testsupport::TempDir folder;
    const std::string bundle = apptest::fixtureBundleIn(folder.path()).string();
    const auto savedArguments = ns::ProcessInfo::processInfo().arguments();
    auto launchWith = [&](std::vector<std::string> switches) {
        ns::UserDefaults::flushAll();  // as the host does before it exits
        std::vector<std::string> arguments{"--bundle", bundle, "--sandbox", sandbox.str()};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        auto options = HostArguments::parse(arguments, kExecutable);
        EXPECT_TRUE(options && CompositionRoot::prepare(*options));
        return std::make_shared<NEBAMonitor>(0)->isDebugModeEnabled();
    };
    auto stored = [] {
        return ns::UserDefaults::standardUserDefaults()->boolForKey(kNEBADebugModeKey);
    };
    EXPECT_FALSE(launchWith({}));
    EXPECT_TRUE(launchWith({"-NEBAnalyticsDebugEnabled"}));
    EXPECT_TRUE(stored());
    EXPECT_TRUE(launchWith({}));
    EXPECT_FALSE(launchWith({"-NEBAnalyticsDebugEnabled", "-noNEBAnalyticsDebugEnabled"}));
    EXPECT_FALSE(stored());
    EXPECT_FALSE(launchWith({}));
    ns::ProcessInfo::processInfo().setArguments(savedArguments);
}

class Recorder : public svc::PaymentTransactionObserver {
public:
    void paymentQueueUpdatedTransactions(
        svc::PaymentQueue&, const std::vector<svc::PaymentTransaction>& transactions) override {
        seen.insert(seen.end(), transactions.begin(), transactions.end());
    }
    std::vector<svc::PaymentTransaction> seen;
};

class StorePurchasesTest : public testsupport::ManualRunLoop {
protected:
    ns::ScopedSharedInstance<svc::PaymentQueue> payments_;
    ns::ScopedSharedInstance<svc::ProductCatalog> catalog_;
};

// A purchase made before analytics observes the queue would be lost: it waits for an observer.
TEST_F(StorePurchasesTest, PurchasesWaitForAnObserverAndTheStoreSellsTheirProducts) {
    StorePurchases::setPurchases({"coins", "gems"});
    auto coins = catalog_->product("coins");
    ASSERT_TRUE(coins);
    EXPECT_EQ(coins->price, "0.99");
    EXPECT_EQ(coins->currencyCode, "USD");
    EXPECT_EQ(coins->localizedTitle, "coins");
    StorePurchases::completeWhenObserved();
    loop().advanceBy(dispatch::seconds(2));

    auto recorder = std::make_shared<Recorder>();
    payments_->addTransactionObserver(recorder);
    loop().advanceBy(dispatch::seconds(1));
    ASSERT_EQ(recorder->seen.size(), 2u);
    EXPECT_EQ(recorder->seen[0].payment.productIdentifier, "coins");
    EXPECT_EQ(recorder->seen[1].payment.productIdentifier, "gems");
    for (const auto& transaction : recorder->seen) {
        EXPECT_EQ(transaction.transactionState, svc::PaymentTransactionState::Purchased);
        EXPECT_EQ(transaction.payment.quantity, 1);
    }
    // Once only.
    loop().advanceBy(dispatch::seconds(30));
    EXPECT_EQ(recorder->seen.size(), 2u);
}

TEST_F(StorePurchasesTest, WithoutAnObserverThePurchaseCompletesAfterTheWaitAndSaysSo) {
    testsupport::LogCapture log;
    StorePurchases::setPurchases({"coins"});
    StorePurchases::completeWhenObserved();
    loop().advanceBy(dispatch::seconds(StorePurchases::kObserverWaitSeconds - 1));
    EXPECT_FALSE(log.contains("a purchase of coins completes"));
    loop().advanceBy(dispatch::seconds(2));
    EXPECT_TRUE(log.contains("nothing observes the payment queue"));
    EXPECT_TRUE(log.contains("a purchase of coins completes"));
}

}  // namespace
