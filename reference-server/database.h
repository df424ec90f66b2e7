#pragma once

#include "store.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace refserver {

class Statement;

// One SQLite connection in WAL mode with a busy time-out. Not shared between
// threads: each worker opens its own.
class Database
{
public:
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    Statement prepare(const char* sql);
    std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db); }
    int changes() const { return sqlite3_changes(m_db); }
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement; parameters bound by 1-based index.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(Statement&& other) noexcept : m_db(other.m_db), m_stmt(other.m_stmt)
    {
        other.m_stmt = nullptr;
    }
    Statement(const Statement&) = delete;

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t value);
    Statement& bindNull(int index);
    Statement& bind(int index, const std::optional<std::string>& text);

    // Steps once: true while a row is available.
    bool step();
    // Makes the statement ready to run again with new bindings.
    void reset();
    std::int64_t integer(int column) const;
    std::string text(int column) const; // empty for NULL
    bool isNull(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when left by an exception.
class WriteTransaction
{
public:
    explicit WriteTransaction(Database& db);
    ~WriteTransaction();
    void commit();

private:
    Database& m_db;
    bool m_done = false;
};

} // namespace refserver
