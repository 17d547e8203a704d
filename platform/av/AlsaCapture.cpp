#include "platform/av/AlsaCapture.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

namespace av {
namespace {

// The library's own complaints (a device that is not there) go nowhere: the caller answers.
void quiet(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<AlsaCapture> AlsaCapture::open(const std::string& name, unsigned rate) {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quiet); });
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, 0) < 0) return nullptr;
    // Half a second of buffer: the recorder reads every tenth of a second.
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, rate, 1,
                           500000) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::unique_ptr<AlsaCapture>(new AlsaCapture(pcm));
}

std::unique_ptr<AlsaCapture> AlsaCapture::openFirst(unsigned rate) {
    std::error_code error;
    bool captures = false;
    for (std::filesystem::directory_iterator it("/dev/snd", error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        captures = captures || (name.starts_with("pcmC") && name.ends_with("c"));
    }
    return captures ? open(kFirstDeviceName, rate) : nullptr;
}

AlsaCapture::~AlsaCapture() {
    snd_pcm_close(pcm_);
}

void AlsaCapture::read(int16_t* out, size_t frames) {
    dispatch::Lock lock(mutex_);
    size_t done = 0;
    while (done < frames) {
        if (snd_pcm_wait(pcm_, kReadTimeoutMs) <= 0) break;
        const snd_pcm_sframes_t got =
            snd_pcm_readi(pcm_, out + done, static_cast<snd_pcm_uframes_t>(frames - done));
        if (got < 0) {
            // An overrun (the device was not read for a while) is recovered from, once.
            if (snd_pcm_recover(pcm_, static_cast<int>(got), 1) < 0) break;
            continue;
        }
        done += static_cast<size_t>(got);
    }
    std::fill(out + done, out + frames, int16_t{0});
}

}  // namespace av
