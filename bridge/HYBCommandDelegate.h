#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/URL.h"
#include "platform/ns/Value.h"

class HYBPlugin;
class HYBPluginResult;

// How a plug-in reaches the host: resource paths, other plug-ins, results and scripts into
// the page, background work and the settings.
class HYBCommandDelegate {
public:
    using UrlTransformer = std::function<ns::URL(const ns::URL&)>;

    virtual ~HYBCommandDelegate() = default;

    // The absolute path of a file inside the web content folder of the bundle, or nothing.
    virtual std::optional<std::string> pathForResource(std::string_view resourcepath) = 0;
    // The plug-in of a service (made on first use), or null.
    virtual std::shared_ptr<HYBPlugin> getCommandInstance(std::string_view pluginName) = 0;
    // Sends the result to the page's callback. Any thread; the page is reached on the main
    // thread. A null result counts as one with no status and no message.
    virtual void sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                  const std::optional<std::string>& callbackId) = 0;
    // The same for a result handed over as a temporary (or moved): when nothing else holds it
    // any more, a large message goes to the page without being copied.
    void sendPluginResult(std::shared_ptr<HYBPluginResult>&& result,
                          const std::optional<std::string>& callbackId) {
        sendOwnedPluginResult(std::move(result), callbackId);
    }
    // evalJs(js, true).
    virtual void evalJs(std::string js) = 0;
    // Runs the script in the page inside the bridge's wrapper; with `scheduledOnRunLoop`
    // false the caller must be on the main thread.
    virtual void evalJs(std::string js, bool scheduledOnRunLoop) = 0;
    // Runs the closure on the global background queue.
    virtual void runInBackground(std::function<void()> block) = 0;
    // A large answer can reach the page in pieces while its plug-in is still writing it, so
    // that carrying and parsing the text overlap with making it. Whether this delegate does:
    // without it a plug-in sends its answer whole.
    virtual bool sendsAnswerPieces() const { return false; }
    // The page shown now, as a number that changes whenever a page goes (it reloads, or its
    // controller closes). An answer belongs to the page that asked for it: its plug-in reads
    // the number when the call comes in (main thread) and gives it, as `page`, to every
    // operation on the answer's pieces below. A page's callback ids may repeat those of the
    // page before it, so the id alone does not say whose answer it is.
    virtual uint64_t currentPage() const { return 0; }
    // Hands the page the `index`th piece (from 0) of the answer to `callbackId`: the JSON text
    // of an array, a run of the elements that the answer's `member` array will hold. The host
    // parses it in the page at once and keeps it there; the page's callback sees nothing of it
    // until the answer comes. Any thread, in order. A piece for a page that is gone goes
    // nowhere.
    virtual void sendAnswerPiece(const std::string& callbackId, uint64_t page, size_t index,
                                 std::string json);
    // The same for an answer whose part that comes in pieces is a text (a string message, or
    // the Base64 data of an array buffer): the `index`th run of that text, kept in the page as
    // it is and joined to the runs before it.
    virtual void sendAnswerTextPiece(const std::string& callbackId, uint64_t page, size_t index,
                                     std::string text);
    // Whether the page would start on another piece of the answer to `callbackId` at once: it
    // has taken in every piece sent so far but at most one. A plug-in hands on a short piece
    // while the page waits for one and lets the next grow while the page is busy. A delegate
    // that cannot tell answers false. Any thread.
    virtual bool answerPieceAwaited(const std::string& callbackId, uint64_t page) const;
    // Returns once the page has taken in enough of the pieces sent for the answer to
    // `callbackId` that another may go (answerPieceAwaited): a producer calls it before it hands
    // on a piece, so that it never runs ahead of the page and the host never holds more than a
    // few pieces of an answer, whatever its size. On the main thread, where the page's taking
    // pieces in is told and nothing may wait for it, and with a delegate that does not send
    // pieces, it returns at once. False when the answer is to end instead: `page`, the page that
    // asked for it, is gone (reloaded or closed), whether or not a piece went yet, or it has
    // taken no piece in for a time well past any pause of a working page. The producer then
    // hands on nothing more, lets go of what it holds and answers its error with
    // sendPluginResult.
    [[nodiscard]] virtual bool waitForAnswerPieceRoom(const std::string& callbackId, uint64_t page);
    // Sends the answer whose first `pieces` pieces went ahead: the result's message is a
    // JSON value whose array at `member` (a path of keys and array indexes joined by ".", e.g.
    // "rows" or "2.result.rows"; empty for the message itself) holds the elements that follow
    // the pieces', and the page's callback gets the value with all of them in that array, as
    // if sent whole. Text pieces go before the text at `member` in the same way. A result sent
    // by sendPluginResult instead (an error) drops the pieces. An answer for a page that is
    // gone goes nowhere: no page holds its pieces, and the page shown now must not join pieces
    // of its own to it.
    virtual void sendPluginResultAfterPieces(const std::shared_ptr<HYBPluginResult>& result,
                                             const std::string& callbackId, uint64_t page,
                                             std::string_view member, size_t pieces);
    // The config.xml preferences keyed by lower-cased name.
    virtual ns::Dictionary settings() const = 0;
    // A hook the file plug-in hands to its file systems; the delegate never calls it.
    virtual UrlTransformer urlTransformer() const = 0;
    virtual void setUrlTransformer(UrlTransformer transformer) = 0;

protected:
    // A result given up by its sender; sent as any other unless the delegate can use that.
    virtual void sendOwnedPluginResult(std::shared_ptr<HYBPluginResult> result,
                                       const std::optional<std::string>& callbackId) {
        sendPluginResult(result, callbackId);
    }
};
