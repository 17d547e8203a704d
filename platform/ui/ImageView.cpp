#include "platform/ui/ImageView.h"

namespace ui {

ImageView::ImageView(std::shared_ptr<Image> image)
    : View(image ? Rect{{0, 0}, image->size()} : Rect{}), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

}  // namespace ui
