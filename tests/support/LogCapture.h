#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Log.h"

namespace testsupport {

// Collects the log lines written while it lives, from any thread, for assertions.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<ns::LogEntry> entries() const;
    // The message texts, in order.
    std::vector<std::string> texts() const;
    // Whether some message contains the text.
    bool contains(std::string_view text) const;
    size_t count(std::string_view text) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<ns::LogEntry> entries_;
    ns::Log::SinkToken token_;
};

}  // namespace testsupport
