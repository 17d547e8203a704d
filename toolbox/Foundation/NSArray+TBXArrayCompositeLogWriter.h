#pragma once

#include <memory>
#include <vector>
#include "platform/dispatch/Mutex.h"

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
        dispatch::Lock lock(mutex_);
        for (const auto& element : elements_) {
            if (auto* writer = dynamic_cast<TBXLogWriter*>(element.get()))
                writer->logMessage(message, level);
        }
    }

private:
    dispatch::Mutex mutex_;
    const std::vector<std::shared_ptr<ns::Object>> elements_;
};
