#include "platform/gtk/WebKitGtkEngine.h"

#include <libsoup/soup.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include <algorithm>
#include <set>
#include <string_view>

#include <simdjson.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/gtk/WebKitGtkContext.h"
#include "platform/gtk/WebKitGtkGuardedMessage.h"
#include "platform/gtk/WebKitGtkMainFrameGate.h"
#include "platform/gtk/WebKitGtkSchemeTask.h"
#include "platform/net/TLSSettings.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Log.h"
#include "platform/ui/Screen.h"
#include "platform/wk/EngineRegistry.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebView.h"

namespace wk {
namespace {

constexpr const char* kEngineKey = "hybrid-engine";

// 128 random bits as hex, from the kernel's generator.
std::string randomSecret() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("no random bytes for the message secret");
        got += static_cast<size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

// WebKitGTK does not say which frame posted a message. Every frame gets this script before
// any of its own: it replaces each handler's postMessage with one that sends one string: the
// secret, "T" or "F" for whether this is the top frame, the frame's address and a line break,
// then the body as JSON text and a run of spaces (the room the native reader needs past the
// text, so that it reads the string where it arrived). A body that JSON cannot carry goes as
// {s: secret, t: top, u: address, b: body} instead. The frame facts come from the window's
// unforgeable members at the time of the call, before the body is written; the secret stays in
// a closure, and the original postMessage and JSON writer are reached through bindings made
// before any script of the page ran, so a page can neither read the secret nor make the wrapper
// lie; what it posts around the wrapper lacks the secret and counts as coming from an unknown
// frame.
constexpr const char* kFrameGuardScript = R"JS((function (w, names, secret, padding) {
    'use strict';
    var handlers = w.webkit && w.webkit.messageHandlers;
    if (!handlers) return;
    var call = Function.prototype.call, define = Object.defineProperty, kept = [];
    var write = call.bind(JSON.stringify, JSON), isArray = Array.isArray;
    var wellFormed = String.prototype.isWellFormed, codeAt = String.prototype.charCodeAt;
    // A string the engine hands over as it is: well-formed, and not ending in a zero.
    function plain(v) {
        return typeof wellFormed === 'function' && call.call(wellFormed, v) &&
            call.call(codeAt, v, v.length - 1) !== 0;
    }
    // Whether the body is an array holding a long string, itself or in an array in it, and
    // nothing there but plain strings, numbers, booleans, null and undefined (values that go
    // as they are and read as their JSON would). Such a body goes as a value: written as JSON
    // text, its long string would cost the page one more pass and copy of its size, where the
    // engine copies it once either way.
    function holdsLongText(body) {
        var longest = 1048576;  // what the host reads element by element
        var isLong = function (v) { return typeof v === 'string' && v.length >= 65536; };
        var simple = function (v) {
            if (typeof v === 'string') return plain(v);
            return v === null || v === undefined || typeof v === 'number' ||
                typeof v === 'boolean';
        };
        if (!isArray(body) || body.length > longest) return false;
        // Most calls hold no long string: they pay no more than this look for one.
        var found = false, i, j, v;
        for (i = 0; i < body.length && !found; i++) {
            v = body[i];
            if (!isArray(v)) {
                found = isLong(v);
                continue;
            }
            for (j = 0; j < v.length && j < longest && !found; j++) found = isLong(v[j]);
        }
        if (!found || 'toJSON' in body || 'toJSON' in String.prototype) return false;
        for (i = 0; i < body.length; i++) {
            v = body[i];
            if (!isArray(v)) {
                if (!simple(v)) return false;
                continue;
            }
            if (v.length > longest || 'toJSON' in v) return false;
            for (j = 0; j < v.length; j++) {
                if (!simple(v[j])) return false;
            }
        }
        return true;
    }
    names.forEach(function (name) {
        var handler = handlers[name];
        if (!handler) return;
        var send = call.bind(handler.postMessage, handler);
        define(handler, 'postMessage', { value: function postMessage(body) {
            var top = w === w.top, address = w.location.href, text, handOver = false;
            try { handOver = holdsLongText(body); } catch (e) {}
            if (handOver) {
                try {
                    send({ s: secret, t: top, u: address, b: body });
                    return;
                } catch (e) {}
            }
            try { text = write(body); } catch (e) {}
            if (typeof text === 'string') {
                send(secret + (top ? 'T' : 'F') + address + '\n' + text + padding);
            } else {
                send({ s: secret, t: top, u: address, b: body });
            }
        } });
        kept.push(handler);
    });
    // A handler's script object lives only while something holds it; a new one would lack the
    // guard. The window holds them (the page may find them: they hold no secret).
    define(w, Symbol(), { value: kept });
})(window, %NAMES%, %SECRET%, %PADDING_TEXT%);)JS";

std::string jsonString(const std::string& text) {
    auto json = ns::JSONSerialization::write(ns::Value(ns::Array{text}));
    return json ? json->substr(1, json->size() - 2) : "\"\"";
}

// Set while the client makes the view for a page's new window, so that the engine made for
// it knows that closing its window is the page's window closing.
bool gOpeningNewWindow = false;

// WebKit's addresses follow a more lenient parser than ours: what ours cannot hold is
// percent-encoded rather than the address lost.
std::optional<ns::URL> parseURL(const char* text) {
    return text ? ns::URL::parseEncodingInvalidCharacters(text) : std::nullopt;
}

// Whether the action's address is one our URLs can hold; one that is not is refused with a log
// line, never taken for another address.
bool readableAddress(WebKitNavigationAction* action) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (parseURL(uri)) return true;
    ns::nslog("Refused a navigation to an address that is no URL: %@", uri ? uri : "");
    return false;
}

// Signal handlers run inside GLib's C frames, which exceptions must not cross: one that escapes
// the program's code is thrown again from the main run loop, whose driver hands it to its caller.
void shielded(const std::function<void()>& body) {
    try {
        body();
    } catch (...) {
        dispatch::RunLoop::main().post(
            [error = std::current_exception()] { std::rethrow_exception(error); });
    }
}

NavigationType navigationTypeOf(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return NavigationType::LinkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return NavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return NavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return NavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return NavigationType::FormResubmitted;
        default:
            return NavigationType::Other;
    }
}

// A load failure in the URL loading system's terms, which the host's error handling reads.
ns::Error loadErrorOf(const GError* error, const std::string& uri) {
    int code = -1;  // unknown
    if (error->domain == WEBKIT_NETWORK_ERROR) {
        switch (error->code) {
            case WEBKIT_NETWORK_ERROR_CANCELLED:
                code = kURLErrorCancelled;
                break;
            case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
                code = kURLErrorFileDoesNotExist;
                break;
            case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
                code = kURLErrorUnsupportedURL;
                break;
            default:
                break;
        }
    } else if (error->domain == WEBKIT_POLICY_ERROR &&
               error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) {
        // A load that a policy decision stopped did not fail: nothing else goes on there.
        code = kURLErrorCancelled;
    }
    return ns::Error(kURLErrorDomain, code,
                     {{ns::kLocalizedDescriptionKey, std::string(error->message)},
                      {kURLErrorFailingURLStringErrorKey, uri}});
}

// A value of the page in the program's terms. Objects lose their key order on the way (the
// JSON that carries them across the process boundary is written with sorted keys); arrays keep
// theirs. Undefined becomes null; a string cut inside a surrogate pair has U+FFFD in place of
// the lone half; values that JSON cannot carry (functions, symbols, cycles) or nested deeper
// than the reader's limit answer why.
ns::Result<ns::Value> readValue(JSCValue* value) {
    if (!value || jsc_value_is_undefined(value) || jsc_value_is_null(value)) return ns::Value();
    gchar* json = jsc_value_to_json(value, 0);
    if (!json) {
        return ns::Error(
            kErrorDomain, kErrorJavaScriptResultTypeIsUnsupported,
            {{ns::kLocalizedDescriptionKey, std::string("The value has no JSON form.")}});
    }
    auto parsed = ns::JSONSerialization::read(
        json, {.fragmentsAllowed = true, .loneSurrogatesReplaced = true});
    g_free(json);
    return parsed;
}

std::optional<ns::Value> valueOf(JSCValue* value) {
    auto read = readValue(value);
    if (!read) return std::nullopt;
    return std::move(read.value());
}

// Longest array read element by element; a longer one is read through its JSON form. The
// frame guard posts no longer one as a value.
constexpr double kLongestWalkedArray = 1 << 20;

// A string's bytes as the engine converts it, without the zero it ends them with.
std::string stringOf(JSCValue* value) {
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    if (!bytes) return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(data ? data : "", data ? size : 0);
    g_bytes_unref(bytes);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// A body the frame guard posted as a value because it holds a long string: its arrays, down
// to `levels`, read element by element and their strings taken as they are, rather than
// written as JSON text and read back; any other element through its JSON form, which gives
// the same value. Nothing when some element cannot be read that way (the caller then reads
// the whole body through its JSON form, which says why).
std::optional<ns::Value> readHandedOver(JSCValue* value, int levels) {
    if (value && jsc_value_is_string(value)) return ns::Value(stringOf(value));
    if (value && levels > 0 && jsc_value_is_array(value)) {
        JSCValue* length = jsc_value_object_get_property(value, "length");
        const double count = jsc_value_to_double(length);
        g_object_unref(length);
        if (!(count >= 0 && count <= kLongestWalkedArray)) return std::nullopt;
        ns::Array elements;
        elements.reserve(static_cast<size_t>(count));
        for (unsigned i = 0; i < static_cast<unsigned>(count); ++i) {
            JSCValue* element = jsc_value_object_get_property_at_index(value, i);
            auto read = readHandedOver(element, levels - 1);
            g_object_unref(element);
            if (!read) return std::nullopt;
            elements.push_back(std::move(*read));
        }
        return ns::Value(std::move(elements));
    }
    auto read = readValue(value);
    if (!read) return std::nullopt;
    return std::move(read.value());
}

// A posted message: the whole value, or, when that cannot be read, what can be read of an
// array's top level, so that the receiver can still tell whom to answer.
std::pair<ns::Value, std::optional<ns::Error>> messageBodyOf(JSCValue* value) {
    auto read = readValue(value);
    if (read) return {std::move(read.value()), std::nullopt};
    ns::Value partial;
    if (value && jsc_value_is_array(value)) {
        ns::Array elements;
        JSCValue* length = jsc_value_object_get_property(value, "length");
        const auto count = static_cast<unsigned>(std::min(jsc_value_to_double(length), 64.0));
        g_object_unref(length);
        for (unsigned i = 0; i < count; ++i) {
            JSCValue* element = jsc_value_object_get_property_at_index(value, i);
            auto converted = readValue(element);
            g_object_unref(element);
            elements.push_back(converted ? std::move(converted.value()) : ns::Value());
        }
        partial = ns::Value(std::move(elements));
    }
    return {std::move(partial), read.error()};
}

// Holds a policy decision until the client answers; one dropped without an answer ignores
// the navigation, so that WebKit is never left waiting.
class PolicyAnswer {
public:
    explicit PolicyAnswer(WebKitPolicyDecision* decision)
        : decision_(GObjectRef<WebKitPolicyDecision>::retain(decision)) {}
    ~PolicyAnswer() {
        if (decision_) webkit_policy_decision_ignore(decision_.get());
    }
    PolicyAnswer(const PolicyAnswer&) = delete;
    PolicyAnswer& operator=(const PolicyAnswer&) = delete;

    void answer(bool allow) {
        if (!decision_) return;
        if (allow) {
            webkit_policy_decision_use(decision_.get());
        } else {
            webkit_policy_decision_ignore(decision_.get());
        }
        decision_.reset();
    }

private:
    GObjectRef<WebKitPolicyDecision> decision_;
};

struct Evaluation {
    std::weak_ptr<WebKitGtkEngine> engine;
    std::function<void(ns::Result<ns::Value>)> completion;
    JSCValue* (*finish)(WebKitWebView*, GAsyncResult*,
                        GError**) = &webkit_web_view_evaluate_javascript_finish;
};

void evaluationDone(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Evaluation> evaluation(static_cast<Evaluation*>(data));
    GError* error = nullptr;
    JSCValue* value = evaluation->finish(WEBKIT_WEB_VIEW(view), result, &error);
    // A view that went away takes its answers with it.
    if (!evaluation->engine.lock()) {
        if (error) g_error_free(error);
        if (value) g_object_unref(value);
        return;
    }
    if (error) {
        const bool unsupported = error->domain == WEBKIT_JAVASCRIPT_ERROR &&
                                 error->code == WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT;
        ns::Error failure(kErrorDomain,
                          unsupported ? kErrorJavaScriptResultTypeIsUnsupported
                                      : kErrorJavaScriptExceptionOccurred,
                          {{ns::kLocalizedDescriptionKey, std::string(error->message)}});
        g_error_free(error);
        evaluation->completion(failure);
        return;
    }
    auto converted = valueOf(value);
    if (value) g_object_unref(value);
    if (converted) {
        evaluation->completion(std::move(*converted));
    } else {
        evaluation->completion(ns::Error(
            kErrorDomain, kErrorJavaScriptResultTypeIsUnsupported,
            {{ns::kLocalizedDescriptionKey, std::string("JavaScript execution returned a result "
                                                        "of an unsupported type")}}));
    }
}

// Whether a value can be handed to a function call as it is: strings the engine takes as
// UTF-8 without a zero byte, numbers, booleans.
bool isPassable(const ns::Value& value) {
    if (const std::string* text = value.string()) {
        return text->find('\0') == std::string::npos &&
               simdjson::validate_utf8(text->data(), text->size());
    }
    return value.isNumber() || value.isBool();
}

// The value as the engine's argument; a string is taken over, not copied.
GVariant* argumentOf(ns::Value& value) {
    if (std::string* text = value.string()) {
        auto* held = new std::string(std::move(*text));
        return g_variant_new_from_data(
            G_VARIANT_TYPE_STRING, held->c_str(), held->size() + 1, TRUE,
            [](gpointer data) { delete static_cast<std::string*>(data); }, held);
    }
    if (value.isBool()) return g_variant_new_boolean(value.boolValue());
    return g_variant_new_double(value.doubleValue());
}

}  // namespace

// A script dialog that the client answers when it likes; closing it lets the page go on.
// Dialogs still open when the view goes are closed with the dismissed answer.
class WebKitGtkEngine::PendingDialog {
public:
    explicit PendingDialog(WebKitScriptDialog* dialog)
        : dialog_(webkit_script_dialog_ref(dialog)) {}
    ~PendingDialog() { close(); }
    PendingDialog(const PendingDialog&) = delete;
    PendingDialog& operator=(const PendingDialog&) = delete;

    WebKitScriptDialog* dialog() const { return dialog_; }
    bool isOpen() const { return dialog_ != nullptr; }
    void close() {
        if (!dialog_) return;
        WebKitScriptDialog* dialog = std::exchange(dialog_, nullptr);
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(dialog);
    }

private:
    WebKitScriptDialog* dialog_;
};

// --- Set-up ----------------------------------------------------------------------------------

bool WebKitGtkEngine::install() {
    if (!gtk_init_check(nullptr, nullptr)) return false;
    EngineRegistry::shared().registerEngine(kName, [](const auto& configuration, auto client) {
        return std::make_shared<WebKitGtkEngine>(configuration, std::move(client));
    });
    return EngineRegistry::shared().setDefaultEngine(kName);
}

std::shared_ptr<WebKitGtkEngine> WebKitGtkEngine::of(WebKitWebView* view) {
    if (!view) return nullptr;
    auto* engine = static_cast<WebKitGtkEngine*>(g_object_get_data(G_OBJECT(view), kEngineKey));
    return engine ? engine->weak_from_this().lock() : nullptr;
}

WebKitGtkEngine::WebKitGtkEngine(std::shared_ptr<WebViewConfiguration> configuration,
                                 std::weak_ptr<EngineClient> client)
    : configuration_(configuration ? std::move(configuration) : WebViewConfiguration::create()),
      client_(std::move(client)),
      contentManager_(
          GObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new())),
      openedAsNewWindow_(gOpeningNewWindow),
      messageSecret_(randomSecret()),
      navigations_(client_) {
    view_ = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                     WebKitGtkContext::shared().contextFor(configuration_->processPool()),
                     "user-content-manager", contentManager_.get(), nullptr));
    gate_ = std::make_unique<WebKitGtkMainFrameGate>(contentManager_.get());
    g_object_set_data(G_OBJECT(view_), kEngineKey, this);
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    engineUserAgent_ = webkit_settings_get_user_agent(settings);
    // The page's console lines go to the terminal with the host's log.
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, TRUE);

    ui::Size size = ui::Screen::main().bounds().size;
    if (auto view = std::dynamic_pointer_cast<WebView>(client_.lock())) {
        if (view->frame().size.width > 0 && view->frame().size.height > 0) {
            size = view->frame().size;
        }
    }
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), static_cast<int>(size.width),
                                static_cast<int>(size.height));
    // The page sits in an overlay from the start, where native views shown over it (the launch
    // screen) find their layer: moved to another parent while its web process starts, the page
    // would make GTK's next paints wait for that process, up to half a second each.
    GtkWidget* stack = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(stack), GTK_WIDGET(view_));
    gtk_container_add(GTK_CONTAINER(window_), stack);

    g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view_, "notify::title", G_CALLBACK(onTitleChanged), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
    g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(view_, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_, "close", G_CALLBACK(onClose), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onWindowDelete), this);
    g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(onTLSErrors), this);
    syncContent();
}

WebKitGtkEngine::~WebKitGtkEngine() {
    answerDialogs();
    schemeTasks_.clear();
    g_signal_handlers_disconnect_by_data(view_, this);
    g_signal_handlers_disconnect_by_data(window_, this);
    for (const auto& [name, handler] : messageHandlers_) {
        webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(),
                                                                      name.c_str());
        g_signal_handler_disconnect(contentManager_.get(), handler);
    }
    g_object_set_data(G_OBJECT(view_), kEngineKey, nullptr);
    gtk_widget_destroy(window_);
    for (const auto& retried : retriedCertificates_) g_object_unref(retried.second);
}

void WebKitGtkEngine::showWindow() {
    if (windowShown_) return;
    windowShown_ = true;
    gtk_widget_show_all(window_);
}

// --- Keeping WebKit's view of the configuration current ------------------------------------------

void WebKitGtkEngine::syncContent() {
    for (const auto& scheme : configuration_->urlSchemesWithHandlers()) {
        WebKitGtkContext::shared().registerScheme(scheme);
    }
    syncMessageHandlers();
    syncUserScripts();
    syncSettings();
}

void WebKitGtkEngine::syncMessageHandlers() {
    const auto& controller = configuration_->userContentController();
    std::set<std::string> wanted;
    if (controller) {
        for (auto& name : controller->scriptMessageHandlerNames()) wanted.insert(std::move(name));
    }
    for (auto it = messageHandlers_.begin(); it != messageHandlers_.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(),
                                                                      it->first.c_str());
        g_signal_handler_disconnect(contentManager_.get(), it->second);
        it = messageHandlers_.erase(it);
    }
    for (const auto& name : wanted) {
        if (messageHandlers_.count(name)) continue;
        // Connected before the name is registered, so that no message is missed.
        const std::string signal = "script-message-received::" + name;
        messageHandlers_[name] = g_signal_connect_data(
            contentManager_.get(), signal.c_str(), G_CALLBACK(onScriptMessage),
            new MessageChannel{this, name},
            [](gpointer channel, GClosure*) { delete static_cast<MessageChannel*>(channel); },
            GConnectFlags{});
        webkit_user_content_manager_register_script_message_handler(contentManager_.get(),
                                                                    name.c_str());
    }
}

void WebKitGtkEngine::syncUserScripts() {
    const auto& controller = configuration_->userContentController();
    const std::vector<UserScript> wanted =
        controller ? controller->userScripts() : std::vector<UserScript>{};
    auto same = [](const UserScript& a, const UserScript& b) {
        return a.source == b.source && a.injectionTime == b.injectionTime &&
               a.forMainFrameOnly == b.forMainFrameOnly;
    };
    std::string guard = frameGuardScript();
    if (guard == frameGuard_ &&
        std::equal(wanted.begin(), wanted.end(), userScripts_.begin(), userScripts_.end(), same)) {
        return;
    }
    webkit_user_content_manager_remove_all_scripts(contentManager_.get());
    if (!guard.empty()) {
        WebKitUserScript* userScript =
            webkit_user_script_new(guard.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                   WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(contentManager_.get(), userScript);
        webkit_user_script_unref(userScript);
    }
    frameGuard_ = std::move(guard);
    for (const auto& script : wanted) {
        WebKitUserScript* userScript = webkit_user_script_new(
            script.source.c_str(),
            script.forMainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME
                                    : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
            script.injectionTime == UserScript::InjectionTime::AtDocumentStart
                ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START
                : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END,
            nullptr, nullptr);
        webkit_user_content_manager_add_script(contentManager_.get(), userScript);
        webkit_user_script_unref(userScript);
    }
    userScripts_ = wanted;
}

std::string WebKitGtkEngine::frameGuardScript() const {
    if (messageHandlers_.empty()) return {};
    ns::Array names;
    for (const auto& [name, connection] : messageHandlers_) names.emplace_back(name);
    std::string script = kFrameGuardScript;
    const auto replace = [&script](std::string_view key, const std::string& value) {
        script.replace(script.find(key), key.size(), value);
    };
    replace("%NAMES%", ns::JSONSerialization::write(ns::Value(std::move(names))).value());
    replace("%SECRET%", jsonString(messageSecret_));
    replace("%PADDING_TEXT%", jsonString(std::string(ns::JSONText::kPadding, ' ')));
    return script;
}

void WebKitGtkEngine::syncSettings() {
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    if (const auto& preferences = configuration_->preferences()) {
        webkit_settings_set_enable_javascript(settings, preferences->javaScriptEnabled());
        webkit_settings_set_javascript_can_open_windows_automatically(
            settings, preferences->javaScriptCanOpenWindowsAutomatically());
        webkit_settings_set_minimum_font_size(
            settings, static_cast<guint32>(std::max(0.0, preferences->minimumFontSize())));
    }
    webkit_settings_set_media_playback_allows_inline(settings,
                                                     configuration_->allowsInlineMediaPlayback());
    webkit_settings_set_media_playback_requires_user_gesture(
        settings,
        configuration_->mediaTypesRequiringUserActionForPlayback() != kAudiovisualMediaTypeNone);
    std::string userAgent = engineUserAgent_;
    // The engine's own agent is a desktop's; a page asked for in its mobile form says so, as a
    // phone's browser does.
    const auto& pagePreferences = configuration_->defaultWebpagePreferences();
    if (pagePreferences &&
        pagePreferences->preferredContentMode() == WebpagePreferences::ContentMode::Mobile) {
        if (auto at = userAgent.rfind(" Safari/"); at != std::string::npos) {
            userAgent.insert(at, " Mobile");
        } else {
            userAgent += " Mobile";
        }
    }
    if (customUserAgent_) {
        userAgent = *customUserAgent_;
    } else if (const auto& name = configuration_->applicationNameForUserAgent()) {
        if (!name->empty()) userAgent += " " + *name;
    }
    if (userAgent != webkit_settings_get_user_agent(settings)) {
        webkit_settings_set_user_agent(settings, userAgent.c_str());
    }
}

// --- Loads ------------------------------------------------------------------------------------

std::shared_ptr<Navigation> WebKitGtkEngine::beginLoad(const std::function<void()>& start) {
    syncContent();
    showWindow();
    auto navigation = std::make_shared<Navigation>();
    requested_ = navigation;
    start();
    return navigation;
}

std::shared_ptr<Navigation> WebKitGtkEngine::loadRequest(const URLRequest& request) {
    return beginLoad([&] {
        WebKitURIRequest* uriRequest =
            webkit_uri_request_new(request.url().absoluteString().c_str());
        if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(uriRequest)) {
            for (const auto& [name, value] : request.allHTTPHeaderFields()) {
                soup_message_headers_replace(headers, name.c_str(), value.c_str());
            }
        }
        webkit_web_view_load_request(view_, uriRequest);
        g_object_unref(uriRequest);
    });
}

std::shared_ptr<Navigation> WebKitGtkEngine::loadFileURL(const ns::URL& url, const ns::URL&) {
    return beginLoad([&] { webkit_web_view_load_uri(view_, url.absoluteString().c_str()); });
}

std::shared_ptr<Navigation> WebKitGtkEngine::loadHTMLString(const std::string& html,
                                                            const std::optional<ns::URL>& baseURL) {
    const std::string base = baseURL ? baseURL->absoluteString() : "about:blank";
    return beginLoad([&] { webkit_web_view_load_html(view_, html.c_str(), base.c_str()); });
}

std::shared_ptr<Navigation> WebKitGtkEngine::reload() {
    if (!webkit_web_view_get_uri(view_)) return nullptr;
    return beginLoad([&] { webkit_web_view_reload(view_); });
}

void WebKitGtkEngine::stopLoading() {
    webkit_web_view_stop_loading(view_);
}

std::shared_ptr<Navigation> WebKitGtkEngine::goBack() {
    if (!canGoBack()) return nullptr;
    return beginLoad([&] { webkit_web_view_go_back(view_); });
}

std::shared_ptr<Navigation> WebKitGtkEngine::goForward() {
    if (!canGoForward()) return nullptr;
    return beginLoad([&] { webkit_web_view_go_forward(view_); });
}

bool WebKitGtkEngine::canGoBack() const {
    return webkit_web_view_can_go_back(view_);
}

bool WebKitGtkEngine::canGoForward() const {
    return webkit_web_view_can_go_forward(view_);
}

std::optional<ns::URL> WebKitGtkEngine::url() const {
    if (!committed_) return std::nullopt;
    // The history's current entry follows the committed page, same-document navigations
    // (fragments, history.pushState) included; the view's own URI already names a page that
    // is still being loaded.
    auto* list = webkit_web_view_get_back_forward_list(view_);
    if (auto* item = webkit_back_forward_list_get_current_item(list)) {
        if (auto url = parseURL(webkit_back_forward_list_item_get_uri(item))) return url;
    }
    return committedURL_;
}

std::optional<std::string> WebKitGtkEngine::title() const {
    // A page whose content process has gone has no title, which is how the host tells that it
    // shows nothing.
    if (!committed_ || contentGone_) return std::nullopt;
    const char* title = webkit_web_view_get_title(view_);
    return std::string(title ? title : "");
}

bool WebKitGtkEngine::isLoading() const {
    return webkit_web_view_is_loading(view_);
}

double WebKitGtkEngine::estimatedProgress() const {
    return webkit_web_view_get_estimated_load_progress(view_);
}

void WebKitGtkEngine::evaluateJavaScript(std::string script,
                                         std::function<void(ns::Result<ns::Value>)> completion) {
    if (!completion) {
        webkit_web_view_evaluate_javascript(view_, script.data(),
                                            static_cast<gssize>(script.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
        return;
    }
    webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, &evaluationDone,
                                        new Evaluation{weak_from_this(), std::move(completion)});
}

void WebKitGtkEngine::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                          std::function<void(ns::Result<ns::Value>)> completion) {
    for (const auto& [name, value] : arguments) {
        if (!isPassable(value)) {
            Engine::callAsyncJavaScript(std::move(body), std::move(arguments),
                                        std::move(completion));
            return;
        }
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (auto& [name, value] : arguments) {
        g_variant_builder_add(&builder, "{sv}", name.c_str(), argumentOf(value));
    }
    GVariant* passed = g_variant_builder_end(&builder);
    if (!completion) {
        webkit_web_view_call_async_javascript_function(view_, body.data(),
                                                       static_cast<gssize>(body.size()), passed,
                                                       nullptr, nullptr, nullptr, nullptr, nullptr);
        return;
    }
    auto* evaluation = new Evaluation{weak_from_this(), std::move(completion),
                                      &webkit_web_view_call_async_javascript_function_finish};
    webkit_web_view_call_async_javascript_function(
        view_, body.data(), static_cast<gssize>(body.size()), passed, nullptr, nullptr, nullptr,
        &evaluationDone, evaluation);
}

void WebKitGtkEngine::setCustomUserAgent(const std::optional<std::string>& userAgent) {
    customUserAgent_ = userAgent;
    syncSettings();
}

void WebKitGtkEngine::terminateWebProcess() {
    webkit_web_view_terminate_web_process(view_);
}

FrameInfo WebKitGtkEngine::mainFrameInfo() const {
    URLRequest request(committedURL_.value_or(*ns::URL::parse("about:blank")));
    request.setMainDocumentURL(request.url());
    return FrameInfo{true, request};
}

FrameInfo WebKitGtkEngine::frameInfo(bool isMainFrame, const ns::URL& url) const {
    URLRequest request(url);
    request.setMainDocumentURL(
        isMainFrame ? url : committedURL_.value_or(*ns::URL::parse("about:blank")));
    return FrameInfo{isMainFrame, request};
}

NavigationAction WebKitGtkEngine::actionOf(WebKitNavigationAction* action, bool newWindow) const {
    WebKitURIRequest* uriRequest = webkit_navigation_action_get_request(action);
    auto url = parseURL(webkit_uri_request_get_uri(uriRequest));
    URLRequest request(url.value_or(*ns::URL::parse("about:blank")));
    if (const char* method = webkit_uri_request_get_http_method(uriRequest)) {
        request.setHTTPMethod(method);
    }
    const NavigationType type =
        navigationTypeOf(webkit_navigation_action_get_navigation_type(action));
    const bool mainFrame = isMainFrameAction(action);
    request.setMainDocumentURL(mainFrame ? request.url() : mainFrameInfo().request.url());
    NavigationAction result{request, type, mainFrameInfo(), std::nullopt};
    if (!newWindow) result.targetFrame = FrameInfo{mainFrame, request};
    return result;
}

// WebKitGTK does not say which frame a navigation is for. One that the program asked for, that
// goes through the history, or that the user started is taken as the main frame's, and so is a
// redirect of a document that its request names as the top's. One that a script or a frame's
// own load started without the user (an iframe's address, a timer, a meta refresh) may be a
// frame's and is presented as one, so that no such load opens another application; should it
// be the main frame's, the gate holds its request back and it is presented again as that.
bool WebKitGtkEngine::isMainFrameAction(WebKitNavigationAction* action) const {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    if (webkit_navigation_action_is_redirect(action)) {
        SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
        const char* destination =
            headers ? soup_message_headers_get_one(headers, "Sec-Fetch-Dest") : nullptr;
        if (destination) return std::string_view(destination) == "document";
    }
    return requested_ ||
           navigationTypeOf(webkit_navigation_action_get_navigation_type(action)) !=
               NavigationType::Other ||
           webkit_navigation_action_is_user_gesture(action);
}

// --- Signals -----------------------------------------------------------------------------------

gboolean WebKitGtkEngine::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                         WebKitPolicyDecisionType type, gpointer self) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        gboolean handled = FALSE;
        shielded([&] {
            handled = static_cast<WebKitGtkEngine*>(self)->decideResponse(
                WEBKIT_RESPONSE_POLICY_DECISION(decision));
        });
        return handled;
    }
    shielded([&] {
        static_cast<WebKitGtkEngine*>(self)->decideNavigation(
            decision, type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION);
    });
    return TRUE;
}

bool WebKitGtkEngine::decideResponse(WebKitResponsePolicyDecision* decision) {
    // Only the main frame's page is the client's to decide; everything else follows WebKit's
    // own rules (show what it can, download the rest).
    auto client = this->client();
    if (!client || !webkit_response_policy_decision_is_main_frame_main_resource(decision)) {
        return false;
    }
    WebKitURIRequest* uriRequest = webkit_response_policy_decision_get_request(decision);
    auto url = parseURL(webkit_uri_request_get_uri(uriRequest));
    NavigationResponse response{URLRequest(url.value_or(*ns::URL::parse("about:blank"))), true};
    if (const char* method = webkit_uri_request_get_http_method(uriRequest)) {
        response.request.setHTTPMethod(method);
    }
    response.request.setMainDocumentURL(response.request.url());
    // Answered at once in the usual case: an allowed response then takes WebKit's own rules.
    auto answered = std::make_shared<std::optional<bool>>();
    auto held = GObjectRef<WebKitPolicyDecision>::retain(WEBKIT_POLICY_DECISION(decision));
    auto synchronous = std::make_shared<bool>(true);
    client->navigationResponseToDecide(
        response, [answered, held, synchronous](NavigationResponsePolicy policy) {
            const bool allow = policy == NavigationResponsePolicy::Allow;
            if (*synchronous) {
                *answered = allow;
            } else if (allow) {
                webkit_policy_decision_use(held.get());
            } else {
                webkit_policy_decision_ignore(held.get());
            }
        });
    *synchronous = false;
    if (!answered->has_value()) return true;  // the client answers later
    if (**answered) return false;
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return true;
}

void WebKitGtkEngine::decideNavigation(WebKitPolicyDecision* decision, bool newWindow) {
    auto keep = shared_from_this();
    auto answer = std::make_shared<PolicyAnswer>(decision);
    auto client = this->client();
    if (!client) {
        answer->answer(true);
        return;
    }
    auto* navigationAction = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    if (!readableAddress(navigationAction)) {
        answer->answer(false);
        return;
    }
    const NavigationAction action = actionOf(navigationAction, newWindow);
    const bool mainFrame = !newWindow && action.targetFrame && action.targetFrame->isMainFrame;
    const std::string url =
        webkit_uri_request_get_uri(webkit_navigation_action_get_request(navigationAction));
    if (mainFrame && webkit_navigation_action_is_redirect(navigationAction)) {
        // Should the page's load end here, it ends at this address.
        redirectURL_ = url;
    }
    if (mainFrame && requested_ && preapproved_.navigation == requested_ &&
        preapproved_.url == action.request.url().absoluteString()) {
        // A load the engine starts again for a navigation its client allowed already.
        preapproved_ = {};
        letThrough(url, [answer](bool passed) { answer->answer(passed); });
        return;
    }
    client->navigationActionToDecide(action, [answer, weak = weak_from_this(), newWindow, mainFrame,
                                              url](NavigationActionPolicy policy) {
        const bool allow = policy == NavigationActionPolicy::Allow;
        auto self = weak.lock();
        // A load the program asked for that is refused never starts.
        if (self && !allow && !newWindow) self->requested_.reset();
        if (self && allow && mainFrame) {
            self->letThrough(url, [answer](bool passed) { answer->answer(passed); });
            return;
        }
        answer->answer(allow);
    });
}

void WebKitGtkEngine::letThrough(const std::string& url, std::function<void(bool)> answer) {
    mainFrameAllowed_ = true;
    gate_->pass(url, std::move(answer));
}

void WebKitGtkEngine::decideAgainAsMainFrame(const std::string& address) {
    auto client = this->client();
    const auto url = parseURL(address.c_str());
    if (!client || !url) return;
    URLRequest request(*url);
    request.setMainDocumentURL(*url);
    NavigationAction action{request, NavigationType::Other, mainFrameInfo(),
                            FrameInfo{true, request}};
    client->navigationActionToDecide(
        action, [weak = weak_from_this(), request](NavigationActionPolicy policy) {
            auto self = weak.lock();
            if (!self || policy != NavigationActionPolicy::Allow) return;
            auto navigation = self->loadRequest(request);
            self->preapproved_ = {navigation, request.url().absoluteString()};
        });
}

void WebKitGtkEngine::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    shielded([&] { static_cast<WebKitGtkEngine*>(self)->loadChanged(event); });
}

void WebKitGtkEngine::loadChanged(WebKitLoadEvent event) {
    auto keep = shared_from_this();
    switch (event) {
        case WEBKIT_LOAD_STARTED: {
            auto navigation =
                requested_ ? std::exchange(requested_, nullptr) : std::make_shared<Navigation>();
            provisional_ = true;
            redirectURL_.reset();
            // The load let through has started: its request is on its way, and the gate holds
            // every other again.
            gate_->close();
            // A navigation no decision about the main frame allowed: unless it is of a kind the
            // gate does not hold, its request is held back and it ends at once. Its start is
            // told when anything else comes of it.
            navigations_.started(std::move(navigation), std::exchange(mainFrameAllowed_, false));
            break;
        }
        case WEBKIT_LOAD_REDIRECTED:
            gate_->close();
            redirectURL_.reset();
            navigations_.redirected();
            break;
        case WEBKIT_LOAD_COMMITTED:
            gate_->close();
            redirectURL_.reset();
            provisional_ = false;
            committed_ = true;
            contentGone_ = false;
            committedURL_ = parseURL(webkit_web_view_get_uri(view_));
            navigations_.committed();
            break;
        case WEBKIT_LOAD_FINISHED:
            provisional_ = false;
            navigations_.finished();
            break;
    }
}

gboolean WebKitGtkEngine::onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar* uri,
                                       GError* error, gpointer self) {
    shielded([&] { static_cast<WebKitGtkEngine*>(self)->loadFailed(event, uri, error); });
    // The host shows its own error page; WebKit's would arrive later and cancel that load.
    return TRUE;
}

void WebKitGtkEngine::loadFailed(WebKitLoadEvent event, const char* uri, const GError* error) {
    auto keep = shared_from_this();
    if (!navigations_.inProgress()) return;
    // A refused redirect ends the load at the address it was refused, not where it began.
    const std::string failedAt = redirectURL_.value_or(uri ? uri : "");
    redirectURL_.reset();
    if (WebKitGtkMainFrameGate::isRefusal(error)) {
        // The gate held back the request of a navigation that turned out to be the main
        // frame's: its client decides it again, as the main frame's, on the next turn (after
        // WebKit is done with this load).
        navigations_.heldBack(failedAt);
        dispatch::RunLoop::main().post([weak = weak_from_this(), failedAt] {
            if (auto self = weak.lock()) self->decideAgainAsMainFrame(failedAt);
        });
        return;
    }
    navigations_.failed(event != WEBKIT_LOAD_STARTED && event != WEBKIT_LOAD_REDIRECTED,
                        loadErrorOf(error, failedAt));
}

gboolean WebKitGtkEngine::onTLSErrors(WebKitWebView*, gchar* uri, GTlsCertificate* certificate,
                                      GTlsCertificateFlags, gpointer self) {
    bool retried = false;
    shielded([&] {
        retried = static_cast<WebKitGtkEngine*>(self)->retryWithExtraAuthority(uri, certificate);
    });
    // Not ours to trust: the load fails as WebKit reports it.
    return retried ? TRUE : FALSE;
}

// The engine's network process trusts the system's authorities only. A server whose
// certificate the process's other connections trust through the extra authority
// (net::TLSSettings) is trusted here too, for that host, and the load goes on; nothing else
// is let through.
bool WebKitGtkEngine::retryWithExtraAuthority(const char* uri, GTlsCertificate* certificate) {
    const std::string caFile = net::TLSSettings::extraCAFile();
    GUri* parsed = uri ? g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr) : nullptr;
    if (caFile.empty() || !parsed || !certificate || !g_uri_get_host(parsed)) {
        if (parsed) g_uri_unref(parsed);
        return false;
    }
    const std::string host = g_uri_get_host(parsed);
    const int port = g_uri_get_port(parsed);
    GSocketConnectable* identity =
        g_network_address_new(host.c_str(), static_cast<guint16>(port > 0 ? port : 443));
    g_uri_unref(parsed);
    bool trusted = false;
    GList* authorities = g_tls_certificate_list_new_from_file(caFile.c_str(), nullptr);
    for (GList* a = authorities; a && !trusted; a = a->next) {
        trusted = g_tls_certificate_verify(certificate, identity, G_TLS_CERTIFICATE(a->data)) == 0;
    }
    g_list_free_full(authorities, g_object_unref);
    g_object_unref(identity);
    if (!trusted) return false;
    // Once per view, host and certificate: a load that fails again with a certificate already
    // let through fails as WebKit reports it, rather than being tried forever. Kept per view,
    // not for the process: another view's load that failed before the certificate was let
    // through, or after the engine's network process started afresh and forgot it, still gets
    // its one retry.
    for (const auto& [retriedHost, retriedCertificate] : retriedCertificates_) {
        if (retriedHost == host && g_tls_certificate_is_same(retriedCertificate, certificate))
            return false;
    }
    retriedCertificates_.emplace_back(host, G_TLS_CERTIFICATE(g_object_ref(certificate)));
    webkit_web_context_allow_tls_certificate_for_host(webkit_web_view_get_context(view_),
                                                      certificate, host.c_str());
    // The same navigation goes on with the new attempt, which its client allowed already; the
    // page hears nothing of the attempt that failed.
    requested_ = navigations_.retrying(uri);
    if (auto url = parseURL(uri)) preapproved_ = {requested_, url->absoluteString()};
    webkit_web_view_load_uri(view_, uri);
    return true;
}

void WebKitGtkEngine::onTitleChanged(WebKitWebView* view, GParamSpec*, gpointer data) {
    auto* self = static_cast<WebKitGtkEngine*>(data);
    const char* title = webkit_web_view_get_title(view);
    gtk_window_set_title(GTK_WINDOW(self->window_), title ? title : "");
}

void WebKitGtkEngine::onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                          gpointer self) {
    shielded([&] { static_cast<WebKitGtkEngine*>(self)->processTerminated(reason); });
}

void WebKitGtkEngine::processTerminated(WebKitWebProcessTerminationReason reason) {
    auto keep = shared_from_this();
    ns::nslog("The web content process ended (%@).",
              reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "crashed"
              : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "out of memory"
                                                                   : "terminated");
    contentGone_ = true;
    provisional_ = false;
    navigations_.processEnded();
    answerDialogs();
    if (auto client = this->client()) client->webContentProcessTerminated();
}

gboolean WebKitGtkEngine::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog,
                                         gpointer self) {
    shielded([&] { static_cast<WebKitGtkEngine*>(self)->scriptDialog(dialog); });
    return TRUE;
}

void WebKitGtkEngine::scriptDialog(WebKitScriptDialog* dialog) {
    auto keep = shared_from_this();
    auto client = this->client();
    const auto type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // Leaving a page is never held up.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return;
    }
    if (!client) return;  // dismissed as the signal returns
    auto pending = std::make_shared<PendingDialog>(dialog);
    dialogs_.push_back(pending);
    auto done = [weak = weak_from_this(), pending] {
        pending->close();
        if (auto engine = weak.lock()) std::erase(engine->dialogs_, pending);
    };
    const std::string message = webkit_script_dialog_get_message(dialog);
    const FrameInfo frame = mainFrameInfo();
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            client->alertRequested(message, frame, done);
            break;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            client->confirmRequested(message, frame, [pending, done](bool confirmed) {
                if (pending->isOpen()) {
                    webkit_script_dialog_confirm_set_confirmed(pending->dialog(), confirmed);
                }
                done();
            });
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT: {
            const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
            client->promptRequested(
                message, defaultText ? std::optional<std::string>(defaultText) : std::nullopt,
                frame, [pending, done](std::optional<std::string> text) {
                    // Without a text the prompt counts as cancelled.
                    if (pending->isOpen() && text) {
                        webkit_script_dialog_prompt_set_text(pending->dialog(), text->c_str());
                    }
                    done();
                });
            break;
        }
        default:
            done();
            break;
    }
    // The client's answer usually comes from an alert on the headless screen, which the view
    // presenter shows on the display.
}

void WebKitGtkEngine::answerDialogs() {
    auto dialogs = std::exchange(dialogs_, {});
    for (const auto& dialog : dialogs) dialog->close();
}

GtkWidget* WebKitGtkEngine::onCreate(WebKitWebView*, WebKitNavigationAction* action,
                                     gpointer self) {
    shielded([&] { static_cast<WebKitGtkEngine*>(self)->openNewWindow(action); });
    // WebKit gets no window of its own making (see the class comment).
    return nullptr;
}

void WebKitGtkEngine::openNewWindow(WebKitNavigationAction* navigationAction) {
    auto keep = shared_from_this();
    auto client = this->client();
    if (!client || !readableAddress(navigationAction)) return;
    const NavigationAction action = actionOf(navigationAction, true);
    struct Opening {
        Opening() { gOpeningNewWindow = true; }
        ~Opening() { gOpeningNewWindow = false; }
    };
    std::shared_ptr<WebView> webView;
    {
        Opening opening;
        webView = client->newWindowRequested(action, WindowFeatures{});
    }
    if (webView) webView->loadRequest(action.request);
}

void WebKitGtkEngine::onClose(WebKitWebView*, gpointer self) {
    shielded([&] {
        auto engine = static_cast<WebKitGtkEngine*>(self)->shared_from_this();
        if (auto client = engine->client()) client->closeRequested();
    });
}

gboolean WebKitGtkEngine::onWindowDelete(GtkWidget*, GdkEvent*, gpointer self) {
    shielded([&] {
        auto engine = static_cast<WebKitGtkEngine*>(self)->shared_from_this();
        if (!engine->openedAsNewWindow_) {
            // Closing the application's window ends the application, as a terminate signal
            // does.
            ::kill(::getpid(), SIGTERM);
        } else if (auto client = engine->client()) {
            // The user closes a page's window as the page would.
            client->closeRequested();
        }
    });
    return TRUE;
}

void WebKitGtkEngine::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                      gpointer data) {
    shielded([&] {
        auto* channel = static_cast<MessageChannel*>(data);
        auto engine = channel->engine->shared_from_this();
        engine->takeScriptMessage(channel->name, webkit_javascript_result_get_js_value(result));
    });
}

bool WebKitGtkEngine::takeGuardedText(const std::string& name, JSCValue* posted,
                                      EngineClient& client) {
    GBytes* bytes = jsc_value_to_string_as_bytes(posted);
    if (!bytes) return false;
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string_view text(data ? data : "", data ? size : 0);
    if (text.ends_with('\0')) text.remove_suffix(1);
    const auto message =
        WebKitGtkGuardedMessage::read(text, messageSecret_, ns::JSONText::kPadding);
    if (!message) {
        g_bytes_unref(bytes);
        return false;
    }
    const FrameInfo frame = guardedFrame(message->topFrame, message->address);
    // The body is read where the engine put it; the bytes go when the last reader is done.
    auto body = ns::JSONText::adopt(message->body.data(), message->body.size(),
                                    message->body.size() + ns::JSONText::kPadding,
                                    [bytes] { g_bytes_unref(bytes); });
    client.scriptMessagePostedAsJSON(name, ns::JSONSlice(std::move(body)), frame);
    return true;
}

FrameInfo WebKitGtkEngine::guardedFrame(bool top, std::string_view address) {
    // A page posts from the same frame and address call after call: its facts are read once.
    // Only the top frame's are kept: a sub-frame's name the page it is in as well, which
    // changes with each commit.
    if (top && lastFrame_ && address == lastFrameAddress_) return *lastFrame_;
    const auto url = ns::URL::parse(address);
    FrameInfo frame = frameInfo(top, url.value_or(*ns::URL::parse("about:blank")));
    if (top) {
        lastFrameAddress_.assign(address);
        lastFrame_ = frame;
    }
    return frame;
}

void WebKitGtkEngine::takeScriptMessage(const std::string& name, JSCValue* posted) {
    auto client = this->client();
    if (!client) return;
    if (posted && jsc_value_is_string(posted) && takeGuardedText(name, posted, *client)) return;
    const auto property = [posted](const char* key) {
        return GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(posted, key));
    };
    FrameInfo frame = frameInfo(false, *ns::URL::parse("about:blank"));
    GObjectRef<JSCValue> body = GObjectRef<JSCValue>::retain(posted);
    if (posted && jsc_value_is_object(posted)) {
        auto secret = property("s");
        gchar* text =
            jsc_value_is_string(secret.get()) ? jsc_value_to_string(secret.get()) : nullptr;
        const bool guarded = text && messageSecret_ == text;
        g_free(text);
        if (guarded) {
            auto address = property("u");
            gchar* url = jsc_value_to_string(address.get());
            const auto parsed = ns::URL::parse(url ? url : "");
            g_free(url);
            frame = frameInfo(jsc_value_to_boolean(property("t").get()),
                              parsed.value_or(*ns::URL::parse("about:blank")));
            body = property("b");
            // The guard posts a body as a value when it holds a long string, in an array at
            // most one level down.
            if (auto read = readHandedOver(body.get(), 2)) {
                client->scriptMessagePosted(name, std::move(*read), frame, std::nullopt);
                return;
            }
        }
    }
    auto [value, bodyError] = messageBodyOf(body.get());
    client->scriptMessagePosted(name, std::move(value), frame, std::move(bodyError));
}

// --- Custom schemes ------------------------------------------------------------------------------

void WebKitGtkEngine::startSchemeRequest(WebKitURISchemeRequest* request) {
    shielded([&] { serveSchemeRequest(request); });
}

void WebKitGtkEngine::serveSchemeRequest(WebKitURISchemeRequest* request) {
    auto keep = shared_from_this();
    std::weak_ptr<WebKitGtkEngine> weak = weak_from_this();
    auto receiver = std::make_shared<WebKitGtkSchemeTask>(
        request,
        [weak](const std::shared_ptr<WebKitGtkSchemeTask>& task) {
            auto self = weak.lock();
            if (auto client = self ? self->client() : nullptr)
                client->schemeTaskStopped(task->task());
        },
        [weak](const std::shared_ptr<WebKitGtkSchemeTask>& task) {
            if (auto self = weak.lock()) std::erase(self->schemeTasks_, task);
        });
    schemeTasks_.push_back(receiver);
    const auto& task = receiver->makeTask();
    auto client = this->client();
    if (!client || !client->schemeTaskStarted(task)) receiver->refuse();
}

}  // namespace wk
