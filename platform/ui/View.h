#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ns/Object.h"
#include "platform/ui/Color.h"
#include "platform/ui/Display.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

class GestureRecognizer;
class Window;

// How a view follows its superview's size changes (bit values of the platform's mask).
enum AutoresizingMask : unsigned {
    kAutoresizingNone = 0,
    kAutoresizingFlexibleLeftMargin = 1,
    kAutoresizingFlexibleWidth = 2,
    kAutoresizingFlexibleRightMargin = 4,
    kAutoresizingFlexibleTopMargin = 8,
    kAutoresizingFlexibleHeight = 16,
    kAutoresizingFlexibleBottomMargin = 32,
};

enum class ContentMode { ScaleToFill = 0, ScaleAspectFit = 1, ScaleAspectFill = 2, Redraw = 3 };

// One animation block as it was asked for; the headless views apply its changes at once.
struct Animation {
    double duration = 0;
    double delay = 0;
    unsigned options = 0;
};

// A rectangle of the screen with a tree of subviews. Headless: it keeps the state that callers
// set and read (geometry, visibility, colours, hierarchy) and draws nothing; what a display
// draws of it tells the Display when it changes. Main thread only.
class View : public ns::Object {
public:
    View() = default;
    explicit View(Rect frame) : frame_(frame) {}
    static std::shared_ptr<View> create(Rect frame = {}) { return std::make_shared<View>(frame); }
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    std::shared_ptr<View> sharedView() { return sharedSelf<View>(); }
    // Tells the visitor of this view as the kind of view it is.
    virtual void accept(ViewVisitor& visitor) { visitor.visit(*this); }

    // Geometry. Changing the size lays the subviews out again by their autoresizing masks.
    const Rect& frame() const { return frame_; }
    void setFrame(const Rect& frame);
    Rect bounds() const { return {{0, 0}, frame_.size}; }
    void setBounds(const Rect& bounds);  // keeps the centre, as the platform does
    Point center() const { return frame_.center(); }
    void setCenter(Point center);
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
    // Set by whoever places the view: the platform derives it from bars and the screen shape.
    const EdgeInsets& safeAreaInsets() const { return safeAreaInsets_; }
    void setSafeAreaInsets(const EdgeInsets& insets) { safeAreaInsets_ = insets; }

    // Appearance.
    double alpha() const { return alpha_; }
    void setAlpha(double alpha) { Display::update(alpha_, alpha); }
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden) { Display::update(hidden_, hidden); }
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color) {
        Display::update(backgroundColor_, color);
    }
    const std::optional<Color>& tintColor() const { return tintColor_; }
    void setTintColor(std::optional<Color> color) { Display::update(tintColor_, color); }
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool on) { opaque_ = on; }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode) { Display::update(contentMode_, mode); }

    // Interaction.
    int64_t tag() const { return tag_; }
    void setTag(int64_t tag) { tag_ = tag; }
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool on) { Display::update(userInteractionEnabled_, on); }
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
        return gestureRecognizers_;
    }
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);

    // Hierarchy: a view has at most one superview; adding it elsewhere moves it.
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    std::shared_ptr<View> superview() const { return superview_.lock(); }
    // The window that the view is in, or null.
    std::shared_ptr<Window> window();
    void addSubview(const std::shared_ptr<View>& view);
    void insertSubview(const std::shared_ptr<View>& view, size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(const std::shared_ptr<View>& view);
    void sendSubviewToBack(const std::shared_ptr<View>& view);
    bool isDescendantOfView(const View& view) const;
    // This view or the first descendant (depth first) with the tag.
    std::shared_ptr<View> viewWithTag(int64_t tag);

    // Runs `animations` at once, records the request, and calls `completion` (finished = true)
    // on the next turn of the main run loop.
    static void animate(double duration, double delay, unsigned options,
                        const std::function<void()>& animations,
                        std::function<void(bool)> completion = {});
    static void animate(double duration, const std::function<void()>& animations,
                        std::function<void(bool)> completion = {});
    // Every animation asked for since the last clear, oldest first (main thread only).
    static const std::vector<Animation>& recordedAnimations();
    static void clearRecordedAnimations();

private:
    void resizeSubviews(Size oldSize);
    void autoresize(Size oldSuperSize, Size newSuperSize);
    void detach(const View& child);
    // The child's place among the subviews; their count when it is not one.
    size_t indexOf(const View& child) const;

    Rect frame_;
    unsigned autoresizingMask_ = kAutoresizingNone;
    bool autoresizesSubviews_ = true;
    EdgeInsets safeAreaInsets_;
    double alpha_ = 1.0;
    bool hidden_ = false;
    std::optional<Color> backgroundColor_;
    std::optional<Color> tintColor_;
    bool opaque_ = true;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    int64_t tag_ = 0;
    bool userInteractionEnabled_ = true;
    std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<View> superview_;
};

}  // namespace ui
