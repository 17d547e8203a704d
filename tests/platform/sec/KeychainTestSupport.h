#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ns/Bundle.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/Value.h"
#include "platform/sec/AccessGroups.h"
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

// A provisioning profile as the platform ships one: the property list inside a signed envelope
// (bytes that are not text, NUL bytes among them, before and after it). Entries of `entitlements`
// and of `top` go into the list as given.
inline ns::Data profile(ns::Dictionary entitlements, ns::Dictionary top = {}) {
    top.insert_or_assign("Entitlements", std::move(entitlements));
    auto xml = ns::PropertyListSerialization::write(ns::Value(std::move(top)),
                                                    ns::PropertyListSerialization::Format::XML);
    EXPECT_TRUE(xml.ok());
    std::string bytes("\x30\x82\x1f\x00\x06\x09\xff envelope ", 17);
    bytes += xml.ok() ? std::string(xml->chars()) : std::string();
    bytes += std::string("\x00\xa0\x82 signature", 13);
    return ns::Data::fromString(bytes);
}

// The profile of an application of `team` that declares the shared groups.
inline ns::Data teamProfile(const std::string& team, const std::vector<std::string>& shared = {}) {
    ns::Array groups(shared.begin(), shared.end());
    return profile({{"keychain-access-groups", ns::Value(std::move(groups))}},
                   {{"TeamIdentifier", ns::Value(ns::Array{ns::Value(team)})}});
}

// A bundle folder under `parent`, named after the identifier: its Info.plist and, unless empty,
// its provisioning profile. Its path.
inline std::string writeBundle(const std::filesystem::path& parent, const std::string& identifier,
                               const ns::Data& profile = {}) {
    const auto path = parent / identifier;
    std::filesystem::create_directories(path);
    EXPECT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                    (path / "Info.plist").string(),
                    ns::Dictionary{{"CFBundleIdentifier", identifier}},
                    ns::PropertyListSerialization::Format::XML)
                    .ok());
    if (!profile.empty()) {
        std::ofstream(path / "embedded.mobileprovision", std::ios::binary) << profile.chars();
    }
    return path.string();
}

inline sec::AccessGroups groupsOf(const std::string& identifier, const ns::Data& profile = {}) {
    return sec::AccessGroups::ofApplication(identifier, profile);
}

// Gives back, when it goes, the process's application as it found it: the main bundle, the
// sandbox, $HYB_KEYCHAIN_DIR and the process keychain's folder. The keychain reads its access
// groups from the main bundle, so a test that plays several applications must not leave the
// last one behind for the tests after it, whichever way it ends.
class ScopedApplication {
public:
    ScopedApplication()
        : bundlePath_(ns::Bundle::mainBundle()->bundlePath()),
          sandboxRoot_(ns::Sandbox::isConfigured() ? ns::Sandbox::root() : std::string()) {
        if (const char* dir = std::getenv("HYB_KEYCHAIN_DIR")) keychainDir_ = dir;
    }
    ~ScopedApplication() {
        ns::Bundle::setMainBundlePath(bundlePath_);
        if (!sandboxRoot_.empty()) EXPECT_TRUE(ns::Sandbox::configure(sandboxRoot_).ok());
        if (keychainDir_) {
            ::setenv("HYB_KEYCHAIN_DIR", keychainDir_->c_str(), 1);
        } else {
            ::unsetenv("HYB_KEYCHAIN_DIR");
        }
        sec::Keychain::setDirectory({});
    }
    ScopedApplication(const ScopedApplication&) = delete;
    ScopedApplication& operator=(const ScopedApplication&) = delete;

private:
    std::string bundlePath_;
    std::string sandboxRoot_;
    std::optional<std::string> keychainDir_;
};

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
