// A process killed while it saves check-in credentials or a key pair leaves the old ones or the
// new ones, never a mix: the credential pair is one keychain item written in one step, the two
// keys go into the keychain in one transaction, and the plists are replaced atomically.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "sdk/instance_id/NEBInstanceIDCheckinStore.h"
#include "sdk/instance_id/NEBInstanceIDKeyPairStore.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"
#include "services/peers/RegistrationPeer.h"
#include "tests/sdk/instance_id/InstanceIDFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

using iidtest::InstanceIDTest;

std::string secretFor(int64_t id) {
    return std::to_string(id * 7 + 1);
}

// The body of a child: in the parent's sandbox (args[0]), keychain and bundle (args[1]), runs
// Work(i) for i = args[2] * 1000, ..., telling the parent before each step.
template <void (*Work)(int)>
[[noreturn]] void workUntilKilled(int signalFd, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) ::_exit(2);
    sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
    ns::Bundle::setMainBundlePath(args.at(1));
    for (int i = std::stoi(args.at(2)) * 1000;; ++i) {
        char go = 'x';
        if (::write(signalFd, &go, 1) != 1) ::_exit(2);
        Work(i);
    }
}

// Runs the child registered as `child` (a workUntilKilled) once per round and kills it after a
// number of steps that differs per round. The parent must not have opened the keychain.
void killDuring(int rounds, const char* child) {
    for (int round = 0; round < rounds; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = testsupport::startChild(
            child, fds[1],
            {ns::Sandbox::root(), ns::Bundle::mainBundle()->bundlePath(), std::to_string(round)});
        ASSERT_GT(pid, 0);
        ::close(fds[1]);
        for (int started = 0; started < 1 + round % 4; ++started) {
            pollfd ready{fds[0], POLLIN, 0};
            if (::poll(&ready, 1, 20000) != 1) break;
            char go;
            if (::read(fds[0], &go, 1) != 1) break;
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status)) << "round " << round << " status " << status;
        ::close(fds[0]);
    }
}

void saveCheckin(int i) {
    NEBInstanceIDCheckinStore store(kNEBInstanceIDCheckinPlistName,
                                    kNEBInstanceIDApplicationSupportSubDirectory,
                                    sec::Keychain::shared());
    NEBInstanceIDCheckinPreferences preferences(std::to_string(i), secretFor(i));
    preferences.updateWithCheckinPlistContents(
        {{kNEBInstanceIDDigestKey, "d" + std::to_string(i)}});
    if (!store.saveCheckinPreferences(preferences).ok()) ::_exit(3);
}
const testsupport::ChildRegistration kCheckinSaver("KillTest.saveCheckin",
                                                   &workUntilKilled<&saveCheckin>);

void makeKeyPair(int) {
    NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
    (void)store.deleteSavedKeyPairWithSubtype("");
    if (!store.loadKeyPair().ok()) ::_exit(3);
}
const testsupport::ChildRegistration kKeyPairMaker("KillTest.makeKeyPair",
                                                   &workUntilKilled<&makeKeyPair>);

class KillTest : public InstanceIDTest {
protected:
    void SetUp() override {
        InstanceIDTest::SetUp();
        ASSERT_TRUE(NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory));
    }
};

TEST_F(KillTest, CheckinSaveKilledLeavesAWholeCredentialPair) {
    killDuring(12, "KillTest.saveCheckin");
    NEBInstanceIDCheckinStore store(kNEBInstanceIDCheckinPlistName,
                                    kNEBInstanceIDApplicationSupportSubDirectory,
                                    sec::Keychain::shared());
    auto loaded = store.cachedCheckinPreferences();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->secretToken(), secretFor(std::stoll(loaded->deviceID())));
    EXPECT_EQ(loaded->digest().front(), 'd');
}

TEST_F(KillTest, KeyPairSaveKilledLeavesAPairThatMatchesItsRecord) {
    killDuring(8, "KillTest.makeKeyPair");
    NEBInstanceIDKeyPairStore store(sec::Keychain::shared());
    auto pair = store.loadKeyPair();
    ASSERT_TRUE(pair.ok());
    ASSERT_TRUE((*pair)->isValid());
    // The two halves belong together and the record names this very pair.
    std::string der((*pair)->publicKeyData().chars());
    auto signature = NEBInstanceIDSignData(*(*pair)->privateKey(), ns::Data::fromString("probe"));
    ASSERT_TRUE(signature);
    EXPECT_EQ(
        peers::RegistrationPeer::signatureProblem(der, "probe", std::string(signature->chars())),
        std::nullopt);
    auto record = ns::PropertyListSerialization::readFile(
        ns::Sandbox::applicationSupportDirectory() + "/Nebula/NebulaInstanceID/" +
        kNEBInstanceIDKeyPairStoreFileName + ".plist");
    ASSERT_TRUE(record.ok());
    EXPECT_EQ((*record)["|S|app_id"].stringValue(),
              peers::RegistrationPeer::appIDForPublicKey(der));
}

}  // namespace
