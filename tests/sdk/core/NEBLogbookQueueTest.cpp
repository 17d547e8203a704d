// The on-disk queue of diagnostic events: files, framing, names and limits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sdk/core/NEBCoreTime.h"
#include "sdk/core/NEBLogbookAccountData.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "sdk/core/NEBLogbookWriter.h"
#include "tests/sdk/core/SdkCoreFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

NEB_LOGBOOK::LogEvent eventWith(const std::string& payload) {
    NEB_LOGBOOK::LogEvent event;
    event.set_event_time_ms(1700000000000);
    event.set_source_extension(payload);
    return event;
}

std::vector<fs::path> filesIn(const fs::path& directory) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class NEBLogbookQueueTest : public sdktest::SdkCoreTest {
protected:
    std::string root() const { return dir_.str() + "/queue"; }
};

TEST_F(NEBLogbookQueueTest, EventsOfOneSourceShareOneFileOfFramedRecords) {
    NEBLogbookAccountData account(root() + "/greenhouse", 1 << 24);
    auto writer = account.writerForLogSource(137);
    ASSERT_TRUE(writer && writer->isOpen());
    ASSERT_TRUE(writer->writeLogEvent(eventWith("one")));
    ASSERT_TRUE(account.writerForLogSource(137)->writeLogEvent(eventWith("two")));
    account.flushWriters();

    auto files = filesIn(root() + "/greenhouse/137");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string(), std::to_string(NEBCoreTimeMillis()));
    struct stat info {};
    ASSERT_EQ(::stat(files[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    auto bytes = readAll(files[0]);
    EXPECT_EQ(writer->numBytes(), bytes.size());
    auto records = NEBLogbookFileReader::records(bytes);
    ASSERT_EQ(records.size(), 2u);
    NEB_LOGBOOK::LogEvent second;
    ASSERT_TRUE(second.ParseFromArray(records[1].data(), static_cast<int>(records[1].size())));
    EXPECT_EQ(second.source_extension(), "two");
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), records[0].size());
}

TEST_F(NEBLogbookQueueTest, FilesStartedInOneMillisecondGetDistinctNames) {
    NEBLogbookAccountData account(root() + "/a", 1 << 24);
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        auto writer = account.writerForLogSource(1);
        ASSERT_TRUE(writer->isOpen());
        ASSERT_TRUE(writer->writeLogEvent(eventWith(std::to_string(i))));
        paths.push_back(writer->path());
        account.removeWriterForLogSource(1);
    }
    auto base = root() + "/a/1/" + std::to_string(NEBCoreTimeMillis());
    EXPECT_EQ(paths, (std::vector<std::string>{base, base + "-1", base + "-2"}));
    EXPECT_FALSE(logs().contains("I-COR000016"));
}

TEST_F(NEBLogbookQueueTest, AccountNamesStayInsideTheQueue) {
    EXPECT_EQ(NEBLogbookAccountData::directoryNameForAccount("greenhouse"), "greenhouse");
    EXPECT_EQ(NEBLogbookAccountData::directoryNameForAccount("../up"), "%2E%2E%2Fup");
    EXPECT_EQ(NEBLogbookAccountData::directoryNameForAccount(".."), "%2E%2E");
    EXPECT_EQ(NEBLogbookAccountData::directoryNameForAccount("a b/é"), "a%20b%2F%C3%A9");
}

TEST_F(NEBLogbookQueueTest, OldestFilesGoWhenTheQueuePassesItsLimit) {
    NEBLogbookAccountData account(root() + "/a", 250);
    std::string payload(90, 'x');
    for (int i = 0; i < 5; ++i) {
        auto writer = account.writerForLogSource(1);
        ASSERT_TRUE(writer->writeLogEvent(eventWith(payload + std::to_string(i))));
        account.flushWriters();
        clock().advanceSeconds(1);
    }
    account.writerForLogSource(1);  // a new file trims the others
    auto files = filesIn(root() + "/a/1");
    ASSERT_EQ(files.size(), 3u);  // two full files fit, plus the new empty one
    auto bytes = readAll(files[0]);
    auto records = NEBLogbookFileReader::records(bytes);
    ASSERT_EQ(records.size(), 1u);
    NEB_LOGBOOK::LogEvent event;
    ASSERT_TRUE(event.ParseFromArray(records[0].data(), static_cast<int>(records[0].size())));
    EXPECT_EQ(event.source_extension(), payload + "3");
}

TEST_F(NEBLogbookQueueTest, UnwritableDirectoryIsLoggedAndWritesFail) {
    logs_.expect("[Nebula/Core][I-COR000015] Failed to create directory: ");
    std::ofstream(dir_.str() + "/blocker") << "file";
    NEBLogbookWriter writer(dir_.str() + "/blocker/137/1");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(writer.writeLogEvent(eventWith("x")));
    EXPECT_TRUE(logs().contains("[Nebula/Core][I-COR000015] Failed to create directory: "));
}

// The child of ShortWriteIsCutBackToTheLastWholeRecord: three writes to the queue file args[0],
// the second under a file-size limit; the exit status says which did not go as they should.
[[noreturn]] void writeThroughAFileSizeLimit(int, const std::vector<std::string>& args) {
    // A file-size limit makes the kernel write only part of the second record.
    std::signal(SIGXFSZ, SIG_IGN);
    NEBLogbookWriter writer(args.at(0));
    bool first = writer.writeLogEvent(eventWith(std::string(40, 'a')));
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit{60, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    bool second = writer.writeLogEvent(eventWith(std::string(40, 'b')));
    ::setrlimit(RLIMIT_FSIZE, &old);
    bool third = writer.writeLogEvent(eventWith(std::string(4, 'c')));
    ::_exit((first ? 0 : 1) | (second ? 2 : 0) | (third ? 0 : 4));
}
const testsupport::ChildRegistration kLimitedWriter(
    "NEBLogbookQueueTest.writeThroughAFileSizeLimit", &writeThroughAFileSizeLimit);

TEST_F(NEBLogbookQueueTest, ShortWriteIsCutBackToTheLastWholeRecord) {
    auto path = dir_.str() + "/q/1/1";
    pid_t child =
        testsupport::startChild("NEBLogbookQueueTest.writeThroughAFileSizeLimit", -1, {path});
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    auto bytes = readAll(path);
    EXPECT_EQ(NEBLogbookFileReader::wholeRecordsLength(bytes), bytes.size());
    EXPECT_EQ(NEBLogbookFileReader::records(bytes).size(), 2u);
}

struct FramingCase {
    const char* name;
    std::string bytes;
    size_t whole;
    size_t records;
};

class NEBLogbookFramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(NEBLogbookFramingTest, OnlyWholeRecordsAreRead) {
    const auto& c = GetParam();
    EXPECT_EQ(NEBLogbookFileReader::wholeRecordsLength(c.bytes), c.whole);
    EXPECT_EQ(NEBLogbookFileReader::records(c.bytes).size(), c.records);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NEBLogbookFramingTest,
    ::testing::Values(FramingCase{"Empty", "", 0, 0},
                      FramingCase{"TwoWhole",
                                  std::string("\x01"
                                              "a"
                                              "\x02"
                                              "bc"),
                                  5, 2},
                      FramingCase{"EmptyRecord", std::string("\x00", 1), 1, 1},
                      FramingCase{"TornBody",
                                  std::string("\x01"
                                              "a"
                                              "\x05"
                                              "bc"),
                                  2, 1},
                      FramingCase{"TornLength",
                                  std::string("\x01"
                                              "a"
                                              "\x80"),
                                  2, 1},
                      FramingCase{"TwoByteLength", std::string("\x80\x01") + std::string(128, 'z'),
                                  130, 1},
                      FramingCase{"HugeLength",
                                  std::string("\xff\xff\xff\xff\x0f"
                                              "abc"),
                                  0, 0},
                      FramingCase{"OverlongVarint", std::string(11, '\xff'), 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
