#pragma once

#include <unicode/regex.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "proto/measurement.pb.h"
#include "sdk/analytics/NEBADecimal.h"
#include "sdk/analytics/NEBAEvent.h"
#include "sdk/analytics/NEBAEventAggregates.h"
#include "sdk/analytics/NEBAUserAttribute.h"
#include "sdk/analytics/NEBAValue.h"

// Whether one audience filter holds for one input. "Not evaluated" means the filter cannot be
// applied to it and nothing is recorded.
enum class NEBAAudienceEvaluation { kFalse, kTrue, kNotEvaluated };

// The longest a configured regular expression may search one text, in ICU's time units
// (roughly milliseconds): a pattern from outside must not hang the worker.
inline constexpr int32_t kNEBAAudienceRegexTimeLimit = 50;

NEBAAudienceEvaluation NEBAAudienceEvaluateEventFilter(
    const NEB_MEASUREMENT::ACPEventFilter* filter, const NEBAEvent* event,
    const NEBAEventAggregates* aggregates);
NEBAAudienceEvaluation NEBAAudienceEvaluatePropertyFilter(
    const NEB_MEASUREMENT::ACPPropertyFilter* filter, const NEBAUserAttribute* property);
NEBAAudienceEvaluation NEBAAudienceEvaluateFilter(const NEB_MEASUREMENT::ACPFilter& filter,
                                                  const NEBAValue& value);
bool NEBAAudienceIsValidNumberFilter(const NEB_MEASUREMENT::ACPNumberFilter& filter);
NEBAAudienceEvaluation NEBAAudienceEvaluateDecimalFilter(
    const NEB_MEASUREMENT::ACPNumberFilter& filter, const NEBADecimal& value);
NEBAAudienceEvaluation NEBAAudienceEvaluateInt64Filter(
    const NEB_MEASUREMENT::ACPNumberFilter& filter, int64_t value);
NEBAAudienceEvaluation NEBAAudienceEvaluateDoubleFilter(
    const NEB_MEASUREMENT::ACPNumberFilter& filter, double value);
// A regular expression is compiled once per pattern and case rule and kept (a bounded cache);
// `compiled` receives it.
bool NEBAAudienceIsValidStringFilter(const NEB_MEASUREMENT::ACPStringFilter& filter,
                                     std::shared_ptr<const icu::RegexPattern>* compiled = nullptr);
NEBAAudienceEvaluation NEBAAudienceEvaluateStringFilter(
    const NEB_MEASUREMENT::ACPStringFilter& filter, const std::string* text);
