#pragma once

#include "platform/wk/ScriptMessage.h"

namespace wk {

class UserContentController;

// Receives the messages posted under the name it was added with.
class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    virtual void didReceiveScriptMessage(UserContentController& controller,
                                         const ScriptMessage& message) = 0;
    // The same, handing over the message: a receiver that keeps its body takes it without a
    // copy, and a page call's body can hold thousands of values.
    virtual void takeScriptMessage(UserContentController& controller, ScriptMessage message) {
        didReceiveScriptMessage(controller, message);
    }
    // Whether this handler takes bodies as the JSON text they arrive as, when they do (in
    // ScriptMessage::bodyJSON), and reads them itself; others get every body as a value.
    virtual bool readsBodyAsJSON() const { return false; }
};

}  // namespace wk
