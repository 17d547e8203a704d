// Arbitrary JSON as the arguments of the SQLite plug-in's batch action, through the host's
// command queue, against a database in a temporary sandbox, read from its text as the engine
// hands a page's call over (and, for text that is no array, as values): every answer must be
// one well-formed callback. The SQL itself is SQLite's to parse; its work per input is bounded so
// that a runaway query is not taken for a hang of the plug-in.
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/BridgeFuzzHost.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Sandbox.h"
#include "plugins/device_storage/SQLitePlugin.h"

namespace {

constexpr int kProgressStep = 100;             // virtual machine steps between progress calls
constexpr int kProgressCallsPerInput = 10000;  // about a million steps per input
constexpr int kLengthLimit = 1 << 20;          // longest string or blob a statement may make

std::atomic<int> gProgressCalls{0};

int progress(void*) {
    return gProgressCalls.fetch_add(1) >= kProgressCallsPerInput ? 1 : 0;
}

int limitWork(sqlite3* db, char**, const sqlite3_api_routines*) {
    sqlite3_progress_handler(db, kProgressStep, &progress, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kLengthLimit);
    return SQLITE_OK;
}

std::string gSandbox;

void removeSandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(gSandbox, ignored);
}

fuzzhost::Host& sqliteHost() {
    static fuzzhost::Host* host = [] {
        std::string dir = (std::filesystem::temp_directory_path() / "fuzz-sqlite-XXXXXX").string();
        fuzzhost::require(mkdtemp(dir.data()) != nullptr);
        gSandbox = dir;
        std::atexit(removeSandbox);
        fuzzhost::require(ns::Sandbox::configure(gSandbox).ok());
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&limitWork));
        fuzzhost::Host& h = fuzzhost::host();
        auto plugin = std::make_shared<SQLitePlugin>();
        plugin->initWithWebViewEngine(h.engine);
        h.controller->registerPluginWithPluginName(plugin, "SQLitePlugin");
        auto open = HYBInvokedUrlCommand::commandFromJson(*ns::JSONSerialization::read(
            R"(["open0","SQLitePlugin","open",[{"name":"fuzz.db"}]])"));
        h.controller->commandQueue()->execute(*open);
        dispatch::RunLoop::main().runUntilIdle();
        fuzzhost::require(plugin->isOpen("fuzz.db"));
        h.checkScripts();
        return &h;
    }();
    return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = sqliteHost();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = ns::JSONSerialization::read(text, {.fragmentsAllowed = true});
    if (!value) return 0;
    gProgressCalls.store(0);
    if (value->isArray()) {
        host.controller->commandQueue()->execute(HYBInvokedUrlCommand::withArgumentsJSON(
            ns::JSONSlice(ns::JSONText::copy(text)), "batch1", "SQLitePlugin",
            "backgroundExecuteSqlBatch"));
    } else {
        host.controller->commandQueue()->execute(HYBInvokedUrlCommand(
            ns::Array{*value}, "batch1", "SQLitePlugin", "backgroundExecuteSqlBatch"));
    }
    dispatch::RunLoop::main().runUntilIdle();
    // One answer: a callback script, or a large one handed over as a value.
    fuzzhost::require(host.engine->scripts.size() + host.engine->calls.size() == 1);
    host.checkScripts();
    return 0;
}
