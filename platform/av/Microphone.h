#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace av {

// Where recorded sound comes from. The host has no microphone it can rely on, so a replay
// source stands in for one, chosen at launch ("tone:HZ" or "wav:PATH"): a sine tone, or the
// 16-bit PCM samples of a WAV file played in a loop. Without a choice, a 440 Hz tone.
class Microphone {
public:
    static constexpr uint32_t kSampleRate = 44100;
    static constexpr double kDefaultToneHz = 440;

    // The microphone in use.
    static std::shared_ptr<Microphone> shared();
    // Chooses the source from a launch argument; false (and no change) for one it cannot use.
    static bool configure(const std::string& spec);
    static void setShared(std::shared_ptr<Microphone> microphone);

    static std::shared_ptr<Microphone> tone(double hz);
    // Nothing for a file that is not 16-bit PCM WAV with at least one sample.
    static std::shared_ptr<Microphone> wavFile(const std::string& path);

    // `frames` mono samples at kSampleRate from sample `from` of the source.
    void read(uint64_t from, int16_t* out, size_t frames) const;
    int16_t sampleAt(uint64_t n) const;

private:
    explicit Microphone(double hz) : hz_(hz) {}
    explicit Microphone(std::vector<int16_t> samples) : samples_(std::move(samples)) {}

    double hz_ = 0;
    std::vector<int16_t> samples_;
};

}  // namespace av
