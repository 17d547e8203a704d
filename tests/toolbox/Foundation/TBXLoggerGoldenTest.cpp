// Golden tests of the toolbox logger's output: the bytes its standard loggers write to standard
// output, to standard error and to a file, at every level, with verbose logging off and on,
// compared byte for byte with tests/fixtures/golden/toolbox/.
//
// Normalisation: the process identifier and the thread's identity ("[<pid>/<thread>]") change
// from run to run and are replaced; the time is the manual clock's, in UTC. The process's log
// writes control characters in a line as escapes; any that got through would show as {xx}.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/dispatch/Clock.h"
#include "platform/ns/UserDefaults.h"
#include "tests/platform/ns/SandboxFixture.h"
#include "tests/support/Golden.h"
#include "toolbox/Foundation/NSDK_TBXLogLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogger.h"

namespace {

class TBXLoggerGolden : public testsupport::SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        unsetenv(kTBXVerboseLoggingKey);
        ns::UserDefaults::resetStandardUserDefaults();
        dispatch::Clock::setCurrent(std::make_shared<dispatch::ManualClock>(1.7e9 + 0.125));
    }
    void TearDown() override {
        dispatch::Clock::setCurrent(nullptr);
        unsetenv(kTBXVerboseLoggingKey);
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(kTBXVerboseLoggingKey);
        SandboxTest::TearDown();
    }

    static void logEveryLevel(NSDK_TBXLogger& logger, const char* what) {
        logger.logDebug("%s debug %d", what, 1);
        logger.logInfo("%s info %@", what, std::string("text"));
        logger.logError("%s error", what);
        logger.logAssert("%s assert", what);
        logger.logFuncError("main", "%s error in main", what);
        logger.logFuncInfo("-[NIPReachability start]", "%s info in a method", what);
        logger.logFuncError("  ", "%s error in a blank function", what);
        logger.logError("%s quoted %@", what, std::string("a\nb\x1b[0m"));
    }

    static std::string normalised(const std::string& text) {
        return testsupport::visibleControlCharacters(
            std::regex_replace(text, std::regex(R"(\[\d+/0x[0-9a-f]+\])"), "[<pid>/<thread>]"));
    }

    testsupport::ScopedTimeZone utc_;
};

TEST_F(TBXLoggerGolden, StandardLoggersWriteTheirLines) {
    std::string standardOutput;
    std::string standardError;
    {
        testsupport::StdStreamCapture out(1);
        testsupport::StdStreamCapture err(2);
        logEveryLevel(*NSDK_TBXLogger::standardLogger(), "stdout, quiet:");
        logEveryLevel(*NSDK_TBXLogger::standardLoggerWithStderr(), "stderr, quiet:");
        logEveryLevel(*NSDK_TBXLogger::standardLoggerWithStdoutAndStderr(), "split, quiet:");
        setenv(kTBXVerboseLoggingKey, "yes", 1);
        logEveryLevel(*NSDK_TBXLogger::standardLogger(), "stdout, verbose:");
        logEveryLevel(*NSDK_TBXLogger::standardLoggerWithStdoutAndStderr(), "split, verbose:");
        logEveryLevel(*NSDK_TBXLogger::logger(), "plain:");
        standardOutput = out.text();
        standardError = err.text();
    }
    auto file = NSDK_TBXLogger::standardLoggerWithPath(path("written.log"));
    ASSERT_TRUE(file);
    logEveryLevel(*file, "file, verbose:");
    std::ifstream in(path("written.log"), std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    testsupport::expectMatchesGolden("toolbox/logger-output.txt",
                                     "(standard output)\n" + normalised(standardOutput) +
                                         "(standard error)\n" + normalised(standardError) +
                                         "(file)\n" + normalised(written.str()));
}

}  // namespace
