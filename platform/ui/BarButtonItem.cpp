#include "platform/ui/BarButtonItem.h"

namespace ui {

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, Style style,
                                                        Action action) {
    auto item = std::make_shared<BarButtonItem>();
    item->title_ = std::move(title);
    item->style_ = style;
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(SystemItem system, Action action) {
    auto item = std::make_shared<BarButtonItem>();
    item->systemItem_ = system;
    item->style_ = system == SystemItem::Done ? Style::Done : Style::Plain;
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::shared_ptr<Image> image, Style style,
                                                        Action action) {
    auto item = std::make_shared<BarButtonItem>();
    item->image_ = std::move(image);
    item->style_ = style;
    item->action_ = std::move(action);
    return item;
}

void BarButtonItem::sendActions() {
    if (!enabled_ || !action_) return;
    auto keep = shared_from_this();  // the action may drop the last other reference
    action_();
}

}  // namespace ui
