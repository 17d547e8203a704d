#include "bridge/HYBURLSchemeHandler.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "platform/dispatch/QueueContract.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/Data.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Log.h"
#include "platform/ns/MimeType.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/wk/URLResponse.h"
#include "platform/wk/URLSchemeTask.h"
#include "platform/wk/WebView.h"

namespace {

constexpr std::array<std::string_view, 11> kMediaExtensions = {
    "m4v", "mov", "mp4", "aac", "ac3", "aiff", "au", "flac", "m4a", "mp3", "wav"};

// "/a/./b//c" as "/a/b/c"; nothing when a segment is ".." or the text holds a NUL byte. The
// result always starts with "/" and never ends with one (the root alone is "").
std::optional<std::string> normalisedSegments(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::string out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const auto segment = path.substr(start, end - start);
        if (segment == "..") return std::nullopt;
        if (!segment.empty() && segment != ".") out.append("/").append(segment);
        start = end + 1;
    }
    return out;
}

// The file that `relative` names below `root`.
std::optional<HYBURLSchemeHandler::FileLocation> below(const std::string& root,
                                                       std::string_view relative) {
    const auto base = normalisedSegments(root);
    const auto rest = normalisedSegments(relative);
    if (!base || base->empty() || !rest) return std::nullopt;
    return HYBURLSchemeHandler::FileLocation{*base, *base + *rest};
}

// The absolute path, when it lies inside `root`.
std::optional<HYBURLSchemeHandler::FileLocation> inside(const std::string& root,
                                                        std::string_view absolute) {
    if (!absolute.starts_with('/')) return std::nullopt;
    const auto base = normalisedSegments(root);
    const auto path = normalisedSegments(absolute);
    if (!base || base->empty() || !path) return std::nullopt;
    if (*path != *base && !path->starts_with(*base + "/")) return std::nullopt;
    return HYBURLSchemeHandler::FileLocation{*base, *path};
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// Opens the file for reading when it is a regular file that, links resolved, lies inside its
// root; null otherwise. Resolved and opened in one step beneath the root, so that a folder
// swapped for a link meanwhile cannot lead out. Non-blocking, so that opening a FIFO cannot
// wait for a writer.
File openConfined(const HYBURLSchemeHandler::FileLocation& location, off_t& size) {
    File none(nullptr, &std::fclose);
    auto fd =
        ns::ConfinedFile({location.root}).open(location.path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!fd) return none;
    struct stat st {};
    FILE* file = nullptr;
    if (::fstat(fd->get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !(file = ::fdopen(fd->get(), "rb"))) {
        return none;
    }
    fd->release();  // the stream owns it now
    size = st.st_size;
    return File(file, &std::fclose);
}

std::shared_ptr<const wk::URLResponse> httpResponse(const ns::URL& url, int statusCode,
                                                    const std::string& mimeType) {
    return std::make_shared<const wk::HTTPURLResponse>(
        url, statusCode, "HTTP/1.1",
        net::HTTPHeaderFields{{"Content-Type", mimeType}, {"Cache-Control", "no-cache"}});
}

// Hands the file over chunk by chunk, up to the size it had when it was opened.
void streamBody(const std::shared_ptr<wk::URLSchemeTask>& task, FILE* file, off_t size,
                const std::string& path) {
    std::vector<uint8_t> buffer(HYBURLSchemeHandler::kChunkSize);
    off_t remaining = size;
    while (remaining > 0 && !task->isStopped()) {
        const size_t want =
            static_cast<size_t>(std::min<off_t>(remaining, static_cast<off_t>(buffer.size())));
        const size_t n = std::fread(buffer.data(), 1, want, file);
        if (n == 0 && std::ferror(file)) {
            task->didFailWithError(
                ns::FileManager::errorForErrno(errno, ns::FileAccess::Read, path));
            return;
        }
        if (n == 0) break;  // the file shrank while it was read
        task->didReceiveData(ns::Data(buffer.data(), n));
        remaining -= static_cast<off_t>(n);
    }
    if (!task->isStopped()) task->didFinish();
}

}  // namespace

HYBURLSchemeHandler::HYBURLSchemeHandler(const std::shared_ptr<HYBViewController>& viewController)
    : viewController_(viewController) {}

std::string HYBURLSchemeHandler::getMimeType(std::string_view extension) {
    if (extension.empty()) return "text/html";
    return ns::MimeType::forExtensionOrDefault(extension);
}

bool HYBURLSchemeHandler::isMediaExtension(std::string_view extension) {
    const std::string text(extension);
    return std::ranges::any_of(kMediaExtensions, [&](std::string_view media) {
        return ::strcasecmp(std::string(media).c_str(), text.c_str()) == 0;
    });
}

std::optional<HYBURLSchemeHandler::FileLocation> HYBURLSchemeHandler::fileLocationForURL(
    const ns::URL& url, const Folders& folders) {
    if (!folders.appScheme || url.scheme() != folders.appScheme) return std::nullopt;
    const std::string path = url.path();
    if (path.starts_with(kAppFilePrefix)) {
        return inside(folders.appFiles, std::string_view(path).substr(kAppFilePrefix.size()));
    }
    if (path.empty() || url.pathExtension().empty()) {
        // A start page written with a query or fragment names the file before them.
        const std::string_view page = folders.startPage;
        return below(folders.www, page.substr(0, page.find_first_of("?#")));
    }
    return below(folders.www, path);
}

HYBURLSchemeHandler::Folders HYBURLSchemeHandler::folders(
    const HYBViewController& controller) const {
    Folders folders;
    const std::string wwwName = controller.wwwFolderName().value_or("www");
    folders.www = ns::Bundle::mainBundle()->pathForResource(wwwName, "").value_or("");
    folders.appFiles = ns::Sandbox::homeDirectory();
    folders.startPage = controller.startPage().value_or("index.html");
    folders.appScheme = controller.appScheme();
    return folders;
}

bool HYBURLSchemeHandler::offerToPlugins(const HYBViewController& controller,
                                         const std::shared_ptr<wk::URLSchemeTask>& task) {
    // A snapshot: a plug-in may make other plug-ins while it looks at the request.
    const auto plugins = controller.pluginObjects();
    for (const auto& [name, plugin] : plugins) {
        if (!plugin || !plugin->answersOverrideSchemeTask()) continue;
        if (plugin->overrideSchemeTask(task)) {
            std::erase_if(owners_, [](const Owner& o) {
                auto t = o.task.lock();
                return !t || t->isCompleted() || t->isStopped();
            });
            owners_.push_back({task, plugin});
            return true;
        }
    }
    return false;
}

std::string HYBURLSchemeHandler::originOf(const ns::URL& url) {
    std::string origin = ns::asciiLowercased(url.scheme().value_or(""));
    origin += "://" + ns::asciiLowercased(url.host().value_or(""));
    if (url.port()) origin += ":" + std::to_string(*url.port());
    return origin;
}

bool HYBURLSchemeHandler::isFromTheApplicationsOwnPage(const wk::WebView* webView,
                                                       const wk::URLRequest& request) {
    const std::string own = originOf(request.url());
    // The page of the web view that asks: the main document the request names (the page being
    // loaded, which is the request itself when it loads that page), else the view's page.
    auto page = request.mainDocumentURL();
    if (!page && webView) page = webView->URL();
    if (page && originOf(*page) != own) return false;
    // What the request says of the document that made it, when it says anything.
    if (auto origin = request.valueForHTTPHeaderField("Origin")) {
        auto url = ns::URL::parse(*origin);
        if (!url || originOf(*url) != own) return false;
    }
    if (auto referer = request.valueForHTTPHeaderField("Referer")) {
        auto url = ns::URL::parse(*referer);
        if (!url || originOf(*url) != own) return false;
    }
    return true;
}

void HYBURLSchemeHandler::startURLSchemeTask(const std::shared_ptr<wk::WebView>& webView,
                                             const std::shared_ptr<wk::URLSchemeTask>& task) {
    HYB_EXPECT_MAIN_THREAD();
    // The application's files are for its own pages only: a page of another origin (a remote
    // page in the in-app browser) neither loads them nor learns which of them exist.
    if (!isFromTheApplicationsOwnPage(webView.get(), task->request())) {
        ns::nslog("Refused %@ to a page of another origin", task->request().url().absoluteString());
        task->didReceiveResponse(httpResponse(task->request().url(), 403, "text/plain"));
        task->didFinish();
        return;
    }
    auto controller = viewController_.lock();
    if (controller && offerToPlugins(*controller, task)) return;

    const ns::URL& url = task->request().url();
    const std::string extension = url.pathExtension();
    const std::string mimeType = getMimeType(extension);
    const auto location = controller ? fileLocationForURL(url, folders(*controller)) : std::nullopt;

    off_t size = 0;
    const File file = location ? openConfined(*location, size) : File(nullptr, &std::fclose);
    if (!file) {
        task->didReceiveResponse(httpResponse(url, 404, mimeType));
        task->didFinish();
        return;
    }
    if (isMediaExtension(extension)) {
        task->didReceiveResponse(
            std::make_shared<const wk::URLResponse>(url, mimeType, size, std::nullopt));
    } else {
        task->didReceiveResponse(httpResponse(url, 200, mimeType));
    }
    streamBody(task, file.get(), size, location->path);
}

void HYBURLSchemeHandler::stopURLSchemeTask(const std::shared_ptr<wk::WebView>& /*webView*/,
                                            const std::shared_ptr<wk::URLSchemeTask>& task) {
    HYB_EXPECT_MAIN_THREAD();
    auto it = std::find_if(owners_.begin(), owners_.end(),
                           [&](const Owner& o) { return o.task.lock() == task; });
    if (it == owners_.end()) return;
    auto plugin = it->plugin.lock();
    owners_.erase(it);
    if (plugin && plugin->answersStopSchemeTask()) plugin->stopSchemeTask(task);
}
