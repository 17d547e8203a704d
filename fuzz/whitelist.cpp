#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBWhitelist.h"
#include "platform/ns/Log.h"
#include "platform/ns/URL.h"

// Input: whitelist entries, one a line; the last line is the URL to decide.
namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (ns::Log::setStandardErrorEnabled(false), true);
    (void)quiet;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        const size_t nl = text.find('\n', start);
        lines.emplace_back(text.substr(start, nl == std::string_view::npos ? nl : nl - start));
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    const auto url = ns::URL::parse(lines.back());
    lines.pop_back();
    if (!url) return 0;

    HYBWhitelist list(lines);
    const bool allowed = list.URLIsAllowed(*url, false);
    require(list.URLIsAllowed(*url, true) == allowed);
    (void)list.errorStringForURL(*url);
    (void)HYBWhitelist::isIPv4Address(url->host().value_or(""));

    // Entries only ever widen a list: what a prefix of them admits, all of them admit.
    if (!lines.empty()) {
        std::vector<std::string> prefix(lines.begin(), lines.end() - 1);
        if (HYBWhitelist(prefix).URLIsAllowed(*url, false)) require(allowed);
    }
    return 0;
}
