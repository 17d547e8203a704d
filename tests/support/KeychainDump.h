#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/ns/Value.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// Every item of the process's keychain as a golden shows it: one block per item, its class,
// then each attribute (sorted by name) with its type and value, data as text when printable
// and as a hex dump otherwise. Items are sorted by class, service, account and application
// tag, so that the dump shows what is stored, not the order in which a store happened to
// write it.
//
// `describeData` may replace how one attribute's data is shown (key material that changes
// from run to run, an archive decoded for reading); it is given the attribute name and the
// item, and answers nothing to keep the default.
using KeychainDataDescriber = std::function<std::optional<std::string>(
    const std::string& attribute, const ns::Data& data, const ns::Dictionary& item)>;
// `include` may leave items out (those a process writes once, whichever test comes first).
using KeychainItemFilter = std::function<bool(const ns::Dictionary& item)>;
std::string dumpKeychain(const KeychainDataDescriber& describeData = nullptr,
                         const KeychainItemFilter& include = nullptr);

// The process's keychain in a directory of its own (a fresh temporary one unless given) while
// it lives; afterwards the keychain of the scope it was made in, or the default one. Scopes
// nest, on the test's thread.
class ScopedKeychain {
public:
    explicit ScopedKeychain(std::optional<std::filesystem::path> directory = std::nullopt);
    ~ScopedKeychain();
    ScopedKeychain(const ScopedKeychain&) = delete;
    ScopedKeychain& operator=(const ScopedKeychain&) = delete;

private:
    std::optional<TempDir> own_;
    std::filesystem::path directory_;
    ScopedKeychain* enclosing_;
};

}  // namespace testsupport
