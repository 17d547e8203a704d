// Instance identity against the libraries under it, in the same run:
// - cached token look-ups through the token manager (keychain item, staleness rules) against a
//   prepared SQLite SELECT of the same row from the keychain's own file, decoded into the token;
//   counter "ratio" = ours / raw (goal <= 1.5);
// - request signing against a direct EVP_PKEY_sign of the same blocks, raw RSA without padding,
//   one context initialised once; counter "ratio" = ours / direct (goal <= 1.1).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <cstdlib>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Bundle.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/UserDefaults.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/KeychainStore.h"
#include "sdk/core/NEBServices.h"
#include "sdk/instance_id/NEBInstanceIDKeyPair.h"
#include "sdk/instance_id/NEBInstanceIDStore.h"
#include "sdk/instance_id/NEBInstanceIDTokenManager.h"
#include "sdk/instance_id/NEBInstanceIDUtilities.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLookups = 100000;
constexpr int kSignatures = 200;

std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "iid-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

double nanosPer(Clock::duration total, double count) {
    return std::chrono::duration<double, std::nano>(total).count() / count;
}

// An installation of its own: sandbox, keychain, a bundle with a version.
struct Installation {
    std::filesystem::path dir = makeTempDir();
    Installation() {
        if (!ns::Sandbox::configure((dir / "sandbox").string())) std::abort();
        sec::Keychain::setDirectory(ns::Sandbox::keychainDirectory());
        std::filesystem::create_directories(dir / "B.app");
        std::ofstream(dir / "B.app" / "Info.plist")
            << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
               "<string>com.example.bench</string><key>CFBundleShortVersionString</key>"
               "<string>1.0</string></dict></plist>";
        ns::Bundle::setMainBundlePath((dir / "B.app").string());
        ns::UserDefaults::resetStandardUserDefaults();
        NEBInstanceIDStore::createApplicationSupportSubDirectory(
            kNEBInstanceIDApplicationSupportSubDirectory);
    }
    ~Installation() {
        ns::UserDefaults::resetStandardUserDefaults();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// The token's row read straight from the keychain's own SQLite file by its unique key (class,
// service, account, access group, tag, key class), with SQLite at its documented best for a hot
// read: a connection without its own mutex, one persistent prepared statement, static binds,
// the database in WAL mode (as the keychain keeps it). The stored value is decoded into the
// token the caller receives, as the token store must.
class KeychainTokenRow {
public:
    KeychainTokenRow(const std::filesystem::path& file, std::string accessGroup)
        : accessGroup_(std::move(accessGroup)) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK ||
            sqlite3_prepare_v3(db_,
                               "SELECT data FROM items WHERE class = 'genp' AND service = ? AND "
                               "account = ? AND access_group = ? AND tag = x'' AND key_class = x''",
                               -1, SQLITE_PREPARE_PERSISTENT, &select_, nullptr) != SQLITE_OK) {
            std::abort();
        }
    }
    ~KeychainTokenRow() {
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }
    std::optional<std::string> token(std::string_view service, std::string_view account) {
        sqlite3_bind_blob(select_, 1, service.data(), int(service.size()), SQLITE_STATIC);
        sqlite3_bind_blob(select_, 2, account.data(), int(account.size()), SQLITE_STATIC);
        sqlite3_bind_blob(select_, 3, accessGroup_.data(), int(accessGroup_.size()), SQLITE_STATIC);
        std::optional<std::string> out;
        if (sqlite3_step(select_) == SQLITE_ROW) {
            std::string_view stored(static_cast<const char*>(sqlite3_column_blob(select_, 0)),
                                    size_t(sqlite3_column_bytes(select_, 0)));
            // "<seconds>|Token|<token>"
            constexpr std::string_view kMarker = "|Token|";
            auto at = stored.find(kMarker);
            if (at != std::string_view::npos && at + kMarker.size() < stored.size()) {
                out.emplace(stored.substr(at + kMarker.size()));
            }
        }
        sqlite3_reset(select_);
        return out;
    }

private:
    std::string accessGroup_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
};

void BM_CachedTokenLookupVersusRawSQLite(benchmark::State& state) {
    Installation installation;
    NEBInstanceIDTokenManager manager(NEBServices::standard());
    std::string token(152, 't');
    manager.instanceIDStore()->saveToken(token, "sender", "app-scope");
    manager.instanceIDStore()->saveAppVersion();
    KeychainTokenRow raw(
        std::filesystem::path(ns::Sandbox::keychainDirectory()) / sec::KeychainStore::kFileName,
        sec::Keychain::shared().defaultAccessGroup());
    if (raw.token("app-scope", "sender") != token) {
        state.SkipWithError("the baseline does not read the token");
        return;
    }
    const ns::Dictionary options;
    Clock::duration ours{}, plain{};
    for (auto _ : state) {
        auto start = Clock::now();
        for (int n = 0; n < kLookups; ++n) {
            auto cached = manager.tokenWithAuthorizedEntity("sender", "app-scope", options);
            if (!cached.isValid()) state.SkipWithError("token not served from the cache");
            benchmark::DoNotOptimize(cached);
        }
        auto middle = Clock::now();
        for (int n = 0; n < kLookups; ++n) {
            auto read = raw.token("app-scope", "sender");
            if (!read) state.SkipWithError("the baseline lost the row");
            benchmark::DoNotOptimize(read);
        }
        auto end = Clock::now();
        ours += middle - start;
        plain += end - middle;
    }
    double count = double(kLookups) * double(state.iterations());
    state.counters["ours_ns"] = nanosPer(ours, count);
    state.counters["sqlite_ns"] = nanosPer(plain, count);
    state.counters["ratio"] = nanosPer(ours, count) / nanosPer(plain, count);
}

void BM_SigningVersusDirectEVP(benchmark::State& state) {
    Installation installation;
    auto pair = NEBInstanceIDKeyPair::generateRSA2048KeyPair(sec::Keychain::shared(), "bench-priv",
                                                             "bench-pub");
    if (!pair.ok()) {
        state.SkipWithError("no key pair");
        return;
    }
    const sec::Key& key = *(*pair)->privateKey();
    // The text a registration request signs: bundle identifier, line feed, pub2 (two blocks).
    std::string text = NEBInstanceIDStringByJoiningLines(
        {"com.example.bench", NEBInstanceIDBase64With64CharacterLines((*pair)->publicKeyData())});
    ns::Data data = ns::Data::fromString(text);
    const size_t block = 256;

    // The same key, as the library itself holds it.
    const ns::Data der = key.privateKeyData().value_or(ns::Data());
    const unsigned char* p = der.bytes();
    EVP_PKEY* pkey = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, long(der.length()));
    if (!pkey) {
        state.SkipWithError("the key cannot be read back");
        return;
    }
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    std::vector<uint8_t> padded(block), out(block);

    Clock::duration ours{}, direct{};
    for (auto _ : state) {
        auto start = Clock::now();
        for (int n = 0; n < kSignatures; ++n) {
            auto signature = NEBInstanceIDSignData(key, data);
            if (!signature) state.SkipWithError("signing failed");
            benchmark::DoNotOptimize(signature);
        }
        auto middle = Clock::now();
        for (int n = 0; n < kSignatures; ++n) {
            std::vector<uint8_t> signature;
            for (size_t offset = 0; offset < data.length(); offset += block) {
                size_t chunk = std::min(block, data.length() - offset);
                std::fill(padded.begin(), padded.end(), 0);
                std::memcpy(padded.data() + (block - chunk), data.bytes() + offset, chunk);
                size_t length = block;
                EVP_PKEY_sign(ctx, out.data(), &length, padded.data(), block);
                signature.insert(signature.end(), out.begin(), out.begin() + long(length));
            }
            benchmark::DoNotOptimize(signature);
        }
        auto end = Clock::now();
        ours += middle - start;
        direct += end - middle;
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(pkey);
    double count = double(kSignatures) * double(state.iterations());
    state.counters["ours_us"] = nanosPer(ours, count) / 1000;
    state.counters["evp_us"] = nanosPer(direct, count) / 1000;
    state.counters["ratio"] = nanosPer(ours, count) / nanosPer(direct, count);
}

BENCHMARK(BM_CachedTokenLookupVersusRawSQLite)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SigningVersusDirectEVP)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
