// The media plug-ins against their libraries used directly, in the same run:
//   BM_PickerPhoto  one picked 4000 x 3000 JPEG decoded upright, fitted into 800 x 800 and
//                   encoded at quality 80; library: libjpeg-turbo decoding at the same DCT
//                   scale, the scaler's bilinear resample, libjpeg-turbo encoding. Goal: ratio
//                   <= 1.2.
//   BM_Thumbnail    the thumbnail action (array mode) of a frame at 2.5 s of a 640 x 360 clip;
//                   library: the kernel opening the clip beneath the application's container
//                   (the confinement the action does), the media libraries opening the file,
//                   reading the track's display matrix, seeking, decoding one frame and
//                   converting it, then libjpeg-turbo encoding it and the TLS library's Base64
//                   encoder making the page's text of it, kept in a two-entry answer. Both
//                   sides make one thumbnail before the clock starts: the action loads the
//                   media libraries' module on its first call, where the baseline has them
//                   linked before the program starts. Counters: "ratio" of the totals, and the
//                   medians of both sides with "ratio_p50", their ratio. Goal: ratio <= 1.2.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <linux/openat2.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/ui/ImageCodec.h"
#include "plugins/media_browser/HYBVideoThumbnail.h"
#include "plugins/media_browser/ZIVPhotoPipeline.h"
#include "plugins/media_browser/ZIVPicker.h"
#include "tests/plugins/media_browser/support/ClipWriter.h"
#include "tests/plugins/media_browser/support/RecordingDelegate.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

struct Scratch {
    Scratch() {
        char pattern[] = "/tmp/bench_media.XXXXXX";
        root = ::mkdtemp(pattern);
        if (!ns::Sandbox::configure(root + "/sandbox")) std::abort();
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string root;
};

std::vector<unsigned char> encodeRGB(const unsigned char* rgb, int width, int height, int quality,
                                     int components, J_COLOR_SPACE space) {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = unsigned(width);
    info.image_height = unsigned(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rgb) +
                       size_t(info.next_scanline) * size_t(width) * size_t(components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// libjpeg-turbo alone: DCT-scaled decode to the smallest scale covering the box, the
// scaler's bilinear resample to the fitted size, encode.
std::vector<unsigned char> libraryPhoto(const ns::Data& jpeg, int boxW, int boxH, int quality) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.bytes(), static_cast<unsigned long>(jpeg.length()));
    jpeg_read_header(&info, TRUE);
    const double factor =
        std::min(double(boxW) / info.image_width, double(boxH) / info.image_height);
    const int outW = int(info.image_width * factor), outH = int(info.image_height * factor);
    info.scale_denom = 8;
    for (unsigned num = 1; num <= 8; ++num) {
        if (info.image_width * num / 8.0 >= outW && info.image_height * num / 8.0 >= outH) {
            info.scale_num = num;
            break;
        }
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const int w = int(info.output_width), h = int(info.output_height);
    std::vector<unsigned char> decoded(size_t(w) * h * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = decoded.data() + size_t(info.output_scanline) * w * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    // The resample at its fastest documented setting: the scaler's bilinear filter, with the
    // padded, aligned buffers it wants.
    uint8_t* dst[4] = {};
    int dstStride[4] = {};
    av_image_alloc(dst, dstStride, outW, outH + 1, AV_PIX_FMT_RGB24, 64);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_RGB24, outW, outH, AV_PIX_FMT_RGB24,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* src[4] = {decoded.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {w * 3, 0, 0, 0};
    sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    sws_freeContext(sws);
    std::vector<unsigned char> scaled(size_t(outW) * outH * 3);
    for (int y = 0; y < outH; ++y) {
        std::memcpy(scaled.data() + size_t(y) * outW * 3, dst[0] + size_t(y) * dstStride[0],
                    size_t(outW) * 3);
    }
    av_freep(&dst[0]);
    return encodeRGB(scaled.data(), outW, outH, quality, 3, JCS_RGB);
}

ns::Data bigPhoto() {
    auto bitmap = ui::Bitmap::create(4000, 3000);
    auto* px = reinterpret_cast<uint32_t*>(bitmap->data());
    for (int y = 0; y < 3000; ++y) {
        for (int x = 0; x < 4000; ++x) {
            px[y * bitmap->stride() / 4 + x] = 0xff000000u | uint32_t((x * 255 / 4000) << 16) |
                                               uint32_t((y * 255 / 3000) << 8) |
                                               uint32_t((x ^ y) & 0xff);
        }
    }
    bitmap->markDirty();
    return *ui::ImageCodec::encodeJPEG(*bitmap, 0.9);
}

void BM_PickerPhoto(benchmark::State& state) {
    const ns::Data jpeg = bigPhoto();
    double ours = 0, library = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        auto decoded = ZIVPhotoPipeline::decodeUpright(jpeg, {800, 800});
        auto scaled = ZIVPicker::imageByScalingNotCroppingForSize(decoded.value(), {800, 800});
        auto encoded = ui::ImageCodec::encodeJPEG(*scaled, 0.8);
        const auto t1 = Clock::now();
        auto baseline = libraryPhoto(jpeg, 800, 800, 80);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(encoded);
        benchmark::DoNotOptimize(baseline);
        ours += seconds(t1 - t0);
        library += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["ratio"] = library > 0 ? ours / library : 0;
}

// The kernel's own confinement: the path opened beneath the container's folder in one call,
// and found to be a regular file.
bool openBeneath(const std::string& root, const std::string& path) {
    const int area = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const std::string rest = path.substr(root.size() + 1);
    const int file = int(::syscall(SYS_openat2, area, rest.c_str(), &how, sizeof how));
    struct stat info {};
    const bool regular = file >= 0 && ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
    if (file >= 0) ::close(file);
    if (area >= 0) ::close(area);
    return regular;
}

// The media libraries alone: open, seek, decode the frame shown at the time, convert, encode.
std::vector<unsigned char> libraryThumbnail(const std::string& path, double at) {
    if (!openBeneath(ns::Sandbox::homeDirectory(), path)) std::abort();
    AVFormatContext* format = nullptr;
    avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    avformat_find_stream_info(format, nullptr);
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    AVStream* stream = format->streams[index];
    size_t matrixSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    benchmark::DoNotOptimize(
        matrix ? av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)) : 0.0);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, stream->codecpar);
    avcodec_open2(codec, decoder, nullptr);
    const int64_t target = av_rescale_q(int64_t(at * 1000), {1, 1000}, stream->time_base);
    av_seek_frame(format, index, target, AVSEEK_FLAG_BACKWARD);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* shown = av_frame_alloc();
    bool done = false;
    while (!done && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0) {
            while (avcodec_receive_frame(codec, frame) >= 0) {
                if (frame->best_effort_timestamp > target && shown->width) {
                    done = true;
                    av_frame_unref(frame);
                    break;
                }
                av_frame_unref(shown);
                av_frame_move_ref(shown, frame);
            }
        }
        av_packet_unref(packet);
    }
    std::vector<unsigned char> rgb(size_t(shown->width) * shown->height * 3);
    SwsContext* sws =
        sws_getContext(shown->width, shown->height, AVPixelFormat(shown->format), shown->width,
                       shown->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
    int strides[4] = {shown->width * 3, 0, 0, 0};
    sws_scale(sws, shown->data, shown->linesize, 0, shown->height, planes, strides);
    auto jpeg = encodeRGB(rgb.data(), shown->width, shown->height, 80, 3, JCS_RGB);
    sws_freeContext(sws);
    av_frame_free(&shown);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return jpeg;
}

void BM_Thumbnail(benchmark::State& state) {
    ns::Log::setStandardErrorEnabled(false);
    Scratch scratch;
    // In the application's container: the plug-in reads nothing outside it.
    const std::string clip = ns::Sandbox::documentsDirectory() + "/clip.mp4";
    std::filesystem::create_directories(ns::Sandbox::documentsDirectory());
    std::vector<mediatest::Colour> colours;
    for (int s = 0; s < 5; ++s) colours.push_back({uint8_t(s * 50), 100, uint8_t(255 - s * 50)});
    if (!mediatest::writeClip(clip, 640, 360, colours)) {
        state.SkipWithError("no clip");
        return;
    }
    auto delegate = std::make_shared<mediatest::RecordingDelegate>();
    auto plugin = std::make_shared<HYBVideoThumbnail>();
    plugin->setCommandDelegate(delegate);
    const HYBInvokedUrlCommand command(
        ns::Array{"file://" + clip, ns::Value(),
                  ns::Value::dict({{"mode", "array"}, {"position", 2.5}})},
        "T1", "VideoThumbnail", "createThumbnail");
    auto library = [&clip] {
        auto jpeg = libraryThumbnail(clip, 2.5);
        std::string text(4 * ((jpeg.size() + 2) / 3) + 1, '\0');
        text.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                           jpeg.data(), static_cast<int>(jpeg.size()))));
        return std::map<std::string, std::string>{{kHYBTypeKey, kHYBTypeArrayBuffer},
                                                  {kHYBArrayBufferDataKey, std::move(text)}};
    };
    plugin->performAction("createThumbnail", command);
    benchmark::DoNotOptimize(library());
    double ours = 0, baseline = 0;
    std::vector<double> oursTimes, baselineTimes;
    for (auto _ : state) {
        delegate->results.clear();
        const auto t0 = Clock::now();
        plugin->performAction("createThumbnail", command);
        const auto t1 = Clock::now();
        auto answer = library();
        const auto t2 = Clock::now();
        if (delegate->results.empty() || delegate->results.back()->status() != HYBResultStatusOK) {
            state.SkipWithError("no thumbnail");
            break;
        }
        benchmark::DoNotOptimize(answer);
        ours += seconds(t1 - t0);
        baseline += seconds(t2 - t1);
        oursTimes.push_back(seconds(t1 - t0));
        baselineTimes.push_back(seconds(t2 - t1));
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["ratio"] = baseline > 0 ? ours / baseline : 0;
    // A busy machine's stalls fall on either side at random; the medians leave them out.
    const double oursP50 = median(oursTimes), baselineP50 = median(baselineTimes);
    state.counters["ours_p50_ms"] = 1e3 * oursP50;
    state.counters["library_p50_ms"] = 1e3 * baselineP50;
    state.counters["ratio_p50"] = baselineP50 > 0 ? oursP50 / baselineP50 : 0;
}

}  // namespace

BENCHMARK(BM_PickerPhoto)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Thumbnail)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

BENCHMARK_MAIN();
