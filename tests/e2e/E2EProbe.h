#pragma once

#include "bridge/HYBPlugin.h"

// The end-to-end bundle's "Probe" service: answers page calls with every kind of result.
//   echo [value]           OK with the value as it arrived (bytes as an array buffer)
//   kind [name]            OK with a result of that kind: string, int, double, bool, array,
//                          dictionary, arrayBuffer, multipart; "errorObject" fails with
//                          {"code": 7}; "nothing" answers with no result
//   stream [count]         `count` results that keep the callback, then "done"
//   background [value]     the value, sent from a background queue
class E2EProbe : public HYBPlugin {
public:
    static constexpr const char* kClassName = "E2EProbe";

    E2EProbe();

    void echo(const HYBInvokedUrlCommand& command);
    void kind(const HYBInvokedUrlCommand& command);
    void stream(const HYBInvokedUrlCommand& command);
    void background(const HYBInvokedUrlCommand& command);
};
