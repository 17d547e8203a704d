#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Log.h"

namespace testsupport {

// Collects the log lines written while it lives, from any thread, for assertions.
//
// A test that drives a failure path says which lines it expects with expect(): a line that
// contains an expected text is the test's own, and is kept out of standard error, so that a
// passing run shows no error the tests meant to cause; any other line is written as usual. An
// expected text that no line contained by the time the capture ends (or at verify()) fails
// the test.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Expects at least one line containing `text` from now on.
    LogCapture& expect(std::string_view text);
    // Fails the test for each expected text that no line has contained; the expectations then
    // end (their lines are written as usual again).
    void verify();

    std::vector<ns::LogEntry> entries() const;
    // The message texts, in order.
    std::vector<std::string> texts() const;
    // Whether some message contains the text.
    bool contains(std::string_view text) const;
    size_t count(std::string_view text) const;
    // Forgets the lines so far (the expectations stay, with what they have seen).
    void clear();

private:
    struct Expectation {
        std::string text;
        size_t seen = 0;
    };
    bool record(const ns::LogEntry& entry);

    mutable std::mutex mutex_;
    std::vector<ns::LogEntry> entries_;
    std::vector<Expectation> expected_;
    ns::Log::SinkToken token_;
};

}  // namespace testsupport
