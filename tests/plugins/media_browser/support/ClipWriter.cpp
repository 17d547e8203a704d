#include "tests/plugins/media_browser/support/ClipWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace mediatest {

namespace {

constexpr int kFramesPerSecond = 10;

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

bool drain(AVCodecContext* codec, AVFormatContext* out, AVStream* stream, AVPacket* packet) {
    int rc;
    while ((rc = avcodec_receive_packet(codec, packet)) >= 0) {
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(out, packet) < 0) return false;
    }
    return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
}

}  // namespace

bool writeClip(const std::string& path, int width, int height, const std::vector<Colour>& seconds,
               double rotation) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mp4", path.c_str()) < 0) return false;
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream* stream = encoder ? avformat_new_stream(out, nullptr) : nullptr;
    AVCodecContext* codec = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = stream && codec && frame && packet;
    if (ok) {
        codec->width = width;
        codec->height = height;
        codec->time_base = {1, kFramesPerSecond};
        codec->framerate = {kFramesPerSecond, 1};
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
        codec->gop_size = kFramesPerSecond;
        codec->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
        codec->global_quality = FF_QP2LAMBDA * 2;
        ok = avcodec_open2(codec, encoder, nullptr) >= 0 &&
             avcodec_parameters_from_context(stream->codecpar, codec) >= 0;
    }
    if (ok) {
        stream->time_base = codec->time_base;
        if (rotation != 0) {
            auto* matrix = reinterpret_cast<int32_t*>(
                av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            ok = matrix != nullptr;
            if (ok) av_display_rotation_set(matrix, rotation);
        }
    }
    ok = ok && avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(out, nullptr) >= 0;
    if (ok) {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = width;
        frame->height = height;
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    int64_t pts = 0;
    for (size_t s = 0; ok && s < seconds.size(); ++s) {
        for (int f = 0; ok && f < kFramesPerSecond; ++f) {
            ok = av_frame_make_writable(frame) >= 0;
            if (!ok) break;
            fill(*frame, seconds[s]);
            frame->pts = pts++;
            ok = avcodec_send_frame(codec, frame) >= 0 && drain(codec, out, stream, packet);
        }
    }
    if (ok) {
        ok = avcodec_send_frame(codec, nullptr) >= 0 && drain(codec, out, stream, packet) &&
             av_write_trailer(out) >= 0;
    }
    if (out->pb) avio_closep(&out->pb);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_free_context(out);
    return ok;
}

}  // namespace mediatest
