#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/utsname.h>
#include <unicode/ucal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/ns/Data.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Locale.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/URL.h"
#include "platform/ns/UTF16.h"
#include "platform/ns/UserDefaults.h"
#include "platform/testing/InjectedReachabilitySource.h"
#include "platform/ui/Application.h"
#include "platform/ui/StatusBar.h"
#include "plugins/device_storage/HYBDevice.h"
#include "tests/e2e/E2EHost.h"
#include "tests/support/NsPrinters.h"

namespace {

namespace fs = std::filesystem;

ns::Value json(std::string_view text) {
    return *ns::JSONSerialization::read(text, {.fragmentsAllowed = true});
}

std::string jsonText(const ns::Value& value) {
    return *ns::JSONSerialization::write(value, {.fragmentsAllowed = true});
}

// What one of the page's flows (www/storage.js) reported: each step's answer by name.
struct Flow {
    struct Answer {
        bool ok = false;
        ns::Value value;
    };
    bool done = false;
    ns::Value error;
    std::map<std::string, Answer> steps;

    // A step the flow did not report fails the test where it is looked at.
    const Answer& operator[](const std::string& step) const {
        static const Answer missing{false, ns::Value("no answer")};
        auto found = steps.find(step);
        EXPECT_NE(found, steps.end()) << "no answer for step " << step;
        return found == steps.end() ? missing : found->second;
    }
};

int flows = 0;

// Runs `e2e.storage.<name>(id, arguments...)` in the page and waits for its end.
Flow runFlow(const std::string& name, const std::string& arguments = "") {
    auto& host = E2EHost::shared();
    const std::string id = name + std::to_string(++flows);
    const size_t from = host.reportCount();
    host.run("e2e.storage." + name + "(" + jsonText(ns::Value(id)) +
             (arguments.empty() ? "" : ", " + arguments) + ");");
    const auto end = host.waitForReport(from, [&](const E2EHost::Report& report) {
        return report.body["flow"] == ns::Value(id) && report.body.find("done");
    });
    Flow flow;
    flow.done = end.has_value();
    if (end) flow.error = end->body["error"];
    for (size_t i = from; i < host.reportCount(); ++i) {
        const ns::Value& body = host.reports()[i].body;
        if (body["flow"] != ns::Value(id) || !body["step"].isString()) continue;
        flow.steps[*body["step"].string()] = {body["ok"] == ns::Value(true), body["value"]};
    }
    return flow;
}

// The answers a kept callback of the page call `id` has had, once there are `count` of them
// (or the wait gave up).
std::vector<ns::Value> answersOf(const std::string& id, size_t count) {
    auto& host = E2EHost::shared();
    std::vector<ns::Value> answers;
    host.runUntil([&] {
        answers.clear();
        for (const auto& report : host.reports()) {
            if (report.body["call"] == ns::Value(id)) answers.push_back(report.body["value"]);
        }
        return answers.size() >= count;
    });
    return answers;
}

// The n-th answer (from 1) of the page call `id`, waiting for it.
ns::Value answer(const std::string& id, size_t n) {
    const auto answers = answersOf(id, n);
    return answers.size() >= n ? answers[n - 1] : ns::Value("no answer");
}

void pageCall(const std::string& id, const std::string& service, const std::string& action) {
    E2EHost::shared().run("e2e.call(" + jsonText(ns::Value(id)) + ", " +
                          jsonText(ns::Value(service)) + ", " + jsonText(ns::Value(action)) +
                          ", []);");
}

// A round trip through the page: whatever the host sent the page before has arrived.
void roundTrip() {
    ASSERT_EQ(E2EHost::shared().call("Probe", "echo", "[0]").size(), 1u);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file service's codes for errors of entries and their contents.
constexpr int kNotFound = 1;

struct FileSystemCase {
    int type;
    const char* name;
    std::string (*root)();
};

class Files : public ::testing::TestWithParam<FileSystemCase> {};

// The page makes, writes, reads, copies, moves and removes files through the file service,
// with text that JSON and JavaScript treat specially and with bytes of every kind; the files
// live where the file system's root is, and paths that climb out of it are refused.
TEST_P(Files, PageWorksWithFilesInsideTheFileSystemOnly) {
    const FileSystemCase& c = GetParam();
    std::string rootPath = c.root();
    if (rootPath.ends_with('/')) rootPath.pop_back();
    const fs::path root = rootPath;
    // The folder that holds the file system's root.
    const fs::path container = root.parent_path();
    std::ofstream(container / "outside.txt") << "not for the page";
    // Characters that end or escape JSON and JavaScript literals, and a zero byte.
    const std::string text = std::string("Grüße ✓ 😀\n\"quoted\" \\ \u2028 ") + '\0' + " end";
    // Not a multiple of three: the Base64 of the bytes ends in padding.
    constexpr int kLargeSize = 100000;

    const Flow flow = runFlow("files", std::to_string(c.type) + ", " + jsonText(ns::Value(text)) +
                                           ", " + std::to_string(kLargeSize));
    ASSERT_TRUE(flow.done);
    EXPECT_TRUE(flow.error.isNull()) << flow.error.description();

    EXPECT_EQ(flow["fs"].value["name"], ns::Value(c.name));
    EXPECT_EQ(flow["fs"].value["root"]["fullPath"], ns::Value("/"));
    EXPECT_EQ(flow["dir"].value["fullPath"], ns::Value("/e2e/"));
    const ns::Value& note = flow["note"].value;
    EXPECT_EQ(note["isFile"], ns::Value(true));
    EXPECT_EQ(note["fullPath"], ns::Value("/e2e/note.txt"));
    EXPECT_EQ(
        note["nativeURL"],
        ns::Value(ns::URL::fileURLWithPath((root / "e2e/note.txt").string()).absoluteString()));

    EXPECT_EQ(flow["writeText"].value, ns::Value(static_cast<int64_t>(text.size())));
    EXPECT_EQ(flow["readText"].value, ns::Value(text));
    EXPECT_EQ(flow["metadata"].value["size"], ns::Value(static_cast<int64_t>(text.size())));
    EXPECT_EQ(flow["metadata"].value["name"], ns::Value("note.txt"));
    EXPECT_EQ(flow["writeBytes"].value, ns::Value(7));
    EXPECT_EQ(flow["readSlice"].value, json(R"({"bytes": [1, 2, 127, 128]})"));

    EXPECT_EQ(flow["copy"].value["fullPath"], ns::Value("/e2e/copy.txt"));
    EXPECT_EQ(flow["move"].value["fullPath"], ns::Value("/e2e/moved.bin"));
    std::set<std::string> listed;
    for (const ns::Value& entry :
         flow["list"].value.array() ? *flow["list"].value.array() : ns::Array()) {
        listed.insert(entry["name"].string() ? *entry["name"].string() : "?");
    }
    EXPECT_EQ(listed, (std::set<std::string>{"copy.txt", "moved.bin", "note.txt"}));
    EXPECT_EQ(flow["readCopy"].value, ns::Value(text));
    EXPECT_EQ(flow["readMoved"].value, json(R"({"bytes": [0, 1, 2, 127, 128, 254, 255]})"));
    // One character per byte.
    EXPECT_EQ(flow["readBinary"].value, ns::Value(std::string("\0\1\2\x7f\u0080\u00fe\u00ff", 10)));
    EXPECT_EQ(
        flow["readDataURL"].value,
        ns::Value("data:text/plain;base64," + ns::Data::fromString(text).base64EncodedString()));
    EXPECT_EQ(flow["writeLarge"].value, ns::Value(kLargeSize));
    ns::Array large;
    for (int i = 0; i < kLargeSize; ++i) large.emplace_back((i * 7) & 255);
    EXPECT_TRUE(flow["readLarge"].value == ns::Value::dict({{"bytes", large}}));
    EXPECT_FALSE(flow["readMovedAway"].ok);
    EXPECT_EQ(flow["readMovedAway"].value, ns::Value(kNotFound));

    for (const char* step :
         {"readOutside", "readOutsideEscaped", "writeOutside", "resolveOutside", "copyOutside"}) {
        EXPECT_FALSE(flow[step].ok) << step;
        EXPECT_EQ(flow[step].value, ns::Value(kNotFound)) << step;
    }
    EXPECT_EQ(readFile(container / "outside.txt"), "not for the page");
    EXPECT_FALSE(fs::exists(container / "written.txt"));
    EXPECT_FALSE(fs::exists(container / "c.txt"));

    EXPECT_TRUE(flow["remove"].ok);
    EXPECT_TRUE(flow["removeAll"].ok);
    EXPECT_EQ(flow["dirGone"].value, ns::Value(kNotFound));
    EXPECT_FALSE(fs::exists(root / "e2e"));
    fs::remove(container / "outside.txt");
}

INSTANTIATE_TEST_SUITE_P(
    DeviceStorage, Files,
    ::testing::Values(FileSystemCase{0, "temporary", &ns::Sandbox::temporaryDirectory},
                      FileSystemCase{1, "persistent", &ns::Sandbox::documentsDirectory}),
    [](const auto& info) { return std::string(info.param.name); });

// Rows as a plain reader of the database file sees them.
std::vector<std::string> namesOnDisk(const fs::path& file) {
    std::vector<std::string> names;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM fruit ORDER BY id", -1, &select, nullptr);
        while (select && sqlite3_step(select) == SQLITE_ROW) {
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
        }
        sqlite3_finalize(select);
    }
    sqlite3_close(db);
    return names;
}

// The page fills a table in one transaction and reads the rows back with every kind of value;
// a failing statement in a second transaction leaves the table as it was once rolled back.
TEST(DeviceStorage, PageRunsSQLBatchesAndGetsTheRows) {
    const fs::path file = fs::path(ns::Sandbox::documentsDirectory()) / "e2e.db";
    const Flow flow = runFlow("sql", R"("e2e.db", false)");
    ASSERT_TRUE(flow.done);
    EXPECT_TRUE(flow.error.isNull()) << flow.error.description();
    EXPECT_EQ(flow["open"].value, ns::Value("Database opened"));

    const ns::Value& fill = flow["fill"].value;
    ASSERT_TRUE(flow["fill"].ok) << fill.description();
    ASSERT_EQ(fill.count(), 8u) << fill.description();
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(fill.at(i)["type"], ns::Value("success")) << i;
    EXPECT_EQ(fill.at(3)["result"], json(R"({"rows": [], "rowsAffected": 1, "insertId": 2})"));
    EXPECT_EQ(fill.at(6)["result"]["rows"],
              json(R"([{"name": "äpfel", "weight": 0.25, "stock": 12, "note": null},
                       {"name": "pear", "weight": 1.5, "stock": -3,
                        "note": "it's \"quoted\" \u2028"},
                       {"name": "plum 😀", "weight": 2, "stock": 0, "note": ""}])"));
    // Text with a zero byte, a blob of text, and integers as far as a page's numbers reach.
    EXPECT_EQ(fill.at(7)["result"]["rows"],
              json(R"([{"nul": "a\u0000b", "blob": "hello", "big": 9007199254740991,
                        "param": -9007199254740991}])"));

    const ns::Value& rollback = flow["rollback"].value;
    ASSERT_EQ(rollback.count(), 5u) << rollback.description();
    EXPECT_EQ(rollback.at(1)["type"], ns::Value("success"));
    EXPECT_EQ(rollback.at(2)["type"], ns::Value("error"));
    EXPECT_EQ(rollback.at(2)["error"],
              json(R"({"code": 6, "message": "UNIQUE constraint failed: fruit.name"})"));
    EXPECT_EQ(rollback.at(3)["type"], ns::Value("success"));
    EXPECT_EQ(rollback.at(4)["result"]["rows"], json(R"([{"n": 3}])"));
    EXPECT_EQ(flow["close"].value, ns::Value("DB closed"));
    EXPECT_TRUE(flow["delete"].ok) << flow["delete"].value.description();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(file.string() + "-journal"));

    // Committed rows are on disk once the page has closed the database.
    const Flow kept = runFlow("sql", R"("kept.db", true)");
    ASSERT_TRUE(kept.done);
    const fs::path keptFile = fs::path(ns::Sandbox::documentsDirectory()) / "kept.db";
    EXPECT_EQ(namesOnDisk(keptFile), (std::vector<std::string>{"äpfel", "pear", "plum 😀"}));
    fs::remove(keptFile);
}

// The page gets the device facts, the same on every call, with the installation's identifier.
TEST(DeviceStorage, PageReadsTheDeviceFacts) {
    const Flow flow = runFlow("device");
    ASSERT_TRUE(flow.done);
    const ns::Value& facts = flow["first"].value;
    ASSERT_TRUE(flow["first"].ok) << facts.description();
    EXPECT_EQ(facts, ns::Value(HYBDevice().deviceProperties()));
    EXPECT_EQ(flow["second"].value, facts);
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(facts["model"], ns::Value(names.machine));
    EXPECT_EQ(facts["isVirtual"], ns::Value(false));
    EXPECT_EQ(facts["hybrid"], ns::Value(HYBDevice::hybridVersion()));
    const auto stored = ns::UserDefaults::standardUserDefaults()->stringForKey(
        HYBDevice::kInstallationIdentifierKey);
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->empty());
    EXPECT_EQ(facts["uuid"], ns::Value(*stored));
}

// The user's locale and time zone for one test; the previous ones come back afterwards.
class UserLocale : public ::testing::Test {
protected:
    void SetUp() override {
        std::u16string zone(128, u'\0');
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length =
            ucal_getDefaultTimeZone(zone.data(), static_cast<int32_t>(zone.size()), &status);
        if (U_SUCCESS(status)) savedZone_ = zone.substr(0, static_cast<size_t>(length));
        status = U_ZERO_ERROR;
        ucal_setDefaultTimeZone(ns::toUTF16("America/New_York").c_str(), &status);
        ASSERT_TRUE(U_SUCCESS(status));
        auto defaults = ns::UserDefaults::standardUserDefaults();
        defaults->setObject(ns::kAppleLocaleKey, ns::Value("en_US"));
        defaults->setObject(ns::kAppleLanguagesKey, ns::Value(ns::Array{ns::Value("en-US")}));
    }
    void TearDown() override {
        auto defaults = ns::UserDefaults::standardUserDefaults();
        defaults->removeObjectForKey(ns::kAppleLocaleKey);
        defaults->removeObjectForKey(ns::kAppleLanguagesKey);
        UErrorCode status = U_ZERO_ERROR;
        if (!savedZone_.empty()) ucal_setDefaultTimeZone(savedZone_.c_str(), &status);
    }

private:
    std::u16string savedZone_;
};

// The page formats a date and an amount of money in the user's locale and reads both back.
TEST_F(UserLocale, PageFormatsAndParsesDatesAndAmounts) {
    // 2021-03-15 14:30 UTC: 10:30 in New York.
    const Flow flow = runFlow("locale", "1615818600000, -1234.5");
    ASSERT_TRUE(flow.done);
    EXPECT_EQ(flow["localeName"].value, json(R"({"value": "en-US"})"));
    EXPECT_EQ(flow["date"].value, json(R"({"value": "3/15/21, 10:30\u202FAM"})"));
    EXPECT_EQ(flow["dateBack"].value, json(R"({"year": 2021, "month": 2, "day": 15, "hour": 10,
                                              "minute": 30, "second": 0, "millisecond": 0})"));
    EXPECT_EQ(flow["amount"].value, json(R"({"value": "-$1,234.50"})"));
    EXPECT_EQ(flow["amountBack"].value, json(R"({"value": -1234.5})"));
    EXPECT_FALSE(flow["notANumber"].ok);
    EXPECT_EQ(flow["notANumber"].value, json(R"({"code": 2, "message": "Unable to parse"})"));
    EXPECT_EQ(flow["pattern"].value, json(R"({"pattern": "¤#,##0.00", "code": "USD",
                                             "fraction": 2, "rounding": 0, "decimal": ".",
                                             "grouping": ","})"));
}

// The page hears the connection type once asked, then every change the network reports;
// changes while the application is in the background arrive when it is back.
TEST(DeviceStorage, PageHearsTheConnectionTypeAndItsChanges) {
    auto& host = E2EHost::shared();
    auto& application = ui::Application::shared();
    auto network = host.networkReachability();
    ASSERT_TRUE(network);
    ASSERT_TRUE(network->isScheduled());
    const std::string id = "connection" + std::to_string(++flows);
    pageCall(id, "NetworkStatus", "getConnectionInfo");
    EXPECT_EQ(answersOf(id, 1), (std::vector<ns::Value>{ns::Value("wifi")}));

    network->setFlags(0);
    EXPECT_EQ(answer(id, 2), ns::Value("none"));
    network->setFlags(net::kReachabilityFlagsReachable | net::kReachabilityFlagsIsDirect);
    EXPECT_EQ(answer(id, 3), ns::Value("wifi"));
    // The same type again is no news.
    network->announce();
    roundTrip();

    application.enterBackground();
    EXPECT_FALSE(network->isScheduled());
    network->setFlags(0);
    roundTrip();
    EXPECT_EQ(answersOf(id, 0).size(), 3u);
    application.becomeActive();
    EXPECT_EQ(answer(id, 4), ns::Value("none"));
    EXPECT_EQ(answersOf(id, 0).size(), 4u);

    network->setFlags(net::kReachabilityFlagsReachable);
    EXPECT_EQ(answer(id, 5), ns::Value("wifi"));
}

// The page hides and shows the status bar; the bar follows and the page hears each change.
TEST(DeviceStorage, PageHidesAndShowsTheStatusBar) {
    auto& bar = ui::StatusBar::shared();
    ASSERT_FALSE(bar.isHidden());
    const std::string id = "statusbar" + std::to_string(++flows);
    pageCall(id, "StatusBar", "_ready");
    EXPECT_EQ(answersOf(id, 1), (std::vector<ns::Value>{ns::Value(true)}));

    pageCall(id + "-hide", "StatusBar", "hide");
    EXPECT_EQ(answer(id, 2), ns::Value(false));
    EXPECT_TRUE(bar.isHidden());
    // Hiding a hidden bar changes nothing and tells nothing.
    pageCall(id + "-hide", "StatusBar", "hide");
    roundTrip();
    EXPECT_EQ(answersOf(id, 0).size(), 2u);

    pageCall(id + "-show", "StatusBar", "show");
    EXPECT_EQ(answer(id, 3), ns::Value(true));
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(answersOf(id + "-hide", 0).size(), 0u);  // hide and show answer nothing

    // The user taps the bar: the page hears it, and nothing scrolls.
    EXPECT_FALSE(bar.tap());
    EXPECT_EQ(answer(id, 4), json(R"({"type": "tap"})"));
}

}  // namespace
