// The keychain access groups an application's provisioning profile grants: the first line is
// the bundle identifier, the rest the profile's bytes (a property list in an envelope).
#include <string_view>

#include "fuzz/Require.h"
#include "platform/sec/AccessGroups.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string identifier(input.substr(0, newline));
    const std::string_view profile =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    const auto groups = sec::AccessGroups::ofApplication(identifier, ns::Data::fromString(profile));
    // The application holds its own group and groups of its team only, a bounded number.
    fuzzing::require(!groups.held().empty() &&
                     groups.held().size() <= sec::AccessGroups::kMaximumSharedGroups + 1);
    for (const std::string& group : groups.held()) fuzzing::require(groups.mayName(group));
    fuzzing::require(groups.team().find('.') == std::string::npos);
    return 0;
}
