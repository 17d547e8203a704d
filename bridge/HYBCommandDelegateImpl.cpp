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
#include "platform/ns/Log.h"

namespace {

constexpr const char* kNativeEvalScript =
    "try{hybrid.require('hybrid/exec').nativeEvalAndFetch(function(){%@})}catch(e){console.log('"
    "exception nativeEvalAndFetch : '+e);};";
constexpr const char* kInvalidCallbackId = "INVALID";

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
    evalJsHelper(callbackScript(result ? *result : kNoResult, *callbackId));
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
    auto queue = commandQueue_.lock();
    if (!delayResponses_.load() && dispatch::RunLoop::isMainThread() && queue &&
        queue->currentlyExecuting()) {
        evalJsHelper2(std::move(js));
        return;
    }
    std::weak_ptr<HYBCommandDelegateImpl> weakSelf =
        std::static_pointer_cast<HYBCommandDelegateImpl>(shared_from_this());
    dispatch::Queue::main().async([weakSelf, js = std::move(js)]() mutable {
        if (auto self = weakSelf.lock()) self->evalJsHelper2(std::move(js));
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
