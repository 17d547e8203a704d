#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Object.h"
#include "platform/ns/URL.h"
#include "platform/wk/URLSchemeHandler.h"

class HYBPlugin;
class HYBViewController;

namespace net {
class URLRequest;
}  // namespace net
namespace wk {
using URLRequest = net::URLRequest;
class URLSchemeTask;
class WebView;
}  // namespace wk

// Serves the main web view's requests for the application's custom scheme from the bundle's
// web folder, and, under the path prefix "/_app_file_", files of the application's own
// sandbox. Every plug-in is offered each request first; one that takes it answers it itself.
// Only pages of the application's own origin are answered (403 for any other, whatever the
// path), so a remote page in a web view that borrows the handler reaches nothing.
//
// A path is decoded and taken apart into its segments; one holding ".." or a NUL byte, or a
// file that (with its links resolved) lies outside its folder, is answered 404. Only regular
// files are served, in chunks of kChunkSize as they are read, so that neither a device, a
// FIFO nor a huge file is held in memory whole. Extension-less paths are routes of the page
// and get the start page. Main thread only.
class HYBURLSchemeHandler : public ns::Object, public wk::URLSchemeHandler {
public:
    static constexpr std::string_view kAppFilePrefix = "/_app_file_";
    static constexpr size_t kChunkSize = 256 * 1024;

    // The folders a request may be served from.
    struct Folders {
        std::string www;       // the bundle's web folder
        std::string appFiles;  // the application's own folders, for "/_app_file_" paths
        std::string startPage;
        std::optional<std::string> appScheme;
    };
    // A file that a request names: `path` lies inside `root` (as text; links are checked when
    // the file is opened).
    struct FileLocation {
        std::string root;
        std::string path;
    };

    // The view controller is held weakly: it owns the engine, which owns this handler.
    explicit HYBURLSchemeHandler(const std::shared_ptr<HYBViewController>& viewController);

    void startURLSchemeTask(const std::shared_ptr<wk::WebView>& webView,
                            const std::shared_ptr<wk::URLSchemeTask>& task) override;
    // Reaches the plug-in that took the task, when it wants to hear of it.
    void stopURLSchemeTask(const std::shared_ptr<wk::WebView>& webView,
                           const std::shared_ptr<wk::URLSchemeTask>& task) override;

    // "text/html" for an empty extension, "application/octet-stream" for an unknown one.
    static std::string getMimeType(std::string_view extension);
    // Audio and video, which are answered with a plain response and their length.
    static bool isMediaExtension(std::string_view extension);

    // The file for a request of the application's scheme; nothing when the URL is of another
    // scheme or its path would leave its folder.
    static std::optional<FileLocation> fileLocationForURL(const ns::URL& url,
                                                          const Folders& folders);

    std::shared_ptr<HYBViewController> viewController() const { return viewController_.lock(); }

    // "scheme://host[:port]", lower-cased.
    static std::string originOf(const ns::URL& url);
    // Whether the request comes from a page of the origin it asks: the main document it names
    // (else the web view's page), and the Origin and Referer it carries, if any, are all of
    // that origin.
    static bool isFromTheApplicationsOwnPage(const wk::WebView* webView,
                                             const wk::URLRequest& request);

private:
    struct Owner {
        std::weak_ptr<wk::URLSchemeTask> task;
        std::weak_ptr<HYBPlugin> plugin;
    };

    Folders folders(const HYBViewController& controller) const;
    bool offerToPlugins(const HYBViewController& controller,
                        const std::shared_ptr<wk::URLSchemeTask>& task);

    std::weak_ptr<HYBViewController> viewController_;
    std::vector<Owner> owners_;
};
