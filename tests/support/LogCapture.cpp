#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace testsupport {

LogCapture::LogCapture() {
    token_ = ns::Log::addClaimingSink([this](const ns::LogEntry& entry) { return record(entry); });
}

LogCapture::~LogCapture() {
    ns::Log::removeSink(token_);
    verify();
}

bool LogCapture::record(const ns::LogEntry& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
    bool expected = false;
    for (auto& expectation : expected_) {
        if (entry.text.find(expectation.text) == std::string::npos) continue;
        ++expectation.seen;
        expected = true;
    }
    return expected;
}

LogCapture& LogCapture::expect(std::string_view text) {
    std::lock_guard lock(mutex_);
    expected_.push_back({std::string(text)});
    return *this;
}

void LogCapture::verify() {
    std::vector<Expectation> expected;
    {
        std::lock_guard lock(mutex_);
        expected.swap(expected_);
    }
    for (const auto& expectation : expected) {
        if (expectation.seen == 0) {
            ADD_FAILURE() << "no log line contained the expected \"" << expectation.text << "\"";
        }
    }
}

std::vector<ns::LogEntry> LogCapture::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> LogCapture::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : entries_) out.push_back(e.text);
    return out;
}

bool LogCapture::contains(std::string_view text) const {
    return count(text) > 0;
}

size_t LogCapture::count(std::string_view text) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& e : entries_) {
        if (e.text.find(text) != std::string::npos) ++n;
    }
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace testsupport
