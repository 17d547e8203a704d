#include "toolbox/Foundation/NSDK_TBXLogger.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "platform/ns/UserDefaults.h"
#include "tests/platform/ns/SandboxFixture.h"
#include "toolbox/Foundation/NSArray+TBXArrayCompositeLogWriter.h"
#include "toolbox/Foundation/NSDK_TBXLogAllowedLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogBasicFormatter.h"
#include "toolbox/Foundation/NSDK_TBXLogLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMaximumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogMininumLevelFilter.h"
#include "toolbox/Foundation/NSDK_TBXLogStandardFormatter.h"
#include "toolbox/Foundation/NSFileHandle+TBXFileHandleLogWriter.h"

namespace {

struct Line {
    std::string text;
    TBXLogLevel level;
    bool operator==(const Line&) const = default;
};

class RecordingWriter : public ns::Object, public TBXLogWriter {
public:
    void logMessage(std::string_view message, TBXLogLevel level) override {
        lines.push_back({std::string(message), level});
    }
    std::vector<Line> lines;
};

class ThrowingFormatter : public TBXLogFormatter {
public:
    std::optional<std::string> stringForFunc(std::string_view, std::string_view,
                                             TBXLogLevel) const override {
        throw std::runtime_error("broken");
    }
};

// Answers no line for any message.
class SilentFormatter : public TBXLogFormatter {
public:
    std::optional<std::string> stringForFunc(std::string_view, std::string_view,
                                             TBXLogLevel) const override {
        return std::nullopt;
    }
};

// Gives each test a clean environment variable and fresh standard user defaults.
class LoggerTest : public testsupport::SandboxTest {
protected:
    void SetUp() override {
        testsupport::SandboxTest::SetUp();
        unsetenv(kTBXVerboseLoggingKey);
        ns::UserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        unsetenv(kTBXVerboseLoggingKey);
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(kTBXVerboseLoggingKey);
        testsupport::SandboxTest::TearDown();
    }

    // The standard formatter and level filter, writing into `out`.
    static std::shared_ptr<NSDK_TBXLogger> standardInto(std::shared_ptr<RecordingWriter> out) {
        return NSDK_TBXLogger::loggerWithWriter(out,
                                                std::make_shared<NSDK_TBXLogStandardFormatter>(),
                                                std::make_shared<NSDK_TBXLogLevelFilter>());
    }
    static void logAllLevels(NSDK_TBXLogger& logger) {
        logger.logDebug("debug");
        logger.logInfo("info");
        logger.logError("error");
        logger.logAssert("assert");
    }
    static std::vector<TBXLogLevel> levels(const RecordingWriter& writer) {
        std::vector<TBXLogLevel> out;
        for (const auto& line : writer.lines) out.push_back(line.level);
        return out;
    }
};

TEST_F(LoggerTest, PlainLoggerWritesUnformattedUnfilteredLinesToStandardOutput) {
    auto logger = NSDK_TBXLogger::logger();
    testing::internal::CaptureStdout();
    logger->logDebug("n=%d s=%@", 7, std::string("x"));
    logger->logFuncInfo("main", "plain");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "n=7 s=x\nplain\n");

    // Setting a part to null restores its default rather than leaving a hole.
    logger->setWriter(nullptr);
    logger->setFormatter(nullptr);
    logger->setFilter(nullptr);
    EXPECT_EQ(logger->writer(), TBXFileHandleLogWriter::standardOutput());
    EXPECT_TRUE(std::dynamic_pointer_cast<NSDK_TBXLogBasicFormatter>(logger->formatter()));
    EXPECT_TRUE(logger->filter()->filterAllowsMessage("", kTBXLogLevelDebug));
}

TEST_F(LoggerTest, StandardFormatterLineNamesProcessLevelAndFunction) {
    auto out = std::make_shared<RecordingWriter>();
    auto logger = standardInto(out);
    logger->logError("lost %d", 3);
    logger->logFuncError("main", "in main");
    logger->logFuncError("-[A b:]", "in method");
    logger->logFuncError("  f(int)\n", "trimmed");
    ASSERT_EQ(out->lines.size(), 4u);
    std::regex shape(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+/0x[0-9a-f]+\] \[lvl=3\] \(unknown\) lost 3)");
    EXPECT_TRUE(std::regex_match(out->lines[0].text, shape)) << out->lines[0].text;
    EXPECT_NE(out->lines[1].text.find("[lvl=3] main() in main"), std::string::npos);
    EXPECT_NE(out->lines[2].text.find("[lvl=3] -[A b:] in method"), std::string::npos);
    EXPECT_NE(out->lines[3].text.find("[lvl=3] f(int) trimmed"), std::string::npos);
}

TEST_F(LoggerTest, StandardLoggerDropsDebugAndKeepsInfoOnlyWhenVerbose) {
    auto out = std::make_shared<RecordingWriter>();
    logAllLevels(*standardInto(out));
    EXPECT_EQ(levels(*out), (std::vector<TBXLogLevel>{3, 4}));

    // User defaults decide when the environment is silent, and a change is followed.
    auto logger = standardInto(out);
    ns::UserDefaults::standardUserDefaults()->setBool(kTBXVerboseLoggingKey, true);
    out->lines.clear();
    logAllLevels(*logger);
    EXPECT_EQ(levels(*out), (std::vector<TBXLogLevel>{2, 3, 4}));

    // The environment wins over the defaults.
    setenv(kTBXVerboseLoggingKey, "no", 1);
    out->lines.clear();
    logAllLevels(*standardInto(out));
    EXPECT_EQ(levels(*out), (std::vector<TBXLogLevel>{3, 4}));
}

TEST_F(LoggerTest, VerboseEnvironmentValues) {
    for (const char* yes : {"yes", "True", " y", "1", "t", "42"}) {
        EXPECT_TRUE(NSDK_TBXLogLevelFilter::environmentValueMeansYes(yes)) << yes;
    }
    for (const char* no : {"no", "0", "", "false?", "nope"}) {
        EXPECT_FALSE(NSDK_TBXLogLevelFilter::environmentValueMeansYes(no)) << no;
    }
    setenv(kTBXVerboseLoggingKey, " y", 1);
    auto out = std::make_shared<RecordingWriter>();
    standardInto(out)->logInfo("shown");
    EXPECT_EQ(out->lines.size(), 1u);
}

TEST_F(LoggerTest, LevelSetFilters) {
    EXPECT_EQ(NSDK_TBXLogAllowedLevelFilter::initWithAllowedLevels(std::set<TBXLogLevel>{1, 5}),
              nullptr);
    EXPECT_EQ(NSDK_TBXLogAllowedLevelFilter::initWithAllowedLevels(std::set<TBXLogLevel>{}),
              nullptr);
    EXPECT_EQ(NSDK_TBXLogAllowedLevelFilter::initWithAllowedLevels(std::nullopt), nullptr);
    EXPECT_EQ(NSDK_TBXLogMininumLevelFilter::initWithMinimumLevel(5), nullptr);
    EXPECT_EQ(NSDK_TBXLogAllowedLevelFilter::init()->allowedLevels(),
              (std::set<TBXLogLevel>{0, 1, 2, 3, 4}));
    EXPECT_EQ(NSDK_TBXLogMininumLevelFilter::initWithMinimumLevel(3)->allowedLevels(),
              (std::set<TBXLogLevel>{3, 4}));
    auto upToInfo = NSDK_TBXLogMaximumLevelFilter::initWithMaximumLevel(2);
    EXPECT_EQ(upToInfo->allowedLevels(), (std::set<TBXLogLevel>{0, 1, 2}));
    EXPECT_TRUE(upToInfo->filterAllowsMessage("x", 0));
    EXPECT_FALSE(upToInfo->filterAllowsMessage("x", 3));
}

TEST_F(LoggerTest, LoggersChainAndFanOutThroughArrays) {
    auto low = std::make_shared<RecordingWriter>();
    auto high = std::make_shared<RecordingWriter>();
    auto lowLogger = NSDK_TBXLogger::loggerWithWriter(
        low, nullptr, NSDK_TBXLogMaximumLevelFilter::initWithMaximumLevel(2));
    auto highLogger = NSDK_TBXLogger::loggerWithWriter(
        high, nullptr, NSDK_TBXLogMininumLevelFilter::initWithMinimumLevel(3));
    auto notAWriter = std::make_shared<ns::Object>();
    auto fanOut = std::make_shared<TBXArrayCompositeLogWriter>(
        std::vector<std::shared_ptr<ns::Object>>{notAWriter, lowLogger, highLogger});
    auto top = NSDK_TBXLogger::loggerWithWriter(fanOut, nullptr, nullptr);
    top->logInfo("i%d", 1);
    top->logError("e%@", std::string("%d"));  // a message is never read as a format again
    EXPECT_EQ(low->lines, (std::vector<Line>{{"i1", 2}}));
    EXPECT_EQ(high->lines, (std::vector<Line>{{"e%d", 3}}));

    // As a writer, a logger passes on levels 1 to 4 and drops the rest.
    lowLogger->logMessage("odd", 7);
    lowLogger->logMessage("zero", 0);
    EXPECT_EQ(low->lines.size(), 1u);
}

TEST_F(LoggerTest, StdoutAndStderrSplitByLevel) {
    setenv(kTBXVerboseLoggingKey, "1", 1);
    auto logger = NSDK_TBXLogger::standardLoggerWithStdoutAndStderr();
    ASSERT_TRUE(logger);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    logger->logInfo("to-out");
    logger->logError("to-err");
    logger->logAssert("to-err-too");
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("[lvl=2] (unknown) to-out\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("to-err"), std::string::npos);
    EXPECT_NE(err.find("[lvl=3] (unknown) to-err\n"), std::string::npos) << err;
    EXPECT_NE(err.find("[lvl=4] (unknown) to-err-too\n"), std::string::npos);
    EXPECT_EQ(err.find("to-out"), std::string::npos);
}

TEST_F(LoggerTest, PathLoggerAppendsAndRefusesWhatCannotBeOpened) {
    std::string file = path("log.txt");
    {
        auto logger = NSDK_TBXLogger::standardLoggerWithPath(file);
        ASSERT_TRUE(logger);
        logger->logError("first");
    }
    NSDK_TBXLogger::standardLoggerWithPath(file)->logError("second");
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("first\n"), std::string::npos);
    EXPECT_NE(text.str().find("second\n"), std::string::npos);
    EXPECT_EQ(NSDK_TBXLogger::standardLoggerWithPath(path("missing/dir/log.txt")), nullptr);
    EXPECT_EQ(TBXFileHandleLogWriter::fileHandleForLoggingAtPath(std::nullopt, 0644), nullptr);
}

TEST_F(LoggerTest, BrokenFormatterDropsTheMessageAndSharedLoggerIsRecreated) {
    auto out = std::make_shared<RecordingWriter>();
    auto logger =
        NSDK_TBXLogger::loggerWithWriter(out, std::make_shared<ThrowingFormatter>(), nullptr);
    logger->logError("never");
    logger->setFormatter(std::make_shared<SilentFormatter>());
    logger->logError("never either");
    EXPECT_TRUE(out->lines.empty());

    auto shared = NSDK_TBXLogger::sharedLogger();
    EXPECT_EQ(NSDK_TBXLogger::sharedLogger(), shared);
    NSDK_TBXLogger::setSharedLogger(logger);
    EXPECT_EQ(NSDK_TBXLogger::sharedLogger(), logger);
    NSDK_TBXLogger::setSharedLogger(nullptr);
    EXPECT_TRUE(NSDK_TBXLogger::sharedLogger());
    EXPECT_NE(NSDK_TBXLogger::sharedLogger(), logger);
}

}  // namespace
