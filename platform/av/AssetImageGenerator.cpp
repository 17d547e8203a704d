#include "platform/av/AssetImageGenerator.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

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

// Containers that a recorded or downloaded clip comes in. Playlist and concatenation formats
// are left out: they open further files named inside the input.
constexpr const char* kAllowedFormats = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpeg,mpegts";

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

ns::Result<std::shared_ptr<ui::Bitmap>> toBitmap(const AVFrame& frame) {
    if (!ui::Bitmap::isAllowedSize(frame.width, frame.height) || frame.width <= 0 ||
        frame.height <= 0) {
        return avError(AVErrorDecodeFailed, "The frame is too large.");
    }
    auto bitmap = ui::Bitmap::create(frame.width, frame.height);
    if (!bitmap) return avError(AVErrorDecodeFailed, "Out of memory.");
    ScalePtr scale(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) return avError(AVErrorDecodeFailed, "The frame's pixel format is not supported.");
    // The converter writes whole vector widths, past the end of a row and of the last one, so
    // it writes into a buffer padded and aligned for it, never straight into the bitmap.
    uint8_t* planes[4] = {};
    int strides[4] = {};
    if (av_image_alloc(planes, strides, frame.width, frame.height + 1, AV_PIX_FMT_BGRA, 64) < 0) {
        return avError(AVErrorDecodeFailed, "Out of memory.");
    }
    std::unique_ptr<uint8_t, void (*)(void*)> converted(planes[0], av_free);
    if (sws_scale(scale.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) !=
        frame.height) {
        return avError(AVErrorDecodeFailed, "The frame could not be converted.");
    }
    const size_t rowBytes = static_cast<size_t>(frame.width) * 4;
    for (int y = 0; y < frame.height; ++y) {
        std::memcpy(bitmap->data() + static_cast<ptrdiff_t>(y) * bitmap->stride(),
                    planes[0] + static_cast<ptrdiff_t>(y) * strides[0], rowBytes);
    }
    // BGRA with full alpha is the bitmap's premultiplied native order on little-endian hosts.
    // Every frame is made opaque, as a video frame is shown: the converter leaves the alpha of
    // some source formats (palettes, odd layouts) at zero, not only of those with an alpha plane.
    for (int y = 0; y < frame.height; ++y) {
        uint8_t* row = bitmap->data() + static_cast<ptrdiff_t>(y) * bitmap->stride();
        for (int x = 0; x < frame.width; ++x) row[x * 4 + 3] = 0xff;
    }
    bitmap->markDirty();
    return bitmap;
}

class FrameReader {
public:
    ns::Result<std::shared_ptr<ui::Bitmap>> read(const std::string& path, double seconds,
                                                 bool applyTransform);

private:
    // Feeds one packet (or the end) to the decoder and keeps the frame shown at the target.
    // True once a frame past the target came out.
    bool decode(const AVPacket* packet);

    static int interrupted(void* reader) {
        return std::chrono::steady_clock::now() > static_cast<FrameReader*>(reader)->deadline_;
    }
    static constexpr std::chrono::seconds kWorkBudget{5};

    std::chrono::steady_clock::time_point deadline_;
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

ns::Result<std::shared_ptr<ui::Bitmap>> FrameReader::read(const std::string& path, double seconds,
                                                          bool applyTransform) {
    if (!frame_ || !chosen_) return avError(AVErrorUnknown, "Out of memory.");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kAllowedFormats, 0);
    // A damaged file can keep the demuxer reading for a very long time; the libraries ask this
    // callback between reads and give up once the budget is spent. It is a bound on work, not a
    // timer of the program, so it reads the machine's steady clock.
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        av_dict_free(&options);
        return avError(AVErrorUnknown, "Out of memory.");
    }
    deadline_ = std::chrono::steady_clock::now() + kWorkBudget;
    raw->interrupt_callback = {&FrameReader::interrupted, this};
    const std::string input = "file:" + path;
    int rc = avformat_open_input(&raw, input.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return avError(AVErrorFileFormatNotRecognized, "Cannot Open");
    FormatPtr format(raw);
    // The probe decodes a few packets of every stream; on one thread, as the frame decoder
    // below does, so that a damaged file meets no decoder threads.
    std::vector<AVDictionary*> streamOptions(format->nb_streams, nullptr);
    for (auto& entry : streamOptions) av_dict_set(&entry, "threads", "1", 0);
    rc = avformat_find_stream_info(format.get(), streamOptions.data());
    for (auto& entry : streamOptions) av_dict_free(&entry);
    if (rc < 0) return avError(AVErrorFileFormatNotRecognized, "Cannot Open");
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
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
    for (int n = 0; !done && n < AssetImageGenerator::kMaxPacketsPerFrame; ++n) {
        if (av_read_frame(format.get(), packet.get()) < 0) break;
        if (packet->stream_index == index) done = decode(packet.get());
        av_packet_unref(packet.get());
    }
    if (!done) decode(nullptr);  // drain what the decoder still holds
    if (!haveChosen_) return avError(AVErrorDecodeFailed, "Cannot Decode");
    auto bitmap = toBitmap(*chosen_);
    if (!bitmap.ok()) return bitmap;
    const int turns = applyTransform ? quarterTurns(*stream) : 0;
    if (turns == 0) return bitmap;
    auto turned = rotated(*bitmap.value(), turns);
    if (!turned) return avError(AVErrorDecodeFailed, "The frame is too large.");
    return turned;
}

}  // namespace

std::optional<std::string> AssetImageGenerator::localPath(const ns::URL& url) {
    if (!url.isFileURL()) return std::nullopt;
    const auto host = url.host();
    if (host && !host->empty() && *host != "localhost") return std::nullopt;
    std::string path = url.path();
    if (path.empty() || path.front() != '/') return std::nullopt;
    return path;
}

ns::Result<std::shared_ptr<ui::Bitmap>> AssetImageGenerator::copyCGImageAtTime(
    double seconds) const {
    if (!url_) return avError(AVErrorUnsupportedURL, "The URL is missing.");
    const auto path = localPath(*url_);
    if (!path) return avError(AVErrorUnsupportedURL, "This media format is not supported.");
    struct stat info {};
    // Devices and pipes never end or block; only a regular file can hold a clip.
    if (::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return avError(AVErrorFileFormatNotRecognized, "The requested URL was not found.");
    }
    // The libraries' own diagnostics about a damaged file go nowhere: the error says enough.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    return FrameReader().read(*path, seconds, appliesTransform_);
}

}  // namespace av
