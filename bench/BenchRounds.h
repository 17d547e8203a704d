// For benchmarks that run one round per iteration, repeated: the statistics of the range
// beside the median, and the machine's load when a round ran. Header-only: each benchmark is
// its own program.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

// The smallest and the largest of the repetitions, beside the mean and the median.
inline void withRange(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics("min", [](const std::vector<double>& v) {
         return *std::min_element(v.begin(), v.end());
     })->ComputeStatistics("max", [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    });
}

// The load average of the last minute.
inline double load1() {
    double load = 0;
    if (FILE* in = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(in, "%lf", &load) != 1) load = 0;
        std::fclose(in);
    }
    return load;
}

}  // namespace bench
