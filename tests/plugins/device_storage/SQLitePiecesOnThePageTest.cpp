// The SQLite plug-in behind the host's own command delegate, with a page that holds its pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "bridge/HYBCommandDelegateImpl.h"
#include "bridge/HYBPlugin.h"
#include "platform/ns/NotificationCenter.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"
#include "plugins/device_storage/HYBSQLiteDeviceClasses.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/plugins/device_storage/support/SQLiteTestGate.h"

namespace {

// Named for the suite of the plug-in's other piece tests, which also run under the thread
// sanitizer.
class SQLitePiecesTestOnThePage : public bridgetest::BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        HYBSQLiteDeviceClasses::registerClasses(rt::ClassRegistry::shared());
        writeConfig(defaultConfig(
            R"(<feature name="SQLitePlugin"><param name="ios-package" value="SQLitePlugin"/></feature>)"));
        start();
        postPageCall(ns::Array{"open1", "SQLitePlugin", "open",
                               ns::Array{ns::Value::dict({{"name", "p.db"}})}});
    }
    void executeSql(const std::string& callbackId, const std::string& sql) {
        ASSERT_TRUE(engine().fake().postMessage(
            "hybrid",
            ns::Array{callbackId, "SQLitePlugin", "executeSql",
                      ns::Array{ns::Value::dict({{"dbargs", ns::Value::dict({{"dbname", "p.db"}})},
                                                 {"ex", ns::Value::dict({{"sql", sql}})}})}}));
    }
    size_t piecesEvaluated() {
        const auto evaluated = scripts();
        return static_cast<size_t>(std::count_if(evaluated.begin(), evaluated.end(), [](auto& s) {
            return s.rfind("__hybKeepPiece(", 0) == 0;
        }));
    }
    bool evaluated(const std::string& part) {
        const auto evaluated = scripts();
        return std::any_of(evaluated.begin(), evaluated.end(),
                           [&](auto& s) { return s.find(part) != std::string::npos; });
    }
    // The main loop only, until the page's reload began: statements wait on the global queue.
    void reload() {
        bool reset = false;
        ns::NotificationCenter::defaultCenter().addObserver(
            this, HYBPluginResetNotification, nullptr,
            [&](const ns::Notification&) { reset = true; });
        controller().webView()->reload();
        while (!reset) loop().dispatchReady();
        ns::NotificationCenter::defaultCenter().removeObserver(this);
    }

    // Made before the database opens: its statements may wait at test_gate().
    sqlitetest::SQLiteTestGate gate_;
};

// A page that reloads during a 64 MiB answer, or stops taking its pieces in, ends the answer:
// its statement stops after the pieces already sent, answers as one interrupted, and the
// database's next query, waiting behind it, answers.
TEST_F(SQLitePiecesTestOnThePage, AnAnswerThePageWillNotTakeStopsAndFreesItsDatabase) {
    for (const bool reload : {true, false}) {
        SCOPED_TRACE(reload ? "reload" : "no piece taken in");
        // The page holds every evaluation but the one that makes its keeper of pieces.
        engine().fake().setScriptResponder(
            [](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
                if (script.rfind("if(!window.__hybKeepPiece)", 0) == 0) return ns::Value();
                return std::nullopt;
            });
        engine().fake().clearEvaluatedScripts();
        // 65536 rows of some 1 KiB.
        executeSql("big",
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT "
                   "65536) SELECT i, printf('%01000d', i) AS label FROM c");
        executeSql("next", "SELECT 7 AS seven");
        // The main loop only: the statement waits on the global queue for the page.
        while (engine().fake().pendingEvaluationCount() < 2) loop().dispatchReady();
        if (reload) {
            this->reload();
            // The new page takes in everything, the pieces still on their way too.
            engine().fake().setScriptResponder(nullptr);
            while (engine().fake().completeEvaluation(ns::Value())) loop().dispatchReady();
        } else {
            clock().advance(HYBCommandDelegateImpl::kPieceTakenTimeout);
        }
        loop().runUntilIdle();
        EXPECT_EQ(piecesEvaluated(), 2u);
        EXPECT_TRUE(
            evaluated(R"(nativeCallback('big',9,{"code":0,"message":"interrupted"},0, 0))"));
        EXPECT_TRUE(
            evaluated(R"(nativeCallback('next',1,{"rows":[{"seven":7}],"rowsAffected":0},0, 0))"));
        engine().fake().setScriptResponder(nullptr);
        while (engine().fake().completeEvaluation(ns::Value())) loop().runUntilIdle();
    }
}

// A page that reloads while its large answer is made, before any piece of it went, ends it at
// its first piece, and the large answer it asked for behind it on the same database too: the
// new page holds no piece of them, and its own query answers as soon as they stopped.
TEST_F(SQLitePiecesTestOnThePage, AnAnswerWhosePageReloadsBeforeItsFirstPieceStopsThere) {
    const std::string rows =
        "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT 65536) "
        "SELECT printf('%01000d', i) AS label, CASE i WHEN 1 THEN test_gate() END AS g FROM c";
    executeSql("big", rows);
    executeSql("behind", rows);
    while (!gate_.reached()) loop().dispatchReady();
    reload();
    executeSql("next", "SELECT 7 AS seven");
    gate_.open();
    while (!evaluated(R"(nativeCallback('next',1,{"rows":[{"seven":7}],"rowsAffected":0},0, 0))")) {
        loop().dispatchReady();
    }
    EXPECT_EQ(piecesEvaluated(), 0u);
    for (const char* id : {"big", "behind"}) {
        EXPECT_TRUE(evaluated("nativeCallback('" + std::string(id) +
                              R"(',9,{"code":0,"message":"interrupted"},0, 0))"))
            << id;
    }
}

}  // namespace
