#pragma once

#include <cstdint>

// The counters behind the daily limits. They stop at INT32_MAX rather than wrapping: a wrapped
// counter would read as far below its limit.
class NEBADailyCounts {
public:
    NEBADailyCounts(int32_t day, int32_t conversionsCount, int32_t allEventsCount,
                    int32_t publicEventsCount, int32_t errorEventsCount, int32_t realtimeCount)
        : day_(day),
          conversionsCount_(conversionsCount),
          allEventsCount_(allEventsCount),
          publicEventsCount_(publicEventsCount),
          errorEventsCount_(errorEventsCount),
          realtimeCount_(realtimeCount) {}

    int32_t day() const { return day_; }
    int32_t conversionsCount() const { return conversionsCount_; }
    int32_t allEventsCount() const { return allEventsCount_; }
    int32_t publicEventsCount() const { return publicEventsCount_; }
    int32_t errorEventsCount() const { return errorEventsCount_; }
    int32_t realtimeCount() const { return realtimeCount_; }

    void incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion);
    void incrementErrorEventsCountForCurrentDay(int32_t day);
    void incrementRealtimeCountsForCurrentDay(int32_t day);
    void decrementAllEventsCount();

private:
    void startDay(int32_t day);

    int32_t day_;
    int32_t conversionsCount_;
    int32_t allEventsCount_;
    int32_t publicEventsCount_;
    int32_t errorEventsCount_;
    int32_t realtimeCount_;
};
