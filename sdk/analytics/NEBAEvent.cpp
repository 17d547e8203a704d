#include "sdk/analytics/NEBAEvent.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <set>
#include <vector>

#include "platform/ns/UTF16.h"
#include "sdk/analytics/NEBADataTypeValidator.h"
#include "sdk/analytics/NEBAErrorEvent.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

constexpr size_t kMaxPublicParameters = 25;

// Records the first problem only: later ones leave "_ev" and "_el" as they are.
void applyErrorParameterRule(NEBAEvent::Parameters& additions, const std::string& offendingName,
                             size_t limit, const std::optional<std::string>& offendingValue) {
    if (additions.count("_ev") || additions.count("_el")) return;
    additions.insert_or_assign("_ev", NEBAValue(NEBAErrorEventQuote(offendingName, limit)));
    if (offendingValue) {
        additions.insert_or_assign(
            "_el", NEBAValue(static_cast<int64_t>(ns::utf16Length(*offendingValue))));
    }
}

bool isPublicName(const std::string& name) {
    return !name.empty() && name[0] != '_';
}

}  // namespace

bool NEBAEvent::isValidTimestamp(double seconds) {
    // Milliseconds must fit a signed 64-bit integer.
    return std::isfinite(seconds) && std::fabs(seconds) < 9.2e15;
}

std::optional<NEBAEvent> NEBAEvent::initWithOrigin(const std::string& origin, bool isPublic,
                                                   const std::string& name, double timestamp,
                                                   double previousTimestamp,
                                                   const ns::Dictionary& parameters) {
    int64_t code = 0;
    if (!NEBADataTypeValidator::isValidForwardedEventOrigin(ns::Value(origin), &code)) {
        if (code != kNEBAValidationNotForwarded) return std::nullopt;
        if (!NEBADataTypeValidator::isValidInternalEventOrigin(ns::Value(origin)))
            return std::nullopt;
    }
    if (isPublic && !NEBADataTypeValidator::isValidPublicEventName(ns::Value(name)))
        return std::nullopt;
    if (!NEBADataTypeValidator::isValidInternalEventName(ns::Value(name))) return std::nullopt;
    if (!isValidTimestamp(timestamp) || !isValidTimestamp(previousTimestamp)) {
        NEBAMonitor::error(
            "Event timestamp is not a valid time. Event name, timestamp",
            {ns::Value(name), ns::Value(std::isfinite(timestamp) ? previousTimestamp : timestamp)});
        return std::nullopt;
    }
    if (previousTimestamp > timestamp) {
        NEBAMonitor::warning("Event created with previous timestamp after current timestamp");
    }
    NEBAEvent event;
    event.origin_ = origin;
    event.name_ = name;
    event.timestamp_ = timestamp;
    event.previousTimestamp_ = previousTimestamp;
    if (auto normalized = normalizedParametersForParameters(parameters, isPublic)) {
        event.parameters_ = std::move(*normalized);
    }
    event.parameters_.insert_or_assign("_o", NEBAValue(origin));
    return event;
}

std::optional<NEBAEvent::Parameters> NEBAEvent::normalizedParametersForParameters(
    const ns::Dictionary& parameters, bool isPublicEvent) {
    if (parameters.empty()) return std::nullopt;
    std::set<std::string> dropped;
    Parameters kept;
    Parameters additions;
    for (const auto& [name, raw] : parameters) {
        int64_t code = 0;
        ns::Value nameValue(name);
        bool nameValid = (!isPublicEvent || NEBADataTypeValidator::isValidPublicEventParameterName(
                                                nameValue, &code)) &&
                         NEBADataTypeValidator::isValidInternalEventParameterName(nameValue, &code);
        if (!nameValid) {
            dropped.insert(name);
            if (code != 0 && !additions.count(kNEBAErrorEventName)) {
                additions.insert_or_assign(
                    kNEBAErrorEventName,
                    NEBAValue(int64_t{code == kNEBAValidationReserved
                                          ? NEBAErrorCode::ReservedParameterName
                                          : NEBAErrorCode::InvalidParameterName}));
                std::optional<std::string> offending;
                if (ns::utf16Length(name) > 24) offending = name;
                applyErrorParameterRule(additions, name, 24, offending);
            }
            continue;
        }
        auto value = NEBAValue::valueFromObject(raw);
        if (!value) {
            dropped.insert(name);
            NEBAMonitor::warning("Event parameter value must be of type NSString or NSNumber. Type",
                                 {ns::Value(NEBAClassName(raw))});
            continue;
        }
        bool valueValid = true;
        bool cutErrorValue = false;
        if (isPublicEvent) {
            valueValid = NEBADataTypeValidator::isValidPublicEventParameterValue(&*value, &code);
        }
        if (valueValid) {
            if (name == "_ev") {
                const auto* text = value->stringValue();
                if (text) {
                    size_t length = ns::utf16Length(*text);
                    bool alreadyCut = length == 259 && text->ends_with("...");
                    if (length > 256 && !alreadyCut) {
                        applyErrorParameterRule(additions, *text, 256, *text);
                        cutErrorValue = true;
                    }
                }
            } else {
                valueValid =
                    NEBADataTypeValidator::isValidInternalEventParameterValue(&*value, &code);
            }
        }
        if (!valueValid) {
            dropped.insert(name);
            if (code == kNEBAValidationTooLong && !additions.count(kNEBAErrorEventName)) {
                additions.insert_or_assign(
                    kNEBAErrorEventName, NEBAValue(int64_t{NEBAErrorCode::ParameterValueTooLong}));
                std::optional<std::string> offending;
                if (const auto* text = value->stringValue()) offending = *text;
                applyErrorParameterRule(additions, name, 24, offending);
            }
            continue;
        }
        if (!cutErrorValue) kept.insert_or_assign(name, std::move(*value));
    }
    Parameters result = dropped.size() == parameters.size() ? Parameters{} : std::move(kept);
    for (auto& [name, value] : additions) result.insert_or_assign(name, value);

    size_t publicCount = static_cast<size_t>(std::count_if(
        result.begin(), result.end(), [](const auto& p) { return isPublicName(p.first); }));
    if (publicCount <= kMaxPublicParameters) return result;
    // The map is sorted: walk it from the greatest name down.
    for (auto it = result.end(); it != result.begin() && publicCount > kMaxPublicParameters;) {
        --it;
        if (isPublicName(it->first)) {
            it = result.erase(it);
            --publicCount;
        }
    }
    if (!result.count(kNEBAErrorEventName))
        result.insert_or_assign(kNEBAErrorEventName,
                                NEBAValue(int64_t{NEBAErrorCode::TooManyParameters}));
    NEBAMonitor::error("Event cannot contain more than 25 parameters");
    return result;
}

ns::Dictionary NEBAEvent::dictionaryFromParameters(const Parameters& parameters) {
    ns::Dictionary dictionary;
    for (const auto& [name, value] : parameters) dictionary[name] = value.object();
    return dictionary;
}

std::optional<NEBAEvent> NEBAEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp,
                          dictionaryFromParameters(parameters_));
}

std::optional<NEBAEvent> NEBAEvent::copyWithParameters(const Parameters& parameters) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_,
                          dictionaryFromParameters(parameters));
}

bool NEBAEvent::flag(const char* name) const {
    auto it = parameters_.find(name);
    return it != parameters_.end() && it->second.isInt64() && it->second.int64Value() == 1;
}

void NEBAEvent::setFlag(const char* name, bool set) {
    if (set) {
        parameters_.insert_or_assign(name, NEBAValue(int64_t{1}));
    } else {
        parameters_.erase(name);
    }
}

void NEBAEvent::setIsConversion(bool conversion) {
    if (conversion) {
        setFlag("_c", true);
        auto error = parameters_.find(kNEBAErrorEventName);
        if (error != parameters_.end() && error->second.isInt64() &&
            error->second.int64Value() == NEBAErrorCode::ConversionCleared) {
            parameters_.erase(error);
        }
        return;
    }
    if (!parameters_.count("_c")) return;
    parameters_.erase("_c");
    if (!parameters_.count(kNEBAErrorEventName))
        parameters_.insert_or_assign(kNEBAErrorEventName,
                                     NEBAValue(int64_t{NEBAErrorCode::ConversionCleared}));
}

NEB_MEASUREMENT::ACPEvent NEBAEvent::protoEvent() const {
    NEB_MEASUREMENT::ACPEvent event;
    event.set_name(name_);
    if (previousTimestamp_ > DBL_EPSILON) {
        event.set_previous_timestamp_millis(static_cast<int64_t>(previousTimestamp_ * 1000));
    }
    event.set_timestamp_millis(static_cast<int64_t>(timestamp_ * 1000));
    for (const auto& [name, value] : parameters_) {
        auto* param = event.add_params();
        param->set_name(name);
        if (value.isDouble()) {
            param->set_double_value(value.doubleValue());
        } else if (value.isInt64()) {
            param->set_int_value(value.int64Value());
        } else {
            param->set_string_value(*value.stringValue());
        }
    }
    return event;
}
