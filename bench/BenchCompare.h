#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// One library doing the same work as ours, named in its counter ("ratio_<name>").
struct Baseline {
    const char* name;
    std::function<void()> run;
};

// Times `ours` as the benchmark's iteration time and each baseline beside it in the same
// iteration, ours first in one iteration and last in the next, so that neither side always
// finds the caches as the other left them. Counters: "ratio" against the fastest baseline,
// "ratio_<name>" against each, and "library_ms", the fastest baseline's time per iteration.
template <class Ours>
void compare(benchmark::State& state, Ours ours, const std::vector<Baseline>& baselines) {
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    double oursTotal = 0;
    std::vector<double> totals(baselines.size());
    bool oursFirst = true;
    for (auto _ : state) {
        double o = 0;
        const auto runOurs = [&] {
            const auto t0 = Clock::now();
            ours();
            o = seconds(Clock::now() - t0);
        };
        if (oursFirst) runOurs();
        for (size_t i = 0; i < baselines.size(); ++i) {
            const auto t0 = Clock::now();
            baselines[i].run();
            totals[i] += seconds(Clock::now() - t0);
        }
        if (!oursFirst) runOurs();
        oursFirst = !oursFirst;
        oursTotal += o;
        state.SetIterationTime(o);
    }
    const double fastest = *std::min_element(totals.begin(), totals.end());
    for (size_t i = 0; i < baselines.size(); ++i) {
        state.counters[std::string("ratio_") + baselines[i].name] =
            totals[i] > 0 ? oursTotal / totals[i] : 0;
    }
    state.counters["library_ms"] = 1e3 * fastest / static_cast<double>(state.iterations());
    state.counters["ratio"] = fastest > 0 ? oursTotal / fastest : 0;
}

}  // namespace bench
