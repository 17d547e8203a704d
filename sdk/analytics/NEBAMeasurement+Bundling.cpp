// Raw events into measurement bundles: one bundle per pass, of raw events that share their
// metadata and their UTC hour, within the configured count and size, in one transaction.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

bool isPublicName(const std::string& name) {
    return !name.empty() && name[0] != '_';
}

int64_t hourIndex(double seconds) {
    return static_cast<int64_t>(seconds) / 3600;
}

int64_t millis(double seconds) {
    return static_cast<int64_t>(seconds * 1000);
}

ns::Value parametersOf(const NEBAEvent& event) {
    return ns::Value(NEBAEvent::dictionaryFromParameters(event.parameters()));
}

// Logs at level 1 and answers false: the pass is rolled back.
bool fail(std::string_view message, std::vector<NEBALogContext> contexts = {}) {
    NEBAMonitor::log(1, message, contexts);
    return false;
}

}  // namespace

bool NEBAMeasurement::bundleRawEvents() {
    NEBAScheduler::checkOnBackgroundThreadWithMethodName("bundleRawEvents");
    if (!database_) return false;
    bool bundled = false;
    bool committed = database_->performTransaction([&] { return bundlePass(bundled); });
    return committed && bundled;
}

bool NEBAMeasurement::bundlePass(bool& bundled) {
    bundled = false;
    auto next = database_->nextMetadataFingerprintToProcess();
    if (!next) return fail("Unable to fetch next event metadata. Error", {next.error()});
    if (!*next) return true;
    int64_t fingerprint = **next;

    // 2. Read: the first event always goes (a bundle that could never take it would stall its
    //    whole group); later ones while they fit the count, the hour and the size.
    const int64_t maxEvents = remoteConfig_->uploadMaxEventsPerBundle();
    const int64_t maxSize = remoteConfig_->uploadMaxSizeLimitBytes();
    int64_t bundleHour = 0;
    int64_t size = 0;
    size_t accepted = 0;
    auto read = database_->rawEventsForBundlingWithMetadataFingerprint(
        fingerprint, [&](const NEBARawEventData& raw) {
            const NEBAEvent& event = raw.rawEvent();
            int64_t hour = hourIndex(event.timestamp());
            auto eventSize = static_cast<int64_t>(event.protoEvent().ByteSizeLong());
            if (accepted > 0) {
                if (static_cast<int64_t>(accepted) >= maxEvents) return false;
                if (hour != bundleHour) return false;
                if (size + eventSize >= maxSize) return false;
            } else {
                bundleHour = hour;
            }
            size += eventSize;
            ++accepted;
            return true;
        });
    if (!read) return fail("Inconsistent state, raw event is expected. Error", {read.error()});
    std::vector<NEBARawEventData>& raws = *read;
    if (raws.empty()) {
        // Every row of the group was unreadable and is gone; so is the group once empty.
        return deleteBundledRawEvents(fingerprint, -1);
    }
    const int64_t maxRowID = raws.back().rowID();

    auto metadata = database_->queryRawEventsMetadataWithFingerprint(fingerprint);
    if (!metadata)
        return fail("Unable to fetch event metadata. Metadata fingerprint, error",
                    {ns::Value(static_cast<long long>(fingerprint)), metadata.error()});
    if (!*metadata) {
        // Without their metadata these events can never make a bundle; keeping them would
        // stop every later group behind them.
        NEBAMonitor::log(1, "Data loss. Raw events without metadata deleted. Metadata fingerprint",
                         {ns::Value(static_cast<long long>(fingerprint))});
        return deleteBundledRawEvents(fingerprint, maxRowID);
    }

    std::vector<NEBAEvent> events;
    events.reserve(raws.size());
    for (auto& raw : raws) {
        const std::string& name = raw.rawEvent().name();
        if (remoteConfig_->isEventBlacklisted(name)) {
            NEBAMonitor::log(
                4, "Rejected event. Contact Nebula Support for more information. Event name",
                {ns::Value(name)});
            continue;
        }
        events.push_back(raw.rawEvent());
    }
    if (events.empty()) {
        if (!deleteBundledRawEvents(fingerprint, maxRowID)) return false;
        NEBAMonitor::log(4, "Rejected all events. Contact Nebula Support for more information.");
        return true;
    }

    NEB_MEASUREMENT::ACPMeasurementBundle bundle = std::move(**metadata);
    auto [earliest, latest] = std::minmax_element(
        events.begin(), events.end(),
        [](const NEBAEvent& a, const NEBAEvent& b) { return a.timestamp() < b.timestamp(); });
    const double start = earliest->timestamp();
    const double end = latest->timestamp();
    bundle.set_start_timestamp_millis(millis(start));
    bundle.set_end_timestamp_millis(millis(end));

    const int32_t day = database_->currentDay();
    const bool debugMode = NEBAMonitor::shared()->isDebugModeEnabled();
    std::optional<NEBADailyCounts> counts;  // read when the first conversion needs them
    bool realtimeBundle = false;
    for (auto& event : events) {
        const std::string& name = event.name();
        if (remoteConfig_->isEventCustomConversion(name)) event.setIsConversion(true);
        if (event.isConversion()) {
            if (!counts) {
                auto stored = database_->dailyCounts();
                if (!stored)
                    return fail("Failed to query daily event counts. Error", {stored.error()});
                // Yesterday's conversions do not count against today's limits.
                counts = *stored && (*stored)->day() == day ? **stored
                                                            : NEBADailyCounts(day, 0, 0, 0, 0, 0);
            }
            bool changed = false;
            if (isPublicName(name)) {
                if (counts->conversionsCount() >= remoteConfig_->maxConversionsPerDay()) {
                    event.setIsConversion(false);
                    NEBAMonitor::log(
                        4,
                        "Too many conversion events. Not logging event as conversion. Name, limit",
                        {ns::Value(name), ns::Value(remoteConfig_->maxConversionsPerDay())});
                } else {
                    counts->incrementCountsForCurrentDay(day, false, true);
                    changed = true;
                }
            }
            if (event.isConversion()) {
                bool subjectToLimit = !debugMode && name != "_iap" && name != "_f";
                if (!subjectToLimit) {
                    event.setIsRealtime(true);
                    NEBAMonitor::log(7,
                                     "Event is not subject to real-time event count daily limit. "
                                     "Marking an event as real-time. Event name, parameters",
                                     {ns::Value(name), parametersOf(event)});
                } else if (counts->realtimeCount() < remoteConfig_->maxRealtimeEventCountPerDay()) {
                    counts->incrementRealtimeCountsForCurrentDay(day);
                    event.setIsRealtime(true);
                    changed = true;
                    NEBAMonitor::log(7,
                                     "Event is under real-time event count daily limit. Marking "
                                     "the event as real-time. Event name, parameters",
                                     {ns::Value(name), parametersOf(event)});
                }
            }
            if (changed) {
                if (auto updated = database_->updateDailyCounts(*counts); !updated)
                    return fail("Failed to update daily event counts. Name, error",
                                {ns::Value(name), updated.error()});
            }
        }

        auto stored = database_->eventAggregatesWithName(name);
        if (!stored)
            return fail("Failed to query event aggregates. Name, error",
                        {ns::Value(name), stored.error()});
        std::optional<NEBAEventAggregates> aggregates = *stored;
        if (aggregates) {
            if (auto copy = event.copyWithPreviousTimestamp(aggregates->lastFireTimestamp()))
                event = std::move(*copy);
            aggregates->incrementCurrentBundleCount();
            aggregates->incrementLifetimeCount();
            aggregates->setLastFireTimestamp(event.timestamp());
        } else {
            aggregates = NEBAEventAggregates::initWithName(name, 1, 1, event.timestamp());
        }
        if (!aggregates) return fail("Failed to update event aggregates. Error");
        if (auto updated = database_->updateEventAggregates(*aggregates); !updated)
            return fail("Failed to update event aggregates. Error", {updated.error()});

        if (name == "_iap" && remoteConfig_->parsePurchaseDataEnabled()) {
            // No store receipt exists here to validate a purchase against.
            if (NEBAAppEnvironmentUtil::isSimulator())
                NEBAMonitor::log(5, "Parsed data is on simulator");
            auto parameters = event.parameters();
            parameters.insert_or_assign("validated", NEBAValue(int64_t{0}));
            if (auto copy = event.copyWithParameters(parameters)) event = std::move(*copy);
        }

        if (!audience_->evaluateFiltersForEvent(event, *aggregates)) return false;
        *bundle.add_events() = event.protoEvent();
        realtimeBundle = realtimeBundle || event.isRealtime();
    }

    auto storedMetadata = database_->queryAppMetadata();
    if (!storedMetadata)
        return fail("Unable to fetch app metadata for bundling events. Error",
                    {storedMetadata.error()});
    NEBAAppMetadata app =
        storedMetadata->value_or(*NEBAAppMetadata::initWithLastBundleIndex(0, 0, 0));
    if (app.lastBundleEndTimestamp() > 0)
        bundle.set_previous_bundle_end_timestamp_millis(millis(app.lastBundleEndTimestamp()));
    if (app.lastBundleStartTimestamp() > 0)
        bundle.set_previous_bundle_start_timestamp_millis(millis(app.lastBundleStartTimestamp()));
    else if (app.lastBundleEndTimestamp() > 0)
        bundle.set_previous_bundle_start_timestamp_millis(millis(app.lastBundleEndTimestamp()));
    app.incrementLastBundleIndex();
    app.setLastBundleStartTimestamp(start);
    app.setLastBundleEndTimestamp(end);
    bundle.set_bundle_sequential_index(app.lastBundleIndex());
    if (auto updated = database_->updateAppMetadata(app); !updated)
        return fail("Unable to update the app metadata. Error", {updated.error()});

    auto results = audience_->resultsForBundling();
    if (!results) return fail("Unable to read audience evaluation results");
    for (auto& result : *results) *bundle.add_audience_evaluation_results() = std::move(result);

    auto health = NEBAMonitor::shared()->monitoringDataForDispatchWithSamplePeriod(
        remoteConfig_->monitoringSamplePeriod(),
        persistedConfig_->lastMonitorDataSampledTimestamp());
    if (health && !health->empty()) {
        bundle.set_health_monitor(*health);
        persistedConfig_->setLastMonitorDataSampledTimestamp(dispatch::Clock::current().wallTime());
    }
    if (int64_t version = remoteConfig_->version(); version >= 0)
        bundle.set_config_version(version);
    else
        NEBAMonitor::log(4, "Did not find measurement config or missing version info");

    if (auto inserted = database_->insertBundle(bundle, realtimeBundle); !inserted)
        return fail("Unable to insert bundle. Error", {inserted.error()});
    NEBAMonitor::log(7, "Bundle added to the upload queue. BundleID, timestamp (ms)",
                     {ns::Value(bundle.bundle_sequential_index()),
                      ns::Value(static_cast<long long>(bundle.end_timestamp_millis()))});
    bundled = deleteBundledRawEvents(fingerprint, maxRowID);
    return bundled;
}

bool NEBAMeasurement::deleteBundledRawEvents(int64_t fingerprint, int64_t maxRowID) {
    if (maxRowID >= 0) {
        if (auto deleted = database_->deleteRawEventsWithMaxRowID(maxRowID, fingerprint); !deleted)
            return fail("Unable to delete raw events. RowID, error",
                        {ns::Value(static_cast<long long>(maxRowID)), deleted.error()});
    }
    auto remains = database_->containsRawEventWithMetadataFingerprint(fingerprint);
    if (!remains)
        return fail("Unable to query existence of raw event. Metadata, error",
                    {ns::Value(static_cast<long long>(fingerprint)), remains.error()});
    if (*remains) return true;
    if (auto deleted = database_->deleteRawEventMetadataWithMetadataFingerprint(fingerprint);
        !deleted)
        return fail("Unable to delete raw event metadata. Metadata, error",
                    {ns::Value(static_cast<long long>(fingerprint)), deleted.error()});
    return true;
}

double NEBAMeasurement::firstOpenTimestamp() {
    if (!database_) return 0;
    auto firstOpen = database_->userAttributeWithName("_fot");
    if (firstOpen && *firstOpen) return (*firstOpen)->lastSetTimestamp();
    auto attributes = database_->userAttributesIncludingInternal(true);
    if (!attributes) {
        NEBAMonitor::log(1, "Unable to query current user properties. Error", {attributes.error()});
        return 0;
    }
    if (attributes->empty()) {
        NEBAMonitor::log(1, "Unable to extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = std::numeric_limits<double>::infinity();
    for (const auto& attribute : *attributes) {
        if (attribute.name() == "_fot") return attribute.lastSetTimestamp();
        earliest = std::min(earliest, attribute.lastSetTimestamp());
    }
    return earliest;
}
