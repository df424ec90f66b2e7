#include "database.h"

namespace refserver {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what)
{
    throw DatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

} // namespace

Database::Database(const std::string& path)
{
    if (sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError("cannot open database " + path + ": " + message);
    }
    sqlite3_busy_timeout(m_db, 10'000);
    exec("PRAGMA journal_mode=WAL");
    // A commit the client was told about must survive a power loss.
    exec("PRAGMA synchronous=FULL");
    exec("PRAGMA foreign_keys=ON");
}

Database::~Database()
{
    sqlite3_close_v2(m_db);
}

void Database::exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw DatabaseError(std::string(sql) + ": " + message);
    }
}

Statement Database::prepare(const char* sql)
{
    return Statement(m_db, sql);
}

Statement::Statement(sqlite3* db, const char* sql) : m_db(db)
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        Fail(db, std::string("prepare ") + sql);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, std::string_view text)
{
    if (sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& text)
{
    return text ? bind(index, std::string_view(*text)) : bindNull(index);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail(m_db, "step");
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::text(int column) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return p ? std::string(p, std::size_t(sqlite3_column_bytes(m_stmt, column))) : std::string();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

WriteTransaction::WriteTransaction(Database& db) : m_db(db)
{
    m_db.exec("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction()
{
    if (!m_done)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::commit()
{
    m_db.exec("COMMIT");
    m_done = true;
}

} // namespace refserver
