#pragma once

#include <string>

#include "platform/net/URLRequest.h"

// The headers the sign-in library adds to the loads of its interactive page: persistent ones
// (from the start "x-ds-PkeyAuth" = "1.0") on every request, single-use ones on the next
// request only. Class operations only.
class DSCustomHeaderHandler {
public:
    static void addCustomHeaderValue(const std::string& value, const std::string& headerKey,
                                     bool forSingleUse);
    // Sets every persistent header, then every single-use one, which is used up.
    static void applyCustomHeadersTo(net::URLRequest& request);

    DSCustomHeaderHandler() = delete;
};
