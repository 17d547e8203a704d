// The interactive sign-in's outside input: the end URL the service sends the page to, and the
// extra query parameters the page adds to the authorize request.
#include <string>

#include "fuzz/Require.h"
#include "signin/DSAuthorizationCode.h"
#include "signin/DSLogger.h"
#include "signin/DSStringHelpers.h"

namespace {

void readEndURL(const std::string& text) {
    const std::optional<ns::URL> url = ns::URL::parse(text);
    if (!url) return;
    const auto answer = DSAuthorizationCode::readEndURL(*url, "S", std::nullopt);
    fuzzing::require(answer.code.has_value() != answer.error.has_value());
    if (answer.code) fuzzing::require(!dsIsStringNilOrBlank(answer.code));
}

void buildAuthorizeURL(const std::string& extra) {
    DSAuthorizationCode::Parameters p;
    p.authority = "https://login.example/tenant";
    p.clientId = "client";
    p.redirectUri = "x-app://done";
    p.state = "S";
    p.codeChallenge = "C";
    p.extraQueryParameters = extra;
    const std::optional<ns::URL> url = DSAuthorizationCode::authorizeURL(p);
    fuzzing::require(url.has_value());
    // The request's own parameters stay its own, once each.
    int states = 0, redirects = 0;
    for (const auto& [name, value] : dsURLFormDecode(url->query().value_or(""))) {
        if (name == "state") fuzzing::require(value == "S" && ++states == 1);
        if (name == "redirect_uri") fuzzing::require(value == "x-app://done" && ++redirects == 1);
    }
    fuzzing::require(states == 1 && redirects == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        DSLogger::setNSLogging(false);
        return true;
    }();
    if (!quiet || size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        buildAuthorizeURL(text);
    } else {
        readEndURL(text);
    }
    return 0;
}
