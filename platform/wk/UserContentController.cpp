#include "platform/wk/UserContentController.h"

#include "platform/ns/Exception.h"

namespace wk {

void UserContentController::addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                                    const std::string& name) {
    if (!handler) {
        throw ns::Exception(ns::kInvalidArgumentException, "A script message handler is required");
    }
    if (handlers_.count(name)) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "Attempt to add script message handler with name '" + name +
                                "' when one already exists.");
    }
    handlers_.emplace(name, std::move(handler));
}

void UserContentController::removeScriptMessageHandler(const std::string& name) {
    handlers_.erase(name);
}

std::shared_ptr<ScriptMessageHandler> UserContentController::scriptMessageHandler(
    const std::string& name) const {
    auto it = handlers_.find(name);
    return it == handlers_.end() ? nullptr : it->second;
}

std::vector<std::string> UserContentController::scriptMessageHandlerNames() const {
    std::vector<std::string> names;
    for (auto& [name, handler] : handlers_) names.push_back(name);
    return names;
}

}  // namespace wk
