#include "platform/ns/Log.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/dispatch/Clock.h"
#include "platform/ns/ProcessInfo.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using ns::Log;
using ns::LogLevel;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Log, LinesCarryLocalTimeFromTheClockProcessAndThread) {
    auto clock = std::make_shared<dispatch::ManualClock>(1700000000.25);
    dispatch::Clock::setCurrent(clock);
    testsupport::LogCapture capture;
    capture.expect("broken");
    ns::nslog("count %d of %@", 3, std::string("items"));
    Log::write(LogLevel::Error, "sub.system", "cat", "broken");
    dispatch::Clock::setCurrent(nullptr);

    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "count 3 of items");
    EXPECT_EQ(entries[0].level, LogLevel::Default);

    time_t seconds = 1700000000;
    struct tm local {};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string process = ns::ProcessInfo::processInfo().processName();
    std::regex line(std::string(stamp) + R"(\.250 )" + process + R"(\[)" +
                    std::to_string(::getpid()) + R"(:\d+\] count 3 of items)");
    EXPECT_TRUE(std::regex_match(entries[0].line, line)) << entries[0].line;
    EXPECT_NE(entries[1].line.find("] [sub.system:cat] <Error> broken"), std::string::npos)
        << entries[1].line;
}

TEST(Log, MinimumLevelFiltersOutputsButNotSinks) {
    testsupport::TempDir dir;
    std::string file = dir.str() + "/log.txt";
    testsupport::LogCapture capture;
    auto saved = Log::minimumLevel();
    ASSERT_TRUE(Log::setFile(file));
    Log::setMinimumLevel(LogLevel::Error);
    Log::setStandardErrorEnabled(false);  // the file shows what is written
    Log::write(LogLevel::Info, "quiet line");
    Log::write(LogLevel::Fault, "loud line");
    Log::setStandardErrorEnabled(true);
    Log::setMinimumLevel(saved);
    ASSERT_TRUE(Log::setFile(""));

    std::string written = readAll(file);
    EXPECT_EQ(written.find("quiet line"), std::string::npos);
    EXPECT_NE(written.find("loud line\n"), std::string::npos);
    EXPECT_TRUE(capture.contains("quiet line"));
    EXPECT_TRUE(capture.contains("loud line"));
    EXPECT_FALSE(Log::setFile(dir.str() + "/missing/log.txt"));
}

// The lines a test expects go to its capture and the other sinks, not to the outputs; every
// other line is written as usual, and an expected line that never comes fails the test.
TEST(Log, ExpectedLinesStayOutOfTheOutputsAndMissingOnesFail) {
    testsupport::TempDir dir;
    const std::string file = dir.str() + "/log.txt";
    ASSERT_TRUE(Log::setFile(file));
    testsupport::LogCapture plain;
    {
        testsupport::LogCapture capture;
        capture.expect("provoked");
        Log::write(LogLevel::Error, "the provoked failure");
        Log::write(LogLevel::Default, "a line of its own");
        EXPECT_EQ(capture.count("provoked"), 1u);
        EXPECT_EQ(capture.count("of its own"), 1u);
    }
    Log::write(LogLevel::Default, "provoked once the capture has gone");
    ASSERT_TRUE(Log::setFile(""));
    const std::string written = readAll(file);
    EXPECT_EQ(written.find("the provoked failure"), std::string::npos) << written;
    EXPECT_NE(written.find("a line of its own\n"), std::string::npos) << written;
    EXPECT_NE(written.find("provoked once the capture has gone\n"), std::string::npos) << written;
    EXPECT_TRUE(plain.contains("the provoked failure"));

    EXPECT_NONFATAL_FAILURE(
        {
            testsupport::LogCapture capture;
            capture.expect("never written");
        },
        "no log line contained the expected \"never written\"");
}

TEST(Log, SinksCanRemoveThemselvesAndAreNotCalledAfterRemoval) {
    int calls = 0;
    Log::SinkToken token = 0;
    token = Log::addSink([&](const ns::LogEntry&) {
        ++calls;
        Log::removeSink(token);
    });
    Log::write(LogLevel::Info, "one");
    Log::write(LogLevel::Info, "two");
    EXPECT_EQ(calls, 1);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) Log::write(LogLevel::Debug, "busy");
    });
    for (int i = 0; i < 50; ++i) {
        auto counter = std::make_unique<std::atomic<int>>(0);
        auto t = Log::addSink([c = counter.get()](const ns::LogEntry&) { ++*c; });
        Log::removeSink(t);
        counter.reset();  // a late call would touch freed memory
    }
    stop = true;
    writer.join();
}

}  // namespace

namespace {

// Page text may carry newlines and terminal escapes: the written line stays one line and shows
// them as escapes, while sinks still get the text as it was.
TEST(Log, ControlCharactersInTextAreEscapedInTheWrittenLine) {
    testsupport::TempDir dir;
    const std::string file = dir.str() + "/log.txt";
    ASSERT_TRUE(Log::setFile(file));
    testsupport::LogCapture capture;
    const std::string text = "a\nforged\r\x1b[31mred\x7f\xc2\x9b\xff\tok \xc3\xa9";
    ns::nslog("%@", text);
    ASSERT_TRUE(Log::setFile(""));
    const std::string written = readAll(file);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
    EXPECT_NE(written.find("a\\nforged\\r\\u001B[31mred\\u007F\\u009B\\xFF\tok \xc3\xa9\n"),
              std::string::npos)
        << written;
    ASSERT_EQ(capture.entries().size(), 1u);
    EXPECT_EQ(capture.entries()[0].text, text);
}

// A component's logger that formats its own lines (its date, its level names) writes them
// through the log to its own descriptor: as they stand, whatever the minimum level, escaped
// like every line, seen by the sinks with the component's subsystem, and kept off the
// descriptor when a test claims them.
TEST(Log, FormattedLinesGoToTheirDescriptorEscapedAndPastTheMinimum) {
    testsupport::TempDir dir;
    const std::string file = dir.str() + "/face.log";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    const auto saved = Log::minimumLevel();
    Log::setMinimumLevel(LogLevel::Fault);
    testsupport::LogCapture capture;
    capture.expect("claimed");
    Log::writeFormattedLine(LogLevel::Debug, "face", "2023-11-14: <Face/DEBUG> a\nb\x1b[0m", fd);
    Log::writeFormattedLine(LogLevel::Error, "face", "the claimed line", fd);
    Log::setMinimumLevel(saved);
    ::close(fd);

    EXPECT_EQ(readAll(file), "2023-11-14: <Face/DEBUG> a\\nb\\u001B[0m\n");
    const auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].subsystem, "face");
    EXPECT_EQ(entries[0].level, LogLevel::Debug);
    EXPECT_EQ(entries[0].text, "2023-11-14: <Face/DEBUG> a\nb\x1b[0m");
    EXPECT_EQ(entries[0].line, "2023-11-14: <Face/DEBUG> a\\nb\\u001B[0m");
}

TEST(Log, TimestampIsTheLocalTimeOfTheClockToTheMillisecond) {
    dispatch::Clock::setCurrent(std::make_shared<dispatch::ManualClock>(1700000000.9999));
    const std::string stamp = Log::timestamp();
    const std::string prefix = Log::linePrefix();
    dispatch::Clock::setCurrent(nullptr);
    time_t seconds = 1700000000;
    struct tm local {};
    localtime_r(&seconds, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S.999", &local);
    EXPECT_EQ(stamp, expected);
    EXPECT_EQ(prefix.substr(0, stamp.size() + 1), stamp + " ");
}

}  // namespace

namespace {

// Exit-time handlers (the flush of user defaults) still write lines after the main thread's
// objects with destructors have gone.
TEST(LogDeathTest, LinesCanBeWrittenWhileTheProcessExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] { ns::Log::write(ns::LogLevel::Default, "at exit"); });
            ns::Log::write(ns::LogLevel::Default, "before exit");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
