#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "tests/platform/sec/KeychainTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace sec;
using sectest::bytes;
using sectest::genericPassword;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string integrityOf(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return verdict;
}

const ns::Dictionary kItemQuery =
    genericPassword({{kSecAttrService, "svc"}, {kSecAttrAccount, "acct"}});

std::optional<std::string> storedValue(Keychain& keychain) {
    ns::Dictionary query = kItemQuery;
    query[kSecReturnData] = true;
    ns::Value result;
    if (keychain.copyMatching(query, &result) != errSecSuccess || !result.data()) {
        return std::nullopt;
    }
    return std::string(result.data()->chars());
}

using KeychainFile = sectest::KeychainTest;

TEST_F(KeychainFile, ItemsSurviveReopeningAndFilesArePrivate) {
    {
        Keychain first(dir.path() / "kc");
        ns::Dictionary item = kItemQuery;
        item[kSecValueData] = bytes("kept");
        ASSERT_EQ(first.add(item), errSecSuccess);
    }
    Keychain second(dir.path() / "kc");
    EXPECT_EQ(storedValue(second), "kept");
    EXPECT_EQ(modeOf(dir.path() / "kc"), 0700u);
    EXPECT_EQ(modeOf(dir.path() / "kc" / "keychain.db"), 0600u);
    for (const char* companion : {"keychain.db-wal", "keychain.db-shm"}) {
        auto path = dir.path() / "kc" / companion;
        if (std::filesystem::exists(path)) EXPECT_EQ(modeOf(path), 0600u) << companion;
    }
}

TEST_F(KeychainFile, LooseModesAreTightenedOnOpen) {
    auto kc = dir.path() / "loose";
    std::filesystem::create_directories(kc);
    ::chmod(kc.c_str(), 0755);
    { std::ofstream(kc / "keychain.db"); }
    ::chmod((kc / "keychain.db").c_str(), 0644);
    Keychain keychain(kc);
    EXPECT_EQ(keychain.copyMatching(kItemQuery, nullptr), errSecItemNotFound);
    EXPECT_EQ(modeOf(kc), 0700u);
    EXPECT_EQ(modeOf(kc / "keychain.db"), 0600u);
}

TEST_F(KeychainFile, ADamagedFileIsSetAsideAndANewOneStarted) {
    auto kc = dir.path() / "damaged";
    std::filesystem::create_directories(kc);
    {
        std::ofstream out(kc / "keychain.db", std::ios::binary);
        out << std::string(8192, 'x');
    }
    Keychain keychain(kc);
    ns::Dictionary item = kItemQuery;
    item[kSecValueData] = bytes("fresh");
    ASSERT_EQ(keychain.add(item), errSecSuccess);
    EXPECT_EQ(storedValue(keychain), "fresh");
    EXPECT_TRUE(std::filesystem::exists(kc / "keychain.db.damaged"));
}

TEST_F(KeychainFile, UnreadableStoredAttributesHideOnlyThatItem) {
    addPassword({{kSecAttrService, "bad"}, {kSecAttrGeneric, "g"}}, "1");
    addPassword({{kSecAttrService, "good"}, {kSecAttrGeneric, "g"}}, "2");
    addPassword({{kSecAttrService, "bad"}, {kSecAttrAccount, "other"}}, "3");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir.path() / "keychain.db").c_str(), &db), SQLITE_OK);
        // The first item's stored attributes: a version byte and then a truncated entry.
        const char* damage =
            "UPDATE items SET attributes = x'01ff' "
            "WHERE service = CAST('bad' AS BLOB) AND account = x''";
        ASSERT_EQ(sqlite3_exec(db, damage, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    ns::Value result;
    EXPECT_EQ(dataOfAll(genericPassword({{kSecAttrGeneric, "g"}})), std::vector<std::string>{"2"});
    EXPECT_EQ(keychain.copyMatching(genericPassword({{kSecAttrService, "bad"},
                                                     {kSecAttrAccount, ""},
                                                     {kSecReturnAttributes, true}}),
                                    &result),
              errSecItemNotFound);
    // Limit one goes on past it to the next readable match.
    ASSERT_EQ(keychain.copyMatching(genericPassword({{kSecAttrService, "bad"},
                                                     {kSecReturnAttributes, true},
                                                     {kSecReturnData, true}}),
                                    &result),
              errSecSuccess);
    EXPECT_EQ(*result.dictionary()->at(kSecValueData).data(), bytes("3"));
    // A delete by its columns alone still clears it away.
    EXPECT_EQ(keychain.remove(genericPassword({{kSecAttrService, "bad"}})), errSecSuccess);
    EXPECT_EQ(dataOfAll(genericPassword({})), std::vector<std::string>{"2"});
}

TEST_F(KeychainFile, ConcurrentCallersAllLand) {
    constexpr int kThreads = 4;
    constexpr int kItemsEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kItemsEach; ++i) {
                std::string account = std::to_string(t) + "-" + std::to_string(i);
                ns::Dictionary item = genericPassword({{kSecAttrAccount, account}});
                item[kSecValueData] = bytes(account);
                EXPECT_EQ(keychain.add(item), errSecSuccess);
                item.erase(kSecValueData);
                item[kSecReturnData] = true;
                ns::Value result;
                EXPECT_EQ(keychain.copyMatching(item, &result), errSecSuccess);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(dataOfAll(genericPassword({})).size(), size_t{kThreads * kItemsEach});
}

// The child of AWriterKilledMidwayLeavesTheItemWhole: changes the item of the keychain at
// args[0] for ever, telling after change args[1].
[[noreturn]] void changeItemUntilKilled(int ready, const std::vector<std::string>& args) {
    const unsigned round = static_cast<unsigned>(std::stoul(args.at(1)));
    Keychain writer(args.at(0));
    for (unsigned i = 0;; ++i) {
        ns::Dictionary change{{kSecValueData, bytes(i % 2 ? "old" : "new")}};
        OSStatus status =
            i % 3 == 0 ? writer.replace(kItemQuery, change) : writer.update(kItemQuery, change);
        if (status != errSecSuccess) ::_exit(2);
        // After the first change, let the parent strike while the loop runs on.
        if (i == round) {
            char byte = 1;
            if (::write(ready, &byte, 1) != 1) ::_exit(3);
        }
    }
}
const testsupport::ChildRegistration kItemChanger("KeychainFile.changeItemUntilKilled",
                                                  &changeItemUntilKilled);

// A writer killed at an arbitrary instant leaves the item whole: the value before or after its
// last change, in a database that passes its integrity check.
TEST_F(KeychainFile, AWriterKilledMidwayLeavesTheItemWhole) {
    const auto kc = dir.path() / "killed";
    {
        Keychain keychain(kc);
        ns::Dictionary item = kItemQuery;
        item[kSecValueData] = bytes("old");
        ASSERT_EQ(keychain.add(item), errSecSuccess);
    }
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = testsupport::startChild("KeychainFile.changeItemUntilKilled", ready[1],
                                              {kc.string(), std::to_string(round)});
        ASSERT_GT(child, 0);
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;

        Keychain reader(kc);
        auto value = storedValue(reader);
        ASSERT_TRUE(value.has_value());
        EXPECT_TRUE(*value == "old" || *value == "new") << *value;
        EXPECT_EQ(integrityOf(kc / "keychain.db"), "ok");
    }
}

}  // namespace
