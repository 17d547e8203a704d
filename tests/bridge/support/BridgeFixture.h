#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBViewController.h"
#include "platform/ns/Value.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "tests/bridge/support/EchoPlugin.h"
#include "tests/bridge/support/TestEngine.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace bridgetest {

// A bundle in a temporary folder (www/index.html, config.xml, Info.plist), a sandbox beside
// it, the test engine and the echo plug-in registered by name, and the main run loop on a
// manual clock.
class BridgeFixture : public testsupport::ManualRunLoop {
protected:
    // The config.xml that start() uses unless a test writes its own.
    static std::string defaultConfig(const std::string& extra = "");

    void SetUp() override;
    void TearDown() override;

    std::string bundlePath() const { return (dir_ / "App").string(); }
    void writeBundleFile(const std::string& relativePath, const std::string& contents);
    void writeConfig(const std::string& xml) { writeBundleFile("config.xml", xml); }
    void writeInfo(const ns::Dictionary& info);

    // Makes the controller, loads its view (start-up) and runs the loop to idle.
    std::shared_ptr<HYBViewController> start();
    HYBViewController& controller() { return *controller_; }
    TestEngine& engine();
    // Scripts the page has been asked to evaluate so far.
    std::vector<std::string> scripts();
    // The page posts a call to the "hybrid" handler; the loop then runs to idle.
    void postPageCall(const ns::Value& body);
    // The callback text the command delegate sends for a result.
    static std::string callback(const std::string& id, int status, const std::string& json,
                                bool keep = false);

    // The classes a test registers go with it.
    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;
    testsupport::TempDir dir_;
    std::shared_ptr<HYBViewController> controller_;
};

}  // namespace bridgetest
