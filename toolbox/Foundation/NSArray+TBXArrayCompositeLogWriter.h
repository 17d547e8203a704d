#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogLevel.h"

// Hands each message to every element that is a log writer, in order; other elements are
// skipped.
class TBXArrayCompositeLogWriter : public ns::Object, public TBXLogWriter {
public:
    explicit TBXArrayCompositeLogWriter(std::vector<std::shared_ptr<ns::Object>> elements)
        : elements_(std::move(elements)) {}

    const std::vector<std::shared_ptr<ns::Object>>& elements() const { return elements_; }
    void logMessage(std::string_view message, TBXLogLevel level) override {
        std::lock_guard lock(mutex_);
        for (const auto& element : elements_) {
            if (auto* writer = dynamic_cast<TBXLogWriter*>(element.get()))
                writer->logMessage(message, level);
        }
    }

private:
    std::mutex mutex_;
    const std::vector<std::shared_ptr<ns::Object>> elements_;
};
