#include "platform/av/CaptureVideoPreviewLayer.h"

#include <algorithm>

#include "platform/av/CaptureSession.h"

namespace av {

std::shared_ptr<CaptureVideoPreviewLayer> CaptureVideoPreviewLayer::layerWithSession(
    const std::shared_ptr<CaptureSession>& session) {
    auto layer = std::make_shared<CaptureVideoPreviewLayer>(session);
    if (session) session->addPreviewLayer(layer);
    return layer;
}

CaptureVideoPreviewLayer::CaptureVideoPreviewLayer(std::shared_ptr<CaptureSession> session)
    : session_(std::move(session)) {}

void CaptureVideoPreviewLayer::setVideoGravity(LayerVideoGravity gravity) {
    ui::Display::update(gravity_, gravity);
    noteGeometry();
}

void CaptureVideoPreviewLayer::noteGeometry() {
    Geometry geometry{frame().size, {}, gravity_};
    if (auto picture = session_ ? session_->latestFrame() : nullptr) {
        geometry.picture = {double(picture->width()), double(picture->height())};
    }
    dispatch::Lock lock(mutex_);
    geometry_ = geometry;
}

ui::Rect CaptureVideoPreviewLayer::pictureRect(const Geometry& g) {
    if (g.picture.width <= 0 || g.picture.height <= 0 || g.gravity == LayerVideoGravity::Resize) {
        return {{0, 0}, g.layer};
    }
    const double sx = g.layer.width / g.picture.width;
    const double sy = g.layer.height / g.picture.height;
    const double scale =
        g.gravity == LayerVideoGravity::ResizeAspectFill ? std::max(sx, sy) : std::min(sx, sy);
    const double width = g.picture.width * scale, height = g.picture.height * scale;
    return {(g.layer.width - width) / 2, (g.layer.height - height) / 2, width, height};
}

ui::Rect CaptureVideoPreviewLayer::pictureRect() const {
    Geometry geometry{frame().size, {}, gravity_};
    if (auto picture = session_ ? session_->latestFrame() : nullptr) {
        geometry.picture = {double(picture->width()), double(picture->height())};
    }
    return pictureRect(geometry);
}

MetadataMachineReadableCodeObject
CaptureVideoPreviewLayer::transformedMetadataObjectForMetadataObject(
    const MetadataMachineReadableCodeObject& object) const {
    Geometry geometry;
    {
        dispatch::Lock lock(mutex_);
        geometry = geometry_;
    }
    const ui::Rect picture = pictureRect(geometry);
    std::vector<ui::Point> corners;
    for (const auto& corner : object.corners()) {
        corners.push_back(
            {picture.x() + corner.x * picture.width(), picture.y() + corner.y * picture.height()});
    }
    return MetadataMachineReadableCodeObject(object.type(), object.stringValue(),
                                             std::move(corners));
}

}  // namespace av
