#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"

#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"

namespace sqlitetest {

void SQLiteTestDelegate::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                          const std::optional<std::string>& callbackId) {
    SentResult sent{callbackId.value_or(""), result ? result->status() : 0u,
                    result ? result->message() : ns::Value(),
                    result ? result->keepCallback() : false,
                    result ? result->argumentsAsJSON() : "null"};
    {
        std::lock_guard lock(mutex_);
        results_.push_back(std::move(sent));
    }
    sent_.notify_all();
}

void SQLiteTestDelegate::runInBackground(std::function<void()> block) {
    if (inline_) {
        block();
    } else {
        dispatch::Queue::global().async(std::move(block));
    }
}

std::vector<SentResult> SQLiteTestDelegate::results() const {
    std::lock_guard lock(mutex_);
    return results_;
}

SentResult SQLiteTestDelegate::waitFor(const std::string& callbackId) const {
    std::unique_lock lock(mutex_);
    while (true) {
        for (const auto& result : results_) {
            if (result.callbackId == callbackId) return result;
        }
        sent_.wait(lock);
    }
}

std::optional<SentResult> SQLiteTestDelegate::resultFor(const std::string& callbackId) const {
    std::lock_guard lock(mutex_);
    for (const auto& result : results_) {
        if (result.callbackId == callbackId) return result;
    }
    return std::nullopt;
}

}  // namespace sqlitetest
