#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/ns/Object.h"
#include "toolbox/Foundation/TBXLogWriter.h"

// Hands each message to every element that is a log writer, in order; other elements are
// skipped.
class TBXArrayCompositeLogWriter : public ns::Object, public TBXLogWriter {
public:
    explicit TBXArrayCompositeLogWriter(std::vector<std::shared_ptr<ns::Object>> elements)
        : elements_(std::move(elements)) {}

    const std::vector<std::shared_ptr<ns::Object>>& elements() const { return elements_; }
    void logMessage(const std::string& message, TBXLogLevel level) override;

private:
    std::mutex mutex_;
    const std::vector<std::shared_ptr<ns::Object>> elements_;
};
