#pragma once

#include <memory>

#include "platform/wk/ScriptMessageHandler.h"

// Stands between a web view's content controller, which holds its handlers strongly, and the
// real handler, so that the content controller does not keep the handler (the engine) alive.
// Once the handler is gone, messages go nowhere.
class HYBWebViewWeakScriptMessageHandler : public wk::ScriptMessageHandler {
public:
    explicit HYBWebViewWeakScriptMessageHandler(std::weak_ptr<wk::ScriptMessageHandler> handler)
        : scriptMessageHandler_(std::move(handler)) {}

    std::shared_ptr<wk::ScriptMessageHandler> scriptMessageHandler() const {
        return scriptMessageHandler_.lock();
    }

    void didReceiveScriptMessage(wk::UserContentController& controller,
                                 const wk::ScriptMessage& message) override {
        if (auto handler = scriptMessageHandler_.lock()) {
            handler->didReceiveScriptMessage(controller, message);
        }
    }
    void takeScriptMessage(wk::UserContentController& controller,
                           wk::ScriptMessage message) override {
        if (auto handler = scriptMessageHandler_.lock()) {
            handler->takeScriptMessage(controller, std::move(message));
        }
    }

    bool readsBodyAsJSON() const override {
        auto handler = scriptMessageHandler_.lock();
        return handler && handler->readsBodyAsJSON();
    }

private:
    std::weak_ptr<wk::ScriptMessageHandler> scriptMessageHandler_;
};
