// A web app written for browsers runs in the host as it is, served on the app scheme: module
// scripts, routes that survive a reload, a module worker, WebAssembly fetched from the bundle
// and IndexedDB. What the engine keeps to http(s) (cookies, CacheStorage, service workers)
// stays refused there, as the README says.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/HostProcess.h"
#include "tests/support/TempDir.h"

#ifdef HYB_HOST_EXECUTABLE

namespace {

TEST(WebApps, RunUnchangedOnTheAppScheme) {
    testsupport::TempDir sandbox;
    HostProcess host(sandbox.str(), {"tests/fixtures/webapp_bundle", {}, {}});
    ASSERT_TRUE(host.readUntil("webapp done: true")) << host.output();
    const std::string& output = host.output();
    for (const char* line : {
             R"(webapp route: {"path":"/index.html","view":"home"})",
             R"(webapp route: {"path":"/albums/7","view":"album 7"})",
             R"(webapp worker: {"pages":3,"weight":14})",
             "webapp wasm: 42",
             R"(webapp indexeddb: {"id":7,"title":"Meadows"})",
             R"(webapp cookie: "")",
             R"x(webapp caches: "refused (TypeError)")x",
             R"x(webapp serviceWorker: "refused (TypeError)")x",
         }) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
    EXPECT_EQ(output.find("webapp failed"), std::string::npos) << output;
}

}  // namespace

#endif
