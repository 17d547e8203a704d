#include "platform/sec/Keychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/ns/Bundle.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"

#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/platform/sec/KeychainTestSupport.h"

namespace {

using namespace sec;
using sectest::bytes;
using sectest::genericPassword;

using KeychainItems = sectest::KeychainTest;

// An application that holds a shared group beside its own, with items in both.
class KeychainQueries : public sectest::KeychainTest {
protected:
    void SetUp() override {
        keychain.setAccessGroups(
            sectest::groupsOf("com.example.app", sectest::teamProfile("TEAM", {"TEAM.other"})));
        addPassword(
            {{kSecAttrService, "s1"}, {kSecAttrAccount, "a1"}, {kSecAttrGeneric, bytes("G1")}},
            "one");
        addPassword({{kSecAttrService, "s1"}, {kSecAttrAccount, "a2"}, {kSecAttrGeneric, "G1"}},
                    "two");
        addPassword(
            {{kSecAttrService, "s2"}, {kSecAttrAccount, "a1"}, {kSecAttrAccessGroup, "TEAM.other"}},
            "three");
        ASSERT_EQ(keychain.add({{kSecClass, kSecClassKey},
                                {kSecAttrApplicationTag, bytes("tag")},
                                {kSecAttrKeyClass, kSecAttrKeyClassPrivate},
                                {kSecValueData, bytes("k")}}),
                  errSecSuccess);
    }
};

TEST_F(KeychainQueries, NamedAttributesMatchExactlyAndAbsentOnesMatchAnything) {
    struct Case {
        ns::Dictionary query;
        std::vector<std::string> expected;
    };
    const std::string group = "TEAM.com.example.app";
    const Case cases[] = {
        {genericPassword({}), {"one", "two", "three"}},
        {genericPassword({{kSecAttrService, "s1"}}), {"one", "two"}},
        {genericPassword({{kSecAttrService, "s1"}, {kSecAttrAccount, "a2"}}), {"two"}},
        {genericPassword({{kSecAttrAccount, "a1"}}), {"one", "three"}},
        // Text and data with the same bytes are the same attribute value.
        {genericPassword({{kSecAttrAccount, bytes("a1")}}), {"one", "three"}},
        {genericPassword({{kSecAttrGeneric, bytes("G1")}}), {"one", "two"}},
        {genericPassword({{kSecAttrGeneric, "G2"}}), {}},
        {genericPassword({{kSecAttrAccessGroup, group}}), {"one", "two"}},
        {genericPassword({{kSecAttrAccessGroup, "TEAM.other"}}), {"three"}},
        {genericPassword({{kSecAttrService, "s"}}), {}},
        {genericPassword({{kSecAttrAccessible, kSecAttrAccessibleWhenUnlocked}}),
         {"one", "two", "three"}},
        {genericPassword({{kSecAttrAccessible, kSecAttrAccessibleAlways}}), {}},
        {{{kSecClass, kSecClassKey}}, {"k"}},
        {{{kSecClass, kSecClassKey}, {kSecAttrApplicationTag, "tag"}}, {"k"}},
        {{{kSecClass, kSecClassKey}, {kSecAttrKeyClass, kSecAttrKeyClassPublic}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.expected));
        EXPECT_EQ(dataOfAll(c.query), c.expected);
    }
}

TEST_F(KeychainQueries, ReturnKindsShapeTheResult) {
    ns::Dictionary query = genericPassword({{kSecAttrService, "s1"}});

    ns::Value result;
    auto withReturn = [&](ns::Dictionary extra) {
        ns::Dictionary q = query;
        for (auto& [k, v] : extra) q[k] = v;
        result = ns::Value();
        return keychain.copyMatching(q, &result);
    };

    ASSERT_EQ(withReturn({{kSecReturnData, true}}), errSecSuccess);
    ASSERT_TRUE(result.data());
    EXPECT_EQ(*result.data(), bytes("one"));  // limit one is the default: the first added

    ASSERT_EQ(withReturn({{kSecReturnAttributes, true}}), errSecSuccess);
    const ns::Dictionary* attributes = result.dictionary();
    ASSERT_TRUE(attributes);
    EXPECT_EQ(*attributes->at(kSecClass).string(), kSecClassGenericPassword);
    EXPECT_EQ(*attributes->at(kSecAttrService).string(), "s1");
    EXPECT_EQ(*attributes->at(kSecAttrAccount).string(), "a1");
    EXPECT_EQ(*attributes->at(kSecAttrGeneric).data(), bytes("G1"));
    EXPECT_EQ(*attributes->at(kSecAttrAccessGroup).string(), "TEAM.com.example.app");
    EXPECT_EQ(*attributes->at(kSecAttrAccessible).string(), kSecAttrAccessibleWhenUnlocked);
    EXPECT_FALSE(attributes->count(kSecValueData));

    ASSERT_EQ(withReturn({{kSecReturnAttributes, true}, {kSecReturnData, true}}), errSecSuccess);
    ASSERT_TRUE(result.dictionary());
    EXPECT_EQ(*result.dictionary()->at(kSecValueData).data(), bytes("one"));

    ASSERT_EQ(withReturn({}), errSecSuccess);
    EXPECT_TRUE(result.isNull());

    ASSERT_EQ(withReturn({{kSecReturnAttributes, true},
                          {kSecReturnData, true},
                          {kSecMatchLimit, kSecMatchLimitAll}}),
              errSecSuccess);
    ASSERT_TRUE(result.array());
    ASSERT_EQ(result.array()->size(), 2u);
    EXPECT_EQ(*result.array()->at(1).dictionary()->at(kSecValueData).data(), bytes("two"));
    EXPECT_EQ(*result.array()->at(1).dictionary()->at(kSecAttrAccount).string(), "a2");

    ASSERT_EQ(withReturn({{kSecReturnAttributes, true}, {kSecMatchLimit, kSecMatchLimitAll}}),
              errSecSuccess);
    ASSERT_TRUE(result.array());
    EXPECT_EQ(result.array()->size(), 2u);
    EXPECT_TRUE(result.array()->at(0).dictionary());
}

// Data asked for without a match limit is the first match's data alone, never a list, whether
// the store or the stored attributes pick the match, and whatever was asked just before.
TEST_F(KeychainQueries, DataWithoutAMatchLimitIsTheFirstMatchAlone) {
    struct Case {
        ns::Dictionary query;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "one"},
        {{{kSecAttrService, "s1"}}, "one"},
        {{{kSecAttrGeneric, "G1"}}, "one"},
        {{{kSecAttrGeneric, "G1"}, {kSecAttrAccount, "a2"}}, "two"},
        {{{kSecAttrAccessGroup, "TEAM.other"}, {kSecReturnAttributes, true}}, "three"},
    };
    for (const auto& c : cases) {
        ns::Dictionary query = genericPassword(c.query);
        query[kSecReturnData] = true;
        SCOPED_TRACE(ns::Value(query).description());
        ns::Dictionary all = query;
        all[kSecMatchLimit] = kSecMatchLimitAll;
        ns::Value result;
        ASSERT_EQ(keychain.copyMatching(all, &result), errSecSuccess);
        ASSERT_EQ(keychain.copyMatching(query, &result), errSecSuccess);
        const ns::Data* data = result.dictionary() ? result[kSecValueData].data() : result.data();
        ASSERT_TRUE(data) << result.description();
        EXPECT_EQ(data->chars(), c.expected);
    }
}

TEST_F(KeychainItems, AnItemWithoutDataAnswersNoDataEntryAndEmptyData) {
    ASSERT_EQ(keychain.add(genericPassword({{kSecAttrAccount, "teamIDHint"},
                                            {kSecAttrService, ""},
                                            {kSecAttrAccessible, kSecAttrAccessibleAlways}})),
              errSecSuccess);
    ns::Value result;
    ASSERT_EQ(keychain.copyMatching(genericPassword({{kSecAttrAccount, "teamIDHint"},
                                                     {kSecReturnAttributes, true},
                                                     {kSecReturnData, true}}),
                                    &result),
              errSecSuccess);
    ASSERT_TRUE(result.dictionary());
    EXPECT_FALSE(result.dictionary()->count(kSecValueData));
    EXPECT_EQ(*result.dictionary()->at(kSecAttrAccessible).string(), kSecAttrAccessibleAlways);

    ASSERT_EQ(
        keychain.copyMatching(
            genericPassword({{kSecAttrAccount, "teamIDHint"}, {kSecReturnData, true}}), &result),
        errSecSuccess);
    ASSERT_TRUE(result.data());
    EXPECT_TRUE(result.data()->empty());
}

// Empty bytes are a value like any other: empty data comes back as empty data, not as an item
// without data, and a search naming empty bytes, as data or as text, finds the item stored with
// them.
TEST_F(KeychainItems, EmptyBytesAreAValue) {
    ASSERT_EQ(
        keychain.add(genericPassword(
            {{kSecAttrService, ns::Data()}, {kSecAttrAccount, ""}, {kSecValueData, ns::Data()}})),
        errSecSuccess);
    for (const ns::Value& empty : {ns::Value(ns::Data()), ns::Value("")}) {
        SCOPED_TRACE(empty.description());
        ns::Value result;
        ASSERT_EQ(keychain.copyMatching(genericPassword({{kSecAttrService, empty},
                                                         {kSecAttrAccount, empty},
                                                         {kSecReturnAttributes, true},
                                                         {kSecReturnData, true}}),
                                        &result),
                  errSecSuccess);
        ASSERT_TRUE(result.dictionary());
        ASSERT_TRUE(result.dictionary()->count(kSecValueData));
        EXPECT_EQ(result.dictionary()->at(kSecValueData), ns::Value(ns::Data()));
    }
}

// Searches answer items in the order they were added, whatever their attributes.
TEST_F(KeychainItems, ItemsComeBackInTheOrderTheyWereAdded) {
    addPassword({{kSecAttrService, "zeta"}, {kSecAttrAccount, "3"}}, "first");
    addPassword({{kSecAttrService, "alpha"}, {kSecAttrAccount, "2"}}, "second");
    addPassword({{kSecAttrService, "mid"}, {kSecAttrAccount, "1"}}, "third");
    addPassword({{kSecAttrService, "alpha"}, {kSecAttrAccount, "0"}}, "fourth");
    EXPECT_EQ(dataOfAll(genericPassword({})),
              (std::vector<std::string>{"first", "second", "third", "fourth"}));
    EXPECT_EQ(dataOfAll(genericPassword({{kSecAttrService, "alpha"}})),
              (std::vector<std::string>{"second", "fourth"}));
}

TEST_F(KeychainItems, AddAnswersTheNewItemWithTheDefaultAccessGroup) {
    keychain.setDefaultAccessGroup("ABCDE12345.com.example.app");
    ns::Value result;
    ASSERT_EQ(keychain.add(genericPassword({{kSecAttrAccount, "teamIDHint"},
                                            {kSecAttrService, ""},
                                            {kSecReturnAttributes, true}}),
                           &result),
              errSecSuccess);
    ASSERT_TRUE(result.dictionary());
    EXPECT_EQ(*result.dictionary()->at(kSecAttrAccessGroup).string(), "ABCDE12345.com.example.app");
}

TEST_F(KeychainItems, PrimaryKeysDecideWhatIsADuplicate) {
    ns::Dictionary item = genericPassword({{kSecAttrService, "s"},
                                           {kSecAttrAccount, "a"},
                                           {kSecAttrGeneric, "g1"},
                                           {kSecValueData, bytes("1")}});
    ASSERT_EQ(keychain.add(item), errSecSuccess);
    EXPECT_EQ(keychain.add(item), errSecDuplicateItem);
    item[kSecAttrGeneric] = "g2";  // not part of the identity
    EXPECT_EQ(keychain.add(item), errSecDuplicateItem);
    item[kSecAttrAccount] = bytes("a");  // the same bytes
    EXPECT_EQ(keychain.add(item), errSecDuplicateItem);
    item[kSecAttrAccessGroup] = "LOCALTEAM.second";
    EXPECT_EQ(keychain.add(item), errSecSuccess);

    // Missing service and account count as empty ones.
    ASSERT_EQ(keychain.add(genericPassword({})), errSecSuccess);
    EXPECT_EQ(keychain.add(genericPassword({{kSecAttrService, ""}})), errSecDuplicateItem);

    ns::Dictionary key{{kSecClass, kSecClassKey},
                       {kSecAttrApplicationTag, bytes("t")},
                       {kSecAttrKeyClass, kSecAttrKeyClassPrivate}};
    ASSERT_EQ(keychain.add(key), errSecSuccess);
    EXPECT_EQ(keychain.add(key), errSecDuplicateItem);
    key[kSecAttrKeyClass] = kSecAttrKeyClassPublic;
    EXPECT_EQ(keychain.add(key), errSecSuccess);
    EXPECT_EQ(dataOfAll(genericPassword({{kSecAttrService, "s"}})).size(), 1u);
    EXPECT_EQ(dataOfAll(genericPassword(
                            {{kSecAttrService, "s"}, {kSecAttrAccessGroup, "LOCALTEAM.second"}}))
                  .size(),
              1u);
}

// A search asked again and again (a cached token read on every call) answers what the store
// holds at each call, and one that differs in a single value, or cannot be read, is its own.
TEST_F(KeychainQueries, RepeatedSearchesAnswerTheStoreAsItIsNow) {
    const ns::Dictionary token = genericPassword({{kSecAttrService, "s1"},
                                                  {kSecAttrAccount, "a1"},
                                                  {kSecAttrGeneric, "G1"},
                                                  {kSecReturnData, true}});
    ns::Dictionary otherGeneric = token;
    otherGeneric[kSecAttrGeneric] = "G2";
    ns::Dictionary unreadable = token;
    unreadable["nosuch"] = "x";
    auto read = [&](const ns::Dictionary& query) -> std::string {
        ns::Value result;
        const OSStatus status = keychain.copyMatching(query, &result);
        if (status != errSecSuccess) return "status " + std::to_string(status);
        return result.data() ? std::string(result.data()->chars()) : "<not data>";
    };

    EXPECT_EQ(read(token), "one");
    EXPECT_EQ(read(otherGeneric), "status " + std::to_string(errSecItemNotFound));
    EXPECT_EQ(read(token), "one");
    ASSERT_EQ(keychain.update(genericPassword({{kSecAttrAccount, "a1"}, {kSecAttrService, "s1"}}),
                              {{kSecValueData, bytes("uno")}}),
              errSecSuccess);
    EXPECT_EQ(read(token), "uno");
    EXPECT_EQ(read(unreadable), "status " + std::to_string(errSecParam));
    EXPECT_EQ(read(token), "uno");
    ASSERT_EQ(keychain.update(genericPassword({{kSecAttrAccount, "a1"}, {kSecAttrService, "s1"}}),
                              {{kSecAttrGeneric, "G2"}}),
              errSecSuccess);
    EXPECT_EQ(read(token), "status " + std::to_string(errSecItemNotFound));
    EXPECT_EQ(read(otherGeneric), "uno");
    ASSERT_EQ(keychain.remove(genericPassword({{kSecAttrService, "s1"}})), errSecSuccess);
    EXPECT_EQ(read(otherGeneric), "status " + std::to_string(errSecItemNotFound));
}

TEST_F(KeychainQueries, UpdateChangesEveryMatchAndKeepsTheRest) {
    ASSERT_EQ(keychain.update(genericPassword({{kSecAttrService, "s1"}}),
                              {{kSecValueData, bytes("new")}}),
              errSecSuccess);
    EXPECT_EQ(dataOfAll(genericPassword({})), (std::vector<std::string>{"new", "new", "three"}));

    ns::Value result;
    ASSERT_EQ(keychain.copyMatching(genericPassword({{kSecAttrAccount, "a2"},
                                                     {kSecAttrService, "s1"},
                                                     {kSecReturnAttributes, true}}),
                                    &result),
              errSecSuccess);
    EXPECT_EQ(*result.dictionary()->at(kSecAttrGeneric).string(), "G1");

    // Selected by an attribute that has no column of its own.
    ASSERT_EQ(keychain.update(genericPassword({{kSecAttrGeneric, "G1"}, {kSecAttrAccount, "a2"}}),
                              {{kSecAttrLabel, "labelled"}, {kSecValueData, bytes("two")}}),
              errSecSuccess);
    EXPECT_EQ(dataOfAll(genericPassword({{kSecAttrLabel, "labelled"}})),
              std::vector<std::string>{"two"});

    EXPECT_EQ(keychain.update(genericPassword({{kSecAttrService, "none"}}),
                              {{kSecValueData, bytes("x")}}),
              errSecItemNotFound);
}

TEST_F(KeychainQueries, AnUpdateThatWouldMakeADuplicateChangesNothing) {
    EXPECT_EQ(keychain.update(genericPassword({{kSecAttrService, "s1"}}),
                              {{kSecAttrAccount, "a1"}, {kSecValueData, bytes("x")}}),
              errSecDuplicateItem);
    EXPECT_EQ(dataOfAll(genericPassword({{kSecAttrService, "s1"}})),
              (std::vector<std::string>{"one", "two"}));
}

TEST_F(KeychainQueries, DeleteRemovesEveryMatch) {
    ASSERT_EQ(keychain.remove(genericPassword({{kSecAttrService, "s1"}})), errSecSuccess);
    EXPECT_EQ(dataOfAll(genericPassword({})), std::vector<std::string>{"three"});
    EXPECT_EQ(keychain.remove(genericPassword({{kSecAttrService, "s1"}})), errSecItemNotFound);
    EXPECT_EQ(keychain.remove(genericPassword({{kSecAttrGeneric, "none"}})), errSecItemNotFound);
    ASSERT_EQ(keychain.remove(genericPassword({})), errSecSuccess);
    EXPECT_EQ(dataOfAll({{kSecClass, kSecClassKey}}), std::vector<std::string>{"k"});
}

TEST_F(KeychainQueries, ReplaceSwapsTheMatchesForOneItem) {
    ns::Dictionary query = genericPassword({{kSecAttrService, "s1"}, {kSecAttrAccount, "a1"}});
    ASSERT_EQ(keychain.replace(
                  query, {{kSecValueData, bytes("uno")},
                          {kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly}}),
              errSecSuccess);
    EXPECT_EQ(dataOfAll(query), std::vector<std::string>{"uno"});
    EXPECT_EQ(dataOfAll(genericPassword(
                  {{kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly}})),
              std::vector<std::string>{"uno"});

    ns::Dictionary fresh = genericPassword({{kSecAttrService, "s9"}});
    ASSERT_EQ(keychain.replace(fresh, {{kSecValueData, bytes("nine")}}), errSecSuccess);
    EXPECT_EQ(dataOfAll(fresh), std::vector<std::string>{"nine"});

    // The new item would collide with one the query did not select: nothing changes.
    EXPECT_EQ(keychain.replace(genericPassword({{kSecAttrService, "s9"}}),
                               {{kSecAttrService, "s1"}, {kSecAttrAccount, "a2"}}),
              errSecDuplicateItem);
    EXPECT_EQ(dataOfAll(fresh), std::vector<std::string>{"nine"});
}

TEST_F(KeychainItems, MalformedDictionariesAnswerParam) {
    enum Op { Add, Copy, Update, Delete };
    struct Case {
        const char* what;
        Op op;
        ns::Dictionary dictionary;
    };
    const Case cases[] = {
        {"no class", Copy, {{kSecAttrService, "s"}}},
        {"unknown class", Add, {{kSecClass, "cert"}}},
        {"class not text", Copy, {{kSecClass, 1}}},
        {"service not text", Add, genericPassword({{kSecAttrService, 5}})},
        {"access group as data", Add, genericPassword({{kSecAttrAccessGroup, bytes("g")}})},
        {"data not data", Add, genericPassword({{kSecValueData, "secret"}})},
        {"return flag not boolean", Copy, genericPassword({{kSecReturnData, "yes"}})},
        {"unknown limit", Copy, genericPassword({{kSecMatchLimit, "m_LimitSome"}})},
        {"unknown attribute", Add, genericPassword({{"zzzz", "x"}})},
        {"tag on a password", Add, genericPassword({{kSecAttrApplicationTag, "t"}})},
        {"service on a key", Add, {{kSecClass, kSecClassKey}, {kSecAttrService, "s"}}},
        {"unknown key class", Add, {{kSecClass, kSecClassKey}, {kSecAttrKeyClass, "7"}}},
        {"unknown accessibility", Add, genericPassword({{kSecAttrAccessible, "bogus"}})},
        {"data in a search", Copy, genericPassword({{kSecValueData, bytes("x")}})},
        {"reference of a password", Copy, genericPassword({{kSecReturnRef, true}})},
        {"return in a delete", Delete, genericPassword({{kSecReturnData, true}})},
        {"return in an update query", Update, genericPassword({{kSecReturnAttributes, true}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ns::Value result;
        OSStatus status = c.op == Add      ? keychain.add(c.dictionary, &result)
                          : c.op == Copy   ? keychain.copyMatching(c.dictionary, &result)
                          : c.op == Update ? keychain.update(c.dictionary, {{kSecAttrLabel, "l"}})
                                           : keychain.remove(c.dictionary);
        EXPECT_EQ(status, errSecParam);
    }
    addPassword({{kSecAttrService, "s"}}, "1");
    for (const ns::Dictionary& changes : {ns::Dictionary{{kSecClass, kSecClassGenericPassword}},
                                          ns::Dictionary{{kSecReturnData, true}},
                                          ns::Dictionary{{kSecMatchLimit, kSecMatchLimitAll}},
                                          ns::Dictionary{{kSecAttrApplicationTag, "t"}}}) {
        EXPECT_EQ(keychain.update(genericPassword({}), changes), errSecParam);
    }
    EXPECT_EQ(dataOfAll(genericPassword({})), std::vector<std::string>{"1"});
}

TEST_F(KeychainQueries, InjectedEntitlementFailuresAnswerForTheNextCallsOnly) {
    ns::InjectedFaults::add("keychain", errSecMissingEntitlement, 3);
    ns::Value result;
    EXPECT_EQ(keychain.copyMatching(genericPassword({{kSecReturnData, true}}), &result),
              errSecMissingEntitlement);
    EXPECT_EQ(keychain.remove(genericPassword({})), errSecMissingEntitlement);
    EXPECT_EQ(keychain.add(genericPassword({{kSecAttrService, "new"}})), errSecMissingEntitlement);
    EXPECT_EQ(dataOfAll(genericPassword({})), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(keychain.add(genericPassword({{kSecAttrService, "new"}})), errSecSuccess);
}

TEST_F(KeychainItems, ItemOperationsReachTheProcessKeychain) {
    Keychain::setDirectory(dir.path() / "shared");
    ns::Dictionary query = genericPassword({{kSecAttrService, "svc"}, {kSecAttrAccount, "acct"}});
    ns::Dictionary item = query;
    item[kSecValueData] = bytes("secret");
    ASSERT_EQ(SecItemAdd(item, nullptr), errSecSuccess);
    ASSERT_EQ(SecItemUpdate(query, {{kSecValueData, bytes("changed")}}), errSecSuccess);
    ns::Dictionary read = query;
    read[kSecReturnData] = true;
    ns::Value result;
    ASSERT_EQ(SecItemCopyMatching(read, &result), errSecSuccess);
    EXPECT_EQ(*result.data(), bytes("changed"));
    ASSERT_EQ(SecItemDelete(query), errSecSuccess);
    EXPECT_EQ(SecItemCopyMatching(read, &result), errSecItemNotFound);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "shared" / "keychain.db"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "keychain.db"));
}

// The keychain lives beside the sandbox it belongs to: one application run in two sandboxes
// (two installations) has two keychains, and each is found again when its sandbox is.
TEST(KeychainScope, TheKeychainFollowsTheSandboxItLivesBeside) {
    testsupport::TempDir dir;
    const sectest::ScopedApplication application;
    ::unsetenv("HYB_KEYCHAIN_DIR");
    Keychain::setDirectory({});
    ns::Bundle::setMainBundlePath(sectest::writeBundle(dir.path(), "com.example.app"));
    const auto use = [&](const char* sandbox) {
        ASSERT_TRUE(ns::Sandbox::configure((dir / sandbox).string()).ok());
    };
    const ns::Dictionary read = genericPassword({{kSecAttrService, "svc"}, {kSecReturnData, true}});
    ns::Value found;

    use("first");
    ASSERT_EQ(SecItemAdd(genericPassword({{kSecAttrService, "svc"}, {kSecValueData, bytes("1")}})),
              errSecSuccess);
    use("second");
    EXPECT_EQ(SecItemCopyMatching(read, &found), errSecItemNotFound);
    ASSERT_EQ(SecItemAdd(genericPassword({{kSecAttrService, "svc"}, {kSecValueData, bytes("2")}})),
              errSecSuccess);
    use("first");
    ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_EQ(found, ns::Value(bytes("1")));
    use("second");
    ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_EQ(found, ns::Value(bytes("2")));
}

// Each application sees its own keychain, and keeps it through a reinstall.
TEST(KeychainScope, OneKeychainPerApplicationOutsideItsContainer) {
    testsupport::TempDir dir;
    const sectest::ScopedApplication application;
    ::unsetenv("HYB_KEYCHAIN_DIR");
    Keychain::setDirectory({});
    const auto install = [&](const std::string& identifier) {
        const std::string bundle = (dir.path() / identifier).string();
        std::filesystem::create_directories(bundle);
        ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                        bundle + "/Info.plist", ns::Dictionary{{"CFBundleIdentifier", identifier}},
                        ns::PropertyListSerialization::Format::XML)
                        .ok());
        ns::Bundle::setMainBundlePath(bundle);
        ASSERT_TRUE(ns::Sandbox::configure(bundle + ".sandbox").ok());
    };
    const ns::Dictionary query = genericPassword({{kSecAttrService, "svc"}});
    ns::Dictionary read = query;
    read[kSecReturnAttributes] = true;
    ns::Value found;

    install("com.example.one");
    ns::Dictionary item = query;
    item[kSecValueData] = bytes("one's secret");
    ASSERT_EQ(SecItemAdd(item, nullptr), errSecSuccess);
    ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_EQ(found[kSecAttrAccessGroup], ns::Value("LOCALD170B2634C.com.example.one"));

    install("com.example.two");
    EXPECT_EQ(SecItemCopyMatching(read, &found), errSecItemNotFound);

    install("com.example.one");
    ASSERT_TRUE(ns::Sandbox::simulateReinstall().ok());
    EXPECT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_TRUE(std::filesystem::exists(ns::Sandbox::keychainDirectory() + "/keychain.db"));
}

}  // namespace
