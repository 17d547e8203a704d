#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace av {

class AlsaCapture;

// Where recorded sound comes from: the machine's sound capture device where it has one, or a
// replay source chosen at launch ("tone:HZ" or "wav:PATH"): a sine tone, or the 16-bit PCM
// samples of a WAV file played in a loop. Without a choice and without a device, a 440 Hz
// tone.
class Microphone {
public:
    static constexpr uint32_t kSampleRate = 44100;
    static constexpr double kDefaultToneHz = 440;

    // The microphone in use.
    static std::shared_ptr<Microphone> shared();
    // Chooses the source from a launch argument ("tone:HZ", "wav:PATH" or "alsa:DEVICE");
    // false (and no change) for one it cannot use.
    static bool configure(const std::string& spec);
    // Takes the machine's sound capture device, when it has one (false otherwise).
    static bool attachFirstDevice();
    // The same, when the microphone is first asked for (unless a source is chosen before): a
    // run that records nothing never opens the sound card.
    static void attachFirstDeviceWhenAsked();
    static void setShared(std::shared_ptr<Microphone> microphone);

    static std::shared_ptr<Microphone> tone(double hz);
    // Nothing for a file that is not 16-bit PCM WAV with at least one sample.
    static std::shared_ptr<Microphone> wavFile(const std::string& path);

    // `frames` mono samples at kSampleRate from sample `from` of the source (a device gives
    // the next ones it captured, whatever `from` says).
    void read(uint64_t from, int16_t* out, size_t frames) const;
    int16_t sampleAt(uint64_t n) const;

    ~Microphone();

private:
    explicit Microphone(double hz);
    explicit Microphone(std::vector<int16_t> samples);
    explicit Microphone(std::unique_ptr<AlsaCapture> device);

    double hz_ = 0;
    std::vector<int16_t> samples_;
    std::unique_ptr<AlsaCapture> device_;
};

}  // namespace av
