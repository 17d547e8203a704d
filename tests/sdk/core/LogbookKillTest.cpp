// A process killed while it appends diagnostic events leaves queue files that hold only whole
// records, plus at most one cut-off record at the end, which the reader leaves out.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "sdk/core/NEBLogbookAccountData.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "tests/sdk/core/AppFixture.h"
#include "tests/sdk/core/SdkCoreFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

namespace fs = std::filesystem;

// Event i carries i's decimal text and a payload whose length varies from a few bytes to
// several hundred kilobytes, so that some kills land inside a write.
NEB_LOGBOOK::LogEvent numberedEvent(int i) {
    NEB_LOGBOOK::LogEvent event;
    event.set_tag(std::to_string(i));
    size_t length = (static_cast<size_t>(i) * 104729u) % (384u << 10);
    event.set_source_extension(std::string(length, static_cast<char>('a' + i % 26)));
    return event;
}

size_t framedSize(int i) {
    auto body = numberedEvent(i).ByteSizeLong();
    size_t prefix = 1;
    for (auto n = body; n >= 128; n >>= 7) ++prefix;
    return prefix + body;
}

// Appends numbered events to the queue in args[0] for ever, telling the parent through the pipe
// before each one.
[[noreturn]] void appendUntilKilled(int signalFd, const std::vector<std::string>& args) {
    NEBLogbookAccountData account(args.at(0), uint64_t{1} << 40);
    auto writer = account.writerForLogSource(137);
    if (!writer || !writer->isOpen()) ::_exit(3);
    for (int i = 0;; ++i) {
        char go = 'x';
        if (::write(signalFd, &go, 1) != 1) ::_exit(2);
        if (!writer->writeLogEvent(numberedEvent(i))) ::_exit(3);
    }
}

const testsupport::ChildRegistration kAppender("LogbookKillTest.appendUntilKilled",
                                               &appendUntilKilled);

using LogbookKillTest = sdktest::SdkCoreTest;

TEST_F(LogbookKillTest, KilledAppendsLeaveOnlyWholeRecords) {
    const std::string directory = dir_.str() + "/killed/greenhouse";
    constexpr int kRounds = 24;
    for (int round = 0; round < kRounds; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t child =
            testsupport::startChild("LogbookKillTest.appendUntilKilled", fds[1], {directory});
        ASSERT_GT(child, 0);
        ::close(fds[1]);
        // Let the child start a different number of appends each round, then kill it while
        // the last one is under way.
        for (int started = 0; started < 1 + round % 6; ++started) {
            char go;
            ASSERT_EQ(::read(fds[0], &go, 1), 1);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "round " << round << " status " << status;
        ::close(fds[0]);
    }

    size_t files = 0, records = 0, tails = 0;
    for (const auto& entry : fs::directory_iterator(directory + "/137")) {
        ++files;
        auto bytes = sdktest::readFileBytes(entry.path());
        auto whole = NEBLogbookFileReader::wholeRecordsLength(bytes);
        auto bodies = NEBLogbookFileReader::records(bytes);
        for (size_t i = 0; i < bodies.size(); ++i) {
            NEB_LOGBOOK::LogEvent event;
            ASSERT_TRUE(event.ParseFromArray(bodies[i].data(), static_cast<int>(bodies[i].size())));
            EXPECT_EQ(event.SerializeAsString(),
                      numberedEvent(static_cast<int>(i)).SerializeAsString())
                << entry.path();
        }
        records += bodies.size();
        if (whole < bytes.size()) {
            ++tails;
            EXPECT_LT(bytes.size() - whole, framedSize(static_cast<int>(bodies.size())))
                << "more than one record's worth after the whole ones in " << entry.path();
        }
    }
    EXPECT_EQ(files, static_cast<size_t>(kRounds));  // one file each, names never shared
    EXPECT_GT(records, 0u);
    RecordProperty("tornTails", static_cast<int>(tails));
}

}  // namespace
