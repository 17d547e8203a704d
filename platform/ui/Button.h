#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Accessibility.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A tappable button with a title and an image for each control state, and the actions that a
// tap (touch up inside) runs.
class Button : public View, public Accessibility {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    // The platform's control states (bit values).
    enum ControlState : unsigned {
        kControlStateNormal = 0,
        kControlStateHighlighted = 1,
        kControlStateDisabled = 2,
        kControlStateSelected = 4,
    };

    explicit Button(Rect frame = {}) : View(frame), Accessibility(kAccessibilityTraitButton) {}
    static std::shared_ptr<Button> create(Rect frame = {}) {
        return std::make_shared<Button>(frame);
    }

    using Action = std::function<void()>;

    // The state's own title, else the normal title.
    std::optional<std::string> titleForState(unsigned state) const;
    // No title removes the state's own.
    void setTitle(std::optional<std::string> title, unsigned state);
    // The state's own image, else the normal image.
    std::shared_ptr<Image> imageForState(unsigned state) const;
    void setImage(std::shared_ptr<Image> image, unsigned state);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on) { Display::update(enabled_, on); }
    // Runs on every tap, in the order added.
    void addAction(Action action) { actions_.push_back(std::move(action)); }
    // The user taps the button: its actions run when it is enabled, takes touches and shows.
    void sendActions();

private:
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, std::shared_ptr<Image>> images_;
    std::vector<Action> actions_;
    bool enabled_ = true;
};

}  // namespace ui
