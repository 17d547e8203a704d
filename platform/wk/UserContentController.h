#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/UserScript.h"

namespace wk {

// The script message handlers and user scripts of the web views that share it. It holds its
// handlers strongly, as the platform does. Main thread only.
class UserContentController {
public:
    static std::shared_ptr<UserContentController> create() {
        return std::make_shared<UserContentController>();
    }

    // The page can then post to window.webkit.messageHandlers.NAME. A name that already has a
    // handler throws (the platform raises), so callers that may repeat ask first.
    void addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                 const std::string& name);
    void removeScriptMessageHandler(const std::string& name);
    bool hasScriptMessageHandler(const std::string& name) const { return handlers_.count(name); }
    std::shared_ptr<ScriptMessageHandler> scriptMessageHandler(const std::string& name) const;
    std::vector<std::string> scriptMessageHandlerNames() const;

    void addUserScript(UserScript script) { scripts_.push_back(std::move(script)); }
    const std::vector<UserScript>& userScripts() const { return scripts_; }

private:
    std::map<std::string, std::shared_ptr<ScriptMessageHandler>> handlers_;
    std::vector<UserScript> scripts_;
};

}  // namespace wk
