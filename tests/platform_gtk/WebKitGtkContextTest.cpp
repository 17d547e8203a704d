#include "platform/gtk/WebKitGtkContext.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>

#include "platform/gtk/GObjectRef.h"
#include "platform/ns/Sandbox.h"
#include "platform/wk/ProcessPool.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolkitLeakSuppression.h"
#include "tests/support/VirtualDisplay.h"

namespace {

// WebKit makes a window of its own with its first context, so the toolkit needs a display: a
// virtual one unless the run has one. The contexts keep their data in the sandbox, made once
// for the process as the contexts are.
class WebKitGtkContextTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static testsupport::TempDir sandbox;
        ASSERT_TRUE(ns::Sandbox::configure(sandbox.str()).ok());
        if (!std::getenv("DISPLAY")) {
            static testsupport::VirtualDisplay display;
            ASSERT_TRUE(display.start()) << "cannot start Xvfb";
            ::setenv("DISPLAY", display.display().c_str(), 1);
            ::setenv("GDK_BACKEND", "x11", 1);
            ::unsetenv("WAYLAND_DISPLAY");
        }
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    }
};

bool servesScheme(WebKitWebContext* context, const char* scheme) {
    return webkit_security_manager_uri_scheme_is_secure(
        webkit_web_context_get_security_manager(context), scheme);
}

// Views of a fresh process pool must not share web processes with the others: each pool keeps
// a context of its own for as long as it lives, views without a pool share one more, and every
// context serves the application's schemes, those registered before it and after.
TEST_F(WebKitGtkContextTest, EachProcessPoolKeepsAContextOfItsOwn) {
    auto& contexts = wk::WebKitGtkContext::shared();
    contexts.registerScheme("hyb-before");

    auto first = wk::ProcessPool::create();
    auto second = wk::ProcessPool::create();
    WebKitWebContext* a = contexts.contextFor(first);
    WebKitWebContext* b = contexts.contextFor(second);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(contexts.contextFor(first), a);
    EXPECT_EQ(contexts.contextFor(second), b);
    WebKitWebContext* poolless = contexts.contextFor(nullptr);
    EXPECT_NE(poolless, a);
    EXPECT_NE(poolless, b);
    EXPECT_EQ(contexts.contextFor(nullptr), poolless);

    // A pool that has gone takes its context along; a later pool gets one of its own.
    const auto kept = wk::GObjectRef<WebKitWebContext>::retain(a);  // its address stays taken
    first.reset();
    auto third = wk::ProcessPool::create();
    WebKitWebContext* c = contexts.contextFor(third);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);

    contexts.registerScheme("hyb-after");
    for (WebKitWebContext* context : {b, c, poolless}) {
        EXPECT_TRUE(servesScheme(context, "hyb-before"));
        EXPECT_TRUE(servesScheme(context, "hyb-after"));
    }
}

}  // namespace
