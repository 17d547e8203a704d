#include "tests/support/LogCapture.h"

namespace testsupport {

LogCapture::LogCapture() {
    token_ = ns::Log::addSink([this](const ns::LogEntry& entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
    });
}

LogCapture::~LogCapture() {
    ns::Log::removeSink(token_);
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
