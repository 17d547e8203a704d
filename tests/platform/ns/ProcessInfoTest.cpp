#include "platform/ns/ProcessInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "platform/dispatch/Clock.h"

namespace {

using ns::ProcessInfo;

TEST(ProcessInfo, ArgumentsNameAndEnvironment) {
    auto& info = ProcessInfo::processInfo();
    auto saved = info.arguments();
    const char* argv[] = {"/usr/bin/hybrid-host", "--sandbox", "/x"};
    info.setArguments(3, argv);
    EXPECT_EQ(info.arguments(),
              (std::vector<std::string>{"/usr/bin/hybrid-host", "--sandbox", "/x"}));
    EXPECT_EQ(info.processName(), "hybrid-host");
    info.setArguments(saved);

    ::setenv("HYB_PROCESS_INFO_TEST", "a=b", 1);
    EXPECT_EQ(info.environment()["HYB_PROCESS_INFO_TEST"], "a=b");
    ::unsetenv("HYB_PROCESS_INFO_TEST");
    EXPECT_EQ(info.environment().count("HYB_PROCESS_INFO_TEST"), 0u);
    EXPECT_EQ(info.processIdentifier(), ::getpid());
    EXPECT_FALSE(info.hostName().empty());
}

TEST(ProcessInfo, GloballyUniqueStringsDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        auto s = ProcessInfo::processInfo().globallyUniqueString();
        EXPECT_NE(s.find("-" + std::to_string(::getpid()) + "-"), std::string::npos) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(ProcessInfo, UptimeFollowsTheProcessClock) {
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::Clock::setCurrent(clock);
    double before = ProcessInfo::processInfo().systemUptime();
    clock->advanceSeconds(2.5);
    EXPECT_DOUBLE_EQ(ProcessInfo::processInfo().systemUptime() - before, 2.5);
    dispatch::Clock::setCurrent(nullptr);
}

}  // namespace
