#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/dispatch/Mutex.h"

typedef struct _snd_pcm snd_pcm_t;

namespace av {

// A sound capture device of the machine's sound system, read as 16-bit mono samples at a
// fixed rate. Opened once; the device starts capturing at the first read and keeps on, so
// that consecutive reads are consecutive sound. Usable from any thread.
class AlsaCapture {
public:
    // How long a read waits for samples the device has not delivered yet; what is still
    // missing then is silence.
    static constexpr int kReadTimeoutMs = 500;

    // The device named `name` ("default", "hw:0,0" ...); null when it cannot capture at the
    // rate in 16-bit mono.
    static std::unique_ptr<AlsaCapture> open(const std::string& name, unsigned rate);
    // The name under which openFirst opens the machine's device.
    static constexpr const char* kFirstDeviceName = "default";

    // The machine's default capture device, when the machine has a sound card that captures
    // (a /dev/snd/pcmC*D*c node); null otherwise.
    static std::unique_ptr<AlsaCapture> openFirst(unsigned rate);
    ~AlsaCapture();
    AlsaCapture(const AlsaCapture&) = delete;
    AlsaCapture& operator=(const AlsaCapture&) = delete;

    // The next `frames` samples.
    void read(int16_t* out, size_t frames);

private:
    explicit AlsaCapture(snd_pcm_t* pcm) : pcm_(pcm) {}

    dispatch::Mutex mutex_;
    snd_pcm_t* pcm_;
};

}  // namespace av
