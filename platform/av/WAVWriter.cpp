#include "platform/av/WAVWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ns/AtomicFile.h"

namespace av {

namespace {

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

bool writeAll(int fd, const void* data, size_t size, off_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

}  // namespace

WAVWriter::~WAVWriter() {
    (void)close();
}

ns::Status WAVWriter::open(const std::string& path, uint32_t sampleRate, uint16_t channels,
                           uint64_t maxDataBytes) {
    (void)close();
    fd_ = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (fd_ < 0) return ns::posixError(errno, path);
    sampleRate_ = sampleRate;
    channels_ = channels == 0 ? 1 : channels;
    dataBytes_ = 0;
    maxDataBytes_ = std::min(maxDataBytes, kMaxDataBytes);
    return updateHeader();
}

bool WAVWriter::append(const int16_t* samples, size_t frames) {
    if (fd_ < 0) return false;
    const uint64_t room = (maxDataBytes_ - dataBytes_) / frameBytes();
    const bool fits = frames <= room;
    const size_t count = fits ? frames : size_t(room);
    if (count == 0) return fits;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(samples));
    std::vector<uint8_t> little;
    if constexpr (std::endian::native != std::endian::little) {
        little.resize(count * frameBytes());
        for (size_t i = 0; i < count * channels_; ++i) put16(&little[i * 2], uint16_t(samples[i]));
        bytes = little.data();
    }
    if (!writeAll(fd_, bytes, count * frameBytes(), off_t(kHeaderBytes + dataBytes_))) {
        return false;
    }
    dataBytes_ += count * frameBytes();
    return fits;
}

ns::Status WAVWriter::updateHeader() {
    if (fd_ < 0) return {};
    uint8_t h[kHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, uint32_t(36 + dataBytes_));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, channels_);
    put32(h + 24, sampleRate_);
    put32(h + 28, sampleRate_ * frameBytes());
    put16(h + 32, uint16_t(frameBytes()));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, uint32_t(dataBytes_));
    if (!writeAll(fd_, h, sizeof h, 0)) return ns::posixError(errno ? errno : EIO);
    return {};
}

ns::Status WAVWriter::close() {
    if (fd_ < 0) return {};
    auto status = updateHeader();
    if (::close(fd_) != 0 && status.ok()) status = ns::posixError(errno);
    fd_ = -1;
    return status;
}

}  // namespace av
