#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPageSink.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/ns/Object.h"
#include "platform/ns/Value.h"

class HYBCommandQueue;
class HYBPluginDirectory;

// The host's command delegate: checks callback ids, turns results into callbacks in the page,
// carries every evaluation to the main thread, hands the page's answers to the command queue,
// and forwards look-ups to the plug-in directory.
class HYBCommandDelegateImpl : public ns::Object, public HYBCommandDelegate {
public:
    // Longest callback id accepted, in UTF-16 units.
    static constexpr size_t kMaxCallbackIdLength = 100;
    // Pieces of one answer on their way to the page, not yet taken in, when the page is still
    // ready for another and a producer may hand one on: the page then works on one with the
    // next one waiting behind it, never waiting for the producer, and the producer is never
    // further ahead of the page than that.
    static constexpr size_t kPiecesInFlight = 2;
    // How long the page may take no piece of an answer in while some are on their way before
    // the answer ends (its producer's wait returns false). A working page takes a piece in well
    // under a second; this leaves room for a page held up by a long script of its own or a
    // heavily loaded machine, while a page that stopped (a script that never yields) frees the
    // producer, and the database or file it holds, within half a minute.
    static constexpr dispatch::Duration kPieceTakenTimeout = std::chrono::seconds(30);

    // Plug-ins, settings and the web folder come from `plugins`; scripts are evaluated in
    // `page`; what the page answers with is a batch of commands for `queue`.
    HYBCommandDelegateImpl(std::weak_ptr<HYBPluginDirectory> plugins,
                           std::weak_ptr<HYBPageSink> page, std::weak_ptr<HYBCommandQueue> queue);

    std::optional<std::string> pathForResource(std::string_view resourcepath) override;
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view pluginName) override;
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;
    bool sendsAnswerPieces() const override { return true; }
    uint64_t currentPage() const override;
    void sendAnswerPiece(const std::string& callbackId, uint64_t page, size_t index,
                         std::string json) override;
    void sendAnswerTextPiece(const std::string& callbackId, uint64_t page, size_t index,
                             std::string text) override;
    bool answerPieceAwaited(const std::string& callbackId, uint64_t page) const override;
    [[nodiscard]] bool waitForAnswerPieceRoom(const std::string& callbackId,
                                              uint64_t page) override;
    void sendPluginResultAfterPieces(const std::shared_ptr<HYBPluginResult>& result,
                                     const std::string& callbackId, uint64_t page,
                                     std::string_view member, size_t pieces) override;
    void evalJs(std::string js) override { evalJs(std::move(js), true); }
    void evalJs(std::string js, bool scheduledOnRunLoop) override;
    void runInBackground(std::function<void()> block) override;
    ns::Dictionary settings() const override;
    UrlTransformer urlTransformer() const override;
    void setUrlTransformer(UrlTransformer transformer) override;

    // The page shown is gone (it reloads, or its controller closes): the producer of each answer
    // it asked for learns at its next wait that the answer ends, whether or not a piece of it
    // went yet, rather than go on making pieces that no page will join. Nothing more of those
    // answers' pieces reaches a page, and the page lets go of those it keeps. Main thread.
    void endAnswersInPieces();

    // Runs the queue's pending commands with every evaluation they cause deferred to later
    // turns of the main run loop.
    void flushCommandQueueWithDelayedJs();
    // Evaluates at once when on the main thread inside a queue pass (and not delaying),
    // otherwise on a later turn of the main run loop, in the order asked.
    void evalJsHelper(std::string js) { evalJsHelper(PageScript{std::move(js), std::nullopt}); }
    // Evaluates now (main thread); a string the page answers is a batch of commands.
    void evalJsHelper2(std::string js) { evalJsHelper2(PageScript{std::move(js), std::nullopt}); }

    // True for ids of at most 100 UTF-16 units made only of ASCII letters, digits, ".", "_"
    // and "-" (the empty id included); false for a nil id.
    static bool isValidCallbackId(const std::optional<std::string>& callbackId);

    // One script that runs the given callback scripts in order, each shielded from the
    // exceptions of the others; its value is the array of the string answers (batches of
    // commands), or undefined when there are none.
    static std::string callbackBatchScript(const std::vector<std::string>& callbacks);

    // What one evaluation sends: a script, or a function body and the arguments it is called
    // with (a large answer, handed to the page as a value).
    struct PageScript {
        std::string text;
        std::optional<ns::Dictionary> arguments;
        bool isCallback = false;  // a result's callback, which can share an evaluation
        // Run on the main thread once the page has run the script or failed to.
        std::function<void()> evaluated = nullptr;
        // The callback id of an answer that comes by the host's own road (a value handed
        // over, a piece): the script's failure is logged with it.
        std::optional<std::string> answered = std::nullopt;
        // The page the script is for (a piece, or what joins or drops pieces): a later page
        // does not get it.
        std::optional<uint64_t> page = std::nullopt;
    };

protected:
    void sendOwnedPluginResult(std::shared_ptr<HYBPluginResult> result,
                               const std::optional<std::string>& callbackId) override;

private:
    // Whether results for the id go to the page (logging one that is not valid).
    static bool answersCallbackId(const std::optional<std::string>& callbackId);
    // evalJsHelper for any script: at once when on the main thread inside a queue pass, or
    // for a result when nothing asked for earlier is still waiting; otherwise on a later turn
    // of the main run loop, in order.
    void evalJsHelper(PageScript script);
    // evalJsHelper2 for any script: evaluates the script, or calls the function, now.
    void evalJsHelper2(PageScript script);
    void evaluateDeferred();
    void evaluateCallbackBatch(const std::vector<std::string>& callbacks);
    // A string the page answers is a batch of commands for the queue. With the id of the
    // answer it carried, a failure is logged.
    HYBPageSink::EvaluationHandler batchAnswerHandler(
        std::optional<std::string> answered = std::nullopt) const;
    // Hands the page a piece to keep: a text as it is, or the JSON text of an array, parsed.
    void sendPiece(const std::string& callbackId, uint64_t page, size_t index, std::string piece,
                   bool text);
    // How many pieces of the answer to the id the page has not taken in yet.
    size_t piecesOnTheirWay(const std::string& callbackId) const REQUIRES(piecesMutex_);
    // On the main loop, at the time by which the page must have taken a piece of the answer in:
    // ends the answer when it has not, else looks again at the next such time.
    void checkPieceTaken(const std::string& callbackId);
    void armPieceTimer(const std::string& callbackId, dispatch::TimePoint deadline)
        REQUIRES(piecesMutex_);
    // Forgets the answer's pieces: it came, or comes whole.
    bool forgetAnswer(const std::string& callbackId) REQUIRES(piecesMutex_);
    // Before an answer that comes whole: the page lets go of what it keeps of pieces sent
    // ahead for the id, if any were.
    void dropKeptPieces(const std::string& callbackId);

    std::weak_ptr<HYBPluginDirectory> plugins_;
    std::weak_ptr<HYBPageSink> page_;
    std::weak_ptr<HYBCommandQueue> commandQueue_;
    std::atomic<bool> delayResponses_{false};
    // Scripts deferred while nothing else was scheduled on the main loop, which one task
    // evaluates together: a burst of results costs one round trip to the page.
    struct DeferredGroup {
        std::vector<PageScript> scripts;
        // The main loop's scheduled count just after the group's task was posted.
        uint64_t countAfterPost;
    };

    // Evaluations waiting for the main run loop, oldest group first; each group has a task.
    dispatch::Mutex deferredMutex_;
    std::deque<DeferredGroup> deferred_ GUARDED_BY(deferredMutex_);
    // An answer that had pieces sent ahead and has not come yet.
    struct AnswerInPieces {
        // Pieces the page has not taken in yet.
        size_t onTheirWay = 0;
        // Since when the page has taken nothing in while pieces were on their way.
        dispatch::TimePoint waitingSince{};
        // The timer that checks the page took a piece in, while one is set.
        std::optional<dispatch::TimerId> timer;
        // Its producer is to stop: the page stopped taking pieces in.
        bool ended = false;
    };
    // The page shown now (currentPage), and its answers that had pieces sent by callback id;
    // signalled when the page takes a piece in or an answer ends.
    mutable dispatch::Mutex piecesMutex_;
    uint64_t shownPage_ GUARDED_BY(piecesMutex_) = 0;
    std::unordered_map<std::string, AnswerInPieces> piecesSent_ GUARDED_BY(piecesMutex_);
    std::condition_variable pieceTaken_;
    mutable dispatch::Mutex transformerMutex_;
    UrlTransformer urlTransformer_ GUARDED_BY(transformerMutex_);
};
