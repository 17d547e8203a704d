#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/RunLoop.h"

namespace testsupport {

// A test on the main run loop with a manual clock: every test starts with an empty loop at
// manual time zero and leaves nothing scheduled behind for the next one.
class ManualRunLoop : public ::testing::Test {
protected:
    void SetUp() override {
        clock_ = std::make_shared<dispatch::ManualClock>();
        dispatch::Clock::setCurrent(clock_);
        loop().reset();
    }
    void TearDown() override {
        loop().runUntilIdle();
        loop().reset();
        dispatch::Clock::setCurrent(nullptr);
    }

    static dispatch::RunLoop& loop() { return dispatch::RunLoop::main(); }
    dispatch::ManualClock& clock() { return *clock_; }

private:
    std::shared_ptr<dispatch::ManualClock> clock_;
};

}  // namespace testsupport
