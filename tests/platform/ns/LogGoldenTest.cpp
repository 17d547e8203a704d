// Golden test of the process log's lines as standard error receives them: the line's prefix,
// the subsystem and category tag, the level tag of each level, the minimum levels (the
// process's and a subsystem's own) and the escaping of what a line quotes, compared byte for
// byte with tests/fixtures/golden/platform/log-lines.txt.
//
// Normalisation: the process and thread ids of the prefix, which change from run to run,
// become "<pid>" and "<tid>"; the time is the manual clock's, in UTC.
#include <gtest/gtest.h>

#include <regex>

#include "platform/dispatch/Clock.h"
#include "platform/ns/Log.h"
#include "tests/support/Golden.h"

namespace {

using ns::Log;
using ns::LogLevel;

TEST(LogGolden, LinesAsStandardErrorReceivesThem) {
    testsupport::ScopedTimeZone utc;
    // A second the per-thread cache of the time's text has not seen under another zone.
    dispatch::Clock::setCurrent(std::make_shared<dispatch::ManualClock>(1234567890.5));
    const LogLevel minimum = Log::minimumLevel();
    std::string written;
    {
        testsupport::StdStreamCapture err(2);
        Log::setMinimumLevel(LogLevel::Debug);
        for (LogLevel level : {LogLevel::Debug, LogLevel::Info, LogLevel::Default, LogLevel::Error,
                               LogLevel::Fault}) {
            Log::write(level, "golden.subsystem", "category", "with subsystem and category");
            Log::write(level, "golden.subsystem", {}, "with subsystem");
            Log::write(level, "without either");
        }
        ns::nslog("formatted %d %@", 7, std::string("text"));
        Log::write(LogLevel::Error, "golden.subsystem", {},
                   "quoted \"a\nb\r\tc\x1b[0m\x7f \xc2\x85 \xe2\x82\xac \xff\xfe end\"");
        Log::setMinimumLevel(LogLevel::Default);
        Log::write(LogLevel::Info, "golden.subsystem", {}, "below the minimum");
        Log::setMinimumLevel("golden.quiet", LogLevel::Error);
        Log::write(LogLevel::Default, "golden.quiet", {}, "below its subsystem's minimum");
        Log::write(LogLevel::Error, "golden.quiet", {}, "at its subsystem's minimum");
        Log::setMinimumLevel("golden.quiet", std::nullopt);
        Log::write(LogLevel::Default, "golden.quiet", {}, "back to the process's minimum");
        written = err.text();
    }
    Log::setMinimumLevel(minimum);
    dispatch::Clock::setCurrent(nullptr);
    // Only the lines written here: other threads of the process may log meanwhile.
    std::string lines;
    std::istringstream in(written);
    for (std::string line; std::getline(in, line);) {
        if (line.find("2009-02-13 23:31:30.500 ") != 0) continue;
        lines += std::regex_replace(line, std::regex(R"(\[\d+:\d+\] )"), "[<pid>:<tid>] ") + "\n";
    }
    testsupport::expectMatchesGolden("platform/log-lines.txt", lines);
}

}  // namespace
