#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Data.h"

namespace ns {
class Bundle;
}

namespace sec {

// The keychain access groups one application holds: its own group, "<team>.<bundle
// identifier>", where the items it adds without naming a group go, and the shared groups of its
// team that its provisioning profile declares ("keychain-access-groups"). A search that names
// no group looks in these; a query may name any group of the application's team, the way a
// team's applications share items, and no group of another team.
//
// The team is the one the profile names ("TeamIdentifier", else the prefix of an
// "application-identifier" entitlement of the form "<team>.<bundle identifier>"). A bundle that
// names none is signed by a team of its own, made from its bundle identifier, so that no two
// applications share one by accident. A process without a bundle identifier holds
// Keychain::kInitialAccessGroup.
class AccessGroups {
public:
    // Declared groups beyond this many are not held.
    static constexpr size_t kMaximumSharedGroups = 64;

    // Only `own`, for the team its first dot-separated part names.
    explicit AccessGroups(std::string own);

    static AccessGroups ofBundle(const ns::Bundle& bundle);
    // For a bundle identifier (nothing or empty: none) and the bytes of its profile (empty:
    // none).
    static AccessGroups ofApplication(const std::optional<std::string>& bundleIdentifier,
                                      const ns::Data& profile);
    // The team of an application whose bundle names none: "LOCAL" and ten hexadecimal digits
    // of the identifier's SHA-256 digest. Items are stored under it: it never changes.
    static std::string unsignedTeam(std::string_view bundleIdentifier);

    const std::string& team() const { return team_; }
    const std::string& own() const { return held_.front(); }
    // Its own group first, then the shared ones.
    const std::vector<std::string>& held() const { return held_; }
    bool mayName(std::string_view group) const;
    // The group that earlier versions put this application's items in when they named none
    // (Keychain::kTeamPrefix and the bundle identifier), while that is not its own group now:
    // the keychain moves those items into its own group.
    const std::optional<std::string>& formerOwn() const { return formerOwn_; }

    bool operator==(const AccessGroups&) const = default;

private:
    AccessGroups(std::string team, std::vector<std::string> held,
                 std::optional<std::string> formerOwn);

    std::string team_;
    std::vector<std::string> held_;
    std::optional<std::string> formerOwn_;
};

}  // namespace sec
