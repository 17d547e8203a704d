#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"

#include <algorithm>

#include "bridge/HYBPluginResult.h"
#include "platform/dispatch/Queue.h"

namespace sqlitetest {

void SQLiteTestDelegate::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                          const std::optional<std::string>& callbackId) {
    SentResult sent{callbackId.value_or(""),
                    result ? result->status() : 0u,
                    result ? result->message() : ns::Value(),
                    result ? result->keepCallback() : false,
                    result ? result->argumentsAsJSON() : "null",
                    {},
                    0};
    {
        std::lock_guard lock(mutex_);
        results_.push_back(std::move(sent));
    }
    sent_.notify_all();
}

void SQLiteTestDelegate::sendAnswerPiece(const std::string& callbackId, uint64_t, size_t index,
                                         std::string json) {
    recordPiece({callbackId, index, std::move(json), false});
}

void SQLiteTestDelegate::sendAnswerTextPiece(const std::string& callbackId, uint64_t, size_t index,
                                             std::string text) {
    recordPiece({callbackId, index, std::move(text), true});
}

void SQLiteTestDelegate::recordPiece(SentPiece piece) {
    std::function<void(const SentPiece&)> hook;
    std::optional<SentPiece> seen;
    {
        std::lock_guard lock(mutex_);
        hook = pieceHook_;
        if (hook) seen = piece;
        pieces_.push_back(std::move(piece));
        mostPiecesHeld_ = std::max(mostPiecesHeld_, ++piecesHeld_);
    }
    if (hook) hook(*seen);
}

void SQLiteTestDelegate::setPieceHook(std::function<void(const SentPiece&)> hook) {
    std::lock_guard lock(mutex_);
    pieceHook_ = std::move(hook);
}

bool SQLiteTestDelegate::waitForAnswerPieceRoom(const std::string&, uint64_t page) {
    if (page != page_) return false;
    std::lock_guard lock(mutex_);
    if (pageGoneAfter_ && pieces_.size() >= *pageGoneAfter_) return false;
    while (pageWindow_ > 0 && piecesHeld_ >= pageWindow_) --piecesHeld_;
    return true;
}

void SQLiteTestDelegate::setPageGoneAfter(size_t count) {
    std::lock_guard lock(mutex_);
    pageGoneAfter_ = count;
}

void SQLiteTestDelegate::setPageWindow(size_t window) {
    std::lock_guard lock(mutex_);
    pageWindow_ = window;
}

size_t SQLiteTestDelegate::mostPiecesHeld() const {
    std::lock_guard lock(mutex_);
    return mostPiecesHeld_;
}

void SQLiteTestDelegate::sendPluginResultAfterPieces(const std::shared_ptr<HYBPluginResult>& result,
                                                     const std::string& callbackId, uint64_t,
                                                     std::string_view member, size_t pieces) {
    SentResult sent{callbackId,
                    result->status(),
                    result->message(),
                    result->keepCallback(),
                    result->argumentsAsJSON(),
                    std::string(member),
                    pieces};
    {
        std::lock_guard lock(mutex_);
        results_.push_back(std::move(sent));
    }
    sent_.notify_all();
}

bool SQLiteTestDelegate::answerPieceAwaited(const std::string&, uint64_t) const {
    std::lock_guard lock(mutex_);
    return pieceAwaited_ && pieceAwaited_(pieces_.size());
}

void SQLiteTestDelegate::setPieceAwaited(std::function<bool(size_t sent)> awaited) {
    std::lock_guard lock(mutex_);
    pieceAwaited_ = std::move(awaited);
}

std::vector<SentPiece> SQLiteTestDelegate::pieces() const {
    std::lock_guard lock(mutex_);
    return pieces_;
}

void SQLiteTestDelegate::runInBackground(std::function<void()> block) {
    if (pageGoesBeforeWork_) ++page_;
    if (inline_) {
        block();
    } else {
        dispatch::Queue::global().async(std::move(block));
    }
}

std::vector<SentResult> SQLiteTestDelegate::results() const {
    std::lock_guard lock(mutex_);
    return results_;
}

SentResult SQLiteTestDelegate::waitFor(const std::string& callbackId) const {
    std::unique_lock lock(mutex_);
    while (true) {
        for (const auto& result : results_) {
            if (result.callbackId == callbackId) return result;
        }
        sent_.wait(lock);
    }
}

std::optional<SentResult> SQLiteTestDelegate::resultFor(const std::string& callbackId) const {
    std::lock_guard lock(mutex_);
    for (const auto& result : results_) {
        if (result.callbackId == callbackId) return result;
    }
    return std::nullopt;
}

}  // namespace sqlitetest
