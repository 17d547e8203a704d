#include "platform/ui/TableViewCell.h"

#include <algorithm>

namespace ui {
namespace {

constexpr double kInset = 15;
constexpr double kAccessoryWidth = 30;

}  // namespace

const std::shared_ptr<Label>& TableViewCell::textLabel() {
    if (!textLabel_) {
        textLabel_ = Label::create();
        textLabel_->setTextColor(Color(0, 0, 0, 1));
        addSubview(textLabel_);
    }
    return textLabel_;
}

const std::shared_ptr<ImageView>& TableViewCell::imageView() {
    if (!imageView_) {
        imageView_ = ImageView::create();
        addSubview(imageView_);
    }
    return imageView_;
}

void TableViewCell::layoutSubviews() {
    const Rect bounds = this->bounds();
    double x = kInset;
    if (imageView_ && imageView_->image()) {
        const double side = bounds.height();
        imageView_->setFrame({{0, 0}, {side, side}});
        imageView_->setContentMode(ContentMode::ScaleAspectFill);
        x = side + kInset;
    }
    if (textLabel_) {
        const double right = accessory_ == Accessory::None ? kInset : kAccessoryWidth;
        textLabel_->setFrame(
            {{x, 0}, {std::max(0.0, bounds.width() - x - right), bounds.height()}});
    }
}

}  // namespace ui
