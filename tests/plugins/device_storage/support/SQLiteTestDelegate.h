#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "platform/ns/Value.h"

namespace sqlitetest {

// One result as a plug-in sent it.
struct SentResult {
    std::string callbackId;
    unsigned status = 0;
    ns::Value message;
    bool keepCallback = false;
    // The message as the page gets it.
    std::string json;
};

// A command delegate that records every result, from any thread, in the order sent.
// Background work goes to the global queue, or runs at once on the caller when `inline` is
// set (for threads the test makes itself, and for a child process without the queues).
class SQLiteTestDelegate : public HYBCommandDelegate {
public:
    explicit SQLiteTestDelegate(bool runInline = false) : inline_(runInline) {}

    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override;
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return nullptr; }
    void setUrlTransformer(UrlTransformer) override {}

    std::vector<SentResult> results() const;
    // The result for the callback id; waits (without a time limit) until it has been sent.
    SentResult waitFor(const std::string& callbackId) const;
    // The result for the callback id, or nothing when none was sent yet.
    std::optional<SentResult> resultFor(const std::string& callbackId) const;

private:
    const bool inline_;
    mutable std::mutex mutex_;
    mutable std::condition_variable sent_;
    std::vector<SentResult> results_;
};

}  // namespace sqlitetest
