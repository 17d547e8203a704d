#include "sdk/core/NEBMutableDictionary.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/ns/Value.h"

namespace {

TEST(NEBMutableDictionaryTest, ReadAfterWriteOnOneThreadSeesTheWrite) {
    NEBMutableDictionary<ns::Value> dictionary;
    for (int i = 0; i < 100; ++i) {
        dictionary.setObject(i, "key");
        EXPECT_EQ(dictionary.objectForKey("key"), ns::Value(i));
    }
    dictionary.setObject(ns::Value(), "key");  // null removes
    EXPECT_TRUE(dictionary["key"].isNull());
    EXPECT_EQ(dictionary.count(), 0u);
}

TEST(NEBMutableDictionaryTest, RemovalsAndDescription) {
    NEBMutableDictionary<std::shared_ptr<std::string>> dictionary;
    dictionary.setObject(std::make_shared<std::string>("a"), "one");
    dictionary.setObject(std::make_shared<std::string>("b"), "two");
    EXPECT_EQ(dictionary.count(), 2u);
    dictionary.removeObjectForKey("one");
    EXPECT_EQ(dictionary.objectForKey("one"), nullptr);
    EXPECT_EQ(*dictionary.objectForKey("two"), "b");
    dictionary.removeAllObjects();
    EXPECT_EQ(dictionary.count(), 0u);

    NEBMutableDictionary<ns::Value> values;
    values.setObject("text", "k");
    EXPECT_EQ(values.description(), "{\n    k = text;\n}");
}

TEST(NEBMutableDictionaryTest, ManyThreadsWriteAndReadAtOnce) {
    NEBMutableDictionary<ns::Value> dictionary;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&dictionary, t] {
            for (int i = 0; i < 200; ++i) {
                auto key = std::to_string(t) + "-" + std::to_string(i);
                dictionary.setObject(i, key);
                EXPECT_EQ(dictionary.objectForKey(key), ns::Value(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(dictionary.count(), 800u);
}

}  // namespace
