#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "platform/ns/Value.h"

namespace sqlitetest {

// One result as a plug-in sent it.
struct SentResult {
    std::string callbackId;
    unsigned status = 0;
    ns::Value message;
    bool keepCallback = false;
    // The message as the page gets it.
    std::string json;
    // For an answer sent after pieces: the member they go in, and how many went ahead.
    std::string member;
    size_t pieces = 0;
};

// A piece of an answer handed on ahead of it: the JSON text of an array, or a run of text.
struct SentPiece {
    std::string callbackId;
    size_t index = 0;
    std::string json;
    bool text = false;
};

// A command delegate that records every result and every piece of an answer, from any thread,
// in the order sent.
// Background work goes to the global queue, or runs at once on the caller when `inline` is
// set (for threads the test makes itself, and for a child process without the queues).
class SQLiteTestDelegate : public HYBCommandDelegate {
public:
    explicit SQLiteTestDelegate(bool runInline = false) : inline_(runInline) {}

    std::optional<std::string> pathForResource(std::string_view) override { return std::nullopt; }
    std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view) override { return nullptr; }
    void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                          const std::optional<std::string>& callbackId) override;
    bool sendsAnswerPieces() const override { return takesPieces_; }
    uint64_t currentPage() const override { return page_; }
    void sendAnswerPiece(const std::string& callbackId, uint64_t page, size_t index,
                         std::string json) override;
    void sendAnswerTextPiece(const std::string& callbackId, uint64_t page, size_t index,
                             std::string text) override;
    bool answerPieceAwaited(const std::string& callbackId, uint64_t page) const override;
    bool waitForAnswerPieceRoom(const std::string& callbackId, uint64_t page) override;
    void sendPluginResultAfterPieces(const std::shared_ptr<HYBPluginResult>& result,
                                     const std::string& callbackId, uint64_t page,
                                     std::string_view member, size_t pieces) override;
    void evalJs(std::string) override {}
    void evalJs(std::string, bool) override {}
    void runInBackground(std::function<void()> block) override;
    ns::Dictionary settings() const override { return {}; }
    UrlTransformer urlTransformer() const override { return nullptr; }
    void setUrlTransformer(UrlTransformer) override {}

    // Whether the delegate takes answers in pieces (from the next call on).
    void setTakesPieces(bool takes) { takesPieces_ = takes; }
    // Whether the page awaits a piece, asked with the number of pieces sent so far (by default
    // it never does).
    void setPieceAwaited(std::function<bool(size_t sent)> awaited);
    std::vector<SentPiece> pieces() const;
    // A page that holds at most `window` pieces not taken in: waiting for room makes it take
    // in the oldest until there is room. Without a window, nothing is waited for.
    void setPageWindow(size_t window);
    // A page that takes no piece past the first `count`: waiting for room then answers that the
    // answer ends.
    void setPageGoneAfter(size_t count);
    // Whether the page goes as each background work is handed over, after the call that asked
    // for it read the page: waiting for room then answers that the work's answer ends.
    void setPageGoesBeforeWork(bool goes) { pageGoesBeforeWork_ = goes; }
    // The most pieces the page held at once, not yet taken in.
    size_t mostPiecesHeld() const;
    // Runs on the producer's thread once each piece is recorded, before the producer goes on.
    void setPieceHook(std::function<void(const SentPiece&)> hook);

    std::vector<SentResult> results() const;
    // The result for the callback id; waits (without a time limit) until it has been sent.
    SentResult waitFor(const std::string& callbackId) const;
    // The result for the callback id, or nothing when none was sent yet.
    std::optional<SentResult> resultFor(const std::string& callbackId) const;

private:
    void recordPiece(SentPiece piece);

    const bool inline_;
    mutable std::mutex mutex_;
    mutable std::condition_variable sent_;
    std::vector<SentResult> results_;
    std::vector<SentPiece> pieces_;
    std::atomic<bool> takesPieces_{false};
    std::atomic<uint64_t> page_{0};
    std::atomic<bool> pageGoesBeforeWork_{false};
    std::function<bool(size_t sent)> pieceAwaited_;
    std::function<void(const SentPiece&)> pieceHook_;
    size_t pageWindow_ = 0;
    std::optional<size_t> pageGoneAfter_;
    size_t piecesHeld_ = 0;
    size_t mostPiecesHeld_ = 0;
};

}  // namespace sqlitetest
