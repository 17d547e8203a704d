#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBPlugin.h"

// The end-to-end bundle's "Probe" service: answers page calls with every kind of result.
//   echo [value]           OK with the value as it arrived (bytes as an array buffer); the
//                          call's id is kept in echoed()
//   kind [name]            OK with a result of that kind: string, int, double, bool, array,
//                          dictionary, arrayBuffer, multipart; "errorObject" fails with
//                          {"code": 7}; "nothing" answers with no result
//   stream [count]         `count` results that keep the callback, then "done"
//   background [value]     the value, sent from a background queue
// It also takes the app scheme's requests for paths under /held/ and answers none of them
// until a test does (held()); the ones the page gives up are listed in stopped().
class E2EProbe : public HYBPlugin {
public:
    static constexpr const char* kClassName = "E2EProbe";

    E2EProbe();

    void echo(const HYBInvokedUrlCommand& command);
    void kind(const HYBInvokedUrlCommand& command);
    void stream(const HYBInvokedUrlCommand& command);
    void background(const HYBInvokedUrlCommand& command);

    bool answersOverrideSchemeTask() const override { return true; }
    bool overrideSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) override;
    bool answersStopSchemeTask() const override { return true; }
    void stopSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) override;

    static std::vector<std::shared_ptr<wk::URLSchemeTask>>& held();
    static std::vector<std::string>& stopped();
    // The callback ids of the echo calls that reached the plug-in.
    static std::vector<std::string>& echoed();
};
