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

    // A group that earlier versions kept items of this application in, and the group of this
    // version that they belong in.
    struct FormerGroup {
        std::string former;
        std::string current;
        // Every application shared the former common team, so applications of other teams may
        // claim the same former group: its items are copied, once for each team's group, and
        // stay for the others. A group that only this application used moves.
        bool copied = false;
        bool operator==(const FormerGroup&) const = default;
    };
    // Where earlier versions kept the items of the groups held and of the groups of the team
    // named in `teamGroups` (without the team): the same-named groups of the former common
    // team and, for an application that ran without a team before its profile named one, of
    // the team of its own. The team of its own comes first: its items are the newer.
    std::vector<FormerGroup> formerGroups(const std::vector<std::string>& teamGroups) const;

    bool operator==(const AccessGroups&) const = default;

private:
    AccessGroups(std::string team, std::vector<std::string> held,
                 std::vector<std::string> formerTeams);

    std::string team_;
    std::vector<std::string> held_;
    // The teams whose groups earlier versions kept this application's items in.
    std::vector<std::string> formerTeams_;
};

}  // namespace sec
