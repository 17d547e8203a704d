#include <gtest/gtest.h>

#include "platform/ns/JSONSerialization.h"
#include "tests/e2e/E2EHost.h"
#include "tests/e2e/E2EProbe.h"
#include "tests/e2e/LoopbackHTTPServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"

namespace {

ns::Value json(std::string_view text) {
    return *ns::JSONSerialization::read(text, {.fragmentsAllowed = true});
}

struct ResultCase {
    const char* kind;
    bool ok;
    const char* expected;  // JSON of what the page's callback receives
};

// Each kind of result a plug-in can send reaches the page's success or failure callback
// intact: strings with characters that end a JavaScript literal, numbers that stay integers or
// doubles, binary data, multipart results, the error object and no result at all.
TEST(PageCalls, EveryKindOfResultReachesThePage) {
    const ResultCase cases[] = {
        {"string", true, R"("héllo \"quoted\" \u2028")"},
        {"int", true, "-42"},
        {"double", true, "2.5"},
        {"bool", true, "true"},
        {"array", true, R"([1, "two", null, false])"},
        {"dictionary", true, R"({"name": "probe", "nested": {"n": 1}})"},
        {"arrayBuffer", true, R"({"bytes": [0, 1, 2, 254, 255]})"},
        {"multipart", true, R"(["text", {"bytes": [0, 1, 2, 254, 255]}, 3])"},
        {"errorObject", false, R"({"code": 7})"},
        {"nothing", true, "null"},
    };
    auto& host = E2EHost::shared();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const auto answers = host.call("Probe", "kind", std::string("['") + c.kind + "']");
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0]["ok"], ns::Value(c.ok));
        EXPECT_EQ(answers[0]["value"], json(c.expected));
    }
}

TEST(PageCalls, ArgumentsTravelBothWays) {
    auto& host = E2EHost::shared();
    auto answers = host.call("Probe", "echo", "[new Uint8Array([9, 8, 7]).buffer]");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], json(R"({"bytes": [9, 8, 7]})"));

    answers = host.call("Probe", "echo", R"([{"b": [1, 2.5, "x"], "a": null}])");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], json(R"({"a": null, "b": [1, 2.5, "x"]})"));
}

// Answers too large to be written into a script reach the page as values handed to its callback:
// the callbacks get exactly what they got as literals, in the order the answers were sent.
TEST(PageCalls, LargeAnswersReachThePageIntact) {
    auto& host = E2EHost::shared();
    const std::string tail = "\xE2\x80\xA8 \"quoted\" back\\slash \xF0\x9F\x98\x80 \xC3\xA9";
    auto answers = host.call(
        "Probe", "echo",
        "['x'.repeat(100000) + '\\u2028 \"quoted\" back\\\\slash \\ud83d\\ude00 \\u00e9']");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], ns::Value(std::string(100000, 'x') + tail));

    answers =
        host.call("Probe", "echo",
                  "[Array.from({length: 5000}, (_, i) => ({n: i, label: 'row ' + i, x: i / 2}))]");
    ASSERT_EQ(answers.size(), 1u);
    ns::Array rows;
    for (int i = 0; i < 5000; ++i) {
        rows.push_back(ns::Value::dict({{"label", "row " + std::to_string(i)},
                                        {"n", i},
                                        {"x", i % 2 ? ns::Value(i / 2.0) : ns::Value(i / 2)}}));
    }
    EXPECT_EQ(answers[0]["value"], ns::Value(rows));

    answers = host.call("Probe", "echo",
                        "[Uint8Array.from({length: 70000}, (_, i) => i * 7 & 255).buffer]");
    ASSERT_EQ(answers.size(), 1u);
    ns::Array bytes;
    for (int i = 0; i < 70000; ++i) bytes.emplace_back((i * 7) & 255);
    EXPECT_EQ(answers[0]["value"], ns::Value::dict({{"bytes", ns::Value(bytes)}}));
}

// A call holding a long string is handed to the host as a value rather than as JSON text: each
// argument still arrives as the text would have brought it, and a call the value cannot carry
// as it is (a string cut inside a surrogate pair, one ending in a zero, an element with no JSON
// form) is read as before.
TEST(PageCalls, CallsWithLongTextReadAsTheirJSONWould) {
    auto& host = E2EHost::shared();
    const std::string longText = "'y'.repeat(70000)";
    const std::string ys(70000, 'y');
    struct Case {
        std::string arguments;
        ns::Value expected;
    };
    const std::vector<Case> cases = {
        {"[" + longText + " + '\\u0000 mid \\ud83d\\ude00 \\u2028']",
         ns::Value(ys + std::string("\0 mid \xF0\x9F\x98\x80 \xE2\x80\xA8", 14))},
        {"[" + longText + " + ' cut \\ud83d']", ns::Value(ys + " cut \xEF\xBF\xBD")},
        {"[" + longText + " + '\\u0000']", ns::Value(ys + std::string(1, '\0'))},
        {"[" + longText + ", function () {}]", ns::Value(ys)},
        {"[1.0, " + longText + "]", ns::Value(1)},
        {"[2.5, " + longText + "]", ns::Value(2.5)},
        {"[undefined, " + longText + "]", ns::Value()},
        {"[{b: [1, 'x'], a: new Date(0)}, " + longText + "]",
         json(R"({"a": "1970-01-01T00:00:00.000Z", "b": [1, "x"]})")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.substr(0, 60));
        const auto answers = host.call("Probe", "echo", c.arguments);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0]["value"], c.expected);
    }
}

TEST(PageCalls, KeptCallbacksStreamResultsInOrder) {
    const auto answers = E2EHost::shared().call("Probe", "stream", "[3]", 4);
    ASSERT_EQ(answers.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(answers[i]["value"], ns::Value(static_cast<int>(i + 1)));
        EXPECT_EQ(answers[i]["n"], ns::Value(static_cast<int>(i + 1)));
    }
    EXPECT_EQ(answers[3]["value"], ns::Value("done"));
}

TEST(PageCalls, BackgroundWorkAnswersThroughTheMainThread) {
    const auto answers = E2EHost::shared().call("Probe", "background", "['bg']");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], json(R"({"value": "bg", "ranOnMainThread": false})"));
}

// A burst of calls from one turn of the page: each is answered exactly once.
TEST(PageCalls, BurstIsAnsweredCompletely) {
    auto& host = E2EHost::shared();
    const size_t from = host.reportCount();
    constexpr int kCalls = 300;
    host.run("for (var i = 0; i < " + std::to_string(kCalls) +
             "; i++) e2e.call('burst' + i, 'Probe', 'echo', [i]);");
    ASSERT_TRUE(host.runUntil([&] { return host.reportCount() - from >= kCalls; }));
    std::vector<int> seen(kCalls, 0);
    for (size_t i = from; i < host.reportCount(); ++i) {
        const auto& body = host.reports()[i].body;
        const int n = static_cast<int>(body["value"].integerValue());
        ASSERT_EQ(body["call"], ns::Value("burst" + std::to_string(n)));
        ++seen[static_cast<size_t>(n)];
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kCalls);
}

// Answers of one burst can reach the page together: one whose delivery throws takes nothing
// else with it, and the rest arrive in the order they were sent.
TEST(PageCalls, AnswerThatThrowsLeavesTheOthersOfItsBurst) {
    auto& host = E2EHost::shared();
    const size_t from = host.reportCount();
    constexpr int kCalls = 10;
    host.run(
        "var x = hybrid.require('hybrid/exec'), deliver = x.nativeCallback, k = 0;"
        "x.nativeCallback = function () {"
        "  if (++k === 3) { x.nativeCallback = deliver; throw new Error('boom'); }"
        "  return deliver.apply(this, arguments);"
        "};"
        "for (var i = 0; i < " +
        std::to_string(kCalls) + "; i++) e2e.call('throw' + i, 'Probe', 'echo', [i]);");
    ASSERT_TRUE(host.runUntil([&] { return host.reportCount() - from >= kCalls - 1; }));
    host.run("hybrid.require('hybrid/exec').nativeCallback = deliver;");
    std::vector<int> order;
    for (size_t i = from; i < host.reportCount(); ++i) {
        order.push_back(static_cast<int>(host.reports()[i].body["value"].integerValue()));
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 3, 4, 5, 6, 7, 8, 9}));
}

}  // namespace

namespace {

// Calls that cannot run are answered with the failure the page can act on, so that nothing
// waits for ever: a missing service or action, arguments nested deeper than the reader takes,
// and text cut inside a surrogate pair, which arrives with U+FFFD in place of the lone half.
TEST(PageCalls, CallsThatCannotRunAreAnswered) {
    testsupport::LogCapture expectedLog;
    expectedLog.expect("ERROR: Plugin 'NoSuchService' not found, or is not a HYBPlugin.");
    expectedLog.expect("ERROR: Method 'noSuchAction:' not defined in Plugin 'Probe'");
    expectedLog.expect("ERROR: Page call could not be read: ");
    auto& host = E2EHost::shared();
    auto answers = host.call("NoSuchService", "echo", "[]");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["ok"], ns::Value(false));
    answers = host.call("Probe", "noSuchAction", "[]");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["ok"], ns::Value(false));

    answers = host.call("Probe", "echo",
                        "(function () { var v = []; for (var i = 0; i < 600; i++) v = [v];"
                        " return [v]; })()");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["ok"], ns::Value(false));

    answers = host.call("Probe", "echo", "['cut \\ud83d', '\\ude00 cut']");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["value"], ns::Value("cut \xEF\xBF\xBD"));
}

// A page of another origin inside the application's page (an allowed advertisement) reaches
// no plug-in, neither through the bridge's handler nor around it; the page itself still does.
TEST(PageCalls, FramesOfOtherOriginsCannotCallPlugins) {
    auto& host = E2EHost::shared();
    LoopbackHTTPServer server;
    server.setPage("/frame",
                   "<script>var h = window.webkit.messageHandlers.hybrid;"
                   "h.postMessage(['frame1', 'Probe', 'echo', ['x']]);"
                   "Object.getPrototypeOf(h).postMessage.call(h, ['frame2', 'Probe', 'echo', []]);"
                   "window.webkit.messageHandlers.e2e.postMessage({frame: 'posted'});</script>");
    testsupport::LogCapture log;
    E2EProbe::echoed().clear();
    const size_t from = host.reportCount();
    host.run("var f = document.createElement('iframe'); f.src = '" + server.url("/frame") +
             "'; document.body.appendChild(f);");
    ASSERT_TRUE(host.waitForReport(
        from, [](const E2EHost::Report& r) { return r.body["frame"] == ns::Value("posted"); }));
    // Messages are taken in order: once the page's own call is answered, the frame's were seen.
    ASSERT_EQ(host.call("Probe", "echo", "['main']").size(), 1u);
    EXPECT_EQ(E2EProbe::echoed().size(), 1u);
    EXPECT_TRUE(log.contains("Refused a page call from a frame that is not the main frame (" +
                             server.url("/frame") + ")."));
    EXPECT_TRUE(
        log.contains("Refused a page call from a frame that is not the main frame "
                     "(about:blank)."));
    host.run("document.body.removeChild(f);");
}

}  // namespace
