// The wire formats of the diagnostic log and the configuration record.
#include <gtest/gtest.h>

#include <string>

#include "proto/icore.pb.h"
#include "proto/logbook.pb.h"

namespace {

using NEB_ICORE::ICoreConfiguration;
using NEB_LOGBOOK::LogEvent;
using NEB_LOGBOOK::LogRequest;

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
