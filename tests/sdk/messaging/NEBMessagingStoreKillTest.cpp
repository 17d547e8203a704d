#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "platform/ns/Sandbox.h"
#include "sdk/messaging/NEBMessagingRmqManager.h"
#include "tests/sdk/messaging/MessagingTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

class NEBMessagingStoreKillTest : public messagingtest::MessagingTest {};

// The child saves messages and received ids and acknowledges old messages in a loop, telling
// the parent after each call returns; the parent kills it at an arbitrary point. It works in
// the sandbox args[0].
[[noreturn]] void saveAndAckForever(int out, const std::vector<std::string>& args) {
    if (!ns::Sandbox::configure(args.at(0)).ok()) _exit(1);
    NEBMessagingRmqManager manager("rmq2");
    manager.loadRmqId();
    for (int round = 0;; ++round) {
        mcs::McsDataMessageStanza stanza;
        stanza.set_from("");
        stanza.set_category("app");
        stanza.set_ttl(60);
        std::string line;
        if (manager.saveRmqMessage(stanza)) line += "S " + stanza.persistent_id() + "\n";
        std::string inbound = "in-" + std::to_string(getpid()) + "-" + std::to_string(round);
        if (manager.saveS2dMessageWithRmqId(inbound)) line += "I " + inbound + "\n";
        if (round % 3 == 2) {
            std::string acked = std::to_string(manager.rmqId() - 1);
            manager.removeRmqMessagesWithRmqIds({acked});
            line += "A " + acked + "\n";
        }
        if (write(out, line.data(), line.size()) < 0) _exit(1);
    }
}

const testsupport::ChildRegistration kSaver("NEBMessagingStoreKillTest.saveAndAckForever",
                                            &saveAndAckForever);

TEST_F(NEBMessagingStoreKillTest, KilledAnywhereLosesNothingReportedAndReusesNoId) {
    std::set<int64_t> saved, acked, everSaved;
    std::set<std::string> inbound;
    for (int run = 0; run < 6; ++run) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = testsupport::startChild("NEBMessagingStoreKillTest.saveAndAckForever", fds[1],
                                              {ns::Sandbox::root()});
        ASSERT_GT(child, 0);
        close(fds[1]);
        FILE* in = fdopen(fds[0], "r");
        char buffer[256];
        int lines = 0;
        int64_t lastSaved = -1;
        // Let each run get a little further before the kill, then read what it reported
        // before it died.
        bool killed = false;
        while (fgets(buffer, sizeof buffer, in)) {
            if (++lines >= 20 + run * 7 && !killed) {
                kill(child, SIGKILL);
                killed = true;
            }
            std::istringstream line(buffer);
            std::string kind, value;
            line >> kind >> value;
            if (kind == "S") {
                int64_t id = std::stoll(value);
                EXPECT_FALSE(everSaved.count(id)) << "id " << id << " handed out twice";
                saved.insert(id);
                everSaved.insert(id);
                lastSaved = id;
            } else if (kind == "A") {
                acked.insert(std::stoll(value));
            } else if (kind == "I") {
                inbound.insert(value);
            }
        }
        if (!killed) kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        fclose(in);

        std::string path = NEBMessagingRmq2PersistentStore::pathForDatabase(
            "rmq2", NEBMessagingRmq2PersistentStore::kApplicationSupport);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        std::string check;
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0];
                return 0;
            },
            &check, nullptr);
        sqlite3_close(db);
        EXPECT_EQ(check, "ok");

        NEBMessagingRmqManager manager("rmq2");
        manager.loadRmqId();
        std::set<int64_t> present;
        manager.scanWithRmqMessageHandler(
            [&](int64_t id, int8_t, const std::string&) { present.insert(id); }, nullptr);
        // The round in flight may have acknowledged the last reported message without
        // saying so; every other reported message must be there.
        if (!present.count(lastSaved)) acked.insert(lastSaved);
        for (int64_t id : saved) {
            if (!acked.count(id)) EXPECT_TRUE(present.count(id)) << "lost message " << id;
        }
        auto ids = manager.unackedS2dRmqIds();
        std::set<std::string> stored(ids.begin(), ids.end());
        for (const auto& id : inbound) EXPECT_TRUE(stored.count(id)) << "lost inbound " << id;
        if (!everSaved.empty()) EXPECT_GT(manager.rmqId(), *everSaved.rbegin());
    }
    EXPECT_GT(saved.size(), 30u);
}

}  // namespace
