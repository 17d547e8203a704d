#include "platform/ns/UserDefaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/PropertyListSerialization.h"
#include "tests/platform/ns/SandboxFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using ns::UserDefaults;
using ns::Value;

class UserDefaultsTest : public testsupport::SandboxTest {
protected:
    void TearDown() override {
        UserDefaults::flushAll();
        testsupport::SandboxTest::TearDown();
    }

    // What a later launch sees: the sandbox opened again, every domain read from disk.
    void relaunch() { ASSERT_TRUE(ns::Sandbox::configure(ns::Sandbox::root()).ok()); }

    std::shared_ptr<UserDefaults> suite(const std::string& name) {
        auto d = UserDefaults::initWithSuiteName(name);
        EXPECT_TRUE(d);
        return d;
    }
};

TEST_F(UserDefaultsTest, TypedReadsConvertThePlatformWay) {
    auto d = suite("conversions");
    struct Case {
        const char* what;
        Value stored;
        std::optional<std::string> string;
        bool boolean;
        int64_t integer;
        double number;
    };
    const Case cases[] = {
        {"YES", "YES", "YES", true, 0, 0.0},
        {"padded digits", " 12abc", " 12abc", true, 12, 12.0},
        {"negative decimal", "-3.5", "-3.5", true, -3, -3.5},
        {"t", "t", "t", true, 0, 0.0},
        {"zero text", "0", "0", false, 0, 0.0},
        {"integer", 42, "42", true, 42, 42.0},
        {"double", 2.5, "2.5", true, 2, 2.5},
        {"true", true, "1", true, 1, 1.0},
        {"false", false, "0", false, 0, 0.0},
        {"data", ns::Data::fromString("12"), std::nullopt, false, 0, 0.0},
        {"array", Value::array({1}), std::nullopt, false, 0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        d->setObject("k", c.stored);
        EXPECT_EQ(d->stringForKey("k"), c.string);
        EXPECT_EQ(d->boolForKey("k"), c.boolean);
        EXPECT_EQ(d->integerForKey("k"), c.integer);
        EXPECT_DOUBLE_EQ(d->doubleForKey("k"), c.number);
        EXPECT_FLOAT_EQ(d->floatForKey("k"), static_cast<float>(c.number));
    }
    d->setObject("k", Value::array({1, "a"}));
    EXPECT_EQ(d->arrayForKey("k"), (ns::Array{1, "a"}));
    EXPECT_FALSE(d->dictionaryForKey("k"));
    EXPECT_FALSE(d->dataForKey("k"));
    d->setObject("k", nullptr);
    EXPECT_TRUE(d->objectForKey("k").isNull());
    EXPECT_EQ(d->stringForKey("k"), std::nullopt);
    EXPECT_FALSE(d->boolForKey("k"));
    EXPECT_THROW(d->setObject("k", Value::array({Value()})), ns::Exception);
}

TEST_F(UserDefaultsTest, ArgumentsThenPersistentThenRegistrationDomain) {
    auto& info = ns::ProcessInfo::processInfo();
    auto savedArgs = info.arguments();
    auto d = suite("precedence");
    d->registerDefaults({{"Level", 1}, {"OnlyRegistered", "r"}});
    EXPECT_EQ(d->integerForKey("Level"), 1);
    d->setInteger("Level", 2);
    EXPECT_EQ(d->integerForKey("Level"), 2);
    info.setArguments({"host", "stray", "-Level", "3", "-NEBAnalyticsDebugEnabled", "YES", "-End"});
    EXPECT_EQ(d->objectForKey("Level"), Value("3"));
    EXPECT_TRUE(d->boolForKey("NEBAnalyticsDebugEnabled"));
    EXPECT_TRUE(d->objectForKey("End").isNull());
    auto all = d->dictionaryRepresentation();
    EXPECT_EQ(all["Level"], Value("3"));
    EXPECT_EQ(all["OnlyRegistered"], Value("r"));
    // A new command line of the same shape is read afresh, not served from the last one.
    info.setArguments({"host", "stray", "-Level", "4", "-NEBAnalyticsDebugEnabled", "NO", "-End"});
    EXPECT_EQ(d->objectForKey("Level"), Value("4"));
    EXPECT_FALSE(d->boolForKey("NEBAnalyticsDebugEnabled"));
    EXPECT_EQ(d->dictionaryRepresentation()["Level"], Value("4"));
    info.setArguments(savedArgs);
    d->removeObjectForKey("Level");
    EXPECT_EQ(d->integerForKey("Level"), 1);
    // The registration domain is shared by every object.
    EXPECT_EQ(UserDefaults::standardUserDefaults()->stringForKey("OnlyRegistered"), "r");
}

TEST_F(UserDefaultsTest, SuitesAreSeparateDomainsAndCanBeRemovedWhole) {
    auto a = suite("com.example.a");
    auto b = suite("com.example.b");
    a->setObject("k", "a");
    b->setObject("k", "b");
    EXPECT_EQ(suite("com.example.a")->stringForKey("k"), "a");
    EXPECT_EQ(b->stringForKey("k"), "b");
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->objectForKey("k").isNull());
    ASSERT_TRUE(a->synchronize());
    std::string file = UserDefaults::preferencesFilePath("com.example.a");
    EXPECT_TRUE(fs::exists(file));

    b->removePersistentDomainForName("com.example.a");
    EXPECT_TRUE(a->objectForKey("k").isNull());
    ASSERT_TRUE(a->synchronize());
    EXPECT_FALSE(fs::exists(file));

    for (const char* bad : {"../escape", "a/b", ".", ".."}) {
        EXPECT_FALSE(UserDefaults::initWithSuiteName(bad)) << bad;
    }
    EXPECT_EQ(UserDefaults::initWithSuiteName("")->domainName(),
              UserDefaults::standardUserDefaults()->domainName());
}

TEST_F(UserDefaultsTest, ValuesSurviveARelaunchAsAPrivateBinaryPropertyList) {
    auto d = suite("persist");
    ns::Dictionary values{{"b", true},
                          {"i", 7},
                          {"f", 1.25},
                          {"s", "text"},
                          {"data", ns::Data::fromString("\x01\x02")},
                          {"date", ns::Date::fromTimeIntervalSince1970(1e9)},
                          {"list", Value::array({1, "two"})},
                          {"map", Value::dict({{"x", 1}})}};
    for (const auto& [k, v] : values) d->setObject(k, v);
    ASSERT_TRUE(d->synchronize());

    std::string file = UserDefaults::preferencesFilePath("persist");
    EXPECT_EQ(file, ns::Sandbox::preferencesDirectory() + "/persist.plist");
    auto bytes = ns::FileManager::defaultManager().contentsAtPath(file);
    ASSERT_TRUE(bytes.ok());
    EXPECT_TRUE(bytes->chars().starts_with("bplist00"));
    EXPECT_EQ(ns::FileManager::defaultManager().attributesOfItem(file)->posixPermissions, 0600u);

    relaunch();
    auto again = suite("persist");
    for (const auto& [k, v] : values) EXPECT_EQ(again->objectForKey(k), v) << k;
    auto file_values = ns::PropertyListSerialization::readFile(file);
    ASSERT_TRUE(file_values.ok());
    EXPECT_EQ(*file_values, Value(values));
}

TEST_F(UserDefaultsTest, AMalformedFileReadsAsEmptyWithALogLine) {
    ASSERT_TRUE(ns::FileManager::defaultManager()
                    .createFile(UserDefaults::preferencesFilePath("broken"),
                                ns::Data::fromString("bplist00 torn"))
                    .ok());
    testsupport::LogCapture log;
    log.expect("Ignoring the malformed preferences");
    auto d = suite("broken");
    EXPECT_TRUE(d->dictionaryRepresentation().count("anything") == 0);
    EXPECT_TRUE(log.contains("broken.plist"));
    d->setObject("fresh", 1);
    ASSERT_TRUE(d->synchronize());
    relaunch();
    EXPECT_EQ(suite("broken")->integerForKey("fresh"), 1);
}

TEST_F(UserDefaultsTest, ChangesAreWrittenOnceShortlyAfterABurst) {
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Clock::setCurrent(clock);
    auto& loop = dispatch::RunLoop::main();
    loop.reset();
    auto d = suite("burst");
    std::string file = UserDefaults::preferencesFilePath("burst");
    for (int i = 0; i < 10; ++i) d->setInteger("n", i);
    loop.runUntilIdle();
    EXPECT_FALSE(fs::exists(file));
    loop.advanceBy(dispatch::seconds(1));
    ASSERT_TRUE(fs::exists(file));
    loop.reset();
    dispatch::Clock::setCurrent(nullptr);
    relaunch();
    EXPECT_EQ(suite("burst")->integerForKey("n"), 9);
}

TEST_F(UserDefaultsTest, RewritingKeepsTheBackupExclusionOfThePreferencesFile) {
    auto d = suite("excluded");
    d->setObject("k", 1);
    ASSERT_TRUE(d->synchronize());
    std::string file = UserDefaults::preferencesFilePath("excluded");
    auto& fm = ns::FileManager::defaultManager();
    ASSERT_TRUE(fm.setExcludedFromBackup(file, true).ok());
    d->setObject("k", 2);
    ASSERT_TRUE(d->synchronize());
    EXPECT_TRUE(fm.isExcludedFromBackup(file));
}

TEST_F(UserDefaultsTest, ReinstallForgetsEverythingAndChangesAreAnnounced) {
    int announced = 0;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        ns::kUserDefaultsDidChangeNotification, nullptr,
        [&](const ns::Notification&) { ++announced; });
    auto standard = UserDefaults::standardUserDefaults();
    standard->setObject("HYBUUID", "abc");
    standard->removeObjectForKey("HYBUUID");
    standard->setObject("HYBUUID", "abc");
    ns::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(announced, 3);
    ASSERT_TRUE(standard->synchronize());

    ASSERT_TRUE(ns::Sandbox::simulateReinstall().ok());
    EXPECT_TRUE(standard->objectForKey("HYBUUID").isNull());
    EXPECT_FALSE(fs::exists(UserDefaults::preferencesFilePath(standard->domainName())));
}

std::string payloadFor(int64_t n) {
    return std::string(4096 + static_cast<size_t>(n % 97), static_cast<char>('a' + n % 26));
}

// The child of KillDuringWritesLeavesAWholeFile: in the sandbox args[0], writes the "killed"
// suite for ever, telling after the first write and after write 3 + 2 * args[1].
[[noreturn]] void writeDefaultsUntilKilled(int ready, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(2);
    const int round = std::stoi(args.at(1));
    auto d = UserDefaults::initWithSuiteName("killed");
    if (!d) ::_exit(2);
    for (int64_t n = 1;; ++n) {
        d->setObject("counter", n);
        d->setObject("payload", payloadFor(n));
        d->synchronize();
        if (n == 1 || n == 3 + round * 2) (void)!::write(ready, "x", 1);
    }
}
const testsupport::ChildRegistration kDefaultsWriter("UserDefaultsTest.writeDefaultsUntilKilled",
                                                     &writeDefaultsUntilKilled);

// A kill at any instant of a write must leave the old or the new file, never a torn one.
TEST_F(UserDefaultsTest, KillDuringWritesLeavesAWholeFile) {
    auto d = suite("killed");
    std::string file = UserDefaults::preferencesFilePath("killed");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        UserDefaults::flushAll();
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = testsupport::startChild("UserDefaultsTest.writeDefaultsUntilKilled", ready[1],
                                              {ns::Sandbox::root(), std::to_string(round)});
        ASSERT_GT(child, 0);
        ::close(ready[1]);
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);  // the first write is done
        ASSERT_EQ(::read(ready[0], &c, 1), 1);  // and later ones are under way
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        auto plist = ns::PropertyListSerialization::readFile(file);
        ASSERT_TRUE(plist.ok()) << plist.error().description();
        auto counter = (*plist)["counter"].int64();
        ASSERT_TRUE(counter);
        EXPECT_GE(*counter, 3 + round * 2);
        EXPECT_EQ((*plist)["payload"], Value(payloadFor(*counter)));
    }
}

}  // namespace
