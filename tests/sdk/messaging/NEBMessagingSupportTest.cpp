#include <gtest/gtest.h>

#include "platform/sec/Keychain.h"
#include "sdk/messaging/NEBMessagingAuthKeychain.h"
#include "sdk/messaging/NSDictionary+NEBMessaging.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"

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
    testsupport::TempDir keys;
    sec::Keychain::setDirectory(keys.path());
    struct Restore {
        ~Restore() { sec::Keychain::setDirectory(sec::Keychain::defaultDirectory()); }
    } restore;
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

}  // namespace
