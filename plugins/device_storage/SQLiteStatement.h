#pragma once

#include <cstddef>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// One compiled statement, finalized when the object goes. Move-only.
class SQLiteStatement {
public:
    SQLiteStatement() = default;
    ~SQLiteStatement();
    SQLiteStatement(SQLiteStatement&& other) noexcept;
    SQLiteStatement& operator=(SQLiteStatement&& other) noexcept;
    SQLiteStatement(const SQLiteStatement&) = delete;
    SQLiteStatement& operator=(const SQLiteStatement&) = delete;

    // Compiles the first statement of the text, which is read up to its first zero byte.
    // Returns SQLite's result code. Text holding only white space or comments compiles to no
    // statement (get() stays null) with success.
    int prepare(sqlite3* db, const std::string& sql);
    // Whether the text compiled last (`sql`, the same string) holds anything after its first
    // statement but white space, comments and semicolons: a second statement, or text that
    // does not compile.
    bool hasTextAfterStatement(sqlite3* db, const std::string& sql) const;

    sqlite3_stmt* get() const { return statement_; }
    // Resets the statement and clears its parameters (which may point into memory that goes
    // once it has run), ready to run again.
    void rewind();
    // Finalizes now; the object is then empty.
    void reset();

private:
    sqlite3_stmt* statement_ = nullptr;
    // Bytes of the text the first statement took.
    size_t consumed_ = 0;
};
