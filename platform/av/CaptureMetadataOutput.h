#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/av/BarcodeDetector.h"
#include "platform/av/CaptureOutput.h"
#include "platform/av/MetadataMachineReadableCodeObject.h"
#include "platform/ns/Result.h"

namespace av {

class CaptureMetadataOutputObjectsDelegate {
public:
    virtual ~CaptureMetadataOutputObjectsDelegate() = default;
    // The codes seen in one frame (never an empty batch), on the output's worker.
    virtual void captureOutput(const std::vector<MetadataMachineReadableCodeObject>& objects) = 0;
};

// Recognises machine-readable codes in a session's frames. Frames are searched on one
// low-priority worker, one at a time; while it searches, only the newest frame waits (a
// one-deep queue), so a slow search drops frames instead of falling behind or piling them up.
// The delegate hears each batch on that worker. Configuration on the main thread.
class CaptureMetadataOutput : public CaptureOutput,
                              public std::enable_shared_from_this<CaptureMetadataOutput> {
public:
    // An error when no output can be made now.
    static ns::Result<std::shared_ptr<CaptureMetadataOutput>> create();
    ~CaptureMetadataOutput() override;

    // Held weakly.
    void setMetadataObjectsDelegate(std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate);

    // Every kind once the output is in a session with a camera input, none before.
    std::vector<MetadataObjectType> availableMetadataObjectTypes() const;
    // A kind that is not available is a programming fault (ns::Exception).
    void setMetadataObjectTypes(const std::vector<MetadataObjectType>& types);

private:
    struct State;
    CaptureMetadataOutput();
    void didJoinSession(bool hasVideo) override;
    void captureFrame(const std::shared_ptr<const ui::Bitmap>& frame) override;
    static void drain(const std::shared_ptr<State>& state);

    bool hasVideo_ = false;
    std::shared_ptr<State> state_;
};

}  // namespace av
