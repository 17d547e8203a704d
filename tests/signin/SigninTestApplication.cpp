// The sign-in tests run as one application, as the library does in the host: the signing team
// that it finds once per process and the keychain's access groups come from one bundle, the
// one the goldens name, whichever test comes first.
#include <gtest/gtest.h>

#include <optional>

#include "signin/DSKeychainUtil.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Golden.h"
#include "tests/support/KeychainDump.h"

namespace {

class SigninTestApplication : public testing::Environment {
public:
    void SetUp() override {
        // A child's body decides for itself which application it is.
        if (testsupport::isChildProcess()) return;
        bundle_.emplace();
        testsupport::ScopedKeychain keychain;
        ASSERT_TRUE(DSKeychainUtil::keychainTeamId());
    }
    void TearDown() override { bundle_.reset(); }

private:
    std::optional<testsupport::ScopedMainBundle> bundle_;
};

[[maybe_unused]] testing::Environment* const installed =
    testing::AddGlobalTestEnvironment(new SigninTestApplication);

}  // namespace
