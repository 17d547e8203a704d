#include "plugins/media_browser/MIPAssetCell.h"

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TapGestureRecognizer.h"

MIPAssetCell::MIPAssetCell(double width) : width_(width) {
    setFrame({{0, 0}, {width, kRowHeight}});
}

std::shared_ptr<MIPAssetCell> MIPAssetCell::create(double width) {
    auto cell = std::make_shared<MIPAssetCell>(width);
    std::weak_ptr<MIPAssetCell> weak = cell;
    cell->addGestureRecognizer(
        std::make_shared<ui::TapGestureRecognizer>([weak](ui::GestureRecognizer& recognizer) {
            auto self = weak.lock();
            if (!self) return;
            self->cellTapped(static_cast<ui::TapGestureRecognizer&>(recognizer).locationInView());
        }));
    return cell;
}

std::shared_ptr<ui::Image> MIPAssetCell::overlayImage() {
    if (auto named = ui::Image::imageNamed(kOverlayImageName)) return named;
    static std::shared_ptr<ui::Image> drawn = [] {
        const ui::Size size{kThumbSide, kThumbSide};
        auto context = ui::GraphicsContext::beginImageContext(size, false, 2.0);
        if (!context) return std::shared_ptr<ui::Image>();
        context->fillRect({{0, 0}, size}, ui::Color(1, 1, 1, 0.35));
        const ui::Color mark(0.24, 0.53, 0.9, 1);
        const double border = 3;
        context->fillRect({{0, 0}, {size.width, border}}, mark);
        context->fillRect({{0, size.height - border}, {size.width, border}}, mark);
        context->fillRect({{0, 0}, {border, size.height}}, mark);
        context->fillRect({{size.width - border, 0}, {border, size.height}}, mark);
        context->fillRect({{size.width - 22, size.height - 22}, {16, 16}}, mark);
        return ui::Image::imageWithBitmap(context->bitmap(), 2.0);
    }();
    return drawn;
}

void MIPAssetCell::setAssets(std::vector<std::shared_ptr<MIPAsset>> assets) {
    rowAssets_ = std::move(assets);
    for (auto& view : imageViews_) view->removeFromSuperview();
    for (auto& view : overlayViews_) view->removeFromSuperview();
    auto overlay = overlayImage();
    for (size_t i = 0; i < rowAssets_.size(); ++i) {
        if (i == imageViews_.size()) {
            imageViews_.push_back(ui::ImageView::create());
            overlayViews_.push_back(ui::ImageView::create());
        }
        imageViews_[i]->setImage(rowAssets_[i]->thumbnail());
        imageViews_[i]->setContentMode(ui::ContentMode::ScaleAspectFill);
        overlayViews_[i]->setImage(overlay);
        overlayViews_[i]->setHidden(!rowAssets_[i]->selected());
    }
    imageViews_.resize(rowAssets_.size());
    overlayViews_.resize(rowAssets_.size());
    layoutSubviews();
}

ui::Rect MIPAssetCell::thumbnailFrame(size_t index) const {
    const double n = static_cast<double>(rowAssets_.size());
    const double start = (width_ - (n * kThumbSide + n * kGap - kGap)) / 2;
    return {{start + double(index) * (kThumbSide + kGap), kTop}, {kThumbSide, kThumbSide}};
}

void MIPAssetCell::layoutSubviews() {
    for (size_t i = 0; i < rowAssets_.size(); ++i) {
        imageViews_[i]->setFrame(thumbnailFrame(i));
        overlayViews_[i]->setFrame(thumbnailFrame(i));
        addSubview(imageViews_[i]);
        addSubview(overlayViews_[i]);
    }
}

void MIPAssetCell::cellTapped(ui::Point point) {
    for (size_t i = 0; i < rowAssets_.size(); ++i) {
        const ui::Rect frame = thumbnailFrame(i);
        if (point.x < frame.origin.x || point.x >= frame.origin.x + frame.size.width ||
            point.y < frame.origin.y || point.y >= frame.origin.y + frame.size.height) {
            continue;
        }
        auto& asset = *rowAssets_[i];
        asset.setSelected(!asset.selected());
        overlayViews_[i]->setHidden(!asset.selected());
        return;
    }
}
