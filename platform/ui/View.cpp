#include "platform/ui/View.h"

#include <algorithm>

#include "platform/dispatch/RunLoop.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

std::vector<Animation>& animationLog() {
    static std::vector<Animation> log;
    return log;
}

// Shares a size change among the flexible parts of one axis in proportion to their lengths
// (equally when they are all zero), as the platform's autoresizing does.
void resizeAxis(double& origin, double& length, double oldSuper, double newSuper, bool flexibleLead,
                bool flexibleLength, bool flexibleTrail) {
    double delta = newSuper - oldSuper;
    if (delta == 0 || !(flexibleLead || flexibleLength || flexibleTrail)) return;
    double lead = flexibleLead ? origin : 0;
    double size = flexibleLength ? length : 0;
    double trail = flexibleTrail ? oldSuper - origin - length : 0;
    double total = lead + size + trail;
    int parts = int(flexibleLead) + int(flexibleLength) + int(flexibleTrail);
    auto share = [&](bool flexible, double part) {
        if (!flexible) return 0.0;
        return total != 0 ? delta * part / total : delta / parts;
    };
    origin += share(flexibleLead, lead);
    length += share(flexibleLength, size);
}

}  // namespace

View::~View() {
    // The children outlive their parent only if someone else holds them; they lose it.
    for (auto& child : subviews_) child->superview_.reset();
}

void View::setFrame(const Rect& frame) {
    Size old = frame_.size;
    Display::update(frame_, frame);
    if (old != frame.size) resizeSubviews(old);
}

void View::setBounds(const Rect& bounds) {
    Point c = center();
    setFrame({{c.x - bounds.width() / 2, c.y - bounds.height() / 2}, bounds.size});
}

void View::setCenter(Point center) {
    Display::update(frame_.origin,
                    Point{center.x - frame_.width() / 2, center.y - frame_.height() / 2});
}

void View::resizeSubviews(Size oldSize) {
    if (!autoresizesSubviews_) return;
    for (auto& child : std::vector(subviews_)) child->autoresize(oldSize, frame_.size);
}

void View::autoresize(Size oldSuper, Size newSuper) {
    unsigned m = autoresizingMask_;
    if (m == kAutoresizingNone) return;
    Rect f = frame_;
    resizeAxis(f.origin.x, f.size.width, oldSuper.width, newSuper.width,
               m & kAutoresizingFlexibleLeftMargin, m & kAutoresizingFlexibleWidth,
               m & kAutoresizingFlexibleRightMargin);
    resizeAxis(f.origin.y, f.size.height, oldSuper.height, newSuper.height,
               m & kAutoresizingFlexibleTopMargin, m & kAutoresizingFlexibleHeight,
               m & kAutoresizingFlexibleBottomMargin);
    setFrame(f);
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    if (!recognizer) return;
    if (auto previous = recognizer->view(); previous && previous.get() != this) {
        previous->removeGestureRecognizer(recognizer);
    }
    if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) ==
        gestureRecognizers_.end()) {
        gestureRecognizers_.push_back(recognizer);
        Display::setNeedsUpdate();
    }
    recognizer->attach(sharedView());
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it == gestureRecognizers_.end()) return;
    gestureRecognizers_.erase(it);
    recognizer->attach({});
    Display::setNeedsUpdate();
}

std::shared_ptr<Window> View::window() {
    for (std::shared_ptr<View> v = sharedView(); v; v = v->superview()) {
        if (auto w = std::dynamic_pointer_cast<Window>(v)) return w;
    }
    return nullptr;
}

void View::addSubview(const std::shared_ptr<View>& view) {
    insertSubview(view, subviews_.size());
}

void View::insertSubview(const std::shared_ptr<View>& view, size_t index) {
    if (!view || view.get() == this) return;
    if (view->superview().get() == this && std::min(index, subviews_.size() - 1) == indexOf(*view))
        return;        // already there
    auto keep = view;  // removing it from its old place must not free it
    if (auto old = view->superview()) old->detach(*view);
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<ptrdiff_t>(index), view);
    view->superview_ = sharedView();
    Display::setNeedsUpdate();
}

size_t View::indexOf(const View& child) const {
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& v) { return v.get() == &child; });
    return static_cast<size_t>(it - subviews_.begin());
}

void View::detach(const View& child) {
    const size_t at = indexOf(child);
    if (at == subviews_.size()) return;
    subviews_.erase(subviews_.begin() + static_cast<ptrdiff_t>(at));
    Display::setNeedsUpdate();
}

void View::removeFromSuperview() {
    auto keep = sharedView();
    if (auto parent = superview()) parent->detach(*this);
    superview_.reset();
}

void View::bringSubviewToFront(const std::shared_ptr<View>& view) {
    if (view && view->superview().get() == this) insertSubview(view, subviews_.size());
}

void View::sendSubviewToBack(const std::shared_ptr<View>& view) {
    if (view && view->superview().get() == this) insertSubview(view, 0);
}

bool View::isDescendantOfView(const View& view) const {
    for (const View* v = this; v; v = v->superview_.lock().get()) {
        if (v == &view) return true;
    }
    return false;
}

std::shared_ptr<View> View::viewWithTag(int64_t tag) {
    if (tag_ == tag) return sharedView();
    for (auto& child : subviews_) {
        if (auto found = child->viewWithTag(tag)) return found;
    }
    return nullptr;
}

void View::animate(double duration, double delay, unsigned options,
                   const std::function<void()>& animations, std::function<void(bool)> completion) {
    animationLog().push_back({duration, delay, options});
    if (animations) animations();
    if (completion) {
        dispatch::RunLoop::main().post([completion = std::move(completion)] { completion(true); });
    }
}

void View::animate(double duration, const std::function<void()>& animations,
                   std::function<void(bool)> completion) {
    animate(duration, 0, 0, animations, std::move(completion));
}

const std::vector<Animation>& View::recordedAnimations() {
    return animationLog();
}

void View::clearRecordedAnimations() {
    animationLog().clear();
}

}  // namespace ui
