#pragma once

#include <cstdint>
#include <string>

#include "platform/ns/Result.h"

namespace av {

// 16-bit PCM WAV written as it is recorded. The header's sizes are rewritten every time
// updateHeader() runs, so a process killed mid-recording leaves a file that plays up to the
// last update. The RIFF sizes are 32-bit: appending stops at the format's size limit.
class WAVWriter {
public:
    static constexpr uint32_t kHeaderBytes = 44;
    // The most sample bytes a WAV file can declare.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

    WAVWriter() = default;
    ~WAVWriter();
    WAVWriter(const WAVWriter&) = delete;
    WAVWriter& operator=(const WAVWriter&) = delete;

    // Creates (or empties) the file and writes a header for no samples yet.
    ns::Status open(const std::string& path, uint32_t sampleRate, uint16_t channels,
                    uint64_t maxDataBytes = kMaxDataBytes);
    bool isOpen() const { return fd_ >= 0; }
    // Appends whole frames; false when the limit is reached (what fits is written) or a
    // write fails.
    bool append(const int16_t* samples, size_t frames);
    // Rewrites the header's sizes for the samples written so far.
    ns::Status updateHeader();
    // Updates the header and closes the file.
    ns::Status close();

    uint64_t dataBytes() const { return dataBytes_; }
    bool reachedLimit() const { return dataBytes_ + frameBytes() > maxDataBytes_; }
    uint32_t frameBytes() const { return 2u * channels_; }

private:
    int fd_ = -1;
    uint32_t sampleRate_ = 0;
    uint16_t channels_ = 1;
    uint64_t dataBytes_ = 0;
    uint64_t maxDataBytes_ = kMaxDataBytes;
};

}  // namespace av
