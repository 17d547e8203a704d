#include "bridge/HYBCommandDelegate.h"

#include "platform/ns/Exception.h"

void HYBCommandDelegate::sendAnswerPiece(const std::string&, uint64_t, size_t, std::string) {
    // Only a delegate that keeps pieces may be handed one: the answer would arrive without it.
    throw ns::Exception(ns::kInternalInconsistencyException,
                        "this command delegate does not send answers in pieces");
}

void HYBCommandDelegate::sendAnswerTextPiece(const std::string&, uint64_t, size_t, std::string) {
    throw ns::Exception(ns::kInternalInconsistencyException,
                        "this command delegate does not send answers in pieces");
}

bool HYBCommandDelegate::answerPieceAwaited(const std::string&, uint64_t) const {
    return false;
}

bool HYBCommandDelegate::waitForAnswerPieceRoom(const std::string&, uint64_t) {
    return true;
}

void HYBCommandDelegate::sendPluginResultAfterPieces(const std::shared_ptr<HYBPluginResult>& result,
                                                     const std::string& callbackId, uint64_t,
                                                     std::string_view, size_t pieces) {
    if (pieces != 0) {
        throw ns::Exception(ns::kInternalInconsistencyException,
                            "this command delegate does not send answers in pieces");
    }
    sendPluginResult(result, callbackId);
}
