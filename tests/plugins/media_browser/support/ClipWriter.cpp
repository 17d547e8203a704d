#include "tests/plugins/media_browser/support/ClipWriter.h"

#include <cmath>
#include <functional>
#include <numbers>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace mediatest {

namespace {

constexpr int kFramesPerSecond = 10;
constexpr int kSampleRate = 44100;

void fill(AVFrame& frame, Colour left) {
    auto y = [](Colour c) { return 16 + (66 * c.red + 129 * c.green + 25 * c.blue + 128) / 256; };
    auto u = [](Colour c) { return 128 + (-38 * c.red - 74 * c.green + 112 * c.blue + 128) / 256; };
    auto v = [](Colour c) { return 128 + (112 * c.red - 94 * c.green - 18 * c.blue + 128) / 256; };
    const Colour white{255, 255, 255};
    for (int row = 0; row < frame.height; ++row) {
        for (int col = 0; col < frame.width; ++col) {
            const Colour c = col < frame.width / 2 ? left : white;
            frame.data[0][row * frame.linesize[0] + col] = static_cast<uint8_t>(y(c));
            if (row % 2 == 0 && col % 2 == 0) {
                frame.data[1][row / 2 * frame.linesize[1] + col / 2] = static_cast<uint8_t>(u(c));
                frame.data[2][row / 2 * frame.linesize[2] + col / 2] = static_cast<uint8_t>(v(c));
            }
        }
    }
}

// One encoder writing one stream into one file: what the clip and the sound writers share.
// Each step does nothing once one has failed; ok() says whether all went well.
class StreamWriter {
public:
    StreamWriter(const std::string& path, const char* muxer, AVCodecID codecId) : path_(path) {
        if (avformat_alloc_output_context2(&out_, nullptr, muxer, path.c_str()) < 0) return;
        const AVCodec* encoder = avcodec_find_encoder(codecId);
        stream_ = encoder ? avformat_new_stream(out_, nullptr) : nullptr;
        codec_ = encoder ? avcodec_alloc_context3(encoder) : nullptr;
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        encoder_ = encoder;
        ok_ = stream_ && codec_ && frame_ && packet_;
    }
    ~StreamWriter() {
        if (out_ && out_->pb) avio_closep(&out_->pb);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&codec_);
        avformat_free_context(out_);
    }
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    AVCodecContext& codec() { return *codec_; }
    AVStream& stream() { return *stream_; }
    AVFrame& frame() { return *frame_; }
    bool ok() const { return ok_; }
    void check(bool step) { ok_ = ok_ && step; }

    // Opens the configured encoder, runs `prepare` (the stream's side data, the frame's
    // format), writes the header and gives the frame its buffer.
    void start(const std::function<bool()>& prepare) {
        check(ok_ && avcodec_open2(codec_, encoder_, nullptr) >= 0 &&
              avcodec_parameters_from_context(stream_->codecpar, codec_) >= 0);
        if (ok_) stream_->time_base = codec_->time_base;
        check(ok_ && prepare() && avio_open(&out_->pb, path_.c_str(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(out_, nullptr) >= 0 && av_frame_get_buffer(frame_, 0) >= 0);
    }
    // Encodes the frame as it stands now (its pts set by the caller).
    void send() { check(ok_ && avcodec_send_frame(codec_, frame_) >= 0 && drain()); }
    // Drains the encoder and writes the file's end.
    bool finish() {
        check(ok_ && avcodec_send_frame(codec_, nullptr) >= 0 && drain() &&
              av_write_trailer(out_) >= 0);
        return ok_;
    }

private:
    bool drain() {
        int rc;
        while ((rc = avcodec_receive_packet(codec_, packet_)) >= 0) {
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            if (av_interleaved_write_frame(out_, packet_) < 0) return false;
        }
        return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
    }

    std::string path_;
    AVFormatContext* out_ = nullptr;
    const AVCodec* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool ok_ = false;
};

}  // namespace

bool writeClip(const std::string& path, int width, int height, const std::vector<Colour>& seconds,
               double rotation) {
    StreamWriter writer(path, "mp4", AV_CODEC_ID_MPEG4);
    if (!writer.ok()) return false;
    AVCodecContext& codec = writer.codec();
    codec.width = width;
    codec.height = height;
    codec.time_base = {1, kFramesPerSecond};
    codec.framerate = {kFramesPerSecond, 1};
    codec.pix_fmt = AV_PIX_FMT_YUV420P;
    codec.gop_size = kFramesPerSecond;
    codec.flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
    codec.global_quality = FF_QP2LAMBDA * 2;
    AVFrame& frame = writer.frame();
    writer.start([&] {
        if (rotation != 0) {
            auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(
                &writer.stream(), AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            if (!matrix) return false;
            av_display_rotation_set(matrix, rotation);
        }
        frame.format = AV_PIX_FMT_YUV420P;
        frame.width = width;
        frame.height = height;
        return true;
    });
    int64_t pts = 0;
    for (size_t s = 0; writer.ok() && s < seconds.size(); ++s) {
        for (int f = 0; writer.ok() && f < kFramesPerSecond; ++f) {
            writer.check(av_frame_make_writable(&frame) >= 0);
            if (!writer.ok()) break;
            fill(frame, seconds[s]);
            frame.pts = pts++;
            writer.send();
        }
    }
    return writer.finish();
}

bool writeSound(const std::string& path, double seconds, int64_t bitRate) {
    StreamWriter writer(path, "mp2", AV_CODEC_ID_MP2);
    if (!writer.ok()) return false;
    AVCodecContext& codec = writer.codec();
    codec.sample_rate = kSampleRate;
    codec.sample_fmt = AV_SAMPLE_FMT_S16;
    codec.bit_rate = bitRate;
    av_channel_layout_default(&codec.ch_layout, 1);
    codec.time_base = {1, kSampleRate};
    AVFrame& frame = writer.frame();
    writer.start([&] {
        frame.format = AV_SAMPLE_FMT_S16;
        frame.nb_samples = codec.frame_size;
        frame.sample_rate = kSampleRate;
        return av_channel_layout_copy(&frame.ch_layout, &codec.ch_layout) >= 0;
    });
    const int64_t total = static_cast<int64_t>(seconds * kSampleRate);
    for (int64_t at = 0; writer.ok() && at < total; at += codec.frame_size) {
        writer.check(av_frame_make_writable(&frame) >= 0);
        if (!writer.ok()) break;
        auto* samples = reinterpret_cast<int16_t*>(frame.data[0]);
        for (int i = 0; i < codec.frame_size; ++i) {
            samples[i] = static_cast<int16_t>(
                8000 * std::sin(2 * std::numbers::pi * 440 * double(at + i) / kSampleRate));
        }
        frame.pts = at;
        writer.send();
    }
    return writer.finish();
}

}  // namespace mediatest
