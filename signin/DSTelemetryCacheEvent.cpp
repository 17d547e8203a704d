#include "signin/DSTelemetryCacheEvent.h"

void DSTelemetryCacheEvent::addAggregatedPropertiesToDictionary(
    std::vector<DSTelemetryProperty>& aggregated) const {
    DSTelemetryDefaultEvent::addAggregatedPropertiesToDictionary(aggregated);
    copyIfPresent(aggregated, "token_rt_status");
    copyIfPresent(aggregated, "token_frt_status");
    copyIfPresent(aggregated, "token_mrrt_status");
    raiseCount(aggregated, "cache_event_count");
}
