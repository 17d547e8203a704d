#include "platform/av/AudioRecorder.h"

#include <cmath>
#include <vector>

#include "platform/dispatch/RunLoop.h"

namespace av {

ns::Result<std::shared_ptr<AudioRecorder>> AudioRecorder::create(
    std::string path, std::shared_ptr<Microphone> microphone) {
    if (!microphone) return ns::Error("AVAudioSessionErrorDomain", 561145203);
    return std::shared_ptr<AudioRecorder>(
        new AudioRecorder(std::move(path), std::move(microphone)));
}

AudioRecorder::~AudioRecorder() {
    *alive_ = false;
    if (timer_) dispatch::RunLoop::main().cancel(timer_);
}

bool AudioRecorder::prepareToRecord() {
    if (writer_.isOpen()) return true;
    return writer_.open(path_, Microphone::kSampleRate, 1, maxDataBytes_).ok();
}

bool AudioRecorder::start(std::optional<double> seconds) {
    if (recording_) return true;
    if (seconds && !(std::isfinite(*seconds) && *seconds > 0)) return false;
    // A new recording writes the same file again from its start.
    if (!writer_.open(path_, Microphone::kSampleRate, 1, maxDataBytes_).ok()) return false;
    recording_ = true;
    framesWritten_ = 0;
    frameLimit_.reset();
    if (seconds) frameLimit_ = uint64_t(std::llround(*seconds * Microphone::kSampleRate));
    started_ = dispatch::Clock::current().now();
    std::weak_ptr<bool> alive = alive_;
    timer_ = dispatch::RunLoop::main().scheduleRepeating(kTick, [this, alive] {
        if (alive.lock()) tick();
    });
    return true;
}

double AudioRecorder::currentTime() const {
    return double(framesWritten_) / Microphone::kSampleRate;
}

void AudioRecorder::tick() {
    if (!recording_) return;
    const auto elapsed = dispatch::Clock::current().now() - started_;
    uint64_t due =
        uint64_t(std::chrono::duration<double>(elapsed).count() * Microphone::kSampleRate);
    if (frameLimit_) due = std::min(due, *frameLimit_);
    std::vector<int16_t> samples;
    bool full = false;
    constexpr uint64_t kChunk = 1 << 16;
    while (framesWritten_ < due && !full) {
        const size_t count = size_t(std::min(due - framesWritten_, kChunk));
        samples.resize(count);
        microphone_->read(framesWritten_, samples.data(), count);
        const uint64_t before = writer_.dataBytes();
        full = !writer_.append(samples.data(), count);
        framesWritten_ += (writer_.dataBytes() - before) / writer_.frameBytes();
        if (full && !writer_.reachedLimit()) {
            return finish(false, ns::Error("NSOSStatusErrorDomain", -1));
        }
    }
    if (!writer_.updateHeader().ok()) return finish(false, ns::Error("NSOSStatusErrorDomain", -1));
    if (full || (frameLimit_ && framesWritten_ >= *frameLimit_)) finish(true);
}

void AudioRecorder::stop() {
    if (!recording_) return;
    tick();
    if (recording_) finish(true);
}

void AudioRecorder::finish(bool successfully, std::optional<ns::Error> error) {
    recording_ = false;
    if (timer_) dispatch::RunLoop::main().cancel(timer_);
    timer_ = 0;
    const bool closed = writer_.close().ok();
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (error) return delegate->audioRecorderEncodeErrorDidOccur(*this, *error);
    delegate->audioRecorderDidFinishRecording(*this, successfully && closed);
}

}  // namespace av
