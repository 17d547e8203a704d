// A silent token acquisition served from the keychain token cache, through the whole library
// (context, request, accessor, keychain cache, archive decoding), against the keychain read
// of the same item alone with its archive decoded by libplist, in the same run: counter
// "ratio" = acquisition time / read time (goal: 1.5 or less).
// Both sides keep the same memo of what they decoded: the cache its items, by the archives'
// bytes, and the baseline libplist's trees of the archives, by the same bounds and the same
// look-up (DecodedArchives below). Three shapes: one user acquiring again and again and 64
// users in turn (both answer from what they decoded from the same stored bytes before), and
// 320 users in turn, more than either remembers: every acquisition decodes its archive (and
// the cache its id_token), so that what decoding costs stays in sight.
#include <benchmark/benchmark.h>
#include <farmhash.h>
#include <plist/plist.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/PlistWalk.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "signin/DSAuthenticationContext.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSUserInformation.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5000;
constexpr const char* kAuthority = "https://login.directory.example/tenant.example";
constexpr const char* kResource = "https://graph.example";
constexpr const char* kClient = "client-app";

std::string userNumber(int n) {
    return "user" + std::to_string(n) + "@example.com";
}

std::shared_ptr<DSTokenCacheItem> cachedItem(const std::string& user) {
    auto item = std::make_shared<DSTokenCacheItem>();
    item->setAuthority(kAuthority);
    item->setResource(kResource);
    item->setClientId(kClient);
    item->setAccessToken(std::string(900, 'a'));
    item->setRefreshToken(std::string(600, 'r'));
    item->setAccessTokenType("Bearer");
    item->setExpiresOn(ns::Date::fromTimeIntervalSince1970(4e9));
    const std::string idToken =
        adBase64UrlEncode(R"({"typ":"JWT","alg":"none"})") + "." +
        adBase64UrlEncode(R"({"upn":")" + user + R"(","oid":"oid-)" + user + R"(","tid":"t"})") +
        ".";
    item->setUserInformation(DSUserInformation::initWithIdToken(idToken));
    return item;
}

// The memo the token cache keeps of the archives it decoded, kept for the baseline too: at most
// 256 archives and 1 MiB of them, none over 16 KiB, the oldest going first; found by a hash of
// the bytes and then the bytes themselves; a hit handed out as a copy, as the cache hands out
// a copy of its item.
class DecodedArchives {
public:
    DecodedArchives() = default;
    DecodedArchives(const DecodedArchives&) = delete;
    DecodedArchives& operator=(const DecodedArchives&) = delete;
    ~DecodedArchives() {
        for (Entry& entry : entries_) plist_free(entry.tree);
    }

    // A copy of the archive's tree, remembered from before, or its tree parsed and walked as a
    // decoder must (and remembered).
    plist_t treeOf(const ns::Data& data) {
        const uint64_t hash = util::Hash64(data.chars().data(), data.length());
        for (const Entry& entry : entries_) {
            if (entry.hash == hash && entry.archive == data) return plist_copy(entry.tree);
        }
        plist_t tree = nullptr;
        plist_from_bin(data.chars().data(), static_cast<uint32_t>(data.length()), &tree);
        size_t seen = 0;
        benchsupport::walkPlistNode(tree, seen);
        benchmark::DoNotOptimize(seen);
        if (data.length() <= kMaxEntryBytes) {
            while (!entries_.empty() &&
                   (entries_.size() == kCapacity || bytes_ + data.length() > kMaxBytes)) {
                bytes_ -= entries_.front().archive.length();
                plist_free(entries_.front().tree);
                entries_.pop_front();
            }
            entries_.push_back({data, hash, plist_copy(tree)});
            bytes_ += data.length();
        }
        return tree;
    }

private:
    static constexpr size_t kCapacity = 256;
    static constexpr size_t kMaxBytes = 1u << 20;
    static constexpr size_t kMaxEntryBytes = 16u << 10;
    struct Entry {
        ns::Data archive;
        uint64_t hash;
        plist_t tree;
    };
    std::deque<Entry> entries_;
    size_t bytes_ = 0;
};

void BM_SilentAcquisitionFromTheCacheVersusTheKeychainRead(benchmark::State& state) {
    const int users = static_cast<int>(state.range(0));
    std::string pattern = (std::filesystem::temp_directory_path() / "signin-acquire-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::filesystem::path dir = pattern;
    sec::Keychain::setDirectory(dir / "keychain");
    {
        auto cache = DSKeychainTokenCache::defaultKeychainCache();
        auto context =
            DSAuthenticationContext::initWithAuthority(kAuthority, false, cache, nullptr);
        std::vector<std::string> names;
        // The read each acquisition comes down to: its user's item, by service and account.
        std::vector<ns::Dictionary> queries;
        for (int n = 0; n < users; ++n) {
            names.push_back(userNumber(n));
            auto item = cachedItem(names.back());
            cache->addOrUpdateItem(item.get(), std::nullopt, nullptr);
            queries.push_back(cache->queryDictionaryForKey(
                item->extractKey().get(), item->storageUserId(),
                {{sec::kSecMatchLimit, sec::kSecMatchLimitOne}, {sec::kSecReturnData, true}}));
        }

        DecodedArchives decoded;
        Clock::duration ours{}, plain{};
        for (auto _ : state) {
            auto start = Clock::now();
            for (int n = 0; n < kRounds; ++n) {
                std::shared_ptr<const DSAuthenticationResult> result;
                context->acquireTokenSilentWithResource(
                    kResource, kClient, std::nullopt, names[size_t(n % users)],
                    [&](std::shared_ptr<const DSAuthenticationResult> r) {
                        result = std::move(r);
                    });
                if (!result || result->status() != DS_SUCCEEDED) {
                    state.SkipWithError("not served from the cache");
                    break;
                }
                benchmark::DoNotOptimize(result);
            }
            auto middle = Clock::now();
            for (int n = 0; n < kRounds; ++n) {
                ns::Value found;
                if (sec::SecItemCopyMatching(queries[size_t(n % users)], &found) !=
                        sec::errSecSuccess ||
                    !found.data()) {
                    state.SkipWithError("keychain read failed");
                    break;
                }
                plist_t tree = decoded.treeOf(*found.data());
                benchmark::DoNotOptimize(tree);
                plist_free(tree);
            }
            auto end = Clock::now();
            ours += middle - start;
            plain += end - middle;
        }
        auto us = [&](Clock::duration d) {
            return std::chrono::duration<double, std::micro>(d).count() /
                   (double(kRounds) * double(state.iterations()));
        };
        state.counters["acquire_us"] = us(ours);
        state.counters["read_us"] = us(plain);
        state.counters["ratio"] = us(ours) / us(plain);
    }
    sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_SilentAcquisitionFromTheCacheVersusTheKeychainRead)
    ->ArgName("users")
    ->Arg(1)
    ->Arg(64)
    ->Arg(320)
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
