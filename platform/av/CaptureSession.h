#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/av/CaptureDeviceInput.h"
#include "platform/av/CaptureOutput.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/ui/Bitmap.h"

namespace av {

class CaptureVideoPreviewLayer;

inline const std::string AVCaptureSessionPresetHigh = "High";
inline const std::string AVCaptureSessionPresetMedium = "Medium";

// Joins a camera input to outputs. While it runs, it takes kFramesPerSecond frames a second
// from its device (timed on the main run loop, so a test's manual clock drives it), scales
// each down to the preset's size where it is larger, keeps the newest for its preview layers
// and hands it to its outputs. Frames are fetched and scaled on a capture worker, one at a
// time: a frame falls due while the one before is still being fetched is skipped.
// Configuration and start and stop on the main thread.
class CaptureSession : public std::enable_shared_from_this<CaptureSession> {
public:
    static constexpr double kFramesPerSecond = 15;

    static std::shared_ptr<CaptureSession> create();
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    bool canSetSessionPreset(const std::string& preset) const;
    // A preset it cannot take is a programming fault (ns::Exception).
    void setSessionPreset(const std::string& preset);
    const std::string& sessionPreset() const { return preset_; }

    // One camera input per session.
    bool canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const;
    void addInput(const std::shared_ptr<CaptureDeviceInput>& input);
    const std::vector<std::shared_ptr<CaptureDeviceInput>>& inputs() const { return inputs_; }
    bool canAddOutput(const std::shared_ptr<CaptureOutput>& output) const;
    void addOutput(const std::shared_ptr<CaptureOutput>& output);

    void startRunning();
    void stopRunning();
    bool isRunning() const { return running_; }

    // The newest frame, or null before the first. Any thread.
    std::shared_ptr<const ui::Bitmap> latestFrame() const;
    // Frames delivered so far. Any thread.
    uint64_t frameCount() const { return frameCount_; }

private:
    friend class CaptureVideoPreviewLayer;
    CaptureSession() = default;
    void addPreviewLayer(const std::shared_ptr<CaptureVideoPreviewLayer>& layer);
    void tick();
    void deliver(std::shared_ptr<const ui::Bitmap> picture,
                 const std::vector<std::shared_ptr<CaptureOutput>>& outputs);
    std::shared_ptr<const ui::Bitmap> fitToPreset(const std::shared_ptr<const ui::Bitmap>& picture);

    std::string preset_ = AVCaptureSessionPresetHigh;
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs_;
    std::vector<std::shared_ptr<CaptureOutput>> outputs_;
    std::vector<std::weak_ptr<CaptureVideoPreviewLayer>> layers_;
    std::atomic<bool> running_ = false;
    std::atomic<bool> fetching_ = false;
    std::atomic<int64_t> maxPixels_ = 0;
    dispatch::TimerId timer_ = 0;
    dispatch::TimePoint startedAt_{};
    std::atomic<uint64_t> frameCount_ = 0;
    mutable dispatch::Mutex frameMutex_;
    std::shared_ptr<const ui::Bitmap> latest_ GUARDED_BY(frameMutex_);
    // The last picture scaled to the preset, and what it was made from (worker only).
    std::shared_ptr<const ui::Bitmap> scaledFrom_;
    std::shared_ptr<const ui::Bitmap> scaled_;
};

}  // namespace av
