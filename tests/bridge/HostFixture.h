#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngine.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/testing/FakeEngine.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/wk/WebView.h"
#include "tests/bridge/support/EchoPlugin.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace hosttest {

// A host on the fake engine, built from a bundle the test writes: config.xml (with the
// preferences, features and elements given), Info.plist and www files, in a fresh sandbox.
// The host classes and the bridge tests' EchoPlugin are registered under their class names.
class HostFixture : public testsupport::ManualRunLoop {
protected:
    void SetUp() override;
    void TearDown() override;

    // config.xml with these extra elements inside <widget> (preferences, features, ...). The
    // Echo service ("Echo" -> EchoPlugin) is always there.
    void writeConfig(const std::string& elements);
    void writeFile(const std::string& relativePath, const std::string& content);
    void writeInfoPlist(const std::string& dictEntries);

    // Makes the controller, loads its view (settings, engine, start-up plug-ins, start page)
    // and runs the loop to idle.
    std::shared_ptr<HYBViewController> start();

    std::shared_ptr<HYBWebViewEngine> engine() const;
    std::shared_ptr<wk::WebView> webView() const;
    wk::FakeEngine& page() const;
    std::shared_ptr<bridgetest::EchoPlugin> echo() const;
    // The calls of the echo plug-in so far.
    static const std::vector<std::string>& echoCalls() { return bridgetest::EchoPlugin::calls(); }

    std::string bundlePath() const { return bundle_.str(); }
    std::string sandboxPath() const { return sandbox_.str(); }

    // The classes a test registers go with it.
    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;
    testsupport::TempDir bundle_;
    testsupport::TempDir sandbox_;
    std::shared_ptr<HYBViewController> controller_;
};

}  // namespace hosttest
