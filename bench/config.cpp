// Reading config.xml with many preferences through the configuration parser against the plain
// use of the XML library building the same result: one pass with a start-element handler that
// enters each preference under its lower-cased name in an ordered map of strings, the last word
// on a name winning, as the settings are. Each iteration runs both, so that "ratio" (ours /
// library) compares like with like in one run; its growth from 10 000 to 150 000 preferences
// shows whether building the settings stays linear.

#include <benchmark/benchmark.h>
#include <expat.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bridge/HYBConfigParser.h"
#include "bridge/HYBXMLParser.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string configWithPreferences(int count) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<widget id=\"bench\">\n";
    for (int i = 0; i < count; ++i) {
        // Names in an order that is not the sorted one, as a hand-written file has them.
        text += "<preference name=\"Pref" + std::to_string((i * 7919) % count) + "\" value=\"v" +
                std::to_string(i) + "\"/>\n";
    }
    return text + "</widget>\n";
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

using Settings = std::map<std::string, std::string, std::less<>>;

void XMLCALL keepPreference(void* data, const XML_Char* name, const XML_Char** attributes) {
    if (std::strcmp(name, "preference") != 0) return;
    std::string key, value;
    for (size_t i = 0; attributes[i]; i += 2) {
        if (std::strcmp(attributes[i], "name") == 0) key = attributes[i + 1];
        if (std::strcmp(attributes[i], "value") == 0) value = attributes[i + 1];
    }
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static_cast<Settings*>(data)->insert_or_assign(std::move(key), std::move(value));
}

void BM_ConfigPreferences(benchmark::State& state) {
    const std::string text = configWithPreferences(static_cast<int>(state.range(0)));
    double oursTotal = 0, libraryTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        {
            HYBXMLParser parser(text);
            HYBConfigParser config;
            parser.setDelegate(&config);
            if (!parser.parse()) std::abort();
            benchmark::DoNotOptimize(config.settings().size());
        }
        const auto t1 = Clock::now();
        {
            Settings settings;
            XML_Parser parser = XML_ParserCreate(nullptr);
            XML_SetUserData(parser, &settings);
            XML_SetStartElementHandler(parser, keepPreference);
            if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) !=
                XML_STATUS_OK)
                std::abort();
            XML_ParserFree(parser);
            benchmark::DoNotOptimize(settings.size());
        }
        const auto t2 = Clock::now();
        oursTotal += seconds(t1 - t0);
        libraryTotal += seconds(t2 - t1);
        state.SetIterationTime(seconds(t1 - t0));
    }
    state.counters["library_ms"] = 1e3 * libraryTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = libraryTotal > 0 ? oursTotal / libraryTotal : 0;
}

}  // namespace

BENCHMARK(BM_ConfigPreferences)
    ->Arg(10000)
    ->Arg(150000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
