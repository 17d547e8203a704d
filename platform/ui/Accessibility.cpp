#include "platform/ui/Accessibility.h"

#include "platform/dispatch/RunLoop.h"

namespace ui {

namespace {

// Kept for the whole process, as the display that observes may post until the end.
std::vector<AccessibilityNotifications::Posted>& postedSlot() {
    static auto* posted = new std::vector<AccessibilityNotifications::Posted>();
    return *posted;
}

std::function<void(const AccessibilityNotifications::Posted&)>& observerSlot() {
    static auto* observer = new std::function<void(const AccessibilityNotifications::Posted&)>();
    return *observer;
}

// A bound on what is kept for those who look afterwards.
constexpr size_t kMaxKept = 256;

}  // namespace

void AccessibilityNotifications::post(AccessibilityNotification notification,
                                      std::optional<std::string> argument) {
    dispatch::RunLoop::requireMainThread("AccessibilityNotifications::post");
    Posted posted{notification, std::move(argument)};
    auto& kept = postedSlot();
    if (kept.size() >= kMaxKept) kept.erase(kept.begin());
    kept.push_back(posted);
    if (auto observer = observerSlot()) observer(posted);
}

const std::vector<AccessibilityNotifications::Posted>& AccessibilityNotifications::posted() {
    return postedSlot();
}

void AccessibilityNotifications::clearPosted() {
    postedSlot().clear();
}

void AccessibilityNotifications::setObserver(std::function<void(const Posted&)> observer) {
    observerSlot() = std::move(observer);
}

}  // namespace ui
