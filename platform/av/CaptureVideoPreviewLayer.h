#pragma once

#include <memory>
#include <optional>

#include "platform/av/MetadataMachineReadableCodeObject.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewVisitor.h"

namespace av {

class CaptureSession;

enum class CaptureVideoOrientation {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

// How the camera picture fills the layer.
enum class LayerVideoGravity { ResizeAspect, ResizeAspectFill, Resize };

// The live picture of a capture session. It is a view here: the screen that shows it puts it
// beneath its other views, and the presenter draws the session's newest frame in it.
// Main thread, except the metadata transform.
class CaptureVideoPreviewLayer : public ui::View {
public:
    void accept(ui::ViewVisitor& visitor) override { visitor.visit(*this); }
    static std::shared_ptr<CaptureVideoPreviewLayer> layerWithSession(
        const std::shared_ptr<CaptureSession>& session);
    explicit CaptureVideoPreviewLayer(std::shared_ptr<CaptureSession> session);

    const std::shared_ptr<CaptureSession>& session() const { return session_; }
    void setVideoGravity(LayerVideoGravity gravity);

    // The connection's orientation of the picture.
    bool isVideoOrientationSupported() const { return true; }
    CaptureVideoOrientation videoOrientation() const { return orientation_; }
    void setVideoOrientation(CaptureVideoOrientation orientation) { orientation_ = orientation; }

    // Where the picture's unit square lands in the layer: the rectangle that the newest frame
    // takes with the gravity (it may reach past the layer with aspect fill).
    ui::Rect pictureRect() const;

    // The object with its corners and bounds in the layer's points, as the layer was last
    // laid out (the session notes the geometry before each frame). Any thread.
    MetadataMachineReadableCodeObject transformedMetadataObjectForMetadataObject(
        const MetadataMachineReadableCodeObject& object) const;

private:
    friend class CaptureSession;
    struct Geometry {
        ui::Size layer;
        ui::Size picture;
        LayerVideoGravity gravity = LayerVideoGravity::ResizeAspect;
    };
    static ui::Rect pictureRect(const Geometry& geometry);
    // Main thread: takes the layer's size and the newest frame's for the transform.
    void noteGeometry();

    std::shared_ptr<CaptureSession> session_;
    LayerVideoGravity gravity_ = LayerVideoGravity::ResizeAspect;
    CaptureVideoOrientation orientation_ = CaptureVideoOrientation::Portrait;
    mutable dispatch::Mutex mutex_;
    Geometry geometry_ GUARDED_BY(mutex_);
};

}  // namespace av
