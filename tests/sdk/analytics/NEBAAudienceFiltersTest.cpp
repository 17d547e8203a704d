#include "sdk/analytics/NEBAAudienceFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace analyticstest {
namespace {

using E = NEBAAudienceEvaluation;
using NF = NEB_MEASUREMENT::ACPNumberFilter;
using SF = NEB_MEASUREMENT::ACPStringFilter;

NEB_MEASUREMENT::ACPFilter number(NF::ComparisonType type, const char* value,
                                  const char* max = nullptr, bool complement = false) {
    NEB_MEASUREMENT::ACPFilter filter;
    auto* n = filter.mutable_number_filter();
    n->set_comparison_type(type);
    if (type == NF::Between) {
        n->set_min_comparison_value(value);
        n->set_max_comparison_value(max);
    } else {
        n->set_comparison_value(value);
    }
    if (complement) filter.set_complement(true);
    return filter;
}

NEB_MEASUREMENT::ACPFilter string(SF::MatchType type, std::vector<std::string> expressions,
                                  std::optional<bool> caseSensitive = std::nullopt) {
    NEB_MEASUREMENT::ACPFilter filter;
    auto* s = filter.mutable_string_filter();
    s->set_match_type(type);
    if (type == SF::InList) {
        for (auto& e : expressions) s->add_expression_list(e);
    } else {
        s->set_expression(expressions.front());
    }
    if (caseSensitive) s->set_case_sensitive(*caseSensitive);
    return filter;
}

struct FilterCase {
    const char* name;
    NEB_MEASUREMENT::ACPFilter filter;
    NEBAValue value;
    E expected;
};

class FilterTableTest : public AnalyticsTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FilterTableTest, Evaluates) {
    EXPECT_EQ(NEBAAudienceEvaluateFilter(GetParam().filter, GetParam().value), GetParam().expected);
}

const double kTen = 10.0;
const std::string k38Digits = "12345678901234567890123456789012345678";
const std::string k39Digits = k38Digits + "9";

INSTANTIATE_TEST_SUITE_P(
    Numbers, FilterTableTest,
    ::testing::Values(
        FilterCase{"IntEqual", number(NF::Equal, "10"), NEBAValue(int64_t{10}), E::kTrue},
        FilterCase{"DecimalTextEqual", number(NF::Equal, "10"), NEBAValue("10.0"), E::kTrue},
        FilterCase{"LettersNotEvaluated", number(NF::Equal, "10"), NEBAValue("ten"),
                   E::kNotEvaluated},
        FilterCase{"DoubleOneStepAbove", number(NF::Equal, "10"),
                   NEBAValue(std::nextafter(kTen, 11.0)), E::kTrue},
        FilterCase{"DoubleTwoStepsAbove", number(NF::Equal, "10"),
                   NEBAValue(std::nextafter(std::nextafter(kTen, 11.0), 11.0)), E::kFalse},
        FilterCase{"DoubleTwoStepsBelow", number(NF::Equal, "10"),
                   NEBAValue(std::nextafter(std::nextafter(kTen, 9.0), 9.0)), E::kFalse},
        FilterCase{"BetweenLowEnd", number(NF::Between, "1", "5"), NEBAValue(int64_t{1}), E::kTrue},
        FilterCase{"BetweenHighEnd", number(NF::Between, "1", "5"), NEBAValue(5.0), E::kTrue},
        FilterCase{"BetweenAbove", number(NF::Between, "1", "5"), NEBAValue(int64_t{6}), E::kFalse},
        FilterCase{"LessThanIsStrict", number(NF::LessThan, "5"), NEBAValue(int64_t{5}), E::kFalse},
        FilterCase{"GreaterThanNegative", number(NF::GreaterThan, "-.5"), NEBAValue("0"), E::kTrue},
        FilterCase{"InfinityNotEvaluated", number(NF::GreaterThan, "1"), NEBAValue(INFINITY),
                   E::kNotEvaluated},
        FilterCase{"NaNNotEvaluated", number(NF::GreaterThan, "1"), NEBAValue(NAN),
                   E::kNotEvaluated},
        // A double would round these two apart values to one.
        FilterCase{"ThirtyEightDigitsExact", number(NF::GreaterThan, k38Digits.c_str()),
                   NEBAValue("12345678901234567890123456789012345679"), E::kTrue},
        FilterCase{"ThirtyNineDigitsRefused", number(NF::Equal, k39Digits.c_str()),
                   NEBAValue(int64_t{1}), E::kNotEvaluated},
        FilterCase{"Int64Extremes", number(NF::LessThan, "-9223372036854775807"),
                   NEBAValue(INT64_MIN), E::kTrue},
        FilterCase{"ComplementTrue", number(NF::Equal, "10", nullptr, true), NEBAValue(int64_t{10}),
                   E::kFalse},
        FilterCase{"ComplementKeepsNotEvaluated", number(NF::Equal, "10", nullptr, true),
                   NEBAValue("x"), E::kNotEvaluated},
        FilterCase{"ExponentNotNumeric", number(NF::Equal, "1e1"), NEBAValue(int64_t{10}),
                   E::kNotEvaluated}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Strings, FilterTableTest,
    ::testing::Values(
        FilterCase{"BeginsWithFoldsCase", string(SF::BeginsWith, {"straße"}),
                   NEBAValue("STRASSE-1"), E::kTrue},
        FilterCase{"BeginsWithCaseSensitive", string(SF::BeginsWith, {"abc"}, true),
                   NEBAValue("ABCD"), E::kFalse},
        FilterCase{"EndsWith", string(SF::EndsWith, {"Z"}), NEBAValue("xyz"), E::kTrue},
        FilterCase{"Partial", string(SF::Partial, {"mid"}), NEBAValue("aMIDb"), E::kTrue},
        FilterCase{"Exact", string(SF::Exact, {"a"}), NEBAValue("ab"), E::kFalse},
        FilterCase{"InList", string(SF::InList, {"x", "Gold"}), NEBAValue("gold"), E::kTrue},
        FilterCase{"RegexSearchesAnywhere", string(SF::Regexp, {"b+c"}), NEBAValue("aaBBC"),
                   E::kTrue},
        FilterCase{"RegexCaseSensitive", string(SF::Regexp, {"b+c"}, true), NEBAValue("aaBBC"),
                   E::kFalse},
        FilterCase{"BadRegexNotEvaluated", string(SF::Regexp, {"(unclosed"}), NEBAValue("x"),
                   E::kNotEvaluated},
        // Catastrophic backtracking ends at the time limit instead of holding the worker.
        FilterCase{"RunawayRegexStops", string(SF::Regexp, {"^(a+)+$"}),
                   NEBAValue(std::string(40, 'a') + "!"), E::kNotEvaluated},
        FilterCase{"NumberIsNotAString", string(SF::Exact, {"1"}), NEBAValue(int64_t{1}),
                   E::kNotEvaluated}),
    [](const auto& info) { return std::string(info.param.name); });

class EventFilterTest : public AnalyticsTest {};

TEST_F(EventFilterTest, NameCountAndParameters) {
    auto event = NEBAEvent::initWithOrigin("app", true, "buy", 1.8e9, 0,
                                           {{"price", ns::Value(10)}, {"sku", ns::Value("A1")}})
                     .value();
    auto aggregates = NEBAEventAggregates::initWithName("buy", 3, 0, 0).value();
    NEB_MEASUREMENT::ACPEventFilter filter;
    filter.set_event_name("buy");
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kTrue);

    *filter.mutable_event_count_filter() = number(NF::GreaterThan, "2").number_filter();
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kTrue);
    *filter.mutable_event_count_filter() = number(NF::GreaterThan, "3").number_filter();
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kFalse);
    filter.clear_event_count_filter();

    auto* price = filter.add_filters();
    *price = number(NF::Equal, "10");
    price->set_param_name("price");
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kTrue);
    // A string parameter under a number-only condition is never evaluated.
    auto* sku = filter.add_filters();
    *sku = number(NF::Equal, "1");
    sku->set_param_name("sku");
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kNotEvaluated);
    sku->set_param_name("missing");
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kNotEvaluated);

    filter.set_event_name("other");
    EXPECT_EQ(NEBAAudienceEvaluateEventFilter(&filter, &event, &aggregates), E::kNotEvaluated);
}

TEST_F(EventFilterTest, PropertyFilterNeedsItsName) {
    auto property = NEBAUserAttribute::initWithName("level", NEBAValue("10.0"), 1.8e9).value();
    NEB_MEASUREMENT::ACPPropertyFilter filter;
    filter.set_property_name("level");
    EXPECT_EQ(NEBAAudienceEvaluatePropertyFilter(&filter, &property), E::kNotEvaluated);
    *filter.mutable_filter() = number(NF::Equal, "10");
    EXPECT_EQ(NEBAAudienceEvaluatePropertyFilter(&filter, &property), E::kTrue);
    filter.set_property_name("other");
    EXPECT_EQ(NEBAAudienceEvaluatePropertyFilter(&filter, &property), E::kNotEvaluated);
}

}  // namespace
}  // namespace analyticstest
