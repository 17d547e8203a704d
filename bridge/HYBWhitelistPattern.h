#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/URL.h"

// One whitelist entry compiled for matching: a scheme, a host, a port and a path, each of
// which may be absent (absent matches anything).
//
// Every component must match as a whole. The scheme and the host compare without regard to
// ASCII letter case; a host written "*.name" also matches the bare name and any sub-domain of
// it. The path is case-sensitive and may hold "*" wildcards, which stand for any run of
// characters that holds no line break; a path ending in "/*" also matches the folder itself
// without the slash.
//
// Matching walks the text once per pattern position (no backtracking), so its cost is bounded
// by the lengths of the URL and the pattern whatever the URL holds.
class HYBWhitelistPattern {
public:
    // A scheme or host of "*", and a path of "/*", mean "anything".
    HYBWhitelistPattern(std::optional<std::string> scheme, std::optional<std::string> host,
                        std::optional<int> port, std::optional<std::string> path);

    bool matches(const ns::URL& url) const;

private:
    struct Host {
        bool withSubdomains = false;  // written "*.name"
        std::string name;
    };
    // A path pattern as code points, with the wildcard as its own token.
    struct PathGlob {
        std::vector<uint32_t> tokens;
        // The pattern ended in "/*": the part before the slash alone matches too.
        std::optional<std::vector<uint32_t>> folderTokens;
    };

    bool hostMatches(std::string_view host) const;
    bool pathMatches(std::string_view path) const;

    std::optional<std::string> scheme_;
    std::optional<Host> host_;
    std::optional<int> port_;
    std::optional<PathGlob> path_;
};
