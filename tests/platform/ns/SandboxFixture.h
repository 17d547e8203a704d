#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/ns/FileManager.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// Gives each test a fresh sandbox in a temporary folder and clears injected file faults.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto status = ns::Sandbox::configure(dir_.str() + "/sandbox");
        ASSERT_TRUE(status.ok());
    }
    void TearDown() override { ns::InjectedFaults::clear(); }

    std::string path(const std::string& name) const { return dir_.str() + "/" + name; }

    TempDir dir_;
};

}  // namespace testsupport
