#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gtk/GObjectRef.h"
#include "platform/gtk/WebKitGtkNavigationReporter.h"
#include "platform/wk/Engine.h"
#include "platform/wk/EngineClient.h"
#include "platform/wk/NavigationAction.h"
#include "platform/wk/UserScript.h"
#include "platform/wk/WebViewConfiguration.h"

namespace wk {

class WebKitGtkMainFrameGate;
class WebKitGtkSchemeTask;

// The real engine: a WebKitGTK web view in a window of its own, shown from its first load.
// Views of one process pool share a web context (WebKitGtkContext), and all contexts share one
// data manager, so their data stays in the sandbox; each view has its own user content manager,
// so a page's messages are told apart by the view that received them.
//
// What it maps: the configuration's message handler names and user scripts (kept in step
// at every load, as handlers may be added later), custom schemes to the configuration's
// scheme handlers, policy decisions to the client's navigation decision, load events to the
// navigation events (WebKitGtkNavigationReporter), script dialogs to the client's dialogs
// (answered whenever the client answers), window requests and closes, and a crashed web
// process. Load failures are the host's to show: the engine's own error page is suppressed.
//
// Every main-frame navigation is decided as the main frame's before its request is sent.
// WebKitGTK does not say which frame a navigation is for; one it cannot place is presented
// as a frame's, and should it be the main frame's, its request is held back inside the engine
// (WebKitGtkMainFrameGate) and the navigation is presented again as the main frame's, to be
// loaded anew when the client allows it. A navigation refused in its redirect fails at the
// redirect's address.
//
// The page asking for a new window gets none from WebKit: a window that WebKit opens shares
// the opener's content manager, so that the bridge could not tell the two pages apart.
// The client's new view (a view of its own, with its own content manager) loads the request
// instead, and the page's window.open() answers null. Main thread only.
class WebKitGtkEngine final : public Engine, public std::enable_shared_from_this<WebKitGtkEngine> {
public:
    static constexpr const char* kName = "webkitgtk";

    // Registers the engine with the EngineRegistry and makes it the default; false (nothing
    // changed) when GTK finds no display.
    static bool install();
    // The engine that drives a WebKit view; null for a view that is none of ours.
    static std::shared_ptr<WebKitGtkEngine> of(WebKitWebView* view);

    WebKitGtkEngine(std::shared_ptr<WebViewConfiguration> configuration,
                    std::weak_ptr<EngineClient> client);
    ~WebKitGtkEngine() override;
    WebKitGtkEngine(const WebKitGtkEngine&) = delete;
    WebKitGtkEngine& operator=(const WebKitGtkEngine&) = delete;

    // --- Engine ---------------------------------------------------------------------------
    std::shared_ptr<Navigation> loadRequest(const URLRequest& request) override;
    std::shared_ptr<Navigation> loadFileURL(const ns::URL& url,
                                            const ns::URL& readAccessURL) override;
    std::shared_ptr<Navigation> loadHTMLString(const std::string& html,
                                               const std::optional<ns::URL>& baseURL) override;
    std::shared_ptr<Navigation> reload() override;
    void stopLoading() override;
    std::shared_ptr<Navigation> goBack() override;
    std::shared_ptr<Navigation> goForward() override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    std::optional<ns::URL> url() const override;
    std::optional<std::string> title() const override;
    bool isLoading() const override;
    double estimatedProgress() const override;
    void evaluateJavaScript(std::string script,
                            std::function<void(ns::Result<ns::Value>)> completion) override;
    // Strings, numbers and booleans reach the page through WebKit's own argument passing.
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             std::function<void(ns::Result<ns::Value>)> completion) override;
    void setCustomUserAgent(const std::optional<std::string>& userAgent) override;

    // --- For the host and the end-to-end tests ---------------------------------------------
    WebKitWebView* webView() const { return view_; }
    GtkWidget* window() const { return window_; }
    // Ends the view's web content process as a crash would.
    void terminateWebProcess();
    // Serves one request of a custom scheme (from WebKitGtkContext).
    void startSchemeRequest(WebKitURISchemeRequest* request);

private:
    class PendingDialog;
    struct MessageChannel {
        WebKitGtkEngine* engine;
        std::string name;
    };

    std::shared_ptr<EngineClient> client() const { return client_.lock(); }
    std::shared_ptr<Navigation> beginLoad(const std::function<void()>& start);
    void showWindow();
    void syncContent();
    void syncMessageHandlers();
    void syncUserScripts();
    void syncSettings();
    FrameInfo mainFrameInfo() const;
    FrameInfo frameInfo(bool isMainFrame, const ns::URL& url) const;
    NavigationAction actionOf(WebKitNavigationAction* action, bool newWindow) const;
    std::string frameGuardScript() const;
    void takeScriptMessage(const std::string& name, JSCValue* posted);
    // A message the guard script sent as text; false (nothing done) for any other string.
    bool takeGuardedText(const std::string& name, JSCValue* posted, EngineClient& client);
    // The frame that the guard's facts describe.
    FrameInfo guardedFrame(bool top, std::string_view address);

    // Signals of the view, the window and the content manager.
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType,
                                   gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError*,
                                 gpointer self);
    static void onTitleChanged(WebKitWebView*, GParamSpec*, gpointer self);
    static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                    gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    static void onClose(WebKitWebView*, gpointer self);
    static gboolean onWindowDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onTLSErrors(WebKitWebView*, gchar* uri, GTlsCertificate*, GTlsCertificateFlags,
                                gpointer self);
    static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult*,
                                gpointer channel);

    // Whether the client took the response decision (false: WebKit decides).
    bool decideResponse(WebKitResponsePolicyDecision* decision);
    void decideNavigation(WebKitPolicyDecision* decision, bool newWindow);
    bool isMainFrameAction(WebKitNavigationAction* action) const;
    // Answers a main-frame navigation its client allowed once the gate lets it through.
    void letThrough(const std::string& url, std::function<void(bool)> answer);
    // A navigation the gate held back is put to the client as the main frame's; allowed, it
    // is loaded again.
    void decideAgainAsMainFrame(const std::string& url);
    void loadChanged(WebKitLoadEvent event);
    void loadFailed(WebKitLoadEvent event, const char* uri, const GError* error);
    bool retryWithExtraAuthority(const char* uri, GTlsCertificate* certificate);
    void processTerminated(WebKitWebProcessTerminationReason reason);
    void scriptDialog(WebKitScriptDialog* dialog);
    void answerDialogs();
    void openNewWindow(WebKitNavigationAction* action);
    void serveSchemeRequest(WebKitURISchemeRequest* request);

    std::shared_ptr<WebViewConfiguration> configuration_;
    std::weak_ptr<EngineClient> client_;
    GObjectRef<WebKitUserContentManager> contentManager_;
    WebKitWebView* view_ = nullptr;  // owned by window_
    GtkWidget* window_ = nullptr;
    bool openedAsNewWindow_ = false;
    bool windowShown_ = false;

    std::map<std::string, gulong> messageHandlers_;  // name -> its signal connection
    std::vector<UserScript> userScripts_;
    std::string frameGuard_;        // the guard script in place (see frameGuardScript())
    std::string lastFrameAddress_;  // the address of the top frame's last message, and its frame
    std::optional<FrameInfo> lastFrame_;
    // Known only to the guard script of this view's frames: a message that carries it was
    // posted through the guard, whose account of its frame can be trusted.
    const std::string messageSecret_;
    std::string engineUserAgent_;
    std::optional<std::string> customUserAgent_;

    // Hosts and certificates this view retried a load for once the extra authority vouched for
    // them: a load that fails again with one of them fails as WebKit reports it.
    std::vector<std::pair<std::string, GTlsCertificate*>> retriedCertificates_;

    // Holds back every main-frame request that no decision about the main frame let through.
    std::unique_ptr<WebKitGtkMainFrameGate> gate_;
    bool mainFrameAllowed_ = false;  // a main-frame navigation was let through and not started
    // The address a main-frame redirect of the load in progress was decided for.
    std::optional<std::string> redirectURL_;
    // A load the engine started again after its client allowed it: not asked again.
    struct Preapproval {
        std::shared_ptr<Navigation> navigation;
        std::string url;
    };
    Preapproval preapproved_;

    std::shared_ptr<Navigation> requested_;  // a load asked for and not yet started
    WebKitGtkNavigationReporter navigations_;
    bool committed_ = false;
    bool provisional_ = false;
    std::optional<ns::URL> committedURL_;
    bool contentGone_ = false;

    std::vector<std::shared_ptr<PendingDialog>> dialogs_;
    std::vector<std::shared_ptr<WebKitGtkSchemeTask>> schemeTasks_;
};

}  // namespace wk
