#include "sdk/core/NEBCoreLogger.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/ns/Log.h"
#include "platform/ns/UserDefaults.h"
#include "tests/sdk/core/SdkCoreFixture.h"

namespace {

using sdktest::SdkCoreTest;

class NEBCoreLoggerTest : public SdkCoreTest {
protected:
    void launchWith(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "sdk_core_tests");
        ns::ProcessInfo::processInfo().setArguments(arguments);
        relaunch();
    }
    static ns::Value storedDebugMode() {
        return ns::UserDefaults::standardUserDefaults()->objectForKey("/nebula/nebula/debug_mode");
    }
};

TEST_F(NEBCoreLoggerTest, DisabledArgumentWinsAndRemovesTheDefault) {
    ns::UserDefaults::standardUserDefaults()->setBool("/nebula/nebula/debug_mode", true);
    launchWith({"-NEBDebugEnabled", "-NEBDebugDisabled"});
    EXPECT_FALSE(NEBCoreLogger::isDebugModeEnabled());
    EXPECT_TRUE(storedDebugMode().isNull());
}

TEST_F(NEBCoreLoggerTest, EnabledArgumentPersistsUntilDisabled) {
    launchWith({"-NEBDebugEnabled"});
    EXPECT_TRUE(NEBCoreLogger::isDebugModeEnabled());
    EXPECT_EQ(storedDebugMode(), ns::Value(true));

    launchWith({});
    EXPECT_TRUE(NEBCoreLogger::isDebugModeEnabled());
    NEBCoreLogDebug(kNEBLoggerCore, "I-COR000001", "visible %d", 7);
    EXPECT_TRUE(logs().contains("[Nebula/Core][I-COR000001] visible 7"));

    launchWith({"-NEBDebugDisabled"});
    EXPECT_FALSE(NEBCoreLogger::isDebugModeEnabled());
    launchWith({});
    EXPECT_FALSE(NEBCoreLogger::isDebugModeEnabled());
}

// Debug mode opens the outputs to the core's quiet lines, and to those alone.
TEST_F(NEBCoreLoggerTest, DebugModeLowersTheLevelForTheCoreOnly) {
    const std::string file = dir_.str() + "/written.log";
    ASSERT_TRUE(ns::Log::setFile(file));
    const ns::LogLevel before = ns::Log::minimumLevel();
    ns::Log::setMinimumLevel(ns::LogLevel::Default);
    ns::Log::setStandardErrorEnabled(false);  // the file shows what is written
    launchWith({"-NEBDebugEnabled"});
    NEBCoreLogInfo(kNEBLoggerCore, "I-COR000008", "core info");
    NEBCoreLogDebug(kNEBLoggerCore, "I-COR000001", "core debug");
    ns::Log::write(ns::LogLevel::Info, "other info");
    logs();
    EXPECT_EQ(ns::Log::minimumLevel(), ns::LogLevel::Default);
    launchWith({"-NEBDebugDisabled"});
    NEBCoreLogError(kNEBLoggerCore, "I-COR000003", "after");
    logs();
    ns::Log::setFile("");
    ns::Log::setStandardErrorEnabled(true);
    ns::Log::setMinimumLevel(before);
    std::ifstream in(file);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(written.find("[I-COR000008] core info"), std::string::npos) << written;
    EXPECT_NE(written.find("[I-COR000001] core debug"), std::string::npos) << written;
    EXPECT_EQ(written.find("other info"), std::string::npos) << written;
    EXPECT_NE(written.find("[I-COR000003] after"), std::string::npos) << written;
}

TEST_F(NEBCoreLoggerTest, QuietLevelsAreDroppedOutsideDebugMode) {
    logs_.expect("[I-COR000003] error line");
    ASSERT_FALSE(ns::ProcessInfo::processInfo().isBeingTraced());
    NEBCoreLogDebug(kNEBLoggerCore, "I-COR000001", "debug line");
    NEBCoreLogInfo(kNEBLoggerCore, "I-COR000008", "info line");
    NEBCoreLogError(kNEBLoggerCore, "I-COR000003", "error %@", std::string("line"));
    auto entries = logs().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "[Nebula/Core][I-COR000003] error line");
    EXPECT_EQ(entries[0].level, ns::LogLevel::Error);
    EXPECT_EQ(entries[0].subsystem, "com.nebula.app.logger");
}

TEST_F(NEBCoreLoggerTest, LinesKeepCallOrder) {
    logs_.expect("[Nebula/Core][I-COR000017] ");
    for (int i = 0; i < 50; ++i) NEBCoreLogError(kNEBLoggerCore, "I-COR000017", "%d", i);
    auto texts = logs().texts();
    ASSERT_EQ(texts.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(texts[i], "[Nebula/Core][I-COR000017] " + std::to_string(i));
}

}  // namespace
