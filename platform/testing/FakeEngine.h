#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Error.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/wk/Engine.h"
#include "platform/wk/EngineClient.h"
#include "platform/wk/URLResponse.h"
#include "platform/wk/URLSchemeTask.h"
#include "platform/wk/WebViewConfiguration.h"

namespace wk {

class WebView;

// An engine without a renderer, for tests: it records what the program asks of the page and
// lets a test act as the page. Everything the page does happens on a later turn of the main
// run loop, so tests drive it with RunLoop::runUntilIdle().
//
// Loads: a navigation asks the delegate's policy, then starts (provisional), commits and
// finishes, each on its own turn. Documents of a scheme with a handler are fetched through
// that handler (commit on its response, finish on its finish, failure on its error); file URLs
// must name an existing file; http, https, about and data URLs always load; other schemes
// fail as unsupported. Before a document commits, the delegate decides its response; one it
// refuses fails as interrupted. A test can script a failure for a URL, or a server's redirect,
// which asks the delegate's policy for the new URL as the main frame's (a refusal fails the
// load at that URL). The requests for http and https documents are recorded as they leave. A
// newer navigation or stopLoading cancels one in flight with the "cancelled" error. Committing
// sets the URL, the back-forward list and the title (the document's <title> when the engine has
// its text, else empty), and records the user scripts injected into the document.
//
// Scripts: every evaluated script is recorded; a responder decides the answers (by default
// null, on the next turn) or holds them for completeEvaluation().
class FakeEngine final : public Engine, public std::enable_shared_from_this<FakeEngine> {
public:
    static constexpr const char* kName = "fake";

    enum class Target { MainFrame, SubFrame, NewWindow };
    enum class FailurePhase { Provisional, AfterCommit };
    struct DialogAnswer {
        bool answered = false;
        bool confirmed = false;           // confirm: OK
        std::optional<std::string> text;  // prompt: the text, nothing when cancelled
    };
    struct Fetch {
        explicit Fetch(ns::URL u) : url(std::move(u)) {}
        ns::URL url;
        std::shared_ptr<URLSchemeTask> task;  // null when no handler took the request
        std::shared_ptr<const URLResponse> response;
        ns::Data body;
        bool finished = false;
        std::optional<ns::Error> error;
    };
    // Answers an evaluated script, or nullopt to hold it.
    using ScriptResponder =
        std::function<std::optional<ns::Result<ns::Value>>(const std::string& script)>;

    FakeEngine(std::shared_ptr<WebViewConfiguration> configuration,
               std::weak_ptr<EngineClient> client);
    ~FakeEngine() override;

    // The fake engine of a web view; null when the view runs on another engine.
    static std::shared_ptr<FakeEngine> of(const WebView& webView);

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
    std::optional<ns::URL> url() const override { return url_; }
    std::optional<std::string> title() const override { return title_; }
    bool isLoading() const override { return static_cast<bool>(current_); }
    double estimatedProgress() const override { return progress_; }
    void evaluateJavaScript(std::string script,
                            std::function<void(ns::Result<ns::Value>)> completion) override;
    // Kept among the calls, and evaluated as its equivalent script.
    void callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                             std::function<void(ns::Result<ns::Value>)> completion) override;
    void setCustomUserAgent(const std::optional<std::string>& userAgent) override {
        customUserAgent_ = userAgent;
    }

    // --- What the program asked -----------------------------------------------------------
    const std::vector<std::string>& evaluatedScripts() const { return evaluated_; }
    // The functions called with their arguments, oldest first; each is also among the
    // evaluated scripts, as its equivalent script.
    struct FunctionCall {
        std::string body;
        ns::Dictionary arguments;
    };
    const std::vector<FunctionCall>& functionCalls() const { return calls_; }
    void clearEvaluatedScripts() {
        evaluated_.clear();
        calls_.clear();
    }
    void setScriptResponder(ScriptResponder responder) { responder_ = std::move(responder); }
    size_t pendingEvaluationCount() const { return pending_.size(); }
    // Answers the oldest held evaluation (on the next turn); false when none is held.
    bool completeEvaluation(ns::Result<ns::Value> result);
    // Sources of the user scripts injected so far, in order (start scripts at each commit, end
    // scripts at each finish).
    const std::vector<std::string>& injectedUserScripts() const { return injected_; }
    const std::optional<std::string>& customUserAgent() const { return customUserAgent_; }

    // --- Acting as the page (each on a later turn) ------------------------------------------
    // Posts to window.webkit.messageHandlers.NAME; false (and nothing posted) when the page has
    // no handler of that name.
    bool postMessage(const std::string& handlerName, ns::Value body, bool isMainFrame = true,
                     std::optional<ns::Error> bodyError = std::nullopt);
    // Posts as a frame of the page, which need not be the main one.
    bool postMessageFromFrame(const std::string& handlerName, ns::Value body, FrameInfo frame);
    // The same with the body given as JSON text (any JSON value), handed on as text as the
    // real engine does; invalid JSON throws.
    bool postMessageJSON(const std::string& handlerName, std::string_view json,
                         bool isMainFrame = true);
    // The same with text the caller has already checked to be one JSON value, posted without
    // checking it again: the real engine hands over what the page wrote without reading it, so
    // a caller timing the bridge posts this way and keeps the fake's own check out of the time.
    bool postCheckedMessageJSON(const std::string& handlerName, ns::JSONSlice json,
                                bool isMainFrame = true);
    // A navigation that the page starts: a link, a form, a script. A sub-frame navigation is
    // only decided; a new-window one, once allowed, asks the UI delegate for a web view, which
    // then loads the request.
    void navigate(const ns::URL& url, NavigationType type = NavigationType::LinkActivated,
                  Target target = Target::MainFrame, std::string httpMethod = "GET");
    // Loads of this URL fail as given from now on.
    void failLoads(const ns::URL& url, FailurePhase phase, ns::Error error);
    // The server answers a request for `from` with a redirect to `to` from now on.
    void redirectLoads(const ns::URL& from, const ns::URL& to);
    // The main frame's http and https documents requested from their servers, oldest first.
    const std::vector<ns::URL>& requestedDocuments() const { return requested_; }
    // The page sets document.title (at once).
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    // alert(), confirm() and prompt(): the answer fills in when the UI delegate gives it.
    std::shared_ptr<const DialogAnswer> alert(std::string message);
    std::shared_ptr<const DialogAnswer> confirm(std::string message);
    std::shared_ptr<const DialogAnswer> prompt(std::string text,
                                               std::optional<std::string> defaultText);
    // A sub-resource request for a URL of a custom scheme; the result fills in as the scheme
    // handler answers. Without a handler it fails as unsupported.
    std::shared_ptr<const Fetch> fetch(const ns::URL& url, std::string httpMethod = "GET");
    // The page no longer wants the answer: the handler is told to stop.
    void cancelFetch(const std::shared_ptr<const Fetch>& fetch);
    // window.close().
    void closeWindow();
    // The web content process crashes: the load in flight ends silently, held evaluations
    // fail, the navigation delegate hears of it.
    void terminateContentProcess();

private:
    class Load;
    class FetchReceiver;
    struct HistoryEntry {
        ns::URL url;
        std::optional<std::string> html;
    };
    struct Failure {
        FailurePhase phase;
        ns::Error error;
    };
    // The script itself is kept once, in evaluated_: a callback script can be many megabytes.
    struct PendingEvaluation {
        std::function<void(ns::Result<ns::Value>)> completion;
    };

    std::shared_ptr<EngineClient> client() const { return client_.lock(); }
    void post(std::function<void(FakeEngine&)> step);
    void postStep(const std::shared_ptr<Load>& load, std::function<void(FakeEngine&)> step);
    FrameInfo mainFrameInfo(bool isMainFrame) const;

    std::shared_ptr<Navigation> loadHistoryEntry(size_t index);
    std::shared_ptr<Navigation> decideAndLoad(std::shared_ptr<Load> load, Target target);
    void startLoad(const std::shared_ptr<Load>& load);
    void resolve(const std::shared_ptr<Load>& load);
    void commit(const std::shared_ptr<Load>& load);
    // Whether the document may commit now; false while (or since) the delegate refused it.
    bool responseAllowed(const std::shared_ptr<Load>& load);
    void redirect(const std::shared_ptr<Load>& load, const ns::URL& to);
    void finish(const std::shared_ptr<Load>& load);
    void fail(std::shared_ptr<Load> load, const ns::Error& error);  // by value: it may be current_
    void inject(UserScript::InjectionTime time);
    const Failure* failureFor(const ns::URL& url, FailurePhase phase) const;
    std::shared_ptr<DialogAnswer> openDialog(
        std::function<void(EngineClient&, const FrameInfo&, std::shared_ptr<DialogAnswer>)> run);

    std::shared_ptr<WebViewConfiguration> configuration_;
    std::weak_ptr<EngineClient> client_;
    std::optional<ns::URL> url_;
    std::optional<std::string> title_;
    double progress_ = 0;
    std::shared_ptr<Load> current_;
    std::vector<HistoryEntry> history_;
    size_t historyIndex_ = 0;  // meaningful when history_ is not empty
    std::optional<std::string> customUserAgent_;
    std::vector<std::string> evaluated_;
    std::vector<FunctionCall> calls_;
    std::deque<PendingEvaluation> pending_;
    ScriptResponder responder_;
    std::vector<std::string> injected_;
    std::map<std::string, Failure> failures_;
    std::map<std::string, ns::URL> redirects_;
    std::vector<ns::URL> requested_;
    std::vector<std::shared_ptr<FetchReceiver>> fetches_;
};

}  // namespace wk
