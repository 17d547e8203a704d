// Two applications whose hosts keep their keychains in one folder (HYB_KEYCHAIN_DIR), run one
// after the other against loopback check-in and registration services.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "services/peers/CheckinPeer.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/RegistrationPeer.h"
#include "services/peers/TestCA.h"
#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

using namespace std::chrono_literals;

constexpr auto kCap = 60s;
constexpr const char* kFirst = "org.example.hybrid.push";
constexpr const char* kSecond = "org.example.hybrid.push.second";

// The push fixture bundle in the sandbox, under another bundle identifier when one is given.
void bundleNamed(const std::string& sandbox, const std::string& identifier) {
    const std::string bundle = HostProcess::bundleIn(sandbox, "tests/fixtures/push_bundle");
    std::ifstream in(bundle + "/Info.plist");
    std::stringstream text;
    text << in.rdbuf();
    std::string info = text.str();
    const std::string ours = std::string("<string>") + kFirst + "</string>";
    info.replace(info.find(ours), ours.size(), "<string>" + identifier + "</string>");
    std::ofstream(bundle + "/Info.plist", std::ios::trunc) << info;
}

// Each application checks its device in for itself and is known to the registration service
// only by its own credentials: the second's first launch neither registers nor deletes tokens
// as the first's device.
TEST(KeychainEndToEnd, TwoApplicationsOnOneKeychainFolderAreTwoDevices) {
    peers::TestCA ca;
    peers::HttpsServer https({&ca.localhost(), 1000, std::chrono::seconds(300)});
    peers::CheckinPeer checkin(https);
    peers::RegistrationPeer registration(https);
    checkin.answer(peers::CheckinPeer::credentials("4242", "5151"));
    checkin.answer(peers::CheckinPeer::credentials("4343", "5353"));
    registration.answer(peers::RegistrationPeer::token(""));
    testsupport::TempDir dir;
    const std::vector<std::string> environment{"NEBULA_TRUSTED_CA_FILE=" + ca.caFile(),
                                               "NEBULA_CHECKIN_SERVER_URL=" + https.baseURL(),
                                               "NEBULA_REGISTRATION_SERVER_URL=" + https.baseURL(),
                                               "HYB_KEYCHAIN_DIR=" + (dir / "Keychain").string()};
    const auto launch = [&](const std::string& name, const std::string& identifier) {
        SCOPED_TRACE(name);
        const std::string sandbox = (dir / name).string();
        std::filesystem::create_directories(sandbox);
        bundleNamed(sandbox, identifier);
        HostProcess host(sandbox, {"tests/fixtures/push_bundle", {}, environment});
        ASSERT_TRUE(host.readUntil("e2e-push token \"", kCap)) << host.output();
        const int status = host.terminate();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << host.output();
    };

    launch("first", kFirst);
    launch("second", kSecond);

    EXPECT_EQ(checkin.count(), 2u);
    size_t first = 0;
    size_t second = 0;
    for (const auto& request : registration.requests()) {
        SCOPED_TRACE(request.app + (request.isDelete() ? " deleting" : " registering"));
        if (request.app == kFirst) {
            ++first;
            EXPECT_EQ(request.authorization, "AidLogin 4242:5151");
        } else {
            ++second;
            EXPECT_EQ(request.app, kSecond);
            EXPECT_EQ(request.authorization, "AidLogin 4343:5353");
        }
    }
    EXPECT_GE(first, 1u);
    EXPECT_GE(second, 1u);
}

}  // namespace

#endif
