#pragma once

#include "store.h"

#include <libpq-fe.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace refserver {

// A failure reported by PostgreSQL or libpq, with its SQLSTATE code when
// the server sent one.
class PostgresError : public DatabaseError
{
public:
    PostgresError(const std::string& what, std::string sqlstate)
        : DatabaseError(what), m_sqlstate(std::move(sqlstate))
    {}
    const std::string& sqlstate() const { return m_sqlstate; }
    // A serialization failure or a deadlock: the transaction may be run again.
    bool retryable() const { return m_sqlstate == "40001" || m_sqlstate == "40P01"; }

private:
    std::string m_sqlstate;
};

// The rows of one statement, all as text.
class PgResult
{
public:
    explicit PgResult(PGresult* result) : m_result(result, &PQclear) {}
    int rows() const { return PQntuples(m_result.get()); }
    std::string text(int row, int column) const;
    bool isNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column); }
    std::int64_t integer(int row, int column) const;
    // Rows an INSERT, UPDATE or DELETE touched.
    std::int64_t affected() const;

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> m_result;
};

// A statement parameter in text form; nullopt is SQL NULL.
using PgParam = std::optional<std::string>;

// One connection; not shared between threads. Statements run through
// run() are prepared once per connection, by name.
class PgConnection
{
public:
    explicit PgConnection(const std::string& uri);
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one or more statements without parameters or rows.
    void exec(const char* sql);
    // Runs the statement `sql`, prepared under `name` on first use.
    PgResult run(const char* name, const char* sql, const std::vector<PgParam>& params = {});
    // The connection is gone (the server restarted or the network failed).
    bool broken() const { return PQstatus(m_conn.get()) != CONNECTION_OK; }

private:
    std::unique_ptr<PGconn, void (*)(PGconn*)> m_conn;
    std::set<std::string, std::less<>> m_prepared;
};

// Checks a connection URI for what `--db` must not carry; empty when fine.
std::string PostgresAddressProblem(const std::string& uri);

} // namespace refserver
