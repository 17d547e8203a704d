#include "platform/av/Microphone.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <utility>

#include "platform/av/AlsaCapture.h"

namespace av {

namespace {

std::mutex gSharedMutex;
std::shared_ptr<Microphone> gShared;
// The machine's sound card is looked for when the microphone is first asked for.
bool gAttachPending = false;

uint32_t le32(const char* p) {
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}
uint16_t le16(const char* p) {
    return uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8);
}

}  // namespace

std::shared_ptr<Microphone> Microphone::shared() {
    std::lock_guard lock(gSharedMutex);
    if (std::exchange(gAttachPending, false) && !gShared) {
        if (auto device = AlsaCapture::openFirst(kSampleRate)) {
            gShared.reset(new Microphone(std::move(device)));
        }
    }
    if (!gShared) gShared = tone(kDefaultToneHz);
    return gShared;
}

void Microphone::setShared(std::shared_ptr<Microphone> microphone) {
    std::lock_guard lock(gSharedMutex);
    gAttachPending = false;
    gShared = std::move(microphone);
}

void Microphone::attachFirstDeviceWhenAsked() {
    std::lock_guard lock(gSharedMutex);
    gAttachPending = true;
}

bool Microphone::configure(const std::string& spec) {
    std::shared_ptr<Microphone> chosen;
    if (spec.starts_with("tone:")) {
        char* end = nullptr;
        const double hz = std::strtod(spec.c_str() + 5, &end);
        if (end && *end == '\0' && std::isfinite(hz) && hz > 0 && hz < kSampleRate / 2.0) {
            chosen = tone(hz);
        }
    } else if (spec.starts_with("wav:")) {
        chosen = wavFile(spec.substr(4));
    } else if (spec.starts_with("alsa:")) {
        if (auto device = AlsaCapture::open(spec.substr(5), kSampleRate)) {
            chosen.reset(new Microphone(std::move(device)));
        }
    }
    if (!chosen) return false;
    setShared(std::move(chosen));
    return true;
}

Microphone::Microphone(double hz) : hz_(hz) {}

Microphone::Microphone(std::vector<int16_t> samples) : samples_(std::move(samples)) {}

Microphone::Microphone(std::unique_ptr<AlsaCapture> device) : device_(std::move(device)) {}

Microphone::~Microphone() = default;

bool Microphone::attachFirstDevice() {
    auto device = AlsaCapture::openFirst(kSampleRate);
    if (!device) return false;
    setShared(std::shared_ptr<Microphone>(new Microphone(std::move(device))));
    return true;
}

std::shared_ptr<Microphone> Microphone::tone(double hz) {
    return std::shared_ptr<Microphone>(new Microphone(hz));
}

std::shared_ptr<Microphone> Microphone::wavFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        return nullptr;
    }
    uint16_t channels = 0, bits = 0, format = 0;
    size_t at = 12;
    // Chunks are walked by their declared sizes, each checked against what is left.
    while (at + 8 <= bytes.size()) {
        const uint32_t size = le32(&bytes[at + 4]);
        const size_t body = at + 8;
        if (size > bytes.size() - body) return nullptr;
        if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16) {
            format = le16(&bytes[body]);
            channels = le16(&bytes[body + 2]);
            bits = le16(&bytes[body + 14]);
        } else if (bytes.compare(at, 4, "data") == 0) {
            if (format != 1 || bits != 16 || channels == 0) return nullptr;
            std::vector<int16_t> samples;
            const size_t frames = size / (2u * channels);
            samples.reserve(frames);
            for (size_t f = 0; f < frames; ++f) {
                samples.push_back(int16_t(le16(&bytes[body + f * 2u * channels])));
            }
            if (samples.empty()) return nullptr;
            return std::shared_ptr<Microphone>(new Microphone(std::move(samples)));
        }
        at = body + size + (size & 1);
    }
    return nullptr;
}

int16_t Microphone::sampleAt(uint64_t n) const {
    if (!samples_.empty()) return samples_[n % samples_.size()];
    const double phase = 2 * std::numbers::pi * hz_ * double(n) / kSampleRate;
    return int16_t(std::lround(std::sin(phase) * 12000));
}

void Microphone::read(uint64_t from, int16_t* out, size_t frames) const {
    if (device_) return device_->read(out, frames);
    for (size_t i = 0; i < frames; ++i) out[i] = sampleAt(from + i);
}

}  // namespace av
