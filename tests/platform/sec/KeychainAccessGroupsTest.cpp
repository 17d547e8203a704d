#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/ns/Bundle.h"
#include "platform/sec/AccessGroups.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/ProvisioningProfile.h"
#include "platform/sec/SecItem.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/platform/sec/KeychainTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace sec;
using sectest::bytes;
using sectest::genericPassword;
using sectest::groupsOf;
using sectest::profile;
using sectest::teamProfile;

TEST(AccessGroups, TheTeamAndTheSharedGroupsComeFromTheProfile) {
    struct Case {
        const char* what;
        AccessGroups groups;
        std::vector<std::string> held;
    };
    const std::string id = "com.example.app";
    const Case cases[] = {
        {"no profile: a team of its own, never the same for two identifiers",
         groupsOf(id),
         {"LOCAL8A464E05BF.com.example.app"}},
        {"", groupsOf("com.example.one"), {"LOCALD170B2634C.com.example.one"}},
        {"the team identifier", groupsOf(id, teamProfile("ABCDE12345")), {"ABCDE12345." + id}},
        {"", groupsOf(id, teamProfile("AZaz09")), {"AZaz09." + id}},
        {"an application identifier of team and bundle identifier",
         groupsOf(id, profile({{"application-identifier", "QWERTY1234." + id}})),
         {"QWERTY1234." + id}},
        {"an application identifier without team",
         groupsOf(id, profile({{"application-identifier", id}})), groupsOf(id).held()},
        {"an application identifier of another application",
         groupsOf(id, profile({{"application-identifier", "QWERTY1234.com.example.other"}})),
         groupsOf(id).held()},
        {"a team identifier that is not one word", groupsOf(id, teamProfile("ABC.DE")),
         groupsOf(id).held()},
        {"", groupsOf(id, teamProfile("ABC-DE")), groupsOf(id).held()},
        {"", groupsOf(id, teamProfile("ABC DE")), groupsOf(id).held()},
        {"", groupsOf(id, teamProfile("ABC\xc3\x89")), groupsOf(id).held()},
        {"no property list", groupsOf(id, bytes("\x30\x82 signed")), groupsOf(id).held()},
        {"declared groups of its own team only, once each",
         groupsOf(id, sectest::profile({{"keychain-access-groups",
                                         ns::Array{"T1.shared", "T2.shared", "T1.", 5, "T1." + id,
                                                   "T1.shared", "T1X.shared", "T1.more"}}},
                                       {{"TeamIdentifier", ns::Array{"T1"}}})),
         {"T1." + id, "T1.shared", "T1.more"}},
        {"no bundle identifier",
         AccessGroups::ofApplication(std::nullopt, {}),
         {Keychain::kInitialAccessGroup}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.groups.held(), c.held);
    }
    const AccessGroups team = groupsOf(id, teamProfile("T1", {"T1.shared"}));
    EXPECT_TRUE(team.mayName("T1.shared"));
    EXPECT_TRUE(team.mayName("T1.com.example.sibling"));
    EXPECT_FALSE(team.mayName("T2.shared"));
    EXPECT_FALSE(team.mayName("T1X.shared")) << "a team whose name begins with T1 is another team";
    EXPECT_FALSE(team.mayName("T1"));
}

// Applications whose keychains share one folder.
class KeychainApplications : public sectest::KeychainTest {
protected:
    Keychain one{dir.path()};
    Keychain two{dir.path()};

    std::vector<std::string> valuesSeenBy(Keychain& keychain, ns::Dictionary query = {}) {
        query = genericPassword(std::move(query));
        query[kSecMatchLimit] = kSecMatchLimitAll;
        query[kSecReturnData] = true;
        ns::Value result;
        std::vector<std::string> found;
        if (keychain.copyMatching(query, &result) != errSecSuccess) return found;
        for (const auto& item : *result.array()) {
            found.emplace_back(item.data() ? item.data()->chars() : "<no data>");
        }
        return found;
    }
    static OSStatus add(Keychain& keychain, ns::Dictionary item, std::string_view value) {
        item[kSecValueData] = bytes(value);
        return keychain.add(genericPassword(std::move(item)));
    }
    // An item as an earlier version, whose application held `group`, stored it.
    void addEarlier(const std::string& group, const char* service, std::string_view value) {
        Keychain earlier(dir.path());
        earlier.setDefaultAccessGroup(group);
        ASSERT_EQ(add(earlier, {{kSecAttrService, service}}, value), errSecSuccess);
    }
};

// A query without group reaches only the application's own items: a search finds, an update
// changes, a delete removes nothing of the other's, though both name the same service.
TEST_F(KeychainApplications, TwoApplicationsOnOneFolderUseOnlyTheirOwnItems) {
    one.setAccessGroups(groupsOf("com.example.one"));
    two.setAccessGroups(groupsOf("com.example.two"));
    const ns::Dictionary item{{kSecAttrService, "svc"}, {kSecAttrAccount, "device"}};
    ASSERT_EQ(add(one, item, "one's secret"), errSecSuccess);
    ASSERT_EQ(add(two, item, "two's secret"), errSecSuccess);
    EXPECT_EQ(valuesSeenBy(one), std::vector<std::string>{"one's secret"});
    EXPECT_EQ(valuesSeenBy(two), std::vector<std::string>{"two's secret"});

    ASSERT_EQ(two.update(genericPassword(item), {{kSecValueData, bytes("two's new")}}),
              errSecSuccess);
    ASSERT_EQ(two.replace(genericPassword({{kSecAttrService, "svc"}}), {}), errSecSuccess);
    ASSERT_EQ(two.remove(genericPassword({})), errSecSuccess);
    EXPECT_EQ(valuesSeenBy(two), std::vector<std::string>{});
    EXPECT_EQ(valuesSeenBy(one), std::vector<std::string>{"one's secret"});
    EXPECT_EQ(two.remove(genericPassword(item)), errSecItemNotFound);

    // Another team's group cannot be named, whatever the call.
    const ns::Dictionary ones = genericPassword({{kSecAttrAccessGroup, one.defaultAccessGroup()}});
    ns::Value found;
    EXPECT_EQ(two.copyMatching(ones, &found), errSecMissingEntitlement);
    EXPECT_EQ(two.remove(ones), errSecMissingEntitlement);
    EXPECT_EQ(two.update(ones, {{kSecValueData, bytes("x")}}), errSecMissingEntitlement);
    EXPECT_EQ(add(two, {{kSecAttrAccessGroup, one.defaultAccessGroup()}}, "x"),
              errSecMissingEntitlement);
    ASSERT_EQ(add(two, {{kSecAttrService, "mine"}}, "two's"), errSecSuccess);
    EXPECT_EQ(two.update(genericPassword({{kSecAttrService, "mine"}}),
                         {{kSecAttrAccessGroup, one.defaultAccessGroup()}}),
              errSecMissingEntitlement);
    EXPECT_EQ(valuesSeenBy(one), std::vector<std::string>{"one's secret"});
}

// Applications of one team see the items of a group they declare in searches without group,
// and may name any group of their team; another team's application sees none of it.
TEST_F(KeychainApplications, SharedGroupsAreSeenByTheApplicationsThatDeclareThem) {
    one.setAccessGroups(groupsOf("com.example.one", teamProfile("T1", {"T1.shared"})));
    two.setAccessGroups(groupsOf("com.example.two", teamProfile("T1", {"T1.shared"})));
    Keychain undeclared(dir.path());
    undeclared.setAccessGroups(groupsOf("com.example.three", teamProfile("T1")));
    Keychain stranger(dir.path());
    stranger.setAccessGroups(groupsOf("com.example.four", teamProfile("T2", {"T1.shared"})));

    ASSERT_EQ(add(one, {{kSecAttrAccessGroup, "T1.shared"}}, "shared"), errSecSuccess);
    ASSERT_EQ(add(one, {{kSecAttrService, "own"}}, "one's own"), errSecSuccess);
    EXPECT_EQ(valuesSeenBy(two), std::vector<std::string>{"shared"});
    EXPECT_EQ(valuesSeenBy(one), (std::vector<std::string>{"shared", "one's own"}));
    EXPECT_EQ(valuesSeenBy(undeclared), std::vector<std::string>{});
    EXPECT_EQ(valuesSeenBy(undeclared, {{kSecAttrAccessGroup, "T1.shared"}}),
              std::vector<std::string>{"shared"});
    EXPECT_EQ(valuesSeenBy(stranger), std::vector<std::string>{});
    ns::Value found;
    EXPECT_EQ(stranger.copyMatching(genericPassword({{kSecAttrAccessGroup, "T1.shared"}}), &found),
              errSecMissingEntitlement);
}

// Items that an earlier version filed under the constant team move into the application's own
// group when it first opens the file; an item already there wins and its former twin goes, and
// the other application's former items stay where they are.
TEST_F(KeychainApplications, FormerItemsOfTheApplicationMoveIntoItsOwnGroup) {
    {
        Keychain earlier(dir.path());
        earlier.setDefaultAccessGroup("LOCALTEAM.com.example.one");
        ASSERT_EQ(add(earlier, {{kSecAttrService, "token"}}, "old token"), errSecSuccess);
        ASSERT_EQ(add(earlier, {{kSecAttrService, "twin"}}, "old twin"), errSecSuccess);
        ASSERT_EQ(earlier.add({{kSecClass, kSecClassKey},
                               {kSecAttrApplicationTag, bytes("tag")},
                               {kSecValueData, bytes("key")}}),
                  errSecSuccess);
        earlier.setDefaultAccessGroup("LOCALTEAM.com.example.two");
        ASSERT_EQ(add(earlier, {{kSecAttrService, "token"}}, "two's token"), errSecSuccess);
        earlier.setDefaultAccessGroup(groupsOf("com.example.one").own());
        ASSERT_EQ(add(earlier, {{kSecAttrService, "twin"}}, "new twin"), errSecSuccess);
    }
    one.setAccessGroups(groupsOf("com.example.one"));
    EXPECT_EQ(valuesSeenBy(one), (std::vector<std::string>{"old token", "new twin"}));
    ns::Value attributes;
    ASSERT_EQ(
        one.copyMatching({{kSecClass, kSecClassKey}, {kSecReturnAttributes, true}}, &attributes),
        errSecSuccess);
    EXPECT_EQ(attributes[kSecAttrAccessGroup], ns::Value(one.defaultAccessGroup()));
    Keychain former(dir.path());
    former.setDefaultAccessGroup(Keychain::kInitialAccessGroup);
    EXPECT_EQ(valuesSeenBy(former, {{kSecAttrAccessGroup, "LOCALTEAM.com.example.one"}}),
              std::vector<std::string>{});
    EXPECT_EQ(valuesSeenBy(former, {{kSecAttrAccessGroup, "LOCALTEAM.com.example.two"}}),
              std::vector<std::string>{"two's token"});
}

// Items of the former common team's groups, and of the team an application had of its own
// before its profile named one, are found in its team's groups: what only it used moves, a
// group that other teams' applications may claim too is copied once into each team's, and an
// item there already wins over its former twin, which goes from a group that only it used.
TEST_F(KeychainApplications, FormerGroupsAreCarriedIntoTheTeamsGroups) {
    addEarlier("LOCALTEAM.com.example.one", "a", "common own");
    addEarlier(AccessGroups::unsignedTeam("com.example.one") + ".com.example.one", "b", "own");
    addEarlier("LOCALTEAM.lib", "c", "common lib");
    addEarlier("LOCALTEAM.lib", "d", "old d");
    addEarlier("T1.lib", "d", "new d");
    addEarlier("LOCALTEAM.shared", "e", "common shared");
    addEarlier("T1.com.example.one", "a", "new a");
    const auto open = [&](Keychain& keychain, const char* id, const std::string& team) {
        keychain.setAccessGroups(
            groupsOf(id, team.empty() ? ns::Data() : teamProfile(team, {team + ".shared"})));
        // The library names its group after the application's first keychain call.
        valuesSeenBy(keychain);
        keychain.carryOverTeamGroup("lib");
        return valuesSeenBy(keychain,
                            {{kSecAttrAccessGroup, keychain.accessGroups().team() + ".lib"}});
    };
    using Values = std::vector<std::string>;
    EXPECT_EQ(open(one, "com.example.one", "T1"), (Values{"new d", "common lib"}));
    EXPECT_EQ(valuesSeenBy(one), (Values{"own", "new a", "common shared"}));
    EXPECT_EQ(open(two, "com.example.two", "T2"), (Values{"common lib", "old d"}));
    EXPECT_EQ(valuesSeenBy(two), Values{"common shared"});

    // An item removed after the copy does not come back: at the next open, nor when the copy
    // of an application without a team moves on into the team its profile names later. Nothing
    // is left for the next open to carry, so it reads though every write would fail.
    ASSERT_EQ(one.remove(genericPassword({{kSecAttrAccessGroup, "T1.lib"}})), errSecSuccess);
    Keychain reopened(dir.path()), teamless(dir.path()), named(dir.path());
    ns::InjectedFaults faults;
    faults.add("keychain.carry", errSecIO, 3);
    EXPECT_EQ(open(reopened, "com.example.one", "T1"), Values{});
    EXPECT_EQ(valuesSeenBy(reopened), (Values{"own", "new a", "common shared"}));
    faults.clear();
    ASSERT_EQ(open(teamless, "com.example.three", ""), (Values{"common lib", "old d"}));
    ASSERT_EQ(teamless.remove(genericPassword(
                  {{kSecAttrService, "c"},
                   {kSecAttrAccessGroup, teamless.accessGroups().team() + ".lib"}})),
              errSecSuccess);
    EXPECT_EQ(open(named, "com.example.three", "T3"), Values{"old d"});
}

// A carry-over that fails leaves every item where it was and fails the call, so that no search
// answers "not found" for them and no twin is added beside them; the next call carries them.
TEST_F(KeychainApplications, ACarryOverThatFailsIsTriedAgainByTheNextCall) {
    addEarlier("LOCALTEAM.com.example.one", "token", "old");
    one.setAccessGroups(groupsOf("com.example.one", teamProfile("T1")));
    ns::InjectedFaults faults;
    faults.add("keychain.carry", errSecIO);
    ns::Value found;
    EXPECT_EQ(one.copyMatching(genericPassword({{kSecAttrService, "token"}}), &found), errSecIO);
    EXPECT_EQ(add(one, {{kSecAttrService, "token"}}, "new"), errSecDuplicateItem);
    EXPECT_EQ(valuesSeenBy(one), std::vector<std::string>{"old"});
}

// The process's keychain in a folder that two applications' hosts share: each reads its groups
// from its own bundle.
TEST(KeychainBundles, TwoBundlesOnOneKeychainFolderKeepTheirItemsApart) {
    testsupport::TempDir dir;
    const sectest::ScopedApplication application;
    ::setenv("HYB_KEYCHAIN_DIR", (dir / "Keychain").c_str(), 1);
    Keychain::setDirectory({});
    const auto run = [&](const std::string& identifier, const ns::Data& provisioning) {
        ns::Bundle::setMainBundlePath(sectest::writeBundle(dir.path(), identifier, provisioning));
    };
    const ns::Dictionary read = genericPassword({{kSecReturnData, true}});
    ns::Value found;

    run("com.example.one", profile({{"aps-environment", "development"}}));
    ASSERT_EQ(SecItemAdd(genericPassword({{kSecValueData, bytes("one's")}})), errSecSuccess);
    run("com.example.two", teamProfile("T1", {"T1.shared"}));
    EXPECT_EQ(SecItemCopyMatching(read, &found), errSecItemNotFound);
    ASSERT_EQ(SecItemAdd(genericPassword(
                  {{kSecAttrAccessGroup, "T1.shared"}, {kSecValueData, bytes("shared")}})),
              errSecSuccess);
    run("com.example.three", teamProfile("T1", {"T1.shared"}));
    ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_EQ(found, ns::Value(bytes("shared")));
    run("com.example.one", {});
    ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
    EXPECT_EQ(found, ns::Value(bytes("one's")));
}

// A profile that is there but cannot be read leaves the team unknown: the items of earlier
// versions stay where they are, for a run that reads it to move them into the team's group.
TEST(KeychainBundles, AProfileThatCannotBeReadMovesNoFormerItems) {
    testsupport::TempDir dir;
    const std::string path = sectest::writeBundle(dir.path(), "com.example.one");
    const std::string profile = path + "/" + sec::ProvisioningProfile::kFileName;
    EXPECT_FALSE(sec::AccessGroups::ofBundle(ns::Bundle(path)).formerGroups({}).empty());
    std::filesystem::create_directory(profile);
    testsupport::LogCapture log;
    log.expect(profile + " cannot be read");
    EXPECT_TRUE(sec::AccessGroups::ofBundle(ns::Bundle(path)).formerGroups({"lib"}).empty());
}

// Applications that take turns on one keychain folder in one process each take in the items an
// earlier version filed for them under the former common team, when each first uses it.
TEST(KeychainBundles, EachApplicationOnASharedFolderTakesInItsOwnFormerItems) {
    testsupport::TempDir dir;
    const sectest::ScopedApplication application;
    ::setenv("HYB_KEYCHAIN_DIR", (dir / "Keychain").c_str(), 1);
    Keychain::setDirectory({});
    {
        Keychain earlier(dir / "Keychain");
        for (const char* identifier : {"com.example.one", "com.example.two"}) {
            earlier.setDefaultAccessGroup(std::string(Keychain::kTeamPrefix) + identifier);
            ASSERT_EQ(earlier.add(genericPassword(
                          {{kSecAttrService, "token"}, {kSecValueData, bytes(identifier)}})),
                      errSecSuccess);
        }
    }
    const ns::Dictionary read =
        genericPassword({{kSecAttrService, "token"}, {kSecReturnData, true}});
    for (const char* identifier : {"com.example.one", "com.example.two"}) {
        SCOPED_TRACE(identifier);
        ns::Bundle::setMainBundlePath(sectest::writeBundle(dir.path(), identifier));
        ns::Value found;
        ASSERT_EQ(SecItemCopyMatching(read, &found), errSecSuccess);
        EXPECT_EQ(found, ns::Value(bytes(identifier)));
    }
}

}  // namespace
