#include "bridge/HYBCommandDelegateImpl.h"

#include <gtest/gtest.h>

#include <atomic>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/JSONSerialization.h"
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
    // Sent in one turn, so they reach the page together, in the order sent.
    EXPECT_EQ(scripts(), std::vector<std::string>{HYBCommandDelegateImpl::callbackBatchScript({
                             callback("a.b_c-1", 9, R"({"code":3})", true),
                             callback("n", 0, "null"),
                             callback("", 1, R"({"HYBType":"ArrayBuffer","data":"aGk="})"),
                         })});
}

// Deferred evaluations keep their order: callbacks in a row share an evaluation, a script of
// the page's own (or a callback too large to copy) goes alone between them.
TEST_F(HYBCommandDelegateImplTest, DeferredCallbacksShareEvaluationsInOrder) {
    auto ok = [](const std::string& text) {
        return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text);
    };
    const std::string large(20000, 'x');
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
    delegate().sendPluginResult(ok("6"), "g");
    loop().runUntilIdle();
    EXPECT_EQ(scripts(), std::vector<std::string>{callback("g", 1, R"("6")")});
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

// A large object or array answer reaches the page as JSON text that the page parses, so that
// the engine never compiles a literal of that size; a large string stays a literal.
TEST_F(HYBCommandDelegateImplTest, LargeAnswersReachThePageAsTextItParses) {
    ns::Array rows;
    for (int i = 0; i < 3000; ++i) {
        rows.push_back(
            ns::Value::dict({{"n", i}, {"label", "row \"" + std::to_string(i) + "\"\u2028"}}));
    }
    const ns::Value message(rows);
    delegate().sendPluginResult(std::make_shared<HYBPluginResult>(HYBResultStatusOK, message),
                                "big");
    const std::string text(100000, 'x');
    delegate().sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, text), "str");
    loop().runUntilIdle();
    const std::vector<std::string> evaluated = scripts();
    ASSERT_EQ(evaluated.size(), 2u);
    const std::string head = "hybrid.require('hybrid/exec').nativeCallback('big',1,JSON.parse(";
    const std::string tail = "),0, 0)";
    const std::string& script = evaluated[0];
    ASSERT_EQ(script.substr(0, head.size()), head);
    ASSERT_EQ(script.substr(script.size() - tail.size()), tail);
    // The argument is one string literal whose text is the answer's JSON.
    const auto literal = ns::JSONSerialization::read(
        std::string_view(script).substr(head.size(), script.size() - head.size() - tail.size()),
        {.fragmentsAllowed = true});
    ASSERT_TRUE(literal && literal->isString());
    EXPECT_EQ(ns::JSONSerialization::read(*literal->string()).valueOr(ns::Value()), message);
    EXPECT_EQ(evaluated[1], callback("str", 1, "\"" + text + "\""));
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

TEST_F(HYBCommandDelegateImplTest, EvaluatesAtOnceOnlyInsideAQueuePass) {
    auto queue = controller().commandQueue();
    // Straight from a script message: the answer comes on a later turn.
    queue->execute(HYBInvokedUrlCommand({"direct"}, "c1", "Echo", "echo"));
    EXPECT_TRUE(scripts().empty());
    loop().runUntilIdle();
    EXPECT_EQ(scripts().size(), 1u);
    engine().fake().clearEvaluatedScripts();
    // Inside a pass: at once, before the next command runs.
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
