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
};

}  // namespace wk
