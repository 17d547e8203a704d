#include "sdk/analytics/NEBADailyCounts.h"

#include <climits>

namespace {
void saturatingIncrement(int32_t& counter) {
    if (counter < INT32_MAX) ++counter;
}
}  // namespace

void NEBADailyCounts::startDay(int32_t day) {
    day_ = day;
    conversionsCount_ = allEventsCount_ = publicEventsCount_ = errorEventsCount_ = realtimeCount_ =
        0;
}

void NEBADailyCounts::incrementCountsForCurrentDay(int32_t day, bool isPublicEvent,
                                                   bool isConversion) {
    if (day != day_) startDay(day);
    saturatingIncrement(allEventsCount_);
    if (isPublicEvent) saturatingIncrement(publicEventsCount_);
    if (isConversion) saturatingIncrement(conversionsCount_);
}

void NEBADailyCounts::incrementErrorEventsCountForCurrentDay(int32_t day) {
    if (day != day_) startDay(day);
    saturatingIncrement(allEventsCount_);
    saturatingIncrement(errorEventsCount_);
}

void NEBADailyCounts::incrementRealtimeCountsForCurrentDay(int32_t day) {
    if (day != day_) startDay(day);
    saturatingIncrement(realtimeCount_);
}

void NEBADailyCounts::decrementAllEventsCount() {
    if (allEventsCount_ > 0) --allEventsCount_;
}
