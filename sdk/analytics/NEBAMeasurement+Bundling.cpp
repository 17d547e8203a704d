// Raw events into measurement bundles: one bundle per pass, of raw events that share their
// metadata and their UTC hour, within the configured count and size, in one transaction.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>

#include "platform/dispatch/Clock.h"
#include "sdk/analytics/NEBAEnvironmentInfo.h"
#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NEBAMeasurement.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

int64_t hourIndex(double seconds) {
    return static_cast<int64_t>(seconds) / 3600;
}

int64_t millis(double seconds) {
    return static_cast<int64_t>(seconds * 1000);
}

// The stored event's flags are integer parameters equal to 1.
bool flag(const NEB_MEASUREMENT::ACPEvent& event, std::string_view name) {
    for (const auto& param : event.params())
        if (param.name() == name) return param.has_int_value() && param.int_value() == 1;
    return false;
}

void setIntParameter(NEB_MEASUREMENT::ACPEvent& event, std::string_view name, int64_t value) {
    for (auto& param : *event.mutable_params()) {
        if (param.name() != name) continue;
        param.Clear();
        param.set_name(std::string(name));
        param.set_int_value(value);
        return;
    }
    auto* param = event.add_params();
    param->set_name(std::string(name));
    param->set_int_value(value);
}

void removeParameter(NEB_MEASUREMENT::ACPEvent& event, std::string_view name) {
    auto* params = event.mutable_params();
    for (int i = 0; i < params->size(); ++i) {
        if (params->Get(i).name() != name) continue;
        params->DeleteSubrange(i, 1);
        return;
    }
}

// As NEBAEvent::setIsConversion does: a conversion loses the error parameter that said it was
// not one, and an event that stops being one gains it.
void markConversion(NEB_MEASUREMENT::ACPEvent& event, bool conversion) {
    auto conversionCleared = [&] {
        for (const auto& param : event.params())
            if (param.name() == kNEBAErrorEventName)
                return param.has_int_value() &&
                       param.int_value() == NEBAErrorCode::ConversionCleared;
        return false;
    };
    bool hasError = false;
    for (const auto& param : event.params())
        hasError = hasError || param.name() == kNEBAErrorEventName;
    if (conversion) {
        setIntParameter(event, "_c", 1);
        if (conversionCleared()) removeParameter(event, kNEBAErrorEventName);
        return;
    }
    bool was = false;
    for (const auto& param : event.params()) was = was || param.name() == "_c";
    if (!was) return;
    removeParameter(event, "_c");
    if (!hasError) setIntParameter(event, kNEBAErrorEventName, NEBAErrorCode::ConversionCleared);
}

// Logs at level 1 and answers false: the pass is rolled back.
bool fail(std::string_view message, std::vector<NEBALogContext> contexts = {}) {
    NEBAMonitor::error(message, contexts);
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
    const int64_t fingerprint = **next;

    // 2. Read: the first event always goes (a bundle that could never take it would stall its
    //    whole group); later ones while they fit the count, the hour and the size.
    const int64_t maxEvents = remoteConfig_->uploadMaxEventsPerBundle();
    const int64_t maxSize = remoteConfig_->uploadMaxSizeLimitBytes();
    std::vector<NEBADatabase::StoredEvent> read;
    int64_t bundleHour = 0;
    int64_t size = 0;
    auto status = database_->readStoredEventsWithMetadataFingerprint(
        fingerprint, [&](NEBADatabase::StoredEvent&& event) {
            const int64_t hour = hourIndex(event.timestamp);
            if (!read.empty()) {
                if (static_cast<int64_t>(read.size()) >= maxEvents) return false;
                if (hour != bundleHour) return false;
                if (size + event.size >= maxSize) return false;
            } else {
                bundleHour = hour;
            }
            size += event.size;
            read.push_back(std::move(event));
            return true;
        });
    if (!status) return fail("Inconsistent state, raw event is expected. Error", {status.error()});
    if (read.empty()) {
        // Every row of the group was unreadable and is gone; so is the group once empty.
        return deleteBundledRawEvents(fingerprint, -1);
    }
    const int64_t maxRowID = read.back().rowID;

    auto metadata = database_->queryRawEventsMetadataWithFingerprint(fingerprint);
    if (!metadata)
        return fail("Unable to fetch event metadata. Metadata fingerprint, error",
                    {ns::Value(static_cast<long long>(fingerprint)), metadata.error()});
    if (!*metadata) {
        // Without their metadata these events can never make a bundle; keeping them would
        // stop every later group behind them.
        NEBAMonitor::error("Data loss. Raw events without metadata deleted. Metadata fingerprint",
                           {ns::Value(static_cast<long long>(fingerprint))});
        return deleteBundledRawEvents(fingerprint, maxRowID);
    }

    // What the pass knows of each name, found once per event: what the configuration says of
    // it, its counts (kept in memory and stored once per name, in this same transaction) and
    // whether any audience filters it.
    struct NameState {
        bool blacklisted = false;
        bool customConversion = false;
        std::optional<NEBAEventAggregates> aggregates;
        std::optional<bool> hasFilters;
    };
    std::map<std::string, NameState, std::less<>> names;
    std::vector<NameState*> stateOf;
    stateOf.reserve(read.size());
    size_t kept = 0;
    for (size_t i = 0; i < read.size(); ++i) {
        const std::string& name = read[i].proto.name();
        auto it = names.find(name);
        if (it == names.end()) {
            it = names
                     .emplace(name, NameState{remoteConfig_->isEventBlacklisted(name),
                                              remoteConfig_->isEventCustomConversion(name),
                                              std::nullopt, std::nullopt})
                     .first;
        }
        if (it->second.blacklisted) {
            NEBAMonitor::warning(
                "Rejected event. Contact Nebula Support for more information. Event name",
                {ns::Value(name)});
            continue;
        }
        if (kept != i) read[kept] = std::move(read[i]);
        stateOf.push_back(&it->second);
        ++kept;
    }
    read.resize(kept);
    if (read.empty()) {
        if (!deleteBundledRawEvents(fingerprint, maxRowID)) return false;
        NEBAMonitor::warning("Rejected all events. Contact Nebula Support for more information.");
        return true;
    }

    NEB_MEASUREMENT::ACPMeasurementBundle bundle = std::move(**metadata);
    auto [earliest, latest] =
        std::minmax_element(read.begin(), read.end(),
                            [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    const double start = earliest->timestamp;
    const double end = latest->timestamp;
    bundle.set_start_timestamp_millis(millis(start));
    bundle.set_end_timestamp_millis(millis(end));

    const int32_t day = database_->currentDay();
    const bool debugMode = context_.monitor->isDebugModeEnabled();
    std::optional<NEBADailyCounts> counts;  // read when the first conversion needs them
    bool realtimeBundle = false;
    bundle.mutable_events()->Reserve(static_cast<int>(read.size()));
    for (size_t i = 0; i < read.size(); ++i) {
        auto& stored = read[i];
        NameState& state = *stateOf[i];
        auto& event = stored.proto;
        const std::string& name = event.name();
        if (state.customConversion) markConversion(event, true);
        if (flag(event, "_c")) {
            if (!counts) {
                auto current = database_->dailyCounts();
                if (!current)
                    return fail("Failed to query daily event counts. Error", {current.error()});
                // Yesterday's conversions do not count against today's limits.
                counts = *current && (*current)->day() == day ? **current
                                                              : NEBADailyCounts(day, 0, 0, 0, 0, 0);
            }
            bool changed = false;
            if (NEBAIsPublicName(name)) {
                if (counts->conversionsCount() >= remoteConfig_->maxConversionsPerDay()) {
                    markConversion(event, false);
                    NEBAMonitor::warning(
                        "Too many conversion events. Not logging event as conversion. Name, limit",
                        {ns::Value(name), ns::Value(remoteConfig_->maxConversionsPerDay())});
                } else {
                    counts->incrementCountsForCurrentDay(day, false, true);
                    changed = true;
                }
            }
            if (flag(event, "_c")) {
                bool subjectToLimit = !debugMode && name != "_iap" && name != "_f";
                if (!subjectToLimit) {
                    setIntParameter(event, "_r", 1);
                    NEBAMonitor::debug(
                        "Event is not subject to real-time event count daily limit. "
                        "Marking an event as real-time. Event name, parameters",
                        {ns::Value(name), ns::Value(event.ShortDebugString())});
                } else if (counts->realtimeCount() < remoteConfig_->maxRealtimeEventCountPerDay()) {
                    counts->incrementRealtimeCountsForCurrentDay(day);
                    setIntParameter(event, "_r", 1);
                    changed = true;
                    NEBAMonitor::debug(
                        "Event is under real-time event count daily limit. Marking "
                        "the event as real-time. Event name, parameters",
                        {ns::Value(name), ns::Value(event.ShortDebugString())});
                }
            }
            if (changed) {
                if (auto updated = database_->updateDailyCounts(*counts); !updated)
                    return fail("Failed to update daily event counts. Name, error",
                                {ns::Value(name), updated.error()});
            }
        }

        if (!state.aggregates) {
            auto found = database_->eventAggregatesWithName(name);
            if (!found)
                return fail("Failed to query event aggregates. Name, error",
                            {ns::Value(name), found.error()});
            auto first = *found ? **found : NEBAEventAggregates::initWithName(name, 0, 0, 0.0);
            if (!first) return fail("Failed to update event aggregates. Error");
            state.aggregates = std::move(*first);
        }
        NEBAEventAggregates& record = *state.aggregates;
        // The event carries when its name fired before.
        if (record.lastFireTimestamp() > DBL_EPSILON)
            event.set_previous_timestamp_millis(millis(record.lastFireTimestamp()));
        record.incrementCurrentBundleCount();
        record.incrementLifetimeCount();
        record.setLastFireTimestamp(stored.timestamp);

        if (name == "_iap" && remoteConfig_->parsePurchaseDataEnabled()) {
            // No store receipt exists here to validate a purchase against.
            if (NEBAAppEnvironmentUtil::isSimulator())
                NEBAMonitor::log(NEBALogLevel::WarningSampledOnly, "Parsed data is on simulator");
            setIntParameter(event, "validated", 0);
        }

        if (!state.hasFilters) {
            auto defined = database_->eventFiltersForEventName(name);
            // A failed read leaves the decision to the evaluation, which reports it.
            state.hasFilters = !defined || !defined->empty();
        }
        if (*state.hasFilters) {
            auto modelled = NEBADatabase::eventFromStoredEvent(name, stored.timestamp, event);
            if (modelled && !audience_->evaluateFiltersForEvent(*modelled, record)) return false;
        }
        realtimeBundle = realtimeBundle || flag(event, "_r");
        *bundle.add_events() = std::move(event);
    }
    for (const auto& [name, state] : names) {
        if (!state.aggregates) continue;
        if (auto updated = database_->updateEventAggregates(*state.aggregates); !updated)
            return fail("Failed to update event aggregates. Error", {updated.error()});
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

    auto health = context_.monitor->monitoringDataForDispatchWithSamplePeriod(
        remoteConfig_->monitoringSamplePeriod(),
        persistedConfig_->lastMonitorDataSampledTimestamp());
    if (health && !health->empty()) {
        bundle.set_health_monitor(*health);
        persistedConfig_->setLastMonitorDataSampledTimestamp(dispatch::Clock::current().wallTime());
    }
    if (int64_t version = remoteConfig_->version(); version >= 0)
        bundle.set_config_version(version);
    else
        NEBAMonitor::warning("Did not find measurement config or missing version info");

    if (auto inserted = database_->insertBundle(bundle, realtimeBundle); !inserted)
        return fail("Unable to insert bundle. Error", {inserted.error()});
    NEBAMonitor::debug("Bundle added to the upload queue. BundleID, timestamp (ms)",
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
        NEBAMonitor::error("Unable to query current user properties. Error", {attributes.error()});
        return 0;
    }
    if (attributes->empty()) {
        NEBAMonitor::error("Unable to extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = std::numeric_limits<double>::infinity();
    for (const auto& attribute : *attributes) {
        if (attribute.name() == "_fot") return attribute.lastSetTimestamp();
        earliest = std::min(earliest, attribute.lastSetTimestamp());
    }
    return earliest;
}
