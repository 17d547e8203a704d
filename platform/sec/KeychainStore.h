#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/sec/SecBase.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sec {

// The attributes that identify or commonly select an item have columns of their own, indexed,
// holding their bytes (empty when the item does not have the attribute).
enum class IndexColumn : uint8_t { Service, Account, AccessGroup, Tag, KeyClass };
inline constexpr size_t kIndexColumnCount = 5;

struct StoredRow {
    std::string itemClass;
    std::array<std::string, kIndexColumnCount> index;
    ns::Data attributes;  // AttributeCodec form
    std::optional<ns::Data> data;
};

struct RowFilter {
    std::string_view itemClass;
    std::array<std::optional<std::string_view>, kIndexColumnCount> equals;
    // Unless the access group is compared: the groups a row's must be one of (none: any).
    std::span<const std::string> accessGroupIn;
};

// One selected row; the pointers live until the visitor returns.
struct RowView {
    int64_t id;
    const uint8_t* attributes;
    size_t attributesLength;
    const uint8_t* data;  // nullptr when the item has no value data (or it was not asked for)
    size_t dataLength;
};

// The keychain's SQLite file: one table of items, bound parameters only, prepared statements
// kept for reuse. Not thread-safe: the owner serialises calls.
class KeychainStore {
public:
    static constexpr const char* kFileName = "keychain.db";

    // Creates the directory (0700) and the file (0600) when needed. A file that is not a
    // database or fails its consistency check is set aside as "<file>.damaged" and a new one
    // started, so that one bad file cannot disable the keychain for good.
    static std::unique_ptr<KeychainStore> open(const std::filesystem::path& directory);
    ~KeychainStore();
    KeychainStore(const KeychainStore&) = delete;
    KeychainStore& operator=(const KeychainStore&) = delete;

    enum Fields : unsigned { kAttributes = 1, kData = 2 };
    // Rows matching the filter in the order they were added; visit answers false to stop.
    OSStatus select(const RowFilter& filter, unsigned fields, bool onlyFirst,
                    const std::function<bool(const RowView&)>& visit);
    // errSecDuplicateItem when another row has the same class and index columns.
    OSStatus insert(const StoredRow& row);
    OSStatus update(int64_t id, const StoredRow& row);
    OSStatus remove(int64_t id);

    // Records of the former groups whose items were copied into a group of this version, so
    // that each is copied once: an item removed afterwards does not come back. A record goes
    // with the items of the group it names when they move on to another group.
    OSStatus wasCopied(std::string_view former, std::string_view current, bool& copied);
    OSStatus recordCopy(std::string_view former, std::string_view current);
    OSStatus moveCopyRecords(std::string_view from, std::string_view to);

    // A write transaction; rolled back unless committed.
    class Transaction {
    public:
        explicit Transaction(KeychainStore& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        OSStatus status() const { return status_; }
        OSStatus commit();

    private:
        KeychainStore& store_;
        OSStatus status_;
        bool open_ = false;
    };

private:
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

    explicit KeychainStore(sqlite3* db) : db_(db) {}
    static std::unique_ptr<KeychainStore> openFile(const std::filesystem::path& file,
                                                   bool& damaged);
    static std::string selectSQL(const RowFilter& filter, size_t groupsIn, unsigned fields,
                                 bool onlyFirst);
    sqlite3_stmt* prepareNew(const std::string& sql);
    // Statements of fixed text, prepared once.
    sqlite3_stmt* prepared(const char* sql);
    OSStatus execute(const char* sql);
    void bindRow(sqlite3_stmt* statement, const StoredRow& row);
    OSStatus executeWith(const char* sql, std::string_view first, std::string_view second);
    OSStatus stepUntilDone(sqlite3_stmt* statement);

    sqlite3* db_;
    std::unordered_map<std::string, Statement> statements_;
    // One per shape of look-up: fields asked for, limit, which index columns are compared; by
    // the number of access groups a row's may be one of.
    using Selects = std::array<Statement, 256>;
    std::vector<Selects> selects_;
};

}  // namespace sec
