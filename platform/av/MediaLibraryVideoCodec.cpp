#include "platform/av/MediaLibraryVideoCodec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rt/ModuleLoader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace av {

namespace {

// Containers that a recorded or downloaded clip or sound comes in. Playlist and concatenation
// formats are left out: they open further files named inside the input.
constexpr const char* kAllowedFormats =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpeg,mpegts,mp3,ogg,flac,aac,wav,aiff,caf";

ns::Error avError(int64_t code, const std::string& reason) {
    return ns::Error(kAVErrorDomain, code, {{ns::kLocalizedDescriptionKey, reason}});
}

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleFreer>;

// Clockwise quarter turns that make the stored picture stand as recorded.
int quarterTurns(const AVStream& stream) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t)) return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (!std::isfinite(angle)) return 0;
    // The matrix angle is counter-clockwise; showing the picture turns it back.
    long turns = std::lround(-angle / 90.0) % 4;
    return static_cast<int>(turns < 0 ? turns + 4 : turns);
}

std::shared_ptr<ui::Bitmap> rotated(const ui::Bitmap& source, int turns) {
    const int w = source.width();
    const int h = source.height();
    const bool sideways = turns % 2 == 1;
    auto out = ui::Bitmap::create(sideways ? h : w, sideways ? w : h);
    if (!out) return nullptr;
    const int inStride = source.stride() / 4;
    const int outStride = out->stride() / 4;
    const auto* in = reinterpret_cast<const uint32_t*>(source.data());
    auto* dst = reinterpret_cast<uint32_t*>(out->data());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int nx = x, ny = y;
            if (turns == 1) nx = h - 1 - y, ny = x;
            if (turns == 2) nx = w - 1 - x, ny = h - 1 - y;
            if (turns == 3) nx = y, ny = w - 1 - x;
            dst[ny * outStride + nx] = in[y * inStride + x];
        }
    }
    out->markDirty();
    return out;
}

// One row of `width` BGRA pixels with the alpha byte (the top byte of each little-endian
// pixel word) set to full.
void copyOpaque(const uint8_t* from, uint8_t* to, int width) {
    for (int x = 0; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, from + static_cast<ptrdiff_t>(x) * 4, 4);
        pixel |= 0xff000000u;
        std::memcpy(to + static_cast<ptrdiff_t>(x) * 4, &pixel, 4);
    }
}

// Room the converter may write past the end of the last row.
constexpr size_t kConverterSlack = 64;

ns::Result<std::shared_ptr<ui::Bitmap>> toBitmap(const AVFrame& frame) {
    if (!ui::Bitmap::isAllowedSize(frame.width, frame.height) || frame.width <= 0 ||
        frame.height <= 0) {
        return avError(AVErrorDecodeFailed, "The frame is too large.");
    }
    ScalePtr scale(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) return avError(AVErrorDecodeFailed, "The frame's pixel format is not supported.");
    // The converter writes whole vector widths, past the end of a row and of the last one, so
    // it writes into a buffer padded and aligned for it, never straight into a bitmap's own.
    // Where the bitmap's rows are as far apart as the converter's vectors want them (the width
    // a multiple of four), that buffer becomes the bitmap: no second buffer, no copy.
    const int nativeStride = ui::Bitmap::nativeStride(frame.width);
    const bool adopted = nativeStride % 16 == 0;
    uint8_t* planes[4] = {};
    int strides[4] = {};
    if (adopted) {
        const size_t bytes =
            static_cast<size_t>(nativeStride) * (static_cast<size_t>(frame.height) + 1) +
            kConverterSlack;
        planes[0] = static_cast<uint8_t*>(av_malloc(bytes));
        strides[0] = nativeStride;
        if (!planes[0]) return avError(AVErrorDecodeFailed, "Out of memory.");
    } else if (av_image_alloc(planes, strides, frame.width, frame.height + 1, AV_PIX_FMT_BGRA, 64) <
               0) {
        return avError(AVErrorDecodeFailed, "Out of memory.");
    }
    std::unique_ptr<uint8_t, void (*)(void*)> converted(planes[0], av_free);
    if (sws_scale(scale.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) !=
        frame.height) {
        return avError(AVErrorDecodeFailed, "The frame could not be converted.");
    }
    // BGRA with full alpha is the bitmap's premultiplied native order on little-endian hosts.
    // Every frame is made opaque, as a video frame is shown: the converter leaves the alpha of
    // some source formats (palettes, odd layouts) at zero, not only of those with an alpha plane.
    // Copying and making opaque are one pass over whole pixels, which the compiler vectorises.
    if (adopted) {
        for (int y = 0; y < frame.height; ++y) {
            uint8_t* row = planes[0] + static_cast<ptrdiff_t>(y) * strides[0];
            copyOpaque(row, row, frame.width);
        }
        auto bitmap = ui::Bitmap::adopt(converted.release(), frame.width, frame.height, av_free);
        if (!bitmap) return avError(AVErrorDecodeFailed, "Out of memory.");
        bitmap->markDirty();
        return bitmap;
    }
    auto bitmap = ui::Bitmap::create(frame.width, frame.height);
    if (!bitmap) return avError(AVErrorDecodeFailed, "Out of memory.");
    uint8_t* base = bitmap->data();
    for (int y = 0; y < frame.height; ++y) {
        copyOpaque(planes[0] + static_cast<ptrdiff_t>(y) * strides[0],
                   base + static_cast<ptrdiff_t>(y) * bitmap->stride(), frame.width);
    }
    bitmap->markDirty();
    return bitmap;
}

// The libraries' interrupt callback: whether the work is to stop.
int interrupted(void* stop) {
    return static_cast<DecodeStop*>(stop)->stopNow();
}

// The demuxer's input: the open file, read at an offset of its own (never the descriptor's,
// which its owner may share), so that what is read is the file that was opened, never a file
// found again by name.
class FileInput {
public:
    static constexpr int kBufferSize = 64 * 1024;

    explicit FileInput(int file) : file_(file) {}

    static int read(void* opaque, uint8_t* buffer, int size) {
        auto& input = *static_cast<FileInput*>(opaque);
        for (;;) {
            const ssize_t n = ::pread(input.file_, buffer, size_t(size), input.offset_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return AVERROR(errno);
            if (n == 0) return AVERROR_EOF;
            input.offset_ += n;
            return static_cast<int>(n);
        }
    }
    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto& input = *static_cast<FileInput*>(opaque);
        struct stat info {};
        const bool sized = ::fstat(input.file_, &info) == 0;
        if (whence & AVSEEK_SIZE) return sized ? int64_t(info.st_size) : AVERROR(errno);
        int64_t target = offset;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                target = input.offset_ + offset;
                break;
            case SEEK_END:
                if (!sized) return AVERROR(errno);
                target = int64_t(info.st_size) + offset;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (target < 0) return AVERROR(EINVAL);
        input.offset_ = target;
        return target;
    }

private:
    int file_;
    int64_t offset_ = 0;
};

struct IOContextFreer {
    void operator()(AVIOContext* c) const {
        if (!c) return;
        av_freep(&c->buffer);
        avio_context_free(&c);
    }
};
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextFreer>;

// The one input may name no other: a demuxer that would open a further file (a reference, a
// segment) is refused.
int refuseFurtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// An opened and probed file: the demuxer, reading the one file of the known containers only,
// and its best video stream. The input outlives the demuxer that reads from it.
struct OpenedFile {
    std::unique_ptr<FileInput> input;
    IOContextPtr io;
    FormatPtr format;
    int videoIndex = -1;
    const AVCodec* decoder = nullptr;
};

ns::Result<OpenedFile> openAndProbe(int file, DecodeStop& stop) {
    OpenedFile opened;
    opened.input = std::make_unique<FileInput>(file);
    if (auto* buffer = static_cast<uint8_t*>(av_malloc(FileInput::kBufferSize))) {
        opened.io.reset(avio_alloc_context(buffer, FileInput::kBufferSize, 0, opened.input.get(),
                                           &FileInput::read, nullptr, &FileInput::seek));
        if (!opened.io) av_free(buffer);
    }
    AVFormatContext* raw = opened.io ? avformat_alloc_context() : nullptr;
    if (!raw) return avError(AVErrorUnknown, "Out of memory.");
    raw->pb = opened.io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->io_open = &refuseFurtherFiles;
    // A damaged file can keep the demuxer reading for a very long time; it gives up when the
    // signal says so.
    raw->interrupt_callback = {&interrupted, &stop};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kAllowedFormats, 0);
    int rc = avformat_open_input(&raw, "", nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return avError(AVErrorFileFormatNotRecognized, "Cannot Open");
    opened.format.reset(raw);
    // The probe decodes a few packets of every stream; on one thread, as the frame decoder
    // does, so that a damaged file meets no decoder threads.
    std::vector<AVDictionary*> streamOptions(opened.format->nb_streams, nullptr);
    for (auto& entry : streamOptions) av_dict_set(&entry, "threads", "1", 0);
    rc = avformat_find_stream_info(opened.format.get(), streamOptions.data());
    for (auto& entry : streamOptions) av_dict_free(&entry);
    if (rc < 0 || stop.stopNow()) return avError(AVErrorFileFormatNotRecognized, "Cannot Open");
    opened.videoIndex =
        av_find_best_stream(opened.format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &opened.decoder, 0);
    return opened;
}

class FrameReader {
public:
    explicit FrameReader(DecodeStop& stop) : stop_(stop) {}
    ns::Result<std::shared_ptr<ui::Bitmap>> read(int file, double seconds, bool applyTransform);

private:
    // Feeds one packet (or the end) to the decoder and keeps the frame shown at the target.
    // True once a frame past the target came out.
    bool decode(const AVPacket* packet);

    DecodeStop& stop_;
    CodecPtr codec_;
    FramePtr frame_{av_frame_alloc()};
    FramePtr chosen_{av_frame_alloc()};
    bool haveChosen_ = false;
    int64_t target_ = 0;
};

bool FrameReader::decode(const AVPacket* packet) {
    if (avcodec_send_packet(codec_.get(), packet) < 0 && packet) return false;
    while (avcodec_receive_frame(codec_.get(), frame_.get()) >= 0) {
        const int64_t pts = frame_->best_effort_timestamp;
        const bool past = haveChosen_ && pts != AV_NOPTS_VALUE && pts > target_;
        if (past) {
            av_frame_unref(frame_.get());
            return true;
        }
        av_frame_unref(chosen_.get());
        av_frame_move_ref(chosen_.get(), frame_.get());
        haveChosen_ = true;
        if (pts != AV_NOPTS_VALUE && pts > target_) return true;  // first frame after the time
    }
    return false;
}

ns::Result<std::shared_ptr<ui::Bitmap>> FrameReader::read(int file, double seconds,
                                                          bool applyTransform) {
    if (!frame_ || !chosen_) return avError(AVErrorUnknown, "Out of memory.");
    auto opened = openAndProbe(file, stop_);
    if (!opened.ok()) return opened.error();
    const FormatPtr& format = opened.value().format;
    const int index = opened.value().videoIndex;
    const AVCodec* decoder = opened.value().decoder;
    if (index < 0 || !decoder) return avError(AVErrorNoDataCaptured, "The file has no video.");
    AVStream* stream = format->streams[index];
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0) {
        return avError(AVErrorDecodeFailed, "Cannot Decode");
    }
    codec_->thread_count = 1;
    if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) {
        return avError(AVErrorDecodeFailed, "Cannot Decode");
    }
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0) {
        return avError(AVErrorDecodeFailed, "Cannot Decode");
    }
    const double clamped = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1e9) : 0.0;
    const int64_t millis = static_cast<int64_t>(std::llround(clamped * 1000.0));
    target_ = av_rescale_q(millis, AVRational{1, 1000}, stream->time_base);
    if (stream->start_time != AV_NOPTS_VALUE) target_ += stream->start_time;
    if (av_seek_frame(format.get(), index, target_, AVSEEK_FLAG_BACKWARD) < 0) {
        av_seek_frame(format.get(), index, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet) return avError(AVErrorUnknown, "Out of memory.");
    bool done = false;
    for (int n = 0; !done && n < AssetImageGenerator::kMaxPacketsPerFrame && !stop_.stopNow();
         ++n) {
        if (av_read_frame(format.get(), packet.get()) < 0) break;
        if (packet->stream_index == index) done = decode(packet.get());
        av_packet_unref(packet.get());
    }
    if (!done) decode(nullptr);  // drain what the decoder still holds
    if (!haveChosen_ || stop_.stopNow()) return avError(AVErrorDecodeFailed, "Cannot Decode");
    auto bitmap = toBitmap(*chosen_);
    if (!bitmap.ok()) return bitmap;
    const int turns = applyTransform ? quarterTurns(*stream) : 0;
    if (turns == 0) return bitmap;
    auto turned = rotated(*bitmap.value(), turns);
    if (!turned) return avError(AVErrorDecodeFailed, "The frame is too large.");
    return turned;
}

// The libraries' own diagnostics about a damaged file go nowhere: the error says enough.
void quietLibraries() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
}

[[maybe_unused]] const bool kAnnounced = [] {
    rt::ModuleLoader::shared().announce(VideoCodec::kClassName,
                                        [] { return std::make_shared<MediaLibraryVideoCodec>(); });
    return true;
}();

}  // namespace

ns::Result<std::shared_ptr<ui::Bitmap>> MediaLibraryVideoCodec::frameAt(int file, double seconds,
                                                                        bool appliesTransform,
                                                                        DecodeStop& stop) const {
    quietLibraries();
    return FrameReader(stop).read(file, seconds, appliesTransform);
}

ns::Result<AssetTrackInfo> MediaLibraryVideoCodec::trackInfo(int file, DecodeStop& stop) const {
    quietLibraries();
    auto opened = openAndProbe(file, stop);
    if (!opened.ok()) return opened.error();
    const AVFormatContext& format = *opened.value().format;
    AssetTrackInfo info;
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
        info.duration = double(format.duration) / AV_TIME_BASE;
    }
    const int audio =
        av_find_best_stream(opened.value().format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio >= 0 && format.streams[audio]->codecpar->bit_rate > 0) {
        info.audioBitRate = format.streams[audio]->codecpar->bit_rate;
    }
    if (opened.value().videoIndex >= 0) {
        const AVCodecParameters& codec = *format.streams[opened.value().videoIndex]->codecpar;
        if (codec.width > 0 && codec.height > 0) {
            info.naturalSize = ui::Size{double(codec.width), double(codec.height)};
        }
    }
    return info;
}

}  // namespace av
