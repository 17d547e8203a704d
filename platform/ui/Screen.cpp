#include "platform/ui/Screen.h"

#include <algorithm>

#include "platform/ns/SharedInstance.h"
#include "platform/ui/StatusBar.h"

namespace ui {

Screen& Screen::main() {
    return ns::SharedInstance<Screen>::get();
}

Rect Screen::applicationFrame() const {
    const double bar = StatusBar::shared().frame().height();
    return {0, bar, size_.width, std::max(0.0, size_.height - bar)};
}

}  // namespace ui
