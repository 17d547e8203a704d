#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ns/Value.h"
#include "platform/sec/Keychain.h"
#include "platform/sec/SecItem.h"
#include "tests/support/TempDir.h"

namespace sectest {

inline ns::Data bytes(std::string_view text) {
    return ns::Data::fromString(text);
}

inline ns::Dictionary genericPassword(ns::Dictionary attributes) {
    attributes.emplace(sec::kSecClass, sec::kSecClassGenericPassword);
    return attributes;
}

// A keychain of its own in a fresh directory for each test.
class KeychainTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    sec::Keychain keychain{dir.path()};

    // The value data of every item matching the query, in keychain order.
    std::vector<std::string> dataOfAll(ns::Dictionary query) {
        query[sec::kSecMatchLimit] = sec::kSecMatchLimitAll;
        query[sec::kSecReturnData] = true;
        ns::Value result;
        std::vector<std::string> found;
        sec::OSStatus status = keychain.copyMatching(query, &result);
        if (status == sec::errSecItemNotFound) return found;
        EXPECT_EQ(status, sec::errSecSuccess);
        if (!result.array()) return found;
        for (const auto& item : *result.array()) {
            found.emplace_back(item.data() ? item.data()->chars() : "<not data>");
        }
        return found;
    }

    void addPassword(ns::Dictionary attributes, std::string_view data) {
        attributes[sec::kSecValueData] = bytes(data);
        ASSERT_EQ(keychain.add(genericPassword(std::move(attributes))), sec::errSecSuccess);
    }
};

}  // namespace sectest
