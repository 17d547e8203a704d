// Keychain look-ups by service and account against a plain prepared SQLite SELECT on an
// equivalent table, in the same run. Counter "ratio" = keychain time / raw SQLite time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

class RawTable {
  public:
    explicit RawTable(const std::filesystem::path& file) {
        sqlite3_open(file.c_str(), &db_);
        sqlite3_exec(db_,
                     "PRAGMA journal_mode = WAL;"
                     "CREATE TABLE t(service TEXT NOT NULL, account TEXT NOT NULL, data BLOB);"
                     "CREATE UNIQUE INDEX t_key ON t(service, account);",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO t VALUES(?, ?, ?)", -1, &insert, nullptr);
        for (int i = 0; i < kItems; ++i) {
            std::string service = serviceOf(i), account = accountOf(i);
            ns::Data data = secretOf(i);
            sqlite3_bind_text(insert, 1, service.data(), int(service.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, account.data(), int(account.size()), SQLITE_STATIC);
            sqlite3_bind_blob(insert, 3, data.bytes(), int(data.length()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db_, "SELECT data FROM t WHERE service = ? AND account = ?", -1,
                           &select_, nullptr);
    }
    ~RawTable() {
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }

    std::vector<uint8_t> lookup(const std::string& service, const std::string& account) {
        sqlite3_bind_text(select_, 1, service.data(), int(service.size()), SQLITE_STATIC);
        sqlite3_bind_text(select_, 2, account.data(), int(account.size()), SQLITE_STATIC);
        std::vector<uint8_t> out;
        if (sqlite3_step(select_) == SQLITE_ROW) {
            auto p = static_cast<const uint8_t*>(sqlite3_column_blob(select_, 0));
            out.assign(p, p + sqlite3_column_bytes(select_, 0));
        }
        sqlite3_reset(select_);
        return out;
    }

  private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
};

void BM_KeychainLookupVersusRawSQLite(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "keychain-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::filesystem::path dir = pattern;
    {
        sec::Keychain keychain(dir / "keychain");
        RawTable raw(dir / "raw.db");
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
