#include "bridge/HYBCommandQueue.h"

#include <gtest/gtest.h>

#include "bridge/HYBCommandDelegateImpl.h"
#include "bridge/HYBPageSink.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginDirectory.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/Format.h"
#include "platform/rt/ClassRegistry.h"
#include "tests/bridge/support/BridgeFixture.h"
#include "tests/support/LogCapture.h"

namespace bridgetest {
namespace {

class HYBCommandQueueTest : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        start();
    }
    HYBCommandQueue& queue() { return *controller().commandQueue(); }
    std::vector<std::string>& calls() { return EchoPlugin::calls(); }

    // A batch of `count` commands "action:<prefix><i>" with the given argument list.
    static std::string batch(const std::string& action, const std::string& prefix, int count,
                             const std::string& arguments = "[]") {
        std::string text = "[";
        for (int i = 0; i < count; ++i) {
            if (i) text += ",";
            text += ns::format(R"(["%@%d","Echo","%@",%@])", prefix, i, action, arguments);
        }
        return text + "]";
    }
    // A one-command batch padded with spaces to exactly `units` UTF-16 units.
    static std::string paddedBatch(const std::string& id, size_t units, const std::string& filler) {
        std::string text = ns::format(R"([["%@","Echo","echo",[")", id);
        const std::string tail = R"("]]])";
        const size_t fixed = text.size() + tail.size();
        // `filler` is one UTF-16 unit however many bytes it takes.
        for (size_t n = fixed; n < units; ++n) text += filler;
        return text + tail;
    }
};

TEST_F(HYBCommandQueueTest, EmptyTextQueuesNothing) {
    queue().enqueueCommandBatch("");
    queue().executePending();
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(queue().currentlyExecuting());
}

TEST_F(HYBCommandQueueTest, BatchBoundaryIsCountedInUTF16Units) {
    // 4095 units (of two bytes each in the filler): parsed at once, runs in this pass.
    queue().enqueueCommandBatch(paddedBatch("inline", 4095, "\xC3\xA9"));
    queue().executePending();
    EXPECT_EQ(calls(), std::vector<std::string>{"echo:inline"});
    calls().clear();
    // 4096 units: parsed in the background, runs once the parse is done (a fast worker may
    // finish before this pass starts, so only the outcome is certain).
    queue().enqueueCommandBatch(paddedBatch("background", 4096, " "));
    queue().executePending();
    loop().runUntilIdle();
    EXPECT_EQ(calls(), std::vector<std::string>{"echo:background"});
}

TEST_F(HYBCommandQueueTest, BackgroundParsedBatchRunsBeforeALaterOne) {
    queue().enqueueCommandBatch(paddedBatch("long", 5000, " "));
    queue().enqueueCommandBatch(R"([["short","Echo","echo",[]]])");
    queue().executePending();
    loop().runUntilIdle();
    EXPECT_EQ(calls(), (std::vector<std::string>{"echo:long", "echo:short"}));
}

TEST_F(HYBCommandQueueTest, PassYieldsAfterTheTimeSlice) {
    // Each command takes 3 ms: a pass ends after the third (9 ms > 8 ms).
    queue().enqueueCommandBatch(batch("sleep", "s", 7, "[3]"));
    queue().executePending();
    EXPECT_EQ(calls().size(), 3u);
    EXPECT_FALSE(queue().currentlyExecuting());
    loop().dispatchReady();
    EXPECT_EQ(calls().size(), 6u);
    loop().dispatchReady();
    EXPECT_EQ(calls().size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(calls()[i], ns::format("sleep:s%d", i));
}

TEST_F(HYBCommandQueueTest, CheapCommandsRunInOnePass) {
    // Both short enough to be parsed at once.
    queue().enqueueCommandBatch(batch("echo", "e", 100));
    queue().enqueueCommandBatch(batch("echo", "f", 100));
    queue().executePending();
    ASSERT_EQ(calls().size(), 200u);
    EXPECT_EQ(calls().back(), "echo:f99");
}

TEST_F(HYBCommandQueueTest, ExactlyAtTheSliceDoesNotYield) {
    queue().enqueueCommandBatch(batch("sleep", "s", 3, "[4]"));
    queue().executePending();
    EXPECT_EQ(calls().size(), 3u);  // 4 ms, then 8 ms (not more than the slice), then done
}

TEST_F(HYBCommandQueueTest, ThreadWarningAboveTenMilliseconds) {
    testsupport::LogCapture log;
    EXPECT_TRUE(queue().execute(HYBInvokedUrlCommand({10}, "t", "Echo", "sleep")));
    EXPECT_EQ(log.count("THREAD WARNING"), 0u);
    EXPECT_TRUE(queue().execute(HYBInvokedUrlCommand({11}, "t", "Echo", "sleep")));
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"THREAD WARNING: ['Echo'] took '11.000000' ms. Plugin "
                                       "should use a background thread."});
}

TEST_F(HYBCommandQueueTest, MissingPluginsAndActionsAreLoggedAndSkipped) {
    testsupport::LogCapture log;
    log.expect("ERROR: Plugin 'Ghost' not found").expect("ERROR: Method 'nope:' not defined");
    log.expect("ERROR: Method 'dispose:'").expect("ERROR: Method 'pluginInitialize:'");
    log.expect("ERROR: Method 'missing:' not defined in Plugin 'Echo'");
    queue().enqueueCommandBatch(
        R"([["a","Ghost","echo",[]],["b","Echo","nope",[]],["c","Echo","dispose",[]],)"
        R"(["d","Echo","pluginInitialize",[]],["e","echo","echo",[]]])");
    queue().executePending();
    EXPECT_EQ(calls(), std::vector<std::string>{"echo:e"});  // service names are case-blind
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{
                  "ERROR: Plugin 'Ghost' not found, or is not a HYBPlugin. Check your plugin "
                  "mapping in config.xml.",
                  "ERROR: Method 'nope:' not defined in Plugin 'Echo'",
                  "ERROR: Method 'dispose:' not defined in Plugin 'Echo'",
                  "ERROR: Method 'pluginInitialize:' not defined in Plugin 'Echo'"}));
    EXPECT_FALSE(queue().execute(HYBInvokedUrlCommand({}, "x", "Echo", "missing")));
}

TEST_F(HYBCommandQueueTest, ThrowingActionIsLoggedAndThePassGoesOn) {
    testsupport::LogCapture log;
    log.expect("ERROR: Method 'fail:' of Plugin 'Echo' failed: deliberate failure");
    queue().enqueueCommandBatch(R"([["a","Echo","fail",[]],["b","Echo","echo",[]]])");
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"fail:a", "echo:b"}));
    EXPECT_TRUE(log.contains("ERROR: Method 'fail:' of Plugin 'Echo' failed: deliberate failure"));
    EXPECT_FALSE(queue().currentlyExecuting());
}

class FailingStartPlugin : public EchoPlugin {
public:
    void pluginInitialize() override { throw std::runtime_error("cannot start"); }
};

TEST_F(HYBCommandQueueTest, PluginThatFailsToStartIsLogged) {
    rt::ClassRegistry::shared().registerClass(
        "FailingStart", std::nullopt, [] { return std::make_shared<FailingStartPlugin>(); });
    testsupport::LogCapture log;
    log.expect("ERROR: Plugin 'Bad' failed to start: cannot start");
    log.expect("ERROR: Plugin 'Bad' not found, or is not a HYBPlugin.");
    writeConfig(defaultConfig(
        R"(<feature name="Bad"><param name="ios-package" value="FailingStart"/></feature>)"));
    controller().loadSettings();
    EXPECT_FALSE(queue().execute(HYBInvokedUrlCommand({}, "x", "Bad", "echo")));
    EXPECT_TRUE(log.contains("ERROR: Plugin 'Bad' failed to start: cannot start"));
}

TEST_F(HYBCommandQueueTest, BadBatchesAreDroppedWithoutBlockingTheQueue) {
    testsupport::LogCapture log;
    log.expect("ERROR: Command batch is not an array of commands; dropped.");
    log.expect("ERROR: Page call is not [callbackId, service, action, arguments]; dropped.");
    queue().enqueueCommandBatch("not json");
    queue().enqueueCommandBatch(R"({"a":1})");
    queue().enqueueCommandBatch(R"([1,"x",["only","two"],["ok","Echo","echo",[]]])");
    queue().enqueueCommandBatch(R"([["last","Echo","echo",[]]])");
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"echo:ok", "echo:last"}));
    EXPECT_TRUE(log.contains("NSString JSONObject error: "));
    EXPECT_TRUE(log.contains("ERROR: Command batch is not an array of commands; dropped."));
    // A long unparsable batch goes the same way through the background parse.
    calls().clear();
    queue().enqueueCommandBatch(std::string(5000, '['));
    queue().enqueueCommandBatch(R"([["after","Echo","echo",[]]])");
    loop().runUntilIdle();
    queue().executePending();
    EXPECT_EQ(calls(), std::vector<std::string>{"echo:after"});
}

// Anything malformed in a batch, however deep in a later command, drops the batch whole before
// any of it runs; a well-formed batch runs with its arguments as the tree reader reads them.
TEST_F(HYBCommandQueueTest, BatchesAreCheckedWholeBeforeAnyCommandRuns) {
    testsupport::LogCapture log;
    queue().enqueueCommandBatch(R"([["a","Echo","echo",[]],["b","Echo","echo",[{"k":[1,]}]]])");
    queue().enqueueCommandBatch(R"([["c","Echo","echo",[]],["d","Echo","echo",["\x"]]])");
    queue().enqueueCommandBatch(R"([["e","Echo","echo",[]]] trailing)");
    queue().executePending();
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(log.count("NSString JSONObject error: "), 3u);
    // The call whose service is no name is refused as the bridge refuses any such call.
    log.expect("Classname and/or methodName not found for command.");
    engine().fake().clearEvaluatedScripts();
    queue().enqueueCommandBatch(
        R"([["f","Echo","echo",[{"n":18446744073.09551616,"s":"\ud800"}]],[null,"Echo","echo",[]],)"
        R"(["g",1,"echo",[]],["h","Echo","echo",[123456789012345678901]]])");
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"echo:f", "echo:(nil)", "echo:h"}));
    EXPECT_EQ(scripts(), (std::vector<std::string>{
                             callback("f", 1, "{\"n\":18446744073.095516,\"s\":\"\xEF\xBF\xBD\"}"),
                             callback("g", 8, "null"),
                             callback("h", 1, "1.2345678901234568e+20"),
                         }));
}

// A batch is read as the tree reader reads it whole: each command's text, routed, has the same
// refusals, callback id, names and arguments of every kind as the tree reader's value of it,
// for arguments short enough to be read at once and long enough to be read as they go.
TEST(HYBCommandQueueBatchTest, CommandsReadAsTheTreeReaderReadsTheBatch) {
    const std::string longText(5000, 'x');
    const std::string calls[] = {
        R"(["a","S","m",[{"k":[1,{"n":null}],"e":[],"o":{}},[],"\u00e9\ud83d\ude00\u2028",-0,1e-400]])",
        R"(["b","S","m",[18446744073709551615,18446744073709551616,-9223372036854775809,)"
        R"(123456789012345678901,0.1,1e300,2.5E-3,0.30000000000000004441]])",
        R"(["c","S","m",[{"\ud800":"\udc00"},{"HYBType":"ArrayBuffer","data":"AAEC"},{"b":1,"a":2,"b":3}]])",
        R"([null,"S","m",[true,false,null,"",{}]])",
        R"(["d","S","m",[")" + longText +
            R"(",{"k":[18446744073709551616,"\u00e9",-0,1e-400]},[[[]]],"\udc00",0.1]])",
        R"(["e","S","m"])",
        R"([1,"S","m",[]])",
        R"("call")",
        "42",
        "{}",
        "[]",
        R"(["Cb\u0031","Ech\u006f","a",[1]])",
        R"(["f","S","m",{"k":1}])",
        R"(["g","S","m",[1],[2]])",
        R"(["h",7,"m",[]])",
    };
    std::string text = " \n[";
    for (const std::string& call : calls) text += (text.size() > 3 ? " ,\n\t" : "") + call;
    text += " ] ";
    const auto tree = ns::JSONSerialization::read(text, {.loneSurrogatesReplaced = true});
    ASSERT_TRUE(tree.ok() && tree->isArray());
    const auto commands = HYBCommandQueue::readBatch(ns::JSONSlice(ns::JSONText::copy(text)));
    ASSERT_EQ(commands.size(), std::size(calls));
    testsupport::LogCapture log;
    log.expect("Classname and/or methodName not found for command.")
        .expect("Page call is not [callbackId, service, action, arguments]; dropped.");
    for (size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(commands.commands[i], calls[i]);
        const auto expected = HYBInvokedUrlCommand::commandFromJson((*tree->array())[i]);
        const auto command = HYBInvokedUrlCommand::commandFromJSONText(commands.command(i));
        ASSERT_EQ(command.has_value(), expected.has_value()) << calls[i];
        if (!command) continue;
        EXPECT_EQ(command->callbackId(), expected->callbackId()) << calls[i];
        EXPECT_EQ(command->className(), expected->className()) << calls[i];
        EXPECT_EQ(command->methodName(), expected->methodName()) << calls[i];
        EXPECT_EQ(command->arguments(), expected->arguments()) << calls[i];
    }
}

// The commands a batch reads with itself (the usual shape, short arguments) are the commands
// of their texts, arguments' kinds included; the others are left to be routed from their text.
TEST(HYBCommandQueueBatchTest, CommandsReadWithTheBatchAreTheCommandsOfTheirTexts) {
    const std::string calls[] = {
        R"(["a","S","m",[{"k":[1,{"n":null}],"e":[],"o":{}},[],"\u00f1\ud83d\ude00\u2028",1e-400,0.1]])",
        R"(["b","S","m",[18446744073709551615,-9223372036854775808,0.30000000000000004441,2.5E-3,7]])",
        R"(["c","S","m",[{"b":1,"a":2,"b":3},{"HYBType":"ArrayBuffer","data":"AAEC"},)"
        R"({"HYBType":"ArrayBuffer","data":"!!"}]])",
        R"([null,"S","m",[true,false,null,"",{}]])",
        R"(["Cb\u0031","Ech\u006f","a",[1]])",
        R"(["d","S","m",[")" + std::string(5000, 'x') + R"("]])",
        R"(["e","S","m"])",
        R"([1,"S","m",[]])",
        R"("call")",
        R"(["f","S","m",{"k":1}])",
        R"(["g","S","m",[1],[2]])",
        R"(["h","S","m",[-0]])",
        R"(["i","S","m",[-0.0,1]])",
    };
    // Which are read with the batch; "h" may go either way.
    const std::optional<bool> readWithTheBatch[] = {true,  true,  true,  true,  true, false, false,
                                                    false, false, false, false, {},   false};
    std::string text = "[";
    for (const std::string& call : calls) text += (text.size() > 1 ? ",\n" : "") + call;
    text += "]";
    auto batch = HYBCommandQueue::readBatch(ns::JSONSlice(ns::JSONText::copy(text)),
                                            HYBCommandQueue::BatchRead::kCommands);
    ASSERT_EQ(batch.size(), std::size(calls));
    const auto written = [](const ns::Array& values) {
        return ns::JSONSerialization::write(ns::Value(values)).valueOr("(no text)");
    };
    for (size_t i = 0; i < batch.size(); ++i) {
        const std::optional<HYBInvokedUrlCommand> read = batch.takeRead(i);
        if (readWithTheBatch[i]) EXPECT_EQ(read.has_value(), *readWithTheBatch[i]) << calls[i];
        EXPECT_FALSE(batch.takeRead(i).has_value()) << "taken once";
        if (!read) continue;
        const auto expected = HYBInvokedUrlCommand::commandFromJSONText(batch.command(i));
        ASSERT_TRUE(expected.has_value()) << calls[i];
        EXPECT_EQ(read->callbackId(), expected->callbackId()) << calls[i];
        EXPECT_EQ(read->className(), expected->className()) << calls[i];
        EXPECT_EQ(read->methodName(), expected->methodName()) << calls[i];
        EXPECT_EQ(read->arguments(), expected->arguments()) << calls[i];
        EXPECT_EQ(written(read->arguments()), written(expected->arguments())) << calls[i];
    }
    // A batch whose every command is read with it is not split, and loses none of them.
    auto allRead = HYBCommandQueue::readBatch(
        ns::JSONSlice(
            ns::JSONText::copy(R"([["x","S","m",[1]],[null,"S","n",[]],["z","T","o",[{}]]])")),
        HYBCommandQueue::BatchRead::kCommands);
    ASSERT_EQ(allRead.size(), 3u);
    std::vector<std::string> routes;
    for (size_t i = 0; i < allRead.size(); ++i) {
        const auto read = allRead.takeRead(i);
        ASSERT_TRUE(read.has_value()) << i;
        routes.push_back(read->callbackId().value_or("-") + read->className() + read->methodName() +
                         std::to_string(read->arguments().size()));
    }
    EXPECT_EQ(routes, (std::vector<std::string>{"xSm1", "-Sn0", "zTo1"}));
    // A batch that the check's own parse does not take is read from its text alone.
    auto slower = HYBCommandQueue::readBatch(
        ns::JSONSlice(ns::JSONText::copy(R"([["a","S","m",["\udc00"]],["b","S","m",[1]]])")),
        HYBCommandQueue::BatchRead::kCommands);
    ASSERT_EQ(slower.size(), 2u);
    EXPECT_FALSE(slower.takeRead(1).has_value());
}

// A command of a long batch does not keep the whole batch's text alive; one of a short batch,
// or most of a long one, shares it.
TEST(HYBCommandQueueBatchTest, CommandsOfALongBatchHaveTheirOwnText) {
    const std::string small = R"(["a","Echo","echo",[1]])";
    const std::string large = R"(["b","Echo","echo",[")" +
                              std::string(HYBCommandQueue::CommandBatch::kSharedTextLength, 'x') +
                              R"("]])";
    const auto longBatch = HYBCommandQueue::readBatch(
        ns::JSONSlice(ns::JSONText::copy("[" + small + "," + large + "]")));
    ASSERT_EQ(longBatch.size(), 2u);
    EXPECT_NE(longBatch.command(0).owner(), longBatch.text);
    EXPECT_EQ(longBatch.command(0).owner()->text(), small);
    EXPECT_EQ(longBatch.command(1).owner(), longBatch.text);
    EXPECT_EQ(longBatch.command(1).text(), large);
    const auto shortBatch = HYBCommandQueue::readBatch(
        ns::JSONSlice(ns::JSONText::copy("[" + small + "," + small + "]")));
    ASSERT_EQ(shortBatch.size(), 2u);
    EXPECT_EQ(shortBatch.command(1).owner(), shortBatch.text);
    EXPECT_EQ(shortBatch.command(1).text(), small);
}

// What only the slower readers take (a lone surrogate in a key, an integer beyond 64 bits)
// still runs; one malformed call anywhere, even between two good ones, runs none.
TEST_F(HYBCommandQueueTest, BatchRunsWholeOrNotAtAll) {
    queue().enqueueCommandBatch(
        R"([["a","Echo","echo",[{"\ud800":1}]],["b","Echo","echo",[123456789012345678901]]])");
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"echo:a", "echo:b"}));
    calls().clear();
    testsupport::LogCapture log;
    log.expect("NSString JSONObject error: ");
    for (const char* middle : {R"(["x","Echo","echo",[1 2]])", R"(["x","Echo","echo",[01]])",
                               R"(["x","Echo" "echo",[]])", "[\"x\",\"Echo\",\"echo\",[\"\xFF\"]]",
                               R"(["x","Echo","echo",[1e400]])", R"(["x","Echo","echo",[]]])"}) {
        queue().enqueueCommandBatch(std::string(R"([["a","Echo","echo",[]],)") + middle +
                                    R"(,["c","Echo","echo",[]]])");
        // The same, long enough to be checked off the main thread.
        queue().enqueueCommandBatch(std::string(R"([["a","Echo","echo",[")") +
                                    std::string(5000, 'y') + R"("]],)" + middle +
                                    R"(,["c","Echo","echo",[]]])");
    }
    loop().runUntilIdle();
    queue().executePending();
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(log.count("NSString JSONObject error: "), 12u);
}

// A batch that starts with a byte order mark is read as the JSON readers read it: the mark is
// skipped, whether the batch is read at once or off the main thread, with white space after it.
TEST_F(HYBCommandQueueTest, BatchAfterAByteOrderMarkRuns) {
    testsupport::LogCapture log;
    const std::string mark = "\xEF\xBB\xBF";
    queue().enqueueCommandBatch(mark + R"([["a","Echo","echo",[1]],["b","Echo","echo",[]]])");
    queue().enqueueCommandBatch(mark + " \n" + R"([["c","Echo","echo",[")" +
                                std::string(5000, 'z') + R"("]]])");
    loop().runUntilIdle();
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"echo:a", "echo:b", "echo:c"}));
    EXPECT_FALSE(log.contains("ERROR: Command batch is not an array of commands; dropped."));
}

TEST_F(HYBCommandQueueTest, NestedExecutePendingDoesNotRunAnything) {
    queue().enqueueCommandBatch(R"([["n","Echo","nested",[]],["e","Echo","echo",[]]])");
    queue().executePending();
    EXPECT_EQ(calls(), (std::vector<std::string>{"nested:n", "echo:e"}));
}

// Flushes the command queue in the middle of its action, as a plug-in that wants the page's
// waiting calls run may, and then finishes its own work.
class FlushingPlugin : public HYBPlugin {
public:
    FlushingPlugin() { registerAction("flushThenRecord", &FlushingPlugin::flushThenRecord); }
    void flushThenRecord(const HYBInvokedUrlCommand& command) {
        EchoPlugin::calls().push_back("flush:" + command.callbackId().value_or(""));
        auto delegate = std::dynamic_pointer_cast<HYBCommandDelegateImpl>(commandDelegate());
        ASSERT_TRUE(delegate);
        delegate->flushCommandQueueWithDelayedJs();
        EchoPlugin::calls().push_back("after flush:" + command.callbackId().value_or(""));
    }
};

class HYBCommandQueueFlushTest : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        rt::ClassRegistry::shared().registerClass(
            "FlushingPlugin", "HYBPlugin", [] { return std::make_shared<FlushingPlugin>(); });
        writeConfig(defaultConfig(
            R"(<feature name="Flusher"><param name="ios-package" value="FlushingPlugin"/></feature>)"));
        start();
    }
};

// A pass is never started inside a running one: the calls after the flushing one run after it
// has finished, in the order the page made them.
TEST_F(HYBCommandQueueFlushTest, AFlushInsideAnActionLeavesTheLaterCallsToTheRunningPass) {
    auto& queue = *controller().commandQueue();
    queue.enqueueCommandBatch(R"([["f","Flusher","flushThenRecord",[]],["e1","Echo","echo",[]]])");
    queue.enqueueCommandBatch(R"([["e2","Echo","echo",[]]])");
    queue.executePending();
    EXPECT_EQ(EchoPlugin::calls(),
              (std::vector<std::string>{"flush:f", "after flush:f", "echo:e1", "echo:e2"}));
}

TEST_F(HYBCommandQueueTest, FetchCommandsFromThePage) {
    engine().fake().setScriptResponder(
        [](const std::string& script) -> std::optional<ns::Result<ns::Value>> {
            if (script == "hybrid.require('hybrid/exec').nativeFetchMessages()") {
                return ns::Result<ns::Value>(ns::Value(R"([["f","Echo","echo",[]]])"));
            }
            return ns::Result<ns::Value>(ns::Value());
        });
    queue().fetchCommandsFromJs();
    loop().runUntilIdle();
    EXPECT_EQ(calls(), std::vector<std::string>{"echo:f"});
}

TEST_F(HYBCommandQueueTest, PageCallThroughTheEngine) {
    postPageCall(ns::Value::array({"p1", "Echo", "echo", ns::Value::array({"hello"})}));
    postPageCall(ns::Value::array({"p2", "Echo", "keep", ns::Value::array({})}));
    postPageCall(ns::Value::array({"p3", "Echo", "echoArrayBuffer", ns::Value::array({"hi"})}));
    EXPECT_EQ(scripts(), (std::vector<std::string>{
                             callback("p1", 1, R"("hello")"),
                             callback("p2", 1, "null", true),
                             callback("p3", 1, R"({"HYBType":"ArrayBuffer","data":"aGk="})"),
                         }));
}

// A queue needs no view controller: the plug-ins it runs come from the directory it is made
// with, and what it sends to the page goes to the page it is made with.
class RecordingPlugin : public HYBPlugin {
public:
    RecordingPlugin() { registerAction("record", &RecordingPlugin::record); }
    void record(const HYBInvokedUrlCommand& command) {
        EchoPlugin::calls().push_back("record:" + command.callbackId().value_or(""));
    }
};

class OnePluginDirectory : public HYBPluginDirectory {
public:
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view name) override {
        return name == "Recorder" ? plugin : nullptr;
    }
    ns::Dictionary settings() const override { return {}; }
    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }

    std::shared_ptr<HYBPlugin> plugin = std::make_shared<RecordingPlugin>();
};

class RecordingPage : public HYBPageSink {
public:
    void evaluateJavaScript(std::string script, EvaluationHandler completion) override {
        evaluated.push_back(script);
        if (completion) completion(ns::Value(fetched));
    }
    void callAsyncJavaScript(std::string body, ns::Dictionary, EvaluationHandler) override {
        evaluated.push_back(body);
    }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override {
        answers.push_back(callbackId.value_or("-") + ":" + std::to_string(result->status()));
    }

    std::string fetched;
    std::vector<std::string> evaluated;
    std::vector<std::string> answers;
};

TEST_F(HYBCommandQueueTest, AQueueRunsOnTheDirectoryAndPageItIsMadeWith) {
    auto directory = std::make_shared<OnePluginDirectory>();
    auto page = std::make_shared<RecordingPage>();
    auto queue = std::make_shared<HYBCommandQueue>(directory, page);
    page->fetched = R"([["r","Recorder","record",[]],["g","Echo","echo",[]]])";
    queue->fetchCommandsFromJs();
    EXPECT_EQ(page->evaluated,
              std::vector<std::string>{"hybrid.require('hybrid/exec').nativeFetchMessages()"});
    // The controller's Echo plug-in is not in this queue's directory: its call is answered.
    EXPECT_EQ(calls(), std::vector<std::string>{"record:r"});
    EXPECT_EQ(page->answers,
              std::vector<std::string>{"g:" + std::to_string(HYBResultStatusClassNotFound)});
    // Once its owner has gone, the queue reaches neither.
    queue->dispose();
    queue->fetchCommandsFromJs();
    EXPECT_FALSE(queue->execute(HYBInvokedUrlCommand({}, "r2", "Recorder", "record")));
    EXPECT_EQ(page->evaluated.size(), 1u);
    EXPECT_EQ(calls().size(), 1u);
}

}  // namespace
}  // namespace bridgetest
