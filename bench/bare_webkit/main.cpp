// The bare engine program that the start-up benchmark (bench/startup.cpp) compares the host
// with: written on WebKitGTK's own API and nothing of ours, it shows a bundle's start page the
// way the host does (a window of the host's size, the bundle's www folder served on the app
// scheme as a secure origin, a script message handler under the bridge's name, data and cache
// folders of its own) and prints one line when the page has loaded.
//
//   bare-webkit --bundle DIR --data DIR [--start PAGE] [--stay]
//
// Without --stay it leaves once the page has loaded, as the host's --exit-after-load does.
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string www;
    std::string data;
    std::string start = "index.html";
    bool stay = false;
};

Options gOptions;

const char* mimeTypeOf(const std::string& path) {
    static constexpr struct {
        const char* extension;
        const char* type;
    } kTypes[] = {{".html", "text/html"},        {".js", "text/javascript"}, {".css", "text/css"},
                  {".json", "application/json"}, {".png", "image/png"},      {".jpg", "image/jpeg"},
                  {".svg", "image/svg+xml"},     {".mp4", "video/mp4"},      {".wav", "audio/wav"},
                  {".woff2", "font/woff2"}};
    for (const auto& entry : kTypes) {
        const size_t n = std::strlen(entry.extension);
        if (path.size() >= n && path.compare(path.size() - n, n, entry.extension) == 0)
            return entry.type;
    }
    return "application/octet-stream";
}

// app://localhost/PATH is www/PATH; anything that leaves the folder is not found.
void serveBundleFile(WebKitURISchemeRequest* request, gpointer) {
    std::string path = webkit_uri_scheme_request_get_path(request);
    GError* error = nullptr;
    GFile* file = nullptr;
    if (path.find("..") == std::string::npos) {
        file = g_file_new_for_path((gOptions.www + path).c_str());
    }
    GFileInputStream* stream = file ? g_file_read(file, nullptr, &error) : nullptr;
    if (!stream) {
        if (!error) error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not found");
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        if (file) g_object_unref(file);
        return;
    }
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    const gint64 size = info ? g_file_info_get_size(info) : -1;
    webkit_uri_scheme_request_finish(request, G_INPUT_STREAM(stream), size, mimeTypeOf(path));
    if (info) g_object_unref(info);
    g_object_unref(stream);
    g_object_unref(file);
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    std::fputs("bare-webkit: start page loaded\n", stderr);
    std::fflush(stderr);
    if (!gOptions.stay) gtk_main_quit();
}

void onMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer) {}

bool parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--stay") {
            gOptions.stay = true;
        } else if (i + 1 < argc && argument == "--bundle") {
            gOptions.www = std::string(argv[++i]) + "/www";
        } else if (i + 1 < argc && argument == "--data") {
            gOptions.data = argv[++i];
        } else if (i + 1 < argc && argument == "--start") {
            gOptions.start = argv[++i];
        } else {
            return false;
        }
    }
    return !gOptions.www.empty() && !gOptions.data.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (!parse(argc, argv)) {
        std::fputs("usage: bare-webkit --bundle DIR --data DIR [--start PAGE] [--stay]\n", stderr);
        return 2;
    }
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fputs("bare-webkit: no display\n", stderr);
        return 1;
    }
    const std::string data = gOptions.data + "/WebKit";
    const std::string cache = gOptions.data + "/Caches/WebKit";
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
    webkit_web_context_register_uri_scheme(context, "app", serveBundleFile, nullptr, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, "app");
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "app");

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect(content, "script-message-received::hybrid", G_CALLBACK(onMessage), nullptr);
    webkit_user_content_manager_register_script_message_handler(content, "hybrid");
    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", content, nullptr));
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), nullptr);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 390, 844);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);

    webkit_web_view_load_uri(view, ("app://localhost/" + gOptions.start).c_str());
    gtk_main();
    return 0;
}
