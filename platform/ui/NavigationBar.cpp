#include "platform/ui/NavigationBar.h"

#include "platform/ui/NavigationController.h"

namespace ui {

NavigationBar::NavigationBar(Rect frame, std::weak_ptr<NavigationController> owner)
    : View(frame), owner_(owner) {
    back_ = BarButtonItem::withTitle("Back", BarButtonItem::Style::Plain, [owner] {
        if (auto nav = owner.lock()) nav->popViewController(true);
    });
}

std::optional<std::string> NavigationBar::title() const {
    auto nav = owner_.lock();
    auto top = nav ? nav->topViewController() : nullptr;
    return top ? top->navigationItem().title() : std::nullopt;
}

std::shared_ptr<BarButtonItem> NavigationBar::leftItem() const {
    auto nav = owner_.lock();
    auto top = nav ? nav->topViewController() : nullptr;
    if (!top) return nullptr;
    if (auto own = top->navigationItem().leftBarButtonItem()) return own;
    if (nav->viewControllers().size() > 1 && !top->navigationItem().hidesBackButton()) return back_;
    return nullptr;
}

std::shared_ptr<BarButtonItem> NavigationBar::rightItem() const {
    auto nav = owner_.lock();
    auto top = nav ? nav->topViewController() : nullptr;
    return top ? top->navigationItem().rightBarButtonItem() : nullptr;
}

}  // namespace ui
