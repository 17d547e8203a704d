#include "signin/DSDefaultDispatcher.h"

void DSDefaultDispatcher::receive(const std::string&,
                                  std::shared_ptr<const DSTelemetryDefaultEvent> event) {
    if (event && dispatcher_) dispatcher_->dispatchEvent(event->getProperties());
}

void DSDefaultDispatcher::flush(const std::string&) {}
