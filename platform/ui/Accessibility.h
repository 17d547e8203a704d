#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Display.h"

namespace ui {

// What an element is to assistive technologies (bit values of the platform's traits).
using AccessibilityTraits = uint64_t;
inline constexpr AccessibilityTraits kAccessibilityTraitNone = 0;
inline constexpr AccessibilityTraits kAccessibilityTraitButton = 1 << 0;
inline constexpr AccessibilityTraits kAccessibilityTraitStaticText = 1 << 6;
inline constexpr AccessibilityTraits kAccessibilityTraitUpdatesFrequently = 1 << 9;
inline constexpr AccessibilityTraits kAccessibilityTraitStartsMediaSession = 1 << 11;

// The texts that assistive technologies read for an element, and what kind of element it is.
class Accessibility {
public:
    explicit Accessibility(AccessibilityTraits traits = kAccessibilityTraitNone)
        : traits_(traits) {}
    virtual ~Accessibility() = default;

    const std::optional<std::string>& accessibilityLabel() const { return label_; }
    void setAccessibilityLabel(std::optional<std::string> text) {
        Display::update(label_, std::move(text));
    }
    const std::optional<std::string>& accessibilityHint() const { return hint_; }
    void setAccessibilityHint(std::optional<std::string> text) {
        Display::update(hint_, std::move(text));
    }
    const std::optional<std::string>& accessibilityValue() const { return value_; }
    void setAccessibilityValue(std::optional<std::string> text) {
        Display::update(value_, std::move(text));
    }
    AccessibilityTraits accessibilityTraits() const { return traits_; }
    void setAccessibilityTraits(AccessibilityTraits traits) { traits_ = traits; }

private:
    std::optional<std::string> label_;
    std::optional<std::string> hint_;
    std::optional<std::string> value_;
    AccessibilityTraits traits_;
};

// What the application tells assistive technologies about the screen: that a new screen came
// (ScreenChanged), that the elements of the screen changed (LayoutChanged), or a text to
// speak (Announcement, its argument). Each post is kept for those who look afterwards and
// handed to the display, which passes it on to the toolkit's accessibility layer. Main thread.
enum class AccessibilityNotification { ScreenChanged, LayoutChanged, Announcement };

class AccessibilityNotifications {
public:
    struct Posted {
        AccessibilityNotification notification;
        std::optional<std::string> argument;
        bool operator==(const Posted&) const = default;
    };

    static void post(AccessibilityNotification notification,
                     std::optional<std::string> argument = std::nullopt);
    // Everything posted since the last clear, oldest first.
    static const std::vector<Posted>& posted();
    static void clearPosted();
    // Told of each post. One observer per process; empty removes it.
    static void setObserver(std::function<void(const Posted&)> observer);
};

}  // namespace ui
