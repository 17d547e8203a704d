// The SDK core's hot paths against plain uses of what they stand on, timed in the same
// iteration; each reports ratio = ours / baseline.
//   LogAppends: 100k diagnostic events through the queue writer against a raw write() per
//               record of the same framed bytes.
//   RequestGzip: the gzip body of a 1 MiB log request against one deflate() call of zlib.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "proto/logbook.pb.h"
#include "sdk/core/NEBLogbookWriter.h"
#include "sdk/core/pb.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEvents = 100000;

std::vector<NEB_LOGBOOK::LogEvent> sampleEvents() {
    std::vector<NEB_LOGBOOK::LogEvent> events(kEvents);
    for (int i = 0; i < kEvents; ++i) {
        events[i].set_event_time_ms(1700000000000 + i);
        events[i].set_event_uptime_ms(86400000 + i);
        events[i].set_source_extension("configuration record " + std::to_string(i * 7919 % 100003) +
                                       std::string(40 + i % 60, 'r'));
    }
    return events;
}

std::string framed(const NEB_LOGBOOK::LogEvent& event) {
    std::string body = event.SerializeAsString();
    std::string out;
    pb::io::StringOutputStream stream(&out);
    pb::io::CodedOutputStream coded(&stream);
    coded.WriteVarint32(static_cast<uint32_t>(body.size()));
    coded.WriteRaw(body.data(), static_cast<int>(body.size()));
    coded.Trim();
    return out;
}

std::string scratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sdkbench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
}

void LogAppends(benchmark::State& state) {
    const auto events = sampleEvents();
    std::vector<std::string> records;
    records.reserve(events.size());
    for (const auto& event : events) records.push_back(framed(event));
    const auto directory = scratchDirectory();
    double oursTotal = 0, baseTotal = 0;
    int round = 0;
    for (auto _ : state) {
        const auto ours = directory + "/ours-" + std::to_string(round);
        const auto base = directory + "/base-" + std::to_string(round++);
        auto t0 = Clock::now();
        {
            NEBLogbookWriter writer(ours);
            for (const auto& event : events) {
                if (!writer.writeLogEvent(event)) std::abort();
            }
        }
        auto t1 = Clock::now();
        {
            int fd = ::open(base.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            for (const auto& record : records) {
                if (::write(fd, record.data(), record.size()) !=
                    static_cast<ssize_t>(record.size())) {
                    std::abort();
                }
            }
            ::close(fd);
        }
        auto t2 = Clock::now();
        const double o = std::chrono::duration<double>(t1 - t0).count();
        oursTotal += o;
        baseTotal += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(o);
        std::filesystem::remove(ours);
        std::filesystem::remove(base);
    }
    std::filesystem::remove_all(directory);
    state.SetItemsProcessed(state.iterations() * kEvents);
    state.counters["ratio"] = oursTotal / baseTotal;
}
BENCHMARK(LogAppends)->UseManualTime()->Unit(benchmark::kMillisecond);

// A request as the uploader builds it from one full queue file.
std::string megabyteRequest() {
    std::string run;
    for (const auto& event : sampleEvents()) {
        run += framed(event);
        if (run.size() >= (1u << 20)) break;
    }
    NEB_LOGBOOK::LogRequest request;
    request.set_log_source(NEB_LOGBOOK::LogRequest::ICORE);
    request.add_serialized_log_events(run);
    return request.SerializeAsString();
}

size_t zlibGzip(const std::string& in, std::vector<uint8_t>& out) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    out.resize(deflateBound(&stream, in.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
    deflateEnd(&stream);
    return stream.total_out;
}

void RequestGzip(benchmark::State& state) {
    const auto payload = ns::Data::fromString(megabyteRequest());
    const std::string bytes(payload.chars());
    std::vector<uint8_t> baseline;
    double oursTotal = 0, baseTotal = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        auto gzipped = tbx_dataByGzippingData(payload);
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(zlibGzip(bytes, baseline));
        auto t2 = Clock::now();
        if (!gzipped) std::abort();
        const double o = std::chrono::duration<double>(t1 - t0).count();
        oursTotal += o;
        baseTotal += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(o);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.length()));
    state.counters["ratio"] = oursTotal / baseTotal;
}
BENCHMARK(RequestGzip)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
