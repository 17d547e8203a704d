#pragma once

#include <gtest/gtest.h>

namespace ui {
class ViewController;
}  // namespace ui

namespace testsupport {

// Whether `screen`, presented over the host's page, is shown as the host shows such a screen:
// in a window with the main window's frame (the screen's bounds), starting below the status
// bar, which shows over it in light content, and with each of its views inside its parent
// (scroll views' contents aside), so that nothing of it is cut off at the bottom.
::testing::AssertionResult liesBelowTheStatusBar(ui::ViewController& screen);

}  // namespace testsupport
