#include "bridge/HYBURLSchemeHandler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ns/Sandbox.h"
#include "platform/wk/URLSchemeTask.h"
#include "tests/bridge/HostFixture.h"

namespace {

using Fetch = std::shared_ptr<const wk::FakeEngine::Fetch>;

class SchemeHandlerTest : public hosttest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        writeConfig(R"(<preference name="scheme" value="app"/>)");
        writeFile("www/css/app.css", "body{}");
        writeFile("www/movie.MP4", std::string(1000, 'm'));
        writeFile("secret.txt", "outside www");
        start();
    }

    Fetch fetch(const std::string& text) {
        auto url = ns::URL::parse(text);
        EXPECT_TRUE(url) << text;
        auto result = page().fetch(*url);
        loop().runUntilIdle();
        return result;
    }
    Fetch fetchPath(const std::string& path) { return fetch("app://localhost" + path); }

    static std::optional<int> status(const Fetch& f) {
        if (!f->response || !f->response->http()) return std::nullopt;
        return f->response->http()->statusCode();
    }
    static std::optional<std::string> header(const Fetch& f, const char* name) {
        if (!f->response || !f->response->http()) return std::nullopt;
        return f->response->http()->valueForHTTPHeaderField(name);
    }
};

TEST_F(SchemeHandlerTest, ServesBundleFilesWithTheirTypeAndNoCaching) {
    auto css = fetchPath("/css/app.css");
    ASSERT_TRUE(css->finished);
    EXPECT_EQ(status(css), 200);
    EXPECT_EQ(header(css, "Content-Type"), "text/css");
    EXPECT_EQ(header(css, "Cache-Control"), "no-cache");
    EXPECT_EQ(css->body.chars(), "body{}");
    ASSERT_TRUE(css->response->http());
    EXPECT_EQ(css->response->http()->allHeaderFields().size(), 2u);

    auto missing = fetchPath("/js/missing.js");
    ASSERT_TRUE(missing->finished);
    EXPECT_EQ(status(missing), 404);
    EXPECT_EQ(header(missing, "Content-Type"), HYBURLSchemeHandler::getMimeType("js"));
    EXPECT_EQ(header(missing, "Cache-Control"), "no-cache");
    EXPECT_TRUE(missing->body.empty());
}

TEST_F(SchemeHandlerTest, RoutesWithoutExtensionGetTheStartPageAsHtml) {
    for (const char* path : {"", "/", "/settings/profile"}) {
        auto route = fetchPath(path);
        EXPECT_EQ(status(route), 200) << path;
        EXPECT_EQ(header(route, "Content-Type"), "text/html") << path;
        EXPECT_NE(route->body.chars().find("<title>Start</title>"), std::string_view::npos);
    }
}

TEST_F(SchemeHandlerTest, StartPageWithQueryStillServesItsFileForRoutes) {
    controller_->setStartPage("index.html?x=1#top");
    EXPECT_EQ(status(fetchPath("/settings")), 200);
}

TEST_F(SchemeHandlerTest, MediaIsAPlainResponseWithItsLength) {
    auto movie = fetchPath("/movie.MP4");
    ASSERT_TRUE(movie->finished);
    EXPECT_FALSE(movie->response->http());
    EXPECT_EQ(movie->response->expectedContentLength(), 1000);
    EXPECT_EQ(movie->response->MIMEType(), HYBURLSchemeHandler::getMimeType("MP4"));
    EXPECT_FALSE(header(movie, "Cache-Control"));
    EXPECT_EQ(movie->body.length(), 1000u);
}

TEST_F(SchemeHandlerTest, AppFilesAreServedFromTheApplicationsOwnFoldersOnly) {
    const std::string photo = ns::Sandbox::temporaryDirectory() + "photo.jpg";
    std::ofstream(photo) << "jpeg";
    auto served = fetchPath("/_app_file_" + photo);
    EXPECT_EQ(status(served), 200);
    EXPECT_EQ(served->body.chars(), "jpeg");

    const std::string keychain = ns::Sandbox::keychainDirectory() + "/item";
    std::filesystem::create_directories(ns::Sandbox::keychainDirectory());
    std::ofstream(keychain) << "secret";
    EXPECT_EQ(status(fetchPath("/_app_file_" + keychain)), 404);
    EXPECT_EQ(status(fetchPath("/_app_file_" + bundlePath() + "/secret.txt")), 404);
    EXPECT_EQ(status(fetchPath("/_app_file_/etc/passwd")), 404);
}

TEST_F(SchemeHandlerTest, PathsThatLeaveTheirFolderAreRefused) {
    const std::string container = ns::Sandbox::homeDirectory();
    std::filesystem::create_directories(ns::Sandbox::keychainDirectory());
    std::ofstream(ns::Sandbox::keychainDirectory() + "/item") << "secret";
    for (const std::string& path :
         {std::string("/../secret.txt"), std::string("/%2e%2e/secret.txt"),
          std::string("/css/%2E%2E/%2E%2E/secret.txt"), std::string("/css/..%2F..%2Fsecret.txt"),
          "/_app_file_" + container + "/../Keychain/item",
          "/_app_file_" + container + "/%2e%2e/Keychain/item", std::string("/index%00.html"),
          std::string("/_app_file_relative/item")}) {
        auto result = fetchPath(path);
        EXPECT_EQ(status(result), 404) << path;
        EXPECT_TRUE(result->body.empty()) << path;
    }
}

TEST_F(SchemeHandlerTest, OnlyRegularFilesInsideTheFolderAreServed) {
    const auto www = std::filesystem::path(bundlePath()) / "www";
    std::filesystem::create_symlink(std::filesystem::path(bundlePath()) / "secret.txt",
                                    www / "link.txt");
    ASSERT_EQ(::mkfifo((www / "pipe.txt").c_str(), 0600), 0);
    std::filesystem::create_directory(www / "folder.d");
    const std::string tmpLink = ns::Sandbox::temporaryDirectory() + "zero.bin";
    std::filesystem::create_symlink("/dev/zero", tmpLink);

    // A FIFO without a writer would block a plain open; /dev/zero would never end.
    EXPECT_EQ(status(fetchPath("/link.txt")), 404);
    EXPECT_EQ(status(fetchPath("/pipe.txt")), 404);
    EXPECT_EQ(status(fetchPath("/folder.d")), 404);
    EXPECT_EQ(status(fetchPath("/_app_file_" + tmpLink)), 404);
}

// Another process keeps exchanging a folder with a link to the outside (the bundle's other
// files, the keychain) while the page loads from it: nothing outside is ever served.
TEST_F(SchemeHandlerTest, AFolderKeptSwappingForALinkNeverServesWhatIsOutside) {
    namespace fs = std::filesystem;
    const fs::path www = fs::path(bundlePath()) / "www";
    const fs::path tmp = ns::Sandbox::temporaryDirectory();
    const fs::path keychain = ns::Sandbox::keychainDirectory();
    fs::create_directories(keychain);
    writeFile("www/dir/f.txt", "inside");
    writeFile("outside/f.txt", "outside");
    std::ofstream(keychain / "f.txt") << "outside";
    fs::create_directories(tmp / "dir");
    std::ofstream(tmp / "dir" / "f.txt") << "inside";
    fs::create_directory_symlink(fs::path(bundlePath()) / "outside", www / "swap");
    fs::create_directory_symlink(keychain, tmp / "swap");

    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        while (!stop) {
            for (const fs::path& folder : {www, tmp}) {
                if (::renameat2(AT_FDCWD, (folder / "dir").c_str(), AT_FDCWD,
                                (folder / "swap").c_str(), RENAME_EXCHANGE) == 0) {
                    ++swaps;
                }
            }
        }
    });
    int served = 0;
    for (int i = 0; i < 400 || swaps < 50; ++i) {
        for (const std::string& path :
             {std::string("/dir/f.txt"), "/_app_file_" + (tmp / "dir" / "f.txt").string()}) {
            auto result = fetchPath(path);
            ASSERT_NE(result->body.chars(), "outside") << path << " after " << i << " loads";
            if (status(result) == 200) ++served;
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(served, 0);
}

TEST_F(SchemeHandlerTest, SchemeOfAnotherLetterCaseIsNotServed) {
    auto upper = fetch("APP://localhost/index.html");
    EXPECT_EQ(status(upper), 404);
}

class RecordingReceiver : public wk::URLSchemeTask::Receiver {
public:
    void taskDidReceiveResponse(std::shared_ptr<const wk::URLResponse> r) override {
        response = std::move(r);
    }
    void taskDidReceiveData(const ns::Data& data) override {
        ++chunks;
        bytes += data.length();
    }
    void taskDidFinish() override { finished = true; }
    void taskDidFail(const ns::Error&) override { failed = true; }

    std::shared_ptr<const wk::URLResponse> response;
    size_t chunks = 0;
    size_t bytes = 0;
    bool finished = false;
    bool failed = false;
};

// Only the application's own pages are answered: a request that says it comes from a page of
// another origin (or from an opaque one) is refused, whatever it asks for.
TEST_F(SchemeHandlerTest, RequestsFromPagesOfAnotherOriginAreRefused) {
    struct Case {
        const char* header;
        const char* value;
        bool served;
    };
    const Case cases[] = {
        {nullptr, nullptr, true},
        {"Referer", "app://localhost/index.html", true},
        {"Origin", "app://LOCALHOST", true},
        {"Referer", "https://evil.test/page.html", false},
        {"Origin", "https://evil.test", false},
        {"Origin", "null", false},
        {"Referer", "app://localhost:8080/", false},
        {"Origin", "app://other", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "no header");
        wk::URLRequest request(*ns::URL::parse("app://localhost/_app_file_/x"));
        if (c.header) request.setValue(c.value, c.header);
        EXPECT_EQ(HYBURLSchemeHandler::isFromTheApplicationsOwnPage(webView().get(), request),
                  c.served);
        EXPECT_EQ(HYBURLSchemeHandler::isFromTheApplicationsOwnPage(nullptr, request), c.served);
    }
    // A sub-resource of a page of another origin that names no Origin or Referer (a script
    // element's request carries neither) is refused by the page it is for.
    for (const char* page : {"https://evil.test/", "app://other/index.html"}) {
        SCOPED_TRACE(page);
        wk::URLRequest request(*ns::URL::parse("app://localhost/_app_file_/x"));
        request.setMainDocumentURL(*ns::URL::parse(page));
        EXPECT_FALSE(HYBURLSchemeHandler::isFromTheApplicationsOwnPage(webView().get(), request));
        request.setMainDocumentURL(*ns::URL::parse("app://localhost/index.html"));
        EXPECT_TRUE(HYBURLSchemeHandler::isFromTheApplicationsOwnPage(webView().get(), request));
    }
    // An Origin or Referer that is no URL at all says nothing good of the page.
    for (const char* header : {"Origin", "Referer"}) {
        SCOPED_TRACE(header);
        const char* garbled = "app://[localhost";
        ASSERT_FALSE(ns::URL::parse(garbled));
        wk::URLRequest request(*ns::URL::parse("app://localhost/_app_file_/x"));
        request.setMainDocumentURL(*ns::URL::parse("app://localhost/index.html"));
        request.setValue(garbled, header);
        EXPECT_FALSE(HYBURLSchemeHandler::isFromTheApplicationsOwnPage(webView().get(), request));
    }

    auto receiver = std::make_shared<RecordingReceiver>();
    wk::URLRequest request(*ns::URL::parse("app://localhost/css/app.css"));
    request.setValue("https://evil.test/", "Referer");
    auto task = std::make_shared<wk::URLSchemeTask>(request, receiver);
    engine()->schemeHandler()->startURLSchemeTask(webView(), task);
    ASSERT_TRUE(receiver->response && receiver->response->http());
    EXPECT_EQ(receiver->response->http()->statusCode(), 403);
    EXPECT_EQ(receiver->bytes, 0u);
    EXPECT_EQ(status(fetchPath("/css/app.css")), 200) << "the application's own page is served";
}

TEST_F(SchemeHandlerTest, LargeFilesAreHandedOverInChunks) {
    const size_t size = HYBURLSchemeHandler::kChunkSize * 2 + 17;
    writeFile("www/big.bin", std::string(size, 'b'));
    auto receiver = std::make_shared<RecordingReceiver>();
    auto task = std::make_shared<wk::URLSchemeTask>(
        wk::URLRequest(*ns::URL::parse("app://localhost/big.bin")), receiver);
    engine()->schemeHandler()->startURLSchemeTask(webView(), task);
    EXPECT_TRUE(receiver->finished);
    EXPECT_EQ(receiver->chunks, 3u);
    EXPECT_EQ(receiver->bytes, size);
}

// Takes the requests whose path starts with its prefix and keeps them open.
class SchemeTaker : public HYBPlugin {
public:
    explicit SchemeTaker(std::string prefix) : prefix_(std::move(prefix)) {}
    bool answersOverrideSchemeTask() const override { return true; }
    bool overrideSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) override {
        ++asked;
        if (!task->request().url().path().starts_with(prefix_)) return false;
        taken.push_back(task);
        return true;
    }
    bool answersStopSchemeTask() const override { return true; }
    void stopSchemeTask(const std::shared_ptr<wk::URLSchemeTask>& task) override {
        stopped.push_back(task);
    }

    int asked = 0;
    std::vector<std::shared_ptr<wk::URLSchemeTask>> taken;
    std::vector<std::shared_ptr<wk::URLSchemeTask>> stopped;

private:
    std::string prefix_;
};

TEST_F(SchemeHandlerTest, PluginThatTakesATaskServesItAndHearsItsStop) {
    auto first = std::make_shared<SchemeTaker>("/a");
    auto second = std::make_shared<SchemeTaker>("/z");
    controller_->registerPlugin(first, "ATaker");
    controller_->registerPlugin(second, "ZTaker");

    auto a = fetchPath("/a.txt");
    auto z = fetchPath("/z.txt");
    ASSERT_EQ(first->taken.size(), 1u);
    ASSERT_EQ(second->taken.size(), 1u);
    EXPECT_FALSE(a->response);  // the handler sent nothing of its own
    EXPECT_FALSE(z->response);

    // The later request was last offered to the second plug-in; the stop of the earlier one
    // still goes to the plug-in that took it.
    page().cancelFetch(a);
    loop().runUntilIdle();
    EXPECT_EQ(first->stopped, std::vector{first->taken[0]});
    EXPECT_TRUE(second->stopped.empty());

    auto other = fetchPath("/css/app.css");
    EXPECT_EQ(status(other), 200);
    page().cancelFetch(other);  // already finished: nobody hears of it
    loop().runUntilIdle();
    EXPECT_TRUE(second->stopped.empty());
}

struct MappingCase {
    std::string url;
    std::optional<std::string> path;
};

class SchemePathMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(SchemePathMapping, MapsIntoItsFolderOrNowhere) {
    const HYBURLSchemeHandler::Folders folders{"/b/www/", "/s/Container", "index.html", "app"};
    const auto location =
        HYBURLSchemeHandler::fileLocationForURL(*ns::URL::parse(GetParam().url), folders);
    if (!GetParam().path) {
        EXPECT_FALSE(location) << GetParam().url << " -> " << location->path;
    } else {
        ASSERT_TRUE(location) << GetParam().url;
        EXPECT_EQ(location->path, *GetParam().path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SchemePathMapping,
    ::testing::Values(MappingCase{"app://localhost/css/a.css", "/b/www/css/a.css"},
                      MappingCase{"app://localhost/./css//a.css", "/b/www/css/a.css"},
                      MappingCase{"app://localhost", "/b/www/index.html"},
                      MappingCase{"app://localhost/deep/route", "/b/www/index.html"},
                      MappingCase{"app://localhost/a%20b.css", "/b/www/a b.css"},
                      MappingCase{"app://localhost/_app_file_/s/Container/tmp/x.jpg",
                                  "/s/Container/tmp/x.jpg"},
                      MappingCase{"app://localhost/_app_file_/s/ContainerX/x.jpg", std::nullopt},
                      MappingCase{"app://localhost/_app_file_/s/x.jpg", std::nullopt},
                      MappingCase{"app://localhost/x/../../y.css", std::nullopt},
                      MappingCase{"app://localhost/%2e%2e/y.css", std::nullopt},
                      MappingCase{"app://localhost/y%00.css", std::nullopt},
                      MappingCase{"other://localhost/y.css", std::nullopt},
                      MappingCase{"App://localhost/y.css", std::nullopt}));

TEST(HYBURLSchemeHandler, MimeTypesAndMediaExtensions) {
    EXPECT_EQ(HYBURLSchemeHandler::getMimeType(""), "text/html");
    EXPECT_EQ(HYBURLSchemeHandler::getMimeType("css"), "text/css");
    EXPECT_EQ(HYBURLSchemeHandler::getMimeType("no-such-extension"), "application/octet-stream");
    for (const char* media :
         {"m4v", "MOV", "mp4", "aac", "ac3", "aiff", "au", "flac", "m4a", "Mp3", "wav"}) {
        EXPECT_TRUE(HYBURLSchemeHandler::isMediaExtension(media)) << media;
    }
    EXPECT_FALSE(HYBURLSchemeHandler::isMediaExtension("html"));
    EXPECT_FALSE(HYBURLSchemeHandler::isMediaExtension("mp"));
}

}  // namespace
