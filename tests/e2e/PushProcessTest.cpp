// Push delivery in the host program as a user runs it: the SDK pointed through the environment
// at loopback check-in, registration and messaging servers, the page's push callbacks in the
// real engine, notifications played from the command line, and a restart on the same sandbox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ns/JSONSerialization.h"
#include "services/peers/CheckinPeer.h"
#include "services/peers/HttpsServer.h"
#include "services/peers/RegistrationPeer.h"
#include "services/peers/TestCA.h"
#include "services/peers/messaging/MessagingServer.h"
#include "tests/e2e/HostProcess.h"
#include "tests/support/NsPrinters.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

using namespace std::chrono_literals;
using peers::HttpResponse;

constexpr auto kCap = 60s;
constexpr int8_t kPingTag = 0;
constexpr int8_t kPingAckTag = 1;
constexpr int8_t kIqTag = 7;
constexpr int8_t kDataTag = 8;
constexpr int kStreamAckExtension = 13;

// Polls a condition that another process or a peer's thread makes true, with a cap.
bool eventually(const std::function<bool()>& done, std::chrono::seconds cap = kCap) {
    const auto deadline = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The services the host's SDK talks to. Token requests are held until the test opens them,
// so that the page is ready before its token comes; topic requests are answered at once.
class PushPeers {
public:
    PushPeers()
        : https_({&ca_.localhost(), 1000, std::chrono::seconds(300)}),
          checkin_(https_),
          registration_(https_),
          server_({.identity = &ca_.localhost(),
                   .expectedUser = "4242",
                   .expectedToken = "5151",
                   .lifetime = std::chrono::seconds(300)}) {
        checkin_.answer(peers::CheckinPeer::credentials("4242", "5151"));
        auto tokens = peers::RegistrationPeer::token("");
        registration_.answer([this, tokens](const peers::RegistrationRequest& request) {
            const std::string topic = request.field("X-msg.topic");
            if (!topic.empty()) return HttpResponse::text(200, "token=" + topic);
            HttpResponse answer = tokens(request);
            if (!tokensOpen_) answer.afterRequests = HttpResponse::kForever;
            return answer;
        });
    }

    void openTokens() {
        tokensOpen_ = true;
        https_.releaseHeld();
    }

    std::vector<std::string> environment() const {
        return {"NEBULA_TRUSTED_CA_FILE=" + ca_.caFile(),
                "NEBULA_CHECKIN_SERVER_URL=" + https_.baseURL(),
                "NEBULA_REGISTRATION_SERVER_URL=" + https_.baseURL(),
                "NEBULA_MESSAGING_SERVER=127.0.0.1:" + std::to_string(server_.port())};
    }

    std::vector<std::string> registeredTopics() const {
        std::vector<std::string> topics;
        for (const auto& request : registration_.requests()) {
            if (request.field("X-msg.topic").empty()) continue;
            EXPECT_EQ(request.authorization, "AidLogin 4242:5151");
            topics.push_back(request.field("X-msg.topic"));
        }
        return topics;
    }

    peers::MessagingServer& server() { return server_; }

    // A data message from the server; "msg.duplex" makes it one that may also come through
    // the push service.
    void send(const std::string& persistentID, const std::string& text, bool duplex = false,
              const std::vector<std::pair<std::string, std::string>>& extra = {}) {
        mcs::McsDataMessageStanza stanza;
        stanza.set_from("/topics/news");
        stanza.set_category("org.example.hybrid.push");
        stanza.set_persistent_id(persistentID);
        stanza.set_immediate_ack(true);
        auto add = [&stanza](const std::string& key, const std::string& value) {
            auto* pair = stanza.add_app_data();
            pair->set_key(key);
            pair->set_value(value);
        };
        add("text", text);
        add("msg.extra", "for the library only");
        if (duplex) add("msg.duplex", "1");
        for (const auto& [key, value] : extra) add(key, value);
        server_.sendFrame(kDataTag, stanza);
    }

    size_t streamAcks() const {
        size_t count = 0;
        for (const auto& frame : server_.framesWithTag(kIqTag)) {
            mcs::McsIqStanza iq;
            if (iq.ParseFromString(frame.payload) && iq.has_extension() &&
                iq.extension().id() == kStreamAckExtension) {
                ++count;
            }
        }
        return count;
    }

    // The server says it has every frame the client sent on this connection; the client
    // answers the ping, after which what it reported as received is confirmed.
    void confirmEverything() {
        const size_t answers = server_.framesWithTag(kPingAckTag).size();
        mcs::McsHeartbeatPing ping;
        ping.set_last_stream_id_received(server_.clientFramesOnConnection());
        server_.sendFrame(kPingTag, ping);
        ASSERT_TRUE(
            eventually([&] { return server_.framesWithTag(kPingAckTag).size() > answers; }));
    }

private:
    peers::TestCA ca_;
    peers::HttpsServer https_;
    peers::CheckinPeer checkin_;
    peers::RegistrationPeer registration_;
    peers::MessagingServer server_;
    std::atomic<bool> tokensOpen_{false};
};

// The messaging store as the host left it on disk, read on the side.
class Store {
public:
    explicit Store(const std::string& sandbox)
        : path_(sandbox +
                "/Container/Library/Application Support/Nebula/NebulaMessaging/"
                "rmq2.sqlite") {}

    // Its pages past the first (which holds the tables' definitions) overwritten: the tables
    // open, and every read or write of them finds the image malformed.
    void damagePastFirstPage() const {
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0, std::ios::end);
        const auto size = static_cast<size_t>(file.tellp());
        if (size > 4096) {
            file.seekp(4096);
            file << std::string(size - 4096, '\x5a');
        }
    }
    size_t keptCount() const { return column("SELECT rmq_id FROM undeliveredS2dMessages").size(); }
    std::vector<std::string> unacknowledgedReceived() const {
        return column("SELECT rmq_id FROM s2dRmqIds_1 ORDER BY _id");
    }
    // "id apns mcs" for each record of a message that may come through both roads.
    std::vector<std::string> syncRecords() const {
        return column(
            "SELECT rmq_id || ' ' || apns_recv || ' ' || mcs_recv FROM incomingSyncMessages "
            "ORDER BY _id");
    }

private:
    std::vector<std::string> column(const char* sql) const {
        std::vector<std::string> rows;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
                while (sqlite3_step(statement) == SQLITE_ROW) {
                    rows.emplace_back(
                        reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
                }
            }
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return rows;
    }

    std::string path_;
};

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// What the page reported after `from`: each "e2e-push <kind> <JSON>" line's value.
std::vector<ns::Value> pageReports(const HostProcess& host, const std::string& kind,
                                   size_t from = 0) {
    std::vector<ns::Value> values;
    const std::string marker = "e2e-push " + kind + " ";
    for (size_t at = host.output().find(marker, from); at != std::string::npos;
         at = host.output().find(marker, at + 1)) {
        const size_t start = at + marker.size();
        const size_t end = host.output().find('\n', start);
        if (end == std::string::npos) break;  // the rest of the line has not come yet
        auto value = ns::JSONSerialization::read(host.output().substr(start, end - start),
                                                 {.fragmentsAllowed = true});
        values.push_back(value ? *value : ns::Value("(unreadable)"));
    }
    return values;
}

// The page's messages that carry `text` so far.
std::vector<ns::Value> messagesWithText(const HostProcess& host, const std::string& text,
                                        size_t from) {
    std::vector<ns::Value> found;
    for (const auto& message : pageReports(host, "message", from)) {
        if (message["text"] == ns::Value(text)) found.push_back(message);
    }
    return found;
}

// The same, once the first has come (or the cap has passed).
std::vector<ns::Value> waitForMessages(HostProcess& host, const std::string& text, size_t from) {
    const auto deadline = std::chrono::steady_clock::now() + kCap;
    auto found = messagesWithText(host, text, from);
    while (found.empty() && std::chrono::steady_clock::now() < deadline) {
        host.readUntil("\n", 1s, host.output().size());
        found = messagesWithText(host, text, from);
    }
    return found;
}

// The client of the current connection has logged in and sent its first ping after it.
bool pinged(const peers::MessagingServer& server) {
    const int connection = server.connections();
    bool loggedIn = false;
    for (const auto& frame : server.frames()) {
        if (frame.connection != connection) continue;
        if (frame.tag == 2) loggedIn = true;
        if (frame.tag == kPingTag && loggedIn) return true;
    }
    return false;
}

std::string writePayload(const testsupport::TempDir& dir, const std::string& name,
                         const std::string& json) {
    const std::string path = dir.str() + "/" + name;
    std::ofstream(path) << json;
    return path;
}

// The library's keys stay in the library, except the message's id, which the page gets to tell
// a message that comes again after a restart.
void expectNoLibraryKeysBut(const ns::Value& message, const std::string& id) {
    EXPECT_EQ(message["msg.message_id"], ns::Value(id));
    for (const auto& [key, value] : *message.dictionary()) {
        if (key != "msg.message_id") EXPECT_NE(key.rfind("msg.", 0), 0u) << key;
    }
}

TEST(PushEndToEnd, FromTheSocketToThePageAcrossARestart) {
    PushPeers peers;
    auto& server = peers.server();
    testsupport::TempDir sandbox;
    testsupport::TempDir payloads;
    Store store(sandbox.str());
    int firstRunConnections = 0;
    size_t firstRunLogins = 0;
    {
        SCOPED_TRACE("first run");
        HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle", {}, peers.environment()});
        ASSERT_TRUE(host.readUntil("e2e-push ready", kCap)) << host.output();
        const size_t ready = host.output().find("e2e-push ready");
        peers.openTokens();

        // ready, then the token reaches the page, then the socket connects, logs in and pings.
        ASSERT_TRUE(host.readUntil("e2e-push token \"", kCap)) << host.output();
        EXPECT_GT(host.output().find("e2e-push token \""), ready);
        ASSERT_TRUE(eventually([&] { return pinged(server); })) << host.output();
        const auto login = server.loginRequests().back();
        EXPECT_EQ(login.user(), "4242");
        EXPECT_EQ(login.auth_token(), "5151");
        EXPECT_EQ(login.received_persistent_id_size(), 0);

        // A data message is acknowledged at once, kept as received until the server confirms
        // the acknowledgement, and reaches the page with its id but without the library's own
        // keys; every key of its own arrives, "__proto__" too.
        size_t from = host.output().size();
        peers.send("p-1", "hello", false, {{"__proto__", "own key"}});
        auto hello = waitForMessages(host, "hello", from);
        ASSERT_EQ(hello.size(), 1u) << host.output();
        EXPECT_EQ(hello[0]["from"], ns::Value("/topics/news"));
        EXPECT_EQ(hello[0]["__proto__"], ns::Value("own key"));
        expectNoLibraryKeysBut(hello[0], "p-1");
        ASSERT_TRUE(eventually([&] { return peers.streamAcks() == 1; }));
        EXPECT_EQ(store.unacknowledgedReceived(), std::vector<std::string>{"p-1"});
        peers.confirmEverything();
        EXPECT_TRUE(store.unacknowledgedReceived().empty());

        // The socket's copy of a message that may also come through the push service comes
        // first: it is delivered and remembered.
        from = host.output().size();
        peers.send("d-2", "socket first", true);
        ASSERT_EQ(waitForMessages(host, "socket first", from).size(), 1u) << host.output();
        EXPECT_EQ(store.syncRecords(), std::vector<std::string>{"d-2 0 1"});
        ASSERT_TRUE(eventually([&] { return peers.streamAcks() == 2; }));
        peers.confirmEverything();

        // One the server never confirms is carried into the next login.
        from = host.output().size();
        peers.send("u-1", "unconfirmed");
        ASSERT_EQ(waitForMessages(host, "unconfirmed", from).size(), 1u);
        ASSERT_TRUE(eventually([&] { return peers.streamAcks() == 3; }));

        // The page's topic and the two the application subscribes after connecting.
        ASSERT_TRUE(eventually([&] { return peers.registeredTopics().size() >= 3; }));
        auto topics = peers.registeredTopics();
        std::sort(topics.begin(), topics.end());
        EXPECT_EQ(topics, (std::vector<std::string>{"/topics/all", "/topics/ios", "/topics/news"}));
        EXPECT_EQ(pageReports(host, "subscribed"), std::vector<ns::Value>{ns::Value("news")});

        firstRunConnections = server.connections();
        firstRunLogins = server.loginRequests().size();
        const int status = host.terminate();
        ASSERT_TRUE(WIFEXITED(status)) << host.output();
        EXPECT_EQ(WEXITSTATUS(status), 0) << host.output().substr(host.output().size() - 3000);
    }
    {
        SCOPED_TRACE("second run, with notifications from the command line");
        const auto silent = [&](const std::string& id) {
            return writePayload(payloads, id + ".json",
                                R"({"aps":{"content-available":1},"msg.message_id":")" + id +
                                    R"(","text":"push copy"})");
        };
        HostProcess host(
            sandbox.str(),
            {"tests/fixtures/push_bundle",
             {"--open-notification",
              writePayload(payloads, "tapped.json",
                           R"({"aps":{"alert":"Opened"},"msg.message_id":"t-1","text":"tapped"})"),
              "--remote-notification", silent("d-2"), "--remote-notification", silent("d-1"),
              "--remote-notification",
              writePayload(payloads, "visible.json",
                           R"({"aps":{"alert":{"title":"Hi","body":"there"}},"text":"arrived",)"
                           R"("__proto__":{"polluted":true}})")},
             peers.environment()});

        // The tap that launched the application waits for the page; the notification that
        // arrives in the foreground reaches it at once, without "wasTapped".
        auto tapped = waitForMessages(host, "tapped", 0);
        ASSERT_EQ(tapped.size(), 1u) << host.output();
        EXPECT_EQ(tapped[0]["wasTapped"], ns::Value(true));
        EXPECT_EQ(tapped[0]["msg.message_id"], ns::Value("t-1"));
        auto arrived = waitForMessages(host, "arrived", 0);
        ASSERT_EQ(arrived.size(), 1u) << host.output();
        EXPECT_EQ(arrived[0].find("wasTapped"), nullptr);
        EXPECT_EQ(arrived[0]["__proto__"], ns::Value::dict({{"polluted", ns::Value(true)}}));
        EXPECT_TRUE(messagesWithText(host, "push copy", 0).empty());

        ASSERT_TRUE(eventually([&] {
            return server.connections() > firstRunConnections && pinged(server);
        })) << host.output();
        const auto login = server.loginRequests().at(firstRunLogins);
        // The unconfirmed one, never a confirmed one. (Ids that the push service delivered
        // in this run before the login are reported in it too.)
        const std::vector<std::string> reported(login.received_persistent_id().begin(),
                                                login.received_persistent_id().end());
        EXPECT_NE(std::find(reported.begin(), reported.end(), "u-1"), reported.end());
        EXPECT_EQ(std::find(reported.begin(), reported.end(), "p-1"), reported.end());

        // The push service's copy of d-2 was the second: its record is gone. d-1 came through
        // the push service first; its socket copy is a duplicate and never reaches the page.
        EXPECT_EQ(store.syncRecords(), std::vector<std::string>{"d-1 1 0"});
        const size_t from = host.output().size();
        peers.send("d-1", "socket copy", true);
        peers.send("m-1", "after the copy");
        ASSERT_EQ(waitForMessages(host, "after the copy", from).size(), 1u) << host.output();
        EXPECT_TRUE(messagesWithText(host, "socket copy", from).empty());
        EXPECT_TRUE(store.syncRecords().empty());

        const int status = host.terminate();
        ASSERT_TRUE(WIFEXITED(status)) << host.output();
        EXPECT_EQ(WEXITSTATUS(status), 0) << host.output();
    }
}

// A store damaged past its first page is made anew: messages reach the page in that run and
// after a restart, and the log says when the store was given up and when it took messages
// again.
TEST(PushEndToEnd, MessagesReachThePageFromAStoreFoundDamaged) {
    PushPeers peers;
    testsupport::TempDir sandbox;
    Store store(sandbox.str());
    int connections = 0;
    const std::vector<std::pair<std::string, std::string>> runs = {
        {"s-1", "stored"}, {"s-2", "after the damage"}, {"s-3", "after a restart"}};
    for (const auto& [id, text] : runs) {
        SCOPED_TRACE(text);
        if (id == "s-2") store.damagePastFirstPage();
        HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle", {}, peers.environment()});
        ASSERT_TRUE(host.readUntil("e2e-push ready", kCap)) << host.output();
        peers.openTokens();
        ASSERT_TRUE(eventually([&] {
            return peers.server().connections() > connections && pinged(peers.server());
        })) << host.output();
        connections = peers.server().connections();
        const size_t from = host.output().size();
        peers.send(id, text);
        ASSERT_EQ(waitForMessages(host, text, from).size(), 1u) << host.output();
        const size_t givenUp = id == "s-2" ? 1 : 0;
        EXPECT_EQ(countOf(host.output(), "message store is given up for now (it is damaged"),
                  givenUp);
        EXPECT_EQ(countOf(host.output(), "message store takes received messages again"), givenUp);
        const int status = host.terminate();
        ASSERT_TRUE(WIFEXITED(status)) << host.output();
    }
}

// The page has a window of stored messages, and the disk fills before their deliveries are
// recorded: a message that comes next reaches the page all the same, and is acknowledged once
// the page has it.
TEST(PushEndToEnd, AFullDiskHandsOnPastAFullWindow) {
    constexpr int kWindow = 64;
    PushPeers peers;
    peers.openTokens();
    testsupport::TempDir sandbox;
    Store store(sandbox.str());
    const std::string full = sandbox.str() + "/disk-full";
    auto environment = peers.environment();
    environment.insert(environment.end(),
                       {"HYB_E2E_FULL_DISK=rmq2.sqlite", "HYB_E2E_FULL_DISK_WHILE=" + full,
                        "LD_PRELOAD=" HYB_EARLY_THREAD_MODULE " " HYB_FULL_DISK_MODULE});
    HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle", {}, environment});
    // Its output is read all along: a host whose output pipe is full stops.
    const auto reading = [&](const std::function<bool()>& done) {
        return eventually([&] { return host.readUntil("\n", 1s, host.output().size()), done(); });
    };
    ASSERT_TRUE(reading([&] { return pinged(peers.server()); })) << host.output();
    // The page takes its time over the first: the window is stored, and the disk full, long
    // before the page confirms any (the store is watched itself: acknowledgements may lag).
    for (int i = 0; i < kWindow; ++i) {
        peers.send("w-" + std::to_string(i), "window", false, {{"busyMs", i == 0 ? "15000" : "0"}});
    }
    ASSERT_TRUE(reading([&] { return store.keptCount() == size_t(kWindow); }));
    std::ofstream{full};
    ASSERT_TRUE(reading([&] { return messagesWithText(host, "window", 0).size() == kWindow; }));
    ASSERT_EQ(store.keptCount(), size_t(kWindow));
    const size_t from = host.output().size();
    peers.send("n-1", "past the window");
    EXPECT_TRUE(reading([&] {
        return messagesWithText(host, "past the window", from).size() == 1 &&
               peers.server().unacknowledged().empty();
    })) << host.output();
    EXPECT_EQ(countOf(host.output(), "message store is given up for now (it cannot be written"),
              1u);
}

// The ids of the messages the page reports, read as the output grows: each complete line once.
class PageMessageIds {
public:
    explicit PageMessageIds(size_t from = 0) : at_(from) {}
    // Reads what came since the last call; answers how many messages that was.
    size_t readFrom(const HostProcess& host) {
        size_t added = 0;
        for (const auto& message : pageReports(host, "message", at_)) {
            const ns::Value& id = message["msg.message_id"];
            if (id.string()) ++seen_[*id.string()];
            ++added;
        }
        // Past the last complete line: a line still being written is read next time.
        const size_t end = host.output().rfind('\n');
        if (end != std::string::npos && end + 1 > at_) at_ = end + 1;
        return added;
    }
    const std::map<std::string, int>& seen() const { return seen_; }

private:
    size_t at_;
    std::map<std::string, int> seen_;
};

// The program and the processes it started (its web content and network processes), killed
// together, as the system kills an application.
void killWithItsProcesses(pid_t pid) {
    std::multimap<pid_t, pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (name) state ppid ...": the name may hold anything, the last ')' ends it.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        if (rest >> state >> parent) children.emplace(parent, std::atoi(line.c_str()));
    }
    std::vector<pid_t> all{pid};
    for (size_t i = 0; i < all.size(); ++i) {
        auto [first, last] = children.equal_range(all[i]);
        for (auto it = first; it != last; ++it) all.push_back(it->second);
    }
    for (pid_t each : all) ::kill(each, SIGKILL);
}

// The host killed while a stream of messages reaches its page: every message it reported as
// received at its next login reaches the page, before the kill or after the restart, and one
// that comes twice (the kill fell between the page having it and that being recorded) comes
// with the same id.
TEST(PushEndToEnd, AKillWhileMessagesReachThePageLosesNone) {
    PushPeers peers;
    peers.openTokens();
    auto& server = peers.server();
    testsupport::TempDir sandbox;
    std::map<std::string, int> before;
    {
        SCOPED_TRACE("the run that is killed");
        HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle", {}, peers.environment()});
        ASSERT_TRUE(eventually([&] { return pinged(server); })) << host.output();
        PageMessageIds page(host.output().size());
        // The page takes 20 ms over each: the host has many acknowledged while the page still
        // works through them.
        for (int i = 0; i < 600; ++i)
            peers.send("c-" + std::to_string(i), "stream", false, {{"busyMs", "20"}});
        // Killed once the page has had part of them.
        const auto deadline = std::chrono::steady_clock::now() + kCap;
        for (size_t had = 0; had < 60 && std::chrono::steady_clock::now() < deadline;) {
            host.readUntil("\n", 1s, host.output().size());
            had += page.readFrom(host);
        }
        killWithItsProcesses(host.pid());
        host.readUntil("", 20s);
        host.wait();
        page.readFrom(host);
        before = page.seen();
        ASSERT_GE(before.size(), 60u);
    }
    const size_t loginsBefore = server.loginRequests().size();
    {
        SCOPED_TRACE("the run after it");
        HostProcess host(sandbox.str(), {"tests/fixtures/push_bundle", {}, peers.environment()});
        // Its output is read all along: a host whose output pipe is full stops.
        PageMessageIds page;
        const auto loginDeadline = std::chrono::steady_clock::now() + kCap;
        while (server.loginRequests().size() <= loginsBefore &&
               std::chrono::steady_clock::now() < loginDeadline) {
            host.readUntil("\n", 1s, host.output().size());
            page.readFrom(host);
        }
        ASSERT_GT(server.loginRequests().size(), loginsBefore) << host.output();
        const auto login = server.loginRequests().at(loginsBefore);
        const std::vector<std::string> reported(login.received_persistent_id().begin(),
                                                login.received_persistent_id().end());
        // More than the page had had: the kill fell while it was behind.
        EXPECT_GT(reported.size(), before.size());
        auto missing = [&] {
            std::vector<std::string> lost;
            for (const auto& id : reported)
                if (!before.count(id) && !page.seen().count(id)) lost.push_back(id);
            return lost;
        };
        const auto deadline = std::chrono::steady_clock::now() + kCap;
        while (!missing().empty() && std::chrono::steady_clock::now() < deadline) {
            host.readUntil("\n", 1s, host.output().size());
            page.readFrom(host);
        }
        EXPECT_EQ(missing(), std::vector<std::string>{});
        for (const auto& [id, times] : page.seen())
            EXPECT_LE(times + (before.count(id) ? before.at(id) : 0), 2) << id;
        const int status = host.terminate();
        EXPECT_TRUE(WIFEXITED(status)) << host.output().substr(host.output().size() - 3000);
    }
}

// The local services program as tools/dev run starts it: its environment file appears once
// every service listens; it ends on SIGTERM.
class ServicesProcess {
public:
    explicit ServicesProcess(const std::string& envFile) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            ::execl(HYB_SERVICES_EXECUTABLE, HYB_SERVICES_EXECUTABLE, "--env-file", envFile.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ServicesProcess() { stop(); }
    int stop() {
        int status = 0;
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(std::exchange(pid_, -1), &status, 0);
        }
        return status;
    }

private:
    pid_t pid_ = -1;
};

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// The example bundle with the local services: the page shows its token and the messages that
// the local messaging server sends on the topics the application subscribes, and the start
// logs no failure.
TEST(PushEndToEnd, TheExamplePageShowsMessagesFromTheLocalServices) {
    testsupport::TempDir work;
    const std::string envFile = work.str() + "/services.env";
    ServicesProcess services(envFile);
    ASSERT_TRUE(eventually([&] { return readLines(envFile).size() >= 4; }));
    const auto environment = readLines(envFile);
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str(), {"examples/bundle", {}, environment});
    ASSERT_TRUE(host.readUntil("push-token: Registration token: ", kCap)) << host.output();
    ASSERT_TRUE(
        host.readUntil("push-message: {\"from\":\"/topics/all\",\"message\":\"Welcome to all, "
                       "from the local messaging server.\"",
                       kCap))
        << host.output();
    // Every service the start calls on answers it: no line a user would take for a fault (the
    // diagnostic log upload, the push environment of the profile, the token reply).
    for (const char* fault : {"Could not resolve host", "Error posting to Logbook",
                              "Error while reading embedded mobileprovision", "Unexpected result"})
        EXPECT_EQ(host.output().find(fault), std::string::npos) << fault << "\n" << host.output();
    const int status = host.terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << host.output();
    const int servicesStatus = services.stop();
    EXPECT_TRUE(WIFEXITED(servicesStatus) && WEXITSTATUS(servicesStatus) == 0);
}

}  // namespace

#endif
