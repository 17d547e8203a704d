#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge/HYBURLSchemeHandler.h"
#include "platform/ns/URL.h"

// Input: the text after "app://localhost" (path, query, fragment), or a whole URL. Invariant:
// a mapped file lies inside one of the two folders, with no "." or ".." segment left in it.
namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void check(const ns::URL& url, const HYBURLSchemeHandler::Folders& folders) {
    const auto location = HYBURLSchemeHandler::fileLocationForURL(url, folders);
    if (!location) return;
    require(location->root == folders.www || location->root == folders.appFiles);
    const std::string& path = location->path;
    require(path == location->root || path.starts_with(location->root + "/"));
    require(path.find('\0') == std::string::npos);
    require(path.find("//") == std::string::npos);
    require(path.find("/../") == std::string::npos && !path.ends_with("/.."));
    require(path.find("/./") == std::string::npos && !path.ends_with("/."));
    (void)HYBURLSchemeHandler::getMimeType(url.pathExtension());
    (void)HYBURLSchemeHandler::isMediaExtension(url.pathExtension());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const HYBURLSchemeHandler::Folders folders{"/bundle/www", "/sandbox/Container", "index.html",
                                               std::string("app")};
    if (auto url = ns::URL::parse("app://localhost" + std::string(text))) check(*url, folders);
    if (auto url = ns::URL::parse(text)) check(*url, folders);
    // A start page taken from config.xml is confined the same way.
    const HYBURLSchemeHandler::Folders fromConfig{"/bundle/www", "/sandbox/Container",
                                                  std::string(text), std::string("app")};
    if (auto url = ns::URL::parse("app://localhost/route")) check(*url, fromConfig);
    return 0;
}
