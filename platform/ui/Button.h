#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Accessibility.h"
#include "platform/ui/View.h"

namespace ui {

// A tappable button with a title for each control state.
class Button : public View, public Accessibility {
public:
    // The platform's control states (bit values).
    enum ControlState : unsigned {
        kControlStateNormal = 0,
        kControlStateHighlighted = 1,
        kControlStateDisabled = 2,
        kControlStateSelected = 4,
    };

    using View::View;
    static std::shared_ptr<Button> create(Rect frame = {}) {
        return std::make_shared<Button>(frame);
    }

    // The state's own title, else the normal title.
    std::optional<std::string> titleForState(unsigned state) const;
    // No title removes the state's own.
    void setTitle(std::optional<std::string> title, unsigned state);

private:
    std::map<unsigned, std::string> titles_;
};

}  // namespace ui
