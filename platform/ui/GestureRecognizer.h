#pragma once

#include <functional>
#include <memory>

#include "platform/ns/Object.h"

namespace ui {

class View;

// A recognizer attached to a view. Headless: nothing touches the screen, so a test or a
// driver makes it recognize with fire(), which runs the action as the platform would.
class GestureRecognizer : public ns::Object {
public:
    enum class State { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };
    using Action = std::function<void(GestureRecognizer&)>;

    explicit GestureRecognizer(Action action = {}) : action_(std::move(action)) {}

    void setAction(Action action) { action_ = std::move(action); }
    State state() const { return state_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }
    std::shared_ptr<View> view() const { return view_.lock(); }

    // A continuous gesture: Began, then Ended, the action running at each; a discrete one
    // (override) runs it once with Ended. Nothing happens while disabled or not in a view.
    virtual void fire();

protected:
    void transition(State state);
    // Back to Possible without running the action.
    void reset() { state_ = State::Possible; }

private:
    friend class View;
    void attach(std::weak_ptr<View> view) { view_ = std::move(view); }

    Action action_;
    State state_ = State::Possible;
    bool enabled_ = true;
    std::weak_ptr<View> view_;
};

}  // namespace ui
