// Property lists through ns::PropertyListSerialization against the libraries beside it, in the
// same run, on a 2 000-entry dictionary of every kind (the shape of a large preferences file or
// keyed archive). Baselines: the XML parser under our XML reader (expat, with handlers that do
// nothing: a floor that builds no value), and the property list library (libplist) parsing into
// and writing from its own nodes, built once beforehand for the writes. Each iteration runs ours
// and every baseline, interleaved; "ratio" = ours / the fastest baseline, "ratio_<library>"
// against each one.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <plist/plist.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchCompare.h"
#include "platform/ns/PropertyListSerialization.h"

namespace {

using ns::PropertyListSerialization;
using Format = PropertyListSerialization::Format;

ns::Value sample() {
    ns::Dictionary d;
    for (int i = 0; i < 2000; ++i) {
        const std::string key = "key " + std::to_string(i);
        switch (i % 8) {
            case 0:
                d[key] = "a plain text value number " + std::to_string(i);
                break;
            case 1:
                d[key] = "caf\xC3\xA9 \xE2\x82\xAC " + std::to_string(i);
                break;
            case 2:
                d[key] = static_cast<long long>(i) * 1000003;
                break;
            case 3:
                d[key] = i * 0.25;
                break;
            case 4:
                d[key] = ns::Date::fromTimeIntervalSinceReferenceDate(7e8 + i);
                break;
            case 5:
                d[key] = ns::Data(std::vector<uint8_t>(48, static_cast<uint8_t>(i)));
                break;
            case 6:
                d[key] = ns::Value::array({i, "x", true});
                break;
            default:
                d[key] = ns::Value::dict({{"n", i}, {"flag", false}});
                break;
        }
    }
    return ns::Value(std::move(d));
}

using bench::Baseline;
using bench::compare;

std::string written(Format format) {
    auto data = PropertyListSerialization::write(sample(), format);
    if (!data) std::abort();
    return std::string(data->chars());
}

// The library's own tree of the sample, for its writers.
plist_t libraryTree() {
    const std::string binary = written(Format::Binary);
    plist_t root = nullptr;
    plist_from_bin(binary.data(), static_cast<uint32_t>(binary.size()), &root);
    if (!root) std::abort();
    return root;
}

void readWith(benchmark::State& state, Format format) {
    const std::string text = written(format);
    const ns::Data data = ns::Data::fromString(text);
    std::vector<Baseline> baselines;
    if (format == Format::Binary) {
        baselines.push_back({"libplist", [&] {
                                 plist_t root = nullptr;
                                 plist_from_bin(text.data(), static_cast<uint32_t>(text.size()),
                                                &root);
                                 if (!root) std::abort();
                                 plist_free(root);
                             }});
    } else {
        baselines.push_back({"expat", [&] {
                                 XML_Parser parser = XML_ParserCreate(nullptr);
                                 if (XML_Parse(parser, text.data(), static_cast<int>(text.size()),
                                               XML_TRUE) != XML_STATUS_OK)
                                     std::abort();
                                 XML_ParserFree(parser);
                             }});
        baselines.push_back({"libplist", [&] {
                                 plist_t root = nullptr;
                                 plist_from_xml(text.data(), static_cast<uint32_t>(text.size()),
                                                &root);
                                 if (!root) std::abort();
                                 plist_free(root);
                             }});
    }
    compare(
        state,
        [&] {
            auto value = PropertyListSerialization::read(data);
            if (!value) std::abort();
            benchmark::DoNotOptimize(value);
        },
        baselines);
}

void writeWith(benchmark::State& state, Format format) {
    const ns::Value value = sample();
    plist_t tree = libraryTree();
    compare(state,
            [&] {
                auto data = PropertyListSerialization::write(value, format);
                if (!data) std::abort();
                benchmark::DoNotOptimize(data);
            },
            {{"libplist", [&] {
                  char* out = nullptr;
                  uint32_t length = 0;
                  if (format == Format::Binary) {
                      plist_to_bin(tree, &out, &length);
                      if (!out) std::abort();
                      plist_to_bin_free(out);
                  } else {
                      plist_to_xml(tree, &out, &length);
                      if (!out) std::abort();
                      plist_to_xml_free(out);
                  }
              }}});
    plist_free(tree);
}

void BM_ReadBinary(benchmark::State& state) {
    readWith(state, Format::Binary);
}
void BM_ReadXML(benchmark::State& state) {
    readWith(state, Format::XML);
}
void BM_WriteBinary(benchmark::State& state) {
    writeWith(state, Format::Binary);
}
void BM_WriteXML(benchmark::State& state) {
    writeWith(state, Format::XML);
}

}  // namespace

BENCHMARK(BM_ReadBinary)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadXML)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteBinary)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteXML)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
