#include "bridge/HYBCommandDelegateImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <semaphore>
#include <thread>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/testing/FakeEngine.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/support/LogCapture.h"

namespace bridgetest {
namespace {

class HYBCommandDelegateImplTest : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        start();
        engine().fake().clearEvaluatedScripts();
    }
    HYBCommandDelegateImpl& delegate() {
        return static_cast<HYBCommandDelegateImpl&>(*controller().commandDelegate());
    }
    // The page shown, which asks for the answers sent in pieces.
    uint64_t page() { return delegate().currentPage(); }
    // Work already due on the main loop: every result sent after it waits for it.
    void holdTheTurn() {
        dispatch::Queue::main().async([] {});
    }
    // The page holds every evaluation until the test completes it, but runs the script that
    // makes its keeper of answer pieces at once.
    void holdEvaluationsButTheKeeper() {
        engine().fake().setScriptResponder(
            [](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
                if (script.rfind("if(!window.__hybKeepPiece)", 0) == 0) return ns::Value();
                return std::nullopt;
            });
    }
};

TEST_F(HYBCommandDelegateImplTest, ResultBecomesTheCallbackScript) {
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "abc"), "Foo1");
    loop().runUntilIdle();
    EXPECT_EQ(scripts(),
              std::vector<std::string>{
                  "hybrid.require('hybrid/exec').nativeCallback('Foo1',1,\"abc\",0, 0)"});
}

TEST_F(HYBCommandDelegateImplTest, KeepCallbackAndMessageKinds) {
    auto keep = HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 3);
    keep->setKeepCallbackAsBool(true);
    delegate().sendPluginResult(keep, "a.b_c-1");
    delegate().sendPluginResult(nullptr, "n");
    delegate().sendPluginResult(HYBPluginResult::resultWithStatusMessageAsArrayBuffer(
                                    HYBResultStatusOK, ns::Data::fromString("hi")),
                                "");
    loop().runUntilIdle();
    // Sent in one turn: the first at once, the rest together at the turn's end, in order.
    EXPECT_EQ(scripts(), (std::vector<std::string>{
                             callback("a.b_c-1", 9, R"({"code":3})", true),
                             HYBCommandDelegateImpl::callbackBatchScript({
                                 callback("n", 0, "null"),
                                 callback("", 1, R"({"HYBType":"ArrayBuffer","data":"aGk="})"),
                             })}));
}

// Deferred evaluations keep their order: callbacks in a row share an evaluation, a script of
// the page's own (or a callback too large to copy) goes alone between them.
TEST_F(HYBCommandDelegateImplTest, DeferredCallbacksShareEvaluationsInOrder) {
    auto ok = [](const std::string& text) {
        return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text);
    };
    const std::string large(20000, 'x');
    holdTheTurn();
    delegate().sendPluginResult(ok("1"), "a");
    delegate().sendPluginResult(ok("2"), "b");
    delegate().evalJs("step()");
    delegate().sendPluginResult(ok("3"), "c");
    delegate().sendPluginResult(ok(large), "d");
    delegate().sendPluginResult(ok("4"), "e");
    delegate().sendPluginResult(ok("5"), "f");
    EXPECT_TRUE(scripts().empty());
    loop().runUntilIdle();
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{
                  HYBCommandDelegateImpl::callbackBatchScript(
                      {callback("a", 1, R"("1")"), callback("b", 1, R"("2")")}),
                  "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){"
                  "step()})}catch(e){console.log('exception nativeEvalAndFetch : '+e);};",
                  callback("c", 1, R"("3")"),
                  callback("d", 1, "\"" + large + "\""),
                  HYBCommandDelegateImpl::callbackBatchScript(
                      {callback("e", 1, R"("4")"), callback("f", 1, R"("5")")}),
              }));
    // The next turn starts a new evaluation.
    engine().fake().clearEvaluatedScripts();
    holdTheTurn();
    delegate().sendPluginResult(ok("6"), "g");
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{callback("g", 1, R"("6")")});
}

// A result that nothing waits ahead of reaches the page at once; the rest of its turn waits for
// the turn's end and shares one evaluation there, still in the order sent, behind scripts of
// the program's own and results from other threads that came first.
TEST_F(HYBCommandDelegateImplTest, FirstResultOfATurnGoesAtOnceAndTheRestKeepTheirOrder) {
    auto ok = [](const std::string& text) {
        return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text);
    };
    delegate().sendPluginResult(ok("1"), "a");
    EXPECT_EQ(scripts(), std::vector<std::string>{callback("a", 1, R"("1")")});
    delegate().sendPluginResult(ok("2"), "b");
    delegate().sendPluginResult(ok("3"), "c");
    EXPECT_EQ(scripts().size(), 1u);
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), (std::vector<std::string>{
                             callback("a", 1, R"("1")"),
                             HYBCommandDelegateImpl::callbackBatchScript(
                                 {callback("b", 1, R"("2")"), callback("c", 1, R"("3")")})}));
    // A script of the program's own keeps its turn, and a result after it waits behind it.
    engine().fake().clearEvaluatedScripts();
    delegate().evalJs("first()");
    delegate().sendPluginResult(ok("4"), "d");
    EXPECT_TRUE(scripts().empty());
    loop().runUntilIdle();
    ASSERT_EQ(scripts().size(), 2u);
    EXPECT_NE(scripts()[0].find("first()"), std::string::npos);
    EXPECT_EQ(scripts()[1], callback("d", 1, R"("4")"));
    // A result from another thread that waits for the main loop stays ahead of a later one.
    engine().fake().clearEvaluatedScripts();
    std::thread([&] { delegate().sendPluginResult(ok("5"), "e"); }).join();
    delegate().sendPluginResult(ok("6"), "f");
    EXPECT_TRUE(scripts().empty());
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{HYBCommandDelegateImpl::callbackBatchScript(
                             {callback("e", 1, R"("5")"), callback("f", 1, R"("6")")})});
}

// Merging never lets a result run before main-loop work posted ahead of it.
TEST_F(HYBCommandDelegateImplTest, DeferredResultsNeverOvertakeEarlierMainLoopWork) {
    auto ok = [](const std::string& text) {
        return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text);
    };
    delegate().sendPluginResult(ok("1"), "a");
    dispatch::Queue::main().async([this] { delegate().evalJsHelper2("between()"); });
    delegate().sendPluginResult(ok("2"), "b");
    delegate().sendPluginResult(ok("3"), "c");
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), (std::vector<std::string>{
                             callback("a", 1, R"("1")"), "between()",
                             HYBCommandDelegateImpl::callbackBatchScript(
                                 {callback("b", 1, R"("2")"), callback("c", 1, R"("3")")})}));
}

// Pieces of an answer go ahead of it, in the order sent from any thread, each a script that
// only calls the host's keeper with one JSON object (the form the engine reads as JSON), the
// first making the keeper; a result for another call sent between them keeps its place, and the
// answer that joins them comes after them, handed over as a value with its member and piece
// count. Pieces for ids the page could not be answered at go nowhere.
TEST_F(HYBCommandDelegateImplTest, AnswerPiecesGoAheadOfTheirAnswerInOrder) {
    EXPECT_TRUE(delegate().sendsAnswerPieces());
    holdTheTurn();
    std::thread([&] {
        delegate().sendAnswerPiece("big", page(), 0, R"([{"n":1}])");
        delegate().sendPluginResult(
            HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "other"), "other");
        delegate().sendAnswerPiece("big", page(), 1, R"([{"n":" "}])");
        delegate().sendAnswerTextPiece("big", page(), 2, "it's \"\n\u2028");
        delegate().sendAnswerPiece("INVALID", page(), 0, "[]");
        delegate().sendAnswerPiece("bad'id", page(), 0, "[]");
        delegate().sendPluginResultAfterPieces(
            HYBPluginResult::resultWithStatusMessageAsJSON(
                HYBResultStatusOK, R"({"insertId":4,"rows":[{"n":3}],"rowsAffected":1})"),
            "big", page(), "rows", 3);
    }).join();
    loop().runUntilIdle();

    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 1u);
    // The joined answer reaches the page through the one function every bridge script has.
    EXPECT_NE(calls[0].body.find("return hybrid.require('hybrid/exec').nativeCallback(callbackId,"),
              std::string::npos)
        << calls[0].body;
    EXPECT_EQ(calls[0].arguments.at("callbackId"), ns::Value("big"));
    EXPECT_EQ(calls[0].arguments.at("status"), ns::Value(1));
    EXPECT_EQ(calls[0].arguments.at("message"),
              ns::Value(R"({"insertId":4,"rows":[{"n":3}],"rowsAffected":1})"));
    EXPECT_EQ(calls[0].arguments.at("member"), ns::Value("rows"));
    EXPECT_EQ(calls[0].arguments.at("pieces"), ns::Value(int64_t{3}));
    EXPECT_EQ(calls[0].arguments.at("keepCallback"), ns::Value(0));
    const std::string keeper = calls[0].arguments.at("keeper").stringValue();

    // The other call's answer reaches the page between the pieces, where it was sent.
    const auto sent = scripts();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[2], callback("other", 1, R"("other")"));
    EXPECT_NE(sent[5].find("nativeCallback"), std::string::npos) << sent[5];
    const auto call = [&](int index, const std::string& text, const std::string& piece) {
        return "__hybKeepPiece({\"callbackId\":\"big\",\"index\":" + std::to_string(index) +
               ",\"keeper\":\"" + keeper + "\",\"text\":" + text + ",\"piece\":" + piece + "})";
    };
    // Ahead of the first piece the keeper is made where the page has none; the host keeps the
    // pieces itself: nothing of the page's bridge script is asked for.
    EXPECT_EQ(sent[0].rfind("if(!window.__hybKeepPiece)", 0), 0u) << sent[0];
    EXPECT_EQ(sent[0].find("hybrid"), std::string::npos) << sent[0];
    EXPECT_EQ(sent[1], call(0, "false", R"([{"n":1}])"));
    EXPECT_EQ(sent[3], call(1, "false", R"([{"n":" "}])"));
    EXPECT_EQ(sent[4], call(2, "true", R"("it's \"\n\u2028")"));
}

// The page awaits a piece of an answer while it has taken in every piece sent but at most one
// (a failed evaluation counts as taken in: the page will not take that piece later), runs of a
// text (a file's) as runs of an array (a statement's rows). An answer without pieces, or one
// that came, is awaited as at its start.
TEST_F(HYBCommandDelegateImplTest, APieceIsAwaitedWhileAtMostOneIsNotTakenIn) {
    holdEvaluationsButTheKeeper();
    for (const bool text : {false, true}) {
        SCOPED_TRACE(text ? "text" : "array");
        const std::string id = text ? "file" : "big";
        const auto send = [&](size_t index) {
            if (text) {
                delegate().sendAnswerTextPiece(id, page(), index, "run");
            } else {
                delegate().sendAnswerPiece(id, page(), index, "[1]");
            }
        };
        EXPECT_TRUE(delegate().answerPieceAwaited(id, page()));
        send(0);
        EXPECT_TRUE(delegate().answerPieceAwaited(id, page()));
        send(1);
        EXPECT_FALSE(delegate().answerPieceAwaited(id, page()));
        EXPECT_TRUE(delegate().answerPieceAwaited("other", page()));
        loop().runUntilIdle();
        ASSERT_EQ(engine().fake().pendingEvaluationCount(), 2u);
        EXPECT_FALSE(delegate().answerPieceAwaited(id, page()));

        ASSERT_TRUE(engine().fake().completeEvaluation(ns::Value()));
        loop().runUntilIdle();
        EXPECT_TRUE(delegate().answerPieceAwaited(id, page()));
        send(2);
        loop().runUntilIdle();
        EXPECT_FALSE(delegate().answerPieceAwaited(id, page()));
        ASSERT_TRUE(engine().fake().completeEvaluation(ns::Error("WKErrorDomain", 4, {})));
        loop().runUntilIdle();
        EXPECT_TRUE(delegate().answerPieceAwaited(id, page()));

        send(3);
        delegate().sendPluginResultAfterPieces(
            HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, R"({"rows":[]})"), id,
            page(), "rows", 4);
        EXPECT_TRUE(delegate().answerPieceAwaited(id, page()));
        // The page takes in what is still on its way.
        loop().runUntilIdle();
        while (engine().fake().completeEvaluation(ns::Value())) loop().runUntilIdle();
    }
}

// A producer off the main thread waits for room before its next piece until the page has
// taken one of those on their way in; on the main thread, which tells of pieces taken in, the
// wait returns at once.
TEST_F(HYBCommandDelegateImplTest, AProducerWaitsForThePageToTakeAPieceIn) {
    holdEvaluationsButTheKeeper();
    std::mutex mutex;
    std::vector<std::string> events;
    const auto record = [&](const char* event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    };
    std::atomic<bool> sent{false};
    std::thread producer([&] {
        delegate().sendAnswerPiece("big", page(), 0, "[1]");
        delegate().sendAnswerPiece("big", page(), 1, "[2]");
        sent = true;
        EXPECT_TRUE(delegate().waitForAnswerPieceRoom("big", page()));
        record("room");
    });
    while (!sent || engine().fake().pendingEvaluationCount() < 2) loop().runUntilIdle();
    // No room on the main thread either, yet it does not wait.
    EXPECT_TRUE(delegate().waitForAnswerPieceRoom("big", page()));
    EXPECT_FALSE(delegate().answerPieceAwaited("big", page()));
    record("taken");
    ASSERT_TRUE(engine().fake().completeEvaluation(ns::Value()));
    loop().runUntilIdle();
    producer.join();
    EXPECT_EQ(events, (std::vector<std::string>{"taken", "room"}));
}

// A producer waiting for room learns that its answer ends, there and at every later wait: when
// the page that asked reloads (before the answer's first piece too) or its controller closes, or
// when the page has taken no piece in for the time allowed, counted on the one clock from the
// oldest piece not taken in or the last one taken in, and never while none is on its way (a slow
// producer is not a stalled page). Nothing more of the answer reaches a page; the next page's
// answer under the same id goes on.
TEST_F(HYBCommandDelegateImplTest, AWaitForRoomEndsWhenThePageWillTakeNoMore) {
    // The producer may send `n` more pieces, the page takes its oldest piece in, `n` s pass, the
    // page reloads or closes; the answer ends at step `endsAt` and stays ended.
    enum What { Send, Take, Pass, Reload, Close };
    struct Step {
        What what;
        int n = 0;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        size_t endsAt;
    };
    const Row rows[] = {
        {"reload", {{Send, 9}, {Reload}}, 1},
        {"reload before the first piece", {{Reload}, {Send, 9}}, 0},
        {"last taken in", {{Send, 9}, {Pass, 20}, {Take}, {Pass, 29}, {Pass, 1}}, 4},
        {"oldest on its way", {{Send, 1}, {Pass, 20}, {Send, 2}, {Pass, 9}, {Pass, 1}}, 4},
        {"slow producer", {{Send, 1}, {Take}, {Pass, 100}, {Send, 2}, {Pass, 29}, {Pass, 1}}, 5},
        {"close", {{Send, 9}, {Close}}, 1},
    };
    auto self = std::static_pointer_cast<HYBCommandDelegateImpl>(controller().commandDelegate());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        holdEvaluationsButTheKeeper();
        const uint64_t asked = page();  // as the plug-in's action reads it
        std::counting_semaphore<> allowance{0};
        std::atomic<int> sent{0};
        std::atomic<bool> ended{false};
        std::thread producer([&] {
            for (size_t index = 0;; ++index) {
                allowance.acquire();
                if (!self->waitForAnswerPieceRoom("big", asked)) break;
                self->sendAnswerPiece("big", asked, index, "[1]");
                ++sent;
            }
            ended = true;
        });
        int allowed = 0;
        int taken = 0;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            if (step.what == Send) {
                allowance.release(step.n);
                allowed += step.n;
            }
            if (step.what == Take) {
                EXPECT_TRUE(engine().fake().completeEvaluation(ns::Value()));
                ++taken;
            }
            if (step.what == Pass) loop().advanceBy(std::chrono::seconds(step.n));
            if (step.what == Reload) controller().webView()->reload();
            if (step.what == Close) controller_.reset();
            // Until the producer sent what it may (or ended), and the page holds those pieces.
            while (!ended && sent < std::min(allowed, taken + 2)) loop().runUntilIdle();
            loop().runUntilIdle();
            // On the main thread the wait says at once whether the answer goes on.
            EXPECT_EQ(self->waitForAnswerPieceRoom("big", asked), i < row.endsAt) << i;
        }
        // A piece on its way to the main loop as its page goes, and any sent after, goes nowhere.
        std::thread([&] { self->sendAnswerPiece("big", asked, 8, "[1]"); }).join();
        self->endAnswersInPieces();
        allowance.release(99);
        producer.join();
        if (!controller_) return;
        // What the page kept of the answer went with it.
        std::vector<std::string> evaluated = scripts();
        EXPECT_EQ(std::count(evaluated.begin(), evaluated.end(),
                             "if(window.__hybAnswerPieces)window.__hybAnswerPieces.clear()"),
                  sent > 0 ? 1 : 0);
        // The next page's answer under the same id goes on, with room of its own.
        self->sendAnswerPiece("big", page(), 0, "[1]");
        self->sendAnswerPiece("big", asked, 9, "[1]");
        EXPECT_TRUE(self->answerPieceAwaited("big", page()));
        self->sendPluginResultAfterPieces(
            HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, "[]"), "big", asked,
            "", 10);
        self->sendAnswerPiece("big", page(), 1, "[1]");
        EXPECT_FALSE(self->answerPieceAwaited("big", page()));
        EXPECT_FALSE(self->waitForAnswerPieceRoom("big", asked));
        loop().runUntilIdle();
        EXPECT_EQ(scripts().size(), evaluated.size() + 3);  // the keeper and the next page's two
        // Its producer answered, the answer's pieces are forgotten.
        self->sendPluginResult(HYBPluginResult::resultWithStatus(HYBResultStatusError), "big");
        loop().runUntilIdle();
        while (engine().fake().completeEvaluation(ns::Value())) loop().runUntilIdle();
        engine().fake().clearEvaluatedScripts();
    }
}

// A piece that no page will take in (the web view engine gone while it was on its way) counts
// as taken: its producer is not left waiting for room that never comes.
TEST_F(HYBCommandDelegateImplTest, APieceDroppedOnItsWayMakesRoom) {
    holdTheTurn();
    delegate().sendAnswerPiece("big", page(), 0, "[1]");
    delegate().sendAnswerPiece("big", page(), 1, "[2]");
    EXPECT_FALSE(delegate().answerPieceAwaited("big", page()));
    const auto engine = controller().webViewEngine();
    controller().setWebViewEngine(nullptr);
    loop().runUntilIdle();
    EXPECT_TRUE(delegate().answerPieceAwaited("big", page()));
    controller().setWebViewEngine(engine);
}

// An answer that comes whole after pieces went ahead for its call (an error) first has the
// page let go of the pieces it keeps; other answers, and a second one for the same call, do not.
TEST_F(HYBCommandDelegateImplTest, AnswerWholeAfterPiecesDropsWhatThePageKept) {
    holdTheTurn();
    delegate().sendAnswerPiece("big", page(), 0, "[1]");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "o"), "other");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 5), "big");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "again"), "big");
    loop().runUntilIdle();
    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments.at("callbackId"), ns::Value("big"));
    EXPECT_EQ(calls[0].arguments.count("piece"), 0u);
    const auto sent = scripts();
    ASSERT_EQ(sent.size(), 5u);
    // The pieces kept where the piece put them go.
    EXPECT_NE(sent[1].find(R"("keeper":")" + calls[0].arguments.at("keeper").stringValue() + '"'),
              std::string::npos)
        << sent[1];
    EXPECT_EQ(sent[2], callback("other", 1, R"("o")"));
    EXPECT_EQ(sent[4],
              HYBCommandDelegateImpl::callbackBatchScript(
                  {callback("big", 9, R"({"code":5})"), callback("big", 1, R"("again")")}));
}

// However a plug-in hands it over (a result it keeps, or one it gives up), an answer that comes
// whole after pieces went ahead for its call first has the page let go of them.
TEST_F(HYBCommandDelegateImplTest, AnAnswerGivenUpAfterPiecesAlsoDropsWhatThePageKept) {
    HYBCommandDelegate& plugins = delegate();  // as plug-ins reach it
    holdTheTurn();
    plugins.sendAnswerPiece("kept", page(), 0, "[1]");
    plugins.sendAnswerPiece("given", page(), 0, "[1]");
    const auto kept =
        HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 5);
    plugins.sendPluginResult(kept, "kept");
    plugins.sendPluginResult(
        HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 5), "given");
    loop().runUntilIdle();
    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 2u);
    const auto sent = scripts();
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string id = i == 0 ? "kept" : "given";
        SCOPED_TRACE(id);
        EXPECT_EQ(calls[i].arguments.at("callbackId"), ns::Value(id));
        EXPECT_EQ(calls[i].arguments.count("pieces"), 0u);  // no answer joins the pieces
        // The pieces go before the answer does.
        const auto drop = std::find_if(sent.begin(), sent.end(), [&](const std::string& script) {
            return script.find("k.delete(callbackId)") != std::string::npos &&
                   script.find('"' + id + '"') != std::string::npos;
        });
        const auto answer = std::find_if(sent.begin(), sent.end(), [&](const std::string& script) {
            return script.find(callback(id, 9, R"({"code":5})")) != std::string::npos;
        });
        EXPECT_LT(drop, answer);
    }
}

// The answer that joins pieces carries its result as sent: its status, whether its callback
// stays, and where in it the pieces go, so that the page's callback gets what the same result
// sent whole would give it.
TEST_F(HYBCommandDelegateImplTest, TheAnswerThatJoinsPiecesCarriesItsResultAsSent) {
    struct Sent {
        std::string id;
        unsigned status;
        bool keep;
        std::string member;
    };
    const Sent answers[] = {
        {"rows", HYBResultStatusOK, false, "rows"},
        {"entry", HYBResultStatusOK, true, "2.result.rows"},
        {"failed", HYBResultStatusError, false, ""},
    };
    holdTheTurn();
    for (const Sent& answer : answers) {
        delegate().sendAnswerPiece(answer.id, page(), 0, "[1]");
        auto result = HYBPluginResult::resultWithStatusMessageAsJSON(answer.status, "[2]");
        result->setKeepCallbackAsBool(answer.keep);
        delegate().sendPluginResultAfterPieces(result, answer.id, page(), answer.member, 1);
    }
    loop().runUntilIdle();
    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), std::size(answers));
    for (size_t i = 0; i < calls.size(); ++i) {
        const Sent& answer = answers[i];
        SCOPED_TRACE(answer.id);
        EXPECT_EQ(calls[i].arguments.at("callbackId"), ns::Value(answer.id));
        EXPECT_EQ(calls[i].arguments.at("status"), ns::Value(static_cast<int>(answer.status)));
        EXPECT_EQ(calls[i].arguments.at("keepCallback"), ns::Value(answer.keep ? 1 : 0));
        EXPECT_EQ(calls[i].arguments.at("member"), ns::Value(answer.member));
        EXPECT_EQ(calls[i].arguments.at("message"), ns::Value("[2]"));
        EXPECT_EQ(calls[i].arguments.at("pieces"), ns::Value(int64_t{1}));
    }
}

// An answer handed over as a value, whole or in pieces, comes by the host's own road: one the
// page cannot take there is logged with its call, never lost without a word. A small answer's
// failed callback is the page's own affair, as ever.
TEST_F(HYBCommandDelegateImplTest, AnswerThatCannotReachThePageIsLogged) {
    engine().fake().setScriptResponder(
        [](const std::string&) -> std::optional<ns::Result<ns::Value>> {
            return ns::Result<ns::Value>(ns::Error("WKErrorDomain", 4, {}));
        });
    testsupport::LogCapture log;
    log.expect("did not reach the page");
    delegate().sendAnswerPiece("piece1", page(), 0, "[1]");
    delegate().sendPluginResultAfterPieces(
        HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, R"({"rows":[]})"),
        "piece1", page(), "rows", 1);
    delegate().sendPluginResult(HYBPluginResult::resultWithStatusMessageAsString(
                                    HYBResultStatusOK, std::string(100000, 'x')),
                                "whole2");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "small"), "small3");
    loop().runUntilIdle();
    EXPECT_EQ(log.count("ERROR: The answer to callback piece1 did not reach the page: "), 2u);
    EXPECT_EQ(log.count("ERROR: The answer to callback whole2 did not reach the page: "), 1u);
    EXPECT_FALSE(log.contains("small3"));
}

// An answer without pieces ahead of it is an ordinary result.
TEST_F(HYBCommandDelegateImplTest, AnswerAfterNoPiecesIsAnOrdinaryResult) {
    delegate().sendPluginResultAfterPieces(
        HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, R"({"rows":[]})"), "a",
        page(), "rows", 0);
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{callback("a", 1, R"({"rows":[]})")});
}

// A large answer reaches the page as a value handed to the callback's call, never as a literal
// of its size: an object or array as its JSON text, which the page parses, a string as it is,
// binary data as its Base64 text. What the page's callback gets is what the literal gave it;
// small answers keep their literal, and everything stays in the order sent.
TEST_F(HYBCommandDelegateImplTest, LargeAnswersArePassedAsValues) {
    ns::Array rows;
    for (int i = 0; i < 3000; ++i) {
        rows.push_back(
            ns::Value::dict({{"n", i}, {"label", "row \"" + std::to_string(i) + "\"\u2028"}}));
    }
    const ns::Value message(rows);
    const std::string text(100000, 'x');
    const std::string withZero = std::string(70000, 'y') + '\0';
    const ns::Data bytes(std::vector<uint8_t>(60000, 0xA5));
    holdTheTurn();
    delegate().sendPluginResult(std::make_shared<HYBPluginResult>(HYBResultStatusOK, message),
                                "big");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusError, text), "str");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "small"), "small");
    auto kept = HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, bytes);
    kept->setKeepCallbackAsBool(true);
    delegate().sendPluginResult(kept, "bin");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, withZero), "zero");
    loop().runUntilIdle();

    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 4u);
    const std::string head =
        "return hybrid.require('hybrid/exec').nativeCallback(callbackId,status,";
    auto expectCall = [&](const wk::FakeEngine::FunctionCall& call, const std::string& id,
                          int status, int keep, const std::string& value) {
        EXPECT_EQ(call.body, head + value + ",keepCallback,0)");
        EXPECT_EQ(call.arguments.at("callbackId"), ns::Value(id));
        EXPECT_EQ(call.arguments.at("status"), ns::Value(status));
        EXPECT_EQ(call.arguments.at("keepCallback"), ns::Value(keep));
    };
    expectCall(calls[0], "big", 1, 0, "JSON.parse(message)");
    const std::string* json = calls[0].arguments.at("message").string();
    ASSERT_TRUE(json);
    EXPECT_EQ(ns::JSONSerialization::read(*json).valueOr(ns::Value()), message);
    expectCall(calls[1], "str", 9, 0, "message");
    EXPECT_EQ(calls[1].arguments.at("message"), ns::Value(text));
    expectCall(calls[2], "bin", 1, 1, "{HYBType:'ArrayBuffer',data:message}");
    EXPECT_EQ(calls[2].arguments.at("message"), ns::Value(bytes.base64EncodedString()));
    // A string the engine could not take as it is goes as JSON text.
    expectCall(calls[3], "zero", 1, 0, "JSON.parse(message)");
    EXPECT_EQ(ns::JSONSerialization::read(*calls[3].arguments.at("message").string(),
                                          {.fragmentsAllowed = true})
                  .valueOr(ns::Value()),
              ns::Value(withZero));
    // In the order sent, the small answer with its literal among them.
    const std::vector<std::string> evaluated = scripts();
    ASSERT_EQ(evaluated.size(), 5u);
    EXPECT_EQ(evaluated[2], callback("small", 1, R"("small")"));
    EXPECT_NE(evaluated[3].find("\"bin\""), std::string::npos);
}

// An answer with a "__proto__" key, however small, is parsed by the page: as a literal the key
// would set the object's prototype and never reach the callback. A string that only says
// "__proto__", or a key that only ends in it, keeps its literal.
TEST_F(HYBCommandDelegateImplTest, AnAnswerWithAPrototypeKeyIsParsedByThePage) {
    // Another key with underscores before it: the key is still found.
    const ns::Value row =
        ns::Value::dict({{"A_B", 1}, {"__proto__", ns::Value::dict({{"polluted", true}})}});
    delegate().sendPluginResult(
        std::make_shared<HYBPluginResult>(HYBResultStatusOK, ns::Value(ns::Array{row})), "rows");
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "__proto__"), "text");
    delegate().sendPluginResult(
        std::make_shared<HYBPluginResult>(HYBResultStatusOK, ns::Value::dict({{"___proto__", 1}})),
        "longer");
    loop().runUntilIdle();

    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments.at("callbackId"), ns::Value("rows"));
    EXPECT_NE(calls[0].body.find("JSON.parse(message)"), std::string::npos);
    EXPECT_EQ(ns::JSONSerialization::read(*calls[0].arguments.at("message").string())
                  .valueOr(ns::Value()),
              ns::Value(ns::Array{row}));
    const std::vector<std::string> evaluated = scripts();
    ASSERT_FALSE(evaluated.empty());
    // The two literals may go to the page in one script.
    EXPECT_NE(evaluated.back().find(callback("text", 1, R"("__proto__")")), std::string::npos);
    EXPECT_NE(evaluated.back().find(callback("longer", 1, R"({"___proto__":1})")),
              std::string::npos);
}

// A piece that writes a "__proto__" key comes as its JSON text for the page to parse, as the
// whole answer would: read as a literal, the key (null in a NULL column) would set its row's
// prototype. Other pieces, a key that only ends in it among them, keep the literal; a piece of a
// text is that text, whatever it holds, and reaches the page as it is.
TEST_F(HYBCommandDelegateImplTest, APieceWithAPrototypeKeyIsParsedByThePage) {
    struct Row {
        bool text;
        const char* piece;
        const char* sent;
    };
    const Row rows[] = {
        {false, R"([{"__proto__":null,"n":1}])",
         R"("text":false,"parse":true,"piece":"[{\"__proto__\":null,\"n\":1}]"})"},
        {false, R"([{"___proto__":1}])", R"("text":false,"piece":[{"___proto__":1}]})"},
        {true, R"({"__proto__":1})", R"("text":true,"piece":"{\"__proto__\":1}"})"},
    };
    for (const Row& row : rows) {
        if (row.text) {
            delegate().sendAnswerTextPiece("p", page(), 0, row.piece);
        } else {
            delegate().sendAnswerPiece("p", page(), 0, row.piece);
        }
        loop().runUntilIdle();
        EXPECT_NE(scripts().back().find(row.sent), std::string::npos) << scripts().back();
    }
}

// A result its sender gave up goes to the page without a copy of its message; one still held
// elsewhere keeps its message, so that it can be read or sent again whole.
TEST_F(HYBCommandDelegateImplTest, LargeAnswersGivenUpOrStillHeldReachThePageWhole) {
    HYBCommandDelegate& plugins = delegate();  // as plug-ins reach it
    const std::string text(100000, 'x');
    const std::string withZero = std::string(70000, 'y') + '\0';
    const ns::Data bytes(std::vector<uint8_t>(60000, 0xA5));
    holdTheTurn();
    plugins.sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text), "given");
    auto kept = HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text);
    auto handedOver = kept;
    plugins.sendPluginResult(std::move(handedOver), "held1");
    plugins.sendPluginResult(kept, "held2");
    plugins.sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, bytes), "bin");
    plugins.sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, withZero), "zero");
    loop().runUntilIdle();

    EXPECT_EQ(kept->message(), ns::Value(text));
    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 5u);
    const std::vector<std::string> ids = {"given", "held1", "held2", "bin", "zero"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].arguments.at("callbackId"), ns::Value(ids[i]));
        EXPECT_NE(calls[i].body.find(",message,"), std::string::npos) << calls[i].body;
        EXPECT_EQ(calls[i].arguments.at("message"), ns::Value(text)) << ids[i];
    }
    EXPECT_NE(calls[3].body.find("{HYBType:'ArrayBuffer',data:message}"), std::string::npos);
    EXPECT_EQ(calls[3].arguments.at("message"), ns::Value(bytes.base64EncodedString()));
    EXPECT_NE(calls[4].body.find("JSON.parse(message)"), std::string::npos);
    EXPECT_EQ(ns::JSONSerialization::read(*calls[4].arguments.at("message").string(),
                                          {.fragmentsAllowed = true})
                  .valueOr(ns::Value()),
              ns::Value(withZero));
}

// A large answer given as JSON text is taken, not copied, only from a result nothing else
// shares: a result still held, or a copy of one, keeps its text whole.
TEST_F(HYBCommandDelegateImplTest, LargeJSONAnswersGivenUpOrSharedReachThePageWhole) {
    HYBCommandDelegate& plugins = delegate();
    const std::string json = "[\"" + std::string(100000, 'j') + "\"]";
    holdTheTurn();
    plugins.sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, json), "given");
    auto kept = HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, json);
    auto handedOver = kept;
    plugins.sendPluginResult(std::move(handedOver), "held");
    auto original = HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK, json);
    plugins.sendPluginResult(std::make_shared<HYBPluginResult>(*original), "copied");
    loop().runUntilIdle();

    EXPECT_EQ(kept->argumentsAsJSON(), json);
    EXPECT_EQ(original->argumentsAsJSON(), json);
    const auto& calls = engine().fake().functionCalls();
    ASSERT_EQ(calls.size(), 3u);
    const std::vector<std::string> ids = {"given", "held", "copied"};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].arguments.at("callbackId"), ns::Value(ids[i]));
        EXPECT_NE(calls[i].body.find("JSON.parse(message)"), std::string::npos) << ids[i];
        EXPECT_EQ(calls[i].arguments.at("message"), ns::Value(json)) << ids[i];
    }
}

// Every callback of a shared evaluation is shielded from the others, and each string the page
// answers is a batch of commands of its own.
TEST_F(HYBCommandDelegateImplTest, SharedEvaluationShieldsEachCallbackAndKeepsEveryAnswer) {
    const std::string script =
        HYBCommandDelegateImpl::callbackBatchScript({"first()", "second()", "third()"});
    for (const char* call : {"first()", "second()", "third()"}) {
        EXPECT_NE(script.find(std::string("try{p(") + call + ")}catch(e){}"), std::string::npos);
    }
    EXPECT_LT(script.find("first()"), script.find("second()"));
    EXPECT_LT(script.find("second()"), script.find("third()"));

    engine().fake().setScriptResponder(
        [](const std::string&) -> std::optional<ns::Result<ns::Value>> {
            return ns::Result<ns::Value>(
                ns::Value::array({R"([["s1","Echo","echo",[]]])", ns::Value(3), "",
                                  R"([["s2","Echo","echo",[]]])"}));
        });
    holdTheTurn();
    delegate().sendPluginResult(HYBPluginResult::resultWithStatus(HYBResultStatusOK), "x1");
    delegate().sendPluginResult(HYBPluginResult::resultWithStatus(HYBResultStatusOK), "x2");
    loop().runUntilIdle();
    EXPECT_EQ(EchoPlugin::calls(), (std::vector<std::string>{"echo:s1", "echo:s2"}));
}

TEST_F(HYBCommandDelegateImplTest, CallbackIdValidation) {
    EXPECT_TRUE(HYBCommandDelegateImpl::isValidCallbackId(std::string(100, 'a')));
    EXPECT_TRUE(HYBCommandDelegateImpl::isValidCallbackId(std::string("")));
    EXPECT_TRUE(HYBCommandDelegateImpl::isValidCallbackId(std::string("Az09._-")));
    for (const std::string& bad :
         {std::string(101, 'a'), std::string("a b"), std::string("a'b"), std::string("a\"b"),
          std::string("caf\xC3\xA9"), std::string("a\nb"), std::string("a);alert(1")}) {
        EXPECT_FALSE(HYBCommandDelegateImpl::isValidCallbackId(bad)) << bad;
    }
    EXPECT_FALSE(HYBCommandDelegateImpl::isValidCallbackId(std::nullopt));
}

TEST_F(HYBCommandDelegateImplTest, InvalidIdsAreDropped) {
    testsupport::LogCapture log;
    auto result = HYBPluginResult::resultWithStatus(HYBResultStatusOK);
    delegate().sendPluginResult(result, "INVALID");
    EXPECT_TRUE(log.texts().empty());
    delegate().sendPluginResult(result, std::nullopt);
    delegate().sendPluginResult(result, "x'+alert(1)+'");
    EXPECT_EQ(log.count("Invalid callback id received by sendPluginResult"), 2u);
    loop().runUntilIdle();
    EXPECT_TRUE(scripts().empty());
}

TEST_F(HYBCommandDelegateImplTest, EvalJsWrapsTheScript) {
    delegate().evalJs("return 1");
    EXPECT_TRUE(scripts().empty());  // scheduled on the run loop
    loop().runUntilIdle();
    delegate().evalJs("return 2", false);  // at once
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{
                  "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){return 1})}"
                  "catch(e){console.log('exception nativeEvalAndFetch : '+e);};",
                  "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){return 2})}"
                  "catch(e){console.log('exception nativeEvalAndFetch : '+e);};"}));
}

TEST_F(HYBCommandDelegateImplTest, EvaluatesAtOnceInsideAQueuePassOrWhenNothingWaits) {
    auto queue = controller().commandQueue();
    // Straight from a script message with nothing waiting: at once.
    queue->execute(HYBInvokedUrlCommand({"direct"}, "c1", "Echo", "echo"));
    EXPECT_EQ(scripts().size(), 1u);
    loop().runUntilIdle();
    EXPECT_EQ(scripts().size(), 1u);
    engine().fake().clearEvaluatedScripts();
    // Inside a pass: at once, before the next command runs, whatever waits.
    holdTheTurn();
    queue->enqueueCommandBatch(R"([["c2","Echo","echo",["a"]],["c3","Echo","echo",["b"]]])");
    queue->executePending();
    EXPECT_EQ(scripts(),
              (std::vector<std::string>{callback("c2", 1, R"("a")"), callback("c3", 1, R"("b")")}));
    engine().fake().clearEvaluatedScripts();
    // Flushing with delayed responses: later turns, in order.
    queue->enqueueCommandBatch(R"([["c4","Echo","echo",[1]],["c5","Echo","echo",[2]]])");
    delegate().flushCommandQueueWithDelayedJs();
    EXPECT_TRUE(scripts().empty());
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{HYBCommandDelegateImpl::callbackBatchScript(
                             {callback("c4", 1, "1"), callback("c5", 1, "2")})});
}

TEST_F(HYBCommandDelegateImplTest, StringAnswersOfEvaluationsAreBatches) {
    engine().fake().setScriptResponder(
        [](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
            if (script.find("first") != std::string::npos) {
                return ns::Result<ns::Value>(ns::Value(R"([["b1","Echo","echo",[]]])"));
            }
            return ns::Result<ns::Value>(ns::Value(""));
        });
    delegate().evalJs("first", false);
    delegate().evalJs("second", false);
    loop().runUntilIdle();
    EXPECT_EQ(EchoPlugin::calls(), std::vector<std::string>{"echo:b1"});
}

TEST_F(HYBCommandDelegateImplTest, ResultsFromBackgroundThreadsReachThePageOnTheMainThread) {
    std::atomic<int> offMain{0};
    engine().fake().setScriptResponder(
        [&offMain](const std::string&) -> std::optional<ns::Result<ns::Value>> {
            if (!dispatch::RunLoop::isMainThread()) ++offMain;
            return ns::Result<ns::Value>(ns::Value());
        });
    postPageCall(ns::Value::array({"bg1", "Echo", "background", ns::Value::array({"x"})}));
    EXPECT_EQ(scripts(), std::vector<std::string>{callback("bg1", 1, R"("x")")});
    EXPECT_EQ(offMain.load(), 0);
}

TEST_F(HYBCommandDelegateImplTest, ResultAfterTheControllerWentIsDropped) {
    std::shared_ptr<HYBCommandDelegate> kept = controller().commandDelegate();
    controller_.reset();
    loop().runUntilIdle();
    kept->sendPluginResult(HYBPluginResult::resultWithStatus(HYBResultStatusOK), "late");
    kept->evalJs("x", false);
    loop().runUntilIdle();
    EXPECT_EQ(kept->getCommandInstance("Echo"), nullptr);
    EXPECT_TRUE(kept->settings().empty());
}

TEST_F(HYBCommandDelegateImplTest, PathForResource) {
    writeBundleFile("www/img/logo.png", "png");
    EXPECT_EQ(delegate().pathForResource("img/logo.png"), bundlePath() + "/www/img/logo.png");
    EXPECT_EQ(delegate().pathForResource("index.html"), bundlePath() + "/www/index.html");
    EXPECT_EQ(delegate().pathForResource("missing.html"), std::nullopt);
    writeBundleFile("secret.txt", "s");
    EXPECT_EQ(delegate().pathForResource("../secret.txt"), std::nullopt);
    EXPECT_EQ(delegate().pathForResource("img/../../secret.txt"), std::nullopt);
}

TEST_F(HYBCommandDelegateImplTest, UrlTransformerIsKept) {
    EXPECT_FALSE(delegate().urlTransformer());
    delegate().setUrlTransformer([](const ns::URL& url) { return url; });
    EXPECT_TRUE(delegate().urlTransformer());
}

}  // namespace
}  // namespace bridgetest
