#pragma once

#include <memory>
#include <string>

#include "signin/DSDispatcher.h"
#include "signin/DSTelemetryDefaultEvent.h"

// Passes each finished event to the application's dispatcher at once.
class DSDefaultDispatcher {
public:
    explicit DSDefaultDispatcher(std::shared_ptr<DSDispatcher> dispatcher)
        : dispatcher_(std::move(dispatcher)) {}
    virtual ~DSDefaultDispatcher() = default;

    virtual void receive(const std::string& requestId,
                         std::shared_ptr<const DSTelemetryDefaultEvent> event);
    virtual void flush(const std::string& requestId);

protected:
    std::shared_ptr<DSDispatcher> dispatcher_;
};
