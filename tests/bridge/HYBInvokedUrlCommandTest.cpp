#include "bridge/HYBInvokedUrlCommand.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ns/JSONSerialization.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NsPrinters.h"

namespace {

ns::Value envelope(ns::Value data) {
    ns::Dictionary d{{"HYBType", "ArrayBuffer"}};
    if (!data.isNull()) d.emplace("data", std::move(data));
    return ns::Value(std::move(d));
}

TEST(HYBInvokedUrlCommandTest, ReadsThePageCall) {
    auto command = HYBInvokedUrlCommand::commandFromJson(
        ns::Value::array({"Cb1", "Echo", "echoThis", ns::Value::array({"a", 2})}));
    ASSERT_TRUE(command);
    EXPECT_EQ(command->callbackId(), "Cb1");
    EXPECT_EQ(command->className(), "Echo");
    EXPECT_EQ(command->methodName(), "echoThis");
    EXPECT_EQ(command->arguments(), (ns::Array{"a", 2}));
}

TEST(HYBInvokedUrlCommandTest, NullCallbackIdAndNamesKeptAsSent) {
    auto command = HYBInvokedUrlCommand::commandFromJson(
        ns::Value::array({nullptr, "MiXeD", "DoIt", ns::Value::array({})}));
    ASSERT_TRUE(command);
    EXPECT_FALSE(command->callbackId().has_value());
    EXPECT_EQ(command->className(), "MiXeD");
    EXPECT_EQ(command->methodName(), "DoIt");
}

TEST(HYBInvokedUrlCommandTest, MalformedCallsAreRefusedWithALogLine) {
    const ns::Value refused[] = {
        ns::Value(),
        ns::Value("text"),
        ns::Value::dict({{"a", 1}}),
        ns::Value::array({}),
        ns::Value::array({"id", "S", "a"}),
        ns::Value::array({1, "S", "a", ns::Value::array({})}),
        ns::Value::array({"id", nullptr, "a", ns::Value::array({})}),
        ns::Value::array({"id", "S", 7, ns::Value::array({})}),
    };
    for (const ns::Value& body : refused) {
        testsupport::LogCapture log;
        log.expect("ERROR: ");
        EXPECT_FALSE(HYBInvokedUrlCommand::commandFromJson(body)) << body.description();
        EXPECT_EQ(log.texts().size(), 1u) << body.description();
    }
    testsupport::LogCapture log;
    log.expect("ERROR: Classname and/or methodName not found for command.");
    HYBInvokedUrlCommand::commandFromJson(ns::Value::array({"id", 1, "a", ns::Value()}));
    EXPECT_TRUE(log.contains("ERROR: Classname and/or methodName not found for command."));
}

TEST(HYBInvokedUrlCommandTest, ArgumentsThatAreNotAnArrayCountAsNone) {
    auto command =
        HYBInvokedUrlCommand::commandFromJson(ns::Value::array({"id", "S", "a", "notarray", 5}));
    ASSERT_TRUE(command);
    EXPECT_TRUE(command->arguments().empty());
}

TEST(HYBInvokedUrlCommandTest, ArrayBufferEnvelopesBecomeBytes) {
    ns::Array args{envelope("AAEC"),
                   envelope(nullptr),
                   ns::Value::array({envelope("AAEC")}),
                   envelope("not base64!"),
                   envelope(5),
                   ns::Value::dict({{"HYBType", "Other"}, {"data", "AAEC"}})};
    const ns::Array original = args;
    HYBInvokedUrlCommand command(args, "id", "S", "a");
    EXPECT_EQ(args, original);  // the caller's array is never changed
    ASSERT_EQ(command.arguments().size(), original.size());
    EXPECT_EQ(command.arguments()[0], ns::Value(ns::Data(std::vector<uint8_t>{0, 1, 2})));
    for (size_t i = 1; i < original.size(); ++i) {
        EXPECT_EQ(command.arguments()[i], original[i]) << i;
    }
    HYBInvokedUrlCommand plain(original, "id", "S", "a");
    EXPECT_EQ(HYBInvokedUrlCommand(ns::Array{"x"}, "id", "S", "a").arguments(), ns::Array{"x"});
}

TEST(HYBInvokedUrlCommandTest, ArgumentAtIndexDefaults) {
    HYBInvokedUrlCommand command(ns::Array{"s", 3, nullptr, true}, "id", "S", "a");
    EXPECT_EQ(command.argumentAtIndex(0), ns::Value("s"));
    EXPECT_EQ(command.argumentAtIndex(4), ns::Value());
    EXPECT_EQ(command.argumentAtIndex(4, "d"), ns::Value("d"));
    EXPECT_EQ(command.argumentAtIndex(2, "d"), ns::Value("d"));
    EXPECT_EQ(command.argumentAtIndex(1, "d", &ns::Value::isString), ns::Value("d"));
    EXPECT_EQ(command.argumentAtIndex(1, "d", &ns::Value::isNumber), ns::Value(3));
    EXPECT_EQ(command.argumentAtIndex(3, 0, &ns::Value::isBool), ns::Value(true));
    // Without a default, the argument is read where the command keeps it, never copied.
    EXPECT_EQ(&command.argumentAtIndex(0), &command.arguments()[0]);
    EXPECT_TRUE(command.argumentAtIndex(2).isNull());
}

// Copies are how plug-ins keep a command for later or another thread: each stays whole on its
// own, and one that was moved from reads as having no arguments.
TEST(HYBInvokedUrlCommandTest, CopiesStandAloneAndAMovedFromCommandHasNoArguments) {
    std::optional<HYBInvokedUrlCommand> original(
        std::in_place, ns::Array{"a", ns::Value::dict({{"k", 1}})}, "cb", "S", "m");
    const HYBInvokedUrlCommand copy = *original;
    HYBInvokedUrlCommand moved = std::move(*original);
    EXPECT_TRUE(original->arguments().empty());
    EXPECT_EQ(original->argumentAtIndex(0, "none"), ns::Value("none"));
    original.reset();
    EXPECT_EQ(copy.arguments(), (ns::Array{"a", ns::Value::dict({{"k", 1}})}));
    EXPECT_EQ(moved.argumentAtIndex(1)["k"], ns::Value(1));
}

// A call read from its JSON text is the call read from its value: the same refusals and log
// lines, names, callback id and arguments (envelopes decoded), with the arguments read only
// when asked for and their text kept for plug-ins that read them as they go.
TEST(HYBInvokedUrlCommandTest, CallReadFromItsTextIsTheCallReadFromItsValue) {
    const std::string texts[] = {
        R"(["Cb1","Echo","echoThis",["a",2,2.5,{"k":[true,null]}]])",
        R"([null,"MiXeD","DoIt",[]])",
        R"(["id","S","a","notarray",5])",
        R"(["id","S","a",[{"HYBType":"ArrayBuffer","data":"AAEC"},[{"HYBType":"ArrayBuffer","data":"AAEC"}]]])",
        R"(["half\ud800","S","a",["\udc00x"]])",
        "null",
        R"("text")",
        R"({"a":1})",
        "[]",
        R"(["id","S","a"])",
        R"([1,"S","a",[]])",
        R"(["id",null,"a",[]])",
        R"(["id","S",7,[]])",
        R"(["id",1,"a",null])",
        // Shapes the quick reading of a call's head takes, and those it leaves to the reader:
        // white space, escapes and characters beyond ASCII in the names, a fifth element,
        // arguments that are no array, a string in the arguments that holds brackets.
        " \t[ null ,\"S\" ,\r\n\"a\" , [ \"]\\\"[\" , {\"k\":\"}\"} ] ]\n ",
        R"(["Cb\u0031","Ech\u006f","a",[1]])",
        "[\"Cb1\",\"S\xC3\xA9rvice\",\"a\",[1]]",
        R"(["Cb1","S","a",[1],[2]])",
        R"(["Cb1","S","a",{"k":1}])",
        R"(["Cb1","S","a",7])",
    };
    // Calls without a service or action name are refused with this line by both readers.
    testsupport::LogCapture refusals;
    refusals.expect("Classname and/or methodName not found for command.")
        .expect("Page call is not [callbackId, service, action, arguments]; dropped.");
    for (const std::string& text : texts) {
        const auto value = ns::JSONSerialization::read(
            text, {.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
        ASSERT_TRUE(value.ok()) << text;
        std::optional<HYBInvokedUrlCommand> expected, command;
        std::vector<std::string> valueLog, textLog;
        {
            testsupport::LogCapture log;
            expected = HYBInvokedUrlCommand::commandFromJson(*value);
            valueLog = log.texts();
        }
        {
            testsupport::LogCapture log;
            command =
                HYBInvokedUrlCommand::commandFromJSONText(ns::JSONSlice(ns::JSONText::copy(text)));
            textLog = log.texts();
        }
        EXPECT_EQ(textLog, valueLog) << text;
        ASSERT_EQ(command.has_value(), expected.has_value()) << text;
        if (!command) continue;
        EXPECT_EQ(command->callbackId(), expected->callbackId()) << text;
        EXPECT_EQ(command->className(), expected->className()) << text;
        EXPECT_EQ(command->methodName(), expected->methodName()) << text;
        EXPECT_EQ(command->arguments(), expected->arguments()) << text;
    }
    const auto command = HYBInvokedUrlCommand::commandFromJSONText(
        ns::JSONSlice(ns::JSONText::copy(R"(["c","S","a",[{"sql":"x"}, 1]])")));
    ASSERT_TRUE(command && command->argumentsJSON());
    EXPECT_EQ(command->argumentsJSON()->text(), R"([{"sql":"x"}, 1])");
    EXPECT_EQ(HYBInvokedUrlCommand(ns::Array{1}, "c", "S", "a").argumentsJSON(), std::nullopt);
}

// Arguments kept as text are read once, by whichever copy asks first, on any thread.
TEST(HYBInvokedUrlCommandTest, ArgumentsKeptAsTextAreReadOnceForEveryCopy) {
    const auto command = HYBInvokedUrlCommand::commandFromJSONText(
        ns::JSONSlice(ns::JSONText::copy(R"(["c","S","a",["x",{"k":1}]])")));
    ASSERT_TRUE(command);
    const HYBInvokedUrlCommand copy = *command;
    const ns::Array* first = nullptr;
    std::thread other([&] { first = &copy.arguments(); });
    other.join();
    EXPECT_EQ(&command->arguments(), first);
    EXPECT_EQ(command->argumentAtIndex(1)["k"], ns::Value(1));
    // Text that is not an array reads as no arguments, with a line in the log.
    testsupport::LogCapture log;
    log.expect("Arguments of S.a could not be read; the call has none.");
    const auto broken = HYBInvokedUrlCommand::withArgumentsJSON(
        ns::JSONSlice(ns::JSONText::copy("[1,")), "c", "S", "a");
    EXPECT_TRUE(broken.arguments().empty());
    EXPECT_EQ(log.texts().size(), 1u);
}

}  // namespace
