#pragma once

#include <memory>

#include "platform/ui/Bitmap.h"

namespace av {

class CaptureSession;

// What a running capture session hands its frames to.
class CaptureOutput {
public:
    virtual ~CaptureOutput() = default;

protected:
    friend class CaptureSession;
    // The session took the output in (main thread); `hasVideo` when it has a video input.
    virtual void didJoinSession(bool hasVideo) = 0;
    // One frame of the running session, on the session's capture worker. Must not block.
    virtual void captureFrame(const std::shared_ptr<const ui::Bitmap>& frame) = 0;
};

}  // namespace av
