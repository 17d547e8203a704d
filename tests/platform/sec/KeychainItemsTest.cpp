#include "platform/sec/KeychainItems.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/testing/InjectedFaults.h"
#include "tests/platform/sec/KeychainTestSupport.h"

namespace {

using sectest::bytes;
using sectest::genericPassword;

class KeychainItemsTest : public sectest::KeychainTest {
protected:
    sec::KeychainItems items{"com.example.items", keychain};
    const ns::Dictionary item = genericPassword({{sec::kSecAttrService, "svc"},
                                                 {sec::kSecAttrAccount, "acct"},
                                                 {sec::kSecAttrGeneric, bytes("g")}});
};

TEST_F(KeychainItemsTest, ValuesAreReadReplacedAndRemovedWithErrorsOfTheDomain) {
    auto missing = items.data(item);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), ns::Error("com.example.items", sec::errSecItemNotFound));
    EXPECT_TRUE(items.remove(item).ok()) << "nothing to remove counts as done";

    ASSERT_TRUE(items.replace(item, bytes("one"), sec::kSecAttrAccessibleAlways).ok());
    ASSERT_TRUE(items.replace(item, bytes("two"), sec::kSecAttrAccessibleWhenUnlocked).ok());
    EXPECT_EQ(dataOfAll(item), std::vector<std::string>{"two"});
    EXPECT_EQ(items.data(item)->chars(), "two");
    ns::Dictionary read = item;
    read[sec::kSecReturnAttributes] = true;
    read[sec::kSecMatchLimit] = sec::kSecMatchLimitOne;
    ns::Value attributes;
    ASSERT_EQ(keychain.copyMatching(read, &attributes), sec::errSecSuccess);
    EXPECT_EQ(attributes[sec::kSecAttrAccessible], ns::Value(sec::kSecAttrAccessibleWhenUnlocked));

    ASSERT_TRUE(items.remove(item).ok());
    EXPECT_EQ(items.data(item).error().code(), sec::errSecItemNotFound);
    auto refused = items.replace({{sec::kSecClass, "no such class"}}, bytes("x"), "ak");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().domain(), "com.example.items");
}

// Readers on other threads see the old value or the new one while writers replace it, never no
// item at all (which a removal followed by an addition would show them).
TEST_F(KeychainItemsTest, AReplacedItemIsNeverMissingForConcurrentReaders) {
    ASSERT_TRUE(items.replace(item, bytes("value-0"), sec::kSecAttrAccessibleAlways).ok());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> missed{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                auto value = items.data(item);
                if (!value.ok() || value->chars().substr(0, 6) != "value-") ++missed;
                ++reads;
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 100; ++i) {
                const auto value = "value-" + std::to_string(w) + "-" + std::to_string(i);
                EXPECT_TRUE(items.replace(item, bytes(value), sec::kSecAttrAccessibleAlways).ok());
            }
        });
    }
    for (auto& writer : writers) writer.join();
    while (reads.load() < 100) std::this_thread::yield();
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(missed.load(), 0);
    EXPECT_EQ(dataOfAll(item).size(), 1u);
}

// Passwords: an empty item reads as none without an error; an empty password removes the item
// and is refused, so that no item of no data is left behind; "*" names one item, not any.
TEST_F(KeychainItemsTest, PasswordsReadEmptyAsNoneAndAnEmptyWriteRemovesAndIsRefused) {
    sec::PasswordItems passwords("com.example.items", keychain, bytes("g"), -1301);
    EXPECT_EQ(passwords.password("svc", "acct").error().code(), sec::errSecItemNotFound);
    ASSERT_TRUE(items.replace(item, bytes(""), sec::kSecAttrAccessibleAlways).ok());
    auto empty = passwords.password("svc", "acct");
    ASSERT_TRUE(empty.ok());
    EXPECT_FALSE(*empty);

    ASSERT_TRUE(passwords.setPassword("secret", "svc", "acct", sec::kSecAttrAccessibleAlways).ok());
    ASSERT_TRUE(passwords.setPassword("other", "*", "acct", sec::kSecAttrAccessibleAlways).ok());
    EXPECT_EQ(*passwords.password("svc", "acct"), std::optional<std::string>("secret"));
    EXPECT_EQ(*passwords.password("*", "acct"), std::optional<std::string>("other"));
    auto refused = passwords.setPassword("", "svc", "acct", sec::kSecAttrAccessibleAlways);
    EXPECT_EQ(refused.error(), ns::Error("com.example.items", -1301));
    EXPECT_TRUE(dataOfAll(item).empty());
    EXPECT_EQ(passwords.password("", "acct").error().code(), -1301);
    EXPECT_EQ(passwords.removePassword("svc", "").error().code(), -1301);
    EXPECT_EQ(*passwords.password("*", "acct"), std::optional<std::string>("other"));
}

// A hint item that several threads look for at once is added once; each gets its attributes.
TEST_F(KeychainItemsTest, AnItemAddedIfMissingIsAddedOnceForRacingCallers) {
    const ns::Dictionary hint =
        genericPassword({{sec::kSecAttrAccount, "hint"}, {sec::kSecAttrService, ""}});
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] {
            auto found = items.attributesAddingIfMissing(
                hint, {{sec::kSecAttrAccessible, sec::kSecAttrAccessibleAlways}});
            if (!found.ok() || !found->contains(sec::kSecAttrAccessGroup)) ++failures;
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
    ns::Dictionary all = hint;
    all[sec::kSecMatchLimit] = sec::kSecMatchLimitAll;
    all[sec::kSecReturnAttributes] = true;
    ns::Value found;
    ASSERT_EQ(keychain.copyMatching(all, &found), sec::errSecSuccess);
    ASSERT_TRUE(found.array());
    ASSERT_EQ(found.array()->size(), 1u);
    EXPECT_EQ((*found.array())[0][sec::kSecAttrAccessible],
              ns::Value(sec::kSecAttrAccessibleAlways));
}

// The interleaving forced: another caller, on a connection of its own, adds the item between
// this caller's failed look-up and its addition. This caller's addition then finds a duplicate
// and answers the other's item.
TEST_F(KeychainItemsTest, AnItemAddedIfMissingBetweenLookupAndAdditionIsTheOneAnswered) {
    const ns::Dictionary hint =
        genericPassword({{sec::kSecAttrAccount, "hint"}, {sec::kSecAttrService, ""}});
    sec::Keychain other(dir.path());
    ns::InjectedFaults faults;
    ns::InjectedFaults::at(sec::KeychainItems::kAddingMissingPoint, [&] {
        ns::Dictionary item = hint;
        item[sec::kSecAttrLabel] = "the other's";
        ASSERT_EQ(other.add(item), sec::errSecSuccess);
    });
    auto found = items.attributesAddingIfMissing(
        hint, {{sec::kSecAttrAccessible, sec::kSecAttrAccessibleAlways}});
    ASSERT_TRUE(found.ok()) << found.error().description();
    EXPECT_EQ((*found)[sec::kSecAttrLabel], ns::Value("the other's"));
    EXPECT_EQ(dataOfAll(hint).size(), 1u);
}

// Reads of data answer the first match's data, whatever return and limit entries the query
// already carries.
TEST_F(KeychainItemsTest, DataIsTheFirstMatchWhateverTheQueryCarries) {
    ASSERT_TRUE(items.replace(item, bytes("first"), sec::kSecAttrAccessibleAlways).ok());
    ns::Dictionary second = item;
    second[sec::kSecAttrAccount] = "other";
    ASSERT_TRUE(items.replace(second, bytes("second"), sec::kSecAttrAccessibleAlways).ok());
    const ns::Dictionary any = genericPassword({{sec::kSecAttrService, "svc"}});
    for (const ns::Dictionary& extra :
         {ns::Dictionary{}, ns::Dictionary{{sec::kSecReturnData, true}},
          ns::Dictionary{{sec::kSecReturnData, false},
                         {sec::kSecMatchLimit, sec::kSecMatchLimitOne}},
          ns::Dictionary{{sec::kSecReturnData, true},
                         {sec::kSecMatchLimit, sec::kSecMatchLimitAll}},
          ns::Dictionary{{sec::kSecReturnAttributes, true},
                         {sec::kSecReturnData, true},
                         {sec::kSecMatchLimit, sec::kSecMatchLimitOne}}}) {
        ns::Dictionary query = any;
        for (const auto& [key, value] : extra) query.insert_or_assign(key, value);
        SCOPED_TRACE(ns::Value(query).description());
        auto read = items.data(query);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read->chars(), "first");
    }
}

}  // namespace
