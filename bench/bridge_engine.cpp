// The command bridge in the real web engine (WebKitGTK), against floors written directly on
// WebKitGTK's own API in the same run and the same process: a second web view with a user
// content manager of its own, script message handlers and webkit_web_view_evaluate_javascript
// (or webkit_web_view_call_async_javascript_function where a value is handed over), with no
// layer of ours in between. Each floor does what the bridge must do for the same page-visible
// result and nothing more, by the fastest means found for it:
//   round trip  the page posts the call as JSON text; the handler reads the callback id and
//               the argument with the SIMD library's on-demand reader (on a padded copy, as
//               its documentation asks) and evaluates one callback script carrying the id and
//               the argument's JSON
//   burst       the same, answers merged as the bridge merges them: the first of a main-loop
//               turn at once, the rest of the turn in one evaluation at its end, each shielded
// BM_Sequential      one call after another, each made when the last one's callback ran; a
//                    round trip is the time between two calls reaching the native side (the
//                    page's clock is too coarse). p50/p99, and the ratio of the p50s (goal
//                    1.2)
// BM_Burst           kBurst calls posted in one turn, the bridge and the floor taking turns to
//                    go first: calls per second, the main thread's processor time, the ratio
//                    of the page's times and "cpu_ratio", that of the processor times (goal 1.3)
// BM_Echo/N          an N-byte string to a plug-in and back to the page's callback, one echo
//                    after another; floor: the page posts the string with the id in front, or
//                    from 64 KiB [id, string] as a value (as the bridge's page hands over a
//                    call holding a long string), the handler hands the string straight back
//                    as a function argument (no copy, no escaping).
//                    Mean time of one echo, ratio (goal 1.15)
// BM_LargeAnswer/N   a SELECT of N rows through the SQLite plug-in's executeSql: the time from
//                    the call to its callback, against the page's own JSON.parse of the same
//                    answer's text, each the mean of enough rounds for the page's coarse clock
//                    (goal: 1.2 at 1M rows, 1.5 at 100k and 10k)
// BM_ArrayBuffer     a 64 MiB file read as an array buffer through the file plug-in to the
//                    page's callback; floor: read(2) of the whole file, one Base64 encode with
//                    the TLS library's encoder, the text handed to the page as a function
//                    argument, decoded there into an ArrayBuffer by the same means as the
//                    bridge's page script (the engine's own Base64 decoder). Ratio (goal 1.5)
// BM_AnswerPeak/M   the host's resident high-water mark while an answer of about M MiB (a
//                    SELECT of rows of some 1 KiB through executeSql) reaches the page's
//                    callback, above the resident memory at the call; floor: the same rows read
//                    with one prepared statement, written as the same JSON text and handed to
//                    the page whole as a function argument (no copy), parsed there. Medians of
//                    the rounds with their range, and the ratio of the medians
// BM_FileReadPeak    the same for BM_ArrayBuffer's read of a 64 MiB file, floor and all
// It needs a display: without DISPLAY or WAYLAND_DISPLAY it starts itself again under
// xvfb-run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <simdjson.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CompositionRoot.h"
#include "bench/BenchDisplay.h"
#include "bridge/HYBAppDelegate.h"
#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/gtk/GLibDriver.h"
#include "platform/gtk/WebKitGtkEngine.h"
#include "platform/ns/Log.h"
#include "platform/ns/Sandbox.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/wk/ScriptMessage.h"
#include "platform/wk/ScriptMessageHandler.h"
#include "platform/wk/UserContentController.h"
#include "platform/wk/WebView.h"

// Only a program that runs on the allocator may call it: a sanitizer build has the header but
// not the library.
#ifdef HYB_PROCESS_ALLOCATOR_MIMALLOC
#include <mimalloc.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kSequentialCalls = 200;
constexpr int kBurst = 2000;
constexpr size_t kBufferBytes = size_t{64} << 20;
const fs::path kSourceRoot = fs::path(HYB_SOURCE_DIR);

constexpr const char* kConfig = R"(<?xml version="1.0" encoding="utf-8"?>
<widget id="org.example.hybrid.bench" version="1.0.0">
    <content src="index.html" />
    <preference name="scheme" value="app" />
    <feature name="Bench"><param name="ios-package" value="BenchEcho" /></feature>
    <feature name="SQLitePlugin"><param name="ios-package" value="SQLitePlugin" /></feature>
    <feature name="File"><param name="ios-package" value="HYBFile" /></feature>
</widget>
)";

// What both pages share: the timing harness, reporting to the "result" handler.
constexpr const char* kHarness = R"(
function report(times) { window.webkit.messageHandlers.result.postMessage(times); }
function sequential(call, count) {
    var times = [];
    (function next() {
        var start = performance.now();
        call(function () {
            times.push(performance.now() - start);
            if (times.length < count) next(); else report(times);
        });
    })();
}
function burst(call, count) {
    var left = count, start = performance.now();
    for (var i = 0; i < count; i++) {
        call(function () { if (--left === 0) report([performance.now() - start]); });
    }
}
var texts = {};
function textOf(size) {
    if (!texts[size]) {
        texts[size] = 'abcdefghijklmnopqrstuvwxyz0123456789'.repeat(Math.ceil(size / 36))
            .slice(0, size);
    }
    return texts[size];
}
// Echoes of one size, one after another: the mean time of one (the page's clock is coarse),
// and whether every echo came back whole.
function echo(call, size, count) {
    var text = textOf(size), done = 0, intact = true, start = performance.now();
    (function next() {
        call(text, function (back) {
            intact = intact && back === text;
            if (++done < count) next();
            else report([(performance.now() - start) / count, intact ? 1 : 0]);
        });
    })();
}
)";

constexpr const char* kBridgePage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Bench</title></head><body>
<script src="hybrid.js"></script>
<script src="harness.js"></script>
<script>
var exec = hybrid.require('hybrid/exec');
function call(done) { exec(done, done, 'Bench', 'echo', ['x']); }
window.bridgeSequential = function (count) { sequential(call, count); };
window.bridgeBurst = function (count) { burst(call, count); };
window.bridgeEcho = function (size, count) {
    echo(function (text, done) { exec(done, done, 'Bench', 'echo', [text]); }, size, count);
};
// The mean of rounds SELECTs one after another against the mean of as many parses of the
// answer's text: a small answer takes a few milliseconds, the page's clock counts whole ones.
window.largeAnswer = function (count, rounds) {
    var db = { dbname: 'bench.db' };
    var fail = function (e) { report([-1]); };
    var select = function () {
        var left = rounds, start = performance.now();
        var next = function () {
            exec(function (answer) {
                if (--left > 0) return next();
                var delivered = (performance.now() - start) / rounds;
                var text = JSON.stringify(answer);
                var parseStart = performance.now();
                for (var i = 0; i < rounds; i++) JSON.parse(text);
                report([delivered, (performance.now() - parseStart) / rounds, text.length,
                        answer.rows.length]);
            }, fail, 'SQLitePlugin', 'executeSql', [{ dbargs: db, ex: { sql: 'SELECT * FROM t' } }]);
        };
        next();
    };
    var fill = function () {
        exec(select, fail, 'SQLitePlugin', 'backgroundExecuteSqlBatch', [{ dbargs: db, executes: [
            { sql: 'DROP TABLE IF EXISTS t' },
            { sql: 'CREATE TABLE t (n INTEGER, label TEXT, x REAL)' },
            { sql: 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT ?) ' +
                   "INSERT INTO t SELECT i, 'row ' || i, i * 0.5 FROM c", params: [count] }] }]);
    };
    // Opened once; a second open answers an error and the database stays open.
    exec(fill, fill, 'SQLitePlugin', 'open', [{ name: 'bench.db' }]);
};
// Rows of about 1 KiB each in the table "peak", then one SELECT of them all.
window.peakFill = function (count) {
    var db = { dbname: 'peak.db' };
    var fail = function (e) { report([-1]); };
    var fill = function () {
        exec(function () { report([count]); }, fail, 'SQLitePlugin', 'backgroundExecuteSqlBatch',
             [{ dbargs: db, executes: [
            { sql: 'DROP TABLE IF EXISTS peak' },
            { sql: 'CREATE TABLE peak (n INTEGER, label TEXT, x REAL)' },
            { sql: 'WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT ?) ' +
                   "INSERT INTO peak SELECT i, printf('%01000d', i), i * 0.5 FROM c",
              params: [count] }] }]);
    };
    exec(fill, fill, 'SQLitePlugin', 'open', [{ name: 'peak.db' }]);
};
window.peakSelect = function () {
    exec(function (answer) {
        report([answer.rows.length, answer.rows[answer.rows.length - 1].n]);
    }, function () { report([-1]); }, 'SQLitePlugin', 'executeSql',
    [{ dbargs: { dbname: 'peak.db' }, ex: { sql: 'SELECT n, label, x FROM peak' } }]);
};
window.bridgeBuffer = function () {
    var start = performance.now();
    exec(function (buffer) {
        report([performance.now() - start, buffer.byteLength, new Uint8Array(buffer)[12345]]);
    }, function () { report([-1]); }, 'File', 'readAsArrayBuffer',
    ['hybfile://localhost/persistent/big.bin', 0, -1]);
};
</script></body></html>
)";

// The floor's page: the same harness and callbacks, posting to the raw handlers, and decoding
// Base64 as the bridge's page script does.
constexpr const char* kRawPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Raw</title></head><body>
<script>%HARNESS%</script>
<script>
var waiting = {}, next = 1;
window.rawCallback = function (id, value) { var f = waiting[id]; delete waiting[id]; f(value); };
function rawCall(done) {
    var id = 'Raw' + next++;
    waiting[id] = done;
    window.webkit.messageHandlers.raw.postMessage(JSON.stringify([id, 'Bench', 'echo', ['x']]));
}
window.rawSequential = function (count) { sequential(rawCall, count); };
window.rawBurst = function (count) { burst(rawCall, count); };
window.rawEcho = function (size, count) {
    echo(function (text, done) {
        var id = 'Raw' + next++;
        waiting[id] = done;
        // As the bridge's page does: a long text goes as a value, a short one in a text.
        window.webkit.messageHandlers.rawEcho.postMessage(
            text.length >= 65536 ? [id, text] : id + '\n' + text);
    }, size, count);
};
window.rawPeak = function () { window.webkit.messageHandlers.rawPeak.postMessage('peak.db'); };
window.rawPeakArrived = function (text) {
    var answer = JSON.parse(text);
    report([answer.rows.length, answer.rows[answer.rows.length - 1].n]);
};
var bufferStart = 0;
window.rawBuffer = function () {
    bufferStart = performance.now();
    window.webkit.messageHandlers.rawBuffer.postMessage('big.bin');
};
window.rawBufferArrived = function (data) {
    var buffer = typeof Uint8Array.fromBase64 === 'function' ? Uint8Array.fromBase64(data).buffer
        : (function () { var raw = atob(data), bytes = new Uint8Array(raw.length);
                         for (var i = 0; i < raw.length; i++) bytes[i] = raw.charCodeAt(i);
                         return bytes.buffer; })();
    report([performance.now() - bufferStart, buffer.byteLength, new Uint8Array(buffer)[12345]]);
};
</script></body></html>
)";

// When each call reached the native side, bridge and floor alike.
std::vector<Clock::time_point> gArrivals;

class BenchEcho : public HYBPlugin {
public:
    BenchEcho() { registerAction("echo", &BenchEcho::echo); }
    void echo(const HYBInvokedUrlCommand& command) {
        gArrivals.push_back(Clock::now());
        commandDelegate()->sendPluginResult(
            std::make_shared<HYBPluginResult>(HYBResultStatusOK, command.argumentAtIndex(0)),
            command.callbackId());
    }
};

// The main thread's CPU time so far, in milliseconds.
double mainThreadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// --- The floor: WebKitGTK's own API ------------------------------------------------------------

std::optional<std::vector<double>> gRawResult;

// A posted string's bytes, without a terminating zero.
std::string stringOf(JSCValue* value) {
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(data ? data : "", data ? size : 0);
    g_bytes_unref(bytes);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

class RawView {
public:
    RawView() {
        manager_ = webkit_user_content_manager_new();
        for (const char* name : {"raw", "rawEcho", "rawBuffer", "rawPeak", "result"}) {
            webkit_user_content_manager_register_script_message_handler(manager_, name);
        }
        g_signal_connect(manager_, "script-message-received::raw", G_CALLBACK(onCall), this);
        g_signal_connect(manager_, "script-message-received::rawEcho", G_CALLBACK(onEcho), this);
        g_signal_connect(manager_, "script-message-received::rawBuffer", G_CALLBACK(onBuffer),
                         this);
        g_signal_connect(manager_, "script-message-received::rawPeak", G_CALLBACK(onPeak), this);
        g_signal_connect(manager_, "script-message-received::result", G_CALLBACK(onResult), this);
        view_ = WEBKIT_WEB_VIEW(
            g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager_, nullptr));
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 320, 480);
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        std::string page = kRawPage;
        page.replace(page.find("%HARNESS%"), 9, kHarness);
        webkit_web_view_load_html(view_, page.c_str(), "http://localhost/");
    }
    ~RawView() {
        gtk_widget_destroy(window_);
        g_object_unref(manager_);
    }
    RawView(const RawView&) = delete;
    RawView& operator=(const RawView&) = delete;

    bool loaded() const { return !webkit_web_view_is_loading(view_); }
    void run(const std::string& script) { evaluate(script); }
    void setMerged(bool merged) { merged_ = merged; }
    void setBufferPath(std::string path) { bufferPath_ = std::move(path); }
    void setPeakDatabase(std::string path) { peakDatabase_ = std::move(path); }
    // The size of the last answer the floor handed over.
    size_t peakAnswerBytes() const { return peakAnswerBytes_; }

private:
    // [id, service, action, [argument]] read on demand; the callback carries the argument's
    // JSON as it came.
    static void onCall(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
        gArrivals.push_back(Clock::now());
        auto* raw = static_cast<RawView*>(self);
        const simdjson::padded_string text(stringOf(webkit_javascript_result_get_js_value(result)));
        simdjson::ondemand::document call;
        if (raw->parser_.iterate(text).get(call)) return;
        std::string_view id, argument;
        size_t index = 0;
        for (auto part : call.get_array()) {
            if (index == 0) {
                if (part.get_string().get(id)) return;
            } else if (index == 3) {
                simdjson::ondemand::array arguments;
                if (part.get_array().get(arguments)) return;
                for (auto first : arguments) {
                    simdjson::ondemand::value value;
                    if (first.get(value)) return;
                    argument = value.raw_json_token();
                    break;
                }
            }
            ++index;
        }
        std::string callback = "rawCallback('";
        callback.append(id).append("',").append(argument).append(")");
        raw->answer(std::move(callback));
    }

    void answer(std::string callback) {
        if (!merged_) {
            evaluate(callback);
            return;
        }
        // As the bridge merges: the first of a turn at once, the rest at the turn's end.
        if (!turnOpen_) {
            turnOpen_ = true;
            evaluate(callback);
            g_idle_add(
                [](gpointer self) {
                    static_cast<RawView*>(self)->endTurn();
                    return G_SOURCE_REMOVE;
                },
                this);
            return;
        }
        pending_ += "try{";
        pending_ += callback;
        pending_ += "}catch(e){}";
    }

    void endTurn() {
        turnOpen_ = false;
        if (pending_.empty()) return;
        evaluate(pending_);
        pending_.clear();
    }

    void evaluate(const std::string& script) {
        webkit_web_view_evaluate_javascript(view_, script.data(),
                                            static_cast<gssize>(script.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    // The id, a line break and the text, or [id, text] posted as a value (no concatenated copy
    // of a long text in the page): the text goes back as an argument, read where it arrived
    // when its bytes end in the zero that the engine wants.
    static void onEcho(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
        auto* raw = static_cast<RawView*>(self);
        JSCValue* posted = webkit_javascript_result_get_js_value(result);
        std::string id;
        GBytes* bytes = nullptr;
        gsize offset = 0;
        if (jsc_value_is_array(posted)) {
            JSCValue* idValue = jsc_value_object_get_property_at_index(posted, 0);
            JSCValue* textValue = jsc_value_object_get_property_at_index(posted, 1);
            id = stringOf(idValue);
            bytes = jsc_value_to_string_as_bytes(textValue);
            g_object_unref(idValue);
            g_object_unref(textValue);
        } else {
            bytes = jsc_value_to_string_as_bytes(posted);
            gsize size = 0;
            const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
            const auto* lineBreak = static_cast<const char*>(std::memchr(data, '\n', size));
            if (!lineBreak) {
                g_bytes_unref(bytes);
                return;
            }
            id.assign(data, static_cast<size_t>(lineBreak - data));
            offset = static_cast<gsize>(lineBreak + 1 - data);
        }
        gsize size = 0;
        const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        GVariant* text;
        if (size > offset && data[size - 1] == '\0') {
            GBytes* part = g_bytes_new_from_bytes(bytes, offset, size - offset);
            text = g_variant_new_from_bytes(G_VARIANT_TYPE_STRING, part, TRUE);
            g_bytes_unref(part);
        } else {
            text = g_variant_new_take_string(g_strndup(data + offset, size - offset));
        }
        g_bytes_unref(bytes);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&builder, "{sv}", "id", g_variant_new_string(id.c_str()));
        g_variant_builder_add(&builder, "{sv}", "text", text);
        static constexpr const char* kBody = "return rawCallback(id, text)";
        webkit_web_view_call_async_javascript_function(raw->view_, kBody, -1,
                                                       g_variant_builder_end(&builder), nullptr,
                                                       nullptr, nullptr, nullptr, nullptr);
    }

    static void onBuffer(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self) {
        auto* raw = static_cast<RawView*>(self);
        const int fd = ::open(raw->bufferPath_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        auto bytes = std::make_unique_for_overwrite<unsigned char[]>(kBufferBytes);
        size_t done = 0;
        while (done < kBufferBytes) {
            const ssize_t n = ::read(fd, bytes.get() + done, kBufferBytes - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        auto* base64 = static_cast<char*>(g_malloc(4 * ((done + 2) / 3) + 1));
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64), bytes.get(),
                        static_cast<int>(done));
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&builder, "{sv}", "data", g_variant_new_take_string(base64));
        static constexpr const char* kBody = "return rawBufferArrived(data)";
        webkit_web_view_call_async_javascript_function(raw->view_, kBody, -1,
                                                       g_variant_builder_end(&builder), nullptr,
                                                       nullptr, nullptr, nullptr, nullptr);
    }

    // The rows as the plug-in's answer holds them, {"rows":[{"n":..,"label":"..","x":..},...],
    // "rowsAffected":0}, read with one prepared statement and handed over whole; the page
    // parses the text. The labels are digits: nothing to escape.
    static void onPeak(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self) {
        auto* raw = static_cast<RawView*>(self);
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(raw->peakDatabase_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db);
            return;
        }
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT n, label, x FROM peak", -1, &select, nullptr);
        auto* text = new std::string(R"({"rows":[)");
        char number[32];
        bool first = true;
        while (sqlite3_step(select) == SQLITE_ROW) {
            text->append(first ? R"({"n":)" : R"(,{"n":)");
            first = false;
            auto end =
                std::to_chars(number, number + sizeof number, sqlite3_column_int64(select, 0));
            text->append(number, end.ptr).append(R"(,"label":")");
            text->append(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                         static_cast<size_t>(sqlite3_column_bytes(select, 1)));
            end = std::to_chars(number, number + sizeof number, sqlite3_column_double(select, 2));
            text->append(R"(","x":)").append(number, end.ptr).append("}");
        }
        sqlite3_finalize(select);
        sqlite3_close(db);
        text->append(R"(],"rowsAffected":0})");
        raw->peakAnswerBytes_ = text->size();
        // The text's own bytes, with the zero the string keeps after them, become the value.
        GBytes* bytes = g_bytes_new_with_free_func(
            text->c_str(), text->size() + 1,
            [](gpointer s) { delete static_cast<std::string*>(s); }, text);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&builder, "{sv}", "text",
                              g_variant_new_from_bytes(G_VARIANT_TYPE_STRING, bytes, TRUE));
        g_bytes_unref(bytes);
        static constexpr const char* kBody = "return rawPeakArrived(text)";
        webkit_web_view_call_async_javascript_function(raw->view_, kBody, -1,
                                                       g_variant_builder_end(&builder), nullptr,
                                                       nullptr, nullptr, nullptr, nullptr);
    }

    static void onResult(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
        JSCValue* value = webkit_javascript_result_get_js_value(result);
        std::vector<double> times;
        JSCValue* length = jsc_value_object_get_property(value, "length");
        const int count = jsc_value_to_int32(length);
        g_object_unref(length);
        for (int i = 0; i < count; ++i) {
            JSCValue* element =
                jsc_value_object_get_property_at_index(value, static_cast<guint>(i));
            times.push_back(jsc_value_to_double(element));
            g_object_unref(element);
        }
        gRawResult = std::move(times);
    }

    WebKitUserContentManager* manager_ = nullptr;
    WebKitWebView* view_ = nullptr;
    GtkWidget* window_ = nullptr;
    simdjson::ondemand::parser parser_;
    bool merged_ = false;
    bool turnOpen_ = false;
    std::string pending_;
    std::string bufferPath_;
    std::string peakDatabase_;
    size_t peakAnswerBytes_ = 0;
};

// --- The bridge's side --------------------------------------------------------------------------

class ResultHandler : public wk::ScriptMessageHandler {
public:
    void didReceiveScriptMessage(wk::UserContentController&,
                                 const wk::ScriptMessage& message) override {
        std::vector<double> times;
        if (const auto* array = message.body.array()) {
            for (const auto& t : *array) times.push_back(t.doubleValue());
        }
        result = std::move(times);
    }
    std::optional<std::vector<double>> result;
};

// The host with the bench page and the floor's web view, launched once.
struct Host {
    static Host& shared() {
        static Host host;
        return host;
    }

    Host() {
        ns::Log::setStandardErrorEnabled(false);
        std::error_code ec;
        fs::create_directories(root / "bundle/www", ec);
        std::ofstream(root / "bundle/config.xml") << kConfig;
        std::ofstream(root / "bundle/www/index.html") << kBridgePage;
        std::ofstream(root / "bundle/www/harness.js") << kHarness;
        fs::copy_file(kSourceRoot / "examples/bundle/www/hybrid.js", root / "bundle/www/hybrid.js",
                      fs::copy_options::overwrite_existing, ec);
        if (!wk::WebKitGtkEngine::install()) std::abort();
        driver.emplace();
        if (!CompositionRoot::prepare(
                {(root / "bundle").string(), (root / "sandbox").string(), false, {}})) {
            std::abort();
        }
        writeBigFile(ns::Sandbox::documentsDirectory() + "/big.bin");
        rt::ClassRegistry::shared().registerClass("BenchEcho", "HYBPlugin",
                                                  [] { return std::make_shared<BenchEcho>(); });
        if (!CompositionRoot::launch()) std::abort();
        auto delegate =
            std::dynamic_pointer_cast<HYBAppDelegate>(ui::Application::shared().delegate());
        webView = delegate->viewController()->webViewEngine()->engineWebView();
        webView->configuration()->userContentController()->addScriptMessageHandler(results,
                                                                                   "result");
        // Loaded again, so that the page has the result handler.
        webView->loadRequest(wk::URLRequest(*ns::URL::parse("app://localhost/index.html")));
        raw = std::make_unique<RawView>();
        raw->setBufferPath(ns::Sandbox::documentsDirectory() + "/big.bin");
        raw->setPeakDatabase(ns::Sandbox::documentsDirectory() + "/peak.db");
        if (!driver->runUntil(
                [&] {
                    return !webView->isLoading() && webView->title() == "Bench" && raw->loaded();
                },
                30s)) {
            std::abort();
        }
    }
    ~Host() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    static void writeBigFile(const std::string& path) {
        std::vector<char> bytes(kBufferBytes);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 2654435761u >> 7);
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    }

    // Runs the script in the bridge's page; what it reports (times in milliseconds).
    std::vector<double> bridge(const std::string& script, std::chrono::seconds limit = 120s) {
        results->result.reset();
        gArrivals.clear();
        webView->evaluateJavaScript(script);
        driver->runUntil([&] { return results->result.has_value(); }, limit);
        return results->result.value_or(std::vector<double>{});
    }
    // The same in the floor's page.
    std::vector<double> floor(const std::string& script, std::chrono::seconds limit = 120s) {
        gRawResult.reset();
        gArrivals.clear();
        raw->run(script);
        driver->runUntil([&] { return gRawResult.has_value(); }, limit);
        return gRawResult.value_or(std::vector<double>{});
    }

    fs::path root = fs::temp_directory_path() / ("hybrid-bench-" + std::to_string(::getpid()));
    std::optional<dispatch::GLibDriver> driver;
    std::shared_ptr<wk::WebView> webView;
    std::shared_ptr<ResultHandler> results = std::make_shared<ResultHandler>();
    std::unique_ptr<RawView> raw;
};

double percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(index), samples.end());
    return samples[index];
}

// The round trips of one sequential run (the time between arrivals), in milliseconds.
std::vector<double> roundTrips(const std::vector<double>& reported) {
    if (reported.size() != kSequentialCalls || gArrivals.size() != kSequentialCalls) return {};
    std::vector<double> times;
    for (size_t i = 1; i < gArrivals.size(); ++i) {
        times.push_back(
            std::chrono::duration<double, std::milli>(gArrivals[i] - gArrivals[i - 1]).count());
    }
    return times;
}

void BM_Sequential(benchmark::State& state) {
    auto& host = Host::shared();
    host.raw->setMerged(false);
    std::vector<double> bridge, raw;
    const std::string count = std::to_string(kSequentialCalls);
    for (auto _ : state) {
        auto b = roundTrips(host.bridge("bridgeSequential(" + count + ")"));
        auto f = roundTrips(host.floor("rawSequential(" + count + ")"));
        if (b.empty() || f.empty()) {
            state.SkipWithError("the page did not finish its round trips");
            return;
        }
        double total = 0;
        for (double t : b) total += t;
        state.SetIterationTime(total / 1000 / static_cast<double>(b.size()));
        bridge.insert(bridge.end(), b.begin(), b.end());
        raw.insert(raw.end(), f.begin(), f.end());
    }
    const double bridgeP50 = percentile(bridge, 0.5);
    const double rawP50 = percentile(raw, 0.5);
    state.counters["bridge_p50_ms"] = bridgeP50;
    state.counters["bridge_p99_ms"] = percentile(bridge, 0.99);
    state.counters["raw_p50_ms"] = rawP50;
    state.counters["raw_p99_ms"] = percentile(raw, 0.99);
    state.counters["ratio"] = rawP50 > 0 ? bridgeP50 / rawP50 : 0;
}

void BM_Burst(benchmark::State& state) {
    auto& host = Host::shared();
    host.raw->setMerged(true);
    double bridgeMs = 0, rawMs = 0, bridgeCpu = 0, rawCpu = 0;
    const std::string count = std::to_string(kBurst);
    // The page's time of its burst and the main thread's processor time meanwhile.
    const auto timed = [](auto run, double& ms, double& cpu) {
        const double c0 = mainThreadMs();
        auto reported = run();
        cpu += mainThreadMs() - c0;
        if (reported.size() != 1) return false;
        ms += reported[0];
        return true;
    };
    const auto bridge = [&] { return host.bridge("bridgeBurst(" + count + ")"); };
    const auto floor = [&] { return host.floor("rawBurst(" + count + ")"); };
    // The bridge first in one iteration and the floor first in the next, so that neither
    // always comes to what the other left behind (a collection in the web process, caches).
    bool bridgeFirst = true;
    for (auto _ : state) {
        const double before = bridgeMs;
        const bool done = bridgeFirst
                              ? timed(bridge, bridgeMs, bridgeCpu) && timed(floor, rawMs, rawCpu)
                              : timed(floor, rawMs, rawCpu) && timed(bridge, bridgeMs, bridgeCpu);
        if (!done) {
            state.SkipWithError("the page did not finish its burst");
            return;
        }
        bridgeFirst = !bridgeFirst;
        state.SetIterationTime((bridgeMs - before) / 1000);
    }
    host.raw->setMerged(false);
    const double iterations = static_cast<double>(state.iterations());
    const double calls = 1000.0 * kBurst * iterations;
    state.counters["bridge_calls_per_s"] = bridgeMs > 0 ? calls / bridgeMs : 0;
    state.counters["raw_calls_per_s"] = rawMs > 0 ? calls / rawMs : 0;
    state.counters["bridge_cpu_ms"] = bridgeCpu / iterations;
    state.counters["raw_cpu_ms"] = rawCpu / iterations;
    state.counters["ratio"] = rawMs > 0 ? bridgeMs / rawMs : 0;
    state.counters["cpu_ratio"] = rawCpu > 0 ? bridgeCpu / rawCpu : 0;
}

// The medians of both sides and their ratio, bridge over raw floor.
void reportMedians(benchmark::State& state, const std::vector<double>& bridge,
                   const std::vector<double>& raw) {
    const double bridgeP50 = percentile(bridge, 0.5);
    const double rawP50 = percentile(raw, 0.5);
    state.counters["bridge_ms"] = bridgeP50;
    state.counters["raw_ms"] = rawP50;
    state.counters["ratio"] = rawP50 > 0 ? bridgeP50 / rawP50 : 0;
}

void BM_Echo(benchmark::State& state) {
    auto& host = Host::shared();
    // Enough echoes of a small text for the page's clock.
    const int count = state.range(0) < (1 << 20) ? 200 : 4;
    const std::string args = std::to_string(state.range(0)) + ", " + std::to_string(count) + ")";
    std::vector<double> bridge, raw;
    for (auto _ : state) {
        auto b = host.bridge("bridgeEcho(" + args);
        auto f = host.floor("rawEcho(" + args);
        if (b.size() != 2 || f.size() != 2 || b[1] != 1 || f[1] != 1) {
            state.SkipWithError("an echo did not come back whole");
            return;
        }
        state.SetIterationTime(b[0] / 1000);
        bridge.push_back(b[0]);
        raw.push_back(f[0]);
    }
    reportMedians(state, bridge, raw);
}

void BM_LargeAnswer(benchmark::State& state) {
    auto& host = Host::shared();
    // Rounds enough for some 200k rows, so that either side takes tens of milliseconds.
    const int64_t rounds = std::max<int64_t>(1, 200000 / state.range(0));
    double deliveredMs = 0, parseMs = 0, bytes = 0;
    for (auto _ : state) {
        auto r = host.bridge(
            "largeAnswer(" + std::to_string(state.range(0)) + ", " + std::to_string(rounds) + ")",
            900s);
        if (r.size() != 4 || r[3] != static_cast<double>(state.range(0))) {
            state.SkipWithError("the page got no answer");
            return;
        }
        state.SetIterationTime(r[0] / 1000);
        deliveredMs += r[0];
        parseMs += r[1];
        bytes = r[2];
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["delivered_ms"] = deliveredMs / iterations;
    state.counters["page_parse_ms"] = parseMs / iterations;
    state.counters["json_bytes"] = bytes;
    state.counters["rounds"] = static_cast<double>(rounds);
    state.counters["ratio"] = parseMs > 0 ? deliveredMs / parseMs : 0;
}

void BM_ArrayBuffer(benchmark::State& state) {
    auto& host = Host::shared();
    std::vector<double> bridge, raw;
    for (auto _ : state) {
        auto b = host.bridge("bridgeBuffer()");
        auto f = host.floor("rawBuffer()");
        if (b.size() != 3 || f.size() != 3 || b[1] != kBufferBytes || f[1] != kBufferBytes ||
            b[2] != f[2]) {
            state.SkipWithError("the page did not get the whole buffer");
            return;
        }
        state.SetIterationTime(b[0] / 1000);
        bridge.push_back(b[0]);
        raw.push_back(f[0]);
    }
    reportMedians(state, bridge, raw);
}

// A field of /proc/self/status ("VmRSS", "VmHWM"), in MiB.
double statusMiB(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size(), field) == 0 && line.size() > field.size() &&
            line[field.size()] == ':') {
            return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024;
        }
    }
    return 0;
}

// How far the process's resident memory rose above where it stood while `run` ran, in MiB.
// Memory the allocator kept from earlier work is given back first, so that neither side
// finds pages the other left it.
template <class Run>
double residentRise(Run run) {
#ifdef HYB_PROCESS_ALLOCATOR_MIMALLOC
    mi_collect(true);
#endif
    const double before = statusMiB("VmRSS");
    // Writing 5 sets the high-water mark to the resident size now.
    std::ofstream("/proc/self/clear_refs") << "5";
    run();
    return statusMiB("VmHWM") - before;
}

// The medians of the resident rises of both sides with their ranges, and the ratio of the
// medians, bridge over raw floor.
void reportPeaks(benchmark::State& state, const std::vector<double>& bridge,
                 const std::vector<double>& raw) {
    const auto [bridgeMin, bridgeMax] = std::minmax_element(bridge.begin(), bridge.end());
    const auto [rawMin, rawMax] = std::minmax_element(raw.begin(), raw.end());
    state.counters["bridge_peak_mib"] = percentile(bridge, 0.5);
    state.counters["bridge_min_mib"] = *bridgeMin;
    state.counters["bridge_max_mib"] = *bridgeMax;
    state.counters["raw_peak_mib"] = percentile(raw, 0.5);
    state.counters["raw_min_mib"] = *rawMin;
    state.counters["raw_max_mib"] = *rawMax;
    state.counters["ratio"] =
        percentile(raw, 0.5) > 0 ? percentile(bridge, 0.5) / percentile(raw, 0.5) : 0;
}

// Runs the bridge's script and the floor's once an iteration, the bridge first in one and the
// floor first in the next, each measured by its resident rise, and reports the medians of
// either side with their ranges and the ratio of the medians, bridge over floor. `whole` tells
// whether what a side reported is the whole answer.
template <class Whole>
void comparePeaks(benchmark::State& state, const std::string& bridgeScript,
                  const std::string& floorScript, Whole whole) {
    auto& host = Host::shared();
    std::vector<double> bridge, raw;
    bool bridgeFirst = true;
    for (auto _ : state) {
        bool ok = true;
        double b = 0, f = 0;
        const auto runBridge = [&] {
            b = residentRise([&] { ok = ok && whole(host.bridge(bridgeScript, 900s)); });
        };
        const auto runFloor = [&] {
            f = residentRise([&] { ok = ok && whole(host.floor(floorScript, 900s)); });
        };
        if (bridgeFirst) {
            runBridge();
            runFloor();
        } else {
            runFloor();
            runBridge();
        }
        bridgeFirst = !bridgeFirst;
        if (!ok) {
            state.SkipWithError("the page did not get the whole answer");
            return;
        }
        state.SetIterationTime(1);
        bridge.push_back(b);
        raw.push_back(f);
    }
    reportPeaks(state, bridge, raw);
}

void BM_AnswerPeak(benchmark::State& state) {
    auto& host = Host::shared();
    // Rows of 1046 bytes or so in the answer's JSON text.
    const int64_t rows = (state.range(0) << 20) / 1046;
    const auto filled = host.bridge("peakFill(" + std::to_string(rows) + ")", 900s);
    if (filled.size() != 1 || filled[0] != static_cast<double>(rows)) {
        state.SkipWithError("the table was not filled");
        return;
    }
    comparePeaks(state, "peakSelect()", "rawPeak()", [&](const std::vector<double>& r) {
        return r.size() == 2 && r[0] == static_cast<double>(rows) && r[1] == r[0];
    });
    state.counters["answer_mib"] = static_cast<double>(host.raw->peakAnswerBytes()) / (1 << 20);
}

// A 64 MiB file read as an array buffer (the Base64 text the page decodes: 85 MiB), as in
// BM_ArrayBuffer: the resident rise of either side.
void BM_FileReadPeak(benchmark::State& state) {
    comparePeaks(state, "bridgeBuffer()", "rawBuffer()", [](const std::vector<double>& r) {
        return r.size() == 3 && r[1] == static_cast<double>(kBufferBytes);
    });
    state.counters["answer_mib"] = static_cast<double>(kBufferBytes) / (1 << 20);
}

}  // namespace

BENCHMARK(BM_Sequential)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(10);
BENCHMARK(BM_Burst)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Echo)
    ->Arg(1024)
    ->Arg(10 << 20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_LargeAnswer)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ArrayBuffer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_AnswerPeak)->Arg(64)->Arg(256)->UseManualTime()->Iterations(5);
BENCHMARK(BM_FileReadPeak)->UseManualTime()->Iterations(5);

int main(int argc, char** argv) {
    if (const int failed = benchhost::ensureDisplay(argc, argv, "bench_bridge_engine: xvfb-run")) {
        return failed;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ui::Application::shared().terminate();
    return 0;
}
