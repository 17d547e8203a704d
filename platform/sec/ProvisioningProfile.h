#pragma once

#include <optional>
#include <string>

#include "platform/ns/Data.h"
#include "platform/ns/Value.h"

namespace sec {

// The application's provisioning profile ("embedded.mobileprovision" in its bundle): an XML
// property list, as a rule inside a signed envelope, that names the team signing the
// application and its entitlements. The envelope is not checked: the property list is cut out
// of the bytes.
class ProvisioningProfile {
public:
    static constexpr const char* kFileName = "embedded.mobileprovision";
    // Profiles are a few kilobytes; a larger file is not read.
    static constexpr size_t kMaximumSize = 1u << 20;

    // The property list's text, from "<plist" to its closing tag (added when the bytes end
    // first); nothing when the bytes hold no "<plist". Bytes outside 7-bit ASCII and NUL
    // bytes read as ".", as the list itself is ASCII.
    static std::optional<std::string> plistText(const ns::Data& profile);
    // The profile's dictionary; null when it holds none that can be read.
    static ns::Value contents(const ns::Data& profile);
    // The profile file of the bundle at `bundlePath`, read whole; empty when there is none,
    // nothing when one is there that cannot be read whole (not a file, larger than
    // kMaximumSize, a failed read).
    static std::optional<ns::Data> fileOfBundle(const std::string& bundlePath);
};

}  // namespace sec
