// The file plug-in's read against a plain read of the same file, in the same run:
//   BM_ReadAsArrayBuffer  readAsArrayBuffer of a 64 MiB file through the plug-in, the command
//                         delegate and the web view engine (on the in-process fake web view) to
//                         the callback script; library: read(2) of the whole file and one Base64
//                         encode with the TLS library's encoder. Goal: ratio at most 1.5.
//   BM_ConfinedOpen       opening and reading a 4 KiB file of Documents beneath the folders
//                         the page may read (what every read of the plug-in, file URL and app
//                         scheme does first); library: open(2), read(2), close(2) of the same
//                         path. Reports the ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <cstdlib>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngine.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/FakeEngine.h"
#include "plugins/device_storage/HYBFile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kFileSize = size_t{64} << 20;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A sandbox in a fresh temporary folder holding Documents/big.bin; removed at the end.
struct Sandbox {
    Sandbox() {
        char pattern[] = "/tmp/bench_file_read.XXXXXX";
        root = ::mkdtemp(pattern);
        if (!ns::Sandbox::configure(root + "/sandbox")) std::abort();
        path = ns::Sandbox::documentsDirectory() + "/big.bin";
        std::vector<char> bytes(kFileSize);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 2654435761u >> 7);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    }
    ~Sandbox() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string root;
    std::string path;
};

// The Base64 text of the file. Neither buffer is zero-filled first: read(2) and the encoder
// write every byte of them.
struct Encoded {
    std::unique_ptr<char[]> text;
    size_t size = 0;
};

Encoded libraryRead(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto bytes = std::make_unique_for_overwrite<unsigned char[]>(kFileSize);
    size_t done = 0;
    while (done < kFileSize) {
        ssize_t n = ::read(fd, bytes.get() + done, kFileSize - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    const size_t capacity = 4 * ((done + 2) / 3) + 1;
    auto base64 = std::make_unique_for_overwrite<char[]>(capacity);
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.get()), bytes.get(),
                                       static_cast<int>(done));
    return {std::move(base64), static_cast<size_t>(length)};
}

void BM_ReadAsArrayBuffer(benchmark::State& state) {
    ns::Log::setStandardErrorEnabled(false);
    Sandbox sandbox;
    auto controller = HYBViewController::create();
    auto engine = std::make_shared<HYBWebViewEngine>();
    engine->initWithFrame({0, 0, 320, 480});
    controller->setWebViewEngine(engine);
    controller->registerPlugin(engine, "HYBWebViewEngine");
    auto plugin = std::make_shared<HYBFile>();
    plugin->initWithWebViewEngine(engine);
    controller->registerPluginWithPluginName(plugin, "File");
    auto& fake = *wk::FakeEngine::of(*engine->engineWebView());
    auto& loop = dispatch::RunLoop::main();
    const HYBInvokedUrlCommand command(ns::Array{"hybfile://localhost/persistent/big.bin", 0, -1},
                                       "File1", "File", "readAsArrayBuffer");

    double oursTotal = 0, libraryTotal = 0;
    size_t scriptBytes = 0, base64Bytes = 0;
    for (auto _ : state) {
        fake.clearEvaluatedScripts();
        const auto t0 = Clock::now();
        plugin->performAction("readAsArrayBuffer", command);
        loop.runUntilIdle();
        const auto t1 = Clock::now();
        const Encoded base64 = libraryRead(sandbox.path);
        const auto t2 = Clock::now();
        if (fake.evaluatedScripts().size() != 1) {
            state.SkipWithError("no callback script");
            break;
        }
        scriptBytes = fake.evaluatedScripts().front().size();
        base64Bytes = base64.size;
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    fake.clearEvaluatedScripts();
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
    state.counters["script_x_base64"] =
        base64Bytes > 0 ? static_cast<double>(scriptBytes) / static_cast<double>(base64Bytes) : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
    controller.reset();
    loop.runUntilIdle();
}

// Reads what is left of the descriptor into the buffer and closes it; answers the byte count.
size_t readAndClose(int fd, std::vector<char>& buffer) {
    size_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<size_t>(n);
    ::close(fd);
    return total;
}

void BM_ConfinedOpen(benchmark::State& state) {
    ns::Log::setStandardErrorEnabled(false);
    Sandbox sandbox;
    const std::string path = ns::Sandbox::documentsDirectory() + "/deep/er/small.txt";
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << std::string(4096, 's');
    std::vector<char> buffer(8192);
    constexpr int kOpens = 2000;
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kOpens; ++i) {
            auto fd = ns::ConfinedFile::openForReading(path);
            if (!fd || readAndClose(fd->release(), buffer) != 4096) std::abort();
        }
        const auto t1 = Clock::now();
        for (int i = 0; i < kOpens; ++i) {
            if (readAndClose(::open(path.c_str(), O_RDONLY | O_CLOEXEC), buffer) != 4096) {
                std::abort();
            }
        }
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
    state.counters["us_per_open"] =
        oursTotal * 1e6 / static_cast<double>(state.iterations() * kOpens);
}

}  // namespace

BENCHMARK(BM_ConfinedOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ReadAsArrayBuffer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

BENCHMARK_MAIN();
