// A silent token acquisition served from the keychain token cache, through the whole library
// (context, request, accessor, keychain cache, archive decoding), against the keychain read
// of the same item alone with its archive decoded by libplist, in the same run: counter
// "ratio" = acquisition time / read time (goal: 1.5 or less).
// Three shapes: one user acquiring again and again and 64 users in turn (the cache answers
// from the item it decoded from the same stored bytes before, and the baseline still decodes
// every archive), and 320 users in turn, more than the cache remembers: every acquisition
// decodes its archive and id_token, so that what decoding costs stays in sight.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
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
                benchmark::DoNotOptimize(benchsupport::walkBinaryPlist(*found.data()));
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
