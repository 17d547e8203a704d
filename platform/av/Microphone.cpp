#include "platform/av/Microphone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <utility>

#include "platform/av/AlsaCapture.h"
#include "platform/ns/FaultSeam.h"

namespace av {

namespace {

dispatch::Mutex gSharedMutex;
std::shared_ptr<Microphone> gShared GUARDED_BY(gSharedMutex);
// The machine's sound card is looked for when the microphone is first asked for.
bool gAttachPending GUARDED_BY(gSharedMutex) = false;
// The launch said there is no sound input.
bool gNone GUARDED_BY(gSharedMutex) = false;

uint32_t le32(const char* p) {
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}
uint16_t le16(const char* p) {
    return uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8);
}

}  // namespace

std::shared_ptr<Microphone> Microphone::shared() {
    dispatch::Lock lock(gSharedMutex);
    if (gNone) return nullptr;
    if (std::exchange(gAttachPending, false) && !gShared) {
        if (AlsaCapture::openFirst(kSampleRate)) {
            gShared.reset(new Microphone(std::string(AlsaCapture::kFirstDeviceName)));
        }
    }
    if (!gShared) gShared = tone(kDefaultToneHz);
    return gShared;
}

void Microphone::setShared(std::shared_ptr<Microphone> microphone) {
    dispatch::Lock lock(gSharedMutex);
    gAttachPending = false;
    gNone = false;
    gShared = std::move(microphone);
}

void Microphone::setNone() {
    dispatch::Lock lock(gSharedMutex);
    gAttachPending = false;
    gNone = true;
    gShared.reset();
}

void Microphone::attachFirstDeviceWhenAsked() {
    dispatch::Lock lock(gSharedMutex);
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
        chosen = device(spec.substr(5));
    } else if (spec == "none") {
        setNone();
        return true;
    }
    if (!chosen) return false;
    setShared(std::move(chosen));
    return true;
}

Microphone::Microphone(double hz) : hz_(hz) {}

Microphone::Microphone(std::vector<int16_t> samples) : samples_(std::move(samples)) {}

Microphone::Microphone(std::string deviceName) : deviceName_(std::move(deviceName)) {}

Microphone::~Microphone() = default;

std::shared_ptr<Microphone> Microphone::device(const std::string& name) {
    if (!AlsaCapture::open(name, kSampleRate)) return nullptr;
    return std::shared_ptr<Microphone>(new Microphone(name));
}

ns::Status Microphone::open() {
    const auto cannot = [](const std::string& name) {
        return ns::Error(
            "NSOSStatusErrorDomain", kCannotOpenDevice,
            {{ns::kLocalizedDescriptionKey, "The sound input " + name + " cannot be opened."}});
    };
    if (ns::injectedFault("microphone.open")) return cannot(deviceName_.value_or("replayed"));
    if (!deviceName_) return ns::Status();
    dispatch::Lock lock(deviceMutex_);
    if (!device_) device_ = AlsaCapture::open(*deviceName_, kSampleRate);
    if (device_) return ns::Status();
    return cannot(*deviceName_);
}

void Microphone::close() {
    dispatch::Lock lock(deviceMutex_);
    device_.reset();
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

void Microphone::read(uint64_t from, int16_t* out, size_t frames) {
    if (deviceName_) {
        dispatch::Lock lock(deviceMutex_);
        if (!device_) device_ = AlsaCapture::open(*deviceName_, kSampleRate);
        if (device_) return device_->read(out, frames);
        return std::fill(out, out + frames, int16_t{0});
    }
    for (size_t i = 0; i < frames; ++i) out[i] = sampleAt(from + i);
}

}  // namespace av
