// A silent token acquisition served from the keychain token cache, through the whole library
// (context, request, accessor, keychain cache, archive decoding), against the keychain read
// of the same item alone with its archive decoded by libplist, in the same run: counter
// "ratio" = acquisition time / read time (goal: 1.5 or less).
#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

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
constexpr const char* kUser = "user7@example.com";

std::shared_ptr<DSTokenCacheItem> cachedItem() {
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
        adBase64UrlEncode(std::string(R"({"upn":")") + kUser + R"(","oid":"oid-7","tid":"t"})") +
        ".";
    item->setUserInformation(DSUserInformation::initWithIdToken(idToken));
    return item;
}

// The baseline's decoding: the binary property list parsed, and every string, number and
// reference read out, as a decoder of the archive must.
size_t readArchive(const ns::Data& data) {
    plist_t top = nullptr;
    plist_from_bin(data.chars().data(), static_cast<uint32_t>(data.length()), &top);
    size_t seen = 0;
    std::function<void(plist_t)> walk = [&](plist_t node) {
        switch (plist_get_node_type(node)) {
            case PLIST_STRING: {
                uint64_t length = 0;
                const char* s = plist_get_string_ptr(node, &length);
                seen += std::string(s, length).size();
                break;
            }
            case PLIST_UID: {
                uint64_t v = 0;
                plist_get_uid_val(node, &v);
                seen += v;
                break;
            }
            case PLIST_ARRAY:
                for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
                    walk(plist_array_get_item(node, i));
                break;
            case PLIST_DICT: {
                plist_dict_iter it = nullptr;
                plist_dict_new_iter(node, &it);
                char* key = nullptr;
                plist_t value = nullptr;
                for (plist_dict_next_item(node, it, &key, &value); value;
                     plist_dict_next_item(node, it, &key, &value)) {
                    seen += std::string(key).size();
                    free(key);
                    walk(value);
                }
                free(it);
                break;
            }
            default:
                ++seen;
        }
    };
    walk(top);
    plist_free(top);
    return seen;
}

void BM_SilentAcquisitionFromTheCacheVersusTheKeychainRead(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "signin-acquire-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::filesystem::path dir = pattern;
    sec::Keychain::setDirectory(dir / "keychain");
    {
        auto cache = DSKeychainTokenCache::defaultKeychainCache();
        auto item = cachedItem();
        cache->addOrUpdateItem(item.get(), std::nullopt, nullptr);
        auto context =
            DSAuthenticationContext::initWithAuthority(kAuthority, false, cache, nullptr);
        // The read the acquisition comes down to: this one item, by its service and account.
        ns::Dictionary query = cache->queryDictionaryForKey(
            item->extractKey().get(), item->storageUserId(),
            {{sec::kSecMatchLimit, sec::kSecMatchLimitOne}, {sec::kSecReturnData, true}});

        Clock::duration ours{}, plain{};
        for (auto _ : state) {
            auto start = Clock::now();
            for (int n = 0; n < kRounds; ++n) {
                std::shared_ptr<const DSAuthenticationResult> result;
                context->acquireTokenSilentWithResource(
                    kResource, kClient, std::nullopt, kUser,
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
                if (sec::SecItemCopyMatching(query, &found) != sec::errSecSuccess ||
                    !found.data()) {
                    state.SkipWithError("keychain read failed");
                    break;
                }
                benchmark::DoNotOptimize(readArchive(*found.data()));
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
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
