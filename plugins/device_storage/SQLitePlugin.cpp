#include "plugins/device_storage/SQLitePlugin.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"
#include "platform/ns/UTF8.h"
#include "plugins/device_storage/SQLiteConnection.h"
#include "plugins/device_storage/SQLiteStatement.h"

namespace {

constexpr const char* kThreadSafetyMessage =
    "INTERNAL PLUGIN ERROR: sqlite3_threadsafe() returns false value";
constexpr const char* kOpenNameMissingLog =
    "INTERNAL PLUGIN ERROR (NOT EXPECTED): open with database name missing";
constexpr const char* kOpenNameMissingMessage =
    "INTERNAL PLUGIN ERROR: open with database name missing";
constexpr const char* kAlreadyOpenLog =
    "INTERNAL PLUGIN ERROR: database already open for db name: %@ (db file name: %@)";
constexpr const char* kAlreadyOpenMessage = "INTERNAL PLUGIN ERROR: database already open";
constexpr const char* kUnableToOpenMessage = "Unable to open DB";
constexpr const char* kProbeFailedMessage = "Unable to open DB with key";
constexpr const char* kOpenedMessage = "Database opened";
constexpr const char* kNoPathMessage = "INTERNAL PLUGIN ERROR: You must specify database path";
constexpr const char* kNotOpenMessage = "INTERNAL PLUGIN ERROR: Specified db was not open";
constexpr const char* kClosedMessage = "DB closed";
constexpr const char* kDeletePathLog =
    "INTERNAL PLUGIN ERROR (NOT EXPECTED): delete with no valid database path found";
constexpr const char* kDeletePathMessage =
    "INTERNAL PLUGIN ERROR: delete with no valid database path found";
constexpr const char* kNoFileMessage = "The database does not exist on that path";
constexpr const char* kDeletedMessage = "DB deleted";
constexpr const char* kNoSuchDatabaseMessage =
    "INTERNAL PLUGIN ERROR: No such database, you must open it first";
constexpr const char* kNoSqlMessage =
    "INTERNAL PLUGIN ERROR: You must specify a sql query to execute";
constexpr const char* kNoSyncFolderLog =
    "INTERNAL PLUGIN ERROR: could not create no cloud sync directory at path: %@";
constexpr const char* kNoBackupFlagLog =
    "INTERNAL PLUGIN ERROR: error setting nobackup flag in LocalDatabase directory: %@";
constexpr const char* kMoreThanOneStatement =
    "SQL text holds more than one statement; run each on its own";
// An answer's rows reach the page in runs once they pass the shortest run, so that the page
// parses the first runs while later ones are still being stepped and written; smaller answers
// go whole. A run is handed on as soon as the page waits for one, and grows while the page is
// still busy with the last ones (fewer runs, each passing the engine at a fixed cost), up to
// the longest; no run is handed on while the page has more than a few still to take in.
constexpr size_t kShortestRowPiece = 64 << 10;
constexpr size_t kLongestRowPiece = 4 << 20;
// While the page is busy, a growing run asks again whether it is awaited after this many more
// bytes.
constexpr size_t kRowPieceLookBytes = 16 << 10;
constexpr const char* kProbeSql = "SELECT count(*) FROM sqlite_master;";

// The files SQLite keeps beside a database while it works on it.
constexpr const char* kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

// The page that asked for the call whose work runs on this thread, as the command delegate
// numbered it when the call came in. A database's work waits for its turn on the database's
// queue, so the page shown when it starts may be a later one; its long answer still belongs to
// the page that asked, and stops once that page is gone. It comes with the thread because the
// work takes only the command, as the actions do.
thread_local std::optional<uint64_t> tAskingPage;

// Runs the work of a call that `page` asked for.
void runForPage(uint64_t page, const std::function<void()>& work) {
    struct Restore {
        std::optional<uint64_t> outer;
        ~Restore() { tAskingPage = outer; }
    } restore{std::exchange(tAskingPage, page)};
    work();
}

// The request dictionary, read in place: a batch's can hold many thousands of statements.
const ns::Value& firstArgument(const HYBInvokedUrlCommand& command) {
    static const ns::Value kEmpty{ns::Dictionary()};
    const ns::Array& arguments = command.arguments();
    return !arguments.empty() && arguments[0].isDictionary() ? arguments[0] : kEmpty;
}

// "dblocation" defaults to "docs"; a value that is no string names no location.
std::string_view locationOf(const ns::Value& args) {
    const ns::Value& location = args["dblocation"];
    if (location.isNull()) return SQLitePlugin::kDocsLocation;
    return location.string() ? std::string_view(*location.string()) : std::string_view();
}

// A name that stays at or below its folder and ends in a file name.
bool isConfinedName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) {
        return false;
    }
    size_t start = 0;
    while (true) {
        const size_t slash = name.find('/', start);
        const std::string_view component = name.substr(start, slash - start);
        if (component == "..") return false;
        if (slash == std::string_view::npos) return !component.empty() && component != ".";
        start = slash + 1;
    }
}

std::shared_ptr<HYBPluginResult> errorResult(const char* message) {
    return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusError, message);
}

std::shared_ptr<HYBPluginResult> okResult(const char* message) {
    return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, message);
}

// Appends the column as a member of the row object being written: `member` is the key's JSON
// text with its colon, `first` whether no member precedes it. A value that cannot be carried
// to the page appends nothing: JSON has no infinities, and text and blob columns travel as
// strings, which bytes that are not UTF-8 cannot.
bool appendColumn(std::string& out, sqlite3_stmt* statement, int column, std::string_view member,
                  bool first) {
    const size_t mark = out.size();
    if (!first) out += ',';
    out += member;
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            ns::json::appendInt64(out, sqlite3_column_int64(statement, column));
            return true;
        case SQLITE_FLOAT: {
            const double value = sqlite3_column_double(statement, column);
            // A whole number that a double holds exactly writes as its digits, which is its
            // shortest form, without the search for one (negative zero keeps its sign).
            constexpr double kExactWhole = 9007199254740992.0;  // 2^53
            if (value >= -kExactWhole && value <= kExactWhole && value == std::trunc(value) &&
                !(value == 0 && std::signbit(value))) {
                ns::json::appendInt64(out, static_cast<int64_t>(value));
                return true;
            }
            if (ns::json::appendNumber(out, value)) return true;
            break;
        }
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            // The pointer first: asking for it may convert the value, which changes its size.
            const auto* text =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            const int bytes = sqlite3_column_bytes(statement, column);
            if (!text && bytes != 0) break;
            const std::string_view value(text ? text : "", static_cast<size_t>(bytes));
            if (!ns::utf8::isValid(value)) break;
            ns::json::appendString(out, value);
            return true;
        }
        default:
            out += "null";
            return true;
    }
    out.resize(mark);
    return false;
}

// Copies the text to `at`; where it ends.
char* append(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// The 1-based index of the parameter at `i`; past the statement's own parameters SQLite answers
// a range error.
int parameterIndex(size_t i) {
    return i < INT_MAX ? static_cast<int>(i + 1) : INT_MAX;
}

}  // namespace

SQLitePlugin::SQLitePlugin() {
    registerAction("open", &SQLitePlugin::open);
    registerAction("close", &SQLitePlugin::close);
    registerAction("delete", &SQLitePlugin::deleteDatabase);
    registerAction("backgroundExecuteSqlBatch", &SQLitePlugin::backgroundExecuteSqlBatch);
    registerAction("executeSql", &SQLitePlugin::executeSql);
    registerAction("echoStringValue", &SQLitePlugin::echoStringValue);
}

// The table's connections close as their last holder lets go of them.
SQLitePlugin::~SQLitePlugin() = default;

void SQLitePlugin::pluginInitialize() {
    auto& files = ns::FileManager::defaultManager();
    const auto documents = files.pathsForDirectory(ns::SearchPathDirectory::Document);
    const auto library = files.pathsForDirectory(ns::SearchPathDirectory::Library);
    if (!documents.empty()) appDBPaths_[kDocsLocation] = documents.front();
    if (library.empty()) return;
    appDBPaths_[kLibsLocation] = library.front();

    const std::string noSync = library.front() + "/" + kNoSyncFolderName;
    if (!files.fileExists(noSync) && !files.createDirectory(noSync, false)) {
        ns::nslog(kNoSyncFolderLog, noSync);
        return;
    }
    if (auto status = files.setExcludedFromBackup(noSync, true); !status) {
        ns::nslog(kNoBackupFlagLog, status.error());
        return;
    }
    appDBPaths_[kNoSyncLocation] = noSync;
}

// --- Page actions ---------------------------------------------------------------------------

void SQLitePlugin::open(const HYBInvokedUrlCommand& command) {
    inBackground(&SQLitePlugin::openNow, command);
}

void SQLitePlugin::close(const HYBInvokedUrlCommand& command) {
    inBackground(&SQLitePlugin::closeNow, command);
}

void SQLitePlugin::deleteDatabase(const HYBInvokedUrlCommand& command) {
    inBackground(&SQLitePlugin::deleteNow, command);
}

void SQLitePlugin::backgroundExecuteSqlBatch(const HYBInvokedUrlCommand& command) {
    onDatabaseQueue(&SQLitePlugin::executeSqlBatchNow, command);
}

void SQLitePlugin::executeSql(const HYBInvokedUrlCommand& command) {
    onDatabaseQueue(&SQLitePlugin::executeSqlNow, command);
}

void SQLitePlugin::executeSqlNow(const HYBInvokedUrlCommand& command) {
    const ns::Value& args = firstArgument(command);
    answerInPieces(command, "rows", [&](RowPieces* pieces) {
        return executeSqlWithDict(args["ex"], args["dbargs"], pieces);
    });
}

void SQLitePlugin::answerInPieces(
    const HYBInvokedUrlCommand& command, std::string_view member,
    const std::function<std::shared_ptr<HYBPluginResult>(RowPieces*)>& answer) {
    auto delegate = commandDelegate();
    const std::optional<std::string>& callbackId = command.callbackId();
    if (!delegate || !callbackId || !delegate->sendsAnswerPieces()) {
        send(answer(nullptr), command);
        return;
    }
    // Work not started by an action belongs to the page shown as it starts.
    const uint64_t page = tAskingPage.value_or(delegate->currentPage());
    RowPieces pieces(
        [&](size_t index, std::string run) {
            delegate->sendAnswerPiece(*callbackId, page, index, std::move(run));
        },
        [&] { return delegate->answerPieceAwaited(*callbackId, page); },
        [&] { return delegate->waitForAnswerPieceRoom(*callbackId, page); }, kShortestRowPiece,
        kLongestRowPiece);
    pieces.member = member;
    auto result = answer(&pieces);
    // A failure after some runs went ahead, or an answer that could not be written, is
    // answered whole, which drops them.
    if (pieces.sent == 0 || pieces.voided || result->status() != HYBResultStatusOK ||
        !result->hasMessage()) {
        send(result, command);
        return;
    }
    delegate->sendPluginResultAfterPieces(result, *callbackId, page, pieces.member, pieces.sent);
}

void SQLitePlugin::echoStringValue(const HYBInvokedUrlCommand& command) {
    const ns::Value& args = firstArgument(command);
    const ns::Value& value = args["value"];
    send(HYBPluginResult::resultWithStatusMessageAsString(
             HYBResultStatusOK, value.isString() ? *value.string() : value.stringValue()),
         command);
}

// --- Open, close, delete --------------------------------------------------------------------

void SQLitePlugin::openNow(const HYBInvokedUrlCommand& command) {
    const ns::Value& args = firstArgument(command);
    const std::string* name = args["name"].string();
    const auto path = name ? getDBPath(*name, locationOf(args)) : std::nullopt;
    if (sqlite3_threadsafe() == 0) {
        ns::nslog(kThreadSafetyMessage);
        send(errorResult(kThreadSafetyMessage), command);
        return;
    }
    if (!path) {
        ns::nslog(kOpenNameMissingLog);
        send(errorResult(kOpenNameMissingMessage), command);
        return;
    }
    std::shared_ptr<HYBPluginResult> result;
    {
        dispatch::Lock lifecycle(lifecycleMutex_);
        if (isOpen(*name)) {
            ns::nslog(kAlreadyOpenLog, *path, *name);
            result = errorResult(kAlreadyOpenMessage);
        } else if (auto connection = SQLiteConnection::open(*path); !connection) {
            result = errorResult(kUnableToOpenMessage);
        } else if (!probe(*connection)) {
            result = errorResult(kProbeFailedMessage);
        } else {
            dispatch::Lock table(tableMutex_);
            openDBs_.emplace(*name, std::move(connection));
            result = okResult(kOpenedMessage);
        }
    }
    send(result, command);
}

bool SQLitePlugin::probe(SQLiteConnection& connection) {
    auto use = connection.use();
    sqlite3_db_config(use.handle(), SQLITE_DBCONFIG_DEFENSIVE, 1, static_cast<int*>(nullptr));
    return sqlite3_exec(use.handle(), kProbeSql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SQLitePlugin::closeNow(const HYBInvokedUrlCommand& command) {
    const ns::Value& args = firstArgument(command);
    const std::string* name = args["path"].string();
    if (!name) {
        send(errorResult(kNoPathMessage), command);
        return;
    }
    std::shared_ptr<SQLiteConnection> connection;
    {
        dispatch::Lock lifecycle(lifecycleMutex_);
        connection = takeConnectionNamed(*name);
        if (connection) connection->close();
    }
    send(connection ? okResult(kClosedMessage) : errorResult(kNotOpenMessage), command);
}

void SQLitePlugin::deleteNow(const HYBInvokedUrlCommand& command) {
    const ns::Value& args = firstArgument(command);
    const std::string* name = args["path"].string();
    if (!name) {
        send(errorResult(kNoPathMessage), command);
        return;
    }
    const auto path = getDBPath(*name, locationOf(args));
    if (!path) {
        ns::nslog(kDeletePathLog);
        send(errorResult(kDeletePathMessage), command);
        return;
    }
    std::shared_ptr<HYBPluginResult> result;
    {
        dispatch::Lock lifecycle(lifecycleMutex_);
        std::error_code error;
        const auto status = std::filesystem::status(*path, error);
        if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
            result = errorResult(kNoFileMessage);
        } else {
            // Only the connection to this very file goes: the same name may be open in another
            // location. It is closed before its files go, so that nothing writes them again.
            if (auto connection = connectionNamed(*name);
                connection && connection->path() == *path) {
                takeConnectionNamed(*name);
                connection->close();
            }
            removeDatabaseFiles(*path);
            result = okResult(kDeletedMessage);
        }
    }
    send(result, command);
}

void SQLitePlugin::removeDatabaseFiles(const std::string& path) {
    // The database's folder is opened beneath the container once and the files go from it, so
    // that a folder swapped for a link meanwhile cannot lead the removal elsewhere. A journal
    // or WAL file left behind would be read into the next database of the same name.
    auto entry = ns::ConfinedFile::forWriting().openParent(path, false);
    if (!entry) return;
    ::unlinkat(entry->directory.get(), entry->name.c_str(), 0);
    for (const char* suffix : kCompanionSuffixes) {
        ::unlinkat(entry->directory.get(), (entry->name + suffix).c_str(), 0);
    }
}

std::optional<std::string> SQLitePlugin::getDBPath(std::string_view name,
                                                   std::string_view location) const {
    const auto folder = appDBPaths_.find(location);
    if (folder == appDBPaths_.end() || !isConfinedName(name)) return std::nullopt;
    std::string path = folder->second;
    path += '/';
    path += name;
    return path;
}

// --- Statements -----------------------------------------------------------------------------

void SQLitePlugin::executeSqlBatchNow(const HYBInvokedUrlCommand& command) {
    // The rows of the first statement with a long answer go ahead in runs; the page joins them
    // to its entry's rows.
    answerInPieces(command, "", [&](RowPieces* pieces) {
        BatchReplies replies;
        replies.pieces = pieces;
        if (const auto& text = command.argumentsJSON();
            !text || !executeSqlBatchFromText(*text, replies)) {
            replies = BatchReplies();
            replies.pieces = pieces;
            executeSqlBatchFromValues(command, replies);
        }
        return batchResult(std::move(replies));
    });
}

void SQLitePlugin::executeSqlBatchFromValues(const HYBInvokedUrlCommand& command,
                                             BatchReplies& replies) {
    const ns::Value& args = firstArgument(command);
    const ns::Array* executes = args["executes"].array();
    if (executes && !executes->empty()) {
        std::optional<Outcome> failure;
        auto connection = connectionForArgs(args["dbargs"], failure);
        // The whole batch holds the database, so no other batch interleaves with it.
        std::optional<SQLiteConnection::Use> use;
        if (connection) {
            use.emplace(connection->use());
            if (!use->handle()) failure = Outcome::failed(kNoSuchDatabaseMessage);
        }
        for (const ns::Value& statement : *executes) {
            writeBatchEntry(
                replies,
                failure ? *failure : runStatement(*use, statement, replies.nextEntryPieces()));
        }
    }
}

namespace {

using Type = ns::ondemand::json_type;

// The request object of a batch's text (its first argument); nothing when that is no object,
// which makes the batch empty as it does for values. False when the text cannot be read.
bool requestOf(ns::JSONReader& reader, std::optional<ns::ondemand::object>& request) {
    ns::ondemand::array arguments;
    if (reader.document().get_array().get(arguments)) return false;
    for (auto first : arguments) {
        ns::ondemand::value value;
        Type type;
        if (first.get(value) || value.type().get(type)) return false;
        if (type == Type::object) {
            ns::ondemand::object object;
            if (value.get_object().get(object)) return false;
            request = object;
        }
        break;
    }
    return true;
}

// A string value, read as the values would have it (lone surrogates as U+FFFD).
std::optional<std::string> stringOf(ns::ondemand::value& value) {
    Type type;
    if (value.type().get(type) || type != Type::string) return std::nullopt;
    auto text = ns::json::string(value, true);
    if (!text) return std::nullopt;
    return std::move(text).value();
}

// A string value into `out` (its buffer reused); false for anything else.
bool readString(ns::ondemand::value& value, std::string& out) {
    if (const auto inPlace = ns::json::unescapedString(value)) {
        out.assign(*inPlace);
        return true;
    }
    std::string_view text;
    if (value.get_string().get(text) == ns::kJSONSuccess) {
        out.assign(text);
        return true;
    }
    auto read = stringOf(value);
    if (!read) return false;
    out = std::move(*read);
    return true;
}

// A member's key: where it stands in the text when it holds no escape, as nearly every key
// does, rather than copied out. The reader has found the quote that closes it.
// `escaped` tells whether it held an escape.
template <class Field>
bool keyOf(Field& field, std::string_view& key, bool* escaped = nullptr) {
    ns::ondemand::raw_json_string raw;
    if (field.key().get(raw)) return false;
    const char* const start = raw.raw();
    const char* end = start;
    while (*end != '"' && *end != '\\') ++end;
    if (escaped) *escaped = *end == '\\';
    if (*end == '\\') return !field.unescaped_key().get(key);
    key = std::string_view(start, static_cast<size_t>(end - start));
    return true;
}

// Reads the object's members in order, handing each to `member` with its key; false when the
// text cannot be read. A key that comes twice is handed twice: the last one counts, as it does
// among values.
template <class Member>
bool readMembers(ns::ondemand::object& object, Member&& member) {
    for (auto field : object) {
        std::string_view key;
        ns::ondemand::value value;
        if (!keyOf(field, key) || field.value().get(value)) return false;
        if (!member(key, value)) return false;
    }
    return true;
}

// "dbname" of a "dbargs" value, when it is an object holding a string there.
bool readDatabaseName(ns::ondemand::value& dbargs, std::optional<std::string>& name) {
    name.reset();
    ns::ondemand::object members;
    if (dbargs.get_object().get(members)) return true;
    return readMembers(members, [&](std::string_view key, ns::ondemand::value& value) {
        if (key == "dbname") name = stringOf(value);
        return true;
    });
}

// The text of an array value into `text`, or nothing for a value of another kind; false when
// the text cannot be read.
bool readArrayText(ns::ondemand::value& value, std::optional<std::string_view>& text) {
    text.reset();
    Type type;
    if (value.type().get(type)) return false;
    if (type != Type::array) return true;
    auto read = ns::json::rawText(value);
    if (!read) return false;
    text = *read;
    return true;
}

// The request's database name and the text of its statements (an array), read in one pass.
struct BatchRequest {
    std::optional<std::string> name;
    std::optional<std::string_view> executes;
};

bool readBatchRequest(ns::ondemand::object& request, BatchRequest& read) {
    return readMembers(request, [&](std::string_view key, ns::ondemand::value& value) {
        if (key == "dbargs") return readDatabaseName(value, read.name);
        if (key == "executes") return readArrayText(value, read.executes);
        return true;
    });
}

// Text as the page's script writes it, read by hand where the reader's pass over the whole text
// would cost more than what is read: structure, white space and plain strings.
class PlainText {
public:
    explicit PlainText(std::string_view text) : text_(text) {}

    // Takes `c` after white space.
    bool take(char c) {
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    // Takes a string after white space that holds no escape and no control character and is
    // UTF-8: its contents as they stand in the text.
    bool plainString(std::string_view& contents) {
        if (!take('"')) return false;
        const size_t start = at_;
        for (; at_ < text_.size() && text_[at_] != '"'; ++at_) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c < 0x20 || c == '\\') return false;
        }
        if (at_ >= text_.size()) return false;
        contents = text_.substr(start, at_++ - start);
        return ns::utf8::isValid(contents);
    }
    // The rest of the text from its next byte that is no white space.
    std::string_view rest() {
        skipSpace();
        return text_.substr(at_);
    }
    void advance(size_t bytes) { at_ += bytes; }
    bool atEnd() {
        skipSpace();
        return at_ == text_.size();
    }

private:
    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

// A "dbargs" object of plain strings, by hand: its last "dbname" into `name`.
bool readDatabaseArgsByHand(PlainText& in, std::optional<std::string>& name) {
    name.reset();
    if (!in.take('{')) return false;
    if (in.take('}')) return true;
    do {
        std::string_view key, value;
        if (!in.plainString(key) || !in.take(':') || !in.plainString(value)) return false;
        if (key == "dbname") name = std::string(value);
    } while (in.take(','));
    return in.take('}');
}

// The request as the page's script writes it, read by hand: the arguments hold one object, and
// its members are "dbargs", an object of plain strings, and "executes", an array (the last of
// each counting). The statements are only delimited here, by their brackets; their own reader
// checks them. False, for the reader to read the text, when it is written any other way.
bool readBatchRequestByHand(std::string_view text, BatchRequest& read) {
    PlainText in(text);
    if (!in.take('[') || !in.take('{')) return false;
    if (!in.take('}')) {
        do {
            std::string_view key;
            if (!in.plainString(key) || !in.take(':')) return false;
            if (key == "dbargs") {
                if (!readDatabaseArgsByHand(in, read.name)) return false;
            } else if (key == "executes") {
                const std::string_view rest = in.rest();
                if (rest.empty() || rest.front() != '[') return false;
                const auto extent =
                    ns::json::containerExtent(rest, std::numeric_limits<size_t>::max());
                if (!extent.length) return false;
                read.executes = rest.substr(0, *extent.length);
                in.advance(*extent.length);
            } else {
                return false;
            }
        } while (in.take(','));
        if (!in.take('}')) return false;
    }
    return in.take(']') && in.atEnd();
}

// "dbargs"."dbname" when the arguments' text begins as the page's script writes it.
std::optional<std::string> leadingDatabaseName(std::string_view text) {
    PlainText in(text);
    std::string_view key;
    std::optional<std::string> name;
    if (!in.take('[') || !in.take('{') || !in.plainString(key) || key != "dbargs" ||
        !in.take(':') || !readDatabaseArgsByHand(in, name)) {
        return std::nullopt;
    }
    return name;
}

// One statement {"sql", "params"}: its text, and the text of its parameters (an array).
struct StatementText {
    std::optional<std::string> sql;
    std::optional<std::string_view> params;
};

bool readStatement(ns::ondemand::object& members, StatementText& read) {
    return readMembers(members, [&](std::string_view key, ns::ondemand::value& value) {
        if (key == "sql") read.sql = stringOf(value);
        if (key == "params") return readArrayText(value, read.params);
        return true;
    });
}

// Whether a statement object must be read in order to its end: it names "sql" or "params"
// more than once (the last of each counts), or writes a key with an escape, which a look-up
// by name would not find. Reads its keys only.
bool readsInOrder(ns::ondemand::object& members, bool& inOrder) {
    int sql = 0, params = 0;
    bool escapedKey = false;
    for (auto field : members) {
        std::string_view key;
        bool escaped = false;
        if (!keyOf(field, key, &escaped)) return false;
        sql += key == "sql";
        params += key == "params";
        escapedKey |= escaped;
    }
    inOrder = sql > 1 || params > 1 || escapedKey;
    return true;
}

// Binds the parameters as they are read: a string in place, from the call's text or the
// reader's own buffer, both of which stay until the reading ends; what the reader cannot hold
// as it is (a lone surrogate) in `kept`, where it stays put until the statement has run. What
// bindStatement does with each kind of value, without building the values; `bound` counts the
// parameters bound.
int bindFromText(sqlite3_stmt* statement, ns::ondemand::array& elements,
                 std::deque<std::string>& kept, size_t* bound = nullptr) {
    size_t i = 0;
    for (auto element : elements) {
        if (bound) *bound = i;
        Type type;
        if (element.error()) return SQLITE_MISUSE;
        ns::ondemand::value& param = element.value_unsafe();
        if (param.type().get(type)) return SQLITE_MISUSE;
        const int index = parameterIndex(i++);
        int rc = SQLITE_OK;
        switch (type) {
            case Type::null:
                rc = sqlite3_bind_null(statement, index);
                break;
            case Type::boolean: {
                bool b = false;
                if (param.get_bool().get(b)) return SQLITE_MISUSE;
                rc = sqlite3_bind_double(statement, index, b ? 1.0 : 0.0);
                break;
            }
            case Type::number: {
                // Bound as bindStatement binds the number's value, which is not built.
                using Kind = ns::json::Number::Kind;
                const auto number = ns::json::numberOf(param);
                if (!number) return SQLITE_MISUSE;
                if (number->kind == Kind::Integer) {
                    rc = sqlite3_bind_int64(statement, index, number->integer);
                } else {
                    rc = sqlite3_bind_double(statement, index,
                                             number->kind == Kind::Unsigned
                                                 ? static_cast<double>(number->unsignedInteger)
                                                 : number->real);
                }
                break;
            }
            case Type::string: {
                // Most strings hold no escape, and are bound where they stand in the text.
                std::string_view text;
                if (const auto inPlace = ns::json::unescapedString(param)) {
                    text = *inPlace;
                } else if (param.get_string().get(text)) {
                    auto repaired = ns::json::string(param, true);
                    if (!repaired) return SQLITE_MISUSE;
                    text = kept.emplace_back(std::move(repaired).value());
                }
                rc = sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC,
                                         SQLITE_UTF8);
                break;
            }
            default: {
                // An array or object binds as its description: read whole.
                auto text = ns::json::rawText(param);
                auto value =
                    text ? ns::JSONSerialization::read(*text, {.loneSurrogatesReplaced = true})
                         : ns::Result<ns::Value>(text.error());
                if (!value) return SQLITE_MISUSE;
                rc = SQLitePlugin::bindStatement(statement, *value, index);
                break;
            }
        }
        if (rc != SQLITE_OK) return rc;
    }
    if (bound) *bound = i;
    return SQLITE_OK;
}

}  // namespace

std::optional<std::string> SQLitePlugin::databaseNameOf(const HYBInvokedUrlCommand& command) {
    if (const auto& text = command.argumentsJSON()) {
        if (auto name = leadingDatabaseName(text->text())) return name;
        ns::JSONReader reader(*text);
        std::optional<ns::ondemand::object> request;
        BatchRequest read;
        if (requestOf(reader, request) && (!request || readBatchRequest(*request, read))) {
            return read.name;
        }
    }
    const std::string* name = firstArgument(command)["dbargs"]["dbname"].string();
    return name ? std::optional<std::string>(*name) : std::nullopt;
}

bool SQLitePlugin::executeSqlBatchFromText(const ns::JSONSlice& text, BatchReplies& replies) {
    BatchRequest batch;
    if (!readBatchRequestByHand(text.text(), batch)) {
        batch = BatchRequest();
        ns::JSONReader reader(text);
        std::optional<ns::ondemand::object> request;
        if (!requestOf(reader, request) || (request && !readBatchRequest(*request, batch))) {
            return false;
        }
    }
    if (batch.executes) {
        // A first estimate that spares most of the growing: the answer to a statement that
        // returns no rows is about as long as the statement's own text.
        replies.text.reserve(batch.executes->size());
        ns::JSONReader statements(ns::JSONSlice(text.owner(), *batch.executes));
        ns::ondemand::array elements;
        if (statements.document().get_array().get(elements)) return false;
        std::optional<Outcome> failure;
        std::shared_ptr<SQLiteConnection> connection;
        std::optional<SQLiteConnection::Use> use;
        RepeatedStatement current;
        size_t count = 0;
        // Strings bound in place: a deque, whose elements stay where they are as it grows.
        std::deque<std::string> kept;
        std::string sql;  // the text of a statement read otherwise
        for (auto element : elements) {
            ns::ondemand::value value;
            Type type;
            if (element.get(value) || value.type().get(type)) {
                // Text that breaks off where it should not: what ran stays answered.
                if (count == 0) return false;
                break;
            }
            if (count++ == 0) {
                // Looked up at the first statement, as for values: an empty batch needs no
                // database. The whole batch holds the database, so no other interleaves.
                if (!batch.name) {
                    failure = Outcome::failed(kNoPathMessage);
                } else if (!(connection = connectionNamed(*batch.name))) {
                    failure = Outcome::failed(kNoSuchDatabaseMessage);
                } else {
                    use.emplace(connection->use());
                    if (!use->handle()) failure = Outcome::failed(kNoSuchDatabaseMessage);
                }
            }
            if (failure) {
                writeBatchEntry(replies, *failure);
                continue;
            }
            if (type != Type::object) {
                writeBatchEntry(replies, Outcome::failed(kNoSqlMessage));
                continue;
            }
            kept.clear();
            ns::ondemand::object members;
            if (value.get_object().get(members)) {
                if (count == 1) return false;
                break;
            }
            bool unreadable = false;
            if (auto outcome = runInOnePass(*use, members, current, kept, unreadable,
                                            replies.nextEntryPieces())) {
                writeBatchEntry(replies, *outcome);
                continue;
            }
            // Read otherwise, through the connection's kept statements.
            current.giveBack(*use);
            kept.clear();
            bool inOrder = false;
            if (unreadable || members.reset().error() || !readsInOrder(members, inOrder) ||
                members.reset().error()) {
                if (count == 1) return false;
                break;
            }
            if (inOrder) {
                // Read in order to the end, the last of each counting; the parameters then
                // read from their own text.
                StatementText statement;
                if (!readStatement(members, statement)) break;
                if (!statement.sql) {
                    writeBatchEntry(replies, Outcome::failed(kNoSqlMessage));
                    continue;
                }
                std::optional<ns::JSONReader> params;
                if (statement.params)
                    params.emplace(ns::JSONSlice(text.owner(), *statement.params));
                ns::ondemand::array elements;
                const bool hasParams = params && !params->document().get_array().get(elements);
                writeBatchEntry(replies, runSql(
                                             *use, *statement.sql,
                                             [&](sqlite3_stmt* compiled) {
                                                 return hasParams
                                                            ? bindFromText(compiled, elements, kept)
                                                            : SQLITE_OK;
                                             },
                                             replies.nextEntryPieces()));
                continue;
            }
            // Each key at most once: found where it stands, and the parameters bound straight
            // from the reader's buffer, which lives until the statement has run.
            ns::ondemand::value sqlValue;
            if (members.find_field_unordered("sql").get(sqlValue) || !readString(sqlValue, sql)) {
                writeBatchEntry(replies, Outcome::failed(kNoSqlMessage));
                continue;
            }
            ns::ondemand::array params;
            const bool hasParams = !members.find_field_unordered("params").get_array().get(params);
            writeBatchEntry(replies, runSql(
                                         *use, sql,
                                         [&](sqlite3_stmt* compiled) {
                                             return hasParams ? bindFromText(compiled, params, kept)
                                                              : SQLITE_OK;
                                         },
                                         replies.nextEntryPieces()));
        }
        if (use) current.giveBack(*use);
    }
    return true;
}

void SQLitePlugin::RepeatedStatement::giveBack(SQLiteConnection::Use& use) {
    if (statement.get()) use.keep(sql, std::move(statement));
    stale = false;
}

void SQLitePlugin::RepeatedStatement::clearPast(size_t bound) {
    if (!stale) return;
    const auto count = static_cast<size_t>(sqlite3_bind_parameter_count(statement.get()));
    for (size_t i = bound; i < count; ++i) {
        sqlite3_bind_null(statement.get(), static_cast<int>(i + 1));
    }
}

void SQLitePlugin::RepeatedStatement::ranWith(const std::deque<std::string>& kept) {
    if (!statement.get()) return;
    if (!kept.empty()) {
        // Strings bound from `kept` go before the next run.
        statement.rewind();
        stale = false;
        return;
    }
    // Its strings stand in the call's text, which outlives the batch: the next run binds its
    // own parameters over them and clears the rest (clearPast).
    sqlite3_reset(statement.get());
    stale = true;
}

template <class Members>
std::optional<SQLitePlugin::Outcome> SQLitePlugin::runInOnePass(
    SQLiteConnection::Use& use, Members& members, RepeatedStatement& current,
    std::deque<std::string>& kept, bool& unreadable, RowPieces* pieces) {
    sqlite3* db = use.handle();
    // What answers the statement once its members are read, if anything went wrong before it
    // could run; taken at once, while SQLite's last error is still the statement's own.
    std::optional<Outcome> failure;
    // Makes `current` the statement of the text that `value` holds: the one it has when the
    // text is the same, else compiled (or taken from the connection's kept ones) after it gives
    // its own back. False when the value is no string.
    const auto takeText = [&](ns::ondemand::value& value) {
        if (const auto inPlace = ns::json::unescapedString(value)) {
            if (current.statement.get() && *inPlace == current.sql) return true;
            current.giveBack(use);
            current.sql.assign(*inPlace);
        } else {
            current.giveBack(use);
            if (!readString(value, current.sql)) return false;
        }
        failure = compile(use, current.sql, current.statement);
        // A text that cannot run goes back with its statement, if it has one.
        if (failure) current.giveBack(use);
        return true;
    };
    bool first = true, compiling = false, paramsRead = false, writtenOtherwise = false;
    // How many parameters this run bound.
    size_t bound = 0;
    for (auto field : members) {
        std::string_view key;
        ns::ondemand::value value;
        if (!keyOf(field, key) || field.value().get(value)) {
            unreadable = true;
            break;
        }
        if (first) {
            first = false;
            if (key != "sql" || !takeText(value)) {
                writtenOtherwise = true;
                break;
            }
            compiling = true;
            continue;
        }
        if (key == "sql" || (key == "params" && paramsRead)) {
            writtenOtherwise = true;
            break;
        }
        if (key != "params") continue;
        paramsRead = true;
        // Parameters that are no list bind nothing. Used where the reader put them: copied
        // out, they would be read back before the copy's parts had landed.
        if (failure) continue;
        auto params = value.get_array();
        if (params.error()) continue;
        if (bindFromText(current.statement.get(), params.value_unsafe(), kept, &bound) !=
            SQLITE_OK) {
            failure = sqliteFailure(db);
        }
    }
    // Its text not read: nothing compiled, nothing to rewind.
    if (!compiling) return std::nullopt;
    std::optional<Outcome> outcome;
    if (!unreadable && !writtenOtherwise) {
        if (!failure) current.clearPast(bound);
        outcome =
            failure ? std::move(*failure) : stepStatement(db, current.statement.get(), pieces);
    }
    current.ranWith(kept);
    return outcome;
}

std::shared_ptr<HYBPluginResult> SQLitePlugin::executeSqlWithDict(const ns::Value& statement,
                                                                  const ns::Value& dbargs,
                                                                  RowPieces* pieces) {
    std::optional<Outcome> failure;
    auto connection = connectionForArgs(dbargs, failure);
    Outcome outcome = failure ? *failure : Outcome::failed(kNoSuchDatabaseMessage);
    if (connection) {
        auto use = connection->use();
        if (use.handle()) outcome = runStatement(use, statement, pieces);
    }
    if (!outcome.ok) return std::make_shared<HYBPluginResult>(HYBResultStatusError, outcome.error);
    return HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK,
                                                          resultText(std::move(outcome)));
}

SQLitePlugin::Outcome SQLitePlugin::runStatement(SQLiteConnection::Use& use,
                                                 const ns::Value& statement, RowPieces* pieces) {
    const std::string* sql = statement["sql"].string();
    if (!sql) return Outcome::failed(kNoSqlMessage);
    const ns::Value& params = statement["params"];
    return runSql(
        use, *sql, [&params](sqlite3_stmt* compiled) { return bindValues(compiled, params); },
        pieces);
}

std::optional<SQLitePlugin::Outcome> SQLitePlugin::compile(SQLiteConnection::Use& use,
                                                           const std::string& sql,
                                                           SQLiteStatement& compiled) {
    sqlite3* db = use.handle();
    // Text with no statement in it compiles to nothing, which cannot run either.
    if (use.prepare(sql, compiled) != SQLITE_OK || !compiled.get()) return sqliteFailure(db);
    // Running only the first statement and answering OK would hide that the rest never ran.
    if (compiled.hasTextAfterStatement(db, sql)) {
        return Outcome::failed(
            ns::Value::dict({{"code", kSyntaxErrorCode}, {"message", kMoreThanOneStatement}}));
    }
    return std::nullopt;
}

SQLitePlugin::Outcome SQLitePlugin::runSql(SQLiteConnection::Use& use, const std::string& sql,
                                           const Binder& bind, RowPieces* pieces) {
    sqlite3* db = use.handle();
    SQLiteStatement compiled;
    if (auto failure = compile(use, sql, compiled)) return std::move(*failure);
    Outcome outcome = bind(compiled.get()) == SQLITE_OK ? stepStatement(db, compiled.get(), pieces)
                                                        : sqliteFailure(db);
    // Resets the statement and clears its bindings, which may point into the parameters.
    use.keep(sql, std::move(compiled));
    return outcome;
}

int SQLitePlugin::bindValues(sqlite3_stmt* statement, const ns::Value& params) {
    const ns::Array* values = params.array();
    if (!values) return SQLITE_OK;
    for (size_t i = 0; i < values->size(); ++i) {
        if (const int rc = bindStatement(statement, (*values)[i], parameterIndex(i));
            rc != SQLITE_OK) {
            return rc;
        }
    }
    return SQLITE_OK;
}

bool SQLitePlugin::RowPieces::due(size_t bytes) {
    if (bytes < nextLook) return false;
    if (bytes >= most || awaited()) return true;
    nextLook = std::min(bytes + kRowPieceLookBytes, most);
    return false;
}

bool SQLitePlugin::RowPieces::hand(std::string run) {
    // The statement steps no further until the page has room: the rows wait in the database
    // rather than in the host's memory.
    if (!waitForRoom()) return false;
    send(sent++, std::move(run));
    nextLook = fewest;
    return true;
}

SQLitePlugin::Outcome SQLitePlugin::stepStatement(sqlite3* db, sqlite3_stmt* statement,
                                                  RowPieces* pieces) {
    const int64_t changesBefore = sqlite3_total_changes64(db);
    Outcome outcome;
    // Every row has the same columns; their names are read at the first row, which most
    // statements of a large batch never have.
    RowKeys keys;
    bool anyRow = false;
    // Whether outcome.rows holds an open array (rows not handed on yet).
    bool inRun = false;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (!anyRow) {
            anyRow = true;
            keys = rowKeys(statement);
        }
        if (!inRun) {
            inRun = true;
            outcome.rows = "[";
        } else {
            outcome.rows += ',';
        }
        writeRow(outcome.rows, statement, keys);
        if (pieces && pieces->due(outcome.rows.size())) {
            outcome.rows += ']';
            const size_t size = outcome.rows.size();
            // No page takes the rest: the statement ends here, as one interrupted, and lets go
            // of its database.
            if (!pieces->hand(std::exchange(outcome.rows, std::string()))) return interrupted();
            // Room for a next run like this one: growing into it would copy it.
            outcome.rows.reserve(size + size / 8);
            inRun = false;
        }
    }
    if (rc != SQLITE_DONE) return sqliteFailure(db);
    if (inRun) {
        outcome.rows += ']';
    } else if (outcome.rows.empty()) {
        outcome.rows = "[]";  // every row went ahead
    }
    outcome.rowsAffected = static_cast<int32_t>(sqlite3_total_changes64(db) - changesBefore);
    if (outcome.rowsAffected > 0) {
        const int64_t insertId = sqlite3_last_insert_rowid(db);
        if (insertId != 0) outcome.insertId = insertId;
    }
    return outcome;
}

SQLitePlugin::RowKeys SQLitePlugin::rowKeys(sqlite3_stmt* statement) {
    RowKeys keys;
    const int columns = sqlite3_column_count(statement);
    keys.reserve(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        // A column SQLite cannot name has no member.
        if (const char* name = sqlite3_column_name(statement, i)) {
            keys.push_back({ns::utf8::repaired(name), i, {}});
        }
    }
    // A name's later columns come first: the last of them with a value is the member.
    std::sort(keys.begin(), keys.end(), [](const RowKey& a, const RowKey& b) {
        return a.name != b.name ? a.name < b.name : a.column > b.column;
    });
    for (RowKey& key : keys) {
        ns::json::appendString(key.member, key.name);
        key.member += ':';
    }
    return keys;
}

void SQLitePlugin::writeRow(std::string& out, sqlite3_stmt* statement, const RowKeys& keys) {
    out += '{';
    bool first = true;
    for (size_t i = 0; i < keys.size();) {
        const std::string& name = keys[i].name;
        size_t next = i;
        while (next < keys.size() && keys[next].name == name) ++next;
        for (size_t k = i; k < next; ++k) {
            if (appendColumn(out, statement, keys[k].column, keys[k].member, first)) {
                first = false;
                break;
            }
        }
        i = next;
    }
    out += '}';
}

int SQLitePlugin::bindStatement(sqlite3_stmt* statement, const ns::Value& value, int index) {
    switch (value.type()) {
        case ns::Value::Type::Null:
            return sqlite3_bind_null(statement, index);
        case ns::Value::Type::Integer:
            return sqlite3_bind_int64(statement, index, *value.int64());
        case ns::Value::Type::Bool:
            return sqlite3_bind_double(statement, index, *value.boolean() ? 1.0 : 0.0);
        case ns::Value::Type::Unsigned:
        case ns::Value::Type::Double:
            return sqlite3_bind_double(statement, index, *value.number());
        case ns::Value::Type::String: {
            // Bound in place: the caller keeps the value until the statement is reset.
            const std::string& text = *value.string();
            return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC,
                                       SQLITE_UTF8);
        }
        default: {
            const std::string text = value.description();
            return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
        }
    }
}

ns::Value SQLitePlugin::captureSQLiteErrorFromDb(sqlite3* db) {
    return ns::Value::dict({{"code", mapSQLiteErrorCode(sqlite3_errcode(db))},
                            {"message", ns::utf8::repaired(sqlite3_errmsg(db))}});
}

int SQLitePlugin::mapSQLiteErrorCode(int sqliteCode) {
    switch (sqliteCode) {
        case SQLITE_ERROR:
            return kSyntaxErrorCode;
        case SQLITE_FULL:
            return kQuotaErrorCode;
        case SQLITE_CONSTRAINT:
            return kConstraintErrorCode;
        default:
            return kUnknownErrorCode;
    }
}

SQLitePlugin::Outcome SQLitePlugin::sqliteFailure(sqlite3* db) {
    return Outcome::failed(captureSQLiteErrorFromDb(db));
}

SQLitePlugin::Outcome SQLitePlugin::interrupted() {
    return Outcome::failed(ns::Value::dict({{"code", mapSQLiteErrorCode(SQLITE_INTERRUPT)},
                                            {"message", sqlite3_errstr(SQLITE_INTERRUPT)}}));
}

std::string SQLitePlugin::resultText(Outcome&& outcome) {
    std::string head = R"({)";
    if (outcome.insertId) {
        head += R"("insertId":)";
        ns::json::appendInt64(head, *outcome.insertId);
        head += ',';
    }
    head += R"("rows":)";
    std::string text = std::move(outcome.rows);
    text.insert(0, head);
    text += R"(,"rowsAffected":)";
    ns::json::appendInt64(text, outcome.rowsAffected);
    text += '}';
    return text;
}

SQLitePlugin::RowPieces* SQLitePlugin::BatchReplies::nextEntryPieces() {
    if (!pieces || pieces->sent > 0) return nullptr;
    pieces->member = std::to_string(entries) + ".result.rows";
    return pieces;
}

void SQLitePlugin::writeBatchEntry(BatchReplies& out, const Outcome& outcome) {
    if (out.pieces && out.pieces->sent > 0 && !out.piecedEntry) out.piecedEntry = out.entries;
    // Rows that went ahead of a statement that then failed have no rows of its entry to join:
    // the answer goes whole instead.
    if (!outcome.ok && out.piecedEntry == out.entries) out.pieces->voided = true;
    ++out.entries;
    appendBatchEntry(out, outcome);
}

void SQLitePlugin::appendBatchEntry(BatchReplies& out, const Outcome& outcome) {
    const bool first = out.text.size() <= 1;
    if (outcome.ok) {
        // What the writer would write, member by member, the rows as they are. A statement
        // without rows, as most of a large batch are, is written in one piece.
        constexpr size_t kShortRows = 64;
        char entry[192];
        char* const end = entry + sizeof entry;
        char* at = append(entry, first ? R"({"result":{)" : R"(,{"result":{)");
        if (outcome.insertId) {
            at = append(at, R"("insertId":)");
            at = std::to_chars(at, end, *outcome.insertId).ptr;
            at = append(at, ",");
        }
        at = append(at, R"("rows":)");
        if (outcome.rows.size() > kShortRows) {
            out.text.append(entry, static_cast<size_t>(at - entry));
            out.text += outcome.rows;
            at = entry;
        } else {
            at = append(at, outcome.rows);
        }
        at = append(at, R"(,"rowsAffected":)");
        at = std::to_chars(at, end, outcome.rowsAffected).ptr;
        at = append(at, R"(},"type":"success"})");
        out.text.append(entry, static_cast<size_t>(at - entry));
        return;
    }
    if (!first) out.text += ',';
    ns::JSONWriter entry;
    entry.startObject();
    entry.key("error");
    entry.value(outcome.error);
    entry.key("result");
    entry.value(outcome.error);
    entry.key("type");
    entry.string("error");
    entry.endObject();
    auto text = entry.take();
    if (text) {
        out.text += *text;
    } else if (!out.error) {
        out.error = text.error();
    }
}

std::shared_ptr<HYBPluginResult> SQLitePlugin::batchResult(BatchReplies&& replies) {
    if (replies.error) {
        ns::nslog("NSArray JSONString error: %@", *replies.error);
        return HYBPluginResult::resultWithStatus(HYBResultStatusOK);
    }
    replies.text += ']';
    return HYBPluginResult::resultWithStatusMessageAsJSON(HYBResultStatusOK,
                                                          std::move(replies.text));
}

// --- The table of open databases ------------------------------------------------------------

bool SQLitePlugin::isOpen(std::string_view name) const {
    return connectionNamed(name) != nullptr;
}

std::shared_ptr<SQLiteConnection> SQLitePlugin::connectionNamed(std::string_view name) const {
    dispatch::Lock table(tableMutex_);
    const auto entry = openDBs_.find(name);
    return entry == openDBs_.end() ? nullptr : entry->second;
}

std::shared_ptr<SQLiteConnection> SQLitePlugin::takeConnectionNamed(std::string_view name) {
    dispatch::Lock table(tableMutex_);
    const auto entry = openDBs_.find(name);
    if (entry == openDBs_.end()) return nullptr;
    auto connection = std::move(entry->second);
    openDBs_.erase(entry);
    return connection;
}

std::shared_ptr<SQLiteConnection> SQLitePlugin::connectionForArgs(
    const ns::Value& dbargs, std::optional<Outcome>& failure) const {
    const std::string* name = dbargs["dbname"].string();
    if (!name) {
        failure = Outcome::failed(kNoPathMessage);
        return nullptr;
    }
    auto connection = connectionNamed(*name);
    if (!connection) failure = Outcome::failed(kNoSuchDatabaseMessage);
    return connection;
}

// --- Plumbing -------------------------------------------------------------------------------

void SQLitePlugin::send(std::shared_ptr<HYBPluginResult> result,
                        const HYBInvokedUrlCommand& command) {
    sendToPage(std::move(result), command.callbackId());
}

void SQLitePlugin::onDatabaseQueue(void (SQLitePlugin::*work)(const HYBInvokedUrlCommand&),
                                   const HYBInvokedUrlCommand& command) {
    // Read on the main thread without reading the rest: a batch's statements can be megabytes.
    const std::optional<std::string> name = databaseNameOf(command);
    auto connection = name ? connectionNamed(*name) : nullptr;
    auto delegate = commandDelegate();
    // Without a database the work only answers its error, in any order.
    if (!connection || !delegate) {
        inBackground(work, command);
        return;
    }
    auto self = sharedSelf<SQLitePlugin>();
    const bool idle = connection->schedule([self, work, command, page = delegate->currentPage()] {
        runForPage(page, [&] { ((*self).*work)(command); });
    });
    if (!idle) return;
    delegate->runInBackground([connection] {
        while (auto next = connection->nextWork()) next();
    });
}

void SQLitePlugin::inBackground(void (SQLitePlugin::*work)(const HYBInvokedUrlCommand&),
                                const HYBInvokedUrlCommand& command) {
    auto delegate = commandDelegate();
    if (!delegate) return;
    auto self = sharedSelf<SQLitePlugin>();
    delegate->runInBackground([self, work, command, page = delegate->currentPage()] {
        runForPage(page, [&] { ((*self).*work)(command); });
    });
}
