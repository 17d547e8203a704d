#include "platform/rt/HookChain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Chain = rt::HookChain<int(std::vector<std::string>&, int)>;

int terminal(std::vector<std::string>& log, int x) {
    log.push_back("terminal " + std::to_string(x));
    return x * 10;
}

TEST(HookChain, HooksRunInInstallOrderAroundTheTerminal) {
    Chain chain;
    EXPECT_TRUE(chain.install("first", [](auto& log, int x, const Chain::Next& next) {
        log.push_back("first before " + std::to_string(x));
        int r = next(log, x + 1);
        log.push_back("first after " + std::to_string(r));
        return r + 1;
    }));
    EXPECT_TRUE(chain.install("second", [](auto& log, int x, const Chain::Next& next) {
        log.push_back("second before " + std::to_string(x));
        int r = next(log, x);
        log.push_back("second after " + std::to_string(r));
        return r + 2;
    }));
    std::vector<std::string> log;
    EXPECT_EQ(chain.call(terminal, log, 1), 23);
    EXPECT_EQ(log, (std::vector<std::string>{"first before 1", "second before 2", "terminal 2",
                                             "second after 20", "first after 22"}));
}

TEST(HookChain, AHookThatDoesNotCallNextEndsTheCall) {
    Chain chain;
    chain.install("stopper", [](auto& log, int, const Chain::Next&) {
        log.push_back("stopper");
        return -1;
    });
    chain.install("after", [](auto& log, int x, const Chain::Next& next) {
        log.push_back("after");
        return next(log, x);
    });
    std::vector<std::string> log;
    EXPECT_EQ(chain.call(terminal, log, 5), -1);
    EXPECT_EQ(log, std::vector<std::string>{"stopper"});
}

TEST(HookChain, EachOwnerInstallsOnce) {
    Chain chain;
    EXPECT_TRUE(chain.install(
        "owner", [](auto& log, int x, const Chain::Next& next) { return next(log, x) + 1; }));
    EXPECT_FALSE(chain.install("owner", [](auto&, int, const Chain::Next&) { return 0; }));
    EXPECT_TRUE(chain.isInstalled("owner"));
    EXPECT_FALSE(chain.isInstalled("other"));
    EXPECT_EQ(chain.size(), 1u);
    std::vector<std::string> log;
    EXPECT_EQ(chain.call(terminal, log, 1), 11);
}

TEST(HookChain, WithoutTerminalTheAnswerIsTheDefault) {
    Chain chain;
    std::vector<std::string> log;
    EXPECT_EQ(chain.call(nullptr, log, 3), 0);
    rt::HookChain<void(int&)> voidChain;
    int seen = 0;
    voidChain.install("h", [](int& x, const auto& next) {
        ++x;
        next(x);
    });
    voidChain.call(nullptr, seen);
    EXPECT_EQ(seen, 1);
}

TEST(HookChain, NextKeptByAHookFinishesTheCallLater) {
    rt::HookChain<void(std::vector<std::string>&)> chain;
    std::function<void(std::vector<std::string>&)> saved;
    chain.install("deferring", [&saved](auto& log, const auto& next) {
        log.push_back("deferred");
        saved = next;
    });
    std::vector<std::string> log;
    chain.call([](auto& l) { l.push_back("terminal"); }, log);
    EXPECT_EQ(log, std::vector<std::string>{"deferred"});
    // A hook installed meanwhile does not join a call already under way.
    chain.install("late", [](auto& l, const auto& next) {
        l.push_back("late");
        next(l);
    });
    saved(log);
    EXPECT_EQ(log, (std::vector<std::string>{"deferred", "terminal"}));
}

TEST(HookChain, HooksMayInstallHooksWhileRunning) {
    rt::HookChain<int()> chain;
    chain.install("installer", [&chain](const auto& next) {
        chain.install("added", [](const auto& n) { return n() + 100; });
        return next() + 1;
    });
    EXPECT_EQ(chain.call([] { return 1; }), 2);
    EXPECT_EQ(chain.call([] { return 1; }), 102);
}

}  // namespace
