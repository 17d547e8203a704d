#include "tests/e2e/E2EProbe.h"

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/wk/URLSchemeTask.h"

namespace {

std::shared_ptr<HYBPluginResult> resultOfKind(const std::string& kind) {
    const auto ok = HYBResultStatusOK;
    if (kind == "string")
        return HYBPluginResult::resultWithStatusMessageAsString(ok, "héllo \"quoted\" \u2028");
    if (kind == "int") return HYBPluginResult::resultWithStatusMessageAsInt(ok, -42);
    if (kind == "double") return HYBPluginResult::resultWithStatusMessageAsDouble(ok, 2.5);
    if (kind == "bool") return HYBPluginResult::resultWithStatusMessageAsBool(ok, true);
    if (kind == "array") {
        return HYBPluginResult::resultWithStatusMessageAsArray(
            ok, ns::Array{ns::Value(1), ns::Value("two"), ns::Value(), ns::Value(false)});
    }
    if (kind == "dictionary") {
        return HYBPluginResult::resultWithStatusMessageAsDictionary(
            ok, ns::Dictionary{{"name", ns::Value("probe")},
                               {"nested", ns::Value(ns::Dictionary{{"n", ns::Value(1)}})}});
    }
    const ns::Data bytes(std::vector<uint8_t>{0, 1, 2, 254, 255});
    if (kind == "arrayBuffer")
        return HYBPluginResult::resultWithStatusMessageAsArrayBuffer(ok, bytes);
    if (kind == "multipart") {
        return HYBPluginResult::resultWithStatusMessageAsMultipart(
            ok, ns::Array{ns::Value("text"), ns::Value(bytes), ns::Value(3)});
    }
    if (kind == "errorObject") {
        return HYBPluginResult::resultWithStatusMessageToErrorObject(HYBResultStatusError, 7);
    }
    return HYBPluginResult::resultWithStatus(HYBResultStatusNoResult);
}

}  // namespace

E2EProbe::E2EProbe() {
    registerAction("echo", &E2EProbe::echo);
    registerAction("kind", &E2EProbe::kind);
    registerAction("stream", &E2EProbe::stream);
    registerAction("background", &E2EProbe::background);
}

void E2EProbe::echo(const HYBInvokedUrlCommand& command) {
    echoed().push_back(command.callbackId().value_or(""));
    const ns::Value value = command.argumentAtIndex(0);
    commandDelegate()->sendPluginResult(
        value.isData() ? HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK,
                                                                               *value.data())
                       : std::make_shared<HYBPluginResult>(HYBResultStatusOK, value),
        command.callbackId());
}

void E2EProbe::kind(const HYBInvokedUrlCommand& command) {
    const ns::Value name = command.argumentAtIndex(0);
    commandDelegate()->sendPluginResult(resultOfKind(name.isString() ? *name.string() : ""),
                                        command.callbackId());
}

void E2EProbe::stream(const HYBInvokedUrlCommand& command) {
    const ns::Value count = command.argumentAtIndex(0);
    const int64_t n = count.isNumber() ? count.integerValue() : 0;
    for (int64_t i = 1; i <= n; ++i) {
        auto result = HYBPluginResult::resultWithStatusMessageAsNSInteger(HYBResultStatusOK, i);
        result->setKeepCallback(true);
        commandDelegate()->sendPluginResult(result, command.callbackId());
    }
    commandDelegate()->sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, "done"),
        command.callbackId());
}

void E2EProbe::background(const HYBInvokedUrlCommand& command) {
    auto delegate = commandDelegate();
    delegate->runInBackground([delegate, command] {
        const bool onMain = dispatch::RunLoop::isMainThread();
        delegate->sendPluginResult(
            HYBPluginResult::resultWithStatusMessageAsDictionary(
                HYBResultStatusOK, ns::Dictionary{{"value", command.argumentAtIndex(0)},
                                                  {"ranOnMainThread", ns::Value(onMain)}}),
            command.callbackId());
    });
}

bool E2EProbe::overrideSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) {
    if (!task->request().url().path().starts_with("/held/")) return false;
    held().push_back(task);
    return true;
}

void E2EProbe::stopSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) {
    stopped().push_back(task->request().url().path());
}

std::vector<std::shared_ptr<wk::URLSchemeTask>>& E2EProbe::held() {
    static std::vector<std::shared_ptr<wk::URLSchemeTask>> tasks;
    return tasks;
}

std::vector<std::string>& E2EProbe::echoed() {
    static std::vector<std::string> callbackIds;
    return callbackIds;
}

std::vector<std::string>& E2EProbe::stopped() {
    static std::vector<std::string> paths;
    return paths;
}
