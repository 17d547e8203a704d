// Stored bytes of any content, read back as a raw event, a queued bundle or the stored
// configuration: each is an object or a refusal, and a bundle never inflates past its cap.
#include <cstddef>
#include <cstdint>

#include "fuzz/AnalyticsFuzzSetup.h"
#include "fuzz/Require.h"
#include "sdk/analytics/NEBADatabase.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::analyticsMonitor();
    ns::Data bytes(data, size);
    NEBADatabase::Record record{{"rowid", ns::Value(1)},
                                {"name", ns::Value("e")},
                                {"timestamp", ns::Value(1.0)},
                                {"metadata_fingerprint", ns::Value(2)},
                                {"data", ns::Value(bytes)}};
    auto raw = NEBADatabase::rawEventDataFromDictionary(record);
    if (raw) fuzzing::require(raw->rowID() == 1);
    auto inflated = tbx_dataByInflatingData(bytes, size_t{1} << 20);
    if (inflated) {
        fuzzing::require(inflated->length() <= (size_t{1} << 20));
        (void)NEBADatabase::safeParse<NEB_MEASUREMENT::ACPMeasurementBundle>(
            *inflated, "ACPMeasurementBundle");
    }
    (void)NEBADatabase::safeParse<NEB_MEASUREMENT::ACPMeasurementConfig>(bytes,
                                                                         "ACPMeasurementConfig");
    (void)NEBADatabase::userAttributeFromDictionary(
        {{"name", ns::Value("p")}, {"value", ns::Value(bytes)}});
    fuzzing::settleAnalyticsMonitor();
    return 0;
}
