#include "platform/testing/FakeEngine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/dispatch/RunLoop.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/ns/Exception.h"
#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/wk/EngineRegistry.h"
#include "platform/wk/WebKitError.h"
#include "platform/wk/WebView.h"

namespace wk {
namespace {

constexpr size_t kMaxDocumentRead = 1 << 20;

ns::URL aboutBlank() {
    return *ns::URL::parse("about:blank");
}

ns::Error loadError(int code, const std::string& description, const ns::URL& url) {
    return ns::Error(kURLErrorDomain, code,
                     {{ns::kLocalizedDescriptionKey, description},
                      {kURLErrorFailingURLStringErrorKey, url.absoluteString()}});
}

bool loadsWithoutHandler(const std::string& scheme) {
    for (const char* s : {"http", "https", "about", "data"}) {
        if (net::headerNameEquals(scheme, s)) return true;
    }
    return false;
}

// The text of the document's <title> element, trimmed; empty when there is none.
std::string titleOf(std::string_view html) {
    std::string lower(html);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    size_t open = lower.find("<title");
    if (open == std::string::npos) return {};
    size_t start = lower.find('>', open);
    if (start == std::string::npos) return {};
    size_t end = lower.find("</title", ++start);
    if (end == std::string::npos) return {};
    std::string_view text = html.substr(start, end - start);
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1));
}

std::optional<std::string> readDocumentFile(const ns::URL& url) {
    auto ext = url.pathExtension();
    if (!net::headerNameEquals(ext, "html") && !net::headerNameEquals(ext, "htm"))
        return std::nullopt;
    std::ifstream in(url.path(), std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kMaxDocumentRead, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

// Every program that links the testing library makes its web views on this engine unless it
// registers another: tests never need a renderer of their own.
[[maybe_unused]] const bool kRegistered = [] {
    EngineRegistry::shared().registerEngine(
        FakeEngine::kName, [](const auto& configuration, auto client) {
            return std::make_shared<FakeEngine>(configuration, std::move(client));
        });
    return true;
}();

}  // namespace

// One navigation from its decision to its end; as a scheme task's receiver it takes the
// document from a scheme handler.
class FakeEngine::Load : public URLSchemeTask::Receiver, public std::enable_shared_from_this<Load> {
public:
    Load(std::weak_ptr<FakeEngine> engine, URLRequest request, NavigationType type)
        : request(std::move(request)), type(type), engine_(std::move(engine)) {}

    std::shared_ptr<Navigation> navigation = std::make_shared<Navigation>();
    URLRequest request;
    NavigationType type;
    std::optional<std::string> html;      // a document given as text
    std::optional<size_t> historyIndex;   // a back-forward navigation's entry
    std::shared_ptr<URLSchemeTask> task;  // when a scheme handler serves the document
    std::string document;                 // the handler's bytes, for the title
    bool documentIsHTML = false;
    bool started = false;  // the delegate heard of the start
    bool committed = false;
    enum class Response { Undecided, Deciding, Allowed } response = Response::Undecided;
    bool finishWaits = false;  // the document ended while its response was being decided

    void taskDidReceiveResponse(std::shared_ptr<const URLResponse> response) override {
        documentIsHTML = response->MIMEType() == "text/html";
        step([](FakeEngine& e, const std::shared_ptr<Load>& self) { e.commit(self); });
    }
    void taskDidReceiveData(const ns::Data& data) override {
        if (documentIsHTML && document.size() < kMaxDocumentRead) document.append(data.chars());
    }
    void taskDidFinish() override {
        step([](FakeEngine& e, const std::shared_ptr<Load>& self) { e.finish(self); });
    }
    void taskDidFail(const ns::Error& error) override {
        if (auto e = engine_.lock()) e->fail(shared_from_this(), error);
    }

private:
    void step(void (*fn)(FakeEngine&, const std::shared_ptr<Load>&)) {
        auto self = shared_from_this();
        if (auto e = engine_.lock()) e->postStep(self, [fn, self](FakeEngine& e) { fn(e, self); });
    }

    std::weak_ptr<FakeEngine> engine_;
};

// Collects a fetch's answer.
class FakeEngine::FetchReceiver : public URLSchemeTask::Receiver {
public:
    FetchReceiver(std::weak_ptr<FakeEngine> engine, std::shared_ptr<Fetch> fetch)
        : engine_(std::move(engine)), fetch(std::move(fetch)) {}

    void taskDidReceiveResponse(std::shared_ptr<const URLResponse> response) override {
        fetch->response = std::move(response);
    }
    void taskDidReceiveData(const ns::Data& data) override {
        fetch->body.append(data.bytes(), data.length());
    }
    void taskDidFinish() override {
        fetch->finished = true;
        done();
    }
    void taskDidFail(const ns::Error& error) override {
        fetch->error = error;
        done();
    }
    void done() {
        if (auto e = engine_.lock()) {
            std::erase_if(e->fetches_, [this](const auto& r) { return r.get() == this; });
        }
    }

    std::weak_ptr<FakeEngine> engine_;
    std::shared_ptr<Fetch> fetch;
};

FakeEngine::FakeEngine(std::shared_ptr<WebViewConfiguration> configuration,
                       std::weak_ptr<EngineClient> client)
    : configuration_(std::move(configuration)),
      client_(std::move(client)),
      responder_([](const std::string&) { return ns::Result<ns::Value>(ns::Value()); }) {}

FakeEngine::~FakeEngine() = default;

std::shared_ptr<FakeEngine> FakeEngine::of(const WebView& webView) {
    return std::dynamic_pointer_cast<FakeEngine>(webView.engine());
}

void FakeEngine::post(std::function<void(FakeEngine&)> step) {
    dispatch::RunLoop::main().post([weak = weak_from_this(), step = std::move(step)] {
        if (auto self = weak.lock()) step(*self);
    });
}

void FakeEngine::postStep(const std::shared_ptr<Load>& load,
                          std::function<void(FakeEngine&)> step) {
    post([load, step = std::move(step)](FakeEngine& e) {
        if (e.current_ == load) step(e);
    });
}

FrameInfo FakeEngine::mainFrameInfo(bool isMainFrame) const {
    URLRequest request(url_.value_or(aboutBlank()));
    request.setMainDocumentURL(url_.value_or(aboutBlank()));
    return {isMainFrame, request};
}

// --- Loads ---------------------------------------------------------------------------------

std::shared_ptr<Navigation> FakeEngine::loadRequest(const URLRequest& request) {
    URLRequest r = request;
    r.setMainDocumentURL(r.url());
    auto load = std::make_shared<Load>(weak_from_this(), std::move(r), NavigationType::Other);
    return decideAndLoad(std::move(load), Target::MainFrame);
}

std::shared_ptr<Navigation> FakeEngine::loadFileURL(const ns::URL& url, const ns::URL&) {
    return loadRequest(URLRequest(url));
}

std::shared_ptr<Navigation> FakeEngine::loadHTMLString(const std::string& html,
                                                       const std::optional<ns::URL>& baseURL) {
    URLRequest request(baseURL.value_or(aboutBlank()));
    request.setMainDocumentURL(request.url());
    auto load = std::make_shared<Load>(weak_from_this(), std::move(request), NavigationType::Other);
    load->html = html;
    return decideAndLoad(std::move(load), Target::MainFrame);
}

std::shared_ptr<Navigation> FakeEngine::reload() {
    if (!url_ || history_.empty()) return nullptr;
    URLRequest request(*url_);
    request.setMainDocumentURL(*url_);
    auto load =
        std::make_shared<Load>(weak_from_this(), std::move(request), NavigationType::Reload);
    load->html = history_[historyIndex_].html;
    return decideAndLoad(std::move(load), Target::MainFrame);
}

std::shared_ptr<Navigation> FakeEngine::goBack() {
    return canGoBack() ? loadHistoryEntry(historyIndex_ - 1) : nullptr;
}

std::shared_ptr<Navigation> FakeEngine::goForward() {
    return canGoForward() ? loadHistoryEntry(historyIndex_ + 1) : nullptr;
}

std::shared_ptr<Navigation> FakeEngine::loadHistoryEntry(size_t index) {
    const auto& entry = history_[index];
    URLRequest request(entry.url);
    request.setMainDocumentURL(entry.url);
    auto load =
        std::make_shared<Load>(weak_from_this(), std::move(request), NavigationType::BackForward);
    load->html = entry.html;
    load->historyIndex = index;
    return decideAndLoad(std::move(load), Target::MainFrame);
}

bool FakeEngine::canGoBack() const {
    return !history_.empty() && historyIndex_ > 0;
}

bool FakeEngine::canGoForward() const {
    return !history_.empty() && historyIndex_ + 1 < history_.size();
}

void FakeEngine::stopLoading() {
    if (current_)
        fail(current_, loadError(kURLErrorCancelled, "cancelled", current_->request.url()));
}

void FakeEngine::navigate(const ns::URL& url, NavigationType type, Target target,
                          std::string httpMethod) {
    URLRequest request(url);
    request.setHTTPMethod(std::move(httpMethod));
    request.setMainDocumentURL(target == Target::SubFrame ? url_.value_or(aboutBlank()) : url);
    decideAndLoad(std::make_shared<Load>(weak_from_this(), std::move(request), type), target);
}

std::shared_ptr<Navigation> FakeEngine::decideAndLoad(std::shared_ptr<Load> load, Target target) {
    post([load, target](FakeEngine& e) {
        auto client = e.client();
        if (!client) return;
        NavigationAction action{load->request, load->type, e.mainFrameInfo(true), std::nullopt};
        if (target != Target::NewWindow) {
            action.targetFrame = FrameInfo{target == Target::MainFrame, load->request};
        }
        std::weak_ptr<FakeEngine> weak = e.weak_from_this();
        client->navigationActionToDecide(action, [weak, load, target, action](auto policy) {
            auto self = weak.lock();
            if (!self || policy != NavigationActionPolicy::Allow) return;
            if (target == Target::MainFrame) {
                self->post([load](FakeEngine& e) { e.startLoad(load); });
            } else if (target == Target::NewWindow) {
                self->post([action](FakeEngine& e) {
                    auto client = e.client();
                    if (!client) return;
                    if (auto view = client->newWindowRequested(action, WindowFeatures{})) {
                        view->loadRequest(action.request);
                    }
                });
            }
            // A sub-frame's load is not reported to the navigation delegate.
        });
    });
    return target == Target::MainFrame ? load->navigation : nullptr;
}

void FakeEngine::startLoad(const std::shared_ptr<Load>& load) {
    if (current_) {
        fail(current_, loadError(kURLErrorCancelled, "cancelled", current_->request.url()));
    }
    current_ = load;
    progress_ = 0.1;
    postStep(load, [load](FakeEngine& e) {
        load->started = true;
        if (auto client = e.client()) client->provisionalNavigationStarted(load->navigation);
        e.resolve(load);
    });
}

void FakeEngine::resolve(const std::shared_ptr<Load>& load) {
    if (current_ != load) return;  // stopped from the start callback
    const ns::URL& url = load->request.url();
    std::string scheme = url.scheme().value_or("");
    if (!load->html &&
        (net::headerNameEquals(scheme, "http") || net::headerNameEquals(scheme, "https"))) {
        requested_.push_back(url);
        if (auto to = redirects_.find(url.absoluteString()); to != redirects_.end()) {
            redirect(load, to->second);
            return;
        }
    }
    if (auto failure = failureFor(url, FailurePhase::Provisional)) {
        fail(load, failure->error);
        return;
    }
    if (load->html || loadsWithoutHandler(scheme)) {
        postStep(load, [load](FakeEngine& e) { e.commit(load); });
        return;
    }
    if (url.isFileURL()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(url.path(), ec)) {
            fail(load, loadError(kURLErrorFileDoesNotExist,
                                 "The requested URL was not found "
                                 "on this server.",
                                 url));
            return;
        }
        postStep(load, [load](FakeEngine& e) { e.commit(load); });
        return;
    }
    auto client = this->client();
    load->task = std::make_shared<URLSchemeTask>(load->request, load);
    if (!client || !client->schemeTaskStarted(load->task)) {
        load->task.reset();
        fail(load, loadError(kURLErrorUnsupportedURL, "unsupported URL", url));
    }
}

void FakeEngine::redirect(const std::shared_ptr<Load>& load, const ns::URL& to) {
    URLRequest request(to);
    request.setMainDocumentURL(to);
    NavigationAction action{request, NavigationType::Other, mainFrameInfo(true),
                            FrameInfo{true, request}};
    auto client = this->client();
    if (!client) return;
    std::weak_ptr<FakeEngine> weak = weak_from_this();
    client->navigationActionToDecide(action, [weak, load, request](NavigationActionPolicy policy) {
        auto self = weak.lock();
        if (!self || self->current_ != load) return;
        if (policy != NavigationActionPolicy::Allow) {
            self->fail(load,
                       loadError(kURLErrorCancelled, "Frame load interrupted", request.url()));
            return;
        }
        load->request = request;
        self->postStep(load, [load](FakeEngine& e) { e.resolve(load); });
    });
}

bool FakeEngine::responseAllowed(const std::shared_ptr<Load>& load) {
    using Response = Load::Response;
    if (load->response == Response::Allowed) return true;
    if (load->response == Response::Deciding) return false;
    auto client = this->client();
    if (!client) return true;
    load->response = Response::Deciding;
    std::weak_ptr<FakeEngine> weak = weak_from_this();
    client->navigationResponseToDecide(
        NavigationResponse{load->request, true}, [weak, load](NavigationResponsePolicy policy) {
            auto self = weak.lock();
            if (!self || self->current_ != load) return;
            if (policy != NavigationResponsePolicy::Allow) {
                self->fail(load, loadError(kURLErrorCancelled, "Frame load interrupted",
                                           load->request.url()));
                return;
            }
            load->response = Load::Response::Allowed;
            self->commit(load);
            if (std::exchange(load->finishWaits, false)) {
                self->postStep(load, [load](FakeEngine& e) { e.finish(load); });
            }
        });
    return false;
}

void FakeEngine::commit(const std::shared_ptr<Load>& load) {
    if (load->committed || !responseAllowed(load)) return;
    load->committed = true;
    const ns::URL& url = load->request.url();
    url_ = url;
    if (load->historyIndex) {
        historyIndex_ = *load->historyIndex;
    } else if (load->type == NavigationType::Reload && !history_.empty()) {
        history_[historyIndex_] = {url, load->html};
    } else {
        if (!history_.empty()) history_.erase(history_.begin() + historyIndex_ + 1, history_.end());
        history_.push_back({url, load->html});
        historyIndex_ = history_.size() - 1;
    }
    std::optional<std::string> document = load->html;
    if (!document && load->documentIsHTML) document = load->document;
    if (!document && url.isFileURL()) document = readDocumentFile(url);
    title_ = document ? titleOf(*document) : std::string();
    progress_ = 0.5;
    inject(UserScript::InjectionTime::AtDocumentStart);
    if (auto client = this->client()) client->navigationCommitted(load->navigation);
    if (auto failure = failureFor(url, FailurePhase::AfterCommit)) {
        ns::Error error = failure->error;
        postStep(load, [load, error](FakeEngine& e) { e.fail(load, error); });
    } else if (!load->task) {
        postStep(load, [load](FakeEngine& e) { e.finish(load); });
    }
}

void FakeEngine::finish(const std::shared_ptr<Load>& load) {
    if (!load->committed) {
        load->finishWaits = load->response == Load::Response::Deciding;
        return;
    }
    current_ = nullptr;
    progress_ = 1.0;
    inject(UserScript::InjectionTime::AtDocumentEnd);
    if (auto client = this->client()) client->navigationFinished(load->navigation);
}

// Ends the load at once; the delegate hears of it on the next turn (unless it never heard of
// the start), after the scheme handler (if it still serves the document) has been told to stop.
void FakeEngine::fail(std::shared_ptr<Load> load, const ns::Error& error) {
    if (current_ != load) return;
    current_ = nullptr;
    progress_ = 1.0;
    std::shared_ptr<URLSchemeTask> stopped;
    if (load->task && !load->task->isCompleted() && !load->task->isStopped()) {
        stopped = load->task;
        stopped->stop();
    }
    post([load, error, stopped](FakeEngine& e) {
        auto client = e.client();
        if (!client) return;
        if (stopped) client->schemeTaskStopped(stopped);
        if (!load->started) return;
        if (load->committed) {
            client->navigationFailed(load->navigation, error);
        } else {
            client->provisionalNavigationFailed(load->navigation, error);
        }
    });
}

void FakeEngine::inject(UserScript::InjectionTime time) {
    auto& controller = configuration_->userContentController();
    if (!controller) return;
    for (auto& script : controller->userScripts()) {
        if (script.injectionTime == time) injected_.push_back(script.source);
    }
}

void FakeEngine::failLoads(const ns::URL& url, FailurePhase phase, ns::Error error) {
    failures_.insert_or_assign(url.absoluteString(), Failure{phase, std::move(error)});
}

void FakeEngine::redirectLoads(const ns::URL& from, const ns::URL& to) {
    redirects_.insert_or_assign(from.absoluteString(), to);
}

const FakeEngine::Failure* FakeEngine::failureFor(const ns::URL& url, FailurePhase phase) const {
    auto it = failures_.find(url.absoluteString());
    return it != failures_.end() && it->second.phase == phase ? &it->second : nullptr;
}

// --- Scripts -------------------------------------------------------------------------------

void FakeEngine::evaluateJavaScript(std::string script,
                                    std::function<void(ns::Result<ns::Value>)> completion) {
    std::optional<ns::Result<ns::Value>> answer;
    if (responder_) answer = responder_(script);
    evaluated_.push_back(std::move(script));
    if (!answer) {
        pending_.push_back({std::move(completion)});
        return;
    }
    if (completion) {
        dispatch::RunLoop::main().post([completion = std::move(completion),
                                        result = std::move(*answer)] { completion(result); });
    }
}

void FakeEngine::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                     std::function<void(ns::Result<ns::Value>)> completion) {
    std::string script = functionCallScript(body, arguments);
    calls_.push_back({std::move(body), std::move(arguments)});
    evaluateJavaScript(std::move(script), std::move(completion));
}

bool FakeEngine::completeEvaluation(ns::Result<ns::Value> result) {
    if (pending_.empty()) return false;
    auto completion = std::move(pending_.front().completion);
    pending_.pop_front();
    if (completion) {
        dispatch::RunLoop::main().post([completion = std::move(completion),
                                        result = std::move(result)] { completion(result); });
    }
    return true;
}

// --- The page's own actions ----------------------------------------------------------------

bool FakeEngine::postMessage(const std::string& handlerName, ns::Value body, bool isMainFrame,
                             std::optional<ns::Error> bodyError) {
    auto& controller = configuration_->userContentController();
    if (!controller || !controller->hasScriptMessageHandler(handlerName)) return false;
    // A posted step runs once, so the body is handed on rather than copied.
    post([handlerName, body = std::move(body), isMainFrame,
          bodyError = std::move(bodyError)](FakeEngine& e) mutable {
        if (auto client = e.client()) {
            client->scriptMessagePosted(handlerName, std::move(body), e.mainFrameInfo(isMainFrame),
                                        std::move(bodyError));
        }
    });
    return true;
}

bool FakeEngine::postMessageFromFrame(const std::string& handlerName, ns::Value body,
                                      FrameInfo frame) {
    auto& controller = configuration_->userContentController();
    if (!controller || !controller->hasScriptMessageHandler(handlerName)) return false;
    post([handlerName, body = std::move(body), frame = std::move(frame)](FakeEngine& e) mutable {
        if (auto client = e.client())
            client->scriptMessagePosted(handlerName, std::move(body), frame);
    });
    return true;
}

namespace {

// Why the text is not one JSON value, by the tree reader's rules; nothing when it is one.
std::optional<ns::Error> notJSON(const ns::JSONSlice& text) {
    {
        ns::JSONReader reader(text);
        ns::ondemand::value root;
        if (!reader.document().error() && !reader.document().get_value().get(root) &&
            ns::json::check(root, {.fragmentsAllowed = true}).ok() && reader.atEnd()) {
            return std::nullopt;
        }
    }
    // A scalar document, or text the on-demand reader refuses: the tree reader decides.
    auto read = ns::JSONSerialization::read(text.text(), {.fragmentsAllowed = true});
    if (read) return std::nullopt;
    return read.error();
}

}  // namespace

bool FakeEngine::postMessageJSON(const std::string& handlerName, std::string_view json,
                                 bool isMainFrame) {
    // Checked as it is, without building its values: the real engine hands over text it
    // knows to be JSON.
    ns::JSONSlice text(ns::JSONText::copy(json));
    if (auto error = notJSON(text)) {
        throw ns::Exception(ns::kInvalidArgumentException,
                            "Message body is not JSON: " + error->description());
    }
    return postCheckedMessageJSON(handlerName, std::move(text), isMainFrame);
}

bool FakeEngine::postCheckedMessageJSON(const std::string& handlerName, ns::JSONSlice text,
                                        bool isMainFrame) {
    auto& controller = configuration_->userContentController();
    if (!controller || !controller->hasScriptMessageHandler(handlerName)) return false;
    // As the real engine hands it over: the text the page wrote.
    post([handlerName, text = std::move(text), isMainFrame](FakeEngine& e) mutable {
        if (auto client = e.client()) {
            client->scriptMessagePostedAsJSON(handlerName, std::move(text),
                                              e.mainFrameInfo(isMainFrame));
        }
    });
    return true;
}

std::shared_ptr<FakeEngine::DialogAnswer> FakeEngine::openDialog(
    std::function<void(EngineClient&, const FrameInfo&, std::shared_ptr<DialogAnswer>)> run) {
    auto answer = std::make_shared<DialogAnswer>();
    post([answer, run = std::move(run)](FakeEngine& e) {
        if (auto client = e.client()) run(*client, e.mainFrameInfo(true), answer);
    });
    return answer;
}

std::shared_ptr<const FakeEngine::DialogAnswer> FakeEngine::alert(std::string message) {
    return openDialog([message](EngineClient& client, const FrameInfo& frame, auto answer) {
        client.alertRequested(message, frame, [answer] { answer->answered = true; });
    });
}

std::shared_ptr<const FakeEngine::DialogAnswer> FakeEngine::confirm(std::string message) {
    return openDialog([message](EngineClient& client, const FrameInfo& frame, auto answer) {
        client.confirmRequested(message, frame, [answer](bool ok) {
            answer->answered = true;
            answer->confirmed = ok;
        });
    });
}

std::shared_ptr<const FakeEngine::DialogAnswer> FakeEngine::prompt(
    std::string text, std::optional<std::string> defaultText) {
    return openDialog(
        [text, defaultText](EngineClient& client, const FrameInfo& frame, auto answer) {
            client.promptRequested(text, defaultText, frame,
                                   [answer](std::optional<std::string> value) {
                                       answer->answered = true;
                                       answer->text = std::move(value);
                                   });
        });
}

std::shared_ptr<const FakeEngine::Fetch> FakeEngine::fetch(const ns::URL& url,
                                                           std::string httpMethod) {
    auto result = std::make_shared<Fetch>(url);
    post([result, httpMethod](FakeEngine& e) {
        URLRequest request(result->url);
        request.setHTTPMethod(httpMethod);
        request.setMainDocumentURL(e.url_.value_or(aboutBlank()));
        auto receiver = std::make_shared<FetchReceiver>(e.weak_from_this(), result);
        e.fetches_.push_back(receiver);
        result->task = std::make_shared<URLSchemeTask>(std::move(request), receiver);
        auto client = e.client();
        if (!client || !client->schemeTaskStarted(result->task)) {
            result->task.reset();
            receiver->taskDidFail(
                loadError(kURLErrorUnsupportedURL, "unsupported URL", result->url));
        }
    });
    return result;
}

void FakeEngine::cancelFetch(const std::shared_ptr<const Fetch>& fetch) {
    post([fetch](FakeEngine& e) {
        auto task = fetch ? fetch->task : nullptr;
        if (!task || task->isCompleted() || task->isStopped()) return;
        task->stop();
        std::erase_if(e.fetches_, [&](const auto& r) { return r->fetch == fetch; });
        if (auto client = e.client()) client->schemeTaskStopped(task);
    });
}

void FakeEngine::closeWindow() {
    post([](FakeEngine& e) {
        if (auto client = e.client()) client->closeRequested();
    });
}

void FakeEngine::terminateContentProcess() {
    post([](FakeEngine& e) {
        auto client = e.client();
        if (auto load = std::exchange(e.current_, nullptr)) {
            auto task = load->task;
            if (task && !task->isCompleted() && !task->isStopped()) {
                task->stop();
                if (client) client->schemeTaskStopped(task);
            }
        }
        e.progress_ = 0;
        auto pending = std::move(e.pending_);
        e.pending_.clear();
        ns::Error crashed(kErrorDomain, kErrorWebContentProcessTerminated,
                          {{ns::kLocalizedDescriptionKey, "The web content process terminated"}});
        for (auto& p : pending) {
            if (p.completion) p.completion(crashed);
        }
        if (client) client->webContentProcessTerminated();
    });
}

}  // namespace wk
