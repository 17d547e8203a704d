#include "plugins/device_storage/HYBFilesystemURL.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/av/PhotoLibrary.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionConfiguration.h"
#include "plugins/device_storage/HYBFilesystemURLProtocol.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/support/LogCapture.h"

namespace {

struct ParseCase {
    const char* text;
    std::optional<std::string> name;
    std::optional<std::string> fullPath;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class HYBFilesystemURLParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(HYBFilesystemURLParseTest, NameAndFullPath) {
    const ParseCase& c = GetParam();
    HYBFilesystemURL url(c.text);
    EXPECT_EQ(url.fileSystemName(), c.name);
    EXPECT_EQ(url.fullPath(), c.fullPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HYBFilesystemURLParseTest,
    ::testing::Values(ParseCase{"hybfile://localhost/persistent/a/b.txt", "persistent", "/a/b.txt"},
                      ParseCase{"hybfile://localhost/persistent/", "persistent", ""},
                      ParseCase{"hybfile://localhost/persistent", "persistent", ""},
                      // The path is decoded, the query is kept as written.
                      ParseCase{"hybfile://localhost/persistent/a%20b.txt?x=%20", "persistent",
                                "/a b.txt?x=%20"},
                      ParseCase{"hybfile://localhost/", std::nullopt, ""},
                      ParseCase{"hybfile://localhost", std::nullopt, ""},
                      ParseCase{"hybfile://otherhost/persistent/a", std::nullopt, std::nullopt},
                      ParseCase{"HYBFILE://localhost/persistent/a", std::nullopt, std::nullopt},
                      ParseCase{"file:///tmp/a", std::nullopt, std::nullopt},
                      ParseCase{"assets-library://asset/asset.JPG?id=1&ext=JPG", "assets-library",
                                "/asset/asset.JPG?id=1&ext=JPG"},
                      ParseCase{"assets-library:", "assets-library", ""},
                      ParseCase{"not a url", std::nullopt, std::nullopt},
                      ParseCase{"", std::nullopt, std::nullopt}));

TEST(HYBFilesystemURLTest, InvalidTextGivesNoURL) {
    HYBFilesystemURL url("hybfile://localhost/temporary/a b");
    EXPECT_FALSE(url.url());
    EXPECT_FALSE(url.fileSystemName());
}

TEST(HYBFilesystemURLTest, AbsoluteURLIsNotEscaped) {
    HYBFilesystemURL url("hybfile://localhost/temporary/a%20b.txt");
    EXPECT_EQ(url.absoluteURL(), "hybfile://localhost/temporary/a b.txt");
}

// --- The URL protocol ------------------------------------------------------------------------

class HYBFilesystemURLProtocolTest : public filetest::FileFixture {
protected:
    struct Outcome {
        std::optional<ns::Data> data;
        std::shared_ptr<const net::URLResponse> response;
        std::optional<ns::Error> error;
    };

    Outcome load(const std::string& text) {
        auto session = net::URLSession::sessionWithConfiguration(
            net::URLSessionConfiguration::defaultSessionConfiguration(), nullptr,
            dispatch::Queue::main().shared_from_this());
        auto outcome = std::make_shared<Outcome>();
        session
            ->dataTask(net::URLRequest(*ns::URL::parse(text)),
                       [outcome](std::optional<ns::Data> data,
                                 std::shared_ptr<const net::URLResponse> response,
                                 std::optional<ns::Error> error) {
                           outcome->data = std::move(data);
                           outcome->response = std::move(response);
                           outcome->error = std::move(error);
                       })
            ->resume();
        loop().runUntilIdle();
        session->finishTasksAndInvalidate();
        loop().runUntilIdle();
        return *outcome;
    }
};

TEST_F(HYBFilesystemURLProtocolTest, PresentFileIsServedWhole) {
    start();
    writeFile(documents() + "/page.html", "<p>hello</p>");
    auto outcome = load(url("persistent", "/page.html"));
    ASSERT_TRUE(outcome.response && outcome.response->http());
    const auto* http = outcome.response->http();
    EXPECT_EQ(http->statusCode(), 200);
    EXPECT_EQ(http->HTTPVersion(), "HTTP/1.1");
    EXPECT_EQ(http->valueForHTTPHeaderField("Cache-Control"), "no-cache");
    EXPECT_EQ(http->valueForHTTPHeaderField("Content-Type"), "text/html");
    ASSERT_TRUE(outcome.data);
    EXPECT_EQ(outcome.data->chars(), "<p>hello</p>");
}

// Past the length one page read may answer, the URL still serves the whole file, chunk by
// chunk, while the page's read says why it refuses.
TEST_F(HYBFilesystemURLProtocolTest, FilesOfAnySizeAreStreamed) {
    start();
    const std::string path = documents() + "/big.bin";
    const uint64_t size = HYBFileSystem::kDefaultMaxReadLength + 3;
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 3));
        out << "end";
    }
    // Downloaded to a file without the session's size limit, so that only the protocol decides.
    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setMaximumResponseSize(0);
    auto session = net::URLSession::sessionWithConfiguration(
        configuration, nullptr, dispatch::Queue::main().shared_from_this());
    int status = 0;
    uint64_t received = 0;
    std::string tail;
    session
        ->downloadTask(
            net::URLRequest(*ns::URL::parse(url("persistent", "/big.bin"))),
            [&](std::optional<ns::URL> location, std::shared_ptr<const net::URLResponse> response,
                std::optional<ns::Error> error) {
                ASSERT_FALSE(error) << error->localizedDescription();
                ASSERT_TRUE(location && response && response->http());
                status = response->http()->statusCode();
                received = std::filesystem::file_size(location->path());
                std::ifstream in(location->path(), std::ios::binary);
                in.seekg(-4, std::ios::end);
                tail.resize(4);
                in.read(tail.data(), 4);
            })
        ->resume();
    loop().runUntilIdle();
    session->finishTasksAndInvalidate();
    loop().runUntilIdle();
    EXPECT_EQ(status, 200);
    EXPECT_EQ(received, size);
    EXPECT_EQ(tail, std::string("\0end", 4));

    testsupport::LogCapture log;
    EXPECT_TRUE(filetest::isIOError(
        call("readAsArrayBuffer", {url("persistent", "/big.bin"), 0, -1}), NOT_READABLE_ERR));
    EXPECT_TRUE(log.contains("File too large to read in one piece"));
}

TEST_F(HYBFilesystemURLProtocolTest, MissingFileOrFileSystemIs404WithoutBody) {
    start();
    for (const std::string& text : {url("persistent", "/missing.txt"), url("nosuchfs", "/a.txt"),
                                    url("persistent", "/../../../../etc/hostname")}) {
        auto outcome = load(text);
        ASSERT_TRUE(outcome.response && outcome.response->http()) << text;
        const auto* http = outcome.response->http();
        EXPECT_EQ(http->statusCode(), 404) << text;
        EXPECT_EQ(http->valueForHTTPHeaderField("Cache-Control"), "no-cache");
        EXPECT_FALSE(http->valueForHTTPHeaderField("Content-Type"));
        EXPECT_TRUE(!outcome.data || outcome.data->empty());
    }
}

TEST_F(HYBFilesystemURLProtocolTest, PhotoIsServedThroughTheLibrary) {
    start();
    auto asset = av::PhotoLibrary::shared().addPhoto(ns::Data::fromString("JPEGDATA"), "IMG_1.JPG");
    ASSERT_TRUE(asset);
    std::string assetURL = (*asset)->assetURL().absoluteString();
    auto outcome = load("hybfile://localhost/assets-library" + assetURL.substr(16));
    ASSERT_TRUE(outcome.response && outcome.response->http());
    EXPECT_EQ(outcome.response->http()->statusCode(), 200);
    EXPECT_EQ(outcome.response->http()->valueForHTTPHeaderField("Content-Type"), "image/jpeg");
    EXPECT_EQ(outcome.data->chars(), "JPEGDATA");
}

TEST(HYBFilesystemURLProtocolClassTest, AnswersHybfileOnlyAndComparesResourceSpecifiers) {
    auto request = [](const char* text) { return net::URLRequest(*ns::URL::parse(text)); };
    EXPECT_TRUE(HYBFilesystemURLProtocol::canInitWithRequest(request("hybfile://localhost/a/b")));
    EXPECT_FALSE(HYBFilesystemURLProtocol::canInitWithRequest(request("file:///a/b")));
    EXPECT_TRUE(HYBFilesystemURLProtocol::requestIsCacheEquivalent(
        request("hybfile://localhost/t/a"), request("HYBFILE://localhost/t/a")));
    EXPECT_FALSE(HYBFilesystemURLProtocol::requestIsCacheEquivalent(
        request("hybfile://localhost/t/a"), request("hybfile://localhost/t/b")));
}

}  // namespace
