#include "sdk/analytics/NEBAAudienceFilters.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <map>
#include <utility>

#include "platform/dispatch/Mutex.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {

using Outcome = NEBAAudienceEvaluation;
using NumberFilter = NEB_MEASUREMENT::ACPNumberFilter;
using StringFilter = NEB_MEASUREMENT::ACPStringFilter;

template <class Message>
ns::Value describe(const Message& message) {
    return ns::Value(message.ShortDebugString());
}

Outcome notEvaluated(const char* message, std::vector<NEBALogContext> contexts = {},
                     int64_t level = NEBALogLevel::Error) {
    NEBAMonitor::log(level, message, contexts);
    return Outcome::kNotEvaluated;
}

Outcome outcomeOf(bool holds) {
    return holds ? Outcome::kTrue : Outcome::kFalse;
}

bool hasType(const NumberFilter& f, NumberFilter::ComparisonType type) {
    return f.has_comparison_type() && f.comparison_type() == type;
}

bool isSingleValueType(const NumberFilter& f) {
    return f.comparison_type() >= NumberFilter::LessThan &&
           f.comparison_type() <= NumberFilter::Equal;
}

template <class T>
Outcome compare(const NumberFilter& filter, const T& value, const T& comparison, const T& min,
                const T& max) {
    switch (filter.comparison_type()) {
        case NumberFilter::LessThan:
            return outcomeOf(value < comparison);
        case NumberFilter::GreaterThan:
            return outcomeOf(comparison < value);
        case NumberFilter::Equal:
            return outcomeOf(value == comparison);
        case NumberFilter::Between:
            return outcomeOf(!(value < min) && !(max < value));
        default:
            return Outcome::kNotEvaluated;
    }
}

// A numeric text as a double; numeric texts are validated first, so only the sign and the
// digits remain to be read.
std::optional<double> doubleFromNumericText(const std::string& text) {
    std::string_view view(text);
    if (!view.empty() && view.front() == '+') view.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (ec != std::errc() || end != view.data() + view.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Compiled patterns, keyed by pattern and case rule. Bounded: a configuration has a few
// hundred filters at most, and a cache cleared now and then only costs a recompile.
class RegexCache {
public:
    std::shared_ptr<const icu::RegexPattern> compile(const std::string& pattern, bool caseSensitive,
                                                     UErrorCode& status) {
        dispatch::Lock lock(mutex_);
        auto key = std::make_pair(pattern, caseSensitive);
        if (auto it = patterns_.find(key); it != patterns_.end()) return it->second;
        UParseError parseError;
        std::shared_ptr<const icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(pattern), caseSensitive ? 0 : UREGEX_CASE_INSENSITIVE,
            parseError, status));
        if (U_FAILURE(status)) return nullptr;
        if (patterns_.size() >= kMaxPatterns) patterns_.clear();
        patterns_.emplace(std::move(key), compiled);
        return compiled;
    }

private:
    static constexpr size_t kMaxPatterns = 1024;
    dispatch::Mutex mutex_;
    std::map<std::pair<std::string, bool>, std::shared_ptr<const icu::RegexPattern>> patterns_
        GUARDED_BY(mutex_);
};

RegexCache& regexCache() {
    static RegexCache* cache = new RegexCache;
    return *cache;
}

icu::UnicodeString folded(const std::string& text, bool caseSensitive) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    if (!caseSensitive) unicode.foldCase();
    return unicode;
}

}  // namespace

NEBAAudienceEvaluation NEBAAudienceEvaluateEventFilter(
    const NEB_MEASUREMENT::ACPEventFilter* filter, const NEBAEvent* event,
    const NEBAEventAggregates* aggregates) {
    if (!filter) return notEvaluated("Event filter is nil. Audience filter will not be evaluated");
    if (!event) return notEvaluated("Event is nil. Audience filter will not be evaluated");
    if (!filter->has_event_name() || filter->event_name() != event->name())
        return notEvaluated(
            "Event filter name does not match event name. Audience filter will not be evaluated");
    if (!filter->has_event_count_filter() && filter->filters_size() == 0) return Outcome::kTrue;
    if (filter->has_event_count_filter()) {
        if (!aggregates || aggregates->name() != event->name())
            return notEvaluated(
                "Event aggregates name does not match event name. Audience filter will not be "
                "evaluated");
        Outcome counted = NEBAAudienceEvaluateInt64Filter(filter->event_count_filter(),
                                                          aggregates->lifetimeCount());
        if (counted != Outcome::kTrue) return counted;
    }
    for (const auto& condition : filter->filters()) {
        if (!condition.has_param_name())
            return notEvaluated(
                "Event filter does not have parameter name. Audience filter will not be "
                "evaluated");
        auto it = event->parameters().find(condition.param_name());
        if (it == event->parameters().end())
            return notEvaluated(
                "Event does not have parameter required by filter. Audience filter will not be "
                "evaluated",
                {}, NEBALogLevel::Debug);
        if (it->second.isString() && !condition.has_string_filter())
            return notEvaluated(
                "Event param is a string and the filter does not have a string filter. Audience "
                "filter will not be evaluated. Event name, event params, filter",
                {ns::Value(event->name()),
                 ns::Value(NEBAEvent::dictionaryFromParameters(event->parameters())),
                 describe(condition)});
        Outcome outcome = NEBAAudienceEvaluateFilter(condition, it->second);
        if (outcome != Outcome::kTrue) return outcome;
    }
    return Outcome::kTrue;
}

NEBAAudienceEvaluation NEBAAudienceEvaluatePropertyFilter(
    const NEB_MEASUREMENT::ACPPropertyFilter* filter, const NEBAUserAttribute* property) {
    if (!filter)
        return notEvaluated("Property filter is nil. Audience filter will not be evaluated");
    if (!property)
        return notEvaluated("User property is nil. Audience filter will not be evaluated");
    if (!filter->has_property_name() || filter->property_name() != property->name())
        return notEvaluated(
            "User property name does not match property filter name. Audience filter will not "
            "be evaluated");
    if (!filter->has_filter())
        return notEvaluated(
            "Property filter does not have filter. Audience filter will not be evaluated");
    return NEBAAudienceEvaluateFilter(filter->filter(), property->value());
}

NEBAAudienceEvaluation NEBAAudienceEvaluateFilter(const NEB_MEASUREMENT::ACPFilter& filter,
                                                  const NEBAValue& value) {
    Outcome outcome;
    if (filter.has_number_filter()) {
        if (const std::string* text = value.stringValue()) {
            if (!NEBADecimal::isDecimalString(*text))
                return notEvaluated(
                    "String value is not a numeric value. Audience filter will not be "
                    "evaluated. Value, filter",
                    {ns::Value(*text), describe(filter)});
            auto decimal = NEBADecimal::decimalFromString(*text);
            if (!decimal) return Outcome::kNotEvaluated;
            outcome = NEBAAudienceEvaluateDecimalFilter(filter.number_filter(), *decimal);
        } else if (value.isDouble()) {
            if (!std::isfinite(value.doubleValue()))
                return notEvaluated(
                    "Value is not within double range. Audience filter will not be evaluated");
            outcome = NEBAAudienceEvaluateDoubleFilter(filter.number_filter(), value.doubleValue());
        } else {
            outcome = NEBAAudienceEvaluateInt64Filter(filter.number_filter(), value.int64Value());
        }
    } else if (filter.has_string_filter()) {
        if (!value.isString())
            return notEvaluated("Value is not a string. Audience filter will not be evaluated");
        outcome = NEBAAudienceEvaluateStringFilter(filter.string_filter(), value.stringValue());
    } else {
        return notEvaluated(
            "Filter has neither a number nor string filter. Audience filter will not be "
            "evaluated");
    }
    if (filter.has_complement() && filter.complement() && outcome != Outcome::kNotEvaluated)
        outcome = outcome == Outcome::kTrue ? Outcome::kFalse : Outcome::kTrue;
    return outcome;
}

bool NEBAAudienceIsValidNumberFilter(const NumberFilter& filter) {
    auto fail = [&](const char* message) {
        NEBAMonitor::error(message, {describe(filter)});
        return false;
    };
    auto numeric = [](bool has, const std::string& text) {
        return has && NEBADecimal::isDecimalString(text);
    };
    if (!filter.has_comparison_type()) return fail("Number filter has no comparison type");
    if (filter.comparison_type() == NumberFilter::UnknownComparisonType)
        return fail("Number filter has unknown comparison type");
    if (isSingleValueType(filter)) {
        if (!numeric(filter.has_comparison_value(), filter.comparison_value()))
            return fail("Numeric filter does not have a valid comparison value. Filter");
        return true;
    }
    if (filter.comparison_type() == NumberFilter::Between) {
        bool valid = true;
        if (!numeric(filter.has_min_comparison_value(), filter.min_comparison_value()))
            valid = fail("Numeric filter does not have a valid min comparison value. Filter");
        if (!numeric(filter.has_max_comparison_value(), filter.max_comparison_value()))
            valid = fail("Numeric filter does not have a valid max comparison value. Filter");
        return valid;
    }
    return fail("Number filter has a real unknown comparison type");
}

NEBAAudienceEvaluation NEBAAudienceEvaluateDecimalFilter(const NumberFilter& filter,
                                                         const NEBADecimal& value) {
    if (!NEBAAudienceIsValidNumberFilter(filter)) return Outcome::kNotEvaluated;
    NEBAAudienceComparisonValues values;
    values.isValid = true;
    auto parse = [&](const std::string& text, const char* notANumber, NEBADecimal& into) {
        auto decimal = NEBADecimal::decimalFromString(text);
        if (!decimal) {
            NEBAMonitor::error(notANumber);
            values.isValid = false;
            return;
        }
        into = *decimal;
    };
    if (isSingleValueType(filter)) {
        parse(filter.comparison_value(), "Number filter comparison value is not a number",
              values.comparisonValue);
    } else {
        parse(filter.min_comparison_value(), "Number filter min comparison value is not a number",
              values.minComparisonValue);
        parse(filter.max_comparison_value(), "Number filter max comparison value is not a number",
              values.maxComparisonValue);
    }
    if (!values.isValid)
        return notEvaluated(
            "Parsed decimal number comparison values are not valid. Audience filter will not be "
            "evaluated. Filter",
            {describe(filter)});
    return compare(filter, value, values.comparisonValue, values.minComparisonValue,
                   values.maxComparisonValue);
}

NEBAAudienceEvaluation NEBAAudienceEvaluateInt64Filter(const NumberFilter& filter, int64_t value) {
    return NEBAAudienceEvaluateDecimalFilter(filter, NEBADecimal(value));
}

NEBAAudienceEvaluation NEBAAudienceEvaluateDoubleFilter(const NumberFilter& filter, double value) {
    if (!NEBAAudienceIsValidNumberFilter(filter)) return Outcome::kNotEvaluated;
    std::optional<double> comparison, min, max;
    bool parsed;
    if (isSingleValueType(filter)) {
        comparison = doubleFromNumericText(filter.comparison_value());
        parsed = comparison.has_value();
    } else {
        min = doubleFromNumericText(filter.min_comparison_value());
        max = doubleFromNumericText(filter.max_comparison_value());
        parsed = min && max;
    }
    if (!parsed)
        return notEvaluated(
            "Number filter is invalid, the comparison filter is not valid. Audience filter will "
            "not be evaluated");
    if (hasType(filter, NumberFilter::Equal)) {
        // Within two representable steps either side: the server's text and the app's double
        // may each have been rounded once.
        double low = std::nextafter(std::nextafter(*comparison, -INFINITY), -INFINITY);
        double high = std::nextafter(std::nextafter(*comparison, INFINITY), INFINITY);
        return outcomeOf(low < value && value < high);
    }
    return compare(filter, value, comparison.value_or(0), min.value_or(0), max.value_or(0));
}

bool NEBAAudienceIsValidStringFilter(const StringFilter& filter,
                                     std::shared_ptr<const icu::RegexPattern>* compiled) {
    auto fail = [&](const char* message, std::vector<NEBALogContext> contexts) {
        NEBAMonitor::error(message, contexts);
        return false;
    };
    if (!filter.has_match_type())
        return fail("String filter has no match type", {describe(filter)});
    if (filter.match_type() == StringFilter::UnknownMatchType)
        return fail("String filter has unknown match type", {describe(filter)});
    if (filter.match_type() != StringFilter::InList && !filter.has_expression())
        return fail("String filter has no expression", {describe(filter)});
    if (filter.match_type() == StringFilter::InList && filter.expression_list_size() == 0)
        return fail("String filter has no expression list", {describe(filter)});
    if (filter.match_type() == StringFilter::Regexp) {
        UErrorCode status = U_ZERO_ERROR;
        auto pattern = regexCache().compile(
            filter.expression(), filter.has_case_sensitive() && filter.case_sensitive(), status);
        if (!pattern)
            return fail("Unable to parse regular expression",
                        {describe(filter), ns::Value(u_errorName(status))});
        if (compiled) *compiled = std::move(pattern);
    }
    return true;
}

NEBAAudienceEvaluation NEBAAudienceEvaluateStringFilter(const StringFilter& filter,
                                                        const std::string* text) {
    if (!text)
        return notEvaluated("Evaluation string is nil. Audience filter will not be evaluated");
    std::shared_ptr<const icu::RegexPattern> pattern;
    if (!NEBAAudienceIsValidStringFilter(filter, &pattern))
        return notEvaluated("String filter is invalid. Audience filter will not be evaluated");
    bool caseSensitive = filter.has_case_sensitive() && filter.case_sensitive();
    icu::UnicodeString subject = folded(*text, caseSensitive);
    switch (filter.match_type()) {
        case StringFilter::Regexp: {
            UErrorCode status = U_ZERO_ERROR;
            icu::UnicodeString original = icu::UnicodeString::fromUTF8(*text);
            std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(original, status));
            if (U_FAILURE(status)) return Outcome::kNotEvaluated;
            matcher->setTimeLimit(kNEBAAudienceRegexTimeLimit, status);
            bool found = matcher->find(status);
            // A search that ran out of time is no answer either way.
            if (U_FAILURE(status))
                return notEvaluated(
                    "Regular expression took too long. Audience filter will not be evaluated");
            return outcomeOf(found);
        }
        case StringFilter::BeginsWith:
            return outcomeOf(subject.startsWith(folded(filter.expression(), caseSensitive)));
        case StringFilter::EndsWith:
            return outcomeOf(subject.endsWith(folded(filter.expression(), caseSensitive)));
        case StringFilter::Partial:
            return outcomeOf(subject.indexOf(folded(filter.expression(), caseSensitive)) >= 0);
        case StringFilter::Exact:
            return outcomeOf(subject == folded(filter.expression(), caseSensitive));
        case StringFilter::InList:
            for (const auto& entry : filter.expression_list())
                if (subject == folded(entry, caseSensitive)) return Outcome::kTrue;
            return Outcome::kFalse;
        default:
            return Outcome::kNotEvaluated;
    }
}
