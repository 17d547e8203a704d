#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Result.h"

namespace av {

class AlsaCapture;

// Where recorded sound comes from: the machine's sound capture device where it has one, or a
// replay source chosen at launch ("tone:HZ" or "wav:PATH"): a sine tone, or the 16-bit PCM
// samples of a WAV file played in a loop. Without a choice and without a device, a 440 Hz
// tone. A launch may also say that there is none ("none"): then no sound can be recorded.
//
// A device is held open only while it is used: the audio session opens it when it becomes
// active for recording and closes it when it lets it go, so that other programs may use the
// sound card meanwhile (a read of a closed device opens it again).
class Microphone {
public:
    static constexpr uint32_t kSampleRate = 44100;
    static constexpr double kDefaultToneHz = 440;
    // The code of the error that open() answers (the platform's "cannot start recording").
    static constexpr int64_t kCannotOpenDevice = 561145187;

    // The microphone in use; null when the launch said there is none.
    static std::shared_ptr<Microphone> shared();
    // Chooses the source from a launch argument ("tone:HZ", "wav:PATH", "alsa:DEVICE" or
    // "none"); false (and no change) for one it cannot use.
    static bool configure(const std::string& spec);
    // No sound input at all, until another source is chosen.
    static void setNone();
    // Takes the machine's sound capture device, when it has one, when the microphone is first
    // asked for (unless a source is chosen before): a run that records nothing never opens the
    // sound card.
    static void attachFirstDeviceWhenAsked();
    static void setShared(std::shared_ptr<Microphone> microphone);

    static std::shared_ptr<Microphone> tone(double hz);
    // Nothing for a file that is not 16-bit PCM WAV with at least one sample.
    static std::shared_ptr<Microphone> wavFile(const std::string& path);

    // Opens the device (nothing to do for a replay source); an error when it cannot be
    // opened now.
    ns::Status open();
    // Lets the device go.
    void close();

    // `frames` mono samples at kSampleRate from sample `from` of the source (a device gives
    // the next ones it captured, whatever `from` says; silence when it cannot be opened).
    void read(uint64_t from, int16_t* out, size_t frames);
    int16_t sampleAt(uint64_t n) const;

    ~Microphone();

private:
    explicit Microphone(double hz);
    explicit Microphone(std::vector<int16_t> samples);
    explicit Microphone(std::string deviceName);
    // The device of that name, if it can capture now (opened once to find out, then let go).
    static std::shared_ptr<Microphone> device(const std::string& name);

    double hz_ = 0;
    std::vector<int16_t> samples_;
    std::optional<std::string> deviceName_;
    mutable dispatch::Mutex deviceMutex_;
    std::unique_ptr<AlsaCapture> device_ GUARDED_BY(deviceMutex_);  // while open
};

}  // namespace av
