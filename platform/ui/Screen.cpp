#include "platform/ui/Screen.h"

#include "platform/ns/SharedInstance.h"

namespace ui {

Screen& Screen::main() {
    return ns::SharedInstance<Screen>::get();
}

}  // namespace ui
