#pragma once

#include <string>
#include <vector>

#include "bridge/HYBPlugin.h"

namespace bridgetest {

// A plug-in for the bridge's tests. Page actions:
//   echo [value]          OK with the value (as its JSON), or no message
//   echoArrayBuffer [s]   OK with the bytes of the string as an array buffer
//   keep [value]          OK with the value, keep-callback set
//   sleep [ms]            advances the manual clock by ms, sends nothing
//   fail                  throws
//   background [value]    sends the value from the global queue
//   nested                runs the command queue's executePending from inside the action
// Every action call is recorded as "action:callbackId".
class EchoPlugin : public HYBPlugin {
public:
    static constexpr const char* kClassName = "EchoPlugin";

    EchoPlugin();

    void pluginInitialize() override { ++initializeCount; }
    void onReset() override { ++resetCount; }
    void onAppTerminate() override { ++terminateCount; }
    void onMemoryWarning() override { ++memoryWarningCount; }

    void echo(const HYBInvokedUrlCommand& command);
    void echoArrayBuffer(const HYBInvokedUrlCommand& command);
    void keep(const HYBInvokedUrlCommand& command);
    void sleep(const HYBInvokedUrlCommand& command);
    void fail(const HYBInvokedUrlCommand& command);
    void background(const HYBInvokedUrlCommand& command);
    void nested(const HYBInvokedUrlCommand& command);

    // Calls of every EchoPlugin, in order.
    static std::vector<std::string>& calls();

    int initializeCount = 0;
    int resetCount = 0;
    int terminateCount = 0;
    int memoryWarningCount = 0;

private:
    void record(const HYBInvokedUrlCommand& command);
};

}  // namespace bridgetest
