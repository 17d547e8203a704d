#include "platform/sec/AccessGroups.h"

#include <algorithm>
#include <cctype>

#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ns/Value.h"
#include "platform/sec/Digest.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/ProvisioningProfile.h"

namespace sec {

namespace {

constexpr size_t kMaximumTeamLength = 64;

// The former common team, which every application shared.
constexpr std::string_view kCommonPrefix = Keychain::kTeamPrefix;
constexpr std::string_view kCommonTeam = kCommonPrefix.substr(0, kCommonPrefix.find('.'));

bool isAsciiAlphanumeric(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A team identifier is one word of ASCII letters and digits: the access group's first part
// names it. Whatever the process's locale, no other byte is part of one.
bool isTeam(const ns::Value& value) {
    const std::string* text = value.string();
    return text && !text->empty() && text->size() <= kMaximumTeamLength &&
           std::all_of(text->begin(), text->end(), isAsciiAlphanumeric);
}

// The team the profile names: its team identifier, else the prefix of an application
// identifier made of a team and this bundle identifier.
std::optional<std::string> namedTeam(const ns::Value& profile, const std::string& identifier) {
    const ns::Value& teams = profile["TeamIdentifier"];
    if (teams.count() > 0 && isTeam(teams.at(0))) return *teams.at(0).string();
    const std::string* application = profile["Entitlements"]["application-identifier"].string();
    const std::string suffix = "." + identifier;
    if (!application || !application->ends_with(suffix)) return std::nullopt;
    const ns::Value prefix(application->substr(0, application->size() - suffix.size()));
    if (!isTeam(prefix)) return std::nullopt;
    return *prefix.string();
}

bool isOfTeam(std::string_view group, std::string_view team) {
    return group.size() > team.size() + 1 && group.starts_with(team) && group[team.size()] == '.';
}

}  // namespace

AccessGroups::AccessGroups(std::string own)
    : team_(own.substr(0, own.find('.'))), held_{std::move(own)} {}

AccessGroups::AccessGroups(std::string team, std::vector<std::string> held,
                           std::vector<std::string> formerTeams)
    : team_(std::move(team)), held_(std::move(held)), formerTeams_(std::move(formerTeams)) {}

std::string AccessGroups::unsignedTeam(std::string_view bundleIdentifier) {
    std::string digits = hexString(sha256(bundleIdentifier)).substr(0, 10);
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "LOCAL" + digits;
}

AccessGroups AccessGroups::ofBundle(const ns::Bundle& bundle) {
    const auto profile = ProvisioningProfile::fileOfBundle(bundle.bundlePath());
    AccessGroups groups = ofApplication(bundle.bundleIdentifier(), profile.value_or(ns::Data()));
    if (!profile) {
        // The team is a guess for this run: items of earlier versions stay where they are
        // until a run that reads the profile moves them into the team's group for good.
        ns::Log::write(ns::LogLevel::Error,
                       "Keychain: " + bundle.bundlePath() + "/" + ProvisioningProfile::kFileName +
                           " cannot be read: the application's team is not known in this run");
        groups.formerTeams_.clear();
    }
    return groups;
}

AccessGroups AccessGroups::ofApplication(const std::optional<std::string>& bundleIdentifier,
                                         const ns::Data& profile) {
    if (!bundleIdentifier || bundleIdentifier->empty()) {
        return AccessGroups(Keychain::kInitialAccessGroup);
    }
    const ns::Value contents =
        profile.empty() ? ns::Value() : ProvisioningProfile::contents(profile);
    std::string team =
        namedTeam(contents, *bundleIdentifier).value_or(unsignedTeam(*bundleIdentifier));
    std::vector<std::string> held{team + "." + *bundleIdentifier};
    if (const ns::Array* declared = contents["Entitlements"]["keychain-access-groups"].array()) {
        for (const ns::Value& entry : *declared) {
            if (held.size() > kMaximumSharedGroups) break;
            const std::string* group = entry.string();
            // A profile cannot grant another team's groups.
            if (!group || !isOfTeam(*group, team)) continue;
            if (std::find(held.begin(), held.end(), *group) == held.end()) held.push_back(*group);
        }
    }
    std::vector<std::string> formerTeams;
    for (std::string former : {unsignedTeam(*bundleIdentifier), std::string(kCommonTeam)}) {
        if (former != team) formerTeams.push_back(std::move(former));
    }
    return AccessGroups(std::move(team), std::move(held), std::move(formerTeams));
}

bool AccessGroups::mayName(std::string_view group) const {
    return isOfTeam(group, team_) || std::find(held_.begin(), held_.end(), group) != held_.end();
}

std::vector<AccessGroups::FormerGroup> AccessGroups::formerGroups(
    const std::vector<std::string>& teamGroups) const {
    if (formerTeams_.empty()) return {};
    // Each group as it follows its team: ".<name>".
    std::vector<std::string> names;
    for (const std::string& group : held_) names.push_back(group.substr(team_.size()));
    for (const std::string& group : teamGroups) {
        std::string name = "." + group;
        if (!group.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    std::vector<FormerGroup> formers;
    for (const std::string& former : formerTeams_) {
        for (const std::string& name : names) {
            const bool copied = former == kCommonTeam && name != names.front();
            formers.push_back({former + name, team_ + name, copied});
        }
    }
    return formers;
}

}  // namespace sec
