#include <gtest/gtest.h>

#include <string>

#include "platform/ns/URL.h"
#include "platform/wk/URLRequest.h"
#include "platform/wk/WebView.h"
#include "tests/e2e/E2EHost.h"
#include "tests/plugins/device_storage/support/SQLiteTestGate.h"
#include "tests/support/NsPrinters.h"

namespace {

// What the cases share in the page: statements on a database, a table of about 10 MB (every
// kind of column, text beyond ASCII and text that needs escaping), and a count of the pieces
// that reach the page, each reported.
constexpr const char* kPageHelpers = R"JS(
(function () {
    var exec = hybrid.require('hybrid/exec');
    function report(what) {
        return function (value) { e2e.report({ big: what, ok: true, value: value }); };
    }
    function failed(what) {
        return function (error) { e2e.report({ big: what, ok: false, value: error }); };
    }
    window.big = {
        report: report,
        failed: failed,
        sql: function (db, text, params, done, fail) {
            exec(done, fail, 'SQLitePlugin', 'executeSql',
                 [{ dbargs: { dbname: db }, ex: { sql: text, params: params || [] } }]);
        },
        // A database stays open across loads: a second open answers an error, and either goes.
        fill: function (db) {
            var go = function () {
                exec(report('filled'), failed('filled'), 'SQLitePlugin',
                     'backgroundExecuteSqlBatch', [{ dbargs: { dbname: db }, executes: [
                    { sql: 'DROP TABLE IF EXISTS big' },
                    { sql: 'CREATE TABLE big (n INTEGER, label TEXT, x REAL, b BLOB, z)' },
                    { sql: 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c ' +
                           'LIMIT 20000) INSERT INTO big SELECT i, ' +
                           "'\u00e9 \"q\" \\ \u2028 ' || char(9, 128512) || ' ' || " +
                           "replace(hex(zeroblob(240)), '0', 'x'), i * 0.5, " +
                           "CASE WHEN i % 3 = 0 THEN x'68656c6c6f' END, " +
                           'CASE i % 4 WHEN 0 THEN NULL WHEN 1 THEN -i WHEN 2 THEN i / 3.0 ' +
                           "ELSE 'z' END FROM c" }] }]);
            };
            exec(go, go, 'SQLitePlugin', 'open', [{ name: db }]);
        },
        // The host keeps the pieces of an answer in the page under a name of its own; a
        // keeper put there first reports each piece kept.
        countPieces: function () {
            if (window.__hybAnswerPieces) return;
            var keeper = new Map();
            keeper.set = function (callbackId, kept) {
                if (kept) e2e.report({ big: 'piece', index: kept.length - 1 });
                return Map.prototype.set.call(this, callbackId, kept);
            };
            Object.defineProperty(window, '__hybAnswerPieces', { value: keeper });
        },
        // Every row, the statement held by the test's gate at row `at` (15000: after its
        // first piece went ahead); the pieces counted.
        held: function (db, done, fail, at) {
            this.countPieces();
            this.sql(db, 'SELECT *, CASE WHEN n = ? THEN test_gate() ELSE 0 END AS g ' +
                     'FROM big', [at || 15000], done, fail);
        }
    };
})();
)JS";

class LargeAnswers : public ::testing::Test {
protected:
    E2EHost& host = E2EHost::shared();

    void SetUp() override {
        ASSERT_TRUE(host.loadStartPage());
        host.run(kPageHelpers);
    }

    // The first report of the page's `what` after `from`.
    std::optional<E2EHost::Report> reportOf(size_t from, const std::string& what) {
        return host.waitForReport(from, [&](const E2EHost::Report& report) {
            return report.body["big"] == ns::Value(what);
        });
    }
    size_t countOf(size_t from, const std::string& what) const {
        size_t count = 0;
        for (size_t i = from; i < host.reportCount(); ++i) {
            if (host.reports()[i].body["big"] == ns::Value(what)) ++count;
        }
        return count;
    }
    void fill(const std::string& db) {
        const size_t from = host.reportCount();
        host.run("big.fill('" + db + "')");
        const auto filled = reportOf(from, "filled");
        ASSERT_TRUE(filled);
        ASSERT_TRUE(filled->body["ok"].boolValue()) << filled->body.description();
    }
};

// A SELECT of about 10 MB comes in pieces; the callback gets exactly the object that the same
// rows give when read in answers small enough to come whole: the same members in the same
// order, every value of every kind alike.
TEST_F(LargeAnswers, PiecesJoinIntoTheObjectOfTheWholeRoad) {
    fill("pieces.db");
    const size_t from = host.reportCount();
    host.run(R"JS(
        big.countPieces();
        big.sql('pieces.db', 'SELECT * FROM big ORDER BY n', [], function (whole) {
            var rows = [];
            (function next(offset) {
                big.sql('pieces.db', 'SELECT * FROM big ORDER BY n LIMIT 1500 OFFSET ?', [offset],
                        function (part) {
                    if (part.rows.length) { rows = rows.concat(part.rows); next(offset + 1500); return; }
                    var a = JSON.stringify(whole);
                    var b = JSON.stringify({ rows: rows, rowsAffected: part.rowsAffected });
                    big.report('identity')({ same: a === b, bytes: a.length,
                                             count: whole.rows.length, first: whole.rows[0],
                                             keys: Object.keys(whole) });
                }, big.failed('identity'));
            })(0);
        }, big.failed('identity'));
    )JS");
    const auto identity = reportOf(from, "identity");
    ASSERT_TRUE(identity);
    const ns::Value& value = identity->body["value"];
    ASSERT_TRUE(identity->body["ok"].boolValue()) << value.description();
    EXPECT_EQ(value["same"], ns::Value(true));
    EXPECT_EQ(value["count"], ns::Value(20000));
    EXPECT_GT(value["bytes"].integerValue(), 8 << 20);
    EXPECT_EQ(value["keys"], ns::Value(ns::Array{"rows", "rowsAffected"}));
    EXPECT_EQ(
        value["first"],
        ns::Value::dict({{"n", 1},
                         {"label", "\u00e9 \"q\" \\ \u2028 \t\U0001F600 " + std::string(480, 'x')},
                         {"x", 0.5},
                         {"b", nullptr},
                         {"z", -1}}));
    // The whole answer came in pieces, and nothing of them stays in the page once joined.
    EXPECT_GE(countOf(from, "piece"), 2u);
    EXPECT_EQ(host.evaluate("window.__hybAnswerPieces.size").valueOr(ns::Value()), ns::Value(0));
}

// A batch whose second statement answers about 10 MB: its rows come in pieces, and the
// callback gets the batch's entries exactly as when each statement's rows come whole.
TEST_F(LargeAnswers, ABatchsLongStatementJoinsIntoItsEntry) {
    fill("batch.db");
    const size_t from = host.reportCount();
    host.run(R"JS(
        big.countPieces();
        var exec = hybrid.require('hybrid/exec');
        exec(function (entries) {
            big.sql('batch.db', 'SELECT * FROM big ORDER BY n', [], function (whole) {
                big.report('batch')({
                    count: entries.length,
                    first: entries[0],
                    same: JSON.stringify(entries[1]) ===
                          JSON.stringify({ result: whole, type: 'success' }),
                    last: entries[2] });
            }, big.failed('batch'));
        }, big.failed('batch'), 'SQLitePlugin', 'backgroundExecuteSqlBatch', [{
            dbargs: { dbname: 'batch.db' }, executes: [
                { sql: 'SELECT 1 AS one' }, { sql: 'SELECT * FROM big ORDER BY n' },
                { sql: 'SELECT 2 AS two' }] }]);
    )JS");
    const auto batch = reportOf(from, "batch");
    ASSERT_TRUE(batch);
    ASSERT_TRUE(batch->body["ok"].boolValue()) << batch->body["value"].description();
    const auto one = [](const char* key, int value) {
        return ns::Value::dict(
            {{"result", ns::Value::dict({{"rows", ns::Array{ns::Value::dict({{key, value}})}},
                                         {"rowsAffected", 0}})},
             {"type", "success"}});
    };
    EXPECT_EQ(
        batch->body["value"],
        ns::Value::dict(
            {{"count", 3}, {"first", one("one", 1)}, {"same", true}, {"last", one("two", 2)}}));
    // The batch's rows and the statement's alike came in pieces.
    EXPECT_GE(countOf(from, "piece"), 4u);
}

// A column named "__proto__" is a key of every row in the page, small answer or large (its
// first rows in pieces), NULL or not, and sets no row's prototype.
TEST_F(LargeAnswers, AColumnNamedProtoIsAKeyOfItsRow) {
    const size_t from = host.reportCount();
    host.run(R"JS(
        var exec = hybrid.require('hybrid/exec');
        var check = function (what) {
            return function (answer) {
                var bad = 0;
                answer.rows.forEach(function (row, k) {
                    var want = (k + 1) % 2 ? null : k + 1;
                    if (Object.getPrototypeOf(row) !== Object.prototype ||
                        typeof row.hasOwnProperty !== 'function' ||
                        !row.hasOwnProperty('__proto__') || row['__proto__'] !== want) ++bad;
                });
                big.report(what)({ rows: answer.rows.length, bad: bad });
            };
        };
        var rows = function (count) {
            return 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT ' +
                   count + ') SELECT CASE WHEN i % 2 THEN NULL ELSE i END AS "__proto__" FROM c';
        };
        var go = function () {
            big.countPieces();
            big.sql('proto.db', rows(3), [], check('small'), big.failed('small'));
            // Some 100 KiB.
            big.sql('proto.db', rows(6000), [], check('large'), big.failed('large'));
        };
        exec(go, go, 'SQLitePlugin', 'open', [{ name: 'proto.db' }]);
    )JS");
    for (const auto& [what, count] : {std::pair{"small", 3}, std::pair{"large", 6000}}) {
        const auto report = reportOf(from, what);
        ASSERT_TRUE(report) << what;
        ASSERT_TRUE(report->body["ok"].boolValue()) << report->body["value"].description();
        EXPECT_EQ(report->body["value"], ns::Value::dict({{"rows", count}, {"bad", 0}})) << what;
    }
    EXPECT_GE(countOf(from, "piece"), 1u);
}

// A statement that fails after pieces went ahead answers the error callback as ever, and the
// page's next answers are untouched by what was kept.
TEST_F(LargeAnswers, AFailureAfterPiecesReachesTheErrorCallback) {
    fill("failing.db");
    const size_t from = host.reportCount();
    host.run(R"JS(
        big.countPieces();
        big.sql('failing.db', 'SELECT *, CASE WHEN n < 19000 THEN 0 ' +
                'ELSE abs(n * 0 - 9223372036854775807 - 1) END AS f FROM big', [],
                big.report('failing'), big.failed('failing'));
        big.sql('failing.db', 'SELECT count(*) AS n FROM big', [], big.report('after'),
                big.failed('after'));
    )JS");
    const auto failing = reportOf(from, "failing");
    const auto after = reportOf(from, "after");
    ASSERT_TRUE(failing && after);
    EXPECT_GE(countOf(from, "piece"), 1u);
    EXPECT_EQ(failing->body["ok"], ns::Value(false));
    EXPECT_EQ(failing->body["value"],
              ns::Value::dict({{"code", 5}, {"message", "integer overflow"}}));
    EXPECT_EQ(after->body["value"],
              ns::Value::dict(
                  {{"rows", ns::Array{ns::Value::dict({{"n", 20000}})}}, {"rowsAffected", 0}}));
    EXPECT_EQ(countOf(from, "failing"), 1u);
    // Nothing of the pieces stays in the page.
    EXPECT_EQ(host.evaluate("window.__hybAnswerPieces.size").valueOr(ns::Value()), ns::Value(0));
}

// While a statement is held after its first piece reached the page, another call's answer
// reaches the page's code at once; the held answer's callback runs only when the statement
// is done, after it, with every row.
TEST_F(LargeAnswers, AnotherCallsAnswerBetweenPiecesKeepsItsOrder) {
    sqlitetest::SQLiteTestGate gate;
    fill("held.db");
    const size_t from = host.reportCount();
    host.run(R"JS(
        big.held('held.db', function (answer) {
            big.report('held')({ count: answer.rows.length, last: answer.rows[19999].n });
        }, big.failed('held'));
    )JS");
    ASSERT_TRUE(reportOf(from, "piece"));
    ASSERT_TRUE(host.runUntil([&] { return gate.reached(); }));
    host.run(
        "big.sql('held.db', 'SELECT 7 AS seven', [], big.report('other'), "
        "big.failed('other'))");
    // The other database call waits behind the held one; a call to another plug-in does not.
    host.run(
        "hybrid.require('hybrid/exec')(big.report('echo'), big.failed('echo'), 'Probe', "
        "'echo', ['between'])");
    ASSERT_TRUE(reportOf(from, "echo"));
    EXPECT_EQ(countOf(from, "held"), 0u);
    gate.open();
    const auto held = reportOf(from, "held");
    const auto other = reportOf(from, "other");
    ASSERT_TRUE(held && other);
    EXPECT_EQ(held->body["value"], ns::Value::dict({{"count", 20000}, {"last", 20000}}));
    std::vector<std::string> order;
    for (size_t i = from; i < host.reportCount(); ++i) {
        const ns::Value& what = host.reports()[i].body["big"];
        if (what != ns::Value("piece")) order.push_back(what.stringValue());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"echo", "held", "other"}));
}

// A page that goes away while its large answer is made takes it with it, whether pieces of it
// are kept (the statement held after its first piece) or none went yet (held at its first row):
// the statement stops, the new page's call on the database answers before any piece, the new
// page never hears of the old call, and its own large answers arrive whole and alone.
TEST_F(LargeAnswers, NavigationDropsKeptPieces) {
    for (const int heldAt : {15000, 1}) {
        SCOPED_TRACE(heldAt);
        sqlitetest::SQLiteTestGate gate;
        fill("left.db");
        const size_t from = host.reportCount();
        host.run("big.held('left.db', big.report('left'), big.failed('left'), " +
                 std::to_string(heldAt) + ")");
        if (heldAt > 1) ASSERT_TRUE(reportOf(from, "piece"));
        ASSERT_TRUE(host.runUntil([&] { return gate.reached(); }));
        ASSERT_TRUE(host.loadStartPage());
        host.run(kPageHelpers);
        host.run("big.countPieces()");
        const size_t loaded = host.reportCount();
        gate.open();
        // Statements on one database run in order: these answers come after the old one's.
        host.run(R"JS(
            big.sql('left.db', 'SELECT 7 AS seven', [], big.report('other'), big.failed('other'));
            big.sql('left.db', 'SELECT * FROM big ORDER BY n', [], function (answer) {
                big.report('fresh')({ count: answer.rows.length, last: answer.rows[19999].n });
            }, big.failed('fresh'));
        )JS");
        ASSERT_TRUE(reportOf(loaded, "other"));
        EXPECT_EQ(countOf(loaded, "piece"), 0u);
        const auto fresh = reportOf(loaded, "fresh");
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh->body["value"], ns::Value::dict({{"count", 20000}, {"last", 20000}}));
        EXPECT_EQ(countOf(from, "left"), 0u);
    }
}

// A file of 10 MiB, written by the page, read back by each kind of read: each comes in runs
// (counted) and the page's callback gets exactly what the file holds.
TEST_F(LargeAnswers, LongFileReadsJoinIntoWhatTheFileHolds) {
    const size_t from = host.reportCount();
    host.run(R"JS(
        var exec = hybrid.require('hybrid/exec');
        var file = 'hybfile://localhost/persistent/pieces.txt';
        // Ten bytes a time: the runs' ends fall inside characters.
        var text = 'a\u00e9\u20ac\ud83d\ude00'.repeat(1048576);
        var bytes = new TextEncoder().encode(text);
        var binary = '';
        for (var i = 0; i < bytes.length; i += 65536) {
            binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 65536));
        }
        var read = function (what, action, args, check) {
            exec(function (answer) { big.report(what)(check(answer)); }, big.failed(what), 'File',
                 action, [file].concat(args));
        };
        exec(function () {
            big.countPieces();
            read('text', 'readAsText', ['UTF-8', 0, -1], function (t) { return t === text; });
            read('binary', 'readAsBinaryString', [0, -1], function (b) { return b === binary; });
            read('dataURL', 'readAsDataURL', [0, -1], function (d) {
                return d.slice(d.indexOf(',') + 1) === btoa(binary);
            });
            read('buffer', 'readAsArrayBuffer', [0, -1], function (buffer) {
                var got = new Uint8Array(buffer);
                if (got.length !== bytes.length) return false;
                for (var i = 0; i < got.length; i++) if (got[i] !== bytes[i]) return false;
                return true;
            });
        }, big.failed('written'), 'File', 'write', [file, text, 0]);
    )JS");
    for (const char* what : {"text", "binary", "dataURL", "buffer"}) {
        const auto answer = reportOf(from, what);
        ASSERT_TRUE(answer) << what;
        EXPECT_EQ(answer->body["ok"], ns::Value(true)) << what;
        EXPECT_EQ(answer->body["value"], ns::Value(true)) << what;
    }
    // Four reads of 10 MiB in runs of 3 MiB: three runs ahead of each answer, none of them
    // kept once joined.
    EXPECT_EQ(countOf(from, "piece"), 12u);
    EXPECT_EQ(host.evaluate("window.__hybAnswerPieces.size").valueOr(ns::Value()), ns::Value(0));
}

// Calls whose answers are of 4 MiB and more, in one row, in many and as a string, each
// reported as whether it arrived whole. Only the bridge's calls and its callback are used.
constexpr const char* kAnswerSizes = R"JS(
(function () {
    var exec = hybrid.require('hybrid/exec');
    function report(what, ok, value) {
        window.webkit.messageHandlers.e2e.postMessage({ big: what, ok: ok, value: value });
    }
    function call(what, service, action, args, read) {
        exec(function (answer) { report(what, true, read(answer)); },
             function (error) { report(what, false, error); }, service, action, args);
    }
    function sql(what, text, params, read) {
        call(what, 'SQLitePlugin', 'executeSql',
             [{ dbargs: { dbname: 'sizes.db' }, ex: { sql: text, params: params } }], read);
    }
    var eight = 'y'.repeat(8388608) + '\u00e9 "q" \\ \u2028 \ud83d\ude00';
    function zeros(answer) {
        var v = answer.rows[0].v;
        return /^0*$/.test(v) ? v.length : 'not zeros';
    }
    function go() {
        sql('under', 'SELECT hex(zeroblob(2048000)) AS v', [], zeros);
        sql('four', 'SELECT hex(zeroblob(2097152)) AS v', [], zeros);
        sql('eight', 'SELECT ? AS v', [eight], function (answer) {
            return answer.rows.length === 1 && answer.rows[0].v === eight;
        });
        sql('rows', 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c ' +
            "LIMIT 100000) SELECT i, printf('%0120d', i) AS t FROM c", [], function (answer) {
            var last = answer.rows[answer.rows.length - 1];
            return [answer.rows.length, last.i, last.t.length];
        });
        call('echo', 'SQLitePlugin', 'echoStringValue', [{ value: eight }], function (answer) {
            return answer === eight;
        });
    }
    exec(go, go, 'SQLitePlugin', 'open', [{ name: 'sizes.db' }]);
})();
)JS";

// Answers of 4 MiB and beyond reach the page whole, after a smaller one; on a page whose bridge
// script has only the callback function as well as on the example's.
TEST_F(LargeAnswers, AnswersOfFourAndEightMiBReachEveryPage) {
    for (const char* page : {"", "app://localhost/callback-only.html"}) {
        SCOPED_TRACE(*page ? page : "the start page");
        if (*page) {
            const size_t loading = host.reportCount();
            host.webView()->loadRequest(wk::URLRequest(*ns::URL::parse(page)));
            ASSERT_TRUE(host.waitForReport(loading, [](const E2EHost::Report& report) {
                return report.body["event"] == ns::Value("callback-only");
            }));
        }
        const size_t from = host.reportCount();
        host.run(kAnswerSizes);
        const std::pair<const char*, ns::Value> expected[] = {
            {"under", ns::Value(4096000)}, {"four", ns::Value(4194304)},
            {"eight", ns::Value(true)},    {"rows", ns::Value::array({100000, 100000, 120})},
            {"echo", ns::Value(true)},
        };
        for (const auto& [what, value] : expected) {
            const auto answer = reportOf(from, what);
            ASSERT_TRUE(answer) << what;
            EXPECT_EQ(answer->body["ok"], ns::Value(true)) << what;
            EXPECT_EQ(answer->body["value"], value) << what;
            EXPECT_EQ(countOf(from, what), 1u) << what;
        }
    }
    // The suite's other cases start on the start page.
    EXPECT_TRUE(host.loadStartPage());
}

}  // namespace
