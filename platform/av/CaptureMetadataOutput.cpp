#include "platform/av/CaptureMetadataOutput.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/av/CaptureDevice.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/Exception.h"
#include "platform/ns/FaultSeam.h"

namespace av {

namespace {

// The niceness of the worker: searching frames must not slow the user interface down.
constexpr int kWorkerNiceness = 10;

// One worker for every output; it is never destroyed, so an output's end never waits for a
// search (which may itself wait for the main thread).
dispatch::Queue& metadataQueue() {
    static auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("av.metadata"));
    return **queue;
}

void lowerThisThreadsPriority() {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    // Per thread on Linux; raising niceness needs no privilege. A refusal leaves it as it was.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNiceness);
}

}  // namespace

struct CaptureMetadataOutput::State {
    dispatch::Mutex mutex;
    std::shared_ptr<const ui::Bitmap> pending GUARDED_BY(mutex);
    bool draining GUARDED_BY(mutex) = false;
    std::shared_ptr<const BarcodeDetector> detector GUARDED_BY(mutex) =
        std::make_shared<BarcodeDetector>(std::vector<MetadataObjectType>{});
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate GUARDED_BY(mutex);
};

ns::Result<std::shared_ptr<CaptureMetadataOutput>> CaptureMetadataOutput::create() {
    if (ns::injectedFault("capture.output")) {
        return ns::Error(kCaptureDeviceErrorDomain, -11800,
                         {{ns::kLocalizedDescriptionKey, "The output cannot be made."}});
    }
    // The barcode libraries come with a module of their own, loaded here at the latest.
    if (!BarcodeDetector::isAvailable()) {
        return ns::Error(kCaptureDeviceErrorDomain, -11800,
                         {{ns::kLocalizedDescriptionKey,
                           "Codes cannot be read: the barcode libraries are not available."}});
    }
    return std::shared_ptr<CaptureMetadataOutput>(new CaptureMetadataOutput());
}

CaptureMetadataOutput::CaptureMetadataOutput() : state_(std::make_shared<State>()) {}

CaptureMetadataOutput::~CaptureMetadataOutput() {
    // A search under way finishes on its own; nothing waiting is searched any more.
    dispatch::Lock lock(state_->mutex);
    state_->pending.reset();
    state_->delegate.reset();
}

void CaptureMetadataOutput::setMetadataObjectsDelegate(
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate) {
    dispatch::Lock lock(state_->mutex);
    state_->delegate = std::move(delegate);
}

std::vector<MetadataObjectType> CaptureMetadataOutput::availableMetadataObjectTypes() const {
    return hasVideo_ ? BarcodeDetector::availableTypes() : std::vector<MetadataObjectType>{};
}

void CaptureMetadataOutput::setMetadataObjectTypes(const std::vector<MetadataObjectType>& types) {
    const auto available = availableMetadataObjectTypes();
    for (const auto& type : types) {
        if (std::find(available.begin(), available.end(), type) == available.end()) {
            throw ns::Exception("NSInvalidArgumentException",
                                "unsupported type found: " + type +
                                    " (the output has no camera input, or no such kind)");
        }
    }
    auto detector = std::make_shared<const BarcodeDetector>(types);
    dispatch::Lock lock(state_->mutex);
    state_->detector = std::move(detector);
}

void CaptureMetadataOutput::didJoinSession(bool hasVideo) {
    hasVideo_ = hasVideo;
}

void CaptureMetadataOutput::captureFrame(const std::shared_ptr<const ui::Bitmap>& frame) {
    {
        dispatch::Lock lock(state_->mutex);
        if (!state_->detector->findsAnything()) return;
        state_->pending = frame;
        if (state_->draining) return;
        state_->draining = true;
    }
    metadataQueue().async([state = state_] { drain(state); });
}

void CaptureMetadataOutput::drain(const std::shared_ptr<State>& state) {
    lowerThisThreadsPriority();
    for (;;) {
        std::shared_ptr<const ui::Bitmap> frame;
        std::shared_ptr<const BarcodeDetector> detector;
        {
            dispatch::Lock lock(state->mutex);
            frame = std::move(state->pending);
            state->pending.reset();
            if (!frame) {
                state->draining = false;
                return;
            }
            detector = state->detector;
        }
        auto objects = detector->detect(*frame);
        std::shared_ptr<CaptureMetadataOutputObjectsDelegate> delegate;
        {
            dispatch::Lock lock(state->mutex);
            delegate = state->delegate.lock();
        }
        if (!delegate) continue;
        if (!objects.empty()) delegate->captureOutput(objects);
        // The delegate may be a main-thread object whose other owners let go meanwhile: its
        // last reference goes on the main thread, never here.
        dispatch::Queue::main().async([last = std::move(delegate)] {});
    }
}

}  // namespace av
