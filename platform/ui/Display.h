#pragma once

#include <atomic>
#include <utility>

namespace ui {

// Whoever draws the ui layer on a screen (the host's presenter of native screens) hears from
// here that something it draws has changed: a view's geometry, look or content, the view tree,
// a bar item, the status bar, a window or a presentation, a camera frame. It can then draw once
// when the main loop is next free, rather than look at every view on a timer. Without a display
// (headless runs, unit tests) a change costs one atomic load.
class Display {
public:
    using Observer = void (*)();

    // Set once, on the main thread, before anything is drawn.
    static void setObserver(Observer observer) { observer_.store(observer); }
    // Something drawn changed. Any thread: the observer takes it to the main thread.
    static void setNeedsUpdate() {
        if (Observer observer = observer_.load(std::memory_order_acquire)) observer();
    }
    // Sets a drawn property of the ui layer, and says so when that changes it.
    template <class T, class U>
    static void update(T& property, U&& value) {
        if (property == value) return;
        property = std::forward<U>(value);
        setNeedsUpdate();
    }

private:
    inline static std::atomic<Observer> observer_{nullptr};
};

}  // namespace ui
