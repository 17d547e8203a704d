// Sign-in token caches. (1) Keyed look-up in the keychain token cache with 1k and 10k stored
// items, against a prepared SQLite SELECT of the same rows (service, account, archived item)
// whose archive libplist then decodes, as the cache must, in the same run: counter "ratio" =
// cache time / baseline time; the cache's time per look-up should stay flat as the item count
// grows. (2) Archiving one token item against libplist writing the same object graph, and
// unarchiving it against libplist reading the very same archive.
#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "bench/PlistWalk.h"
#include "bench/RawSQLiteRows.h"
#include "platform/sec/Keychain.h"
#include "signin/DSKeychainTokenCache.h"
#include "signin/DSKeyedArchiver.h"
#include "signin/DSKeyedUnarchiver.h"
#include "signin/DSStringHelpers.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLookups = 5000;
constexpr const char* kAuthority = "https://login.directory.example/tenant.example";

std::string idTokenFor(int user) {
    return adBase64UrlEncode(R"({"typ":"JWT","alg":"none"})") + "." +
           adBase64UrlEncode(R"({"upn":"user)" + std::to_string(user) +
                             R"(@example.com","oid":"oid-)" + std::to_string(user) + R"("})") +
           ".";
}

std::shared_ptr<DSTokenCacheItem> itemFor(int i) {
    auto item = std::make_shared<DSTokenCacheItem>();
    item->setAuthority(kAuthority);
    item->setResource("https://resource-" + std::to_string(i) + ".example");
    item->setClientId("client-app");
    item->setAccessToken(std::string(900, 'a') + std::to_string(i));
    item->setRefreshToken(std::string(600, 'r') + std::to_string(i));
    item->setAccessTokenType("Bearer");
    item->setExpiresOn(ns::Date::fromTimeIntervalSince1970(2e9));
    item->setUserInformation(DSUserInformation::initWithIdToken(idTokenFor(i % 50)));
    return item;
}

std::filesystem::path freshDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "signin-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

void BM_KeychainTokenLookupVersusRawSQLite(benchmark::State& state) {
    const int items = static_cast<int>(state.range(0));
    const std::filesystem::path dir = freshDirectory();
    sec::Keychain::setDirectory(dir / "keychain");
    {
        auto cache = DSKeychainTokenCache::initWithGroup("bench.group");
        std::vector<std::shared_ptr<const DSTokenCacheKey>> keys;
        std::vector<std::string> users;
        std::vector<benchsupport::RawSQLiteRows::Row> rows;
        for (int i = 0; i < items; ++i) {
            auto item = itemFor(i);
            cache->addOrUpdateItem(item.get(), std::nullopt, nullptr);
            keys.push_back(item->extractKey());
            users.push_back(*item->userInformation()->userId());
            rows.emplace_back(cache->keychainKeyFromCacheKey(*keys.back()),
                              adBase64UrlEncode(users.back()),
                              *DSKeyedArchiver::archivedDataWithRootObject(item->encode()));
        }
        benchsupport::RawSQLiteRows raw(dir / "raw.db", rows);
        auto pick = [&](int n) { return static_cast<size_t>((n * 7919L) % items); };
        Clock::duration ours{}, plain{};
        for (auto _ : state) {
            auto start = Clock::now();
            for (int n = 0; n < kLookups; ++n) {
                const size_t i = pick(n);
                auto found = cache->getItemWithKey(keys[i].get(), users[i], std::nullopt, nullptr);
                if (!found) state.SkipWithError("item not found");
                benchmark::DoNotOptimize(found);
            }
            auto middle = Clock::now();
            for (int n = 0; n < kLookups; ++n) {
                const size_t i = pick(n);
                // The row, decoded as the cache must decode it.
                const std::vector<uint8_t> blob =
                    raw.lookup(std::get<0>(rows[i]), std::get<1>(rows[i]));
                benchmark::DoNotOptimize(
                    benchsupport::walkBinaryPlist(ns::Data(blob.data(), blob.size())));
            }
            auto end = Clock::now();
            ours += middle - start;
            plain += end - middle;
        }
        auto perLookup = [&](Clock::duration total) {
            return std::chrono::duration<double, std::micro>(total).count() /
                   (double(kLookups) * double(state.iterations()));
        };
        state.counters["cache_us"] = perLookup(ours);
        state.counters["sqlite_us"] = perLookup(plain);
        state.counters["ratio"] = perLookup(ours) / perLookup(plain);
    }
    sec::Keychain::setDirectory(sec::Keychain::defaultDirectory());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_KeychainTokenLookupVersusRawSQLite)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

// The same object graph written with libplist directly: the nodes a keyed archive of the item
// holds, built and serialised, and parsed back with every value read out.
plist_t uid(uint64_t n) {
    return plist_new_uid(n);
}

ns::Data libplistArchive(const DSTokenCacheItem& item) {
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t object = plist_new_dict();
    plist_array_append_item(objects, object);
    uint64_t next = 2;
    auto text = [&](const std::optional<std::string>& s) -> uint64_t {
        if (!s) return 0;
        plist_array_append_item(objects, plist_new_string(s->c_str()));
        return next++;
    };
    plist_dict_set_item(object, "resource", uid(text(item.resource())));
    plist_dict_set_item(object, "authority", uid(text(item.authority())));
    plist_dict_set_item(object, "clientId", uid(text(item.clientId())));
    plist_dict_set_item(object, "familyId", uid(0));
    plist_dict_set_item(object, "accessToken", uid(text(item.accessToken())));
    plist_dict_set_item(object, "accessTokenType", uid(text(item.accessTokenType())));
    plist_dict_set_item(object, "refreshToken", uid(text(item.refreshToken())));
    plist_dict_set_item(object, "sessionKey", uid(0));
    plist_t date = plist_new_dict();
    plist_dict_set_item(date, "NS.time",
                        plist_new_real(item.expiresOn()->timeIntervalSinceReferenceDate()));
    plist_array_append_item(objects, date);
    plist_dict_set_item(object, "expiresOn", uid(next++));
    const DSUserInformation& user = *item.userInformation();
    plist_t info = plist_new_dict();
    plist_array_append_item(objects, info);
    plist_dict_set_item(object, "userInformation", uid(next++));
    plist_dict_set_item(info, "rawIdToken", uid(text(user.rawIdToken())));
    plist_dict_set_item(info, "userId", uid(text(user.userId())));
    plist_dict_set_item(info, "userIdDisplayable", plist_new_bool(user.userIdDisplayable()));
    plist_t claims = plist_new_dict();
    plist_array_append_item(objects, claims);
    plist_dict_set_item(info, "allClaims", uid(next++));
    plist_t claimKeys = plist_new_array(), claimValues = plist_new_array();
    for (const auto& [name, value] : user.allClaims()) {
        plist_array_append_item(claimKeys, uid(text(name)));
        plist_array_append_item(claimValues, uid(text(value.stringValue())));
    }
    plist_dict_set_item(claims, "NS.keys", claimKeys);
    plist_dict_set_item(claims, "NS.objects", claimValues);
    plist_dict_set_item(object, "tombstone", uid(0));
    plist_dict_set_item(object, "additionalClient", uid(0));
    plist_dict_set_item(object, "additionalServer", uid(0));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(top, "$version", plist_new_uint(100000));
    plist_t tops = plist_new_dict();
    plist_dict_set_item(tops, "root", uid(1));
    plist_dict_set_item(top, "$top", tops);
    plist_dict_set_item(top, "$objects", objects);
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(top, &out, &length);
    ns::Data data(out, length);
    free(out);
    plist_free(top);
    return data;
}

void BM_ItemArchiveVersusLibplist(benchmark::State& state) {
    auto item = itemFor(7);
    const ns::Data archived = *DSKeyedArchiver::archivedDataWithRootObject(item->encode());
    constexpr int kRounds = 2000;
    Clock::duration encodeOurs{}, encodePlain{}, decodeOurs{}, decodePlain{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kRounds; ++i)
            benchmark::DoNotOptimize(DSKeyedArchiver::archivedDataWithRootObject(item->encode()));
        auto t1 = Clock::now();
        for (int i = 0; i < kRounds; ++i) benchmark::DoNotOptimize(libplistArchive(*item));
        auto t2 = Clock::now();
        for (int i = 0; i < kRounds; ++i)
            benchmark::DoNotOptimize(
                DSKeyedUnarchiver::unarchive(archived, DSTokenCacheItem::archiveClasses()));
        auto t3 = Clock::now();
        // The same bytes that ours decodes.
        for (int i = 0; i < kRounds; ++i)
            benchmark::DoNotOptimize(benchsupport::walkBinaryPlist(archived));
        auto t4 = Clock::now();
        encodeOurs += t1 - t0;
        encodePlain += t2 - t1;
        decodeOurs += t3 - t2;
        decodePlain += t4 - t3;
    }
    auto us = [&](Clock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count() /
               (double(kRounds) * double(state.iterations()));
    };
    state.counters["encode_us"] = us(encodeOurs);
    state.counters["encode_ratio"] = us(encodeOurs) / us(encodePlain);
    state.counters["decode_us"] = us(decodeOurs);
    state.counters["decode_ratio"] = us(decodeOurs) / us(decodePlain);
}
BENCHMARK(BM_ItemArchiveVersusLibplist)
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
