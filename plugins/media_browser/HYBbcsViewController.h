#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBScreenOrientationDelegate.h"
#include "platform/av/CaptureVideoPreviewLayer.h"
#include "platform/ui/AdaptivePresentationControllerDelegate.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "plugins/media_browser/HYBBarcodeScannerOrientationDelegate.h"

class HYBbcsProcessor;

// The scanner screen of one scan session: the live camera picture beneath an overlay, by
// default a toolbar (cancel, and on request camera flip and torch) with a reticle centred
// above it, or an overlay from an interface file of the main bundle. Its buttons run the
// session's cancel, flip and torch on the next run-loop turn; once it has appeared it lets
// the session examine reads. Closing it the way the desktop allows (its window's close button,
// Escape) is the user's cancel. Main thread.
//
// An overlay file ("<name>.interface.json", the name a bare resource name) gives its overlay
// the id "overlayView"; bar button items with the ids "cancelButtonPressed",
// "flipCameraButtonPressed", "torchButtonPressed" and "shutterButtonPressed" run those
// actions.
class HYBbcsViewController : public ui::ViewController,
                             public HYBBarcodeScannerOrientationDelegate,
                             public ui::AdaptivePresentationControllerDelegate {
public:
    static constexpr double kToolbarHeight = 44;
    static constexpr double kReticleSide = 500;

    HYBbcsViewController(std::shared_ptr<HYBbcsProcessor> processor,
                         std::optional<std::string> alternateXib);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, ui::TransitionCoordinator& coordinator) override;
    void presentationControllerDidDismiss(ui::PresentationController&) override;

    static av::CaptureVideoOrientation interfaceOrientationToVideoOrientation(
        ui::InterfaceOrientation orientation);
    void startCapturing();

    void cancelButtonPressed();
    void flipCameraButtonPressed();
    void torchButtonPressed();
    void shutterButtonPressed() { shutterPressed_ = true; }

    std::shared_ptr<ui::View> buildOverlayView();
    std::shared_ptr<ui::View> buildOverlayViewFromXib();
    static std::shared_ptr<ui::Image> buildReticleImage(bool is1D, bool is2D);
    void resizeElements();

    bool shouldAutorotate() const override { return true; }
    ui::InterfaceOrientationMask supportedInterfaceOrientations() const override;
    ui::InterfaceOrientation preferredInterfaceOrientationForPresentation() const;
    bool shouldAutorotateToInterfaceOrientation(
        ui::InterfaceOrientation orientation) const override;
    void willAnimateRotationToInterfaceOrientation(ui::InterfaceOrientation orientation,
                                                   double duration);
    bool prefersStatusBarHidden() const override { return true; }

    bool shutterPressed() const { return shutterPressed_; }
    const std::shared_ptr<HYBbcsProcessor>& processor() const { return processor_; }
    const std::optional<std::string>& alternateXib() const { return alternateXib_; }
    const std::shared_ptr<ui::View>& overlayView() const { return overlayView_; }
    const std::shared_ptr<ui::Toolbar>& toolbar() const { return toolbar_; }
    // The reticle's view and the picture it shows.
    const std::shared_ptr<ui::ImageView>& reticleView() const { return reticleView_; }
    const std::shared_ptr<ui::Image>& reticleImage() const { return reticleImage_; }
    std::shared_ptr<HYBScreenOrientationDelegate> orientationDelegate() const {
        return orientationDelegate_.lock();
    }
    void setOrientationDelegate(std::weak_ptr<HYBScreenOrientationDelegate> delegate) {
        orientationDelegate_ = std::move(delegate);
    }

private:
    void schedule(void (HYBbcsProcessor::*action)());
    void placePreview();

    bool shutterPressed_ = false;
    std::shared_ptr<HYBbcsProcessor> processor_;
    std::optional<std::string> alternateXib_;
    std::shared_ptr<ui::View> overlayView_;
    std::shared_ptr<ui::Toolbar> toolbar_;
    std::shared_ptr<ui::ImageView> reticleView_;
    std::shared_ptr<ui::Image> reticleImage_;
    std::weak_ptr<HYBScreenOrientationDelegate> orientationDelegate_;
};
