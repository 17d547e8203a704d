#include "sdk/analytics/NEBAAudience.h"

#include <gtest/gtest.h>

#include "tests/sdk/analytics/AnalyticsFixture.h"

namespace analyticstest {
namespace {

using NEB_MEASUREMENT::ACPAudience;
using NF = NEB_MEASUREMENT::ACPNumberFilter;
using SF = NEB_MEASUREMENT::ACPStringFilter;

constexpr const char* kAppID = "1:1:ios:1";

ACPAudience eventAudience(int32_t audienceID, int32_t filterID, const std::string& eventName) {
    ACPAudience audience;
    audience.set_audience_id(audienceID);
    auto* filter = audience.add_event_filters();
    filter->set_id(filterID);
    filter->set_event_name(eventName);
    return audience;
}

void addCountFilter(ACPAudience& audience, NF::ComparisonType type, const char* value) {
    auto* count = audience.mutable_event_filters(0)->mutable_event_count_filter();
    count->set_comparison_type(type);
    count->set_comparison_value(value);
}

ACPAudience propertyAudience(int32_t audienceID, int32_t filterID, const std::string& property,
                             SF::MatchType type, const std::string& expression) {
    ACPAudience audience;
    audience.set_audience_id(audienceID);
    auto* filter = audience.add_property_filters();
    filter->set_id(filterID);
    filter->set_property_name(property);
    filter->mutable_filter()->mutable_string_filter()->set_match_type(type);
    filter->mutable_filter()->mutable_string_filter()->set_expression(expression);
    return audience;
}

class AudienceTest : public AnalyticsTest {
protected:
    void SetUp() override {
        AnalyticsTest::SetUp();
        database_ = openDatabase();
        ASSERT_TRUE(database_);
        configure({});
    }

    void configure(const Settings& settings) {
        remoteConfig_ = NEBARemoteConfig::initWithNMPAppID(kAppID, database_.get(),
                                                           configWith(kAppID, settings));
        audience_ = NEBAAudience::initWithDatabase(database_.get(), remoteConfig_);
    }

    bool update(const std::vector<ACPAudience>& audiences) {
        NEBAAudience::Audiences list;
        for (const auto& a : audiences) *list.Add() = a;
        return database_->performTransaction([&] { return audience_->updateACPAudiences(list); });
    }

    std::vector<int32_t> storedAudienceIDs() { return database_->allAudienceIDs().value(); }

    // Logs the event the given number of times, evaluating after each.
    void fire(const std::string& name, int times, ns::Dictionary parameters = {}) {
        for (int i = 1; i <= times; ++i) {
            auto event =
                NEBAEvent::initWithOrigin("app", name[0] != '_', name, 1.8e9, 0, parameters)
                    .value();
            auto aggregates = NEBAEventAggregates::initWithName(name, ++lifetime_[name], 0, 0);
            ASSERT_TRUE(audience_->evaluateFiltersForEvent(event, *aggregates));
        }
    }

    // (status, results) of an audience's current word; (0, 0) when it has none.
    std::pair<uint64_t, uint64_t> word(int32_t audienceID) {
        auto result = database_->filterResultForAudienceID(audienceID).value();
        if (!result) return {0, 0};
        NEB_MEASUREMENT::ACPResultData data;
        EXPECT_TRUE(data.ParseFromString(std::string(result->currentResults.chars())));
        return {data.status(0), data.results(0)};
    }

    std::unique_ptr<NEBADatabase> database_;
    std::shared_ptr<NEBARemoteConfig> remoteConfig_;
    std::unique_ptr<NEBAAudience> audience_;
    std::map<std::string, int32_t> lifetime_;
};

TEST_F(AudienceTest, TooManyAudiencesChangeNothingAndAreNoFailure) {
    ASSERT_TRUE(update({eventAudience(1, 0, "_f")}));
    std::vector<ACPAudience> many;
    for (int i = 0; i < 51; ++i) many.push_back(eventAudience(100 + i, 0, "e"));
    EXPECT_TRUE(update(many));
    EXPECT_EQ(storedAudienceIDs(), std::vector<int32_t>{1});
    EXPECT_TRUE(logs().contains("Configuration contains too many audiences"));
}

TEST_F(AudienceTest, InvalidDefinitionsAreSkippedAndTheOthersStored) {
    auto shared = eventAudience(3, 1, "e");
    *shared.add_property_filters() =
        propertyAudience(3, 1, "p", SF::Exact, "x").property_filters(0);
    auto badPattern = propertyAudience(4, 0, "p", SF::Regexp, "(unclosed");
    ASSERT_TRUE(update({eventAudience(1, 0, "e"), eventAudience(1, 1, "e"), shared, badPattern,
                        eventAudience(5, 10, "e"), eventAudience(6, 9, "e")}));
    EXPECT_EQ(storedAudienceIDs(), (std::vector<int32_t>{1, 6}));
    EXPECT_TRUE(logs().contains("Duplicate audience ID"));
    EXPECT_TRUE(logs().contains("Duplicate property filter ID"));
    EXPECT_TRUE(logs().contains("Unable to parse regular expression"));
    EXPECT_TRUE(logs().contains("Event filter ID missing or out of range"));
}

TEST_F(AudienceTest, FilterIDsThatWouldShareABitAreRefusedWhateverTheLimit) {
    configure({{"measurement.audience.filter_max_count_per_audience", "100"}});
    ASSERT_TRUE(update({eventAudience(1, 63, "e"), eventAudience(2, 64, "e")}));
    EXPECT_EQ(storedAudienceIDs(), std::vector<int32_t>{1});
    fire("e", 1);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{uint64_t{1} << 63, uint64_t{1} << 63}));
}

TEST_F(AudienceTest, PublicNamesAreStoredUnderTheirInternalNames) {
    ASSERT_TRUE(update({eventAudience(1, 2, "first_open")}));
    fire("_f", 1);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{4, 4}));
}

TEST_F(AudienceTest, CountConditionTurnsTrueOnceAndIsNeverEvaluatedAgain) {
    auto audience = eventAudience(1, 0, "buy");
    addCountFilter(audience, NF::GreaterThan, "2");
    ASSERT_TRUE(update({audience}));
    fire("buy", 2);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{1, 0}));
    fire("buy", 1);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{1, 1}));
    // The filter is not looked at again: a lower count would otherwise turn it false.
    lifetime_["buy"] = 0;
    fire("buy", 1);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{1, 1}));
}

TEST_F(AudienceTest, AConditionThatCannotBeAppliedRecordsNothing) {
    auto audience = eventAudience(1, 5, "buy");
    auto* condition = audience.mutable_event_filters(0)->add_filters();
    condition->set_param_name("price");
    condition->mutable_number_filter()->set_comparison_type(NF::LessThan);
    condition->mutable_number_filter()->set_comparison_value("5");
    ASSERT_TRUE(update({audience}));
    fire("buy", 1);
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{0, 0}));
    fire("buy", 1, {{"price", ns::Value(9)}});
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{32, 0}));
    fire("buy", 1, {{"price", ns::Value(1)}});
    EXPECT_EQ(word(1), (std::pair<uint64_t, uint64_t>{32, 32}));
}

TEST_F(AudienceTest, NewDefinitionsAreEvaluatedAgainstStoredPropertiesAtOnce) {
    auto property = NEBAUserAttribute::initWithName("tier", NEBAValue("Gold member"), 1.8e9);
    ASSERT_TRUE(database_->updateUserAttribute(*property).ok());
    ASSERT_TRUE(update({propertyAudience(7, 3, "tier", SF::BeginsWith, "gold")}));
    EXPECT_EQ(word(7), (std::pair<uint64_t, uint64_t>{8, 8}));
}

TEST_F(AudienceTest, BundlesReportNewAudiencesThenOnlyChanges) {
    auto audience = eventAudience(1, 0, "buy");
    addCountFilter(audience, NF::GreaterThan, "1");
    ASSERT_TRUE(update({audience}));
    fire("buy", 1);

    auto first = audience_->resultsForBundling().value();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].new_audience());
    EXPECT_FALSE(first[0].has_previous_data());

    auto second = audience_->resultsForBundling().value();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_FALSE(second[0].new_audience());
    EXPECT_FALSE(second[0].has_previous_data());

    fire("buy", 1);
    auto third = audience_->resultsForBundling().value();
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].previous_data().results(0), 0u);
    EXPECT_EQ(third[0].current_data().results(0), 1u);
}

TEST_F(AudienceTest, APurgeWithNothingStaleIsSuccessAndStaleResultsGo) {
    configure({{"measurement.audience.filter_result_max_count", "1"}});
    ASSERT_TRUE(update({eventAudience(1, 0, "e"), eventAudience(2, 0, "e")}));
    fire("e", 1);
    // Two results over a limit of one, both of live audiences: the update still goes through.
    ASSERT_TRUE(
        update({eventAudience(1, 0, "e"), eventAudience(2, 0, "e"), eventAudience(3, 0, "x")}));
    EXPECT_EQ(storedAudienceIDs(), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(database_->allFilterResults().value().size(), 2u);
    // Audience 2 leaves the definitions; its result goes at the next purge, once no stored
    // definition names it.
    ASSERT_TRUE(update({eventAudience(1, 0, "e")}));
    EXPECT_EQ(database_->allFilterResults().value().size(), 2u);
    ASSERT_TRUE(update({eventAudience(1, 0, "e")}));
    auto results = database_->allFilterResults().value();
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(results.contains(1));
}

}  // namespace
}  // namespace analyticstest
