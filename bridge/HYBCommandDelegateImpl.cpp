#include "bridge/HYBCommandDelegateImpl.h"

#include <algorithm>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/HYBWebViewEngineProtocol.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

namespace {

constexpr const char* kNativeEvalScript =
    "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){%@})}catch(e){console.log('"
    "exception nativeEvalAndFetch : '+e);};";
constexpr const char* kInvalidCallbackId = "INVALID";

// Callbacks of up to this size share an evaluation; a larger one (binary data, a file's text)
// goes on its own rather than being copied into a shared script.
constexpr size_t kMaxSharedCallbackBytes = 16 * 1024;
// Keeps the compile of one shared script short, so the page is not held up by it.
constexpr size_t kMaxBatchScriptBytes = 512 * 1024;

// Around each callback of a shared evaluation: a callback that throws is dropped alone (as
// its own evaluation's error would be), and a string answer is kept as a batch of commands.
constexpr std::string_view kBatchHead =
    "(function(){var r=[],p=function(v){if(typeof v==='string')r.push(v)};";
constexpr std::string_view kBatchEntryHead = "try{p(";
constexpr std::string_view kBatchEntryTail = ")}catch(e){}";
constexpr std::string_view kBatchTail = "return r.length?r:void 0})()";

// Above this size an object or array answer reaches the page as JSON text in a string
// literal that the page parses: the engine compiles a huge object or array literal in time
// that grows faster than its size, while a string literal and JSON.parse stay linear. Binary
// data is one long string in a small object already, and stays a literal.
constexpr size_t kParsedAnswerBytes = 64 * 1024;
constexpr std::string_view kBinaryEnvelopeHead = R"({"HYBType":)";

bool isParsedByThePage(std::string_view json) {
    return json.size() > kParsedAnswerBytes && (json.front() == '[' || json.front() == '{') &&
           !json.starts_with(kBinaryEnvelopeHead);
}

bool isCallbackIdCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// "hybrid.require('hybrid/exec').nativeCallback('%@',%d,%@,%d, %d)" with the id, the status,
// the message's JSON, the keep-callback flag and 0, written straight into one buffer: the
// message of a binary result can be tens of megabytes, and formatting would copy it more
// than once.
std::string callbackScript(const HYBPluginResult& result, const std::string& callbackId) {
    const std::string head = ns::format("hybrid.require('hybrid/exec').nativeCallback('%@',%d,",
                                        callbackId, result.status());
    const std::string tail = ns::format(",%d, %d)", result.keepCallback() ? 1 : 0, 0);
    std::string script = head;
    result.appendArgumentsAsJSON(script, tail.size());
    const std::string_view json = std::string_view(script).substr(head.size());
    if (isParsedByThePage(json)) {
        ns::JSONWriter literal;
        literal.string(json);
        if (auto text = literal.take()) {
            script.resize(head.size());
            script.reserve(head.size() + text->size() + tail.size() + 12);
            script.append("JSON.parse(").append(*text).append(")");
        }
    }
    script.append(tail);
    return script;
}

}  // namespace

HYBCommandDelegateImpl::HYBCommandDelegateImpl(
    const std::shared_ptr<HYBViewController>& viewController)
    : viewController_(viewController),
      commandQueue_(viewController ? viewController->commandQueue() : nullptr) {}

bool HYBCommandDelegateImpl::isValidCallbackId(const std::optional<std::string>& callbackId) {
    // Only ASCII characters pass, so the byte count is the UTF-16 length.
    if (!callbackId || callbackId->size() > kMaxCallbackIdLength) return false;
    for (char c : *callbackId) {
        if (!isCallbackIdCharacter(c)) return false;
    }
    return true;
}

void HYBCommandDelegateImpl::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                              const std::optional<std::string>& callbackId) {
    if (callbackId && *callbackId == kInvalidCallbackId) return;
    if (!isValidCallbackId(callbackId)) {
        ns::nslog("Invalid callback id received by sendPluginResult");
        return;
    }
    // The id is placed between single quotes unescaped: validation leaves nothing that could
    // end the literal.
    static const HYBPluginResult kNoResult;
    evaluateOrDefer(callbackScript(result ? *result : kNoResult, *callbackId), true);
}

std::string HYBCommandDelegateImpl::callbackBatchScript(const std::vector<std::string>& callbacks) {
    size_t size = kBatchHead.size() + kBatchTail.size();
    for (const auto& callback : callbacks) {
        size += kBatchEntryHead.size() + callback.size() + kBatchEntryTail.size();
    }
    std::string script;
    script.reserve(size);
    script.append(kBatchHead);
    for (const auto& callback : callbacks) {
        script.append(kBatchEntryHead).append(callback).append(kBatchEntryTail);
    }
    script.append(kBatchTail);
    return script;
}

void HYBCommandDelegateImpl::evalJs(std::string js, bool scheduledOnRunLoop) {
    std::string wrapped = ns::format(kNativeEvalScript, js);
    if (scheduledOnRunLoop) {
        evalJsHelper(std::move(wrapped));
    } else {
        evalJsHelper2(std::move(wrapped));
    }
}

void HYBCommandDelegateImpl::evalJsHelper(std::string js) {
    evaluateOrDefer(std::move(js), false);
}

void HYBCommandDelegateImpl::evaluateOrDefer(std::string js, bool isCallback) {
    auto queue = commandQueue_.lock();
    if (!delayResponses_.load() && dispatch::RunLoop::isMainThread() && queue &&
        queue->currentlyExecuting()) {
        evalJsHelper2(std::move(js));
        return;
    }
    auto& loop = dispatch::RunLoop::main();
    std::lock_guard lock(deferredMutex_);
    // A script joins the group still waiting for its task only while nothing else has been
    // scheduled on the main loop since that task: it must not run before work posted ahead
    // of it.
    if (!deferred_.empty() && deferred_.back().countAfterPost == loop.scheduledCount()) {
        deferred_.back().scripts.push_back({std::move(js), isCallback});
        return;
    }
    // Counted before the post, so that any other work scheduled meanwhile starts a new group.
    const uint64_t countAfterPost = loop.scheduledCount() + 1;
    deferred_.push_back({{}, countAfterPost});
    deferred_.back().scripts.push_back({std::move(js), isCallback});
    std::weak_ptr<HYBCommandDelegateImpl> weakSelf = sharedSelf<HYBCommandDelegateImpl>();
    dispatch::Queue::main().async([weakSelf] {
        if (auto self = weakSelf.lock()) self->evaluateDeferred();
    });
}

void HYBCommandDelegateImpl::evaluateDeferred() {
    std::vector<DeferredScript> scripts;
    {
        std::lock_guard lock(deferredMutex_);
        if (deferred_.empty()) return;
        scripts = std::move(deferred_.front().scripts);
        deferred_.pop_front();
    }
    // Consecutive small callbacks share one evaluation; anything else keeps its own, so the
    // page sees every script in the order it was asked for.
    std::vector<std::string> batch;
    size_t batchBytes = 0;
    auto flush = [&] {
        if (batch.size() == 1) {
            evalJsHelper2(std::move(batch.front()));
        } else if (!batch.empty()) {
            evaluateCallbackBatch(batch);
        }
        batch.clear();
        batchBytes = 0;
    };
    for (auto& script : scripts) {
        if (!script.isCallback || script.text.size() > kMaxSharedCallbackBytes) {
            flush();
            evalJsHelper2(std::move(script.text));
            continue;
        }
        if (batchBytes + script.text.size() > kMaxBatchScriptBytes) flush();
        batchBytes += script.text.size();
        batch.push_back(std::move(script.text));
    }
    flush();
}

void HYBCommandDelegateImpl::evaluateCallbackBatch(const std::vector<std::string>& callbacks) {
    auto controller = viewController_.lock();
    auto engine = controller ? controller->webViewEngine() : nullptr;
    if (!engine) return;
    std::weak_ptr<HYBCommandQueue> weakQueue = commandQueue_;
    engine->evaluateJavaScript(callbackBatchScript(callbacks),
                               [weakQueue](ns::Result<ns::Value> result) {
                                   auto queue = weakQueue.lock();
                                   ns::Array* answers = result ? result->array() : nullptr;
                                   if (!queue || !answers) return;
                                   for (auto& answer : *answers) {
                                       if (answer.isString())
                                           queue->enqueueCommandBatch(std::move(*answer.string()));
                                   }
                                   queue->executePending();
                               });
}

void HYBCommandDelegateImpl::evalJsHelper2(std::string js) {
    auto controller = viewController_.lock();
    auto engine = controller ? controller->webViewEngine() : nullptr;
    if (!engine) return;
    std::weak_ptr<HYBCommandQueue> weakQueue = commandQueue_;
    engine->evaluateJavaScript(std::move(js), [weakQueue](ns::Result<ns::Value> result) {
        auto queue = weakQueue.lock();
        if (!queue || !result || !result->isString()) return;
        queue->enqueueCommandBatch(std::move(*result->string()));
        queue->executePending();
    });
}

void HYBCommandDelegateImpl::flushCommandQueueWithDelayedJs() {
    delayResponses_.store(true);
    struct Restore {
        std::atomic<bool>& flag;
        ~Restore() { flag.store(false); }
    } restore{delayResponses_};
    if (auto queue = commandQueue_.lock()) queue->executePending();
}

std::optional<std::string> HYBCommandDelegateImpl::pathForResource(std::string_view resourcepath) {
    auto controller = viewController_.lock();
    const std::string www =
        controller && controller->wwwFolderName() ? *controller->wwwFolderName() : "www";
    // A path that climbs out of the web folder names nothing in it.
    for (size_t start = 0; start <= resourcepath.size();) {
        const size_t end = std::min(resourcepath.find('/', start), resourcepath.size());
        if (resourcepath.substr(start, end - start) == "..") return std::nullopt;
        start = end + 1;
    }
    const size_t slash = resourcepath.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? resourcepath : resourcepath.substr(slash + 1);
    const std::string_view subFolder =
        slash == std::string_view::npos ? std::string_view() : resourcepath.substr(0, slash);
    const std::string folder = subFolder.empty() ? www : ns::format("%@/%@", www, subFolder);
    return ns::Bundle::mainBundle()->pathForResource(fileName, "", folder);
}

std::shared_ptr<HYBPlugin> HYBCommandDelegateImpl::getCommandInstance(std::string_view pluginName) {
    auto controller = viewController_.lock();
    return controller ? controller->getCommandInstance(pluginName) : nullptr;
}

void HYBCommandDelegateImpl::runInBackground(std::function<void()> block) {
    dispatch::Queue::global().async(std::move(block));
}

ns::Dictionary HYBCommandDelegateImpl::settings() const {
    auto controller = viewController_.lock();
    return controller ? controller->settings() : ns::Dictionary();
}

HYBCommandDelegate::UrlTransformer HYBCommandDelegateImpl::urlTransformer() const {
    std::lock_guard lock(transformerMutex_);
    return urlTransformer_;
}

void HYBCommandDelegateImpl::setUrlTransformer(UrlTransformer transformer) {
    std::lock_guard lock(transformerMutex_);
    urlTransformer_ = std::move(transformer);
}
