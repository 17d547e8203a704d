#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/av/Microphone.h"
#include "platform/av/WAVWriter.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/ns/Result.h"

namespace av {

class AudioRecorder;

// Told when a recording ends: stopped, timed out or at the file's size limit (successfully),
// or when its file could not be written.
class AudioRecorderDelegate {
public:
    virtual ~AudioRecorderDelegate() = default;
    virtual void audioRecorderDidFinishRecording(AudioRecorder& recorder, bool successfully) = 0;
    virtual void audioRecorderEncodeErrorDidOccur(AudioRecorder& recorder,
                                                  const ns::Error& error) = 0;
};

// Records the microphone into a mono 16-bit WAV file at 44.1 kHz on the main run loop. Time is
// the main clock's: every tick takes the samples of the time that passed, appends them and
// updates the file's header, so a recording killed at any point plays up to its last tick.
class AudioRecorder {
public:
    static constexpr dispatch::Duration kTick = std::chrono::milliseconds(100);

    static ns::Result<std::shared_ptr<AudioRecorder>> create(
        std::string path, std::shared_ptr<Microphone> microphone = Microphone::shared());
    // Whether anything can be recorded at all: there is a sound input (Microphone::shared()).
    static bool isAvailable() { return Microphone::shared() != nullptr; }
    ~AudioRecorder();

    const std::string& path() const { return path_; }
    void setDelegate(std::weak_ptr<AudioRecorderDelegate> d) { delegate_ = std::move(d); }
    // Most sample bytes one recording may hold (the WAV format's own limit by default).
    void setMaxDataBytes(uint64_t bytes) { maxDataBytes_ = bytes; }

    bool prepareToRecord();
    bool record() { return start(std::nullopt); }
    bool recordForDuration(double seconds) { return start(seconds); }
    void stop();
    bool isRecording() const { return recording_; }
    // Seconds recorded so far in the current recording.
    double currentTime() const;

private:
    AudioRecorder(std::string path, std::shared_ptr<Microphone> microphone)
        : path_(std::move(path)), microphone_(std::move(microphone)) {}
    bool start(std::optional<double> seconds);
    void tick();
    void finish(bool successfully, std::optional<ns::Error> error = {});

    std::string path_;
    std::shared_ptr<Microphone> microphone_;
    std::weak_ptr<AudioRecorderDelegate> delegate_;
    WAVWriter writer_;
    uint64_t maxDataBytes_ = WAVWriter::kMaxDataBytes;
    bool recording_ = false;
    dispatch::TimePoint started_{};
    uint64_t framesWritten_ = 0;
    std::optional<uint64_t> frameLimit_;
    dispatch::TimerId timer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace av
