#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/Error.h"
#include "sdk/messaging/NEBMessagingPersistentSyncMessage.h"

// The SQLite file of the reliable message queue: upstream messages not yet acknowledged, the
// last outgoing rmq id, received ids not yet acknowledged to the server, received messages not
// yet delivered to the application, and the sync-message rows. Fixed statements with bound
// parameters over one connection, used by one thread at a time (its owner's queue).
class NEBMessagingRmq2PersistentStore {
public:
    enum Directory : int { kDocuments = 1, kApplicationSupport = 2 };
    static constexpr const char* kSubDirectory = "Nebula/NebulaMessaging";
    // How long a statement waits for another connection (another process, say) to let go of
    // the file before it fails.
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

    explicit NEBMessagingRmq2PersistentStore(
        const std::string& databaseName,
        std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout);
    ~NEBMessagingRmq2PersistentStore();
    NEBMessagingRmq2PersistentStore(const NEBMessagingRmq2PersistentStore&) = delete;
    NEBMessagingRmq2PersistentStore& operator=(const NEBMessagingRmq2PersistentStore&) = delete;

    static std::string pathForDatabase(const std::string& name, Directory directory);
    bool doesFileExistInDirectory(Directory directory) const;
    Directory currentDirectory() const { return currentDirectory_; }
    bool isOpen() const { return database_ != nullptr; }
    // Whether every table is there; creates those that could not be made when the file was
    // opened (another connection held it then).
    bool ensureTables();
    void removeDatabase();
    static void removeDatabase(const std::string& name);
    // A damaged file (its tables may still open while their pages cannot be read or written)
    // is set aside for an empty one, as at open; true when the new one has its tables.
    bool makeAnew();
    // What an error code says of the file: damaged; or unwritable for longer than a retry
    // helps (damaged, read-only, a full disk, failing input or output). A file another
    // connection holds is neither.
    static bool isDamaged(int code);
    static bool isUnwritable(int code);

    // Outgoing messages.
    bool saveMessageWithRmqId(int64_t rmqId, int tag, const std::string& data,
                              std::optional<ns::Error>* error = nullptr);
    int64_t queryHighestRmqId();
    void scanOutgoingRmqMessagesWithHandler(
        const std::function<void(int64_t rmqId, int8_t tag, const std::string& data)>& handler);
    // The rows of the given rmq ids, in the order of the ids, each found through the index.
    void scanOutgoingRmqMessagesWithRmqIds(
        const std::vector<int64_t>& rmqIds,
        const std::function<void(int64_t rmqId, int8_t tag, const std::string& data)>& handler);
    int deleteMessagesFromTable(const std::string& table, const std::vector<std::string>& rmqIds);

    bool updateLastOutgoingRmqId(int64_t rmqId);
    int64_t queryLastRmqId();

    bool saveUnackedS2dMessageWithRmqId(const std::string& rmqId);
    // As above, without a log line of its own: for a caller that reports a failed transaction.
    bool insertUnackedS2dId(const std::string& rmqId);
    bool deleteUnackedS2dId(const std::string& rmqId);
    std::vector<std::string> unackedS2dRmqIds();

    // A received data message: its id, to be acknowledged to the server, and the message
    // itself (its serialized stanza), kept until it has been delivered or its time to live
    // (seconds since 1970) has passed, in one transaction, so that no id is ever acknowledged
    // for a message that a crash could lose. A message already kept under the id (the server
    // sent it again) is left as it is.
    enum class ReceivedMessageSave { Saved, AlreadyKept, Failed };
    ReceivedMessageSave saveReceivedS2dMessageWithRmqId(const std::string& rmqId,
                                                        std::string_view data,
                                                        int64_t expirationTime);
    // Inside a transaction: the message kept under its id; the row it got, 0 when one was kept
    // under the id already, nothing on failure.
    std::optional<int64_t> keepReceivedS2dMessage(const std::string& rmqId, std::string_view data,
                                                  int64_t expirationTime);
    // The kept messages, (id, serialized stanza), in the order they arrived.
    std::vector<std::pair<std::string, std::string>> undeliveredS2dMessages();
    struct UndeliveredRow {
        int64_t rowId = 0;
        std::string rmqId;
        std::string data;
    };
    // At most `limit` kept messages that arrived after the row `afterRowId`, in arrival order;
    // nothing when they cannot be read.
    std::optional<std::vector<UndeliveredRow>> undeliveredS2dMessagesAfter(int64_t afterRowId,
                                                                           int limit);
    // The newest kept message's row; 0 when none is kept. No message kept from now on takes
    // a row at or below it, even in a file made anew.
    int64_t lastUndeliveredRowId();
    // Drops the kept messages whose time to live ended before `now`; how many went, -1 on
    // failure.
    int deleteExpiredUndeliveredS2dMessages(int64_t now);
    bool deleteUndeliveredS2dMessageWithRmqId(const std::string& rmqId);

    // Several changes that stand or fall together (BEGIN IMMEDIATE ... COMMIT).
    bool beginTransaction();
    bool commitTransaction();
    void rollbackTransaction();

    bool saveSyncMessageWithRmqID(const std::string& rmqID, int64_t expirationTime,
                                  bool apnsReceived, bool mcsReceived,
                                  std::optional<ns::Error>* error = nullptr);
    std::optional<NEBMessagingPersistentSyncMessage> querySyncMessageWithRmqID(
        const std::string& rmqID);
    bool updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID,
                                           std::optional<ns::Error>* error = nullptr);
    bool updateSyncMessageViaMCSWithRmqID(const std::string& rmqID,
                                          std::optional<ns::Error>* error = nullptr);
    bool deleteSyncMessageWithRmqID(const std::string& rmqID);
    int deleteExpiredOrFinishedSyncMessages(std::optional<ns::Error>* error = nullptr);

    std::string lastErrorMessage() const;
    int lastErrorCode() const;
    // The last error, at error level.
    void logError();

    static constexpr const char* kTableOutgoingRmqMessages = "outgoingRmqMessages";
    static constexpr const char* kTableLastRmqId = "lastrmqid";
    static constexpr const char* kTableS2dRmqIds = "s2dRmqIds_1";
    static constexpr const char* kTableOldS2dRmqIds = "s2dRmqIds";
    static constexpr const char* kTableSyncMessages = "incomingSyncMessages";
    static constexpr const char* kTableUndeliveredS2dMessages = "undeliveredS2dMessages";

private:
    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

    bool moveToApplicationSupportSubDirectory(const std::string& subDirectoryName);
    void openDatabase();
    bool openConnection(bool& existed);
    void closeConnection();
    // Runs the CREATE statements for a new or an existing file; the first SQLite error or OK.
    int createTables(bool existed);
    int createTableWithName(const std::string& name, const char* command);
    void dropTableWithName(const std::string& name);
    bool updateSyncMessageWithRmqID(const std::string& rmqID, const char* column,
                                    std::optional<ns::Error>* error, const char* failure);
    // A sync-message operation that failed: logged, and the caller's error set.
    void reportSyncFailure(std::optional<ns::Error>* error, const char* failure);
    // A statement prepared once and reset for each use.
    sqlite3_stmt* cached(const std::string& sql);
    Statement prepare(const std::string& sql);
    bool execute(const char* sql);
    // The first column of the first row; 0 when there is none.
    int64_t queryFirstInteger(const char* sql);
    // Files whose kept messages have no expiry yet get one.
    int addUndeliveredExpiry();

    std::string databaseName_;
    std::chrono::milliseconds busyTimeout_;
    Directory currentDirectory_ = kApplicationSupport;
    sqlite3* database_ = nullptr;
    // The least row the next kept message may take: above every row given while open and the
    // last row asked for, so that a file made anew gives none behind where a reader of kept
    // messages stands, nor one that passes for a message an earlier run kept.
    int64_t nextUndeliveredRow_ = 1;
    bool tablesReady_ = false;
    // The highest upstream rmq id this store saved or read, for a file made anew.
    int64_t highestRmqIdSeen_ = 0;
    std::map<std::string, Statement> statements_;
};
