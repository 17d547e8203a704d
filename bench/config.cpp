// Reading config.xml with many preferences through the configuration parser against plain uses
// of the XML library building the same result in the same run: one pass with a start-element
// handler that takes each preference under its lower-cased name, the last word on a name
// winning, as the settings are, into names in order with their values.
//   "map"     each preference entered into an ordered map of strings as it is read
//   "sorted"  the preferences collected as read, then sorted by name once (stable, so that the
//             last of one name is known) into a vector of name and value: what ours does
// "ratio" (ours / the faster of the two, goal <= 1.2) compares like with like; its growth from
// 10 000 to 150 000 preferences shows whether building the settings stays linear.

#include <benchmark/benchmark.h>
#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchCompare.h"
#include "bridge/HYBConfigParser.h"
#include "bridge/HYBXMLParser.h"

namespace {

std::string configWithPreferences(int count) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<widget id=\"bench\">\n";
    for (int i = 0; i < count; ++i) {
        // Names in an order that is not the sorted one, as a hand-written file has them.
        text += "<preference name=\"Pref" + std::to_string((i * 7919) % count) + "\" value=\"v" +
                std::to_string(i) + "\"/>\n";
    }
    return text + "</widget>\n";
}

using Preference = std::pair<std::string, std::string>;

// The name and value of a preference element, the name lower-cased; false for other elements.
bool readPreference(const XML_Char* name, const XML_Char** attributes, Preference& read) {
    if (std::strcmp(name, "preference") != 0) return false;
    for (size_t i = 0; attributes[i]; i += 2) {
        if (std::strcmp(attributes[i], "name") == 0) read.first = attributes[i + 1];
        if (std::strcmp(attributes[i], "value") == 0) read.second = attributes[i + 1];
    }
    for (char& c : read.first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
}

template <class Sink>
void parseWithLibrary(const std::string& text, Sink& sink, XML_StartElementHandler handler) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &sink);
    XML_SetStartElementHandler(parser, handler);
    if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) != XML_STATUS_OK)
        std::abort();
    XML_ParserFree(parser);
}

using Settings = std::map<std::string, std::string, std::less<>>;

void XMLCALL enterPreference(void* data, const XML_Char* name, const XML_Char** attributes) {
    Preference read;
    if (readPreference(name, attributes, read)) {
        static_cast<Settings*>(data)->insert_or_assign(std::move(read.first),
                                                       std::move(read.second));
    }
}

void XMLCALL collectPreference(void* data, const XML_Char* name, const XML_Char** attributes) {
    Preference read;
    if (readPreference(name, attributes, read)) {
        static_cast<std::vector<Preference>*>(data)->push_back(std::move(read));
    }
}

// The preferences as read, in order by name, the last of each name kept.
std::vector<Preference> sortedSettings(std::vector<Preference>& read) {
    std::vector<uint32_t> order(read.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&read](uint32_t a, uint32_t b) { return read[a].first < read[b].first; });
    std::vector<Preference> settings;
    settings.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (i + 1 < order.size() && read[order[i + 1]].first == read[order[i]].first) continue;
        settings.push_back(std::move(read[order[i]]));
    }
    return settings;
}

void BM_ConfigPreferences(benchmark::State& state) {
    const std::string text = configWithPreferences(static_cast<int>(state.range(0)));
    const auto ours = [&] {
        HYBXMLParser parser(text);
        HYBConfigParser config;
        parser.setDelegate(&config);
        if (!parser.parse()) std::abort();
        benchmark::DoNotOptimize(config.settings().size());
    };
    const auto map = [&] {
        Settings settings;
        parseWithLibrary(text, settings, enterPreference);
        benchmark::DoNotOptimize(settings.size());
    };
    const auto sorted = [&] {
        std::vector<Preference> read;
        parseWithLibrary(text, read, collectPreference);
        benchmark::DoNotOptimize(sortedSettings(read).size());
    };
    bench::compare(state, ours, {{"map", map}, {"sorted", sorted}});
}

}  // namespace

BENCHMARK(BM_ConfigPreferences)
    ->Arg(10000)
    ->Arg(150000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
