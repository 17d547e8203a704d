#include "platform/gtk/WebKitGtkSchemeTask.h"

#include <libsoup/soup.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/net/HTTPHeaderFields.h"

namespace wk {
namespace {

void finishWithError(WebKitURISchemeRequest* request, int code, const std::string& message) {
    GError* error = g_error_new_literal(WEBKIT_NETWORK_ERROR, code, message.c_str());
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

}  // namespace

WebKitGtkSchemeTask::WebKitGtkSchemeTask(WebKitURISchemeRequest* request, Callback stopped,
                                         Callback ended)
    : request_(request), stopped_(std::move(stopped)), ended_(std::move(ended)) {
    g_object_weak_ref(G_OBJECT(request_), &requestGone, this);
}

WebKitGtkSchemeTask::~WebKitGtkSchemeTask() {
    detach();
    for (GBytes* chunk : chunks_) g_bytes_unref(chunk);
}

URLRequest WebKitGtkSchemeTask::requestOf(WebKitURISchemeRequest* request) {
    auto url = ns::URL::parse(webkit_uri_scheme_request_get_uri(request));
    URLRequest result(url ? *url : *ns::URL::parse("about:blank"));
    if (const char* method = webkit_uri_scheme_request_get_http_method(request)) {
        result.setHTTPMethod(method);
    }
    // The main frame's document: the page being loaded, once a load has started (so that a
    // request for it is known as that page's own).
    if (WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request)) {
        if (const char* active = webkit_web_view_get_uri(view)) {
            if (auto page = ns::URL::parse(active)) result.setMainDocumentURL(*page);
        }
    }
    if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
        SoupMessageHeadersIter it;
        soup_message_headers_iter_init(&it, headers);
        const char* name = nullptr;
        const char* value = nullptr;
        while (soup_message_headers_iter_next(&it, &name, &value)) {
            result.setValue(value, name);
        }
    }
    return result;
}

const std::shared_ptr<URLSchemeTask>& WebKitGtkSchemeTask::makeTask() {
    task_ = std::make_shared<URLSchemeTask>(requestOf(request_), weak_from_this());
    return task_;
}

void WebKitGtkSchemeTask::refuse() {
    fail("unsupported URL");
}

void WebKitGtkSchemeTask::taskDidReceiveResponse(std::shared_ptr<const URLResponse> response) {
    response_ = std::move(response);
}

void WebKitGtkSchemeTask::taskDidReceiveData(const ns::Data& data) {
    if (data.empty()) return;
    chunks_.push_back(g_bytes_new(data.bytes(), data.length()));
    length_ += data.length();
}

void WebKitGtkSchemeTask::taskDidFinish() {
    if (!request_ || !response_) return end();
    GInputStream* stream = g_memory_input_stream_new();
    for (GBytes* chunk : chunks_) {
        g_memory_input_stream_add_bytes(G_MEMORY_INPUT_STREAM(stream), chunk);
        g_bytes_unref(chunk);
    }
    chunks_.clear();
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(length_));
    g_object_unref(stream);

    std::string contentType = response_->MIMEType().value_or("application/octet-stream");
    if (response_->textEncodingName()) contentType += "; charset=" + *response_->textEncodingName();
    webkit_uri_scheme_response_set_content_type(response, contentType.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    bool hasContentType = false;
    const HTTPURLResponse* http = response_->http();
    if (http) {
        for (const auto& [name, value] : http->allHeaderFields()) {
            hasContentType = hasContentType || net::headerNameEquals(name, "Content-Type");
            soup_message_headers_append(headers, name.c_str(), value.c_str());
        }
    }
    // The engine reads the type from the header fields as well as from the MIME type.
    if (!hasContentType) soup_message_headers_append(headers, "Content-Type", contentType.c_str());
    webkit_uri_scheme_response_set_http_headers(response, headers);
    if (http) {
        webkit_uri_scheme_response_set_status(response, static_cast<guint>(http->statusCode()),
                                              nullptr);
    }
    WebKitURISchemeRequest* request = request_;
    detach();
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    end();
}

void WebKitGtkSchemeTask::taskDidFail(const ns::Error& error) {
    fail(error.localizedDescription().c_str());
}

void WebKitGtkSchemeTask::fail(const char* message) {
    if (request_) {
        WebKitURISchemeRequest* request = request_;
        detach();
        finishWithError(request, WEBKIT_NETWORK_ERROR_FAILED, message);
    }
    end();
}

void WebKitGtkSchemeTask::detach() {
    if (!request_) return;
    g_object_weak_unref(G_OBJECT(request_), &requestGone, this);
    request_ = nullptr;
}

void WebKitGtkSchemeTask::end() {
    if (auto ended = std::move(ended_)) {
        ended_ = nullptr;
        ended(shared_from_this());
    }
}

// The engine let the request go before the answer was complete: the page stopped wanting it.
void WebKitGtkSchemeTask::requestGone(gpointer data, GObject*) {
    auto* self = static_cast<WebKitGtkSchemeTask*>(data);
    self->request_ = nullptr;
    dispatch::RunLoop::main().post([weak = self->weak_from_this()] {
        auto task = weak.lock();
        if (!task) return;
        if (task->task_ && !task->task_->isCompleted() && !task->task_->isStopped()) {
            task->task_->stop();
            if (task->stopped_) task->stopped_(task);
        }
        task->end();
    });
}

}  // namespace wk
