#include "bridge/HYBCommandDelegateImpl.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "bridge/HYBCommandQueue.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginDirectory.h"
#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
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

// Above this size an answer reaches the page as a value handed to a function call rather than
// as a literal in the callback's script: the engine then neither escapes nor compiles text of
// the answer's size (a literal object or array compiles in time that grows faster than its
// size; a string literal is escaped once more and copied by the compiler).
constexpr size_t kPassedAnswerBytes = 64 * 1024;

// The callback for an answer handed over as a value, with the arguments callbackId, status,
// keepCallback and message; the page's callback gets what the literal would have given it.
constexpr std::string_view kPassedCallbackHead =
    "return hybrid.require('hybrid/exec').nativeCallback(callbackId,status,";
constexpr std::string_view kPassedCallbackTail = ",keepCallback,0)";
constexpr std::string_view kParsedMessage = "JSON.parse(message)";
constexpr std::string_view kTextMessage = "message";
constexpr std::string_view kArrayBufferMessage = "{HYBType:'ArrayBuffer',data:message}";

// Pieces of an answer still being written (scripts, see kPieceKeeper), and the answer that
// joins them (handed over as a value). These functions of the host's own keep the pieces in
// the page, under the name kKeptPieces, so that the page's bridge script needs nothing for
// them: its callback gets
// the whole answer through the one function every bridge script has. A piece of an array
// arrives parsed, a piece of a text as it is; the answer's own part (at the path of
// keys `member`, joined by ".", or with no member the message itself) is joined to them: arrays
// into one array, texts into one text. An answer that lacks a piece, or whose pieces are not
// all of its part's kind, fails rather than pass for complete.
constexpr std::string_view kKeptPieces = "__hybAnswerPieces";
constexpr std::string_view kJoinBody =
    "var k=window[keeper],kept=k&&k.get(callbackId),m=JSON.parse(message);"
    "if(k)k.delete(callbackId);"
    "var path=member===''?[]:member.split('.'),box=null,key=null,own=m;"
    "for(var i=0;i<path.length;i++){box=own;key=path[i];"
    "own=box!==null&&typeof box==='object'&&Object.prototype.hasOwnProperty.call(box,key)?"
    "box[key]:void 0}"
    "var text=typeof own==='string';"
    "if(kept&&kept.length===pieces&&(text||Array.isArray(own))&&"
    "kept.every(function(p){return(typeof p==='string')===text})){"
    "kept.push(own);own=text?kept.join(''):kept.flat();if(box)box[key]=own;else m=own}"
    "else{status=9;m='incomplete answer'}"
    "return hybrid.require('hybrid/exec').nativeCallback(callbackId,status,m,keepCallback,0)";
// The page's function that keeps a piece, made ahead of the first piece of each answer where the
// page has none. Each piece is a script that only calls it with one JSON object, {"callbackId",
// "index", "keeper", "text", "piece"}: a script of that form the engine reads with its JSON
// reader instead of compiling it, so a piece reaches the page as a plain literal (nothing to
// escape but a text piece's characters) and is parsed as fast as JSON.parse would. That reader
// keeps a literal's meaning, though: a key "__proto__" sets its object's prototype. A piece that
// writes one comes as its JSON text instead, with "parse": true, for the page's JSON.parse, which
// keeps every key as the whole answer does.
constexpr std::string_view kPieceKeeper = "__hybKeepPiece";
constexpr std::string_view kPieceKeeperDefinition =
    "if(!window.__hybKeepPiece)Object.defineProperty(window,'__hybKeepPiece',{configurable:true,"
    "value:function(a){var keeper=a.keeper,callbackId=a.callbackId,index=a.index,text=a.text;"
    "var k=window[keeper];"
    "if(!k){k=new Map();Object.defineProperty(window,keeper,{value:k,configurable:true})}"
    "var kept=index===0?[]:k.get(callbackId),"
    "run=kept&&kept.length===index?(a.parse?JSON.parse(a.piece):a.piece):null;"
    "if(text?typeof run==='string':Array.isArray(run))kept.push(run);else kept=false;"
    "k.set(callbackId,kept)}});";
// What the page keeps of an answer's pieces goes when the answer comes whole instead (an error
// after the pieces).
constexpr std::string_view kDropPiecesBody = "var k=window[keeper];if(k)k.delete(callbackId)";

// Tells once that the page took a piece in: when told, or else when the last holder lets go
// of it, a script dropped on its way (no page, no engine) that nothing will ever take in. A
// producer waiting for room is never left waiting for an evaluation that cannot come.
class TakenNotice {
public:
    explicit TakenNotice(std::function<void()> notify) : notify_(std::move(notify)) {}
    ~TakenNotice() { tell(); }
    TakenNotice(const TakenNotice&) = delete;
    TakenNotice& operator=(const TakenNotice&) = delete;
    void tell() {
        if (auto notify = std::exchange(notify_, nullptr)) notify();
    }

private:
    std::function<void()> notify_;
};

bool isCallbackIdCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// "hybrid.require('hybrid/exec').nativeCallback('%@',%d,%@,%d, %d)" with the id, the status,
// the message's JSON, the keep-callback flag and 0, written straight into one buffer; or, for
// a large message, the same call with the message handed over as a value.
HYBCommandDelegateImpl::PageScript callbackOf(const HYBPluginResult& result,
                                              HYBPluginResult::PageMessage message,
                                              const std::string& callbackId) {
    using Form = HYBPluginResult::PageMessage::Form;
    const int keep = result.keepCallback() ? 1 : 0;
    if (message.form == Form::Script) {
        // Written piece by piece as the format would write it: this runs for every answer.
        constexpr std::string_view head = "hybrid.require('hybrid/exec').nativeCallback('";
        char status[16];
        const auto digits = std::to_chars(status, status + sizeof status, result.status());
        std::string script;
        script.reserve(head.size() + callbackId.size() + message.text.size() + 32);
        script.append(head).append(callbackId).append("',");
        script.append(status, digits.ptr).append(",").append(message.text);
        script.append(keep ? ",1, 0)" : ",0, 0)");
        return {std::move(script), std::nullopt, true};
    }
    const std::string_view value = message.form == Form::JSONText ? kParsedMessage
                                   : message.form == Form::Text   ? kTextMessage
                                                                  : kArrayBufferMessage;
    std::string body;
    body.append(kPassedCallbackHead).append(value).append(kPassedCallbackTail);
    ns::Dictionary arguments;
    arguments.emplace("callbackId", callbackId);
    arguments.emplace("keepCallback", keep);
    arguments.emplace("message", std::move(message.text));
    arguments.emplace("status", static_cast<int>(result.status()));
    return {std::move(body), std::move(arguments), true};
}

}  // namespace

HYBCommandDelegateImpl::HYBCommandDelegateImpl(std::weak_ptr<HYBPluginDirectory> plugins,
                                               std::weak_ptr<HYBPageSink> page,
                                               std::weak_ptr<HYBCommandQueue> queue)
    : plugins_(std::move(plugins)), page_(std::move(page)), commandQueue_(std::move(queue)) {}

bool HYBCommandDelegateImpl::isValidCallbackId(const std::optional<std::string>& callbackId) {
    // Only ASCII characters pass, so the byte count is the UTF-16 length.
    if (!callbackId || callbackId->size() > kMaxCallbackIdLength) return false;
    for (char c : *callbackId) {
        if (!isCallbackIdCharacter(c)) return false;
    }
    return true;
}

bool HYBCommandDelegateImpl::answersCallbackId(const std::optional<std::string>& callbackId) {
    if (callbackId && *callbackId == kInvalidCallbackId) return false;
    if (!isValidCallbackId(callbackId)) {
        ns::nslog("Invalid callback id received by sendPluginResult");
        return false;
    }
    return true;
}

// The id is placed between single quotes unescaped: validation leaves nothing that could end
// the literal.
void HYBCommandDelegateImpl::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                              const std::optional<std::string>& callbackId) {
    if (!answersCallbackId(callbackId)) return;
    dropKeptPieces(*callbackId);
    static const HYBPluginResult kNoResult;
    const HYBPluginResult& sent = result ? *result : kNoResult;
    evalJsHelper(callbackOf(sent, sent.pageMessage(kPassedAnswerBytes), *callbackId));
}

void HYBCommandDelegateImpl::sendOwnedPluginResult(std::shared_ptr<HYBPluginResult> result,
                                                   const std::optional<std::string>& callbackId) {
    // Held elsewhere as well (a plug-in that kept a copy may send or read it again): copied.
    if (!result || result.use_count() != 1) {
        sendPluginResult(result, callbackId);
        return;
    }
    if (!answersCallbackId(callbackId)) return;
    dropKeptPieces(*callbackId);
    auto message = result->takePageMessage(kPassedAnswerBytes);
    evalJsHelper(callbackOf(*result, std::move(message), *callbackId));
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

uint64_t HYBCommandDelegateImpl::currentPage() const {
    dispatch::Lock lock(piecesMutex_);
    return shownPage_;
}

void HYBCommandDelegateImpl::sendAnswerPiece(const std::string& callbackId, uint64_t page,
                                             size_t index, std::string json) {
    sendPiece(callbackId, page, index, std::move(json), false);
}

void HYBCommandDelegateImpl::sendAnswerTextPiece(const std::string& callbackId, uint64_t page,
                                                 size_t index, std::string text) {
    sendPiece(callbackId, page, index, std::move(text), true);
}

void HYBCommandDelegateImpl::sendPiece(const std::string& callbackId, uint64_t page, size_t index,
                                       std::string piece, bool text) {
    // The answer itself says what is wrong with its id; its pieces go nowhere.
    if (callbackId == kInvalidCallbackId || !isValidCallbackId(callbackId)) return;
    {
        dispatch::Lock lock(piecesMutex_);
        // The page shown now did not ask for it, whatever the id: its keeper would hold it.
        if (page != shownPage_) return;
        AnswerInPieces& answer = piecesSent_[callbackId];
        // Set before the piece can be evaluated, so that its deadline counts from its sending.
        if (answer.onTheirWay++ == 0) answer.waitingSince = dispatch::Clock::current().now();
        if (!answer.timer) {
            armPieceTimer(callbackId, answer.waitingSince + kPieceTakenTimeout);
        }
    }
    // Handed over as a value, the piece would first become a value of a script context in this
    // process, garbage that the engine collects only now and then: the host would hold an
    // answer's worth of pieces after all, however few are on their way. It goes as the text of
    // a script instead. The keeper is made where the page has none ahead of each answer's first
    // piece, by a script of its own: the piece's script keeps the form the engine reads as JSON.
    if (index == 0) evalJsHelper(std::string(kPieceKeeperDefinition));
    std::string script;
    script.reserve(piece.size() + piece.size() / 16 + callbackId.size() + 128);
    script.append(kPieceKeeper).append("({\"callbackId\":");
    ns::json::appendString(script, callbackId);
    script.append(",\"index\":").append(std::to_string(index)).append(",\"keeper\":");
    ns::json::appendString(script, kKeptPieces);
    const bool parsed = !text && HYBPluginResult::namesPrototypeKey(piece);
    script.append(text     ? ",\"text\":true,\"piece\":"
                  : parsed ? ",\"text\":false,\"parse\":true,\"piece\":"
                           : ",\"text\":false,\"piece\":");
    if (text || parsed) {
        ns::json::appendString(script, piece);
    } else {
        script.append(piece);
    }
    script.append("})");
    std::string().swap(piece);
    std::weak_ptr<HYBCommandDelegateImpl> weakSelf = sharedSelf<HYBCommandDelegateImpl>();
    auto taken = std::make_shared<TakenNotice>([weakSelf, callbackId, page] {
        auto self = weakSelf.lock();
        if (!self) return;
        {
            dispatch::Lock lock(self->piecesMutex_);
            const auto kept = self->piecesSent_.find(callbackId);
            if (self->shownPage_ == page && kept != self->piecesSent_.end() &&
                kept->second.onTheirWay > 0) {
                --kept->second.onTheirWay;
                kept->second.waitingSince = dispatch::Clock::current().now();
            }
        }
        self->pieceTaken_.notify_all();
    });
    evalJsHelper({std::move(script), std::nullopt, true,
                  [taken = std::move(taken)] { taken->tell(); }, callbackId, page});
}

bool HYBCommandDelegateImpl::answerPieceAwaited(const std::string& callbackId,
                                                uint64_t page) const {
    dispatch::Lock lock(piecesMutex_);
    const auto answer = piecesSent_.find(callbackId);
    // An answer that ended, or whose page went, is awaited: its producer comes to its wait at
    // once, and stops there.
    if (page != shownPage_ || (answer != piecesSent_.end() && answer->second.ended)) return true;
    return piecesOnTheirWay(callbackId) < kPiecesInFlight;
}

bool HYBCommandDelegateImpl::waitForAnswerPieceRoom(const std::string& callbackId, uint64_t page) {
    // The page's taking a piece in is told on the main thread, which must not wait for it.
    const bool mainThread = dispatch::RunLoop::isMainThread();
    dispatch::Lock lock(piecesMutex_);
    while (true) {
        // Its page went: before its first piece the answer has no entry to say so.
        if (page != shownPage_) return false;
        const auto answer = piecesSent_.find(callbackId);
        if (answer == piecesSent_.end()) return true;
        if (answer->second.ended) return false;
        if (mainThread || answer->second.onTheirWay < kPiecesInFlight) return true;
        lock.wait(pieceTaken_);
    }
}

size_t HYBCommandDelegateImpl::piecesOnTheirWay(const std::string& callbackId) const {
    const auto kept = piecesSent_.find(callbackId);
    return kept == piecesSent_.end() ? 0 : kept->second.onTheirWay;
}

void HYBCommandDelegateImpl::armPieceTimer(const std::string& callbackId,
                                           dispatch::TimePoint deadline) {
    std::weak_ptr<HYBCommandDelegateImpl> weakSelf = sharedSelf<HYBCommandDelegateImpl>();
    const dispatch::Duration delay = deadline - dispatch::Clock::current().now();
    piecesSent_[callbackId].timer = dispatch::RunLoop::main().postAfter(
        std::max(delay, dispatch::Duration::zero()), [weakSelf, callbackId] {
            if (auto self = weakSelf.lock()) self->checkPieceTaken(callbackId);
        });
}

void HYBCommandDelegateImpl::checkPieceTaken(const std::string& callbackId) {
    {
        dispatch::Lock lock(piecesMutex_);
        const auto found = piecesSent_.find(callbackId);
        if (found == piecesSent_.end()) return;
        AnswerInPieces& answer = found->second;
        answer.timer.reset();
        // With nothing on its way, the page waits for the producer; the next piece sets a timer.
        if (answer.ended || answer.onTheirWay == 0) return;
        const dispatch::TimePoint deadline = answer.waitingSince + kPieceTakenTimeout;
        if (dispatch::Clock::current().now() < deadline) {
            armPieceTimer(callbackId, deadline);
            return;
        }
        answer.ended = true;
    }
    ns::nslog(
        "ERROR: The page took in no piece of the answer to callback %@ for %d s: the "
        "answer ends",
        callbackId,
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(kPieceTakenTimeout).count()));
    pieceTaken_.notify_all();
}

void HYBCommandDelegateImpl::endAnswersInPieces() {
    bool piecesKept;
    {
        dispatch::Lock lock(piecesMutex_);
        // Every answer of the page that went ends by its page, also one with no piece sent yet;
        // what is kept is of the next page's answers only, whose ids may repeat these.
        ++shownPage_;
        piecesKept = !piecesSent_.empty();
        for (auto& [callbackId, answer] : piecesSent_) {
            if (answer.timer) dispatch::RunLoop::main().cancel(*answer.timer);
        }
        piecesSent_.clear();
    }
    pieceTaken_.notify_all();
    // No answer will join or drop what the page keeps of them: it lets go of it now, while it
    // is still the page shown (a navigation that then fails leaves it there).
    if (piecesKept) {
        const std::string keeper = "window." + std::string(kKeptPieces);
        evalJsHelper2("if(" + keeper + ")" + keeper + ".clear()");
    }
}

bool HYBCommandDelegateImpl::forgetAnswer(const std::string& callbackId) {
    const auto answer = piecesSent_.find(callbackId);
    if (answer == piecesSent_.end()) return false;
    if (answer->second.timer) dispatch::RunLoop::main().cancel(*answer->second.timer);
    piecesSent_.erase(answer);
    return true;
}

void HYBCommandDelegateImpl::sendPluginResultAfterPieces(
    const std::shared_ptr<HYBPluginResult>& result, const std::string& callbackId, uint64_t page,
    std::string_view member, size_t pieces) {
    if (pieces == 0 || !result) {
        sendPluginResult(result, callbackId);
        return;
    }
    if (!answersCallbackId(callbackId)) return;
    {
        dispatch::Lock lock(piecesMutex_);
        // Its pieces went to a page that is gone; the page shown now would join its own.
        if (page != shownPage_) return;
        forgetAnswer(callbackId);
    }
    ns::Dictionary arguments;
    arguments.emplace("callbackId", callbackId);
    arguments.emplace("keeper", std::string(kKeptPieces));
    arguments.emplace("status", static_cast<int>(result->status()));
    arguments.emplace("message", result->argumentsAsJSON());
    arguments.emplace("member", std::string(member));
    arguments.emplace("pieces", static_cast<int64_t>(pieces));
    arguments.emplace("keepCallback", result->keepCallback() ? 1 : 0);
    evalJsHelper({std::string(kJoinBody), std::move(arguments), true, nullptr, std::nullopt, page});
}

void HYBCommandDelegateImpl::dropKeptPieces(const std::string& callbackId) {
    uint64_t page;
    {
        dispatch::Lock lock(piecesMutex_);
        if (piecesSent_.empty() || !forgetAnswer(callbackId)) return;
        page = shownPage_;
    }
    ns::Dictionary arguments;
    arguments.emplace("callbackId", callbackId);
    arguments.emplace("keeper", std::string(kKeptPieces));
    evalJsHelper(
        {std::string(kDropPiecesBody), std::move(arguments), false, nullptr, std::nullopt, page});
}

void HYBCommandDelegateImpl::evalJsHelper(PageScript script) {
    auto& loop = dispatch::RunLoop::main();
    if (!delayResponses_.load() && dispatch::RunLoop::isMainThread()) {
        auto queue = commandQueue_.lock();
        if (queue && queue->currentlyExecuting()) {
            evalJsHelper2(std::move(script));
            return;
        }
        // A result that nothing asked for before it waits for (nothing deferred, no work due
        // on the main loop) goes at once: the page has no reason to wait a turn for it. What
        // the rest of this turn sends waits for the turn's end, where it shares one evaluation
        // (the empty task marks the turn as having work). Scripts of the program's own keep
        // their turn.
        dispatch::Lock lock(deferredMutex_);
        if (script.isCallback && deferred_.empty() && !loop.hasReadyWork()) {
            lock.unlock();
            loop.post([] {});
            evalJsHelper2(std::move(script));
            return;
        }
    }
    dispatch::Lock lock(deferredMutex_);
    // A script joins the group still waiting for its task only while nothing else has been
    // scheduled on the main loop since that task: it must not run before work posted ahead
    // of it.
    if (!deferred_.empty() && deferred_.back().countAfterPost == loop.scheduledCount()) {
        deferred_.back().scripts.push_back(std::move(script));
        return;
    }
    // Counted before the post, so that any other work scheduled meanwhile starts a new group.
    const uint64_t countAfterPost = loop.scheduledCount() + 1;
    deferred_.push_back({{}, countAfterPost});
    deferred_.back().scripts.push_back(std::move(script));
    std::weak_ptr<HYBCommandDelegateImpl> weakSelf = sharedSelf<HYBCommandDelegateImpl>();
    dispatch::Queue::main().async([weakSelf] {
        if (auto self = weakSelf.lock()) self->evaluateDeferred();
    });
}

void HYBCommandDelegateImpl::evaluateDeferred() {
    std::vector<PageScript> scripts;
    {
        dispatch::Lock lock(deferredMutex_);
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
        if (!script.isCallback || script.arguments || script.evaluated ||
            script.text.size() > kMaxSharedCallbackBytes) {
            flush();
            evalJsHelper2(std::move(script));
            continue;
        }
        if (batchBytes + script.text.size() > kMaxBatchScriptBytes) flush();
        batchBytes += script.text.size();
        batch.push_back(std::move(script.text));
    }
    flush();
}

void HYBCommandDelegateImpl::evaluateCallbackBatch(const std::vector<std::string>& callbacks) {
    auto page = page_.lock();
    if (!page) return;
    std::weak_ptr<HYBCommandQueue> weakQueue = commandQueue_;
    page->evaluateJavaScript(callbackBatchScript(callbacks),
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

void HYBCommandDelegateImpl::evalJsHelper2(PageScript script) {
    if (script.page && *script.page != currentPage()) return;
    auto page = page_.lock();
    if (!page) return;
    std::optional<std::string> answered = std::move(script.answered);
    if (script.arguments && !answered) {
        const auto callbackId = script.arguments->find("callbackId");
        answered = callbackId != script.arguments->end() ? callbackId->second.stringValue() : "";
    }
    auto handler = batchAnswerHandler(std::move(answered));
    if (script.evaluated) {
        handler = [handler = std::move(handler),
                   evaluated = std::move(script.evaluated)](ns::Result<ns::Value> result) {
            evaluated();
            handler(std::move(result));
        };
    }
    if (!script.arguments) {
        page->evaluateJavaScript(std::move(script.text), std::move(handler));
        return;
    }
    page->callAsyncJavaScript(std::move(script.text), std::move(*script.arguments),
                              std::move(handler));
}

HYBPageSink::EvaluationHandler HYBCommandDelegateImpl::batchAnswerHandler(
    std::optional<std::string> answered) const {
    return [weakQueue = commandQueue_, answered](ns::Result<ns::Value> result) {
        // An answer handed over as a value comes by the host's own road: one that fails there
        // (a page without the bridge's callback) says so rather than vanish.
        if (!result && answered) {
            ns::nslog("ERROR: The answer to callback %@ did not reach the page: %@", *answered,
                      result.error().localizedDescription());
        }
        auto queue = weakQueue.lock();
        if (!queue || !result || !result->isString()) return;
        queue->enqueueCommandBatch(std::move(*result->string()));
        queue->executePending();
    };
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
    auto plugins = plugins_.lock();
    return plugins ? plugins->pathForResource(resourcepath) : std::nullopt;
}

std::shared_ptr<HYBPlugin> HYBCommandDelegateImpl::getCommandInstance(std::string_view pluginName) {
    auto plugins = plugins_.lock();
    return plugins ? plugins->getCommandInstance(pluginName) : nullptr;
}

void HYBCommandDelegateImpl::runInBackground(std::function<void()> block) {
    dispatch::Queue::global().async(std::move(block));
}

ns::Dictionary HYBCommandDelegateImpl::settings() const {
    auto plugins = plugins_.lock();
    return plugins ? plugins->settings() : ns::Dictionary();
}

HYBCommandDelegate::UrlTransformer HYBCommandDelegateImpl::urlTransformer() const {
    dispatch::Lock lock(transformerMutex_);
    return urlTransformer_;
}

void HYBCommandDelegateImpl::setUrlTransformer(UrlTransformer transformer) {
    dispatch::Lock lock(transformerMutex_);
    urlTransformer_ = std::move(transformer);
}
