// The wire formats of the diagnostic log and the configuration record.
#include <gtest/gtest.h>

#include <string>

#include "proto/icore.pb.h"
#include "proto/logbook.pb.h"

namespace {

using NEB_ICORE::ICoreConfiguration;
using NEB_LOGBOOK::LogEvent;
using NEB_LOGBOOK::LogRequest;

TEST(LogMessagesTest, DefaultsOfUnsetFields) {
    LogRequest request;
    EXPECT_FALSE(request.has_log_source());
    EXPECT_EQ(request.log_source(), -1);
    EXPECT_EQ(request.qos_tier(), 0);
    LogEvent event;
    EXPECT_EQ(event.timezone_offset_seconds(), 180000);
    EXPECT_EQ(NEB_LOGBOOK::NetworkConnectionInfo().network_type(), -1);
    EXPECT_EQ(NEB_LOGBOOK::LogResponse().next_request_wait_millis(), -1);
}

TEST(LogMessagesTest, LogSourcesAreExactlyTheListedRange) {
    for (int value = -3; value <= 300; ++value) {
        bool listed = value >= -1 && value <= 265 && value != 258;
        EXPECT_EQ(NEB_LOGBOOK::LogRequest_LogSource_IsValid(value), listed) << value;
    }
    EXPECT_EQ(LogRequest::ICORE, 137);
}

TEST(LogMessagesTest, ServiceTypesLeaveOutFourAndStopAtTwentyOne) {
    for (int value = -1; value <= 40; ++value) {
        bool listed = value >= 0 && value <= 21 && value != 4;
        EXPECT_EQ(NEB_ICORE::ICoreConfiguration_ServiceType_IsValid(value), listed) << value;
    }
}

TEST(LogMessagesTest, BothPodNamesKeepTheirNumbersUnderDistinctNames) {
    EXPECT_EQ(ICoreConfiguration::NEBULA_LEGACY, 1);
    EXPECT_EQ(ICoreConfiguration::NEBULA, 2);
    EXPECT_EQ(ICoreConfiguration::PodName_Name(ICoreConfiguration::NEBULA_LEGACY), "NEBULA_LEGACY");
    EXPECT_EQ(ICoreConfiguration::PodName_Name(ICoreConfiguration::NEBULA), "NEBULA");
}

TEST(LogMessagesTest, EventWithOnlyItsSourceExtension) {
    LogEvent event;
    event.set_source_extension("record");
    EXPECT_EQ(event.SerializeAsString(), std::string("\x32\x06record"));
}

TEST(LogMessagesTest, UnlistedEnumValuesDoNotReachTheField) {
    // Field 7 (sdk_service_installed) with the values 17 and 4: 4 is not a service.
    ICoreConfiguration record;
    ASSERT_TRUE(record.ParseFromString(std::string("\x38\x11\x38\x04", 4)));
    ASSERT_EQ(record.sdk_service_installed_size(), 1);
    EXPECT_EQ(record.sdk_service_installed(0), ICoreConfiguration::MESSAGING);
    // Kept aside, so a re-serialised record still carries what it was given.
    EXPECT_EQ(record.SerializeAsString().size(), 4u);
}

TEST(LogMessagesTest, RequestRoundTrip) {
    LogRequest request;
    request.set_log_source(LogRequest::ICORE);
    request.set_request_time_ms(1700000000123);
    request.add_serialized_log_events(std::string("\x02\x32\x00", 3));
    auto* client = request.mutable_client_info();
    client->set_client_type(NEB_LOGBOOK::ClientInfo::IOS);
    client->mutable_ios_client_info()->set_application_build("0");
    LogRequest back;
    ASSERT_TRUE(back.ParseFromString(request.SerializeAsString()));
    EXPECT_EQ(back.log_source(), 137);
    EXPECT_EQ(back.client_info().ios_client_info().application_build(), "0");
    EXPECT_EQ(back.serialized_log_events(0), std::string("\x02\x32\x00", 3));
}

}  // namespace
