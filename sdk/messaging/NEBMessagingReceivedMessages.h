#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "proto/mcs.pb.h"
#include "sdk/core/NEBBackoff.h"
#include "sdk/messaging/NEBMessagingSyncMessageManager.h"

namespace dispatch {
class Queue;
}
class NEBMessagingRmq2PersistentStore;

// How a received message comes to the application: received in this run of the program, or
// kept by a run that stopped before the application had it.
enum class NEBMessagingArrival { Received, KeptFromEarlierRun };

// The data messages received over the socket on their way to the application. What one read
// from the socket brought is stored in one transaction on the store's queue (the ids owed an
// acknowledgement, and each message, kept until the application has it or its time to live
// ends); only then is it acknowledged and handed on, in the order it arrived, behind what an
// earlier run kept. At most kUnrecordedLimit stored messages are with the application without
// their delivery recorded, so that a kill hands at most that many over again; the others wait,
// the newest in the store only, read back a page at a time. A message the store does not keep
// goes past those waiting for room. Deliveries are recorded as they come, with the next write
// of the store's queue. Main thread, except what runs on the store's queue.
class NEBMessagingReceivedMessages
    : public std::enable_shared_from_this<NEBMessagingReceivedMessages> {
public:
    static constexpr size_t kUnrecordedLimit = 64;
    // Stored messages waiting for the application that are also held in memory.
    static constexpr size_t kWaitingInMemoryLimit = 256;
    static constexpr int kPageSize = 64;
    // A time to live for a message that names none: the longest a message is remembered.
    static constexpr int64_t kDefaultTimeToLive =
        NEBMessagingSyncMessageManager::kDefaultExpirySeconds;
    // After a failed write or read of the store, the next tries, from this many seconds on.
    static constexpr NEBBackoff kRetry = NEBBackoffPolicies{}.messageStore;
    static constexpr double kRetryDelaySeconds = kRetry.base;

    using Sink =
        std::function<void(const mcs::McsDataMessageStanza& stanza, NEBMessagingArrival arrival)>;

    // The frames of one read from the socket that the store or the application must see, in
    // the order they came.
    struct Batch {
        struct Item {
            // The frame's reliable-delivery id, owed an acknowledgement; empty when it has none.
            std::string persistentId;
            // A data stanza's bytes.
            std::string payload;
            // Kept under its id until the application has it (a data stanza whose id the
            // application can confirm).
            bool keep = false;
            // A data stanza for the application.
            bool handOn = false;
            int64_t expirationTime = 0;
        };
        std::vector<Item> items;
        bool empty() const { return items.empty(); }
        bool needsStore() const;
    };
    // Stored: the read may be acknowledged (with a store given up: the application has its
    // messages). Failed: not stored, the link goes so that the server sends it again.
    // Abandoned: a read after one that failed. Unstored: only inside, for a read handed on
    // without the store.
    enum class Outcome { Stored, Failed, Abandoned, Unstored };
    // Shared by the batches of one connection to the server: once one fails, the later ones
    // are not stored either, so that nothing past a message the server must send again is
    // acknowledged or handed on before it.
    using Chain = std::shared_ptr<std::atomic<bool>>;
    using Completion = std::function<void(Outcome outcome)>;

    // Over the store, used only on `queue`; `lastRowAtOpen` is the newest message the store
    // kept when it was opened (0: none).
    NEBMessagingReceivedMessages(std::shared_ptr<dispatch::Queue> queue,
                                 NEBMessagingRmq2PersistentStore* store, int64_t lastRowAtOpen);

    // When the message's time to live ends, in seconds since 1970, counted from now.
    static int64_t expirationTimeFor(const mcs::McsDataMessageStanza& stanza);

    // Where messages go. Until startDelivering(), messages kept by an earlier run, and those
    // that arrive after them, wait; messages that arrive when nothing was kept go at once.
    void setSink(Sink sink);
    void startDelivering();
    bool isDelivering() const { return delivering_; }

    // Stores the batch, then calls `done` (acknowledgements go out there) and hands its
    // messages on. A message kept already (sent again by the server) is not handed on again.
    void submit(Batch batch, Chain chain, Completion done);
    // The application has the message, or it was dropped on its way: it is no longer kept.
    void finish(const std::string& rmqId);
    // The server has the acknowledgement of these ids: no login needs to report them again.
    void forgetAcknowledged(const std::vector<std::string>& rmqIds);
    // Drops the kept messages whose time to live has ended, with a log line.
    void sweepExpired();

    size_t unrecordedCount() const { return unrecorded_.size(); }
    size_t waitingInMemoryCount() const { return waiting_.size(); }

private:
    struct Shared;
    struct Forgotten;
    struct StoreResult {
        Outcome outcome = Outcome::Stored;
        // Per item: the row it was kept in, 0 when it was not kept now.
        std::vector<int64_t> rows;
        std::vector<std::string> recorded;
    };
    struct Waiting {
        int64_t row = 0;  // 0: not in the store
        std::string rmqId;
        std::string payload;
        NEBMessagingArrival arrival = NEBMessagingArrival::Received;
    };

    // A completion waiting for its turn and for the application to have the messages of a read
    // the store did not take.
    struct Settling {
        Completion done;
        Outcome outcome = Outcome::Stored;
        std::vector<std::string> awaiting;
    };

    static StoreResult storeBatch(Shared& shared, const Batch& batch, const Chain& chain);
    // SQLITE_OK, or the error code of the write that failed (rolled back).
    static int writeBatch(NEBMessagingRmq2PersistentStore& store, const Batch& batch,
                          const Forgotten& forgotten, StoreResult& result);
    static void giveUp(Shared& shared, NEBMessagingRmq2PersistentStore& store, const char* why);
    void settle(std::optional<Settling> next);
    static Forgotten takeForgotten(Shared& shared);
    static void giveBack(Shared& shared, Forgotten taken);
    static bool forget(NEBMessagingRmq2PersistentStore& store, const Forgotten& forgotten);
    void forgetWithNextWrite(const std::function<void(Forgotten&)>& add);
    void flushForgotten();
    void didStore(const Batch& batch, StoreResult result, const Completion& done);
    void didRecord(const std::vector<std::string>& ids);
    void scheduleFlushRetry();
    void after(double seconds, std::function<void(NEBMessagingReceivedMessages&)> task);
    void placeStored(int64_t row, const Batch::Item& item);
    void placeUnkept(const Batch::Item& item);
    void handOn(const Waiting& message);
    void pump();
    void readPage();
    void didReadPage(std::optional<std::vector<Waiting>> rows);
    template <class Task>
    void onStoreQueue(Task task);
    template <class Task>
    void onMain(Task task);

    const std::shared_ptr<dispatch::Queue> queue_;
    const std::shared_ptr<Shared> shared_;
    const int64_t lastRowAtOpen_;
    Sink sink_;
    bool delivering_;
    // Every stored message not yet handed on is in waiting_ (otherwise some are in the store
    // only, after readThrough_).
    bool caughtUp_;
    int64_t readThrough_ = 0;
    std::deque<Waiting> waiting_;
    std::unordered_set<std::string> unrecorded_;
    std::deque<Settling> settling_;
    // Messages handed on that no store keeps, until the application has them.
    std::unordered_multiset<std::string> inMemory_;
    size_t batchesInStore_ = 0;
    bool pageReadPending_ = false;
    bool flushRetryScheduled_ = false;
    // Failed tries in a row, for the next one's delay.
    int64_t flushFailures_ = 0;
    int64_t readFailures_ = 0;
};
