#include "sdk/messaging/NEBMessagingLogger.h"

#include <gtest/gtest.h>

#include "sdk/messaging/NEBMessagingCheckinService.h"
#include "sdk/messaging/NEBMessagingConfig.h"
#include "sdk/messaging/NEBMessagingLogLevelFilter.h"
#include "sdk/messaging/NEBMessagingLogStandardFormatter.h"
#include "sdk/messaging/NEBMessagingUtilities.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

namespace {

class NEBMessagingLoggerTest : public messagingtest::MessagingTest {};

TEST_F(NEBMessagingLoggerTest, LevelFilterWritesErrorsAsWarningsAndNeverDebug) {
    auto writer = std::make_shared<messagingtest::RecordingLogWriter>();
    NEBMessagingLogger logger(std::make_shared<NEBMessagingLogLevelFilter>(
                                  NEBMessagingConfig::defaultConfig().logLevel()),
                              std::make_shared<NEBMessagingLogStandardFormatter>(), writer);
    logger.logFuncInfo(__func__, "info %d", 1);
    logger.logFuncError(__func__, "Invalid tag %d for proto", 5);
    logger.logFuncAssert(__func__, "assert");
    EXPECT_EQ(writer->count("info 1"), 0u);
    EXPECT_EQ(writer->count("<NEBMessaging/WARNING> Invalid tag 5 for proto"), 1u);
    EXPECT_EQ(writer->count("<NEBMessaging/ERROR> assert"), 1u);

    NEBMessagingLogger open(std::make_shared<NEBMessagingLogLevelFilter>(),
                            std::make_shared<NEBMessagingLogStandardFormatter>(), writer);
    open.logFuncDebug(__func__, "debug");
    open.logFuncInfo(__func__, "shown");
    EXPECT_EQ(writer->count("debug"), 0u);
    EXPECT_EQ(writer->count("<NEBMessaging/INFO> shown"), 1u);
    EXPECT_EQ(NEBMessagingTimestampMillis() % 1000, 0);
}

TEST_F(NEBMessagingLoggerTest, ValidCredentialsAreNotReplacedByInvalidOnes) {
    std::optional<NEBMessagingCheckinPreferences> offered;
    NEBMessagingCheckinService service([&] { return offered; });
    EXPECT_FALSE(service.tryToLoadPrefetchedCheckinPreferences());
    offered = credentials();
    EXPECT_TRUE(service.tryToLoadPrefetchedCheckinPreferences());
    offered->secretToken = "";
    EXPECT_TRUE(service.tryToLoadPrefetchedCheckinPreferences());
    EXPECT_EQ(service.secretToken(), "secret-4242");
    // A day after the check-in the credentials are stale.
    clock().advanceSeconds(86400);
    EXPECT_FALSE(service.hasValidCheckinInfo());
}

}  // namespace
