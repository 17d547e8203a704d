#include "platform/av/CaptureSession.h"

#include <algorithm>
#include <cmath>

#include "platform/av/CaptureVideoPreviewLayer.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FaultSeam.h"
#include "platform/ui/Display.h"
#include "platform/ui/GraphicsContext.h"

namespace av {

namespace {

// One worker for every session; it is never destroyed, so no session's end waits on it.
dispatch::Queue& captureQueue() {
    static auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("av.capture"));
    return **queue;
}

int64_t presetPixels(const std::string& preset) {
    if (preset == AVCaptureSessionPresetHigh) return 1920 * 1080;
    if (preset == AVCaptureSessionPresetMedium) return 480 * 360;
    return 0;
}

}  // namespace

std::shared_ptr<CaptureSession> CaptureSession::create() {
    auto session = std::shared_ptr<CaptureSession>(new CaptureSession());
    session->maxPixels_ = presetPixels(session->preset_);
    return session;
}

CaptureSession::~CaptureSession() {
    if (timer_) dispatch::RunLoop::main().cancel(timer_);
}

bool CaptureSession::canSetSessionPreset(const std::string& preset) const {
    return presetPixels(preset) > 0 && !ns::injectedFault("capture.preset");
}

void CaptureSession::setSessionPreset(const std::string& preset) {
    if (presetPixels(preset) == 0) {
        throw ns::Exception("NSInvalidArgumentException", "unknown session preset " + preset);
    }
    preset_ = preset;
    maxPixels_ = presetPixels(preset);
}

bool CaptureSession::canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const {
    return input && inputs_.empty() && !ns::injectedFault("capture.addInput");
}

void CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    if (!input || !inputs_.empty()) {
        throw ns::Exception("NSInvalidArgumentException", "the session cannot take the input");
    }
    inputs_.push_back(input);
}

bool CaptureSession::canAddOutput(const std::shared_ptr<CaptureOutput>& output) const {
    return output && std::find(outputs_.begin(), outputs_.end(), output) == outputs_.end() &&
           !ns::injectedFault("capture.addOutput");
}

void CaptureSession::addOutput(const std::shared_ptr<CaptureOutput>& output) {
    if (!output || std::find(outputs_.begin(), outputs_.end(), output) != outputs_.end()) {
        throw ns::Exception("NSInvalidArgumentException", "the session cannot take the output");
    }
    outputs_.push_back(output);
    output->didJoinSession(!inputs_.empty());
}

void CaptureSession::addPreviewLayer(const std::shared_ptr<CaptureVideoPreviewLayer>& layer) {
    layers_.push_back(layer);
}

void CaptureSession::startRunning() {
    dispatch::RunLoop::requireMainThread("CaptureSession::startRunning");
    if (running_) return;
    running_ = true;
    startedAt_ = dispatch::Clock::current().now();
    std::weak_ptr<CaptureSession> weak = weak_from_this();
    timer_ = dispatch::RunLoop::main().scheduleRepeating(dispatch::seconds(1.0 / kFramesPerSecond),
                                                         [weak] {
                                                             if (auto self = weak.lock())
                                                                 self->tick();
                                                         });
}

void CaptureSession::stopRunning() {
    dispatch::RunLoop::requireMainThread("CaptureSession::stopRunning");
    running_ = false;
    if (timer_) dispatch::RunLoop::main().cancel(timer_);
    timer_ = 0;
}

std::shared_ptr<const ui::Bitmap> CaptureSession::latestFrame() const {
    dispatch::Lock lock(frameMutex_);
    return latest_;
}

void CaptureSession::tick() {
    // The layers' geometry as the coming frame will be shown with it.
    std::erase_if(layers_, [](const auto& layer) { return layer.expired(); });
    for (const auto& weak : layers_) {
        if (auto layer = weak.lock()) layer->noteGeometry();
    }
    if (!running_ || inputs_.empty() || fetching_.exchange(true)) return;
    const auto device = inputs_.front()->device();
    const auto elapsed = dispatch::Clock::current().now() - startedAt_;
    std::weak_ptr<CaptureSession> weak = weak_from_this();
    captureQueue().async([weak, device, elapsed, outputs = outputs_] {
        auto picture = device->frame(elapsed);
        if (auto self = weak.lock()) {
            self->deliver(std::move(picture), outputs);
            self->fetching_ = false;
        }
    });
}

void CaptureSession::deliver(std::shared_ptr<const ui::Bitmap> picture,
                             const std::vector<std::shared_ptr<CaptureOutput>>& outputs) {
    if (!picture || !running_) return;
    auto frame = fitToPreset(picture);
    if (!frame) return;
    {
        dispatch::Lock lock(frameMutex_);
        latest_ = frame;
    }
    ++frameCount_;
    // The session's preview layers show it.
    ui::Display::setNeedsUpdate();
    for (const auto& output : outputs) output->captureFrame(frame);
}

std::shared_ptr<const ui::Bitmap> CaptureSession::fitToPreset(
    const std::shared_ptr<const ui::Bitmap>& picture) {
    const int64_t pixels = int64_t(picture->width()) * picture->height();
    if (pixels <= maxPixels_) return picture;
    if (picture == scaledFrom_) return scaled_;
    const double factor = std::sqrt(double(maxPixels_) / double(pixels));
    const ui::Size size{std::max(1.0, std::floor(picture->width() * factor)),
                        std::max(1.0, std::floor(picture->height() * factor))};
    auto context = ui::GraphicsContext::beginImageContext(size, true, 1.0);
    if (!context) return nullptr;
    context->drawBitmap(*picture, {{0, 0}, size});
    scaledFrom_ = picture;
    scaled_ = context->bitmap();
    return scaled_;
}

}  // namespace av
