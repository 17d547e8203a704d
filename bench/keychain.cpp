// Keychain look-ups by service and account against a plain prepared SQLite SELECT on an
// equivalent table, in the same run. Counter "ratio" = keychain time / raw SQLite time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/RawSQLiteRows.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"

namespace {

constexpr int kItems = 1000;
constexpr int kLookups = 100000;

std::string serviceOf(int i) {
    return "com.example.service." + std::to_string(i);
}
std::string accountOf(int i) {
    return "account-" + std::to_string(i);
}
ns::Data secretOf(int i) {
    return ns::Data::fromString("secret-value-" + std::to_string(i));
}

// The pick of item for look-up n: spread over all items, the same in both loops.
int pick(int n) {
    return static_cast<int>((n * 7919L) % kItems);
}

void BM_KeychainLookupVersusRawSQLite(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "keychain-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::filesystem::path dir = pattern;
    {
        sec::Keychain keychain(dir / "keychain");
        std::vector<ns::Dictionary> queries;
        std::vector<std::pair<std::string, std::string>> keys;
        for (int i = 0; i < kItems; ++i) {
            ns::Dictionary item{{sec::kSecClass, sec::kSecClassGenericPassword},
                                {sec::kSecAttrService, serviceOf(i)},
                                {sec::kSecAttrAccount, accountOf(i)},
                                {sec::kSecValueData, secretOf(i)}};
            keychain.add(item);
            item.erase(sec::kSecValueData);
            item[sec::kSecReturnData] = true;
            queries.push_back(std::move(item));
            keys.emplace_back(serviceOf(i), accountOf(i));
        }
        std::vector<benchsupport::RawSQLiteRows::Row> rows;
        for (int i = 0; i < kItems; ++i) rows.emplace_back(serviceOf(i), accountOf(i), secretOf(i));
        benchsupport::RawSQLiteRows raw(dir / "raw.db", rows);
        using Clock = std::chrono::steady_clock;
        Clock::duration ours{}, plain{};
        for (auto _ : state) {
            auto start = Clock::now();
            for (int n = 0; n < kLookups; ++n) {
                ns::Value result;
                keychain.copyMatching(queries[pick(n)], &result);
                benchmark::DoNotOptimize(result);
            }
            auto middle = Clock::now();
            for (int n = 0; n < kLookups; ++n) {
                const auto& key = keys[pick(n)];
                auto out = raw.lookup(key.first, key.second);
                benchmark::DoNotOptimize(out);
            }
            auto end = Clock::now();
            ours += middle - start;
            plain += end - middle;
        }
        auto perLookup = [&](Clock::duration total) {
            return std::chrono::duration<double, std::nano>(total).count() /
                   (double(kLookups) * double(state.iterations()));
        };
        state.counters["keychain_ns"] = perLookup(ours);
        state.counters["sqlite_ns"] = perLookup(plain);
        state.counters["ratio"] = perLookup(ours) / perLookup(plain);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

BENCHMARK(BM_KeychainLookupVersusRawSQLite)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
