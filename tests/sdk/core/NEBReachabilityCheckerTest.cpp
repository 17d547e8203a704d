#include "sdk/core/NEBReachabilityChecker.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/sdk/core/SdkCoreFixture.h"

namespace {

// A reachability service the test drives by hand.
struct FakeService {
    static inline int created = 0;
    static inline int released = 0;
    static inline bool scheduleFails = false;
    static inline NEBReachabilityCallback callback = nullptr;
    static inline void* context = nullptr;
    static inline int handle = 0;

    static void reset() {
        created = released = 0;
        scheduleFails = false;
        callback = nullptr;
        context = nullptr;
    }
    static void report(uint32_t flags) {
        ASSERT_TRUE(callback);
        callback(&handle, flags, context);
    }
};

const NEBReachabilityApi kFakeApi = {
    [](const char*) -> NEBReachabilityHandle {
        ++FakeService::created;
        return &FakeService::handle;
    },
    [](NEBReachabilityHandle, NEBReachabilityCallback callback, void* context) {
        FakeService::callback = callback;
        FakeService::context = context;
        return true;
    },
    [](NEBReachabilityHandle, dispatch::RunLoop&) { return !FakeService::scheduleFails; },
    [](NEBReachabilityHandle, dispatch::RunLoop&) { return true; },
    [](NEBReachabilityHandle) { ++FakeService::released; },
};

class Delegates : public NEBReachabilityDelegate, public NEBNetworkLoggerDelegate {
public:
    void reachability(NEBReachabilityChecker&, NEBReachabilityStatus status) override {
        statuses.push_back(status);
    }
    void nebNetwork_logWithLevel(NEBNetworkLogLevel, std::string_view message,
                                 const std::vector<ns::Value>& contexts) override {
        std::string line(message);
        for (const auto& c : contexts) line += " | " + c.description();
        lines.push_back(line);
    }
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message,
                                 const ns::Value& context) override {
        nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{context});
    }
    void nebNetwork_logWithLevel(NEBNetworkLogLevel level, std::string_view message) override {
        nebNetwork_logWithLevel(level, message, std::vector<ns::Value>{});
    }
    std::vector<NEBReachabilityStatus> statuses;
    std::vector<std::string> lines;
};

class NEBReachabilityCheckerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeService::reset();
        delegates_ = std::make_shared<Delegates>();
        checker_ = NEBReachabilityChecker::create(delegates_, delegates_, "example.invalid");
        ASSERT_TRUE(checker_);
        checker_->setReachabilityApi(&kFakeApi);
    }
    std::shared_ptr<Delegates> delegates_;
    std::unique_ptr<NEBReachabilityChecker> checker_;
};

struct FlagsCase {
    uint32_t flags;
    NEBReachabilityStatus status;
};

TEST(NEBReachabilityStatusTest, StatusFromFlags) {
    using S = NEBReachabilityStatus;
    const uint32_t reachable = 2, required = 4, onTraffic = 8, intervention = 16, onDemand = 32,
                   cellular = 0x40000;
    for (const auto& c :
         {FlagsCase{0, S::NotReachable}, FlagsCase{reachable, S::ViaWifi},
          FlagsCase{reachable | cellular, S::ViaCellular},
          FlagsCase{reachable | required, S::NotReachable},
          FlagsCase{reachable | required | onDemand, S::ViaWifi},
          FlagsCase{reachable | required | onTraffic, S::ViaWifi},
          FlagsCase{reachable | required | onDemand | intervention, S::NotReachable},
          FlagsCase{required | onDemand | cellular, S::NotReachable}}) {
        EXPECT_EQ(NEBReachabilityChecker::statusForFlags(c.flags), c.status) << c.flags;
    }
}

TEST_F(NEBReachabilityCheckerTest, StartsOnceAndReportsOnlyChanges) {
    EXPECT_TRUE(checker_->start());
    EXPECT_TRUE(checker_->start());
    EXPECT_EQ(FakeService::created, 1);
    EXPECT_EQ(checker_->reachabilityStatus(), NEBReachabilityStatus::Unknown);

    FakeService::report(2);
    FakeService::report(2 | 4 | 32);  // still connected: not reported again
    FakeService::report(0x40000 | 2);
    EXPECT_EQ(delegates_->statuses,
              (std::vector<NEBReachabilityStatus>{NEBReachabilityStatus::ViaWifi,
                                                  NEBReachabilityStatus::ViaCellular}));
    EXPECT_EQ(delegates_->lines.back(), "Network status has changed. Code, status | 3 | Connected");

    checker_->setReachabilityApi(nullptr);  // refused while running
    EXPECT_EQ(checker_->reachabilityApi(), &kFakeApi);
    EXPECT_EQ(delegates_->lines.back(),
              "Cannot change reachability API while reachability is running. Call stop first.");

    checker_->stop();
    EXPECT_FALSE(checker_->isActive());
    EXPECT_EQ(checker_->reachabilityStatus(), NEBReachabilityStatus::Unknown);
    EXPECT_EQ(FakeService::released, 1);
}

TEST_F(NEBReachabilityCheckerTest, FailedSchedulingReleasesTheHandle) {
    FakeService::scheduleFails = true;
    EXPECT_FALSE(checker_->start());
    EXPECT_FALSE(checker_->isActive());
    EXPECT_EQ(FakeService::released, 1);
    EXPECT_EQ(delegates_->lines.back(), "Failed to start reachability handle");
}

TEST(NEBReachabilityCheckerCreateTest, EmptyHostIsRefused) {
    auto delegates = std::make_shared<Delegates>();
    EXPECT_FALSE(NEBReachabilityChecker::create(delegates, delegates, ""));
    EXPECT_EQ(delegates->lines, std::vector<std::string>{"Invalid host specified"});
}

}  // namespace
