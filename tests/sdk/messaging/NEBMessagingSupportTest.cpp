#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/sys/DeviceFacts.h"
#include "platform/ui/Screen.h"
#include "sdk/messaging/NEBMessagingAuthKeychain.h"
#include "sdk/messaging/NEBMessagingDevice.h"
#include "sdk/messaging/NSDictionary+NEBMessaging.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/support/KeychainDump.h"

namespace {

class NEBMessagingSupportTest : public messagingtest::MessagingTest {};

TEST_F(NEBMessagingSupportTest, DictionaryTextKeepsOnlyStringPairs) {
    ns::Dictionary mixed{{"a", "1"}, {"b", 2}, {"c", "3"}};
    EXPECT_EQ(msg_string(mixed), "a:1|c:3");
    EXPECT_EQ(msg_string({{"n", 1}}), "");
    EXPECT_TRUE(msg_hasNonStringKeysOrValues(mixed));
    EXPECT_FALSE(msg_hasNonStringKeysOrValues({{"a", "1"}}));
    EXPECT_EQ(msg_trimNonStringValues(mixed), (ns::Dictionary{{"a", "1"}, {"c", "3"}}));
    EXPECT_EQ(log_->count("Trimming key: b, value: 2"), 1u);
}

TEST_F(NEBMessagingSupportTest, KeychainPasswordsAreReplacedAndRemoved) {
    testsupport::ScopedKeychain keys;
    NEBMessagingAuthKeychain keychain("msg-generic");
    EXPECT_EQ(keychain.setPassword("one", "", "", "acct").error().code(), -1301);
    ASSERT_TRUE(keychain.setPassword("one", "svc", "", "acct"));
    ASSERT_TRUE(keychain.setPassword("two", "svc", "", "acct"));
    auto read = keychain.passwordForService("svc", "acct");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, std::optional<std::string>("two"));
    EXPECT_FALSE(NEBMessagingAuthKeychain("other").passwordForService("svc", "acct"));
    EXPECT_EQ(keychain.setPassword("", "svc", "", "acct").error().code(), -1301);
    EXPECT_EQ(keychain.passwordForService("svc", "acct").error().code(), -25300);
    EXPECT_TRUE(keychain.removePasswordForService("svc", "acct"));
}

// A rewrite replaces the item in one step: a reader on another thread never finds it missing.
TEST_F(NEBMessagingSupportTest, KeychainReaderNeverMissesARewrittenItem) {
    testsupport::ScopedKeychain keys;
    NEBMessagingAuthKeychain keychain("msg-generic");
    ASSERT_TRUE(keychain.setPassword("v0", "svc", "", "acct"));
    std::atomic<bool> written{false};
    std::atomic<int> failedWrites{0};
    std::thread writer([&] {
        for (int i = 1; i <= 100; ++i) {
            if (!keychain.setPassword("v" + std::to_string(i), "svc", "", "acct")) ++failedWrites;
        }
        written = true;
    });
    int reads = 0, missing = 0;
    while (!written || reads == 0) {
        ++reads;
        if (!keychain.passwordForService("svc", "acct")) ++missing;
    }
    writer.join();
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(missing, 0) << "of " << reads << " reads";
    EXPECT_EQ(*keychain.passwordForService("svc", "acct").value(), "v100");
}

// The system version as one number, read once; before 4.0 the screen counts at scale 1.
TEST(NEBMessagingDeviceTest, VersionModelAndScreen) {
    ns::ScopedSharedInstance<sys::DeviceFacts> facts;
    struct Case {
        const char* version;
        uint64_t number;
    } cases[] = {{"17.0.1", 170001}, {"9.3", 90300}, {"10.3.1.4", 100301},
                 {"3.1.3", 30103},   {"banana", 0},  {"4", 40000}};
    for (const auto& c : cases) {
        ns::ScopedSharedInstance<NEBMessagingDevice> device;
        facts->setSystemVersion(c.version);
        auto& current = NEBMessagingDevice::currentDevice();
        EXPECT_EQ(current.iPhoneOSVersion(), c.number) << c.version;
        EXPECT_EQ(current.screenScaleFactor(), c.number < 40000 ? 1.0 : ui::Screen::main().scale())
            << c.version;
        facts->setSystemVersion("99.0");
        EXPECT_EQ(current.iPhoneOSVersion(), c.number) << c.version;
    }
    ns::ScopedSharedInstance<NEBMessagingDevice> device;
    facts->setMachine("iPhone15,2");
    EXPECT_EQ(NEBMessagingDevice::currentDevice().modelVersion(), "iPhone15,2");
    facts->setMachine("x86_64");
    EXPECT_EQ(NEBMessagingDevice::currentDevice().modelVersion(), "iPhone15,2");
    EXPECT_EQ(NEBMessagingDevice::currentDevice().screenDimensions(),
              ui::Screen::main().bounds().size);
    NEBMessagingDevice::currentDevice().setProximityMonitoringEnabled(true);
    EXPECT_FALSE(NEBMessagingDevice::currentDevice().isProximityMonitoringEnabled());
    EXPECT_FALSE(NEBMessagingDevice::currentDevice().proximityState());
}

// The keyboard's size comes from its begin frame, else its bounds, and goes when it hides.
TEST(NEBMessagingDeviceTest, KeyboardSizeFollowsTheKeyboard) {
    ns::ScopedSharedInstance<NEBMessagingDevice> device;
    auto& center = ns::NotificationCenter::defaultCenter();
    auto frame = [](double width, double height) {
        return ns::Value::dict({{"x", ns::Value(0)},
                                {"y", ns::Value(500)},
                                {"width", ns::Value(width)},
                                {"height", ns::Value(height)}});
    };
    center.post(kNEBMessagingKeyboardDidShowNotification, nullptr,
                {{kNEBMessagingKeyboardFrameBeginKey, frame(390, 300)}});
    EXPECT_EQ(NEBMessagingDevice::currentDevice().keyboardSize(), ui::Size{});  // not listening
    NEBMessagingDevice::ensureInitialized();
    NEBMessagingDevice::ensureInitialized();
    center.post(kNEBMessagingKeyboardDidShowNotification, nullptr,
                {{kNEBMessagingKeyboardFrameBeginKey, frame(390, 300)},
                 {kNEBMessagingKeyboardBoundsKey, frame(1, 1)}});
    EXPECT_EQ(NEBMessagingDevice::currentDevice().keyboardSize(), (ui::Size{390, 300}));
    center.post(kNEBMessagingKeyboardDidShowNotification, nullptr,
                {{kNEBMessagingKeyboardFrameBeginKey, ns::Value("not a frame")},
                 {kNEBMessagingKeyboardBoundsKey, frame(320, 216)}});
    EXPECT_EQ(NEBMessagingDevice::currentDevice().keyboardSize(), (ui::Size{320, 216}));
    center.post(kNEBMessagingKeyboardWillHideNotification);
    EXPECT_EQ(NEBMessagingDevice::currentDevice().keyboardSize(), ui::Size{});
    center.post(kNEBMessagingKeyboardDidShowNotification, nullptr, {});
    EXPECT_EQ(NEBMessagingDevice::currentDevice().keyboardSize(), ui::Size{});
}

}  // namespace
