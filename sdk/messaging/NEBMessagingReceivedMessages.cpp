#include "sdk/messaging/NEBMessagingReceivedMessages.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/QueueContract.h"
#include "sdk/messaging/NEBMessagingLogger.h"
#include "sdk/messaging/NEBMessagingRmq2PersistentStore.h"
#include "sdk/messaging/NEBMessagingUtilities.h"

// What is to be forgotten with the store's next write.
struct NEBMessagingReceivedMessages::Forgotten {
    // Messages the application has (or that were dropped on their way).
    std::vector<std::string> finished;
    // Ids whose acknowledgement the server has.
    std::vector<std::string> acknowledged;
    bool empty() const { return finished.empty() && acknowledged.empty(); }
};

// What the store's queue and the main thread share: the store (used on the queue only) and
// what is to be forgotten.
struct NEBMessagingReceivedMessages::Shared {
    NEBMessagingRmq2PersistentStore* store = nullptr;
    dispatch::Mutex mutex;
    Forgotten forgotten GUARDED_BY(mutex);
    bool flushQueued GUARDED_BY(mutex) = false;
    // Used on the store's queue only: reads go on without the store (said once in the log,
    // and once more when it takes them again).
    bool givenUp = false;
};

bool NEBMessagingReceivedMessages::Batch::needsStore() const {
    for (const auto& item : items) {
        if (!item.persistentId.empty()) return true;
    }
    return false;
}

NEBMessagingReceivedMessages::NEBMessagingReceivedMessages(std::shared_ptr<dispatch::Queue> queue,
                                                           NEBMessagingRmq2PersistentStore* store,
                                                           int64_t lastRowAtOpen)
    : queue_(std::move(queue)),
      shared_(std::make_shared<Shared>()),
      lastRowAtOpen_(lastRowAtOpen),
      delivering_(lastRowAtOpen == 0),
      caughtUp_(lastRowAtOpen == 0) {
    shared_->store = store;
}

int64_t NEBMessagingReceivedMessages::expirationTimeFor(const mcs::McsDataMessageStanza& stanza) {
    const int64_t ttl = stanza.ttl() > 0 ? stanza.ttl() : kDefaultTimeToLive;
    return NEBMessagingTimestampSeconds() + ttl;
}

template <class Task>
void NEBMessagingReceivedMessages::onStoreQueue(Task task) {
    queue_->async([shared = shared_, task = std::move(task)]() mutable { task(*shared); });
}

template <class Task>
void NEBMessagingReceivedMessages::onMain(Task task) {
    std::weak_ptr<NEBMessagingReceivedMessages> weak = weak_from_this();
    dispatch::Queue::main().async([weak, task = std::move(task)]() mutable {
        if (auto self = weak.lock()) task(*self);
    });
}

void NEBMessagingReceivedMessages::setSink(Sink sink) {
    HYB_EXPECT_MAIN_THREAD();
    sink_ = std::move(sink);
    pump();
}

void NEBMessagingReceivedMessages::startDelivering() {
    HYB_EXPECT_MAIN_THREAD();
    if (delivering_) return;
    delivering_ = true;
    NEBMessagingSharedLogger().logFuncInfo(__func__,
                                           "Handing over the messages received before the last "
                                           "stop");
    pump();
}

void NEBMessagingReceivedMessages::submit(Batch batch, Chain chain, Completion done) {
    HYB_EXPECT_MAIN_THREAD();
    if (!batch.needsStore() && batchesInStore_ == 0) {
        // Nothing to store and nothing stored before it still on its way: in order already.
        settle(Settling{std::move(done), Outcome::Stored, {}});
        for (const auto& item : batch.items) {
            if (item.handOn) placeUnkept(item);
        }
        pump();
        return;
    }
    ++batchesInStore_;
    auto self = shared_from_this();
    onStoreQueue([self, batch = std::move(batch), chain = std::move(chain),
                  done = std::move(done)](Shared& shared) mutable {
        StoreResult result = storeBatch(shared, batch, chain);
        self->onMain([batch = std::move(batch), result = std::move(result),
                      done = std::move(done)](NEBMessagingReceivedMessages& received) mutable {
            received.didStore(batch, std::move(result), done);
        });
    });
}

NEBMessagingReceivedMessages::Forgotten NEBMessagingReceivedMessages::takeForgotten(
    Shared& shared) {
    dispatch::Lock lock(shared.mutex);
    return std::exchange(shared.forgotten, {});
}

void NEBMessagingReceivedMessages::giveBack(Shared& shared, Forgotten taken) {
    if (taken.empty()) return;
    dispatch::Lock lock(shared.mutex);
    auto& now = shared.forgotten;
    taken.finished.insert(taken.finished.end(), now.finished.begin(), now.finished.end());
    taken.acknowledged.insert(taken.acknowledged.end(), now.acknowledged.begin(),
                              now.acknowledged.end());
    now = std::move(taken);
}

bool NEBMessagingReceivedMessages::forget(NEBMessagingRmq2PersistentStore& store,
                                          const Forgotten& forgotten) {
    for (const auto& id : forgotten.finished) {
        if (!store.deleteUndeliveredS2dMessageWithRmqId(id)) return false;
    }
    for (const auto& id : forgotten.acknowledged) {
        if (!store.deleteUnackedS2dId(id)) return false;
    }
    return true;
}

// On the store's queue: the batch, and the deliveries recorded since the last write, in one
// transaction. A damaged file is made anew and the write tried once more; a store that cannot
// be written at all is given up for this read, which then goes on without it.
NEBMessagingReceivedMessages::StoreResult NEBMessagingReceivedMessages::storeBatch(
    Shared& shared, const Batch& batch, const Chain& chain) {
    StoreResult result;
    if (chain && chain->load()) {
        result.outcome = Outcome::Abandoned;
        return result;
    }
    auto& store = *shared.store;
    Forgotten forgotten = takeForgotten(shared);
    result.rows.assign(batch.items.size(), 0);
    if (!batch.needsStore() && forgotten.empty()) return result;
    int failure = writeBatch(store, batch, forgotten, result);
    if (failure != SQLITE_OK && NEBMessagingRmq2PersistentStore::isDamaged(failure)) {
        giveUp(shared, store, "it is damaged, and is made anew");
        if (store.makeAnew()) failure = writeBatch(store, batch, forgotten, result);
    }
    if (failure == SQLITE_OK) {
        // As loud as the line that gave the store up, so that the two are read together.
        if (std::exchange(shared.givenUp, false)) {
            NEBMessagingSharedLogger().logFuncError(
                "storeBatch", "The message store takes received messages again");
        }
        result.recorded = std::move(forgotten.finished);
        return result;
    }
    giveBack(shared, std::move(forgotten));
    result.rows.clear();
    if (NEBMessagingRmq2PersistentStore::isUnwritable(failure)) {
        giveUp(shared, store, "it cannot be written");
        result.outcome = Outcome::Unstored;
        return result;
    }
    if (chain) chain->store(true);
    result.outcome = Outcome::Failed;
    return result;
}

int NEBMessagingReceivedMessages::writeBatch(NEBMessagingRmq2PersistentStore& store,
                                             const Batch& batch, const Forgotten& forgotten,
                                             StoreResult& result) {
    bool ok = store.ensureTables() && store.beginTransaction();
    for (size_t i = 0; ok && i < batch.items.size(); ++i) {
        const auto& item = batch.items[i];
        if (item.persistentId.empty()) continue;
        ok = store.insertUnackedS2dId(item.persistentId);
        if (ok && item.keep) {
            auto row =
                store.keepReceivedS2dMessage(item.persistentId, item.payload, item.expirationTime);
            ok = row.has_value();
            if (ok) result.rows[i] = *row;
        }
    }
    // Forgotten after the batch is in: a message the server sent again whose delivery is
    // recorded in this write is found kept, rather than kept anew and handed on a second time.
    if (ok) ok = forget(store, forgotten) && store.commitTransaction();
    if (ok) return SQLITE_OK;
    const int code = store.lastErrorCode();
    store.logError();
    store.rollbackTransaction();
    return code == SQLITE_OK ? SQLITE_ERROR : code;
}

void NEBMessagingReceivedMessages::giveUp(Shared& shared, NEBMessagingRmq2PersistentStore& store,
                                          const char* why) {
    if (std::exchange(shared.givenUp, true)) return;
    NEBMessagingSharedLogger().logFuncError(
        "storeBatch",
        "The message store is given up for now (%@: %@): received messages go on without it, "
        "each acknowledged once the application has it",
        why, store.lastErrorMessage());
}

void NEBMessagingReceivedMessages::didStore(const Batch& batch, StoreResult result,
                                            const Completion& done) {
    --batchesInStore_;
    didRecord(result.recorded);
    if (result.outcome == Outcome::Stored) {
        flushFailures_ = 0;
    } else if (result.outcome != Outcome::Abandoned) {
        scheduleFlushRetry();
    }
    Settling settling{done, Outcome::Stored, {}};
    if (result.outcome == Outcome::Unstored) {
        // Nothing keeps these messages: the server hears of them once the application has
        // them, and sends them again if the program stops first.
        for (const auto& item : batch.items) {
            if (!item.keep) continue;
            settling.awaiting.push_back(item.persistentId);
            inMemory_.insert(item.persistentId);
        }
    } else {
        settling.outcome = result.outcome;
    }
    settle(std::move(settling));
    if (result.outcome == Outcome::Stored) {
        for (size_t i = 0; i < batch.items.size(); ++i) {
            const auto& item = batch.items[i];
            if (item.keep) {
                if (result.rows[i] > 0) placeStored(result.rows[i], item);
            } else if (item.handOn) {
                placeUnkept(item);
            }
        }
    } else if (result.outcome == Outcome::Unstored) {
        for (const auto& item : batch.items) {
            if (item.handOn) placeUnkept(item);
        }
    }
    pump();
}

// Completions are called in the order their reads came, each once nothing of its read waits
// for the application any more.
void NEBMessagingReceivedMessages::settle(std::optional<Settling> next) {
    if (next) settling_.push_back(std::move(*next));
    while (!settling_.empty() && settling_.front().awaiting.empty()) {
        Settling first = std::move(settling_.front());
        settling_.pop_front();
        if (first.done) first.done(first.outcome);
    }
}

void NEBMessagingReceivedMessages::finish(const std::string& rmqId) {
    HYB_EXPECT_MAIN_THREAD();
    if (auto held = inMemory_.find(rmqId); held != inMemory_.end()) {
        inMemory_.erase(held);
        for (auto& settling : settling_) {
            auto found = std::find(settling.awaiting.begin(), settling.awaiting.end(), rmqId);
            if (found == settling.awaiting.end()) continue;
            settling.awaiting.erase(found);
            break;
        }
        settle(std::nullopt);
        return;
    }
    forgetWithNextWrite([&](Forgotten& forgotten) { forgotten.finished.push_back(rmqId); });
}

void NEBMessagingReceivedMessages::forgetAcknowledged(const std::vector<std::string>& rmqIds) {
    HYB_EXPECT_MAIN_THREAD();
    if (rmqIds.empty()) return;
    forgetWithNextWrite([&](Forgotten& forgotten) {
        forgotten.acknowledged.insert(forgotten.acknowledged.end(), rmqIds.begin(), rmqIds.end());
    });
}

void NEBMessagingReceivedMessages::forgetWithNextWrite(const std::function<void(Forgotten&)>& add) {
    {
        dispatch::Lock lock(shared_->mutex);
        add(shared_->forgotten);
        if (std::exchange(shared_->flushQueued, true)) return;
    }
    flushForgotten();
}

// Writes what is to be forgotten, unless the write of a batch takes it first.
void NEBMessagingReceivedMessages::flushForgotten() {
    auto self = shared_from_this();
    onStoreQueue([self](Shared& shared) {
        {
            dispatch::Lock lock(shared.mutex);
            shared.flushQueued = false;
        }
        Forgotten forgotten = takeForgotten(shared);
        if (forgotten.empty()) return;
        auto& store = *shared.store;
        bool ok = store.ensureTables() && store.beginTransaction() && forget(store, forgotten) &&
                  store.commitTransaction();
        if (!ok) {
            store.logError();
            store.rollbackTransaction();
            giveBack(shared, std::move(forgotten));
            self->onMain(
                [](NEBMessagingReceivedMessages& received) { received.scheduleFlushRetry(); });
            return;
        }
        self->onMain(
            [finished = std::move(forgotten.finished)](NEBMessagingReceivedMessages& received) {
                received.flushFailures_ = 0;
                received.didRecord(finished);
                received.pump();
            });
    });
}

void NEBMessagingReceivedMessages::after(double seconds,
                                         std::function<void(NEBMessagingReceivedMessages&)> task) {
    std::weak_ptr<NEBMessagingReceivedMessages> weak = weak_from_this();
    dispatch::Queue::main().asyncAfter(
        std::chrono::duration_cast<dispatch::Duration>(std::chrono::duration<double>(seconds)),
        [weak, task = std::move(task)] {
            if (auto self = weak.lock()) task(*self);
        });
}

void NEBMessagingReceivedMessages::scheduleFlushRetry() {
    if (std::exchange(flushRetryScheduled_, true)) return;
    after(*kRetry.delay(flushFailures_++), [](NEBMessagingReceivedMessages& received) {
        received.flushRetryScheduled_ = false;
        received.flushForgotten();
    });
}

void NEBMessagingReceivedMessages::didRecord(const std::vector<std::string>& ids) {
    for (const auto& id : ids) unrecorded_.erase(id);
}

void NEBMessagingReceivedMessages::placeStored(int64_t row, const Batch::Item& item) {
    if (!caughtUp_) return;  // the store holds it, behind others that wait there
    if (waiting_.size() >= kWaitingInMemoryLimit) {
        caughtUp_ = false;
        return;
    }
    waiting_.push_back({row, item.persistentId, item.payload, NEBMessagingArrival::Received});
    readThrough_ = row;
}

void NEBMessagingReceivedMessages::placeUnkept(const Batch::Item& item) {
    if (caughtUp_ && waiting_.size() < kWaitingInMemoryLimit) {
        waiting_.push_back({0, item.persistentId, item.payload, NEBMessagingArrival::Received});
        return;
    }
    // Nothing keeps a message without a usable id: it cannot wait its turn in the store.
    handOn({0, item.persistentId, item.payload, NEBMessagingArrival::Received});
}

void NEBMessagingReceivedMessages::handOn(const Waiting& message) {
    mcs::McsDataMessageStanza stanza;
    if (!stanza.ParseFromString(message.payload) ||
        (message.row > 0 && stanza.persistent_id() != message.rmqId)) {
        NEBMessagingSharedLogger().logFuncError(
            __func__, "Dropping kept message %@: it cannot be read", message.rmqId);
        if (message.row > 0) finish(message.rmqId);
        return;
    }
    if (sink_) sink_(stanza, message.arrival);
}

void NEBMessagingReceivedMessages::pump() {
    if (!delivering_ || !sink_) return;
    while (!waiting_.empty()) {
        auto next = waiting_.begin();
        if (unrecorded_.size() >= kUnrecordedLimit) {
            // The window bounds what a kill hands on again from the store. A message no store
            // keeps is not handed on again by a kill and does not wait for it: with the store
            // given up, its read's acknowledgement (and every later read's) waits for the
            // application to have it, while no write records the deliveries that fill the
            // window.
            next = std::find_if(waiting_.begin(), waiting_.end(),
                                [](const Waiting& message) { return message.row == 0; });
            if (next == waiting_.end()) break;
        }
        Waiting message = std::move(*next);
        waiting_.erase(next);
        if (message.row > 0) unrecorded_.insert(message.rmqId);
        handOn(message);
        // The application may have stopped this from within.
        if (!delivering_ || !sink_) return;
    }
    if (waiting_.empty() && !caughtUp_ && !pageReadPending_ &&
        unrecorded_.size() < kUnrecordedLimit) {
        readPage();
    }
}

void NEBMessagingReceivedMessages::readPage() {
    pageReadPending_ = true;
    auto self = shared_from_this();
    onStoreQueue([self, after = readThrough_, last = lastRowAtOpen_](Shared& shared) {
        auto rows = shared.store->undeliveredS2dMessagesAfter(after, kPageSize);
        std::optional<std::vector<Waiting>> read;
        if (rows) {
            read.emplace();
            read->reserve(rows->size());
            for (auto& row : *rows) {
                read->push_back({row.rowId, std::move(row.rmqId), std::move(row.data),
                                 row.rowId <= last ? NEBMessagingArrival::KeptFromEarlierRun
                                                   : NEBMessagingArrival::Received});
            }
        }
        self->onMain([read = std::move(read)](NEBMessagingReceivedMessages& received) mutable {
            received.didReadPage(std::move(read));
        });
    });
}

void NEBMessagingReceivedMessages::didReadPage(std::optional<std::vector<Waiting>> rows) {
    pageReadPending_ = false;
    if (!rows) {
        after(*kRetry.delay(readFailures_++),
              [](NEBMessagingReceivedMessages& received) { received.pump(); });
        return;
    }
    readFailures_ = 0;
    const bool short_ = rows->size() < static_cast<size_t>(kPageSize);
    for (auto& row : *rows) {
        readThrough_ = row.row;
        waiting_.push_back(std::move(row));
    }
    if (short_) caughtUp_ = true;
    pump();
}

void NEBMessagingReceivedMessages::sweepExpired() {
    HYB_EXPECT_MAIN_THREAD();
    onStoreQueue([](Shared& shared) {
        int dropped =
            shared.store->deleteExpiredUndeliveredS2dMessages(NEBMessagingTimestampSeconds());
        if (dropped > 0) {
            NEBMessagingSharedLogger().logFuncError(
                "sweepExpired",
                "Dropped %d received messages whose time to live ended before the application "
                "took them",
                dropped);
        }
    });
}
