#pragma once

#include <memory>

#include "bridge/HYBPlugin.h"

namespace ui {
class LongPressGestureRecognizer;
}  // namespace ui

// Swallows the web view's own long-press (and, on request, 3D-touch) gestures with a
// long-press recognizer on the web content, when "SuppressesLongPressGesture" is set.
class HYBGestureHandler : public HYBPlugin {
public:
    static constexpr double kMinimumPressDuration = 0.45f;
    static constexpr double kMinimumPressDuration3DTouch = 0.15f;
    static constexpr double kAllowableMovement = 200;

    void pluginInitialize() override;
    void applyLongPressFix();
    void handleLongPressGestures() {}

    // Null when the fix was not applied.
    const std::shared_ptr<ui::LongPressGestureRecognizer>& lpgr() const { return lpgr_; }

private:
    std::shared_ptr<ui::LongPressGestureRecognizer> lpgr_;
};
