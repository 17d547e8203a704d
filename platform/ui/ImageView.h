#pragma once

#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace ui {

// A view that shows one image, fitted to its frame by its content mode.
class ImageView : public View {
public:
    void accept(ViewVisitor& visitor) override { visitor.visit(*this); }
    ImageView() = default;
    // A view of the image's size at the origin (no image: an empty frame).
    explicit ImageView(std::shared_ptr<Image> image);
    static std::shared_ptr<ImageView> create(std::shared_ptr<Image> image = nullptr) {
        return std::make_shared<ImageView>(std::move(image));
    }

    const std::shared_ptr<Image>& image() const { return image_; }
    void setImage(std::shared_ptr<Image> image) { Display::update(image_, std::move(image)); }

private:
    std::shared_ptr<Image> image_;
};

}  // namespace ui
