#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "platform/ns/Bundle.h"
#include "platform/sec/Keychain.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSKeychainTokenCache.h"
#include "tests/platform/sec/KeychainTestSupport.h"
#include "tests/signin/SigninTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

// One application in a process of its own, since the library finds its team once per process.
// args: the keychain folder, the bundle, the access token to store ("": none), and "earlier" for
// the version before teams, whose applications all kept their tokens in one group. Reports the
// default cache's group and the access tokens it holds, a line each.
[[noreturn]] void runSigninApplication(int out, const std::vector<std::string>& args) {
    sec::Keychain::setDirectory(args.at(0));
    ns::Bundle::setMainBundlePath(args.at(1));
    if (args.size() > 3) {
        sec::Keychain::shared().setDefaultAccessGroup(
            "LOCALTEAM." + *ns::Bundle::mainBundle()->bundleIdentifier());
    }
    auto cache = DSKeychainTokenCache::defaultKeychainCache();
    if (!cache) _exit(2);
    if (args.size() > 3) cache->storeTombstoneCleanTime(ns::Date::now());
    if (!args.at(2).empty()) {
        auto item = signintest::tokenItem("u@x", "res", "client-1", args.at(2));
        if (!cache->addOrUpdateItem(item.get(), {}, nullptr)) _exit(3);
    }
    auto items = cache->allItems(nullptr);
    if (!items) _exit(4);
    std::string report = cache->sharedGroup() + "\n";
    for (const auto& item : *items) report += item->accessToken().value_or("-") + "\n";
    if (write(out, report.data(), report.size()) != static_cast<ssize_t>(report.size())) _exit(5);
    _exit(0);
}
const testsupport::ChildRegistration kApplication("DSKeychainUtilTest.runSigninApplication",
                                                  &runSigninApplication);

// args: the keychain folder, the bundle. Reports the access token that a silent acquisition
// gets, or the error's code.
[[noreturn]] void runSilentAcquisition(int out, const std::vector<std::string>& args) {
    sec::Keychain::setDirectory(args.at(0));
    ns::Bundle::setMainBundlePath(args.at(1));
    auto context = DSAuthenticationContext::authenticationContextWithAuthority(
        signintest::kAuthority, false, nullptr);
    std::promise<std::string> answer;
    context->acquireTokenSilentWithResource("res", "client-1", "x-app://done", "u@x", [&](auto r) {
        answer.set_value(r->accessToken().value_or("error " + std::to_string(r->error()->code())));
    });
    auto future = answer.get_future();
    if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) _exit(4);
    const std::string report = future.get();
    if (write(out, report.data(), report.size()) != static_cast<ssize_t>(report.size())) _exit(5);
    _exit(0);
}
const testsupport::ChildRegistration kSilent("DSKeychainUtilTest.runSilentAcquisition",
                                             &runSilentAcquisition);

class DSKeychainTeam : public testing::Test {
protected:
    testsupport::TempDir dir;

    std::string bundle(const std::string& identifier, const ns::Data& profile = {}) {
        return sectest::writeBundle(dir.path(), identifier, profile);
    }

    std::string run(const std::string& bundlePath, const std::string& token = "",
                    const char* body = "DSKeychainUtilTest.runSigninApplication") {
        return report(body, {dir.str(), bundlePath, token});
    }
    std::string silent(const std::string& bundlePath) {
        return run(bundlePath, "", "DSKeychainUtilTest.runSilentAcquisition");
    }
    std::string report(const char* body, const std::vector<std::string>& args) {
        int pipefd[2];
        if (pipe(pipefd) != 0) return "no pipe";
        const pid_t child = testsupport::startChild(body, pipefd[1], args);
        close(pipefd[1]);
        std::string report;
        char buffer[512];
        for (ssize_t n; (n = read(pipefd[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
        close(pipefd[0]);
        int status = 0;
        if (child <= 0 || waitpid(child, &status, 0) != child) return "not started";
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return "ended with " + std::to_string(status);
        }
        return report;
    }
};

// Applications of one team, whatever their bundle identifiers, share the sign-in cache; an
// application of another team, or of none, has a cache of its own on the same keychain folder.
TEST_F(DSKeychainTeam, OnlyApplicationsOfOneTeamShareTheSignInCache) {
    const std::string one = bundle("com.example.one", sectest::teamProfile("T1"));
    const std::string two = bundle("com.example.two", sectest::teamProfile("T1"));
    const std::string unsignedApp = bundle("com.example.three");
    const std::string stranger = bundle("com.example.four", sectest::teamProfile("T2"));

    EXPECT_EQ(run(one, "one"), "T1.com.directory.salcache\nat-one\n");
    EXPECT_EQ(run(two), "T1.com.directory.salcache\nat-one\n");
    EXPECT_EQ(run(stranger), "T2.com.directory.salcache\n");
    EXPECT_EQ(run(unsignedApp, "three"), "LOCALC1447628EA.com.directory.salcache\nat-three\n");
    EXPECT_EQ(run(two, "two"), "T1.com.directory.salcache\nat-two\n");
    EXPECT_EQ(run(unsignedApp), "LOCALC1447628EA.com.directory.salcache\nat-three\n");
}

// Tokens that the version before teams kept for every application alike, and those that an
// application kept while it had no team, are found by a silent acquisition once its profile
// names one; an application of another team finds the former common ones as well.
TEST_F(DSKeychainTeam, EarlierTokensAreFoundSilentlyInTheTeamsCache) {
    ASSERT_EQ(report("DSKeychainUtilTest.runSigninApplication",
                     {dir.str(), bundle("com.example.one"), "old", "earlier"}),
              "LOCALTEAM.com.directory.salcache\nat-old\n");
    EXPECT_EQ(silent(bundle("com.example.one", sectest::teamProfile("T1"))), "at-old");
    EXPECT_EQ(silent(bundle("com.example.four", sectest::teamProfile("T2"))), "at-old");
    const std::string three = bundle("com.example.three");
    EXPECT_EQ(run(three, "three"), "LOCALC1447628EA.com.directory.salcache\nat-three\n");
    EXPECT_EQ(silent(bundle("com.example.three", sectest::teamProfile("T3"))), "at-three");
}

}  // namespace
