#include "platform/dispatch/RunLoop.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/ns/Exception.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using dispatch::seconds;

class RunLoopTest : public testsupport::ManualRunLoop {
protected:
    // Records what ran, in order.
    dispatch::Task note(std::string what) {
        return [this, what] { ran.push_back(what); };
    }
    std::vector<std::string> ran;
};

class Pipe {
public:
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeWrite();
        ::close(read);
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
    void put(const std::string& s) {
        EXPECT_EQ(::write(write, s.data(), s.size()), ssize_t(s.size()));
    }
    std::string drain() {
        std::string out;
        char buf[256];
        for (ssize_t n; (n = ::read(read, buf, sizeof buf)) > 0;) out.append(buf, n);
        return out;
    }
    int read = -1;
    int write = -1;
};

TEST_F(RunLoopTest, WorkRunsInDeadlineOrderThenPostingOrder) {
    loop().postAfter(seconds(1), note("A at 1s"));
    loop().postAfter(seconds(1), note("B at 1s"));
    loop().postAfter(seconds(0.5), note("C at 0.5s"));
    loop().post(note("D now"));
    loop().postAfter(seconds(-3), note("E negative delay"));
    loop().advanceBy(seconds(1));
    EXPECT_EQ(ran, (std::vector<std::string>{"D now", "E negative delay", "C at 0.5s", "A at 1s",
                                             "B at 1s"}));
}

TEST_F(RunLoopTest, TimersWaitForTheirDeadline) {
    loop().postAfter(seconds(2), note("late"));
    loop().runUntilIdle();
    clock().advanceSeconds(1.999);
    loop().runUntilIdle();
    EXPECT_TRUE(ran.empty());
    loop().advanceBy(seconds(0.001));
    EXPECT_EQ(ran, std::vector<std::string>{"late"});
}

TEST_F(RunLoopTest, TimerCancelledByAnEarlierCallbackOfTheSameTurnNeverRuns) {
    dispatch::TimerId victim = 0;
    bool cancelled = false;
    loop().postAfter(seconds(1), [&] {
        ran.push_back("canceller");
        cancelled = loop().cancel(victim);
    });
    victim = loop().postAfter(seconds(1), note("victim"));
    loop().advanceBy(seconds(5));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(ran, std::vector<std::string>{"canceller"});
    EXPECT_FALSE(loop().cancel(victim));
}

TEST_F(RunLoopTest, RepeatingTimerFiresOncePerIntervalUntilCancelled) {
    int fired = 0;
    auto id = loop().scheduleRepeating(seconds(1), [&] { ++fired; });
    loop().advanceBy(seconds(5));
    EXPECT_EQ(fired, 5);
    // A late turn fires once and keeps the schedule on its grid.
    clock().advanceSeconds(3.5);
    loop().runUntilIdle();
    EXPECT_EQ(fired, 6);
    loop().advanceBy(seconds(0.5));
    EXPECT_EQ(fired, 7);
    EXPECT_TRUE(loop().cancel(id));
    loop().advanceBy(seconds(10));
    EXPECT_EQ(fired, 7);
}

TEST_F(RunLoopTest, RepeatingTimerCanCancelItselfFromItsCallback) {
    int fired = 0;
    dispatch::TimerId id = 0;
    id = loop().scheduleRepeating(seconds(0.25), [&] {
        if (++fired == 3) loop().cancel(id);
    });
    loop().advanceBy(seconds(10));
    EXPECT_EQ(fired, 3);
}

TEST_F(RunLoopTest, DelayedCallsAreCancelledByTargetAndOperation) {
    int client = 0, other = 0;
    loop().performAfter(&client, "ping", seconds(30), note("client ping"));
    loop().performAfter(&client, "timeout", seconds(20), note("client timeout"));
    loop().performAfter(&other, "ping", seconds(30), note("other ping"));
    loop().postAfter(seconds(30), note("plain timer"));

    EXPECT_EQ(loop().cancelPerforms(&client, "ping"), 1u);
    EXPECT_EQ(loop().cancelPerforms(nullptr), 0u);  // plain timers have no target
    // Replacing a pending call: cancel, then schedule anew.
    loop().cancelPerforms(&client, "timeout");
    loop().performAfter(&client, "timeout", seconds(25), note("client timeout again"));
    loop().advanceBy(seconds(30));
    EXPECT_EQ(ran, (std::vector<std::string>{"client timeout again", "other ping", "plain timer"}));

    ran.clear();
    loop().performAfter(&client, "a", seconds(1), note("a"));
    loop().performAfter(&client, "b", seconds(1), note("b"));
    loop().performAfter(&other, "a", seconds(1), note("other a"));
    EXPECT_EQ(loop().cancelPerforms(&client), 2u);
    loop().advanceBy(seconds(1));
    EXPECT_EQ(ran, std::vector<std::string>{"other a"});
}

TEST_F(RunLoopTest, WorkPostedDuringATurnRunsOnTheNextTurn) {
    loop().post([&] {
        ran.push_back("first");
        loop().post(note("posted from first"));
        loop().postAfter(seconds(0), note("zero delay from first"));
    });
    loop().post(note("second"));
    loop().dispatchReady();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    loop().dispatchReady();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "posted from first",
                                             "zero delay from first"}));
}

TEST_F(RunLoopTest, EndOfTurnWorkRunsAfterTheTurnsTasks) {
    loop().post([&] {
        ran.push_back("task 1");
        loop().postAtEndOfTurn([&] {
            ran.push_back("end of turn 1");
            loop().postAtEndOfTurn(note("end of turn 2"));
        });
        loop().post(note("task of turn 2"));
    });
    loop().post(note("task 2"));
    loop().dispatchReady();
    EXPECT_EQ(ran, (std::vector<std::string>{"task 1", "task 2", "end of turn 1"}));
    EXPECT_TRUE(loop().hasReadyWork());
    loop().dispatchReady();
    EXPECT_EQ(ran.back(), "end of turn 2");
    EXPECT_EQ(ran[3], "task of turn 2");

    // Outside a turn: at the end of the next one.
    ran.clear();
    loop().postAtEndOfTurn(note("end"));
    loop().post(note("task"));
    loop().runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"task", "end"}));
}

TEST_F(RunLoopTest, ExceptionFromATaskLeavesTheRestScheduled) {
    loop().post([] { throw std::runtime_error("boom"); });
    loop().post(note("after"));
    loop().postAtEndOfTurn(note("end"));
    EXPECT_THROW(loop().runUntilIdle(), std::runtime_error);
    EXPECT_TRUE(ran.empty());
    loop().runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"after", "end"}));
}

TEST_F(RunLoopTest, ResetDropsEverythingPending) {
    loop().post(note("task"));
    loop().postAfter(seconds(1), note("timer"));
    loop().scheduleRepeating(seconds(1), note("repeating"));
    loop().postAtEndOfTurn(note("end"));
    Pipe pipe;
    loop().addSource(pipe.read, dispatch::kFdReadable, [&](unsigned) { ran.push_back("fd"); });
    pipe.put("x");
    loop().reset();
    loop().advanceBy(seconds(5));
    EXPECT_TRUE(ran.empty());
    EXPECT_FALSE(loop().nextDeadline());
}

TEST_F(RunLoopTest, SourceSeesAPipeBecomeReadableAndHangUp) {
    Pipe pipe;
    std::string got;
    std::vector<unsigned> events;
    dispatch::SourceId id = loop().addSource(pipe.read, dispatch::kFdReadable, [&](unsigned e) {
        events.push_back(e);
        got += pipe.drain();
        if (e & dispatch::kFdHangUp) loop().removeSource(id);
    });
    loop().runUntilIdle();
    EXPECT_TRUE(events.empty());

    pipe.put("hello");
    loop().runUntilIdle();
    EXPECT_EQ(got, "hello");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], unsigned{dispatch::kFdReadable});

    pipe.closeWrite();
    loop().runUntilIdle();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[1] & dispatch::kFdHangUp);
    EXPECT_FALSE(loop().removeSource(id));
}

TEST_F(RunLoopTest, SourceRemovedByAnotherCallbackOfTheSameTurnIsNotCalled) {
    Pipe pipe;
    int firstCalls = 0, secondCalls = 0;
    dispatch::SourceId second = 0;
    dispatch::SourceId first = loop().addSource(pipe.read, dispatch::kFdReadable, [&](unsigned) {
        ++firstCalls;
        loop().removeSource(second);
        pipe.drain();
    });
    second = loop().addSource(pipe.read, dispatch::kFdReadable, [&](unsigned) { ++secondCalls; });
    // Write interest alone does not keep runUntilIdle going.
    auto writable = loop().addSource(pipe.write, dispatch::kFdWritable, [](unsigned) {});
    EXPECT_EQ(loop().watchedFds().size(), 2u);
    pipe.put("x");
    loop().runUntilIdle();
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    loop().removeSource(first);
    loop().removeSource(writable);
    EXPECT_TRUE(loop().watchedFds().empty());
}

TEST_F(RunLoopTest, RunReturnsAfterStopFromATask) {
    loop().post(note("before"));
    loop().post([&] { loop().stop(); });
    loop().post(note("same turn as stop"));
    loop().run();
    EXPECT_EQ(ran, (std::vector<std::string>{"before", "same turn as stop"}));
}

TEST_F(RunLoopTest, RunWaitsForSourcesAndStopFromAnotherThread) {
    Pipe pipe;
    std::string got;
    auto id = loop().addSource(pipe.read, dispatch::kFdReadable, [&](unsigned) {
        got += pipe.drain();
        // Another thread stops the loop once the data has arrived.
        dispatch::Queue::global().async([] { dispatch::RunLoop::main().stop(); });
    });
    dispatch::Queue::global().async([&] { pipe.put("ping"); });
    loop().run();
    EXPECT_EQ(got, "ping");
    loop().removeSource(id);
}

TEST_F(RunLoopTest, DrivingTheLoopOffTheMainThreadOrWithoutManualClockThrows) {
    std::string name;
    std::thread([&] {
        EXPECT_FALSE(dispatch::RunLoop::isMainThread());
        try {
            dispatch::RunLoop::main().runUntilIdle();
        } catch (const ns::Exception& e) {
            name = e.name();
        }
    }).join();
    EXPECT_EQ(name, ns::kInternalInconsistencyException);
    EXPECT_TRUE(dispatch::RunLoop::isMainThread());

    dispatch::Clock::setCurrent(nullptr);
    EXPECT_THROW(loop().advanceBy(seconds(1)), ns::Exception);
}

}  // namespace
