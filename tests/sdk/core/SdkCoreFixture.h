#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/ProcessInfo.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/sys/DeviceFacts.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "platform/ui/Device.h"
#include "sdk/core/NEBAppRegistry.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBDefaultOptions.h"
#include "sdk/core/NEBOptions.h"
#include "sdk/core/NEBServiceHosts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace sdktest {

inline constexpr const char* kBundleIdentifier = "com.example.greenhouse";

// A fresh sandbox and application bundle per test, on the main run loop with a manual clock,
// with the SDK core's process-wide caches forgotten as at a new launch.
class SdkCoreTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        ASSERT_TRUE(ns::Sandbox::configure(dir_.str() + "/sandbox").ok());
        std::filesystem::create_directories(bundlePath());
        writeInfoPlist({{"CFBundleIdentifier", kBundleIdentifier}});
        ns::UserDefaults::resetStandardUserDefaults();
        ns::ProcessInfo::processInfo().setArguments(std::vector<std::string>{"sdk_core_tests"});
        relaunch();
    }

    void TearDown() override {
        loop().runUntilIdle();
        apps_.reset();
        options_.reset();
        logger_.reset();
        ns::InjectedFaults::clear();
        ManualRunLoop::TearDown();
    }

    // Forgets what the core keeps for the life of a process: the apps, the options read from
    // the bundle, the logger's decisions.
    void relaunch() {
        apps_.reset();
        options_.reset();
        logger_.reset();
        logger_.emplace();
        options_.emplace();
        apps_.emplace();
    }

    std::string bundlePath() const { return dir_.str() + "/Greenhouse.app"; }

    void writeInfoPlist(const ns::Dictionary& info) {
        writePlist(bundlePath() + "/Info.plist", info);
        ns::Bundle::setMainBundlePath(bundlePath());  // a new bundle object reads it afresh
    }

    void writeOptionsPlist(const ns::Dictionary& options) {
        writePlist(bundlePath() + "/NebulaService-Info.plist", options);
    }

    static void writePlist(const std::string& path, const ns::Value& value) {
        auto written = ns::PropertyListSerialization::writeFileAtomically(
            path, value, ns::PropertyListSerialization::Format::XML);
        ASSERT_TRUE(written.ok()) << path;
    }

    // Lets the asynchronous log output reach the capture.
    testsupport::LogCapture& logs() {
        loop().runUntilIdle();
        return logs_;
    }

    testsupport::TempDir dir_;
    ns::ScopedSharedInstance<sys::DeviceFacts> deviceFacts_;
    ns::ScopedSharedInstance<ui::Device> device_;
    ns::ScopedSharedInstance<NEBServiceHosts> hosts_;
    std::optional<ns::ScopedSharedInstance<NEBCoreLogger>> logger_;
    std::optional<ns::ScopedSharedInstance<NEBDefaultOptions>> options_;
    std::optional<ns::ScopedSharedInstance<NEBAppRegistry>> apps_;
    testsupport::LogCapture logs_;
};

}  // namespace sdktest
