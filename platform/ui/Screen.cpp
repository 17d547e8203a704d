#include "platform/ui/Screen.h"

namespace ui {

Screen& Screen::main() {
    static Screen screen;
    return screen;
}

void Screen::reset() {
    size_ = kDefaultSize;
    scale_ = kDefaultScale;
}

}  // namespace ui
