#include "plugins/media_browser/HYBbcsViewController.h"

#include <algorithm>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Log.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/InterfaceFile.h"
#include "platform/ui/StatusBar.h"
#include "plugins/media_browser/HYBbcsProcessor.h"

namespace {

// A bare resource name: an overlay file must come from the main bundle's own folder.
bool isBareName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// The torch button's picture: "torch.png" of the scanner's resource bundle.
std::shared_ptr<ui::Image> torchImage() {
    const auto bundle = ns::Bundle::mainBundle();
    const auto path =
        bundle ? bundle->pathForResource("torch", "png", "HYBBarcodeScanner.bundle") : std::nullopt;
    if (!path) return nullptr;
    auto bytes = ns::readFile(*path);
    return bytes.ok() ? ui::Image::imageWithData(bytes.value()) : nullptr;
}

}  // namespace

HYBbcsViewController::HYBbcsViewController(std::shared_ptr<HYBbcsProcessor> processor,
                                           std::optional<std::string> alternateXib)
    : processor_(std::move(processor)), alternateXib_(std::move(alternateXib)) {}

void HYBbcsViewController::loadView() {
    auto parent = processor_ ? processor_->parentViewController() : nullptr;
    setView(ui::View::create(parent ? parent->view()->frame() : ui::Rect{}));
}

void HYBbcsViewController::placePreview() {
    auto layer = processor_ ? processor_->previewLayer() : nullptr;
    if (!layer) return;
    layer->setVideoOrientation(
        interfaceOrientationToVideoOrientation(ui::StatusBar::shared().orientation()));
    layer->setFrame(view()->bounds());
}

void HYBbcsViewController::viewWillAppear(bool) {
    placePreview();
}

void HYBbcsViewController::viewDidAppear(bool) {
    if (auto layer = processor_ ? processor_->previewLayer() : nullptr) {
        layer->setFrame(view()->bounds());
        layer->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
        if (layer->isVideoOrientationSupported()) {
            layer->setVideoOrientation(
                interfaceOrientationToVideoOrientation(ui::StatusBar::shared().orientation()));
        }
        // Beneath everything else.
        view()->insertSubview(layer, 0);
    }
    if (auto overlay = buildOverlayView()) view()->addSubview(overlay);
    startCapturing();
}

void HYBbcsViewController::viewWillTransitionToSize(ui::Size size,
                                                    ui::TransitionCoordinator& coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<HYBbcsViewController> weak =
        std::static_pointer_cast<HYBbcsViewController>(sharedController());
    dispatch::RunLoop::main().post([weak] {
        if (auto self = weak.lock()) {
            self->willAnimateRotationToInterfaceOrientation(ui::StatusBar::shared().orientation(),
                                                            0);
        }
    });
}

av::CaptureVideoOrientation HYBbcsViewController::interfaceOrientationToVideoOrientation(
    ui::InterfaceOrientation orientation) {
    switch (orientation) {
        case ui::InterfaceOrientation::PortraitUpsideDown:
            return av::CaptureVideoOrientation::PortraitUpsideDown;
        case ui::InterfaceOrientation::LandscapeLeft:
            return av::CaptureVideoOrientation::LandscapeLeft;
        case ui::InterfaceOrientation::LandscapeRight:
            return av::CaptureVideoOrientation::LandscapeRight;
        default:
            return av::CaptureVideoOrientation::Portrait;
    }
}

void HYBbcsViewController::startCapturing() {
    if (processor_) processor_->setCapturing(true);
}

void HYBbcsViewController::schedule(void (HYBbcsProcessor::*action)()) {
    auto processor = processor_;
    if (!processor) return;
    dispatch::RunLoop::main().post([processor, action] { ((*processor).*action)(); });
}

void HYBbcsViewController::cancelButtonPressed() {
    schedule(&HYBbcsProcessor::barcodeScanCancelled);
}

void HYBbcsViewController::flipCameraButtonPressed() {
    schedule(&HYBbcsProcessor::flipCamera);
}

void HYBbcsViewController::torchButtonPressed() {
    schedule(&HYBbcsProcessor::toggleTorch);
}

void HYBbcsViewController::presentationControllerDidDismiss(ui::PresentationController&) {
    // The screen is already gone; the session stops the camera and answers the page.
    if (processor_) processor_->barcodeScanCancelled();
}

std::shared_ptr<ui::View> HYBbcsViewController::buildOverlayView() {
    if (alternateXib_) return buildOverlayViewFromXib();
    auto overlay = ui::View::create({{0, 0}, view()->frame().size});
    overlay->setAutoresizesSubviews(true);
    overlay->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    overlay->setOpaque(false);

    toolbar_ = ui::Toolbar::create();
    toolbar_->setAutoresizingMask(ui::kAutoresizingFlexibleWidth);
    std::weak_ptr<HYBbcsViewController> weak =
        std::static_pointer_cast<HYBbcsViewController>(sharedController());
    auto on = [weak](void (HYBbcsViewController::*action)()) {
        return [weak, action] {
            if (auto self = weak.lock()) ((*self).*action)();
        };
    };
    using Item = ui::BarButtonItem;
    auto cancel = Item::withSystemItem(Item::SystemItem::Cancel,
                                       on(&HYBbcsViewController::cancelButtonPressed));
    auto camera = Item::withSystemItem(Item::SystemItem::Camera,
                                       on(&HYBbcsViewController::flipCameraButtonPressed));
    auto space = [] { return Item::withSystemItem(Item::SystemItem::FlexibleSpace, nullptr); };
    std::vector<std::shared_ptr<Item>> items{space(), cancel, space()};
    if (processor_->isShowFlipCameraButton()) items.push_back(camera);
    if (processor_->isShowTorchButton() && !processor_->isFrontCamera()) {
        auto device = av::CaptureDevice::defaultDevice();
        if (device && device->hasTorch() && device->hasFlash()) {
            // The bundle's picture; its name in words where the application ships none.
            auto picture = torchImage();
            auto torch = picture ? Item::withImage(picture, Item::Style::Plain,
                                                   on(&HYBbcsViewController::torchButtonPressed))
                                 : Item::withTitle("Torch", Item::Style::Plain,
                                                   on(&HYBbcsViewController::torchButtonPressed));
            torch->setAccessibilityLabel("Torch");
            items.insert(items.begin(), torch);
        }
    }
    toolbar_->setItems(std::move(items));
    overlay->addSubview(toolbar_);

    reticleImage_ = buildReticleImage(processor_->is1D(), processor_->is2D());
    reticleView_ = ui::ImageView::create(reticleImage_);
    reticleView_->setOpaque(false);
    reticleView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    reticleView_->setAutoresizingMask(
        ui::kAutoresizingFlexibleLeftMargin | ui::kAutoresizingFlexibleRightMargin |
        ui::kAutoresizingFlexibleTopMargin | ui::kAutoresizingFlexibleBottomMargin);
    overlay->addSubview(reticleView_);

    overlayView_ = overlay;
    resizeElements();
    return overlay;
}

std::shared_ptr<ui::View> HYBbcsViewController::buildOverlayViewFromXib() {
    const std::string& name = *alternateXib_;
    std::shared_ptr<ui::View> overlay;
    if (isBareName(name)) {
        auto contents =
            ui::InterfaceFile::loadNamed(name, *ns::Bundle::mainBundle(), sharedController());
        if (contents.ok()) {
            auto& named = contents.value().namedObjects;
            if (auto found = named.find("overlayView"); found != named.end()) {
                overlay = std::dynamic_pointer_cast<ui::View>(found->second);
            }
            std::weak_ptr<HYBbcsViewController> weak =
                std::static_pointer_cast<HYBbcsViewController>(sharedController());
            const std::pair<const char*, void (HYBbcsViewController::*)()> actions[] = {
                {"cancelButtonPressed", &HYBbcsViewController::cancelButtonPressed},
                {"flipCameraButtonPressed", &HYBbcsViewController::flipCameraButtonPressed},
                {"torchButtonPressed", &HYBbcsViewController::torchButtonPressed},
                {"shutterButtonPressed", &HYBbcsViewController::shutterButtonPressed},
            };
            for (const auto& [id, action] : actions) {
                auto item = named.count(id)
                                ? std::dynamic_pointer_cast<ui::BarButtonItem>(named.at(id))
                                : nullptr;
                if (!item) continue;
                item->setAction([weak, action = action] {
                    if (auto self = weak.lock()) ((*self).*action)();
                });
            }
        } else {
            ns::nslog("HYBbcsViewController: %@", contents.error().localizedDescription());
        }
    }
    if (!overlay) {
        ns::nslog(
            "An error occurred loading the overlay xib.  It appears that the overlayView outlet "
            "is not set.");
        return nullptr;
    }
    overlay->setAutoresizesSubviews(true);
    overlay->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    overlay->setOpaque(false);
    overlay->setFrame({{0, 0}, view()->bounds().size});
    overlayView_ = overlay;
    return overlay;
}

std::shared_ptr<ui::Image> HYBbcsViewController::buildReticleImage(bool is1D, bool is2D) {
    auto context = ui::GraphicsContext::beginImageContext({kReticleSide, kReticleSide}, false, 1);
    if (!context) return nullptr;
    constexpr double kLine = 10;
    if (is1D) {
        // The line from (65, 250) to (435, 250), 10 wide.
        context->fillRect({65, 250 - kLine / 2, 370, kLine}, ui::Color(1, 0, 0, 0.4));
    }
    if (is2D) {
        // The outline of the square at (60, 60) with sides of 380, 10 wide about its edges.
        const ui::Color green(0, 1, 0, 0.4);
        const double outer = 60 - kLine / 2, side = 380 + kLine;
        context->fillRect({outer, outer, side, kLine}, green);
        context->fillRect({outer, outer + side - kLine, side, kLine}, green);
        context->fillRect({outer, outer + kLine, kLine, side - 2 * kLine}, green);
        context->fillRect({outer + side - kLine, outer + kLine, kLine, side - 2 * kLine}, green);
    }
    return context->makeImage();
}

void HYBbcsViewController::resizeElements() {
    if (!toolbar_ || !reticleView_) return;
    const ui::Rect bounds = view()->bounds();
    const double width = bounds.width();
    const double usableHeight = bounds.height() - view()->safeAreaInsets().bottom;
    const double toolbarHeight = kToolbarHeight;
    toolbar_->setFrame({0, usableHeight - toolbarHeight, width, toolbarHeight});
    const double side = std::min(usableHeight, width);
    reticleView_->setFrame({(width - side) / 2, (usableHeight - side) / 2, side, side});
    const ui::Point centre = view()->center();
    reticleView_->setCenter({centre.x, centre.y - toolbarHeight / 2});
}

ui::InterfaceOrientationMask HYBbcsViewController::supportedInterfaceOrientations() const {
    return ui::kInterfaceOrientationMaskAll;
}

ui::InterfaceOrientation HYBbcsViewController::preferredInterfaceOrientationForPresentation()
    const {
    return ui::StatusBar::shared().orientation();
}

bool HYBbcsViewController::shouldAutorotateToInterfaceOrientation(
    ui::InterfaceOrientation orientation) const {
    auto delegate = orientationDelegate_.lock();
    if (!delegate) return true;
    const auto bit = ui::InterfaceOrientationMask{1} << static_cast<int>(orientation);
    return delegate->shouldAutorotate() && (delegate->supportedInterfaceOrientations() & bit);
}

void HYBbcsViewController::willAnimateRotationToInterfaceOrientation(
    ui::InterfaceOrientation orientation, double) {
    if (auto layer = processor_ ? processor_->previewLayer() : nullptr) {
        layer->setFrame(view()->bounds());
        if (orientation != ui::InterfaceOrientation::Unknown) {
            layer->setVideoOrientation(interfaceOrientationToVideoOrientation(orientation));
        }
        layer->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
    }
    resizeElements();
}
