#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBWhitelistPattern.h"
#include "platform/ns/URL.h"

// Decides whether a URL is admitted by a list of entries written config.xml style:
// "[scheme:[//]][host][:port][/path]" with "*" wildcards, or "*" alone for everything.
//
// An entry without a scheme stands for http and https. Entries that do not parse, and entries
// whose port is outside 0..65535, are dropped without a word. A list is built once and then
// only read; it is used on the main thread.
class HYBWhitelist {
public:
    HYBWhitelist() = default;
    explicit HYBWhitelist(const std::vector<std::string>& entries);

    void addWhiteListEntry(std::string_view entry);

    // The scheme is expected lower-cased. The four web schemes always pass; others pass when an
    // entry named them (as written) or when the list admits every scheme.
    bool schemeIsAllowed(std::string_view scheme) const;
    // The URL is admitted by the list; a rejection is logged when asked for.
    bool URLIsAllowed(const ns::URL& url, bool logFailure = true) const;
    std::string errorStringForURL(const ns::URL& url) const;
    // Four dot-separated parts, each "*" or a number from 0 to 255.
    static bool isIPv4Address(std::string_view text);

    // Nothing means every URL is admitted.
    const std::optional<std::vector<HYBWhitelistPattern>>& whitelist() const { return whitelist_; }
    // Nothing means every scheme passes the scheme test.
    const std::optional<std::set<std::string, std::less<>>>& permittedSchemes() const {
        return permittedSchemes_;
    }
    const std::string& whitelistRejectionFormatString() const { return rejectionFormat_; }
    void setWhitelistRejectionFormatString(std::string format) {
        rejectionFormat_ = std::move(format);
    }

private:
    std::optional<std::vector<HYBWhitelistPattern>> whitelist_{std::in_place};
    std::optional<std::set<std::string, std::less<>>> permittedSchemes_{std::in_place};
    std::string rejectionFormat_ = "ERROR whitelist rejection: url='%@'";
};
