// The application's provisioning profile: the embedded plist cut out of arbitrary bytes.
#include "sdk/instance_id/NEBInstanceIDProvisioningProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NEBInstanceIDProvisioningProfile::apsEnvironment(ns::Data(data, size),
                                                     [](const std::string&) {});
    return 0;
}
