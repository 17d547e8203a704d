#include "tests/bridge/support/EchoPlugin.h"

#include <stdexcept>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "platform/dispatch/Clock.h"

namespace bridgetest {

EchoPlugin::EchoPlugin() {
    registerAction("echo", &EchoPlugin::echo);
    registerAction("echoArrayBuffer", &EchoPlugin::echoArrayBuffer);
    registerAction("keep", &EchoPlugin::keep);
    registerAction("sleep", &EchoPlugin::sleep);
    registerAction("fail", &EchoPlugin::fail);
    registerAction("background", &EchoPlugin::background);
    registerAction("nested", &EchoPlugin::nested);
}

std::vector<std::string>& EchoPlugin::calls() {
    static std::vector<std::string> list;
    return list;
}

void EchoPlugin::record(const HYBInvokedUrlCommand& command) {
    calls().push_back(command.methodName() + ":" + command.callbackId().value_or("(nil)"));
}

void EchoPlugin::echo(const HYBInvokedUrlCommand& command) {
    record(command);
    commandDelegate()->sendPluginResult(
        std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
        command.callbackId());
}

void EchoPlugin::echoArrayBuffer(const HYBInvokedUrlCommand& command) {
    record(command);
    const ns::Value text = command.argumentAtIndex(0, "", &ns::Value::isString);
    commandDelegate()->sendPluginResult(
        HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK,
                                                              ns::Data::fromString(*text.string())),
        command.callbackId());
}

void EchoPlugin::keep(const HYBInvokedUrlCommand& command) {
    record(command);
    auto result = std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0));
    result->setKeepCallbackAsBool(true);
    commandDelegate()->sendPluginResult(result, command.callbackId());
}

void EchoPlugin::sleep(const HYBInvokedUrlCommand& command) {
    record(command);
    auto clock = std::dynamic_pointer_cast<dispatch::ManualClock>(dispatch::Clock::currentShared());
    if (clock) clock->advanceSeconds(command.argumentAtIndex(0).doubleValue() / 1000.0);
}

void EchoPlugin::fail(const HYBInvokedUrlCommand& command) {
    record(command);
    throw std::runtime_error("deliberate failure");
}

void EchoPlugin::background(const HYBInvokedUrlCommand& command) {
    record(command);
    std::shared_ptr<HYBCommandDelegate> delegate = commandDelegate();
    delegate->runInBackground([delegate, command] {
        delegate->sendPluginResult(
            std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
            command.callbackId());
    });
}

void EchoPlugin::nested(const HYBInvokedUrlCommand& command) {
    record(command);
    viewController()->commandQueue()->executePending();
}

}  // namespace bridgetest
