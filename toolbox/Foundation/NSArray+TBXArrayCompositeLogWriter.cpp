#include "toolbox/Foundation/NSArray+TBXArrayCompositeLogWriter.h"

void TBXArrayCompositeLogWriter::logMessage(const std::string& message, TBXLogLevel level) {
    std::lock_guard lock(mutex_);
    for (const auto& element : elements_) {
        if (auto* writer = dynamic_cast<TBXLogWriter*>(element.get())) {
            writer->logMessage(message, level);
        }
    }
}
