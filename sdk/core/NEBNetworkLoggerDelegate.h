#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Error.h"
#include "platform/ns/Value.h"
#include "sdk/core/NEBNetworkConstants.h"

// Where the HTTP client's log lines go. A context is a value printed by its description after
// the message; a null context prints "(nil)".
class NEBNetworkLoggerDelegate {
public:
    virtual ~NEBNetworkLoggerDelegate() = default;
    virtual void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                         const std::vector<ns::Value>& contexts) = 0;
    virtual void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                         const ns::Value& context) = 0;
    virtual void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) = 0;
};

// The console line of a client without a logger delegate: "<Nebula/Network/LEVEL> message",
// then ": " and the contexts' descriptions joined by ", ". Debug lines are written only when
// `debugEnabled`.
void NEBNetworkWriteConsoleLog(NEBNetworkLogLevel level, std::string_view message,
                               const std::vector<ns::Value>& contexts, bool debugEnabled);
// A URL as log lines show it: scheme, host, port and path, without credentials, query or
// fragment, which may carry keys.
std::string NEBNetworkLoggableURL(std::string_view url);
// An error as log lines show it: domain, code and description, without the user info, which
// may carry the failing URL with its query.
std::string NEBNetworkLoggableError(const ns::Error& error);
